#pragma once

#include "../streamsocket.h"
#include "win32bluetooth.h"

#include <atomic>
#include <memory>

namespace platform::windows {

// An RFCOMM stream through Winsock's AF_BTH sockets. The host name is the
// device address, the service name the service class UUID; Windows looks the
// channel up (port 0). The socket is non-blocking and every wait is one
// WSAWaitForMultipleEvents on the abort event and the socket's network
// event (WSAEventSelect), so abort() from another thread ends any wait at
// once. Each operation tries first and waits only when Winsock says it
// would block, so an event taken by one wait is never lost to the next.
class WinsockStreamSocket : public StreamSocket
{
public:
    explicit WinsockStreamSocket(std::shared_ptr<Win32Bluetooth> system);
    ~WinsockStreamSocket() override;

    WinsockStreamSocket(const WinsockStreamSocket &) = delete;
    WinsockStreamSocket &operator=(const WinsockStreamSocket &) = delete;

    // Windows encrypts the link of a paired device by itself; the level
    // asks for nothing more than that, so it adds no socket option.
    void connect(const QString &hostName, const QString &serviceName, ProtectionLevel level) override;
    quint32 load(quint32 maxBytes) override;
    QByteArray readBytes(quint32 count) override;
    void writeBytes(const QByteArray &bytes) override;
    quint32 store() override;
    void abort() override;
    void close() override;

private:
    // Waits for the socket's next network events; false when aborted.
    bool waitForEvents(SOCKET socket, WSANETWORKEVENTS &events);
    SOCKET connectedSocket() const;
    [[noreturn]] static void throwAborted();

    const std::shared_ptr<Win32Bluetooth> m_system;
    const bool m_winsock;      // WSAStartup succeeded: WSACleanup is owed
    const HANDLE m_abortEvent; // manual reset: once set, every wait ends
    const WSAEVENT m_socketEvent;
    std::atomic<SOCKET> m_socket{INVALID_SOCKET}; // set by the link's thread; close() may come from any
    std::atomic<bool> m_aborted{false};
    QByteArray m_inBuffer;
    QByteArray m_outBuffer;
};

} // namespace platform::windows
