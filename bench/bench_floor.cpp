// The floor for the program's resident memory: a bare Qt Quick window with
// one text in the program's font, on the same Qt and the same scene graph
// back end. Prints "probe floor <resident KiB> <frames drawn>" 5 s after its
// first frame, and quits. Run from the build directory (the font).
#include "app/program.h"
#include "memoryprobe.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTimer>

int main(int argc, char **argv)
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QGuiApplication app(argc, argv);
    chooseSceneGraphBackend();
    QFontDatabase::addApplicationFont(QStringLiteral("./qml/resource/SourceHanSans-Medium.otf"));
    QQmlApplicationEngine engine;
    engine.loadData("import QtQuick 2.15\n"
                    "import QtQuick.Window 2.15\n"
                    "Window { visible: true; width: 640; height: 480; color: \"#eff4f9\"\n"
                    "  Text { anchors.centerIn: parent; text: \"蓝牙未开启\"; color: \"red\"\n"
                    "         font.family: \"Source Han Sans\"; font.pixelSize: 20 } }\n");
    if (engine.rootObjects().isEmpty())
        return 1;
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().first());
    int frames = 0;
    QObject::connect(window, &QQuickWindow::frameSwapped, window, [&frames] {
        if (++frames == 1)
            QTimer::singleShot(5000, [&frames] {
                printProbe("floor", frames);
                QCoreApplication::exit(0);
            });
    });
    return app.exec();
}
