#include "fdstreamsocket.h"
#include "platformerror.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

qint32 codeForErrno(int err)
{
    switch (err) {
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
        // Other errors keep their own number, in the HRESULT form that wraps
        // an operating-system error code (0x8007xxxx).
        return qint32(0x80070000u | (quint32(err) & 0xFFFFu));
    }
}

void throwErrno(int err)
{
    throw PlatformError(codeForErrno(err), QString::fromLocal8Bit(std::strerror(err)));
}

FdStreamSocket::FdStreamSocket()
    : m_abortFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (m_abortFd < 0)
        throwErrno(errno);
}

FdStreamSocket::~FdStreamSocket()
{
    close();
    if (m_fd >= 0)
        ::close(m_fd);
    ::close(m_abortFd);
}

void FdStreamSocket::adopt(int fd)
{
    const int old = m_fd.exchange(fd);
    if (old >= 0)
        ::close(old);
}

void FdStreamSocket::close()
{
    // shutdown acts on the connection itself, which every copy of the
    // descriptor shares; the descriptor stays ours until it is closed.
    const int fd = m_fd.load();
    if (fd >= 0)
        ::shutdown(fd, SHUT_RDWR);
}

bool FdStreamSocket::waitFor(int fd, short events, const QDeadlineTimer &deadline)
{
    pollfd fds[2] = {{fd, events, 0}, {m_abortFd, POLLIN, 0}};
    for (;;) {
        if (m_aborted.load())
            return false;
        const qint64 left = deadline.remainingTime(); // -1: forever
        const int n = ::poll(fds, 2, left < 0 ? -1 : int(qMin<qint64>(left, 1 << 30)));
        if (n == 0)
            throwErrno(ETIMEDOUT);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throwErrno(errno);
        }
        if (fds[1].revents)
            return false;
        if (fds[0].revents)
            return true;
    }
}

quint32 FdStreamSocket::load(quint32 maxBytes)
{
    if (m_fd < 0)
        throw PlatformError(codeForErrno(ENOTCONN), QStringLiteral("The socket is not connected."));
    if (maxBytes == 0)
        return 0;
    if (!waitFor(m_fd, POLLIN))
        return 0;
    QByteArray chunk(int(maxBytes), Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::recv(m_fd, chunk.data(), maxBytes, MSG_DONTWAIT);
        if (n > 0) {
            m_inBuffer.append(chunk.constData(), int(n));
            return quint32(n);
        }
        if (n == 0) {
            onEndOfStream();
            return 0;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!waitFor(m_fd, POLLIN))
                return 0;
            continue;
        }
        throwErrno(errno);
    }
}

QByteArray FdStreamSocket::readBytes(quint32 count)
{
    const QByteArray out = m_inBuffer.left(int(count));
    m_inBuffer.remove(0, out.size());
    return out;
}

void FdStreamSocket::writeBytes(const QByteArray &bytes)
{
    m_outBuffer.append(bytes);
}

quint32 FdStreamSocket::store()
{
    if (m_fd < 0)
        throw PlatformError(codeForErrno(ENOTCONN), QStringLiteral("The socket is not connected."));
    quint32 sent = 0;
    while (!m_outBuffer.isEmpty()) {
        // After abort() the program is shutting down: drop what is left.
        if (!waitFor(m_fd, POLLOUT)) {
            m_outBuffer.clear();
            break;
        }
        const ssize_t n = ::send(m_fd, m_outBuffer.constData(), size_t(m_outBuffer.size()),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            m_outBuffer.clear();
            throwErrno(errno);
        }
        m_outBuffer.remove(0, int(n));
        sent += quint32(n);
    }
    return sent;
}

void FdStreamSocket::abort()
{
    m_aborted.store(true);
    const quint64 one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_abortFd, &one, sizeof one);
    close();
}

} // namespace platform
