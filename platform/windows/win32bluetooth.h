#pragma once

// winsock2.h must come before windows.h, which would pull in the old winsock.h.
#include <winsock2.h>
#include <windows.h>
#include <ws2bth.h>

#include <QString>
#include <QUuid>
#include <QVector>

namespace platform::windows {

// The Win32 calls the Windows backend makes, each as thin as the call itself,
// so that tests can stand in for the system. Results are Win32 or Winsock
// error numbers (0 for success); nothing here throws, and the meaning of an
// error is left to the backend. Every call may come from any thread.
class Win32Bluetooth
{
public:
    // One paired device as BluetoothFindNextDevice gives it.
    struct Device
    {
        BTH_ADDR address = 0;
        QString name;
        bool connected = false;
        bool remembered = false;
        bool authenticated = false;
    };

    // One device node of the Bluetooth enumerator, with the battery level
    // property Windows keeps on it (-1 where the node has none, or one that
    // is not a byte).
    struct DeviceNode
    {
        QString instanceId;
        int batteryLevel = -1;
    };

    virtual ~Win32Bluetooth() = default;

    // BluetoothFindFirstRadio/NextRadio: the open handles of the local radios,
    // each of which the caller gives back to closeRadio(). With none the
    // error is BluetoothFindFirstRadio's (ERROR_NO_MORE_ITEMS, or
    // ERROR_CALL_NOT_IMPLEMENTED where the system has no Bluetooth at all).
    virtual DWORD findRadios(QVector<HANDLE> &radios) = 0;
    virtual void closeRadio(HANDLE radio) = 0;

    // BluetoothGetRadioInfo: the radio's own address.
    virtual DWORD radioAddress(HANDLE radio, BTH_ADDR &address) = 0;

    // BluetoothIsConnectable: false while the radio is switched off.
    virtual bool radioOn(HANDLE radio) = 0;

    // BluetoothFindFirstDevice/NextDevice on the radio: the authenticated and
    // remembered devices, without an inquiry. ERROR_NO_MORE_ITEMS with none.
    virtual DWORD findDevices(HANDLE radio, QVector<Device> &devices) = 0;

    // BluetoothEnumerateInstalledServices: the service classes Windows has
    // enabled for the device.
    virtual DWORD installedServices(BTH_ADDR device, QVector<QUuid> &services) = 0;

    // OpenSCManagerW/OpenServiceW/QueryServiceStatus: whether the service is
    // running now (false when it cannot be asked).
    virtual bool serviceRunning(const QString &name) = 0;

    // SetupDiGetClassDevsW/SetupDiEnumDeviceInfo/SetupDiGetDevicePropertyW:
    // the present nodes of the Bluetooth enumerator ("BTHENUM").
    virtual QVector<DeviceNode> deviceNodes() = 0;

    // socket(AF_BTH, SOCK_STREAM, BTHPROTO_RFCOMM). INVALID_SOCKET with the
    // Winsock error in error when it fails.
    virtual SOCKET openRfcommSocket(int &error) = 0;

    // connect() on a socket that is already non-blocking (WSAEventSelect):
    // 0, WSAEWOULDBLOCK while it goes on, or another Winsock error.
    virtual int startConnect(SOCKET socket, const SOCKADDR_BTH &address) = 0;
};

} // namespace platform::windows
