#include "../sockets.h"
#include "../../platformerror.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

static_assert(platform::os::kReadable == POLLIN && platform::os::kWritable == POLLOUT);

namespace platform::os {

bool makeSocketPair(Handle pair[2])
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0)
        return false;
    pair[0] = fds[0];
    pair[1] = fds[1];
    return true;
}

void closeHandle(Handle handle)
{
    if (handle >= 0)
        ::close(int(handle));
}

void shutdownWrite(Handle handle)
{
    ::shutdown(int(handle), SHUT_WR);
}

void shutdownBoth(Handle handle)
{
    ::shutdown(int(handle), SHUT_RDWR);
}

qint64 readSome(Handle handle, char *buffer, qint64 size)
{
    for (;;) {
        const ssize_t n = ::recv(int(handle), buffer, size_t(size), MSG_DONTWAIT);
        if (n < 0 && errno == ENOTSOCK)
            return ::read(int(handle), buffer, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

qint64 writeSome(Handle handle, const char *data, qint64 size)
{
    for (;;) {
        const ssize_t n = ::send(int(handle), data, size_t(size), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == ENOTSOCK) // standard output
            return ::write(int(handle), data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

int lastError()
{
    return errno;
}

bool isTransient(int error)
{
    return error == EINTR || error == EAGAIN || error == EWOULDBLOCK;
}

int waitReady(Handle handle, short events, Handle wakeHandle, int timeoutMs)
{
    pollfd fds[2] = {{int(handle), events, 0}, {int(wakeHandle), POLLIN, 0}};
    for (;;) {
        const int n = ::poll(fds, 2, timeoutMs);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n;
        return (fds[0].revents ? 1 : 0) | (fds[1].revents ? 2 : 0);
    }
}

qint32 codeForError(int error)
{
    switch (error) {
    case ECONNRESET:
    case ECONNABORTED:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ETIMEDOUT:
    case EPIPE:
    case ENOTCONN:
    case ENETDOWN:
        return kOperationAborted;
    default:
        return qint32(0x80070000u | (quint32(error) & 0xFFFFu));
    }
}

QString messageForError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

int errorTimedOut()
{
    return ETIMEDOUT;
}

int errorRefused()
{
    return ECONNREFUSED;
}

int errorNotConnected()
{
    return ENOTCONN;
}

} // namespace platform::os
