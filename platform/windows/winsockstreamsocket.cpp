#include "winsockstreamsocket.h"
#include "bluetoothaddress.h"
#include "win32error.h"

#include <climits>

namespace platform::windows {

namespace {

bool startWinsock()
{
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

PlatformError badName(const QString &what, const QString &text)
{
    return PlatformError(hresultFromWin32(ERROR_INVALID_PARAMETER),
                         QStringLiteral("\"%1\" is not a Bluetooth %2.").arg(text, what));
}

} // namespace

WinsockStreamSocket::WinsockStreamSocket(std::shared_ptr<Win32Bluetooth> system)
    : m_system(std::move(system)),
      m_winsock(startWinsock()),
      m_abortEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_socketEvent(WSACreateEvent())
{
}

WinsockStreamSocket::~WinsockStreamSocket()
{
    const SOCKET socket = m_socket.load();
    if (socket != INVALID_SOCKET)
        closesocket(socket);
    if (m_socketEvent != WSA_INVALID_EVENT)
        WSACloseEvent(m_socketEvent);
    if (m_abortEvent)
        CloseHandle(m_abortEvent);
    if (m_winsock)
        WSACleanup();
}

void WinsockStreamSocket::throwAborted()
{
    throw PlatformError(kOperationAborted, systemMessage(ERROR_OPERATION_ABORTED));
}

void WinsockStreamSocket::connect(const QString &hostName, const QString &serviceName, ProtectionLevel level)
{
    Q_UNUSED(level)
    if (!m_abortEvent || m_socketEvent == WSA_INVALID_EVENT)
        throw win32Error(ERROR_NOT_ENOUGH_MEMORY);
    if (m_socket.load() != INVALID_SOCKET)
        throw win32Error(WSAEISCONN);
    quint64 address = 0;
    if (!parseHostName(hostName, address))
        throw badName(QStringLiteral("host name"), hostName);
    const QUuid service(serviceName);
    if (service.isNull())
        throw badName(QStringLiteral("service name"), serviceName);
    if (m_aborted.load())
        throwAborted();

    int error = 0;
    const SOCKET socket = m_system->openRfcommSocket(error);
    if (socket == INVALID_SOCKET)
        throw win32Error(quint32(error));
    m_socket.store(socket);
    if (m_aborted.load()) // abort() may have looked before the socket was there
        throwAborted();
    if (WSAEventSelect(socket, m_socketEvent, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) == SOCKET_ERROR)
        throw win32Error(quint32(WSAGetLastError()));

    SOCKADDR_BTH target{};
    target.addressFamily = AF_BTH;
    target.btAddr = address;
    target.serviceClassId = GUID(service);
    target.port = 0; // Windows asks the device's SDP server for the channel
    int result = m_system->startConnect(socket, target);
    while (result == WSAEWOULDBLOCK) {
        WSANETWORKEVENTS events{};
        if (!waitForEvents(socket, events))
            throwAborted();
        if (events.lNetworkEvents & FD_CONNECT)
            result = events.iErrorCode[FD_CONNECT_BIT];
    }
    if (result != 0)
        throw win32Error(quint32(result));
}

bool WinsockStreamSocket::waitForEvents(SOCKET socket, WSANETWORKEVENTS &events)
{
    const WSAEVENT handles[2] = {m_abortEvent, m_socketEvent};
    // With both set the lower index wins: an abort is never missed.
    const DWORD woken = WSAWaitForMultipleEvents(2, handles, FALSE, WSA_INFINITE, FALSE);
    if (woken == WSA_WAIT_EVENT_0 || m_aborted.load())
        return false;
    if (woken != WSA_WAIT_EVENT_0 + 1)
        throw win32Error(quint32(WSAGetLastError()));
    // Clears the recorded events and resets the event object in one step.
    if (WSAEnumNetworkEvents(socket, m_socketEvent, &events) == SOCKET_ERROR)
        throw streamError(WSAGetLastError());
    return true;
}

SOCKET WinsockStreamSocket::connectedSocket() const
{
    const SOCKET socket = m_socket.load();
    if (socket == INVALID_SOCKET)
        throw streamError(WSAENOTCONN);
    return socket;
}

quint32 WinsockStreamSocket::load(quint32 maxBytes)
{
    if (m_aborted.load())
        return 0;
    const SOCKET socket = connectedSocket();
    if (maxBytes == 0)
        return 0;
    const int wanted = int(qMin<quint32>(maxBytes, INT_MAX));
    QByteArray chunk(wanted, Qt::Uninitialized);
    for (;;) {
        if (m_aborted.load())
            return 0;
        const int n = recv(socket, chunk.data(), wanted, 0);
        if (n > 0) {
            m_inBuffer.append(chunk.constData(), n);
            return quint32(n);
        }
        if (n == 0)
            return 0; // the headset ended the stream
        const int error = WSAGetLastError();
        if (error != WSAEWOULDBLOCK) {
            if (m_aborted.load())
                return 0; // abort() shut the socket down under us
            throw streamError(error);
        }
        WSANETWORKEVENTS events{};
        if (!waitForEvents(socket, events))
            return 0;
    }
}

QByteArray WinsockStreamSocket::readBytes(quint32 count)
{
    const QByteArray out = m_inBuffer.left(int(qMin<quint32>(count, INT_MAX)));
    m_inBuffer.remove(0, out.size());
    return out;
}

void WinsockStreamSocket::writeBytes(const QByteArray &bytes)
{
    m_outBuffer.append(bytes);
}

quint32 WinsockStreamSocket::store()
{
    if (m_aborted.load()) {
        m_outBuffer.clear();
        return 0;
    }
    const SOCKET socket = connectedSocket();
    quint32 sent = 0;
    while (!m_outBuffer.isEmpty()) {
        // After abort() the program is shutting down: what is left is dropped.
        if (m_aborted.load())
            break;
        const int n = send(socket, m_outBuffer.constData(), m_outBuffer.size(), 0);
        if (n >= 0) {
            m_outBuffer.remove(0, n);
            sent += quint32(n);
            continue;
        }
        const int error = WSAGetLastError();
        if (error != WSAEWOULDBLOCK) {
            if (m_aborted.load())
                break;
            m_outBuffer.clear();
            throw streamError(error);
        }
        WSANETWORKEVENTS events{};
        if (!waitForEvents(socket, events))
            break;
    }
    if (m_aborted.load())
        m_outBuffer.clear();
    return sent;
}

void WinsockStreamSocket::abort()
{
    m_aborted.store(true);
    SetEvent(m_abortEvent);
    close();
}

void WinsockStreamSocket::close()
{
    // shutdown ends the channel for the headset too; the handle stays ours
    // (and valid for a wait still running) until the destructor closes it.
    const SOCKET socket = m_socket.load();
    if (socket != INVALID_SOCKET)
        shutdown(socket, SD_BOTH);
}

} // namespace platform::windows
