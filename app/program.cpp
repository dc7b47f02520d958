#include "program.h"
#include "quitonsignals.h"
#include "wiring.h"

#include "../platform/apartment.h"
#include "../platform/bluetooth.h"
#include "../ui/appmanager.h"

#include <QApplication>
#include <QDebug>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QUrl>

void exitWhenWindowMissing(QQmlApplicationEngine &engine, const QUrl &url)
{
    QObject::connect(&engine, &QQmlApplicationEngine::objectCreated, QCoreApplication::instance(),
                     [url](QObject *object, const QUrl &objectUrl) {
                         if (!object && url == objectUrl)
                             QCoreApplication::exit(-1);
                     },
                     Qt::QueuedConnection);
}

int runKestrolune(int argc, char **argv, const BluetoothFactory &makeBluetooth,
                  const std::function<void(QQmlApplicationEngine &)> &onWindowLoaded)
{
    AppManager appManager;

    const long apartment = platform::initApartment();
    if (apartment < 0) {
        qCritical() << "CoInitializeEx failed:" << apartment;
        return 1;
    }

    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QApplication app(argc, argv);
    // Logout, Ctrl-C and a closed terminal end the program like the exit button.
    const QuitOnSignals quitOnSignals;

    appManager.stopBTAGService();
    QApplication::setWindowIcon(QIcon(QStringLiteral("./qml/resource/AirPods.ico")));
    appManager.loadFonts();

    QQmlApplicationEngine engine;
    const QUrl url(QStringLiteral("qrc:/qml/main.qml"), QUrl::TolerantMode);
    exitWhenWindowMissing(engine, url);
    engine.load(url);
    if (onWindowLoaded)
        onWindowLoaded(engine);

    RFCManager *manager = startDeviceManagement(engine, appManager, makeBluetooth());

    const int result = app.exec();

    // Stop the device manager and its links before the window, the engine
    // and the application object go away, so nothing reaches them afterwards.
    stopDeviceManagement(manager, appManager);
    return result;
}
