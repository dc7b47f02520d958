#pragma once

#include "platform/windows/win32bluetooth.h"

#include <QHash>
#include <ws2tcpip.h>

// The system as the tests set it: radios with their devices, the services,
// the gateway service and device nodes. Its "RFCOMM" sockets are loopback TCP
// sockets, so the stream's waits run on Winsock itself.
class FakeWin32Bluetooth : public platform::windows::Win32Bluetooth
{
public:
    struct Radio
    {
        BTH_ADDR address = 0;
        bool on = true;
        QVector<Device> devices;
    };
    QVector<Radio> radios;
    DWORD noRadioError = ERROR_NO_MORE_ITEMS;
    QHash<BTH_ADDR, QVector<QUuid>> services;
    QHash<BTH_ADDR, DWORD> servicesError;
    bool gatewayRunning = false;
    QVector<DeviceNode> nodes;
    int openError = 0;          // socket() fails with it
    int connectError = 0;       // connect() fails with it at once
    bool connectPending = false; // connect() never completes
    quint16 peerPort = 0;       // where connect() really goes, on 127.0.0.1
    SOCKADDR_BTH target{};      // what the stream asked for
    int openRadios = 0;

    DWORD findRadios(QVector<HANDLE> &out) override
    {
        for (int i = 0; i < radios.size(); ++i)
            out.append(reinterpret_cast<HANDLE>(quintptr(i + 1)));
        openRadios += out.size();
        return out.isEmpty() ? noRadioError : DWORD(ERROR_SUCCESS);
    }
    void closeRadio(HANDLE) override { --openRadios; }
    DWORD radioAddress(HANDLE radio, BTH_ADDR &address) override
    {
        address = at(radio).address;
        return ERROR_SUCCESS;
    }
    bool radioOn(HANDLE radio) override { return at(radio).on; }
    DWORD findDevices(HANDLE radio, QVector<Device> &out) override
    {
        out = at(radio).devices;
        return out.isEmpty() ? DWORD(ERROR_NO_MORE_ITEMS) : DWORD(ERROR_SUCCESS);
    }
    DWORD installedServices(BTH_ADDR device, QVector<QUuid> &out) override
    {
        out = services.value(device);
        return servicesError.value(device, ERROR_SUCCESS);
    }
    bool serviceRunning(const QString &name) override { return gatewayRunning && name == "BTAGService"; }
    QVector<DeviceNode> deviceNodes() override { return nodes; }
    SOCKET openRfcommSocket(int &error) override
    {
        error = openError;
        return openError ? INVALID_SOCKET : ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    }
    int startConnect(SOCKET socket, const SOCKADDR_BTH &address) override
    {
        target = address;
        if (connectError || connectPending)
            return connectError ? connectError : WSAEWOULDBLOCK;
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_port = htons(peerPort);
        peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return ::connect(socket, reinterpret_cast<sockaddr *>(&peer), sizeof peer) ? WSAGetLastError() : 0;
    }

private:
    Radio &at(HANDLE radio) { return radios[int(reinterpret_cast<quintptr>(radio)) - 1]; }
};
