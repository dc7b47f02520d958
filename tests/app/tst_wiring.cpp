#include "app/program.h"
#include "app/wiring.h"
#include "devices/rfcmanager.h"
#include "platform/sim/simworld.h"
#include "support/logcapture.h"
#include "support/quickitems.h"
#include "support/recordingsink.h"
#include "ui/appmanager.h"
#include "ui/mysystemtrayicon.h"

#include <QAbstractItemModel>
#include <QJsonDocument>
#include <QQmlApplicationEngine>
#include <QTemporaryDir>
#include <QtTest>

using platform::sim::SimWorld;

// The program's object graph in one process, on a simulated world.
class TestWiring : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void profileReachesTheWindowOnceBeforeAnyDevice();
    void appManagerSavesBeforeTheRegistryHears();
    void levelReachesRowAndTrayIcon();
    void vanishedDeviceLosesRowAndTrayIcon();
    void checkBoxesActAtOnce();
    void exitWhileHeadsetsTalk();
    void missingWindowEndsWithMinusOne();

private:
    void startWith(const QByteArray &config);
    int row(const QString &id) const;
    QVariant role(const QString &id, const char *name) const;
    // Whether the icon shows qml/resource/battery/<picture>.png (run from the build directory).
    static bool shows(const QSystemTrayIcon *icon, const QString &picture)
    {
        const QImage file = QImage("qml/resource/battery/" + picture + ".png").convertToFormat(QImage::Format_ARGB32);
        return !file.isNull() && icon->icon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32) == file;
    }

    std::unique_ptr<QTemporaryDir> m_home;
    std::shared_ptr<SimWorld> m_world;
    std::shared_ptr<RecordingSink> m_sink;
    std::unique_ptr<AppManager> m_app;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    RFCManager *m_manager = nullptr;
    QAbstractItemModel *m_model = nullptr;
    std::unique_ptr<LogCapture> m_log;
};

void TestWiring::init()
{
    m_log = std::make_unique<LogCapture>();
    m_home = std::make_unique<QTemporaryDir>();
    m_world = std::make_shared<SimWorld>();
    m_sink = std::make_shared<RecordingSink>();
    m_app = std::make_unique<AppManager>();
    m_app->setMessageSink(m_sink);
    m_app->setConfigPath(m_home->filePath("kestrolune.json"));
}

void TestWiring::cleanup()
{
    stopDeviceManagement(m_manager, *m_app);
    m_manager = nullptr;
    m_engine.reset();
    m_app.reset();
    m_world.reset();
    m_log.reset();
}

void TestWiring::startWith(const QByteArray &config)
{
    if (!config.isNull()) {
        QFile f(m_home->filePath("kestrolune.json"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(config);
    }
    m_engine = std::make_unique<QQmlApplicationEngine>();
    m_engine->load(QUrl("qrc:/qml/main.qml"));
    QVERIFY(!m_engine->rootObjects().isEmpty());
    m_model = m_engine->rootObjects().first()->findChild<QAbstractItemModel *>("deviceModel");
    m_manager = startDeviceManagement(*m_engine, *m_app, m_world);
    QVERIFY(m_manager);
}

int TestWiring::row(const QString &id) const
{
    for (int r = 0; r < m_model->rowCount(); ++r)
        if (m_model->data(m_model->index(r, 0), m_model->roleNames().key("Id")).toString() == id)
            return r;
    return -1;
}

QVariant TestWiring::role(const QString &id, const char *name) const
{
    return m_model->data(m_model->index(row(id), 0), m_model->roleNames().key(name));
}

void TestWiring::profileReachesTheWindowOnceBeforeAnyDevice()
{
    m_world->addHeadset("a", "Alpha");
    startWith(R"({"a":{"tray":true}})");
    // Synchronously, before the registry's first signals can arrive.
    QCOMPARE(m_log->count("setDeviceProfile"), 1);
    QCOMPARE(m_model->rowCount(), 0);
    QObject *window = m_engine->rootObjects().first();
    QCOMPARE(window->property("deviceProfile").toMap().value("a").toMap().value("tray").toBool(), true);
    QTRY_COMPARE(m_model->rowCount(), 1);
    QCOMPARE(m_log->count("setDeviceProfile"), 1);
    QCOMPARE(m_manager->profiles(), QJsonDocument::fromJson(R"({"a":{"tray":true}})").object());
}

void TestWiring::appManagerSavesBeforeTheRegistryHears()
{
    startWith("{}");
    QObject *window = m_engine->rootObjects().first();
    const QString map = R"({"x":{"listen":true}})";
    QMetaObject::invokeMethod(window, "updateDeviceProfiles", Q_ARG(QString, map));
    // The emission has returned: the file is saved, the registry not yet told.
    QFile f(m_home->filePath("kestrolune.json"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(QJsonDocument::fromJson(f.readAll()).object(), QJsonDocument::fromJson(map.toUtf8()).object());
    QCOMPARE(m_manager->profiles(), QJsonObject());
    QTRY_COMPARE(m_manager->profiles(), QJsonDocument::fromJson(map.toUtf8()).object());
}

void TestWiring::levelReachesRowAndTrayIcon()
{
    auto headset = m_world->addHeadset("a", "Alpha");
    startWith(R"({"a":{"tray":true,"listen":true}})");
    QTRY_VERIFY_WITH_TIMEOUT(m_app->trayIcon("a"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(role("a", "BatteryValue").toInt(), 100, 8000);
    headset->setLevel(37);
    QTRY_COMPARE_WITH_TIMEOUT(role("a", "BatteryValue").toInt(), 37, 5000);
    QCOMPARE(m_app->trayIcon("a")->toolTip(), QStringLiteral("Alpha电量: 37"));
    headset->breakStream();
    QTRY_COMPARE_WITH_TIMEOUT(role("a", "ErrMsg").toString(), QStringLiteral("蓝牙设备已关闭"), 5000);
    // No level is claimed once the link has ended; the next link's level
    // clears the marker.
    QTRY_COMPARE(role("a", "BatteryValue").toInt(), -1);
    QCOMPARE(m_app->trayIcon("a")->toolTip(), QString());
    QVERIFY(shows(m_app->trayIcon("a"), "battery-unknown"));
    QTRY_COMPARE_WITH_TIMEOUT(role("a", "BatteryValue").toInt(), 37, 8000);
    QCOMPARE(role("a", "ErrMsg").toString(), QString());
    QVERIFY(shows(m_app->trayIcon("a"), "battery-37"));
}

void TestWiring::vanishedDeviceLosesRowAndTrayIcon()
{
    m_world->addHeadset("a", "Alpha");
    m_world->addDevice({"b", "Beta", false, {}});
    startWith(R"({"a":{"tray":true,"listen":true}})");
    QTRY_VERIFY_WITH_TIMEOUT(m_app->trayIcon("a"), 5000);
    QCOMPARE(m_model->rowCount(), 2);
    m_world->removeDevice("a");
    QTRY_COMPARE_WITH_TIMEOUT(row("a"), -1, 5000);
    QTRY_VERIFY(!m_app->trayIcon("a"));
    QCOMPARE(m_model->rowCount(), 1);
    // Back in the list: a new row, a new link, the icon again.
    m_world->addHeadset("a", "Alpha");
    QTRY_COMPARE_WITH_TIMEOUT(role("a", "BatteryValue").toInt(), 100, 10000);
    QTRY_VERIFY(m_app->trayIcon("a"));
}

void TestWiring::checkBoxesActAtOnce()
{
    auto headset = m_world->addHeadset("a", "Alpha", {0x196, 64});
    startWith(R"({"a":{"tray":true,"listen":true}})");
    auto *window = qobject_cast<QQuickWindow *>(m_engine->rootObjects().first());
    QVERIFY(QTest::qWaitForWindowExposed(window));
    auto click = [&](const char *box) {
        clickItem(window, findItem(findItem(deviceCards(window).value(0), box), "box"));
    };
    QTRY_COMPARE_WITH_TIMEOUT(role("a", "BatteryValue").toInt(), 64, 8000);
    QTRY_COMPARE(m_app->trayIcon("a")->toolTip(), QStringLiteral("Alpha电量: 64"));

    click("deviceItemCheckTray"); // off: the icon goes, the link stays
    QTRY_VERIFY(!m_app->trayIcon("a"));
    click("deviceItemCheckTray"); // on while the link runs: the icon comes with the level
    QTRY_VERIFY(m_app->trayIcon("a"));
    QCOMPARE(m_app->trayIcon("a")->toolTip(), QStringLiteral("Alpha电量: 64"));
    QVERIFY(!headset->session()->agClosed());

    click("deviceItemCheckListen"); // off: the channel is released, while the link waits in a load
    QTRY_VERIFY(headset->session()->agClosed());
    QTRY_VERIFY(!m_app->trayIcon("a"));
    QTRY_COMPARE(role("a", "BatteryValue").toInt(), -1);

    click("deviceItemCheckListen"); // on again: a new link, the level back
    QTRY_COMPARE_WITH_TIMEOUT(headset->connections(), 2, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(role("a", "BatteryValue").toInt(), 64, 8000);
    QTRY_VERIFY(m_app->trayIcon("a"));
}

void TestWiring::exitWhileHeadsetsTalk()
{
    QJsonObject map;
    QList<std::shared_ptr<platform::sim::SimHeadset>> headsets;
    for (int i = 0; i < 6; ++i) {
        const QString id = QStringLiteral("h%1").arg(i);
        headsets << m_world->addHeadset(id, id);
        map.insert(id, QJsonObject{{"listen", true}, {"tray", true}});
    }
    startWith(QJsonDocument(map).toJson());
    QTRY_VERIFY_WITH_TIMEOUT(role("h5", "BatteryValue").toInt() == 100, 10000);
    for (int level = 99; level > 95; --level)
        for (const auto &h : headsets)
            h->setLevel(level);
    stopDeviceManagement(m_manager, *m_app);
    m_manager = nullptr;
    QCOMPARE(m_log->count("did not stop"), 0); // every thread was joined, none left behind
    QVERIFY(!m_app->trayIcon("h0"));
    // Nothing queued before the stop reaches the window afterwards.
    const int before = role("h0", "BatteryValue").toInt();
    for (const auto &h : headsets)
        h->setLevel(1);
    QTest::qWait(500);
    QCOMPARE(role("h0", "BatteryValue").toInt(), before);
}

void TestWiring::missingWindowEndsWithMinusOne()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("broken.qml");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("import QtQuick 2.15\nItem { this is not qml }\n");
    f.close();
    QQmlApplicationEngine engine;
    const QUrl url = QUrl::fromLocalFile(path);
    exitWhenWindowMissing(engine, url);
    engine.load(url);
    QVERIFY(engine.rootObjects().isEmpty());
    QCOMPARE(QCoreApplication::exec(), -1);
    // A document that loads does not end the loop.
    QQmlApplicationEngine good;
    exitWhenWindowMissing(good, QUrl("qrc:/qml/main.qml"));
    good.load(QUrl("qrc:/qml/main.qml"));
    QTimer::singleShot(300, qApp, [] { QCoreApplication::exit(7); });
    QCOMPARE(QCoreApplication::exec(), 7);
}

QTEST_MAIN(TestWiring)
#include "tst_wiring.moc"
