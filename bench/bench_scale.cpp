// Scale: one scan cycle (enumeration and reconciliation) with 10, 100 and
// 1000 paired devices, in the simulated world and against a mocked BlueZ;
// and the window with 1000 rows; a click with a large profile map.   bench_scale [table file]
#include "app/program.h"
#include "devices/enumeration.h"
#include "devices/scancycle.h"
#include "platform/sim/simworld.h"
#ifdef KESTROLUNE_BLUEZ
#include "platform/bluez/bluezbluetooth.h"
#include "tests/platform/mockbluez.h"
#endif

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QQmlApplicationEngine>
#include <QTextStream>
#include <algorithm>

namespace {

void quiet(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type >= QtWarningMsg)
        QTextStream(stderr) << message << "\n";
}

double median(QVector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}

QString ms(double value) { return QString::number(value, 'f', 3); }

// Milliseconds per full cycle, steady state (every device already known).
double cycleMs(platform::Bluetooth &bluetooth, int rounds)
{
    QMap<QString, QDateTime> lastSeen;
    KnownLevels known;
    LinkBackoff backoff;
    QJsonObject profiles;
    QVector<double> times;
    for (int r = 0; r < rounds + 1; ++r) {
        QElapsedTimer t;
        t.start();
        const QJsonArray records = enumeratePairedDevices(bluetooth, [](const QString &) {});
        reconcileScan(records, profiles, lastSeen, QDateTime::currentDateTime(), [](const QString &) { return false; }, known,
                      backoff);
        if (r > 0)
            times << t.nsecsElapsed() / 1e6;
    }
    return median(times);
}

} // namespace

int main(int argc, char **argv)
{
    qInstallMessageHandler(quiet);
    QApplication application(argc, argv);
    chooseSceneGraphBackend(); // as the program draws its window
    QFile table(argc > 1 ? QString(argv[1]) : QStringLiteral("/dev/stdout"));
    table.open(QIODevice::WriteOnly | QIODevice::Truncate);
    QTextStream out(&table);
    const QList<int> sizes{10, 100, 1000};

    out << "| devices | simulated world, ms per cycle | mocked BlueZ, ms per cycle | of which the bus call alone "
           "| mocked BlueZ with Battery1 on every device (of which the bus call) |\n|---|---|---|---|---|\n";
#ifdef KESTROLUNE_BLUEZ
    MockBluez bus;
    const bool bluezUp = bus.busRunning() && bus.startBluez();
    if (bluezUp)
        bus.addAdapter("hci0");
    int paired = 0;
#endif
    for (int n : sizes) {
        platform::sim::SimWorld world;
        for (int i = 0; i < n; ++i) {
            const QString id = QStringLiteral("dev-%1").arg(i, 4, 10, QLatin1Char('0'));
            world.addDevice({id, id, i % 3 == 0,
                             {{platform::sim::SimWorld::kHandsFreeUuid, "hf-" + id, "host-" + id},
                              {QUuid("{0000110b-0000-1000-8000-00805f9b34fb}"), "a2dp-" + id, "host-" + id}}});
        }
        const double sim = cycleMs(world, 20);
        QString bluez = "n/a";
        QString rawCall = "n/a";
        QString withBattery = "n/a";
#ifdef KESTROLUNE_BLUEZ
        if (bluezUp) {
            for (int i = paired; i < n; ++i, ++paired) {
                const QString address = QStringLiteral("AA:BB:CC:%1:%2:%3").arg(i / 10000 % 100, 2, 10, QLatin1Char('0'))
                                            .arg(i / 100 % 100, 2, 10, QLatin1Char('0')).arg(i % 100, 2, 10, QLatin1Char('0'));
                bus.addDevice("hci0", address, QStringLiteral("Device %1").arg(i), true);
            }
            platform::bluez::BluezBluetooth bluetooth;
            bluez = ms(cycleMs(bluetooth, 10));
            // The GetManagedObjects round trip itself (the mock's own cost
            // included), without taking the reply apart.
            auto rawCallMs = [&bus] {
                QVector<double> calls;
                for (int k = 0; k < 10; ++k) {
                    QElapsedTimer t;
                    t.start();
                    bus.bus().call(QDBusMessage::createMethodCall("org.bluez", "/", "org.freedesktop.DBus.ObjectManager",
                                                                  "GetManagedObjects"));
                    calls << t.nsecsElapsed() / 1e6;
                }
                return median(calls);
            };
            rawCall = ms(rawCallMs());
            // The same pass with a level that BlueZ knows on every device.
            auto path = [](int i) {
                return QStringLiteral("/org/bluez/hci0/dev_AA_BB_CC_%1_%2_%3").arg(i / 10000 % 100, 2, 10, QLatin1Char('0'))
                    .arg(i / 100 % 100, 2, 10, QLatin1Char('0')).arg(i % 100, 2, 10, QLatin1Char('0'));
            };
            for (int i = 0; i < n; ++i)
                bus.mock("SetBattery", {path(i), QVariant::fromValue(uchar(i % 101)), "HFP 1.7"});
            withBattery = ms(cycleMs(bluetooth, 10)) + " (bus call " + ms(rawCallMs()) + ")";
            for (int i = 0; i < n; ++i)
                bus.mock("RemoveBattery", {path(i)});
        }
#endif
        out << "| " << n << " | " << ms(sim) << " | " << bluez << " | " << rawCall << " | " << withBattery << " |\n";
        out.flush();
    }

    // The window with 1000 rows.
    QQmlApplicationEngine engine;
    engine.load(QUrl("qrc:/qml/main.qml"));
    QObject *window = engine.rootObjects().first();
    const int rows = 1000;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < rows; ++i) {
        const QJsonObject record{{"Id", QStringLiteral("dev-%1").arg(i)}, {"Name", QStringLiteral("Device %1").arg(i)}, {"Status", true}};
        QMetaObject::invokeMethod(window, "registerToIndex", Q_ARG(QVariant, QVariant::fromValue(record)));
    }
    QCoreApplication::processEvents();
    const double registerMs = t.nsecsElapsed() / 1e6;
    auto update = [&](const QString &id) {
        QVector<double> times;
        for (int k = 0; k < 50; ++k) {
            QElapsedTimer u;
            u.start();
            QMetaObject::invokeMethod(window, "updateDeviceBatteryValue", Q_ARG(QVariant, id), Q_ARG(QVariant, k));
            times << u.nsecsElapsed() / 1e6;
        }
        return median(times);
    };
    out << "\n| window with " << rows << " rows | ms |\n|---|---|\n";
    out << "| register all rows | " << ms(registerMs) << " |\n";
    out << "| update the first row | " << ms(update("dev-0")) << " |\n";
    out << "| update the last row | " << ms(update(QStringLiteral("dev-%1").arg(rows - 1))) << " |\n";

    // One click with a large configuration file: what the registry works
    // out (under its mutex, on the GUI thread) when one box changes.
    out << "\n| profile map entries | ms per click (reconcileProfiles) |\n|---|---|\n";
    for (int n : {1000, 8000, 32000}) {
        QJsonObject before;
        for (int i = 0; i < n; ++i)
            before.insert(QStringLiteral("dev-%1").arg(i), QJsonObject{{"listen", i % 2 == 0}, {"tray", i % 3 == 0}});
        QJsonObject after = before;
        setProfileEntry(after, "dev-1", "tray", true);
        const QStringList linked{"dev-0", "dev-2"};
        QVector<double> times;
        for (int k = 0; k < 5; ++k) {
            QElapsedTimer c;
            c.start();
            reconcileProfiles(before, after, linked, {});
            times << c.nsecsElapsed() / 1e6;
        }
        out << "| " << n << " | " << ms(median(times)) << " |\n";
        out.flush();
    }
    return 0;
}
