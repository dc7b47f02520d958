#include "batteryprovider.h"
#include "bluezcall.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDebug>

namespace platform::bluez {

const QString BatteryProvider::kRootPath = QStringLiteral("/org/kestrolune/battery");
const QString BatteryProvider::kSource = QStringLiteral("Kestrolune (HFP AT+BIEV)");

namespace {

const QString kProviderInterface = QStringLiteral("org.bluez.BatteryProvider1");
const QString kObjectManager = QStringLiteral("org.freedesktop.DBus.ObjectManager");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

using Interfaces = QMap<QString, QVariantMap>;
using ManagedObjects = QMap<QDBusObjectPath, Interfaces>;

void send(const QDBusMessage &message)
{
    QDBusConnection::systemBus().send(message);
}

} // namespace

} // namespace platform::bluez

Q_DECLARE_METATYPE(platform::bluez::Interfaces)
Q_DECLARE_METATYPE(platform::bluez::ManagedObjects)

namespace platform::bluez {

BatteryProvider::BatteryProvider()
{
    qDBusRegisterMetaType<Interfaces>();
    qDBusRegisterMetaType<ManagedObjects>();
    if (!QDBusConnection::systemBus().registerVirtualObject(kRootPath, this, QDBusConnection::SubPath))
        qWarning() << "BlueZ: cannot serve the battery provider:" << QDBusConnection::systemBus().lastError().message();
}

BatteryProvider::~BatteryProvider()
{
    QDBusConnection::systemBus().unregisterObject(kRootPath, QDBusConnection::UnregisterTree);
}

QString BatteryProvider::objectPathFor(const QString &devicePath) const
{
    // "/org/bluez/hci0/dev_AA_BB" -> root + "/org_bluez_hci0_dev_AA_BB"
    QString tail = devicePath.mid(1);
    tail.replace('/', '_');
    return kRootPath + '/' + tail;
}

QVariantMap BatteryProvider::propertiesOf(const QString &devicePath, int level) const
{
    return {{QStringLiteral("Device"), QVariant::fromValue(QDBusObjectPath(devicePath))},
            {QStringLiteral("Percentage"), QVariant::fromValue(uchar(level))},
            {QStringLiteral("Source"), kSource}};
}

void BatteryProvider::provide(const QString &devicePath, int level)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto it = m_levels.constFind(devicePath);
    const QString path = objectPathFor(devicePath);
    if (level < 0) {
        if (it == m_levels.cend())
            return;
        m_levels.remove(devicePath);
        QDBusMessage removed = QDBusMessage::createSignal(kRootPath, kObjectManager, QStringLiteral("InterfacesRemoved"));
        removed << QVariant::fromValue(QDBusObjectPath(path)) << QStringList{kProviderInterface};
        send(removed);
        return;
    }
    const bool isNew = it == m_levels.cend();
    if (!isNew && *it == level)
        return;
    m_levels.insert(devicePath, level);
    if (isNew) {
        QDBusMessage added = QDBusMessage::createSignal(kRootPath, kObjectManager, QStringLiteral("InterfacesAdded"));
        added << QVariant::fromValue(QDBusObjectPath(path))
              << QVariant::fromValue(Interfaces{{kProviderInterface, propertiesOf(devicePath, level)}});
        send(added);
        return;
    }
    QDBusMessage changed = QDBusMessage::createSignal(path, kProperties, QStringLiteral("PropertiesChanged"));
    changed << kProviderInterface << QVariantMap{{QStringLiteral("Percentage"), QVariant::fromValue(uchar(level))}}
            << QStringList();
    send(changed);
}

void BatteryProvider::sync(const QString &bluezName, const QStringList &managers)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (bluezName != m_bluezName) {
        m_bluezName = bluezName;
        m_registered.clear();
    }
    const int hasManager = managers.isEmpty() ? 0 : 1;
    if (hasManager != m_hadManager && !bluezName.isEmpty()) {
        if (!hasManager)
            qInfo() << "BlueZ: no battery provider manager (BlueZ before 5.56, or without bluetoothd's "
                       "experimental features): the desktop does not show the levels Kestrolune reads";
        else if (m_hadManager == 0)
            qInfo() << "BlueZ: a battery provider manager is there again";
        m_hadManager = hasManager;
    }
    for (const QString &adapter : managers) {
        if (m_registered.contains(adapter))
            continue;
        m_registered.insert(adapter);
        QDBusMessage call = bluezCall(adapter, QStringLiteral("org.bluez.BatteryProviderManager1"),
                                      QStringLiteral("RegisterBatteryProvider"));
        call << QVariant::fromValue(QDBusObjectPath(kRootPath));
        auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, adapter](QDBusPendingCallWatcher *w) {
            w->deleteLater();
            if (!w->isError()) {
                qInfo() << "BlueZ: battery provider registered with" << adapter;
                return;
            }
            qWarning() << "BlueZ: the battery provider was refused by" << adapter << ":" << w->error().message();
            std::unique_lock<std::mutex> lock(m_mutex);
            m_registered.remove(adapter); // asked again after the next pass
        });
    }
}

QString BatteryProvider::introspect(const QString &path) const
{
    if (path == kRootPath)
        return QStringLiteral("<interface name=\"org.freedesktop.DBus.ObjectManager\">"
                              "<method name=\"GetManagedObjects\"><arg type=\"a{oa{sa{sv}}}\" direction=\"out\"/></method>"
                              "<signal name=\"InterfacesAdded\"><arg type=\"o\"/><arg type=\"a{sa{sv}}\"/></signal>"
                              "<signal name=\"InterfacesRemoved\"><arg type=\"o\"/><arg type=\"as\"/></signal>"
                              "</interface>");
    return QStringLiteral("<interface name=\"org.bluez.BatteryProvider1\">"
                          "<property name=\"Device\" type=\"o\" access=\"read\"/>"
                          "<property name=\"Percentage\" type=\"y\" access=\"read\"/>"
                          "<property name=\"Source\" type=\"s\" access=\"read\"/>"
                          "</interface>");
}

bool BatteryProvider::handleMessage(const QDBusMessage &message, const QDBusConnection &connection)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const QString path = message.path();
    if (path == kRootPath && message.interface() == kObjectManager && message.member() == QLatin1String("GetManagedObjects")) {
        ManagedObjects objects;
        for (auto it = m_levels.cbegin(); it != m_levels.cend(); ++it)
            objects.insert(QDBusObjectPath(objectPathFor(it.key())),
                           {{kProviderInterface, propertiesOf(it.key(), it.value())}});
        return connection.send(message.createReply(QVariant::fromValue(objects)));
    }
    if (message.interface() == kProperties) {
        for (auto it = m_levels.cbegin(); it != m_levels.cend(); ++it) {
            if (objectPathFor(it.key()) != path)
                continue;
            const QVariantMap properties = propertiesOf(it.key(), it.value());
            const QString member = message.member();
            const QVariantList args = message.arguments();
            if (member == QLatin1String("GetAll"))
                return connection.send(message.createReply(QVariant::fromValue(properties)));
            if (member == QLatin1String("Get") && args.size() == 2 && properties.contains(args[1].toString()))
                return connection.send(message.createReply(
                    QVariant::fromValue(QDBusVariant(properties.value(args[1].toString())))));
        }
    }
    return false; // QtDBus answers with an error
}

} // namespace platform::bluez
