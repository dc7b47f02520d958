#pragma once

#include "win32bluetooth.h"

namespace platform::windows {

// The system's own calls: bthprops (never bluetoothapis, whose stubs end the
// process under Wine), Winsock, the service control manager and SetupAPI.
class NativeBluetooth : public Win32Bluetooth
{
public:
    DWORD findRadios(QVector<HANDLE> &radios) override;
    void closeRadio(HANDLE radio) override;
    DWORD radioAddress(HANDLE radio, BTH_ADDR &address) override;
    bool radioOn(HANDLE radio) override;
    DWORD findDevices(HANDLE radio, QVector<Device> &devices) override;
    DWORD installedServices(BTH_ADDR device, QVector<QUuid> &services) override;
    bool serviceRunning(const QString &name) override;
    QVector<DeviceNode> deviceNodes() override;
    SOCKET openRfcommSocket(int &error) override;
    int startConnect(SOCKET socket, const SOCKADDR_BTH &address) override;
};

} // namespace platform::windows
