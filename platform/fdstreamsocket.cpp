#include "fdstreamsocket.h"
#include "platformerror.h"

namespace platform {

qint32 codeForErrno(int err)
{
    return os::codeForError(err);
}

void throwErrno(int err)
{
    throw PlatformError(codeForErrno(err), os::messageForError(err));
}

FdStreamSocket::FdStreamSocket()
{
    if (!m_abort.isValid())
        throwErrno(os::lastError());
}

FdStreamSocket::~FdStreamSocket()
{
    close();
    os::closeHandle(m_fd);
}

void FdStreamSocket::adopt(os::Handle fd)
{
    const os::Handle old = m_fd.exchange(fd);
    os::closeHandle(old);
}

void FdStreamSocket::close()
{
    // shutdown acts on the connection itself, which every copy of the
    // descriptor shares; the descriptor stays ours until it is closed.
    const os::Handle fd = m_fd.load();
    if (fd != os::kNoHandle)
        os::shutdownBoth(fd);
}

bool FdStreamSocket::waitFor(os::Handle fd, short events, const QDeadlineTimer &deadline)
{
    for (;;) {
        if (m_aborted.load())
            return false;
        const qint64 left = deadline.remainingTime(); // -1: forever
        const int ready = os::waitReady(fd, events, m_abort.handle(), left < 0 ? -1 : int(qMin<qint64>(left, 1 << 30)));
        if (ready == 0)
            throwErrno(os::errorTimedOut());
        if (ready < 0) {
            const int err = os::lastError();
            if (os::isTransient(err))
                continue;
            throwErrno(err);
        }
        if (ready & 2)
            return false;
        if (ready & 1)
            return true;
    }
}

quint32 FdStreamSocket::load(quint32 maxBytes)
{
    if (m_fd == os::kNoHandle)
        throw PlatformError(codeForErrno(os::errorNotConnected()), QStringLiteral("The socket is not connected."));
    if (maxBytes == 0)
        return 0;
    if (!waitFor(m_fd, os::kReadable))
        return 0;
    QByteArray chunk(int(maxBytes), Qt::Uninitialized);
    for (;;) {
        const qint64 n = os::readSome(m_fd, chunk.data(), maxBytes);
        if (n > 0) {
            m_inBuffer.append(chunk.constData(), int(n));
            return quint32(n);
        }
        if (n == 0) {
            onEndOfStream();
            return 0;
        }
        const int err = os::lastError();
        if (os::isTransient(err)) {
            if (!waitFor(m_fd, os::kReadable))
                return 0;
            continue;
        }
        throwErrno(err);
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
    if (m_fd == os::kNoHandle)
        throw PlatformError(codeForErrno(os::errorNotConnected()), QStringLiteral("The socket is not connected."));
    quint32 sent = 0;
    while (!m_outBuffer.isEmpty()) {
        // After abort() the program is shutting down: drop what is left.
        if (!waitFor(m_fd, os::kWritable)) {
            m_outBuffer.clear();
            break;
        }
        const qint64 n = os::writeSome(m_fd, m_outBuffer.constData(), m_outBuffer.size());
        if (n < 0) {
            const int err = os::lastError();
            if (os::isTransient(err))
                continue;
            m_outBuffer.clear();
            throwErrno(err);
        }
        m_outBuffer.remove(0, int(n));
        sent += quint32(n);
    }
    return sent;
}

void FdStreamSocket::abort()
{
    m_aborted.store(true);
    m_abort.signal();
    close();
}

} // namespace platform
