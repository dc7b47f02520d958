#include "nativebluetooth.h"

#include <bluetoothapis.h>
#include <cfgmgr32.h>
#include <devpropdef.h>
#include <setupapi.h>

namespace platform::windows {

namespace {

// Where Windows keeps the level its audio gateway read from a headset.
const DEVPROPKEY kBatteryLevelKey = {
    {0x104EA319, 0x6EE2, 0x4701, {0xBD, 0x47, 0x8D, 0xDB, 0xF4, 0x25, 0xBB, 0xE5}}, 2};

} // namespace

DWORD NativeBluetooth::findRadios(QVector<HANDLE> &radios)
{
    BLUETOOTH_FIND_RADIO_PARAMS params{};
    params.dwSize = sizeof params;
    HANDLE radio = nullptr;
    const HBLUETOOTH_RADIO_FIND find = BluetoothFindFirstRadio(&params, &radio);
    if (!find)
        return GetLastError();
    do
        radios.append(radio);
    while (BluetoothFindNextRadio(find, &radio));
    BluetoothFindRadioClose(find);
    return ERROR_SUCCESS;
}

void NativeBluetooth::closeRadio(HANDLE radio)
{
    CloseHandle(radio);
}

DWORD NativeBluetooth::radioAddress(HANDLE radio, BTH_ADDR &address)
{
    BLUETOOTH_RADIO_INFO info{};
    info.dwSize = sizeof info;
    const DWORD error = BluetoothGetRadioInfo(radio, &info);
    if (error == ERROR_SUCCESS)
        address = info.address.ullLong;
    return error;
}

bool NativeBluetooth::radioOn(HANDLE radio)
{
    return BluetoothIsConnectable(radio);
}

DWORD NativeBluetooth::findDevices(HANDLE radio, QVector<Device> &devices)
{
    BLUETOOTH_DEVICE_SEARCH_PARAMS params{};
    params.dwSize = sizeof params;
    params.fReturnAuthenticated = TRUE;
    params.fReturnRemembered = TRUE;
    params.fIssueInquiry = FALSE;
    params.hRadio = radio;
    BLUETOOTH_DEVICE_INFO info{};
    info.dwSize = sizeof info;
    const HBLUETOOTH_DEVICE_FIND find = BluetoothFindFirstDevice(&params, &info);
    if (!find)
        return GetLastError();
    do {
        devices.append({info.Address.ullLong,
                        QString::fromWCharArray(info.szName, int(wcsnlen(info.szName, BLUETOOTH_MAX_NAME_SIZE))),
                        bool(info.fConnected), bool(info.fRemembered), bool(info.fAuthenticated)});
        info = {};
        info.dwSize = sizeof info;
    } while (BluetoothFindNextDevice(find, &info));
    BluetoothFindDeviceClose(find);
    return ERROR_SUCCESS;
}

DWORD NativeBluetooth::installedServices(BTH_ADDR device, QVector<QUuid> &services)
{
    BLUETOOTH_DEVICE_INFO info{};
    info.dwSize = sizeof info;
    info.Address.ullLong = device;
    QVector<GUID> guids(16);
    for (;;) {
        DWORD count = DWORD(guids.size());
        // No radio handle: Windows looks at every radio for this address.
        const DWORD error = BluetoothEnumerateInstalledServices(nullptr, &info, &count, guids.data());
        if (error == ERROR_MORE_DATA && guids.size() < 4096) {
            guids.resize(qMax(int(count), guids.size() * 2)); // a longer list than the buffer held
            continue;
        }
        if (error != ERROR_SUCCESS)
            return error;
        for (DWORD i = 0; i < count; ++i)
            services.append(QUuid(guids[int(i)]));
        return ERROR_SUCCESS;
    }
}

bool NativeBluetooth::serviceRunning(const QString &name)
{
    const SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return false;
    bool running = false;
    if (const SC_HANDLE service = OpenServiceW(manager, reinterpret_cast<LPCWSTR>(name.utf16()), SERVICE_QUERY_STATUS)) {
        SERVICE_STATUS status{};
        running = QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return running;
}

QVector<Win32Bluetooth::DeviceNode> NativeBluetooth::deviceNodes()
{
    QVector<DeviceNode> nodes;
    const HDEVINFO set = SetupDiGetClassDevsW(nullptr, L"BTHENUM", nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return nodes;
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &data); ++index) {
        wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
        if (!SetupDiGetDeviceInstanceIdW(set, &data, id, MAX_DEVICE_ID_LEN + 1, nullptr))
            continue;
        DeviceNode node{QString::fromWCharArray(id), -1};
        DEVPROPTYPE type = DEVPROP_TYPE_EMPTY;
        BYTE level = 0;
        if (SetupDiGetDevicePropertyW(set, &data, &kBatteryLevelKey, &type, &level, sizeof level, nullptr, 0)
            && type == DEVPROP_TYPE_BYTE)
            node.batteryLevel = level;
        nodes.append(node);
    }
    SetupDiDestroyDeviceInfoList(set);
    return nodes;
}

SOCKET NativeBluetooth::openRfcommSocket(int &error)
{
    const SOCKET socket = ::socket(AF_BTH, SOCK_STREAM, BTHPROTO_RFCOMM);
    error = socket == INVALID_SOCKET ? WSAGetLastError() : 0;
    return socket;
}

int NativeBluetooth::startConnect(SOCKET socket, const SOCKADDR_BTH &address)
{
    if (::connect(socket, reinterpret_cast<const sockaddr *>(&address), sizeof address) == SOCKET_ERROR)
        return WSAGetLastError();
    return 0;
}

} // namespace platform::windows
