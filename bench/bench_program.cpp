// kestrolune as it runs, on a simulated world of eight headsets that connect
// and then stay quiet. With the single argument --first-frame it prints the
// wall-clock time of its first frame (nanoseconds since the epoch) and quits.
#include "app/program.h"
#include "platform/sim/simworld.h"

#include <QCoreApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>

#include <cstdio>
#include <cstring>
#include <ctime>

int main(int argc, char **argv)
{
    const bool firstFrame = argc > 1 && std::strcmp(argv[1], "--first-frame") == 0;
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
        [firstFrame](QQmlApplicationEngine &engine) {
            if (!firstFrame || engine.rootObjects().isEmpty())
                return;
            auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().first());
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
        });
}
