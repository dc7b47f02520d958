#include "bluezsignals.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QDebug>
#include <QHash>
#include <QSet>

namespace platform::bluez {

namespace {
const QString kBluez = QStringLiteral("org.bluez");
const QString kObjectManager = QStringLiteral("org.freedesktop.DBus.ObjectManager");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
} // namespace

BluezSignals::BluezSignals(std::function<void()> changed, std::function<void(const QString &)> owner,
                           QObject *parent)
    : QObject(parent),
      m_changed(std::move(changed)),
      m_watcher(new QDBusServiceWatcher(kBluez, QDBusConnection::systemBus(),
                                        QDBusServiceWatcher::WatchForOwnerChange, this))
{
    QDBusConnection bus = QDBusConnection::systemBus();
    bool subscribed = bus.connect(kBluez, QString(), kObjectManager, QStringLiteral("InterfacesAdded"), this,
                                  SLOT(interfacesChanged(QDBusMessage)));
    subscribed = bus.connect(kBluez, QString(), kObjectManager, QStringLiteral("InterfacesRemoved"), this,
                             SLOT(interfacesChanged(QDBusMessage))) && subscribed;
    subscribed = bus.connect(kBluez, QString(), kProperties, QStringLiteral("PropertiesChanged"), this,
                             SLOT(propertiesChanged(QDBusMessage))) && subscribed;
    if (!subscribed)
        qWarning() << "BlueZ: cannot follow BlueZ's changes (" << bus.lastError().message()
                   << "); they show at the next scan cycle";
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this, owner](const QString &, const QString &, const QString &newOwner) {
                owner(newOwner);
                m_changed();
            });
}

BluezSignals::~BluezSignals()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    bus.disconnect(kBluez, QString(), kObjectManager, QStringLiteral("InterfacesAdded"), this,
                   SLOT(interfacesChanged(QDBusMessage)));
    bus.disconnect(kBluez, QString(), kObjectManager, QStringLiteral("InterfacesRemoved"), this,
                   SLOT(interfacesChanged(QDBusMessage)));
    bus.disconnect(kBluez, QString(), kProperties, QStringLiteral("PropertiesChanged"), this,
                   SLOT(propertiesChanged(QDBusMessage)));
}

bool BluezSignals::matters(const QString &interface, const QStringList &properties)
{
    static const QHash<QString, QSet<QString>> read{
        {QStringLiteral("org.bluez.Device1"),
         {QStringLiteral("Connected"), QStringLiteral("Paired"), QStringLiteral("UUIDs"), QStringLiteral("Alias")}},
        {QStringLiteral("org.bluez.Adapter1"), {QStringLiteral("Powered"), QStringLiteral("UUIDs")}},
        {QStringLiteral("org.bluez.Battery1"), {QStringLiteral("Percentage")}},
    };
    const auto wanted = read.constFind(interface);
    if (wanted == read.constEnd())
        return false;
    for (const QString &property : properties)
        if (wanted->contains(property))
            return true;
    return false;
}

void BluezSignals::interfacesChanged(const QDBusMessage &)
{
    m_changed();
}

void BluezSignals::propertiesChanged(const QDBusMessage &message)
{
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() < 3)
        return;
    QStringList properties = arguments.at(2).toStringList(); // invalidated
    if (arguments.at(1).userType() == qMetaTypeId<QDBusArgument>()) {
        const QDBusArgument changed = arguments.at(1).value<QDBusArgument>();
        changed.beginMap();
        while (!changed.atEnd()) {
            QString key;
            QDBusVariant value;
            changed.beginMapEntry();
            changed >> key >> value;
            changed.endMapEntry();
            properties << key;
        }
        changed.endMap();
    } else {
        properties << arguments.at(1).toMap().keys();
    }
    if (matters(arguments.at(0).toString(), properties))
        m_changed();
}

} // namespace platform::bluez
