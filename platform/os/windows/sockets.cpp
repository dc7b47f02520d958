#include "../sockets.h"
#include "../../platformerror.h"

#include <winsock2.h>
#include <windows.h>

#include <mutex>

namespace platform::os {

namespace {

void startWinsock()
{
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data); // kept for the life of the process
    });
}

SOCKET s(Handle handle)
{
    return SOCKET(handle);
}

// Reads and writes of the socket return at once instead of waiting.
void makeNonBlocking(Handle handle)
{
    u_long on = 1;
    ::ioctlsocket(s(handle), FIONBIO, &on);
}

} // namespace

bool makeSocketPair(Handle pair[2])
{
    startWinsock();
    SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int length = sizeof address;
    SOCKET client = INVALID_SOCKET;
    SOCKET server = INVALID_SOCKET;
    if (::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) == 0
        && ::listen(listener, 1) == 0) {
        client = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (client != INVALID_SOCKET
            && ::connect(client, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
            server = ::accept(listener, nullptr, nullptr);
    }
    ::closesocket(listener);
    if (server == INVALID_SOCKET) {
        if (client != INVALID_SOCKET)
            ::closesocket(client);
        return false;
    }
    // Small commands and replies go at once, as over a socket pair.
    const BOOL noDelay = TRUE;
    for (SOCKET end : {client, server}) {
        ::setsockopt(end, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&noDelay), sizeof noDelay);
        makeNonBlocking(Handle(end));
    }
    pair[0] = Handle(client);
    pair[1] = Handle(server);
    return true;
}

void closeHandle(Handle handle)
{
    if (handle != kNoHandle)
        ::closesocket(s(handle));
}

void shutdownWrite(Handle handle)
{
    ::shutdown(s(handle), SD_SEND);
}

void shutdownBoth(Handle handle)
{
    ::shutdown(s(handle), SD_BOTH);
}

qint64 readSome(Handle handle, char *buffer, qint64 size)
{
    const int n = ::recv(s(handle), buffer, int(qMin<qint64>(size, 1 << 30)), 0);
    return n == SOCKET_ERROR ? -1 : n;
}

qint64 writeSome(Handle handle, const char *data, qint64 size)
{
    const int n = ::send(s(handle), data, int(qMin<qint64>(size, 1 << 30)), 0);
    return n == SOCKET_ERROR ? -1 : n;
}

int lastError()
{
    return WSAGetLastError();
}

bool isTransient(int error)
{
    return error == WSAEWOULDBLOCK || error == WSAEINTR || error == WSAEINPROGRESS;
}

int waitReady(Handle handle, short events, Handle wakeHandle, int timeoutMs)
{
    WSAPOLLFD fds[2] = {};
    ULONG count = 0;
    int handleAt = -1;
    if (handle != kNoHandle) {
        fds[count].fd = s(handle);
        fds[count].events = short((events & kReadable ? POLLRDNORM : 0) | (events & kWritable ? POLLWRNORM : 0));
        handleAt = int(count++);
    }
    int wakeAt = -1;
    if (wakeHandle != kNoHandle) {
        fds[count].fd = s(wakeHandle);
        fds[count].events = POLLRDNORM;
        wakeAt = int(count++);
    }
    if (count == 0) {
        Sleep(timeoutMs < 0 ? INFINITE : DWORD(timeoutMs));
        return 0;
    }
    const int n = ::WSAPoll(fds, count, timeoutMs);
    if (n <= 0)
        return n;
    return (handleAt >= 0 && fds[handleAt].revents ? 1 : 0) | (wakeAt >= 0 && fds[wakeAt].revents ? 2 : 0);
}

qint32 codeForError(int error)
{
    switch (error) {
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAEHOSTDOWN:
    case WSAEHOSTUNREACH:
    case WSAETIMEDOUT:
    case WSAENOTCONN:
    case WSAENETDOWN:
    case WSAENETRESET:
    case WSAESHUTDOWN:
        return kOperationAborted;
    default:
        return qint32(0x80070000u | (quint32(error) & 0xFFFFu));
    }
}

QString messageForError(int error)
{
    wchar_t *text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                            | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, DWORD(error), 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString message = length ? QString::fromWCharArray(text, int(length)).trimmed()
                             : QStringLiteral("Error %1").arg(error);
    LocalFree(text);
    return message;
}

int errorTimedOut()
{
    return WSAETIMEDOUT;
}

int errorRefused()
{
    return WSAECONNREFUSED;
}

int errorNotConnected()
{
    return WSAENOTCONN;
}

} // namespace platform::os
