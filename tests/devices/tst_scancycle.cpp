#include "devices/enumeration.h"
#include "devices/scancycle.h"

#include <QJsonDocument>
#include <QSet>
#include <QtTest>

// The reconciliation of one scan cycle, without threads or Bluetooth.
class TestScanCycle : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void newDevicesAreRegisteredInOrder();
    void listenedDeviceGetsOneLink_data();
    void listenedDeviceGetsOneLink();
    void runningLinkIsLeftAlone();
    void endedLinkIsReplaced();
    void firstOfTwoHandsFreeRecordsIsUsed();
    void vanishedDeviceIsReportedOnceAndRegisteredAgain();
    void radioOffReportsEveryKnownDeviceInKeyOrder();
    void linkOfADeviceThatGoesIsStopped();
    void profileChangesActOnRunningLinks_data();
    void levelsTheSystemKnows_data();
    void levelsTheSystemKnows();
    void profileChangesActOnRunningLinks();
    void anotherProgramsGatewayGetsNoLinkOfOurs();
    void failingLinksBackOff();

private:
    QVector<ScanStep> cycle(const QJsonArray &records, const QJsonObject &profiles = {},
                            const QDateTime &now = QDateTime::currentDateTime())
    {
        return reconcileScan(records, profiles, m_lastSeen, now,
                             [this](const QString &id) { return m_live.contains(id); }, m_known, m_backoff);
    }
    static QString kinds(const QVector<ScanStep> &steps)
    {
        QStringList out;
        static const char *const names[] = {"reg", "link", "gone", "stop", "level", "tray", "advice"};
        for (const ScanStep &s : steps)
            out << QStringLiteral("%1:%2").arg(names[s.kind],
                                               s.kind == ScanStep::Register ? s.record.value("Id").toString() : s.deviceId)
                       + (s.kind == ScanStep::Level ? "=" + QString::number(s.level) : QString());
        return out.join(' ');
    }

    QMap<QString, QDateTime> m_lastSeen;
    QSet<QString> m_live;
    KnownLevels m_known;
    LinkBackoff m_backoff;
};

namespace {
QJsonObject service(const QString &uuid, const QString &host = "host", const QString &name = "hf")
{
    return {{"ServiceId", uuid}, {"ConnectionHostName", host}, {"ConnectionServiceName", name}};
}
QJsonObject device(const QString &id, bool connected = true, QJsonArray services = {service(kHandsFreeServiceId)})
{
    return {{"Id", id}, {"Name", "Name of " + id}, {"Status", connected}, {"Services", services}};
}
QJsonObject withLevel(QJsonObject record, int level)
{
    record.insert("Battery", level);
    return record;
}
QJsonObject heldElsewhere(QJsonObject record)
{
    record.insert("HandsFreeHeld", "held by the audio system");
    return record;
}
QJsonObject profile(const QString &json)
{
    return QJsonDocument::fromJson(json.toUtf8()).object();
}
} // namespace

void TestScanCycle::init()
{
    m_lastSeen.clear();
    m_live.clear();
    m_known = {};
    m_backoff = {};
}

void TestScanCycle::newDevicesAreRegisteredInOrder()
{
    const auto steps = cycle({device("z"), device("a")});
    QCOMPARE(kinds(steps), QStringLiteral("reg:z reg:a"));
    QCOMPARE(steps[0].record, device("z"));
    QCOMPARE(kinds(cycle({device("z"), device("a")})), QString());
}

void TestScanCycle::listenedDeviceGetsOneLink_data()
{
    QTest::addColumn<QJsonObject>("record");
    QTest::addColumn<QString>("profiles");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("tray");

    QTest::newRow("listen and tray") << device("x") << R"({"x":{"listen":true,"tray":true}})" << "reg:x link:x" << true;
    QTest::newRow("listen only") << device("x") << R"({"x":{"listen":true,"tray":false}})" << "reg:x link:x" << false;
    QTest::newRow("tray only") << device("x") << R"({"x":{"tray":true}})" << "reg:x" << false;
    QTest::newRow("listen false") << device("x") << R"({"x":{"listen":false,"tray":true}})" << "reg:x" << false;
    QTest::newRow("listen as text") << device("x") << R"({"x":{"listen":"true"}})" << "reg:x" << false;
    QTest::newRow("listen as number") << device("x") << R"({"x":{"listen":1}})" << "reg:x" << false;
    QTest::newRow("profile not an object") << device("x") << R"({"x":true})" << "reg:x" << false;
    QTest::newRow("profile null") << device("x") << R"({"x":null})" << "reg:x" << false;
    QTest::newRow("no profile") << device("x") << R"({"y":{"listen":true}})" << "reg:x" << false;
    QTest::newRow("not connected") << device("x", false) << R"({"x":{"listen":true}})" << "reg:x" << false;
    QTest::newRow("no hands-free service")
        << device("x", true, {service("{00001101-0000-1000-8000-00805f9b34fb}")}) << R"({"x":{"listen":true}})" << "reg:x" << false;
    QTest::newRow("upper-case uuid")
        << device("x", true, {service("{0000111E-0000-1000-8000-00805F9B34FB}")}) << R"({"x":{"listen":true}})" << "reg:x" << false;
    QTest::newRow("no services key") << QJsonObject{{"Id", "x"}, {"Name", "n"}, {"Status", true}} << R"({"x":{"listen":true}})" << "reg:x" << false;
    QTest::newRow("status missing") << QJsonObject{{"Id", "x"}, {"Services", QJsonArray{service(kHandsFreeServiceId)}}}
                                    << R"({"x":{"listen":true}})" << "reg:x" << false;
}

void TestScanCycle::listenedDeviceGetsOneLink()
{
    QFETCH(QJsonObject, record);
    QFETCH(QString, profiles);
    QFETCH(QString, expected);
    QFETCH(bool, tray);
    const auto steps = cycle({record}, profile(profiles));
    QCOMPARE(kinds(steps), expected);
    if (steps.size() == 2) {
        QCOMPARE(steps[1].tray, tray);
        QCOMPARE(steps[1].name, QStringLiteral("Name of x"));
        QCOMPARE(steps[1].hostName, QStringLiteral("host"));
        QCOMPARE(steps[1].serviceName, QStringLiteral("hf"));
    }
}

void TestScanCycle::runningLinkIsLeftAlone()
{
    const QJsonObject profiles = profile(R"({"x":{"listen":true,"tray":true}})");
    QCOMPARE(kinds(cycle({device("x")}, profiles)), QStringLiteral("reg:x link:x"));
    m_live.insert("x");
    QCOMPARE(kinds(cycle({device("x")}, profiles)), QString());
}

void TestScanCycle::endedLinkIsReplaced()
{
    const QJsonObject profiles = profile(R"({"x":{"listen":true,"tray":true}})");
    cycle({device("x")}, profiles);
    m_live.insert("x");
    cycle({device("x")}, profiles);
    m_live.remove("x");
    const auto steps = cycle({device("x")}, profiles);
    QCOMPARE(kinds(steps), QStringLiteral("link:x"));
    QVERIFY(steps[0].tray);
}

void TestScanCycle::firstOfTwoHandsFreeRecordsIsUsed()
{
    const QJsonObject record = device("x", true, {service(kHandsFreeServiceId, "first"), service(kHandsFreeServiceId, "second")});
    // The same device listed twice in one pass still gets one link.
    const auto steps = cycle({record, record}, profile(R"({"x":{"listen":true}})"));
    QCOMPARE(kinds(steps), QStringLiteral("reg:x link:x"));
    QCOMPARE(steps[1].hostName, QStringLiteral("first"));
}

void TestScanCycle::vanishedDeviceIsReportedOnceAndRegisteredAgain()
{
    cycle({device("a"), device("b")});
    QCOMPARE(kinds(cycle({device("b")})), QStringLiteral("gone:a"));
    QCOMPARE(kinds(cycle({device("b")})), QString());
    QCOMPARE(kinds(cycle({device("a"), device("b")})), QStringLiteral("reg:a"));
    // A level the system knew goes with its device: no stale level for a
    // later row, tray icon or warning.
    cycle({withLevel(device("a"), 15), device("b")});
    QCOMPARE(kinds(cycle({device("b")})), QStringLiteral("level:a=-1 gone:a"));
}

void TestScanCycle::radioOffReportsEveryKnownDeviceInKeyOrder()
{
    cycle({device("m"), device("b"), device("x")});
    QCOMPARE(kinds(cycle({})), QStringLiteral("gone:b gone:m gone:x"));
    QVERIFY(m_lastSeen.isEmpty());
}

void TestScanCycle::linkOfADeviceThatGoesIsStopped()
{
    const QJsonObject profiles = profile(R"({"x":{"listen":true},"y":{"listen":true}})");
    cycle({device("x"), device("y")}, profiles);
    m_live = {"x", "y"};
    // Not connected (an idle link too), then no longer listed: stopped before
    // the device is reported gone; a device without a link only goes.
    QCOMPARE(kinds(cycle({device("x", false), device("y")}, profiles)), QStringLiteral("stop:x"));
    m_live.remove("x");
    QCOMPARE(kinds(cycle({device("x", false)}, profiles)), QStringLiteral("stop:y gone:y"));
    QCOMPARE(kinds(cycle({}, profiles)), QStringLiteral("gone:x"));
}

void TestScanCycle::profileChangesActOnRunningLinks_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QString>("expected");

    QTest::newRow("listen off") << R"({"x":{"listen":true,"tray":true}})" << R"({"x":{"listen":false,"tray":true}})" << "stop:x hide:x";
    QTest::newRow("entry removed") << R"({"x":{"listen":true}})" << R"({})" << "stop:x";
    QTest::newRow("tray on") << R"({"x":{"listen":true}})" << R"({"x":{"listen":true,"tray":true}})" << "show:x";
    QTest::newRow("tray off") << R"({"x":{"listen":true,"tray":true}})" << R"({"x":{"listen":true,"tray":false}})" << "hide:x";
    // y has no running link (its headset is off): its icon still follows the boxes.
    QTest::newRow("unlinked: listen off") << R"({"x":{"listen":true},"y":{"listen":true,"tray":true}})" << R"({"x":{"listen":true},"y":{}})" << "stop:y hide:y";
    QTest::newRow("tray off, linked or not") << R"({"x":{"listen":true,"tray":true},"y":{"listen":true,"tray":true}})"
                                                << R"({"x":{"listen":true},"y":{"listen":true}})" << "hide:x hide:y";
    QTest::newRow("unlinked: tray on waits for the link") << R"({"y":{"listen":true}})" << R"({"x":{"listen":true},"y":{"listen":true,"tray":true}})" << "";
    // z's level comes from the system: its icon follows 托盘 alone.
    QTest::newRow("known level: tray alone shows") << R"({"x":{"listen":true}})" << R"({"x":{"listen":true},"z":{"tray":true}})" << "show:z";
    QTest::newRow("known level: tray off hides") << R"({"x":{"listen":true},"z":{"tray":true}})" << R"({"x":{"listen":true},"z":{}})" << "hide:z";
    QTest::newRow("known level: listen off keeps the icon") << R"({"x":{"listen":true},"z":{"listen":true,"tray":true}})"
                                                            << R"({"x":{"listen":true},"z":{"tray":true}})" << "stop:z";
    QTest::newRow("nothing changed") << R"({"x":{"listen":true,"tray":true}})" << R"({"x":{"listen":true,"tray":true}})" << "";
}

void TestScanCycle::profileChangesActOnRunningLinks()
{
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(QString, expected);
    QStringList out;
    for (const ProfileAction &a : reconcileProfiles(profile(before), profile(after), {"x"}, {"z"}))
        out << (a.kind == ProfileAction::StopLink ? "stop:" : a.kind == ProfileAction::ShowTray ? "show:" : "hide:") + a.deviceId;
    QCOMPARE(out.join(' '), expected);
}

void TestScanCycle::levelsTheSystemKnows_data()
{
    // Cycles, one per entry: the device's "Battery" (-1: none) and whether
    // a link of ours runs; the steps each cycle takes, after the first
    // cycle's registration.
    QTest::addColumn<QString>("profiles");
    QTest::addColumn<QList<int>>("levels");
    QTest::addColumn<QList<bool>>("live");
    QTest::addColumn<QStringList>("expected");
    const QString none = "{}";
    const QString listened = R"({"x":{"listen":true,"tray":true}})";
    QTest::newRow("shown unticked, changes only, then gone")
        << none << QList<int>{73, 73, 40, -1} << QList<bool>{false, false, false, false}
        << QStringList{"level:x=73", "", "level:x=40", "level:x=-1"};
    QTest::newRow("listened: tray, no link, until the system forgets")
        << listened << QList<int>{73, 60, -1} << QList<bool>{false, false, false}
        << QStringList{"level:x=73 tray:x", "level:x=60", "level:x=-1 link:x"};
    QTest::newRow("tray alone: an icon with the level")
        << R"({"x":{"tray":true}})" << QList<int>{12, 9} << QList<bool>{false, false}
        << QStringList{"level:x=12 tray:x", "level:x=9"};
    QTest::newRow("a running link's reports rule")
        << none << QList<int>{73, 80, 80} << QList<bool>{false, true, false}
        << QStringList{"level:x=73", "", "level:x=80"};
    QTest::newRow("zero is a level") << none << QList<int>{0} << QList<bool>{false} << QStringList{"level:x=0"};
}

void TestScanCycle::levelsTheSystemKnows()
{
    QFETCH(QString, profiles);
    QFETCH(QList<int>, levels);
    QFETCH(QList<bool>, live);
    QFETCH(QStringList, expected);
    for (int i = 0; i < levels.size(); ++i) {
        if (live[i])
            m_live.insert("x");
        else
            m_live.remove("x");
        const QJsonObject record = levels[i] >= 0 ? withLevel(device("x"), levels[i]) : device("x");
        const QString steps = kinds(cycle({record}, profile(profiles)));
        QCOMPARE(steps, (i == 0 ? QStringList{"reg:x", expected[i]} : QStringList{expected[i]}).join(' ').trimmed());
    }
}

// While another program holds the hands-free gateway: no link of ours, a
// running one stops, and a listened device without a known level says why
// on its row until the gateway is free, the level known or 监听 unticked.
void TestScanCycle::anotherProgramsGatewayGetsNoLinkOfOurs()
{
    const QJsonObject listened = profile(R"({"x": {"listen": true, "tray": true}})");
    QCOMPARE(kinds(cycle({device("x")}, listened)), QStringLiteral("reg:x link:x"));
    m_live.insert("x");
    const QVector<ScanStep> held = cycle({heldElsewhere(device("x"))}, listened);
    QCOMPARE(kinds(held), QStringLiteral("advice:x stop:x"));
    QCOMPARE(held[0].name, QStringLiteral("held by the audio system"));
    m_live.clear();
    QCOMPARE(kinds(cycle({heldElsewhere(device("x"))}, listened)), QString()); // said once
    QCOMPARE(kinds(cycle({heldElsewhere(device("x", false))}, listened)), QString());
    // The audio system's level reaches BlueZ: the level, no advice.
    const QVector<ScanStep> known = cycle({heldElsewhere(withLevel(device("x"), 40))}, listened);
    QCOMPARE(kinds(known), QStringLiteral("level:x=40 tray:x advice:x"));
    QVERIFY(known[2].name.isEmpty());
    QCOMPARE(kinds(cycle({heldElsewhere(device("x"))}, listened)), QStringLiteral("level:x=-1 advice:x"));
    QCOMPARE(kinds(cycle({heldElsewhere(device("x"))}, profile(R"({"x": {"tray": true}})"))),
             QStringLiteral("advice:x"));
    // Free again: linked at once.
    QCOMPARE(kinds(cycle({device("x")}, listened)), QStringLiteral("link:x"));
    // Devices without the hands-free service or not listened are never advised.
    QCOMPARE(kinds(cycle({heldElsewhere(device("y", true, {})), heldElsewhere(device("z"))}, listened)),
             QStringLiteral("reg:y reg:z gone:x"));
}

// A device whose links keep failing is tried again after 3, 6, 12 ... s, at
// most a minute apart; a level, reconnecting or ticking again start afresh.
void TestScanCycle::failingLinksBackOff()
{
    QCOMPARE(LinkBackoff::delayMs(0), 0);
    QCOMPARE(LinkBackoff::delayMs(1), 3000);
    QCOMPARE(LinkBackoff::delayMs(4), 24000);
    QCOMPARE(LinkBackoff::delayMs(6), 60000);
    QCOMPARE(LinkBackoff::delayMs(1000), 60000);

    const QJsonObject listened = profile(R"({"x": {"listen": true}})");
    const QDateTime t0 = QDateTime::currentDateTime();
    QStringList startedAt;
    for (int s = 0; s <= 300; s += 3) { // five minutes of cycles, every link failing at once
        const QDateTime now = t0.addSecs(s);
        if (kinds(cycle({device("x")}, listened, now)).contains("link:x")) {
            startedAt << QString::number(s);
            m_backoff.ended("x", now, false);
        }
    }
    QCOMPARE(startedAt.join(' '), QStringLiteral("0 3 9 21 45 93 153 213 273"));

    // The device connects again: the next cycle links it.
    const QDateTime later = t0.addSecs(301);
    QCOMPARE(kinds(cycle({device("x", false)}, listened, later)), QString());
    QCOMPARE(kinds(cycle({device("x")}, listened, later.addSecs(1))), QStringLiteral("link:x"));
    m_backoff.ended("x", later.addSecs(1), false);
    QCOMPARE(kinds(cycle({device("x")}, listened, later.addSecs(2))), QString());
    // The end of an older link changes nothing; one that read a level starts afresh.
    m_backoff.ended("x", t0, false);
    QCOMPARE(kinds(cycle({device("x")}, listened, later.addSecs(4))), QStringLiteral("link:x"));
    m_backoff.ended("x", later.addSecs(4), true);
    QCOMPARE(kinds(cycle({device("x")}, listened, later.addSecs(5))), QStringLiteral("link:x"));
    m_backoff.reset("x"); // ticked again
    QVERIFY(m_backoff.mayStart("x", later.addSecs(5)));
}

QTEST_GUILESS_MAIN(TestScanCycle)
#include "tst_scancycle.moc"
