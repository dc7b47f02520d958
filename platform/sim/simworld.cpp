#include "simworld.h"
#include "simstreamsocket.h"

#include <algorithm>

namespace platform::sim {

const QUuid SimWorld::kHandsFreeUuid(QStringLiteral("{0000111e-0000-1000-8000-00805f9b34fb}"));

namespace {
const QString kNotAvailable = QStringLiteral("The device is not ready for use.");
}

void SimWorld::watchChanges(std::function<void()> changed)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed = std::move(changed);
}

void SimWorld::changed() const
{
    std::function<void()> changed;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        changed = m_changed;
    }
    if (changed)
        changed();
}

void SimWorld::addDevice(const Device &device)
{
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_index.contains(device.id))
            m_index.insert(device.id, m_devices.size());
        m_devices.append(device);
    }
    changed();
}

void SimWorld::removeDevice(const QString &id)
{
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_devices.erase(std::remove_if(m_devices.begin(), m_devices.end(),
                                       [&](const Device &d) { return d.id == id; }),
                        m_devices.end());
        reindex();
    }
    changed();
}

void SimWorld::setConnected(const QString &id, bool connected)
{
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        const int at = m_index.value(id, -1);
        if (at >= 0)
            m_devices[at].connected = connected;
    }
    changed();
}

void SimWorld::setBatteryLevel(const QString &id, int level)
{
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        const int at = m_index.value(id, -1);
        if (at >= 0)
            m_devices[at].batteryLevel = level;
    }
    changed();
}

void SimWorld::setRadioOn(bool on)
{
    QList<std::shared_ptr<SimHeadset>> headsets;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_radioOn = on;
        headsets = m_headsets.values();
    }
    if (!on)
        for (const auto &h : headsets)
            h->breakStream();
    changed();
}

std::shared_ptr<SimHeadset> SimWorld::addHeadset(const QString &id, const QString &name,
                                                 HeadsetOptions options)
{
    auto headset = std::make_shared<SimHeadset>(options);
    const QString host = QStringLiteral("(sim:%1)").arg(id);
    const QString service = QStringLiteral("Bluetooth#Hfp#%1").arg(id);
    addDevice({id, name, true, {{kHandsFreeUuid, service, host}}});
    attachHeadset(host, service, headset);
    return headset;
}

void SimWorld::attachHeadset(const QString &hostName, const QString &serviceName,
                             std::shared_ptr<SimHeadset> headset)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_headsets.insert({hostName, serviceName}, std::move(headset));
}

std::shared_ptr<SimHeadset> SimWorld::headset(const QString &deviceId) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (const Device &d : m_devices)
        if (d.id == deviceId)
            for (const RfcommService &s : d.services)
                if (auto h = m_headsets.value({s.connectionHostName, s.connectionServiceName}))
                    return h;
    return nullptr;
}

void SimWorld::injectFailure(Op op, const QString &key, qint32 code, const QString &message)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_failures.insert({int(op), op == Op::PairedDevices ? QString() : key}, PlatformError(code, message));
}

void SimWorld::throwIfFailing(Op op, const QString &key) const
{
    const auto it = m_failures.constFind({int(op), key});
    if (it != m_failures.constEnd())
        throw *it;
}

const SimWorld::Device &SimWorld::deviceOrThrow(const QString &id) const
{
    const int at = m_index.value(id, -1);
    if (at < 0)
        throw PlatformError(kDeviceNotAvailable, kNotAvailable);
    return m_devices[at];
}

void SimWorld::reindex()
{
    m_index.clear();
    for (int i = m_devices.size() - 1; i >= 0; --i) // the first of equal Ids wins
        m_index.insert(m_devices[i].id, i);
}

QVector<DeviceInfo> SimWorld::pairedDevices()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    throwIfFailing(Op::PairedDevices, QString());
    QVector<DeviceInfo> out;
    out.reserve(m_devices.size());
    for (const Device &d : qAsConst(m_devices))
        out.append({d.id, d.name, d.batteryLevel});
    return out;
}

bool SimWorld::isConnected(const QString &deviceId)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    throwIfFailing(Op::Lookup, deviceId);
    if (!m_radioOn)
        throw PlatformError(kDeviceNotAvailable, kNotAvailable);
    return deviceOrThrow(deviceId).connected;
}

QVector<RfcommService> SimWorld::rfcommServices(const QString &deviceId)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    throwIfFailing(Op::Services, deviceId);
    if (!m_radioOn)
        throw PlatformError(kDeviceNotAvailable, kNotAvailable);
    return deviceOrThrow(deviceId).services;
}

std::unique_ptr<StreamSocket> SimWorld::createStreamSocket()
{
    return std::make_unique<SimStreamSocket>(this);
}

SimHeadset::Accepted SimWorld::connectTo(const QString &hostName, const QString &serviceName)
{
    std::shared_ptr<SimHeadset> headset;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        throwIfFailing(Op::Connect, hostName);
        if (!m_radioOn)
            throw PlatformError(kDeviceNotAvailable, kNotAvailable);
        headset = m_headsets.value({hostName, serviceName});
        const bool reachable = std::any_of(m_devices.cbegin(), m_devices.cend(), [&](const Device &d) {
            return d.connected && std::any_of(d.services.cbegin(), d.services.cend(), [&](const RfcommService &s) {
                       return s.connectionHostName == hostName && s.connectionServiceName == serviceName;
                   });
        });
        if (!reachable)
            headset.reset();
    }
    if (!headset)
        throw PlatformError(qint32(0x8007274Cu),
                            QStringLiteral("A connection attempt failed because the connected party did not "
                                           "properly respond after a period of time."));
    return headset->accept();
}

} // namespace platform::sim
