// Change to screen against a mocked BlueZ that signals as bluetoothd does,
// through the real wiring and the BlueZ backend: a Battery1 level changed
// to the window's row holding it, and a 监听 tick to BlueZ's ConnectProfile
// call (timed by the mock on the same monotonic clock).
//   bench_signals [tries=20] [table file, default standard output]
#include "app/program.h"
#include "app/wiring.h"
#include "devices/rfcmanager.h"
#include "platform/bluez/bluezbluetooth.h"
#include "tests/platform/mockbluez.h"
#include "ui/appmanager.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QQmlApplicationEngine>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock; // CLOCK_MONOTONIC, as the mock's time.monotonic()

void quiet(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type >= QtWarningMsg)
        QTextStream(stderr) << message << "\n";
}

bool waitFor(const std::function<bool()> &done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    return done();
}

double seconds(Clock::time_point t)
{
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

QString row(const char *what, QVector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    const auto at = [&ms](int i) { return ms.isEmpty() ? QStringLiteral("n/a") : QString::number(ms[i], 'f', 1); };
    return QStringLiteral("| %1 | %2 | %3 | %4 |\n").arg(what).arg(ms.size()).arg(at(ms.size() / 2)).arg(at(ms.size() - 1));
}

} // namespace

int main(int argc, char **argv)
{
    qInstallMessageHandler(quiet);
    QApplication application(argc, argv);
    chooseSceneGraphBackend();
    const int tries = argc > 1 ? QString(argv[1]).toInt() : 20;
    QFile table(argc > 2 ? QString(argv[2]) : QStringLiteral("/dev/stdout"));
    table.open(QIODevice::WriteOnly | QIODevice::Truncate);
    QTextStream out(&table);

    MockBluez bus;
    if (!bus.busRunning() || !bus.startBluez()) {
        QTextStream(stderr) << "bench_signals: no mocked BlueZ (python3-dbusmock)\n";
        return 1;
    }
    bus.addAdapter("hci0");
    const QString path = bus.addDevice("hci0", "AA:BB:CC:DD:EE:01", "Bench Headset", true);
    bus.setProperty(path, "org.bluez.Device1", "UUIDs", QStringList{"0000111e-0000-1000-8000-00805f9b34fb"});
    bus.connectDevice("hci0", "AA:BB:CC:DD:EE:01", true);

    QTemporaryDir home;
    AppManager app;
    app.setConfigPath(home.filePath("kestrolune.json"));
    QQmlApplicationEngine engine;
    engine.load(QUrl("qrc:/qml/main.qml"));
    QObject *window = engine.rootObjects().first();
    auto *model = window->findChild<QAbstractItemModel *>("deviceModel");
    auto shown = [model] {
        return model->rowCount() > 0 ? model->data(model->index(0, 0), model->roleNames().key("BatteryValue")).toInt() : -2;
    };
    RFCManager *manager = startDeviceManagement(engine, app, std::make_shared<platform::bluez::BluezBluetooth>());
    if (!waitFor([&] { return model->rowCount() == 1; }, 10000)) {
        QTextStream(stderr) << "bench_signals: the device never showed\n";
        return 1;
    }

    // A Battery1 level changed, to the row.
    QVector<double> levelMs;
    for (int i = 0; i < tries; ++i) {
        const int level = 30 + i;
        waitFor([] { return false; }, 100 + 37 * (i % 7)); // anywhere in the 3 s cycle
        const auto sent = Clock::now();
        bus.mock("SetBattery", {path, QVariant::fromValue(uchar(level)), ""});
        if (!waitFor([&] { return shown() == level; }, 5000))
            break;
        levelMs << std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
    }

    // A 监听 tick, to BlueZ's ConnectProfile.
    bus.mock("RemoveBattery", {path});
    QVector<double> tickMs;
    auto connects = [&] { return bus.mock("ConnectTimes", {path}).arguments().value(0).value<QDBusArgument>(); };
    auto count = [&] {
        QList<double> times;
        connects() >> times;
        return times;
    };
    for (int i = 0; i < tries; ++i) {
        QMetaObject::invokeMethod(window, "profileChanged", Q_ARG(QVariant, path), Q_ARG(QVariant, "listen"), Q_ARG(QVariant, false));
        waitFor([] { return false; }, 300 + 37 * (i % 7));
        const int before = count().size();
        const auto ticked = Clock::now();
        QMetaObject::invokeMethod(window, "profileChanged", Q_ARG(QVariant, path), Q_ARG(QVariant, "listen"), Q_ARG(QVariant, true));
        if (!waitFor([&] { return count().size() > before; }, 5000))
            break;
        tickMs << (count().last() - seconds(ticked)) * 1000;
    }

    out << "| change | tries | median ms | worst ms |\n|---|---|---|---|\n";
    out << row("a Battery1 level changed, to the row", levelMs);
    out << row("监听 ticked, to ConnectProfile", tickMs);
    stopDeviceManagement(manager, app);
    return 0;
}
