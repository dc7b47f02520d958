#include "quitonsignals.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_fds[2] = {-1, -1}; // [0] written by the handler, [1] read in the event loop
const int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
struct sigaction g_previous[3];

extern "C" void onQuitSignal(int signal)
{
    const unsigned char byte = static_cast<unsigned char>(signal);
    const int saved = errno;
    [[maybe_unused]] const ssize_t n = ::write(g_fds[0], &byte, 1); // async-signal-safe
    errno = saved;
}

} // namespace

QuitOnSignals::QuitOnSignals(QObject *parent) : QObject(parent)
{
    if (g_fds[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_fds) != 0) {
        qWarning() << "QuitOnSignals: cannot watch for SIGTERM, SIGINT and SIGHUP";
        return;
    }
    m_notifier = new QSocketNotifier(g_fds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitOnSignals::onSignal);
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i)
        ::sigaction(kSignals[i], &action, &g_previous[i]);
}

QuitOnSignals::~QuitOnSignals()
{
    if (!m_notifier)
        return;
    for (int i = 0; i < 3; ++i)
        ::sigaction(kSignals[i], &g_previous[i], nullptr);
    delete m_notifier;
    m_notifier = nullptr;
    ::close(g_fds[0]);
    ::close(g_fds[1]);
    g_fds[0] = g_fds[1] = -1;
}

void QuitOnSignals::onSignal()
{
    unsigned char byte = 0;
    int received = 0;
    while (::read(g_fds[1], &byte, 1) == 1)
        received = byte;
    qDebug() << "QuitOnSignals: signal" << received << "- exiting";
    QCoreApplication::quit();
}
