// Report-to-screen latency: from the moment a simulated headset is told to
// report a level to the moment the window's row holds it as BatteryValue,
// through the real wiring. Each report reaches a link that waits in its load,
// alone in its read or followed by two more commands in the same read.
//   bench_latency [reports=500] [table file, default standard output]
#include "app/program.h"
#include "app/wiring.h"
#include "devices/rfcmanager.h"
#include "platform/sim/simworld.h"
#include "ui/appmanager.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QQmlApplicationEngine>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <algorithm>
#include <utility>
#include <chrono>

using Clock = std::chrono::steady_clock;

namespace {

void quiet(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type >= QtWarningMsg)
        QTextStream(stderr) << message << "\n";
}

struct Result
{
    int headsets;
    bool pipelined;
    QVector<double> ms;
};

// pipelined: each report shares its read with two more commands, as a
// headset with queued commands writes them.
Result measure(int headsets, int reports, bool pipelined)
{
    QTemporaryDir home;
    auto world = std::make_shared<platform::sim::SimWorld>();
    QJsonObject profiles;
    QList<std::shared_ptr<platform::sim::SimHeadset>> list;
    QStringList ids;
    for (int i = 0; i < headsets; ++i) {
        const QString id = QStringLiteral("h%1").arg(i);
        list << world->addHeadset(id, id);
        ids << id;
        profiles.insert(id, QJsonObject{{"listen", true}});
    }
    QFile config(home.filePath("kestrolune.json"));
    config.open(QIODevice::WriteOnly);
    config.write(QJsonDocument(profiles).toJson());
    config.close();

    AppManager app;
    app.setConfigPath(config.fileName());
    QQmlApplicationEngine engine;
    engine.load(QUrl("qrc:/qml/main.qml"));
    auto *model = engine.rootObjects().first()->findChild<QAbstractItemModel *>("deviceModel");

    QHash<QString, Clock::time_point> shownAt;
    QHash<QString, int> shownValue;
    QObject::connect(model, &QAbstractItemModel::dataChanged, model, [&](const QModelIndex &i, const QModelIndex &, const QVector<int> &) {
        // The model has its roles once the first row is in.
        const QString id = model->data(i, model->roleNames().key("Id")).toString();
        shownValue[id] = model->data(i, model->roleNames().key("BatteryValue")).toInt();
        shownAt[id] = Clock::now();
    });
    RFCManager *manager = startDeviceManagement(engine, app, world);

    auto waitFor = [](const std::function<bool()> &done, int ms) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < ms)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return done();
    };
    // All links up and their first report shown.
    if (!waitFor([&] { return shownValue.size() == headsets; }, 30000))
        QTextStream(stderr) << "links not up: " << shownValue.size() << " of " << headsets << "\n";

    waitFor([] { return false; }, 230); // past the pause after the first report

    Result result{headsets, pipelined, {}};
    int level = 0;
    while (result.ms.size() < reports) {
        level = level == 90 ? 10 : level + 1;
        QHash<QString, Clock::time_point> sentAt;
        for (int i = 0; i < headsets; ++i) {
            sentAt[ids[i]] = Clock::now();
            if (pipelined)
                list[i]->send("AT+BIEV=2," + QByteArray::number(level) + "\rAT+CLCC\rAT+VGS=9\r");
            else
                list[i]->setLevel(level);
        }
        if (!waitFor([&] {
                return std::all_of(ids.cbegin(), ids.cend(), [&](const QString &id) { return shownValue.value(id) == level; });
            }, 5000)) {
            QTextStream(stderr) << "a report did not arrive\n";
            break;
        }
        for (const QString &id : ids)
            result.ms << std::chrono::duration<double, std::milli>(shownAt[id] - sentAt[id]).count();
        // Past the link's 200 ms pause: the next report finds it in its load.
        waitFor([] { return false; }, 230);
    }
    stopDeviceManagement(manager, app);
    return result;
}

double percentile(QVector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[std::min<int>(v.size() - 1, int(p * (v.size() - 1) + 0.5))];
}

} // namespace

int main(int argc, char **argv)
{
    qInstallMessageHandler(quiet);
    QApplication application(argc, argv);
    chooseSceneGraphBackend(); // as the program draws its window
    const int reports = argc > 1 ? QString(argv[1]).toInt() : 500;
    QFile table(argc > 2 ? QString(argv[2]) : QStringLiteral("/dev/stdout"));
    table.open(QIODevice::WriteOnly | QIODevice::Truncate);
    QTextStream out(&table);
    out << "| headsets | one read holds | reports | p50 ms | p99 ms | max ms |\n|---|---|---|---|---|---|\n";
    for (const auto &[headsets, pipelined] : {std::pair{1, false}, {8, false}, {1, true}, {8, true}}) {
        const Result r = measure(headsets, reports, pipelined);
        out << "| " << r.headsets << " | " << (r.pipelined ? "the report and 2 more commands" : "the report")
            << " | " << r.ms.size() << " | " << QString::number(percentile(r.ms, 0.5), 'f', 2)
            << " | " << QString::number(percentile(r.ms, 0.99), 'f', 2) << " | "
            << QString::number(percentile(r.ms, 1.0), 'f', 2) << " |\n";
        out.flush();
    }
    return 0;
}
