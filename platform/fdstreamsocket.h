#pragma once

#include "streamsocket.h"

#include <QDeadlineTimer>

#include <atomic>

namespace platform {

// A StreamSocket over a connected file descriptor (a kernel socket). The
// backends provide connect(); loads, stores and abort() work the same for all
// of them. Every wait polls the descriptor together with an abort event, so
// abort() from another thread ends any wait at once.
class FdStreamSocket : public StreamSocket
{
public:
    FdStreamSocket();
    ~FdStreamSocket() override;

    FdStreamSocket(const FdStreamSocket &) = delete;
    FdStreamSocket &operator=(const FdStreamSocket &) = delete;

    quint32 load(quint32 maxBytes) override;
    QByteArray readBytes(quint32 count) override;
    void writeBytes(const QByteArray &bytes) override;
    quint32 store() override;
    void abort() override;
    void close() override;

protected:
    // Takes ownership of a connected descriptor.
    void adopt(int fd);
    int fd() const { return m_fd.load(); }

    // Waits until fd is ready for events (POLLIN/POLLOUT); false when
    // aborted. Past the deadline it throws the platform error for ETIMEDOUT.
    bool waitFor(int fd, short events, const QDeadlineTimer &deadline = QDeadlineTimer(QDeadlineTimer::Forever));

    // Called when a load sees the end of the stream; a backend that knows the
    // stream broke rather than ended may throw here.
    virtual void onEndOfStream() {}

private:
    std::atomic<int> m_fd{-1}; // set by the link's thread; close() may come from any
    int m_abortFd = -1;
    std::atomic<bool> m_aborted{false};
    QByteArray m_inBuffer;
    QByteArray m_outBuffer;
};

// The platform error for a failed system call, with the system's own message.
// Errors that mean the peer went away carry kOperationAborted.
[[noreturn]] void throwErrno(int err);
qint32 codeForErrno(int err);

} // namespace platform
