#include "../sessionend.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QDebug>

#include <windows.h>

#include <cstdio>

// Every top-level window of the program gets the session's end; the first
// one stops the program before the message is answered.
struct SessionEnd::Watch : QAbstractNativeEventFilter
{
    explicit Watch(std::function<void()> stop) : stop(std::move(stop)) {}

    bool nativeEventFilter(const QByteArray &type, void *message, long *) override
    {
        if (type != "windows_generic_MSG")
            return false;
        const MSG *msg = static_cast<const MSG *>(message);
        if (msg->message != WM_ENDSESSION || !msg->wParam || stopped)
            return false;
        stopped = true;
        qDebug() << "SessionEnd: the session ends - exiting";
        if (stop)
            stop();
        // Windows ends the process once the message is answered, with no
        // status of ours; what matters is stopped and released, so the
        // program ends here, with the exit button's status.
        std::fflush(nullptr);
        TerminateProcess(GetCurrentProcess(), 0);
        return false;
    }

    std::function<void()> stop;
    bool stopped = false;
};

SessionEnd::SessionEnd(std::function<void()> stop) : m_watch(std::make_unique<Watch>(std::move(stop)))
{
    QCoreApplication::instance()->installNativeEventFilter(m_watch.get());
}

SessionEnd::~SessionEnd()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(m_watch.get());
}
