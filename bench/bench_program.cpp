// kestrolune as it runs, on a simulated world of eight headsets that connect
// and then stay quiet.
//   --first-frame   prints the wall-clock time of its first frame
//                   (nanoseconds since the epoch) and quits
//   --footprint M   prints "probe <label> <resident KiB> <frames drawn>" at
//                   the first frame, after 60 s with the window shown, then
//                   hides the window and probes after another 60 s and at M
//                   minutes; then quits
#include "app/program.h"
#include "platform/sim/simworld.h"
#include "memoryprobe.h"

#include <QCoreApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <cstring>
#include <ctime>

namespace {

void watchFirstFrame(QQuickWindow *window)
{
    QObject::connect(window, &QQuickWindow::frameSwapped, window, [] {
        static bool reported = false;
        if (reported)
            return;
        reported = true;
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        std::printf("first-frame-ns %lld\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
        std::fflush(stdout);
        QCoreApplication::exit(0);
    });
}

void watchFootprint(QQuickWindow *window, int minutes)
{
    const auto frames = std::make_shared<int>(0);
    QObject::connect(window, &QQuickWindow::frameSwapped, window, [frames, window] {
        if (++*frames == 1)
            QTimer::singleShot(500, window, [frames] { printProbe("start", *frames); });
    });
    QTimer::singleShot(60 * 1000, window, [frames, window] {
        printProbe("shown-60s", *frames);
        window->hide();
    });
    QTimer::singleShot(120 * 1000, window, [frames] { printProbe("hidden-60s", *frames); });
    QTimer::singleShot(minutes * 60 * 1000, window, [frames] {
        printProbe("end", *frames);
        QCoreApplication::exit(0);
    });
}

} // namespace

int main(int argc, char **argv)
{
    const bool firstFrame = argc > 1 && std::strcmp(argv[1], "--first-frame") == 0;
    const int footprintMinutes = argc > 2 && std::strcmp(argv[1], "--footprint") == 0 ? std::atoi(argv[2]) : 0;
    return runKestrolune(
        argc, argv,
        [] {
            auto world = std::make_shared<platform::sim::SimWorld>();
            for (int i = 0; i < 8; ++i) {
                const QString id = QStringLiteral("bench-%1").arg(i);
                world->addHeadset(id, QStringLiteral("Headset %1").arg(i));
            }
            return world;
        },
        [firstFrame, footprintMinutes](QQmlApplicationEngine &engine) {
            if (engine.rootObjects().isEmpty())
                return;
            auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().first());
            if (firstFrame)
                watchFirstFrame(window);
            else if (footprintMinutes > 2)
                watchFootprint(window, footprintMinutes);
        });
}
