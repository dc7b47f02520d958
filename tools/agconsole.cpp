// The program's audio-gateway answers on a Unix socket, to watch a headset's
// dialogue by hand:  kestrolune-agconsole PATH
// Accepts one connection and answers every command the way a link does.
#include "link/atresponder.h"

#include <QTextStream>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace {
QString visible(QByteArray bytes)
{
    return QString::fromUtf8(bytes.replace("\r", "\\r").replace("\n", "\\n"));
}
} // namespace

int main(int argc, char **argv)
{
    QTextStream out(stdout);
    if (argc != 2) {
        QTextStream(stderr) << "usage: kestrolune-agconsole SOCKET-PATH\n";
        return 2;
    }
    ::unlink(argv[1]);
    const int server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, argv[1], sizeof address.sun_path - 1);
    if (server < 0 || ::bind(server, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(server, 1) != 0) {
        QTextStream(stderr) << "cannot listen on " << argv[1] << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    out << "waiting on " << argv[1] << "\n";
    out.flush();
    const int fd = ::accept(server, nullptr, nullptr);
    char buffer[1024];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        const QByteArray received(buffer, int(n));
        out << "HF> " << visible(received) << "\n";
        bool sent = true;
        // Every command of the read gets its own answer, as on a link.
        for (const QByteArray &command : splitCommands(received)) {
            const AtReply reply = answerCommand(command);
            if (reply.notice)
                out << kNoiseReductionNotice;
            out << "AG< " << visible(reply.text) << "\n";
            if (reply.battery)
                out << "    battery level " << *reply.battery << "\n";
            else if (!reply.ignoredReport.isEmpty())
                out << "    no battery level: " << reply.ignoredReport << "\n";
            out.flush();
            sent = ::send(fd, reply.text.constData(), size_t(reply.text.size()), MSG_NOSIGNAL) >= 0;
            if (!sent)
                break;
        }
        if (!sent)
            break;
    }
    out << "stream ended\n";
    ::close(fd);
    ::close(server);
    ::unlink(argv[1]);
    return 0;
}
