#pragma once

#include "../bluetooth.h"

#include <QHash>
#include <memory>
#include <mutex>

namespace platform::windows {

class Win32Bluetooth;

// Paired devices and hands-free streams through Windows' own Bluetooth
// interfaces (bthprops, Winsock's AF_BTH, SetupAPI), with the battery level
// Windows knows while its audio gateway runs. One look at the radios and
// their devices per pass: the per-device look-ups of a pass read what
// pairedDevices() found.
class WindowsBluetooth : public Bluetooth
{
public:
    // The system's own calls.
    WindowsBluetooth();
    // Any stand-in for them.
    explicit WindowsBluetooth(std::shared_ptr<Win32Bluetooth> system);
    ~WindowsBluetooth() override;

    WindowsBluetooth(const WindowsBluetooth &) = delete;
    WindowsBluetooth &operator=(const WindowsBluetooth &) = delete;

    // Throws kDeviceNotAvailable when no radio is there or none is switched
    // on. Devices of a switched-off radio beside a powered one are listed,
    // never as connected.
    QVector<DeviceInfo> pairedDevices() override;
    bool isConnected(const QString &deviceId) override;
    // The service classes Windows has enabled for the device, each with the
    // device's host name "(xx:xx:xx:xx:xx:xx)" and the service UUID's text as
    // the service name.
    QVector<RfcommService> rfcommServices(const QString &deviceId) override;
    std::unique_ptr<StreamSocket> createStreamSocket() override;

private:
    struct Known
    {
        quint64 address = 0;
        bool connected = false; // and its radio switched on
    };
    // The device of the last pass; kDeviceNotAvailable for one it did not list.
    Known knownOrThrow(const QString &deviceId) const;
    // Logs the radios' state when it changes.
    void noteRadios(const QString &state);

    const std::shared_ptr<Win32Bluetooth> m_system;
    mutable std::mutex m_mutex;
    QHash<QString, Known> m_devices; // Id -> device; m_mutex
    QString m_radioState;            // as last logged; m_mutex
};

} // namespace platform::windows
