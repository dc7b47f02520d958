#include "devices/enumeration.h"
#include "devices/rfcmanager.h"
#include "link/rfcbase.h"
#include "platform/bluez/batteryprovider.h"
#include "platform/bluez/bluezbluetooth.h"
#include "platform/sim/headsetsession.h"
#include "support/logcapture.h"
#include "support/programdriver.h"
#include "mockbluez.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>
#include <unistd.h>

using platform::bluez::BluezBluetooth;

// Hands-free links and battery levels through BlueZ's profile and battery
// interfaces, against a mocked BlueZ whose simulated headsets sit on the
// other end of the descriptors it hands over; the real program among them.
class TestBluezLinks : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void handsFreeLinkThroughTheProfile();
    void endingALinkFreesTheHeadsetsChannel();
    void profileConnectFailures_data();
    void profileConnectFailures();
    void profileIsHeldOnlyWhileALinkConnects();
    void leavesTheChannelToTheAudioSystem();
    void ownChannelWhereBlueZHasNoProfileManager();
    void passReadsTheLevelsBlueZKnows();
    void programFollowsAHeadsetThroughBlueZ();
    void programShowsLevelsBlueZKnows();
    void programLeavesTheChannelToTheAudioSystem();

private:
    QJsonArray pass() { return enumeratePairedDevices(*m_bluetooth, [](const QString &) {}); }
    QString addHandsFreeHeadset();
    RFCBase *startLink(const QString &devicePath);
    // Another program takes the audio-gateway UUID, with or without a
    // service record; the error name, empty when it got it.
    QString registerAudioSystem(bool withRecord);
    QStringList calls() { return m_mock->mock("ProfileCalls", {}).arguments().value(0).toStringList(); }
    bool startProgram(ProgramDriver &program, const QTemporaryDir &home);
    // The levels the registered battery providers give, by device.
    QVariantMap readBack()
    {
        QVariantMap levels;
        for (auto [device, level] : qdbus_cast<QVariantMap>(m_mock->mock("ReadBackProviders", {}).arguments().value(0)).toStdMap())
            levels.insert(device, level.toInt());
        return levels;
    }

    std::unique_ptr<MockBluez> m_mock;
    std::shared_ptr<BluezBluetooth> m_bluetooth;
};

namespace {
const QString kAddressA = "AA:BB:CC:DD:EE:01";
const QString kHandsFree = "0000111e-0000-1000-8000-00805f9b34fb";

// A simulated headset on the end of a connection that the mocked BlueZ made.
struct Headset
{
    explicit Headset(int fd, int level = 73)
        : fd(fd), session(fd, fd, [level] { platform::sim::HeadsetOptions o; o.level = level; return o; }()),
          runner([this] { session.run(); })
    {
    }
    ~Headset()
    {
        session.stop();
        runner.join();
        ::close(fd);
    }
    int fd;
    platform::sim::HeadsetSession session;
    std::thread runner;
};
} // namespace

void TestBluezLinks::initTestCase()
{
    if (QStandardPaths::findExecutable("dbus-daemon").isEmpty() || !QFile::exists("/usr/bin/python3"))
        QSKIP("needs dbus-daemon and python3-dbusmock (scripts/setup installs them)");
    m_mock = std::make_unique<MockBluez>();
    QVERIFY(m_mock->busRunning());
}

void TestBluezLinks::init()
{
    QVERIFY(m_mock->startBluez());
    m_mock->addAdapter("hci0");
    m_bluetooth = std::make_shared<BluezBluetooth>();
}

void TestBluezLinks::cleanup()
{
    m_bluetooth.reset();
    m_mock->stopBluez();
}

bool TestBluezLinks::startProgram(ProgramDriver &program, const QTemporaryDir &home)
{
    const QString build = qEnvironmentVariable("KESTROLUNE_BUILD_DIR");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", m_mock->address());
    return program.start(build + "/kestrolune", build, env);
}

QString TestBluezLinks::addHandsFreeHeadset()
{
    const QString path = m_mock->addDevice("hci0", kAddressA, "Alpha", true);
    m_mock->setProperty(path, "org.bluez.Device1", "UUIDs", QStringList{kHandsFree});
    m_mock->connectDevice("hci0", kAddressA, true);
    pass(); // the snapshot the links look the device up in
    return path;
}

QString TestBluezLinks::registerAudioSystem(bool withRecord)
{
    // On a connection of its own, as another program's would be.
    QDBusConnection other = QDBusConnection::connectToBus(m_mock->address(), "audio-system");
    QDBusMessage call = QDBusMessage::createMethodCall("org.bluez", "/org/bluez", "org.bluez.ProfileManager1",
                                                       "RegisterProfile");
    call << QVariant::fromValue(QDBusObjectPath("/audio/stack")) << "0000111f-0000-1000-8000-00805f9b34fb"
         << QVariantMap{{"Role", withRecord ? "server" : "client"}};
    return other.call(call).errorName();
}

RFCBase *TestBluezLinks::startLink(const QString &devicePath)
{
    auto *link = new RFCBase(devicePath, kAddressA, "{" + kHandsFree + "}", *m_bluetooth);
    connect(link, &QThread::finished, link, &QObject::deleteLater);
    link->start();
    return link;
}

void TestBluezLinks::handsFreeLinkThroughTheProfile()
{
    const QString path = addHandsFreeHeadset();
    QPointer<RFCBase> link = startLink(path);
    QSignalSpy levels(link.data(), &RFCBase::signal_sendBattery);
    QSignalSpy errors(link.data(), &RFCBase::signal_error);
    const int end = m_mock->takeHeadsetEnd(path, 5000);
    QVERIFY(end >= 0);
    Headset headset(end);
    QTRY_COMPARE(levels.count(), 1);
    QCOMPARE(levels.at(0).at(1).toInt(), 73);
    headset.session.setLevel(41);
    QTRY_COMPARE(levels.count(), 2);
    QCOMPARE(levels.at(1).at(1).toInt(), 41);

    // The headset closes its end: the stream ends, no error.
    QSignalSpy ended(link.data(), &RFCBase::signal_streamEnded);
    headset.session.closeCleanly();
    QTRY_COMPARE(ended.count(), 1);
    QCOMPARE(errors.count(), 0);
    link->stop();
    QTRY_VERIFY(link.isNull());
}

// BlueZ keeps its own copy of every connection it hands over: a link that our
// side ends must end the connection itself, or the headset's channel stays held.
void TestBluezLinks::endingALinkFreesTheHeadsetsChannel()
{
    const QString path = addHandsFreeHeadset();
    QPointer<RFCBase> link = startLink(path);
    QSignalSpy levels(link.data(), &RFCBase::signal_sendBattery);
    const int end = m_mock->takeHeadsetEnd(path, 5000);
    QVERIFY(end >= 0);
    Headset headset(end);
    QTRY_COMPARE(levels.count(), 1);
    link->stop(); // unticked, a vanished device, the exit
    QTRY_VERIFY(link.isNull());
    QTRY_VERIFY(headset.session.agClosed());
}

void TestBluezLinks::profileConnectFailures_data()
{
    QTest::addColumn<QString>("behaviour");
    QTest::addColumn<QString>("text");
    QTest::newRow("headset off") << "fail org.bluez.Error.Failed br-connection-page-timeout"
                                 << "switched off or out of range (BlueZ: br-connection-page-timeout";
    QTest::newRow("busy") << "fail org.bluez.Error.InProgress In Progress"
                          << "BlueZ: In Progress (org.bluez.Error.InProgress)";
    QTest::newRow("cancelled while waiting") << "silent" << "";
}

void TestBluezLinks::profileConnectFailures()
{
    QFETCH(QString, behaviour);
    QFETCH(QString, text);
    const QString path = addHandsFreeHeadset();
    m_mock->mock("SetConnectBehaviour", {path, behaviour});
    QPointer<RFCBase> link = startLink(path);
    QSignalSpy errors(link.data(), &RFCBase::signal_error);
    if (behaviour == "silent") {
        QTest::qWait(500);
        QCOMPARE(errors.count(), 0); // still waiting for the hand-over
        link->stop();                // ends the wait at once, and says nothing of it
        QTRY_VERIFY_WITH_TIMEOUT(link.isNull(), 2000);
        QCOMPARE(errors.count(), 0);
        return;
    }
    QTRY_COMPARE(errors.count(), 1);
    QVERIFY2(errors.at(0).at(1).toString().contains(text), qPrintable(errors.at(0).at(1).toString()));
    QTRY_VERIFY(link.isNull());
}

// The profile is registered only while a link connects: the desktop's audio
// system can register it whenever it starts, also while our links run.
void TestBluezLinks::profileIsHeldOnlyWhileALinkConnects()
{
    const QString path = addHandsFreeHeadset();
    const QString waiting = m_mock->addDevice("hci0", "AA:BB:CC:DD:EE:02", "Beta", true);
    m_mock->setProperty(waiting, "org.bluez.Device1", "UUIDs", QStringList{kHandsFree});
    m_mock->connectDevice("hci0", "AA:BB:CC:DD:EE:02", true);
    m_mock->mock("SetConnectBehaviour", {waiting, "silent"});
    pass();
    auto *slow = new RFCBase(waiting, "AA:BB:CC:DD:EE:02", "{" + kHandsFree + "}", *m_bluetooth);
    QPointer<RFCBase> slowLink = slow;
    connect(slow, &QThread::finished, slow, &QObject::deleteLater);
    slow->start();
    const QString me = MockBluez::bus().baseService();
    QTRY_COMPARE(calls(), QStringList{"Register " + me + " 0000111f-0000-1000-8000-00805f9b34fb ok"});

    // A connection that no link asked for is refused and closed.
    m_mock->mock("OfferConnection", {path});
    QTRY_COMPARE(m_mock->mock("HandOverReply", {path}).arguments().value(0).toString(),
                 QStringLiteral("org.bluez.Error.Rejected"));
    const int offered = m_mock->takeHeadsetEnd(path, 5000);
    QVERIFY(offered >= 0);
    char byte;
    QCOMPARE(::read(offered, &byte, 1), ssize_t(0)); // closed by the program
    ::close(offered);
    slowLink->stop();
    QTRY_VERIFY(slowLink.isNull());
    QCOMPARE(calls().size(), 2);
    QCOMPARE(calls().last(), "Unregister " + me); // the last connect gave it back

    QPointer<RFCBase> link = startLink(path);
    QSignalSpy levels(link.data(), &RFCBase::signal_sendBattery);
    const int end = m_mock->takeHeadsetEnd(path, 5000);
    QVERIFY(end >= 0);
    Headset headset(end);
    QTRY_COMPARE(levels.count(), 1);
    QTRY_COMPARE(calls().size(), 4);
    QCOMPARE(calls().last(), "Unregister " + me);
    // The audio system starts while our link runs: it gets the profile, and
    // the link goes on over the connection it was handed.
    QCOMPARE(registerAudioSystem(true), QString());
    headset.session.setLevel(41);
    QTRY_COMPARE(levels.count(), 2);
    QCOMPARE(levels.at(1).at(1).toInt(), 41);
    link->stop();
    QTRY_VERIFY(link.isNull());
}

void TestBluezLinks::leavesTheChannelToTheAudioSystem()
{
    // The desktop's audio system got there first, as a client without a
    // service record: only BlueZ's refusal shows it.
    QCOMPARE(registerAudioSystem(false), QString());
    const QString path = addHandsFreeHeadset();
    QVERIFY(m_bluetooth->handsFreeHeldElsewhere().isEmpty());
    LogCapture log;
    for (int attempt = 0; attempt < 2; ++attempt) {
        QPointer<RFCBase> link = startLink(path);
        QSignalSpy errors(link.data(), &RFCBase::signal_error);
        // No RFCOMM channel of our own beside it: the row's advice, at once.
        QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 1, 3000);
        QVERIFY(errors.at(0).at(1).toString().startsWith("The desktop's audio system holds the hands-free"));
        QVERIFY(errors.at(0).at(1).toString().contains("README"));
        QTRY_VERIFY(link.isNull());
    }
    QCOMPARE(log.count("holds the hands-free profile"), 1);
    QCOMPARE(m_mock->takeHeadsetEnd(path), -1); // BlueZ was not asked
    // Refused once, the role counts as held: the scan cycles start no link.
    QCOMPARE(pass()[0].toObject().value("HandsFreeHeld").toString(), m_bluetooth->handsFreeHeldElsewhere());
    QVERIFY(!m_bluetooth->handsFreeHeldElsewhere().isEmpty());
}

// No other program holds the gateway, but BlueZ cannot register profiles:
// the link searches SDP and opens its own RFCOMM channel (which this
// machine's kernel may not offer: then its error, not the advice).
void TestBluezLinks::ownChannelWhereBlueZHasNoProfileManager()
{
    m_mock->mock("RemoveProfileManager", {});
    const QString path = addHandsFreeHeadset();
    LogCapture log;
    QPointer<RFCBase> link = startLink(path);
    QSignalSpy errors(link.data(), &RFCBase::signal_error);
    QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 1, 60000);
    QVERIFY2(!errors.at(0).at(1).toString().contains("audio system"), qPrintable(errors.at(0).at(1).toString()));
    QCOMPARE(log.count("no profile manager"), 1);
    QCOMPARE(log.count("RfcommSocket: SDP search"), 1);
    QTRY_VERIFY(link.isNull());
}

void TestBluezLinks::programFollowsAHeadsetThroughBlueZ()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("needs an X server");
    const QString path = addHandsFreeHeadset();
    m_mock->mock("AddBatteryProviderManager", {"/org/bluez/hci0"});
    QTemporaryDir home;
    ProgramDriver program;
    QVERIFY(startProgram(program, home));
    QTRY_COMPARE_WITH_TIMEOUT(program.cardsShown(), 1, 6000);
    program.click(567, 40); // 监听
    program.click(457, 40); // 托盘
    QByteArray log;
    auto logged = [&](const QByteArray &text) {
        log = program.errorOutput();
        return log.contains(text);
    };
    const QByteArray row = "updateDeviceBatteryValue " + path.toUtf8();
    for (int life = 0; life < 2; ++life) {
        const int end = m_mock->takeHeadsetEnd(path, 8000);
        QVERIFY(end >= 0);
        auto headset = std::make_unique<Headset>(end, 60 + life);
        QTRY_VERIFY_WITH_TIMEOUT(logged(row + " " + QByteArray::number(60 + life)), 8000);
        QVERIFY(logged("registerDeviceToTrary:  \"" + path.toUtf8() + "\""));
        // The level our link reads is given to BlueZ, and follows the headset.
        if (life == 0)
            QTRY_COMPARE_WITH_TIMEOUT(readBack(), (QVariantMap{{path, 60}}), 8000);
        headset->session.setLevel(25);
        QTRY_VERIFY_WITH_TIMEOUT(logged(row + " 25"), 5000);
        if (life == 1)
            break; // exit while the headset talks
        QTRY_COMPARE_WITH_TIMEOUT(readBack(), (QVariantMap{{path, 25}}), 5000);
        // The headset closes its end and goes; the row forgets the level; it comes back.
        headset->session.closeCleanly();
        QTRY_VERIFY_WITH_TIMEOUT(logged(row + " -1"), 5000);
        headset.reset();
        m_mock->connectDevice("hci0", kAddressA, false);
        QTest::qWait(RFCManager::kScanIntervalMs + 500); // a cycle sees it gone and stops the idle link
        // BlueZ still mirrors our last level, with our Source: not a level it knows.
        logged({}); // what the program said while the cycle ran
        QVERIFY(log.contains(row + " -1"));
        QVERIFY(!log.mid(log.lastIndexOf(row + " -1")).contains(row + " 25"));
        QTRY_COMPARE(readBack(), QVariantMap());
        m_mock->connectDevice("hci0", kAddressA, true);
    }
    program.click(320, 435);
    QVERIFY(program.exitsWith(0));
    QVERIFY(!logged("did not stop"));
}


void TestBluezLinks::passReadsTheLevelsBlueZKnows()
{
    LogCapture log;
    const QString path = addHandsFreeHeadset();
    struct Case { int percentage; QString source; int expected; };
    for (const Case &c : {Case{73, "HFP 1.7", 73}, Case{0, "", 0}, Case{55, platform::bluez::BatteryProvider::kSource, -1}}) {
        m_mock->mock("SetBattery", {path, QVariant::fromValue(uchar(c.percentage)), c.source});
        QCOMPARE(pass()[0].toObject().value("Battery").toInt(-1), c.expected);
    }
    m_mock->mock("RemoveBattery", {path});
    QVERIFY(!pass()[0].toObject().contains("Battery"));
    QCOMPARE(log.count("no battery provider manager"), 1); // once, not at every pass
}

void TestBluezLinks::programShowsLevelsBlueZKnows()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("needs an X server");
    const QString path = addHandsFreeHeadset();
    m_mock->mock("SetBattery", {path, QVariant::fromValue(uchar(73)), "HFP 1.7"});
    QTemporaryDir home;
    ProgramDriver program;
    QVERIFY(startProgram(program, home));
    QByteArray log;
    auto logged = [&](const QByteArray &text) {
        log = program.errorOutput();
        return log.contains(text);
    };
    const QByteArray row = "updateDeviceBatteryValue " + path.toUtf8();
    QTRY_VERIFY_WITH_TIMEOUT(logged(row + " 73"), 6000); // nothing ticked
    m_mock->mock("SetBattery", {path, QVariant::fromValue(uchar(55)), "HFP 1.7"});
    QTRY_VERIFY_WITH_TIMEOUT(logged(row + " 55"), 5000);

    program.click(567, 40); // 监听
    program.click(457, 40); // 托盘
    QTRY_VERIFY_WITH_TIMEOUT(logged("registerDeviceToTrary:  \"" + path.toUtf8() + "\""), 5000);
    m_mock->mock("SetBattery", {path, QVariant::fromValue(uchar(30)), "HFP 1.7"});
    QTRY_VERIFY_WITH_TIMEOUT(logged(row + " 30"), 5000);
    QCOMPARE(m_mock->takeHeadsetEnd(path), -1); // the hands-free channel was left alone

    // BlueZ forgets the level: our own link takes over.
    m_mock->mock("RemoveBattery", {path});
    QTRY_VERIFY_WITH_TIMEOUT(logged(row + " -1"), 5000);
    const int end = m_mock->takeHeadsetEnd(path, 8000);
    QVERIFY(end >= 0);
    Headset headset(end, 64);
    QTRY_VERIFY_WITH_TIMEOUT(logged(row + " 64"), 8000);
    program.click(320, 435);
    QVERIFY(program.exitsWith(0));
    QCOMPARE(log.count("no battery provider manager"), 1);
}

void TestBluezLinks::programLeavesTheChannelToTheAudioSystem()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("needs an X server");
    QCOMPARE(registerAudioSystem(true), QString()); // with its service record, as PipeWire registers
    const QString path = addHandsFreeHeadset();
    QTemporaryDir home;
    QFile config(home.filePath("kestrolune.json"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(QJsonDocument(QJsonObject{{path, QJsonObject{{"listen", true}}}}).toJson());
    config.close();
    ProgramDriver program;
    QVERIFY(startProgram(program, home));
    QByteArray log;
    QTRY_VERIFY_WITH_TIMEOUT((log = program.errorOutput())
                                 .contains("slot_recvErrorMsg:  \"" + path.toUtf8()
                                           + "\"   \"The desktop's audio system holds the hands-free"),
                             10000);
    QTest::qWait(2 * RFCManager::kScanIntervalMs);
    QCOMPARE(calls().size(), 1); // the audio system's own registration, nothing of ours
    QCOMPARE(m_mock->takeHeadsetEnd(path), -1);
    program.click(320, 435);
    QVERIFY(program.exitsWith(0));
}

QTEST_GUILESS_MAIN(TestBluezLinks)
#include "tst_bluezlinks.moc"
