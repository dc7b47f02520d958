#include "windowsbluetooth.h"
#include "bluetoothaddress.h"
#include "knownlevels.h"
#include "nativebluetooth.h"
#include "win32error.h"
#include "winsockstreamsocket.h"

#include <QDebug>

#include <algorithm>

namespace platform::windows {

namespace {

// Gives every radio handle back, however the pass ends.
class RadioHandles
{
public:
    RadioHandles(Win32Bluetooth &system, QVector<HANDLE> handles) : m_system(system), m_handles(std::move(handles)) {}
    ~RadioHandles()
    {
        for (HANDLE radio : qAsConst(m_handles))
            m_system.closeRadio(radio);
    }
    RadioHandles(const RadioHandles &) = delete;
    RadioHandles &operator=(const RadioHandles &) = delete;

    const QVector<HANDLE> &handles() const { return m_handles; }

private:
    Win32Bluetooth &m_system;
    const QVector<HANDLE> m_handles;
};

struct Radio
{
    HANDLE handle = nullptr;
    quint64 address = 0;
    bool on = false;
};

} // namespace

WindowsBluetooth::WindowsBluetooth() : WindowsBluetooth(std::make_shared<NativeBluetooth>()) {}

WindowsBluetooth::WindowsBluetooth(std::shared_ptr<Win32Bluetooth> system) : m_system(std::move(system)) {}

WindowsBluetooth::~WindowsBluetooth() = default;

void WindowsBluetooth::noteRadios(const QString &state)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (state == m_radioState)
        return;
    m_radioState = state;
    qInfo().noquote() << "Windows Bluetooth:" << state;
}

QVector<DeviceInfo> WindowsBluetooth::pairedDevices()
{
    {
        // A pass that fails leaves no device of an earlier one behind.
        std::unique_lock<std::mutex> lock(m_mutex);
        m_devices.clear();
    }
    QVector<HANDLE> handles;
    const DWORD found = m_system->findRadios(handles);
    const RadioHandles guard(*m_system, handles);
    if (handles.isEmpty()) {
        // No radio at all, and a system without Bluetooth (Wine: "not
        // implemented"), both read as Bluetooth that cannot be used.
        if (found == ERROR_NO_MORE_ITEMS || found == ERROR_CALL_NOT_IMPLEMENTED || found == ERROR_SUCCESS) {
            const QString why = found == ERROR_CALL_NOT_IMPLEMENTED
                                    ? QStringLiteral("This system has no Bluetooth: ") + systemMessage(found)
                                    : QStringLiteral("No Bluetooth radio is present.");
            noteRadios(why);
            throw PlatformError(kDeviceNotAvailable, why);
        }
        throw win32Error(found);
    }

    QVector<Radio> radios;
    for (HANDLE handle : guard.handles()) {
        Radio radio{handle, 0, false};
        const DWORD error = m_system->radioAddress(handle, radio.address);
        if (error != ERROR_SUCCESS) {
            // Without its address the radio's devices could have no Id.
            qWarning().noquote() << "Windows Bluetooth: a radio without an address:" << systemMessage(error);
            continue;
        }
        radio.on = m_system->radioOn(handle);
        radios.append(radio);
    }
    const auto on = std::count_if(radios.cbegin(), radios.cend(), [](const Radio &r) { return r.on; });
    if (on == 0) {
        const QString why = QStringLiteral("Every Bluetooth radio is switched off.");
        noteRadios(why);
        throw PlatformError(kDeviceNotAvailable, why);
    }
    noteRadios(QStringLiteral("%1 of %2 Bluetooth radios switched on.").arg(on).arg(radios.size()));

    QVector<DeviceInfo> devices;
    QHash<QString, Known> known;
    bool anyConnected = false;
    for (const Radio &radio : qAsConst(radios)) {
        QVector<Win32Bluetooth::Device> paired;
        const DWORD error = m_system->findDevices(radio.handle, paired);
        if (error != ERROR_SUCCESS && error != ERROR_NO_MORE_ITEMS) {
            if (radio.on)
                throw win32Error(error);
            continue; // a switched-off radio may well refuse; none of its devices is reachable anyway
        }
        for (const Win32Bluetooth::Device &device : qAsConst(paired)) {
            if (!device.authenticated && !device.remembered)
                continue;
            const QString id = deviceId(radio.address, device.address);
            if (known.contains(id))
                continue;
            // Windows may still remember a device as connected on a radio
            // that has just been switched off.
            const bool connected = radio.on && device.connected;
            anyConnected = anyConnected || connected;
            known.insert(id, {device.address, connected});
            devices.append({id, device.name.isEmpty() ? addressText(device.address) : device.name, -1});
        }
    }

    // Windows' level is news only for a headset that is connected now.
    if (anyConnected) {
        const QHash<quint64, int> levels = KnownLevels::read(*m_system);
        for (DeviceInfo &info : devices) {
            const Known device = known.value(info.id);
            if (device.connected)
                info.batteryLevel = levels.value(device.address, -1);
        }
    }

    std::unique_lock<std::mutex> lock(m_mutex);
    m_devices = std::move(known);
    return devices;
}

WindowsBluetooth::Known WindowsBluetooth::knownOrThrow(const QString &deviceId) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto it = m_devices.constFind(deviceId);
    if (it == m_devices.constEnd())
        throw PlatformError(kDeviceNotAvailable, QStringLiteral("The device is not paired with this computer."));
    return *it;
}

bool WindowsBluetooth::isConnected(const QString &deviceId)
{
    return knownOrThrow(deviceId).connected;
}

QVector<RfcommService> WindowsBluetooth::rfcommServices(const QString &deviceId)
{
    const Known device = knownOrThrow(deviceId);
    QVector<QUuid> uuids;
    const DWORD error = m_system->installedServices(device.address, uuids);
    if (error != ERROR_SUCCESS)
        throw win32Error(error);
    QVector<RfcommService> services;
    services.reserve(uuids.size());
    const QString host = hostName(device.address);
    for (const QUuid &uuid : qAsConst(uuids))
        services.append({uuid, uuidText(uuid), host}); // Windows looks the channel up when the stream connects
    return services;
}

std::unique_ptr<StreamSocket> WindowsBluetooth::createStreamSocket()
{
    return std::make_unique<WinsockStreamSocket>(m_system);
}

} // namespace platform::windows
