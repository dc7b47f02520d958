#include "devices/rfcmanager.h"
#include "platform/sim/simworld.h"
#include "support/logcapture.h"

#include <QJsonDocument>
#include <QtTest>

using platform::sim::SimHeadset;
using platform::sim::SimWorld;

// The registry through its real threads, on a simulated world.
class TestRfcManager : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void firstCycleRegistersThenLinksWithTray();
    void levelReachesTheGuiThread();
    void levelTheSystemKnowsNeedsNoLink();
    void endedLinkIsReplacedAtTheNextCycle();
    void cleanlyClosedLinkEndsWhenTheDeviceGoes_data();
    void cleanlyClosedLinkEndsWhenTheDeviceGoes();
    void vanishedDeviceIsGoneAndComesBack();
    void radioOffReportsEveryDeviceGone();
    void profileSlots();
    void malformedProfilesEmptyTheMapButKeepLinks();
    void disableDevice();
    void shutdownStopsTalkingLinks();
    void refusedLinksBackOffUntilTickedAgain();
    void signalledChangesAndClicksActAtOnce();

private:
    void start(const QJsonObject &profiles, int scanIntervalMs = 0);
    // Signal names in the order they were emitted, with their first argument.
    QStringList events() const { return m_events; }

    std::shared_ptr<SimWorld> m_world;
    RFCManager *m_manager = nullptr;
    QStringList m_events;
    std::unique_ptr<LogCapture> m_log;
};

namespace {
// Short scan cycles keep the suite quick; every wait below is counted in them.
constexpr int kCycleMs = 600;
QJsonObject profiles(const char *json) { return QJsonDocument::fromJson(json).object(); }
} // namespace

void TestRfcManager::init()
{
    m_log = std::make_unique<LogCapture>();
    m_world = std::make_shared<SimWorld>();
    m_events.clear();
}

void TestRfcManager::cleanup()
{
    if (m_manager) {
        QVERIFY(m_manager->shutdown(5000));
        delete m_manager;
        m_manager = nullptr;
    }
    m_world.reset();
    m_log.reset();
}

void TestRfcManager::start(const QJsonObject &map, int scanIntervalMs)
{
    m_manager = new RFCManager(map, m_world);
    m_manager->setScanInterval(scanIntervalMs > 0 ? scanIntervalMs : kCycleMs);
    using Error2 = void (RFCManager::*)(QString, QString);
    using Error1 = void (RFCManager::*)(QString);
    // Recorded in the GUI thread, in arrival order; the registry's own
    // signals are queued here, as the program's wiring does.
    connect(m_manager, &RFCManager::signal_registerToIndex, this,
            [this](const QJsonObject &o) { m_events << "reg:" + o.value("Id").toString(); }, Qt::QueuedConnection);
    connect(m_manager, &RFCManager::signal_unregisterFromIndex, this,
            [this](const QString &id) { m_events << "gone:" + id; }, Qt::QueuedConnection);
    connect(m_manager, &RFCManager::signal_registerToTray, this,
            [this](const QString &id, const QString &name) { m_events << "tray:" + id + "/" + name; }, Qt::QueuedConnection);
    connect(m_manager, &RFCManager::signal_unregisterFromTray, this,
            [this](const QString &id) { m_events << "untray:" + id; }, Qt::QueuedConnection);
    connect(m_manager, static_cast<Error2>(&RFCManager::signal_getErrorMessage), this,
            [this](const QString &id, const QString &text) { m_events << "error:" + id + "/" + text; }, Qt::QueuedConnection);
    connect(m_manager, static_cast<Error1>(&RFCManager::signal_getErrorMessage), this,
            [this](const QString &text) { if (!text.isEmpty()) m_events << "notice:" + text; }, Qt::QueuedConnection);
    connect(m_manager, &RFCManager::signal_sendBatteryLevel, this,
            [this](const QString &id, int value) {
                m_events << QStringLiteral("level:%1/%2").arg(id).arg(value);
                QCOMPARE(QThread::currentThread(), qApp->thread());
            }, Qt::DirectConnection);
    m_manager->start();
}

void TestRfcManager::firstCycleRegistersThenLinksWithTray()
{
    m_world->addDevice({"a", "Alpha", false, {}});
    m_world->addHeadset("b", "Beta");
    m_world->addHeadset("c", "Gamma");
    start(profiles(R"({"b":{"listen":true,"tray":true},"c":{"listen":true}})"));
    QTRY_VERIFY_WITH_TIMEOUT(m_events.size() >= 4, 3000);
    QCOMPARE(m_events.mid(0, 4), QStringList({"reg:a", "reg:b", "tray:b/Beta", "reg:c"}));
    // Next cycles: the links run, nothing more is announced.
    QTest::qWait(kCycleMs + 500);
    QCOMPARE(m_events.filter(QRegularExpression("^(reg|tray)")).size(), 4);
    QCOMPARE(m_world->headset("b")->connections(), 1);
    QCOMPARE(m_world->headset("c")->connections(), 1);
}

void TestRfcManager::levelReachesTheGuiThread()
{
    auto headset = m_world->addHeadset("b", "Beta", {0x196, 80});
    start(profiles(R"({"b":{"listen":true}})"));
    QTRY_VERIFY_WITH_TIMEOUT(m_events.contains("level:b/80"), 8000);
    QCOMPARE(m_log->count("slot_recvBatteryLevel: "), 1);
}

void TestRfcManager::levelTheSystemKnowsNeedsNoLink()
{
    auto headset = m_world->addHeadset("b", "Beta", {0x196, 80});
    m_world->setBatteryLevel("b", 45);
    start(profiles(R"({"b":{"listen":true,"tray":true}})"));
    QTRY_VERIFY_WITH_TIMEOUT(m_events.contains("tray:b/Beta"), 3000);
    QCOMPARE(m_events.filter("level:b/"), QStringList{"level:b/45"});
    // Its icon follows 托盘 alone: unticking 监听 keeps it, unticking 托盘
    // takes it, ticking 托盘 brings it back at once, with the device's name.
    m_manager->updateDeviceProfile("b", "listen", false);
    QTest::qWait(kCycleMs + 200);
    QVERIFY(!m_events.contains("untray:b"));
    m_manager->updateDeviceProfile("b", "tray", false);
    QTRY_VERIFY(m_events.contains("untray:b"));
    m_manager->updateDeviceProfile("b", "tray", true);
    QTRY_COMPARE_WITH_TIMEOUT(m_events.filter("tray:b/").size(), 2, 200);
    QCOMPARE(m_events.filter("tray:b/").last(), QStringLiteral("tray:b/Beta"));
    m_manager->updateDeviceProfile("b", "listen", true);
    QTest::qWait(kCycleMs + 200);
    QCOMPARE(m_events.filter("tray:b/").size(), 2);
    QCOMPARE(headset->connections(), 0);
    m_world->setBatteryLevel("b", -1); // the system forgets it: our own link takes over
    QTRY_VERIFY_WITH_TIMEOUT(m_events.contains("level:b/80"), 8000);
    QCOMPARE(m_events.filter("level:b/"), QStringList({"level:b/45", "level:b/-1", "level:b/80"}));
}

void TestRfcManager::endedLinkIsReplacedAtTheNextCycle()
{
    auto headset = m_world->addHeadset("b", "Beta");
    start(profiles(R"({"b":{"listen":true,"tray":true}})"));
    QTRY_VERIFY_WITH_TIMEOUT(m_events.contains("level:b/100"), 8000);
    headset->breakStream();
    QTRY_VERIFY_WITH_TIMEOUT(m_events.contains("error:b/蓝牙设备已关闭"), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(headset->connections(), 2, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(m_events.filter("tray:b").size(), 2, 2000);
    QCOMPARE(m_log->count("slot_recvErrorMsg: "), 1);
    // The ended link's level is no longer known; the new link's first level
    // clears the error it left on the row.
    QTRY_COMPARE_WITH_TIMEOUT(m_events.filter("level:b/").size(), 3, 8000);
    QCOMPARE(m_events.filter("level:b/"), QStringList({"level:b/100", "level:b/-1", "level:b/100"}));
    QTRY_COMPARE(m_events.filter("error:b/"), QStringList({"error:b/蓝牙设备已关闭", "error:b/"}));
}

void TestRfcManager::cleanlyClosedLinkEndsWhenTheDeviceGoes_data()
{
    QTest::addColumn<bool>("unpair"); // else: disconnected
    QTest::newRow("disconnected") << false;
    QTest::newRow("no longer listed") << true;
}

void TestRfcManager::cleanlyClosedLinkEndsWhenTheDeviceGoes()
{
    QFETCH(bool, unpair);
    auto headset = m_world->addHeadset("b", "Beta");
    start(profiles(R"({"b":{"listen":true,"tray":true}})"));
    QTRY_VERIFY_WITH_TIMEOUT(m_events.contains("level:b/100"), 8000);
    headset->closeCleanly();
    QTRY_COMPARE_WITH_TIMEOUT(m_log->count("Not Data"), 1, 3000);
    QTRY_VERIFY(m_events.contains("level:b/-1"));
    QTRY_VERIFY(headset->session()->agClosed()); // our end goes too: the channel is free
    QTest::qWait(kCycleMs + 300); // still connected: the idle link stays, no new connection
    QCOMPARE(headset->connections(), 1);

    if (unpair)
        m_world->removeDevice("b");
    else
        m_world->setConnected("b", false);
    QTest::qWait(kCycleMs + 300); // a cycle sees it gone and ends the idle link
    if (unpair)
        m_world->addHeadset("b", "Beta"); // paired again; the same headset answers
    else
        m_world->setConnected("b", true);
    QTRY_COMPARE_WITH_TIMEOUT(m_events.filter("level:b/100").size(), 2, 10000);
    QCOMPARE(m_events.filter("tray:b").size(), 2);
    if (!unpair)
        QCOMPARE(headset->connections(), 2);
}

void TestRfcManager::vanishedDeviceIsGoneAndComesBack()
{
    m_world->addDevice({"a", "Alpha", false, {}});
    start({});
    QTRY_COMPARE_WITH_TIMEOUT(m_events, QStringList({"reg:a"}), 2000);
    m_world->removeDevice("a");
    QTRY_COMPARE_WITH_TIMEOUT(m_events, QStringList({"reg:a", "gone:a"}), 4000);
    QTest::qWait(kCycleMs + 200); // reported once only
    QCOMPARE(m_events, QStringList({"reg:a", "gone:a"}));
    m_world->addDevice({"a", "Alpha", false, {}});
    QTRY_COMPARE_WITH_TIMEOUT(m_events, QStringList({"reg:a", "gone:a", "reg:a"}), 4000);
}

void TestRfcManager::radioOffReportsEveryDeviceGone()
{
    m_world->addDevice({"m", "M", false, {}});
    m_world->addDevice({"b", "B", false, {}});
    start({});
    QTRY_COMPARE_WITH_TIMEOUT(m_events.size(), 2, 2000);
    m_world->setRadioOn(false);
    QTRY_COMPARE_WITH_TIMEOUT(m_events.size(), 5, 4000);
    QCOMPARE(m_events.mid(2), QStringList({"notice:蓝牙设备未开启", "gone:b", "gone:m"}));
}

void TestRfcManager::profileSlots()
{
    auto headset = m_world->addHeadset("x", "X");
    start(profiles(R"({"y":{"tray":true}})"));
    m_manager->updateDeviceProfile("x", "listen", true);
    QCOMPARE(m_manager->profiles(), profiles(R"({"x":{"listen":true},"y":{"tray":true}})"));
    m_manager->updateDeviceProfile("y", "listen", false);
    QCOMPARE(m_manager->profiles().value("y").toObject(), profiles(R"({"tray":true,"listen":false})"));
    QTRY_COMPARE_WITH_TIMEOUT(headset->connections(), 1, 5000);
    QVERIFY(m_events.filter("tray:").isEmpty());

    m_manager->updateDeviceProfile("z", "tray", QVariant());
    m_manager->updateDeviceProfiles(R"({"z":5})");
    m_manager->updateDeviceProfile("z", "listen", true);
    QCOMPARE(m_manager->profiles(), profiles(R"({"z":{"listen":true}})"));
}

void TestRfcManager::malformedProfilesEmptyTheMapButKeepLinks()
{
    auto headset = m_world->addHeadset("x", "X");
    start(profiles(R"({"x":{"listen":true}})"));
    QTRY_VERIFY_WITH_TIMEOUT(m_events.contains("level:x/100"), 8000);
    m_manager->updateDeviceProfiles("[1,2]");
    QCOMPARE(m_manager->profiles(), QJsonObject());
    m_manager->updateDeviceProfiles("{not json");
    QCOMPARE(m_manager->profiles(), QJsonObject());
    headset->setLevel(60);
    QTRY_VERIFY_WITH_TIMEOUT(m_events.contains("level:x/60"), 3000);
    // Once the link ends, no new one starts.
    headset->breakStream();
    QTest::qWait(kCycleMs + 500);
    QCOMPARE(headset->connections(), 1);
}

void TestRfcManager::disableDevice()
{
    auto headset = m_world->addHeadset("x", "X");
    start(profiles(R"({"x":{"listen":true}})"));
    QTRY_VERIFY_WITH_TIMEOUT(m_events.contains("level:x/100"), 8000);
    m_manager->disableDevice("never-linked");
    m_manager->disableDevice("x");
    m_manager->disableDevice("x");
    QTRY_COMPARE(m_events.filter("untray:").size(), 1);
    QCOMPARE(m_events.filter("untray:").first(), QStringLiteral("untray:x"));
    QTest::qWait(100);
    QCOMPARE(m_events.filter("untray:").size(), 1);
}

void TestRfcManager::shutdownStopsTalkingLinks()
{
    QList<std::shared_ptr<SimHeadset>> headsets;
    QJsonObject map;
    for (int i = 0; i < 4; ++i) {
        const QString id = QStringLiteral("h%1").arg(i);
        headsets << m_world->addHeadset(id, id);
        map.insert(id, QJsonObject{{"listen", true}});
    }
    start(map);
    QTRY_COMPARE_WITH_TIMEOUT(m_events.filter("level:").size(), 4, 10000);
    for (const auto &h : headsets)
        h->setLevel(50);
    QVERIFY(m_manager->shutdown(5000));
    QVERIFY(m_manager->isFinished());
    const int before = m_events.size();
    QTest::qWait(300);
    for (const auto &h : headsets)
        h->setLevel(40);
    QTest::qWait(300);
    QCOMPARE(m_events.filter("level:h0/40").size(), 0);
    QVERIFY(m_events.size() - before <= 4); // at most the reports already under way
    delete m_manager;
    m_manager = nullptr;
}

// A headset that refuses every link is not asked at every cycle: the next
// link waits 3 s, then 6. Unticking 监听 clears the row's error; ticking it
// again asks at once.
void TestRfcManager::refusedLinksBackOffUntilTickedAgain()
{
    auto headset = m_world->addHeadset("b", "Beta");
    headset->refuse(platform::kOperationAborted, "refused");
    start(profiles(R"({"b":{"listen":true}})"));
    const auto attempts = [this] { return m_events.filter("error:b/refused").size(); };
    QTRY_COMPARE_WITH_TIMEOUT(attempts(), 1, 3000);
    QTest::qWait(3 * kCycleMs); // three cycles, fewer than the first 3 s
    QCOMPARE(attempts(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(attempts(), 2, 4000);
    QTest::qWait(6 * kCycleMs);
    QCOMPARE(attempts(), 2);
    m_manager->updateDeviceProfile("b", "listen", false); // the row says nothing of a link not asked for
    QTRY_COMPARE(m_events.filter("error:b/").last(), QStringLiteral("error:b/"));
    m_manager->updateDeviceProfile("b", "listen", true);
    QTRY_COMPARE_WITH_TIMEOUT(attempts(), 3, 2 * kCycleMs + 500);
    QCOMPARE(m_events.filter("error:b/").last(), QStringLiteral("error:b/refused"));
}

// With the timer's cycles a minute apart, only the world's change signals
// and the clicks can start a cycle: the level, the link and the vanished
// device follow within a blink, each change once.
void TestRfcManager::signalledChangesAndClicksActAtOnce()
{
    auto headset = m_world->addHeadset("b", "Beta", {0x196, 80});
    start(profiles("{}"), 60000);
    QTRY_VERIFY_WITH_TIMEOUT(m_events.contains("reg:b"), 2000);
    m_world->setBatteryLevel("b", 45);
    QTRY_VERIFY_WITH_TIMEOUT(m_events.contains("level:b/45"), 1000);
    m_world->setBatteryLevel("b", -1);
    m_manager->updateDeviceProfile("b", "listen", true); // the click
    QTRY_VERIFY_WITH_TIMEOUT(m_events.contains("level:b/80"), 3000);
    QCOMPARE(headset->connections(), 1);
    m_world->addDevice({"c", "Gamma", false, {}});
    QTRY_VERIFY_WITH_TIMEOUT(m_events.contains("reg:c"), 1000);
    m_world->removeDevice("c");
    QTRY_VERIFY_WITH_TIMEOUT(m_events.contains("gone:c"), 1000);
    QCOMPARE(m_events.filter("reg:").size(), 2); // nothing listed twice
}

QTEST_GUILESS_MAIN(TestRfcManager)
#include "tst_rfcmanager.moc"
