// The link's read path fed an arbitrary byte stream, as a headset would send
// it: every load is answered or ends the loop, and nothing crashes or hangs.
#include "link/rfcbase.h"
#include "platform/datareader.h"
#include "platform/fdstreamsocket.h"
#include "platform/sim/simworld.h"

#include <QCoreApplication>

#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

namespace {

class PairSocket : public platform::FdStreamSocket
{
public:
    explicit PairSocket(int fd) { adopt(fd); }
    void connect(const QString &, const QString &, platform::ProtectionLevel) override {}
};

// Reaches the link's own read step without its thread and its pauses.
class ReadPath : public RFCBase
{
public:
    explicit ReadPath(platform::Bluetooth &bluetooth) : RFCBase("fuzz", "host", "service", bluetooth) {}
    int serve(platform::StreamSocket &socket)
    {
        platform::DataReader reader(socket);
        platform::DataWriter writer(socket);
        setWriter(&writer);
        int reads = 0;
        while (read(&reader))
            ++reads;
        setWriter(nullptr);
        return reads;
    }
};

void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static platform::sim::SimWorld world;
    static const auto installed = qInstallMessageHandler(quiet);
    (void)installed;

    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        std::abort();
    // The headset's whole stream, then its end; replies stay in its buffer.
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fds[1], data + done, size - done);
        if (n <= 0)
            std::abort();
        done += size_t(n);
    }
    ::shutdown(fds[1], SHUT_WR);
    // The headset reads the replies as they come, so that the link's writes
    // never wait on a full socket; it sees the end when the link's socket goes.
    std::thread drain([fd = fds[1]] {
        char buffer[4096];
        while (::read(fd, buffer, sizeof buffer) > 0) {
        }
    });
    {
        PairSocket socket(fds[0]);
        ReadPath link(world);
        const int reads = link.serve(socket);
        // The whole stream is queued before the first load and every load
        // takes up to 1024 bytes of it: one read per 1024 bytes begun.
        if (reads != int((size + 1023) / 1024))
            std::abort();
    }
    drain.join();
    ::close(fds[1]);
    return 0;
}
