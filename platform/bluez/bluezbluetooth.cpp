#include "bluezbluetooth.h"
#include "bluezcall.h"
#include "bluezsignals.h"
#include "batteryprovider.h"
#include "foreigngateway.h"
#include "handsfreeprofile.h"
#include "profilesocket.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDebug>
#include <QSet>

namespace platform::bluez {

namespace {

const QString kDevice = QStringLiteral("org.bluez.Device1");
const QString kAdapter = QStringLiteral("org.bluez.Adapter1");
const QString kBattery = QStringLiteral("org.bluez.Battery1");
const QString kBatteryManager = QStringLiteral("org.bluez.BatteryProviderManager1");

// Takes apart a GetManagedObjects reply (a{oa{sa{sv}}}), keeping only the
// properties the program reads. Everything else is skipped without being
// converted: a container left early is stepped over whole, which keeps a pass
// over a thousand devices cheap.
QMap<QString, QMap<QString, QVariantMap>> wantedProperties(const QDBusArgument &reply)
{
    static const QMap<QString, QSet<QString>> wanted{
        {kDevice, {"Address", "Alias", "Paired", "Connected", "UUIDs", "Adapter"}},
        {kAdapter, {"Powered", "UUIDs"}},
        {kBattery, {"Percentage", "Source"}},
        {kBatteryManager, {}}, // only whether the adapter has one
    };
    QMap<QString, QMap<QString, QVariantMap>> objects;
    reply.beginMap();
    while (!reply.atEnd()) {
        reply.beginMapEntry();
        QDBusObjectPath path;
        reply >> path;
        reply.beginMap();
        while (!reply.atEnd()) {
            reply.beginMapEntry();
            QString interface;
            reply >> interface;
            const auto keys = wanted.constFind(interface);
            if (keys != wanted.constEnd()) {
                QVariantMap &properties = objects[path.path()][interface];
                reply.beginMap();
                // Once every wanted property is read, the rest is stepped over.
                while (properties.size() < keys->size() && !reply.atEnd()) {
                    reply.beginMapEntry();
                    QString key;
                    reply >> key;
                    if (keys->contains(key)) {
                        QDBusVariant value;
                        reply >> value;
                        properties.insert(key, value.variant());
                    }
                    reply.endMapEntry();
                }
                reply.endMap();
            }
            reply.endMapEntry();
        }
        reply.endMap();
        reply.endMapEntry();
    }
    reply.endMap();
    return objects;
}

} // namespace

BluezBluetooth::BluezBluetooth() : m_gateway(std::make_shared<ForeignGateway>()) {}
BluezBluetooth::~BluezBluetooth() = default;

void BluezBluetooth::noteReachable(bool reachable, const QString &why)
{
    if (m_reachable == int(reachable))
        return;
    m_reachable = int(reachable);
    if (reachable)
        qInfo() << "BlueZ: org.bluez answers on the system bus";
    else
        qWarning() << "BlueZ: org.bluez is not available on the system bus:" << why;
}

QVector<DeviceInfo> BluezBluetooth::pairedDevices()
{
    // No BlueZ (or no system bus) is not an error of a device: the pass
    // simply lists nothing, and the change is logged once.
    QDBusConnection bus = QDBusConnection::systemBus();
    QMap<QString, Interfaces> snapshot;
    if (!bus.isConnected()) {
        std::unique_lock<std::mutex> lock(m_mutex);
        noteReachable(false, bus.lastError().message());
        m_snapshot.clear();
        return {};
    }
    const QDBusMessage call = bluezCall(QStringLiteral("/"), QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                                        QStringLiteral("GetManagedObjects"));
    const QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);

    std::unique_lock<std::mutex> lock(m_mutex);
    m_snapshot.clear();
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        noteReachable(false, reply.errorMessage());
        return {};
    }
    noteReachable(true, {});
    m_owner = reply.service();
    m_snapshot = wantedProperties(reply.arguments().first().value<QDBusArgument>());

    // Object paths sort adapters before their devices and keep a stable order.
    QVector<DeviceInfo> devices;
    QStringList managers;
    bool gatewayRecord = false;
    m_anyPowered = false;
    for (auto it = m_snapshot.cbegin(); it != m_snapshot.cend(); ++it) {
        const QVariantMap adapter = it.value().value(kAdapter);
        if (adapter.value(QStringLiteral("Powered")).toBool())
            m_anyPowered = true;
        if (it.value().contains(kBatteryManager))
            managers << it.key();
        if (adapter.value(QStringLiteral("UUIDs")).toStringList().contains(HandsFreeProfile::kLocalUuid,
                                                                            Qt::CaseInsensitive))
            gatewayRecord = true;
        const QVariantMap device = it.value().value(kDevice);
        if (device.isEmpty() || !device.value(QStringLiteral("Paired")).toBool())
            continue;
        QString name = device.value(QStringLiteral("Alias")).toString();
        if (name.isEmpty())
            name = device.value(QStringLiteral("Address")).toString();
        devices.append({it.key(), name, knownLevel(it.value().value(kBattery))});
    }
    // The reply's sender is BlueZ's unique name: a new one means a BlueZ
    // that restarted and knows no provider.
    if (!m_battery)
        m_battery = std::make_unique<BatteryProvider>();
    m_battery->sync(reply.service(), managers);
    m_gateway->noteRecord(gatewayRecord);
    return devices;
}

void BluezBluetooth::watchChanges(std::function<void()> changed)
{
    m_signals.reset();
    if (changed)
        m_signals = std::make_unique<BluezSignals>(std::move(changed),
                                                   [this](const QString &owner) { noteOwner(owner); });
}

QString BluezBluetooth::bluezOwner() const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_owner;
}

void BluezBluetooth::noteOwner(const QString &owner)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_owner = owner;
}

QString BluezBluetooth::handsFreeHeldElsewhere()
{
    const bool held = m_gateway->held();
    std::unique_lock<std::mutex> lock(m_mutex);
    if (held != m_gatewayHeldLogged) {
        m_gatewayHeldLogged = held;
        if (held)
            qWarning() << "BlueZ: another program, probably the desktop's audio system, holds the hands-free "
                          "audio gateway; every headset's hands-free channel is left to it";
        else
            qInfo() << "BlueZ: the hands-free audio gateway is free; listened headsets are linked";
    }
    return held ? ForeignGateway::adviceText() : QString();
}

int BluezBluetooth::knownLevel(const QVariantMap &battery)
{
    // Our own levels come back from BlueZ with our Source: never as known.
    const QVariant percentage = battery.value(QStringLiteral("Percentage"));
    if (!percentage.isValid() || battery.value(QStringLiteral("Source")).toString() == BatteryProvider::kSource)
        return -1;
    bool ok = false;
    const int level = percentage.toInt(&ok);
    return ok && level >= 0 && level <= 100 ? level : -1;
}

void BluezBluetooth::provideBatteryLevel(const QString &deviceId, int level)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_battery)
        m_battery->provide(deviceId, level);
}

QVariantMap BluezBluetooth::deviceOrThrow(const QString &deviceId) const
{
    const QVariantMap device = m_snapshot.value(deviceId).value(kDevice);
    if (device.isEmpty())
        throw PlatformError(kDeviceNotAvailable, QStringLiteral("The device is no longer known to BlueZ."));
    if (!m_anyPowered)
        throw PlatformError(kDeviceNotAvailable, QStringLiteral("The Bluetooth adapter is switched off."));
    return device;
}

bool BluezBluetooth::adapterPowered(const QVariantMap &device) const
{
    const QString adapter = device.value(QStringLiteral("Adapter")).value<QDBusObjectPath>().path();
    return m_snapshot.value(adapter).value(kAdapter).value(QStringLiteral("Powered")).toBool();
}

bool BluezBluetooth::isConnected(const QString &deviceId)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const QVariantMap device = deviceOrThrow(deviceId);
    return adapterPowered(device) && device.value(QStringLiteral("Connected")).toBool();
}

QVector<RfcommService> BluezBluetooth::rfcommServices(const QString &deviceId)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const QVariantMap device = deviceOrThrow(deviceId);
    const QString address = device.value(QStringLiteral("Address")).toString();
    QVector<RfcommService> services;
    const QStringList uuids = device.value(QStringLiteral("UUIDs")).toStringList();
    for (const QString &uuid : uuids) {
        const QUuid id(uuid);
        if (id.isNull())
            continue;
        // The stream resolves the RFCOMM channel of the service when it connects.
        services.append({id, uuidText(id), address});
    }
    return services;
}

QString BluezBluetooth::devicePathOf(const QString &address) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (auto it = m_snapshot.cbegin(); it != m_snapshot.cend(); ++it) {
        const QVariantMap device = it.value().value(kDevice);
        if (device.value(QStringLiteral("Address")).toString().compare(address, Qt::CaseInsensitive) == 0)
            return it.key();
    }
    return {};
}

std::unique_ptr<StreamSocket> BluezBluetooth::createStreamSocket()
{
    std::shared_ptr<HandsFreeProfile> profile;
    {
        // Made on first use, when the application (and its bus) exists.
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_profile)
            m_profile = std::make_shared<HandsFreeProfile>(m_gateway, [this] { return bluezOwner(); });
        profile = m_profile;
    }
    return std::make_unique<ProfileSocket>(profile, [this](const QString &address) { return devicePathOf(address); });
}

} // namespace platform::bluez
