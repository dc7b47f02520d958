#include "program.h"
#include "sessionend.h"
#include "singleinstance.h"
#include "configstore.h"
#include "wiring.h"

#include "../platform/os/apartment.h"
#include "../platform/os/paths.h"
#include "../platform/bluetooth.h"
#include "../ui/appmanager.h"

#include <QApplication>
#include <QDebug>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QUrl>

void chooseSceneGraphBackend()
{
    // The program lives in the tray all session, its window mostly hidden.
    // Drawn in software, the window needs no OpenGL context and driver in
    // memory: about a third of the resident memory of the OpenGL back end,
    // with the same pixels for this window (see bench/RESULTS.md).
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
}

void exitWhenWindowMissing(QQmlApplicationEngine &engine, const QUrl &url)
{
    QObject::connect(&engine, &QQmlApplicationEngine::objectCreated, QCoreApplication::instance(),
                     [url](QObject *object, const QUrl &objectUrl) {
                         if (!object && url == objectUrl)
                             QCoreApplication::exit(-1);
                     },
                     Qt::QueuedConnection);
}

namespace {

// A hidden window draws nothing; what its scene graph caches (glyphs,
// textures) is given back until it is shown again. The connection is to be
// cut before the window is destroyed: its destructor hides it once more,
// when it is no QQuickWindow any longer.
QMetaObject::Connection releaseGraphicsWhenHidden(QQuickWindow *window)
{
    window->setPersistentSceneGraph(false);
    window->setPersistentOpenGLContext(false);
    return QObject::connect(window, &QWindow::visibleChanged, window, [window](bool visible) {
        if (!visible)
            window->releaseResources();
    });
}

} // namespace

int runKestrolune(int argc, char **argv, const BluetoothFactory &makeBluetooth,
                  const std::function<void(QQmlApplicationEngine &)> &onWindowLoaded)
{
    AppManager appManager;

    const long apartment = platform::os::initApartment();
    if (apartment < 0) {
        qCritical() << "CoInitializeEx failed:" << apartment;
        return 1;
    }

    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    // Icons drawn from their "@2x" pictures on a scaled screen (the tray icons).
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    // At logout Qt would otherwise ask every window to close, and the window
    // refuses (closing only hides it): that refusal vetoes the end of the
    // session ("this app is preventing you from signing out" on Windows). The
    // program ends itself when the session ends (SessionEnd below).
    QGuiApplication::setFallbackSessionManagementEnabled(false);
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("kestrolune")); // the menu entry's name
    platform::os::enterProgramFolder();
    // The end of the session ends the program like the exit button.
    RFCManager *manager = nullptr;
    const SessionEnd sessionEnd([&manager, &appManager] {
        stopDeviceManagement(manager, appManager);
        manager = nullptr;
    });

    // A second start with the same home brings the first one's window forward.
    SingleInstance instance(SingleInstance::runtimeDirectory(), ConfigStore::defaultPath());
    if (!instance.claim())
        return 0;

    chooseSceneGraphBackend();
    appManager.stopBTAGService();
    QApplication::setWindowIcon(QIcon(QStringLiteral("./qml/resource/AirPods.ico")));
    appManager.loadFonts();

    QQmlApplicationEngine engine;
    const QUrl url(QStringLiteral("qrc:/qml/main.qml"), QUrl::TolerantMode);
    exitWhenWindowMissing(engine, url);
    engine.load(url);
    if (onWindowLoaded)
        onWindowLoaded(engine);
    QMetaObject::Connection releaseWhenHidden;
    if (auto *window = qobject_cast<QQuickWindow *>(windowOf(engine))) {
        releaseWhenHidden = releaseGraphicsWhenHidden(window);
        QObject::connect(&instance, &SingleInstance::activationRequested, window, [window] {
            window->show();
            window->raise();
            window->requestActivate();
        });
    }

    manager = startDeviceManagement(engine, appManager, makeBluetooth());
    appManager.watchTray();

    const int result = app.exec();
    QObject::disconnect(releaseWhenHidden);

    // Stop the device manager and its links before the window, the engine
    // and the application object go away, so nothing reaches them afterwards.
    stopDeviceManagement(manager, appManager);
    return result;
}
