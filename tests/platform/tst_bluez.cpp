#include "devices/enumeration.h"
#include "link/rfcbase.h"
#include "platform/bluez/bluezbluetooth.h"
#include "platform/bluez/bluezsignals.h"
#include "platform/bluez/foreigngateway.h"
#include "platform/bluez/rfcommsocket.h"
#include "support/logcapture.h"
#include "support/programdriver.h"
#include "mockbluez.h"

#include <QJsonObject>
#include <QPointer>
#include <QTemporaryDir>
#include <QtTest>

#include <bluetooth/bluetooth.h>
#include <bluetooth/l2cap.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

using platform::PlatformError;
using platform::bluez::BluezBluetooth;

// The BlueZ backend against a mocked BlueZ on a private system bus.
class TestBluez : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void listsPairedDevicesInAStableOrder();
    void connectionStateFollowsTheDevice();
    void handsFreeServiceRecord();
    void adapterOffMeansRadioOff();
    void anotherProgramsGatewayCountsAsHeldForAWhile();
    void bluezGoesAwayAndComesBack();
    void bluezChangesAreFollowed();
    void errorMapping();
    void streamWithoutKernelSupportFailsClearly();
    void programShowsTheMockedDevices();

private:
    QJsonArray pass(QStringList *notices = nullptr)
    {
        return enumeratePairedDevices(*m_bluetooth, [notices](const QString &n) { if (notices) *notices << n; });
    }
    void addPairedDevices();

    std::unique_ptr<MockBluez> m_mock;
    std::shared_ptr<BluezBluetooth> m_bluetooth;
};

namespace {
const QString kAddressA = "AA:BB:CC:DD:EE:01";
const QString kAddressB = "AA:BB:CC:DD:EE:02";
const QString kAddressC = "AA:BB:CC:DD:EE:03";
const QString kHandsFree = "0000111e-0000-1000-8000-00805f9b34fb";
} // namespace

void TestBluez::initTestCase()
{
    if (QStandardPaths::findExecutable("dbus-daemon").isEmpty() || !QFile::exists("/usr/bin/python3"))
        QSKIP("needs dbus-daemon and python3-dbusmock (scripts/setup installs them)");
    m_mock = std::make_unique<MockBluez>();
    QVERIFY(m_mock->busRunning());
}

void TestBluez::init()
{
    QVERIFY(m_mock->startBluez());
    m_mock->addAdapter("hci0");
    m_bluetooth = std::make_shared<BluezBluetooth>();
}

void TestBluez::cleanup()
{
    m_bluetooth.reset();
    m_mock->stopBluez();
}

void TestBluez::addPairedDevices()
{
    m_mock->addDevice("hci0", kAddressB, "Beta", true);
    m_mock->addDevice("hci0", kAddressA, "Alpha <b>buds</b>", true);
    m_mock->addDevice("hci0", kAddressC, "Stranger", false);
}

void TestBluez::listsPairedDevicesInAStableOrder()
{
    addPairedDevices();
    QStringList notices;
    const QJsonArray records = pass(&notices);
    QCOMPARE(records.size(), 2);
    QCOMPARE(notices, QStringList({"", ""}));
    const QJsonObject first = records[0].toObject();
    QCOMPARE(first.value("Id").toString(), QStringLiteral("/org/bluez/hci0/dev_AA_BB_CC_DD_EE_01"));
    QCOMPARE(first.value("Name").toString(), QStringLiteral("Alpha <b>buds</b>"));
    QCOMPARE(first.value("Status").toBool(), false);
    QVERIFY(first.contains("Services"));
    QCOMPARE(records[1].toObject().value("Name").toString(), QStringLiteral("Beta"));
    QCOMPARE(pass(), records); // the same order again
}

void TestBluez::connectionStateFollowsTheDevice()
{
    addPairedDevices();
    m_mock->connectDevice("hci0", kAddressB, true);
    QCOMPARE(pass()[1].toObject().value("Status").toBool(), true);
    m_mock->connectDevice("hci0", kAddressB, false);
    QCOMPARE(pass()[1].toObject().value("Status").toBool(), false);
}

void TestBluez::handsFreeServiceRecord()
{
    const QString path = m_mock->addDevice("hci0", kAddressA, "Alpha", true);
    m_mock->setProperty(path, "org.bluez.Device1", "UUIDs",
                        QStringList({"0000110B-0000-1000-8000-00805F9B34FB", kHandsFree}));
    const QJsonArray services = pass()[0].toObject().value("Services").toArray();
    QCOMPARE(services.size(), 2);
    const QJsonObject hf = services[1].toObject();
    QCOMPARE(hf.value("ServiceId").toString(), QStringLiteral("{0000111e-0000-1000-8000-00805f9b34fb}"));
    QCOMPARE(hf.value("ServiceId").toString(), QString::fromLatin1(kHandsFreeServiceId));
    QCOMPARE(hf.value("ConnectionHostName").toString(), kAddressA);
    QCOMPARE(hf.value("ConnectionServiceName").toString(), QStringLiteral("{0000111e-0000-1000-8000-00805f9b34fb}"));
    QCOMPARE(services[0].toObject().value("ServiceId").toString(), QStringLiteral("{0000110b-0000-1000-8000-00805f9b34fb}"));
}

void TestBluez::adapterOffMeansRadioOff()
{
    addPairedDevices();
    m_mock->setProperty("/org/bluez/hci0", "org.bluez.Adapter1", "Powered", false);
    QStringList notices;
    QCOMPARE(pass(&notices), QJsonArray());
    QCOMPARE(notices, QStringList{"蓝牙设备未开启"});
    m_mock->setProperty("/org/bluez/hci0", "org.bluez.Adapter1", "Powered", true);
    QCOMPARE(pass().size(), 2);

    // A second adapter, powered, with a connected headset: hci0 off hides
    // nothing else, its devices stay listed as not connected.
    m_mock->addAdapter("hci1");
    m_mock->addDevice("hci1", kAddressC, "Gamma", true);
    m_mock->connectDevice("hci1", kAddressC, true);
    m_mock->connectDevice("hci0", kAddressB, true);
    m_mock->setProperty("/org/bluez/hci0", "org.bluez.Adapter1", "Powered", false);
    notices.clear();
    const QJsonArray records = pass(&notices);
    QCOMPARE(records.size(), 3);
    QVERIFY(!notices.contains("蓝牙设备未开启"));
    QStringList connected;
    for (const QJsonValue &record : records)
        connected << record["Name"].toString() + "=" + (record["Status"].toBool() ? "on" : "off");
    QCOMPARE(connected, QStringList({"Alpha <b>buds</b>=off", "Beta=off", "Gamma=on"}));
    m_mock->setProperty("/org/bluez/hci1", "org.bluez.Adapter1", "Powered", false);
    QCOMPARE(pass(&notices), QJsonArray()); // no adapter powered: the radio cannot be used
    QCOMPARE(notices.last(), QStringLiteral("蓝牙设备未开启"));
}

// Every change that a pass reads is signalled by BlueZ and heard at once,
// without a pass; BlueZ leaving the bus too.
void TestBluez::bluezChangesAreFollowed()
{
    int changes = 0;
    m_bluetooth->watchChanges([&changes] { ++changes; });
    auto heard = [&changes](const std::function<void()> &change) {
        const int before = changes;
        change();
        for (int i = 0; i < 100 && changes == before; ++i)
            QTest::qWait(20);
        return changes > before;
    };
    QString path;
    QVERIFY(heard([&] { path = m_mock->addDevice("hci0", kAddressA, "Alpha", true); }));
    QVERIFY(heard([&] { m_mock->connectDevice("hci0", kAddressA, true); }));
    QVERIFY(heard([&] { m_mock->mock("SetBattery", {path, QVariant::fromValue(uchar(40)), ""}); }));
    QVERIFY(heard([&] { m_mock->mock("SetBattery", {path, QVariant::fromValue(uchar(35)), ""}); }));
    QVERIFY(heard([&] { m_mock->mock("RemoveBattery", {path}); }));
    QVERIFY(heard([&] { m_mock->setProperty("/org/bluez/hci0", "org.bluez.Adapter1", "Powered", false); }));
    QVERIFY(heard([&] { m_mock->stopBluez(); }));
    // What a pass does not read is no change.
    QVERIFY(!platform::bluez::BluezSignals::matters("org.bluez.Device1", {"RSSI", "ManufacturerData"}));
    QVERIFY(platform::bluez::BluezSignals::matters("org.bluez.Device1", {"RSSI", "Connected"}));
    QVERIFY(!platform::bluez::BluezSignals::matters("org.bluez.MediaControl1", {"Connected"}));
    m_bluetooth->watchChanges({});
}

void TestBluez::bluezGoesAwayAndComesBack()
{
    addPairedDevices();
    QCOMPARE(pass().size(), 2);
    LogCapture log;
    m_mock->stopBluez();
    QStringList notices;
    QCOMPARE(pass(&notices), QJsonArray());
    QCOMPARE(pass(&notices), QJsonArray());
    QVERIFY(notices.isEmpty());
    QCOMPARE(log.count("org.bluez is not available"), 1); // once per change, not per pass
    QCOMPARE(m_mock->activations(), 0); // a stopped bluetoothd is not started again by us
    QVERIFY(m_mock->startBluez());
    m_mock->addAdapter("hci0");
    addPairedDevices();
    QCOMPARE(pass().size(), 2);
    QCOMPARE(log.count("org.bluez answers"), 1);
}

void TestBluez::errorMapping()
{
    auto codeAndText = [](int err) {
        try {
            platform::bluez::throwBluetoothErrno(err);
        } catch (const PlatformError &e) {
            return qMakePair(e.code(), e.message());
        }
        return qMakePair(0, QString());
    };
    for (int err : {ECONNRESET, ECONNABORTED, EHOSTDOWN, ETIMEDOUT})
        QCOMPARE(codeAndText(err).first, platform::kOperationAborted);
    for (int err : {ECONNREFUSED, EBUSY}) {
        QVERIFY(codeAndText(err).second.contains("held by another program"));
        QVERIFY(codeAndText(err).first != platform::kOperationAborted);
    }
    QVERIFY(codeAndText(EAFNOSUPPORT).second.contains("no Bluetooth support"));
    QCOMPARE(codeAndText(EACCES).first, qint32(0x80070000u | EACCES));
}

void TestBluez::streamWithoutKernelSupportFailsClearly()
{
    // On machines without kernel Bluetooth (CI) the socket cannot be made;
    // elsewhere nobody answers at this address. Either way: an error, soon.
    auto socket = m_bluetooth->createStreamSocket();
    QString message;
    try {
        socket->connect(kAddressA, "3", platform::ProtectionLevel::BluetoothEncryptionAllowNullAuthentication);
    } catch (const PlatformError &e) {
        message = e.message();
    }
    QVERIFY(!message.isEmpty());

    // Through links to a service of their own channel, as the scan cycle
    // starts one every 3 s: the row gets the text (in plain words where the
    // kernel has no Bluetooth, though the SDP step fails first); the log has
    // it once, not at every attempt.
    const int probe = ::socket(AF_BLUETOOTH, SOCK_SEQPACKET, BTPROTO_L2CAP);
    const bool kernelSupport = probe >= 0;
    if (probe >= 0)
        ::close(probe);
    LogCapture log;
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto *link = new RFCBase("dev", kAddressA, "{00001101-0000-1000-8000-00805f9b34fb}", *m_bluetooth);
        QPointer<RFCBase> guard(link);
        connect(link, &QThread::finished, link, &QObject::deleteLater);
        QSignalSpy errors(link, &RFCBase::signal_error);
        link->start();
        QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 1, 60000);
        QVERIFY(!errors.at(0).at(1).toString().isEmpty());
        if (!kernelSupport)
            QCOMPARE(errors.at(0).at(1).toString(),
                     QStringLiteral("This system's kernel has no Bluetooth support (Address family not supported by protocol)."));
        QTRY_VERIFY(guard.isNull());
    }
    QCOMPARE(log.count("message: "), 1);
}

void TestBluez::programShowsTheMockedDevices()
{
    const QString build = qEnvironmentVariable("KESTROLUNE_BUILD_DIR");
    if (qEnvironmentVariableIsEmpty("DISPLAY") || !QFile::exists(build + "/kestrolune"))
        QSKIP("needs an X server and the built program");
    addPairedDevices();
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("DBUS_SYSTEM_BUS_ADDRESS", m_mock->address());
    ProgramDriver program;
    QVERIFY(program.start(build + "/kestrolune", build, env));
    QTRY_COMPARE_WITH_TIMEOUT(program.cardsShown(), 2, 6000);
    // A device paired while the program runs shows up at a later cycle.
    m_mock->mock("PairDevice", {"hci0", kAddressC, quint32(0x240404)});
    QTRY_COMPARE_WITH_TIMEOUT(program.cardsShown(), 3, 8000);
    program.click(320, 435);
    QVERIFY(program.exitsWith(0));
}

// Another program's audio-gateway record on the adapters means held; once
// seen, the role stays held a while after it went (a restarting audio
// service must find it free), and a refused registration counts the same.
void TestBluez::anotherProgramsGatewayCountsAsHeldForAWhile()
{
    platform::bluez::ForeignGateway gateway(300);
    QVERIFY(!gateway.held());
    gateway.noteRecord(false);
    QVERIFY(!gateway.held());
    gateway.noteRecord(true);
    QVERIFY(gateway.held());
    gateway.noteRecord(false);
    QVERIFY(gateway.held()); // the gap of a restart
    QTRY_VERIFY_WITH_TIMEOUT(!gateway.held(), 2000);
    gateway.noteRefused();
    QVERIFY(gateway.held());
    QTRY_VERIFY_WITH_TIMEOUT(!gateway.held(), 2000);

    // The pass reads the record from the adapters.
    m_bluetooth->pairedDevices();
    QVERIFY(m_bluetooth->handsFreeHeldElsewhere().isEmpty());
    m_mock->setProperty("/org/bluez/hci0", "org.bluez.Adapter1", "UUIDs",
                        QStringList{"00001200-0000-1000-8000-00805f9b34fb", "0000111F-0000-1000-8000-00805F9B34FB"});
    m_bluetooth->pairedDevices();
    QVERIFY(m_bluetooth->handsFreeHeldElsewhere().contains("README"));
}

QTEST_GUILESS_MAIN(TestBluez)
#include "tst_bluez.moc"
