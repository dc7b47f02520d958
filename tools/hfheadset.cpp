// A simulated hands-free headset, to watch its dialogue with an audio gateway.
//   kestrolune-headset [--socket PATH | --fd N] [--levels 100,85,20] [--features N] [--stay]
//                      [--ask-operator]
// Connects to the Unix socket PATH, or talks over the inherited connected
// descriptor N (a hands-free connection that BlueZ handed over), or over
// standard input and output; runs the service level connection, reports each
// level a second apart, then closes the stream. With --stay it keeps the
// connection instead, until the audio gateway ends it. With --ask-operator it
// also asks for the operator's name after the set-up, as many headsets do.
// The dialogue goes to standard error.
#include "platform/sim/headsetsession.h"

#include <QString>
#include <QStringList>
#include <QTextStream>
#include <QThread>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <thread>

using platform::sim::HeadsetOptions;
using platform::sim::HeadsetSession;

int main(int argc, char **argv)
{
    QString socketPath;
    QList<int> levels{100, 85, 20};
    HeadsetOptions options;
    int inheritedFd = -1;
    bool stay = false;
    for (int i = 1; i < argc; ++i) {
        const QString flag = QString::fromLocal8Bit(argv[i]);
        if (flag == "--stay") {
            stay = true;
            continue;
        }
        if (flag == "--ask-operator") {
            options.askOperator = true;
            continue;
        }
        if (i + 1 >= argc)
            break;
        const QString value = QString::fromLocal8Bit(argv[++i]);
        if (flag == "--socket")
            socketPath = value;
        else if (flag == "--fd")
            inheritedFd = value.toInt();
        else if (flag == "--features")
            options.features = value.toInt();
        else if (flag == "--levels") {
            levels.clear();
            for (const QString &l : value.split(','))
                levels << l.toInt();
        }
    }
    if (!levels.isEmpty())
        options.level = levels.takeFirst();

    int readFd = STDIN_FILENO, writeFd = STDOUT_FILENO;
    if (inheritedFd >= 0) {
        if (::fcntl(inheritedFd, F_GETFD) < 0) {
            QTextStream(stderr) << "no descriptor " << inheritedFd << ": " << std::strerror(errno) << "\n";
            return 1;
        }
        readFd = writeFd = inheritedFd;
    } else if (!socketPath.isEmpty()) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socketPath.toLocal8Bit().constData(), sizeof address.sun_path - 1);
        if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            QTextStream(stderr) << "cannot connect to " << socketPath << ": " << std::strerror(errno) << "\n";
            return 1;
        }
        readFd = writeFd = fd;
    }

    QTextStream err(stderr);
    HeadsetSession session(readFd, writeFd, options, [&err](const QString &line) {
        err << line << "\n";
        err.flush();
    });
    std::thread runner([&session] { session.run(); });
    const bool setUp = session.waitForSetUp(options.replyTimeoutMs * 12);
    if (setUp) {
        for (int level : levels) {
            QThread::msleep(1000);
            session.setLevel(level);
        }
        if (stay) {
            while (!session.agClosed() && !session.hasEnded())
                QThread::msleep(20);
        } else {
            QThread::msleep(1000);
            session.closeCleanly();
            QThread::msleep(200);
        }
    }
    session.stop();
    runner.join();
    const QStringList failures = session.failures();
    for (const QString &f : failures)
        err << "FAILED: " << f << "\n";
    return setUp && failures.isEmpty() ? 0 : 1;
}
