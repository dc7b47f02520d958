#pragma once

#include "streamsocket.h"
#include "os/wakeevent.h"

#include <QDeadlineTimer>

#include <atomic>

namespace platform {

// A StreamSocket over a connected system socket (a descriptor on Linux, a
// SOCKET on Windows). The backends provide connect(); loads, stores and
// abort() work the same for all of them. Every wait polls the socket together
// with an abort event, so abort() from another thread ends any wait at once.
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
    // Takes ownership of a connected socket.
    void adopt(os::Handle fd);
    os::Handle fd() const { return m_fd.load(); }

    // Waits until fd is ready for events (os::kReadable, os::kWritable);
    // false when aborted. Past the deadline it throws the platform error for
    // a timed-out operation.
    bool waitFor(os::Handle fd, short events,
                 const QDeadlineTimer &deadline = QDeadlineTimer(QDeadlineTimer::Forever));

    // Called when a load sees the end of the stream; a backend that knows the
    // stream broke rather than ended may throw here.
    virtual void onEndOfStream() {}

private:
    std::atomic<os::Handle> m_fd{os::kNoHandle}; // set by the link's thread; close() may come from any
    os::WakeEvent m_abort;
    std::atomic<bool> m_aborted{false};
    QByteArray m_inBuffer;
    QByteArray m_outBuffer;
};

// The platform error for a failed system call (err: errno on Linux, the
// Winsock error on Windows), with the system's own message. Errors that mean
// the peer went away carry kOperationAborted.
[[noreturn]] void throwErrno(int err);
qint32 codeForErrno(int err);

} // namespace platform
