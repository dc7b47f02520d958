#include "fakewin32bluetooth.h"

#include "devices/enumeration.h"
#include "platform/windows/windowsbluetooth.h"
#include "support/logcapture.h"

#include <QJsonObject>
#include <QtTest>

using platform::PlatformError;

namespace {
const BTH_ADDR kRadioA = 0x001a7dda7113, kRadioB = 0x5c0a5b000001;
const BTH_ADDR kHeadset = 0xe8abfa123456, kSpeaker = 0x001122334455;
const QString kHeadsetOnA = "Bluetooth#Bluetooth00:1a:7d:da:71:13-e8:ab:fa:12:34:56";
const QString kSpeakerOnA = "Bluetooth#Bluetooth00:1a:7d:da:71:13-00:11:22:33:44:55";
const QString kHeadsetNode = "BTHENUM\\{0000111E-0000-1000-8000-00805F9B34FB}_VID&0001005d_PID&223b\\7&2b4b2a0e&0&E8ABFA123456_C00000000";

QJsonObject record(const QJsonArray &records, const QString &id)
{
    for (const QJsonValue &r : records) {
        if (r.toObject().value("Id").toString() == id)
            return r.toObject();
    }
    return {};
}
} // namespace

class TestWindowsBluetooth : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void unusableBluetooth_data();
    void unusableBluetooth();
    void switchedOffRadioListsNothingConnected();
    void pairedConnectedAndGone();
    void servicesAsThePassSeesThem();
    void knownLevelOnlyWhileTheGatewayRuns();

private:
    QJsonArray pass() { return enumeratePairedDevices(m_backend, [this](const QString &n) { m_notices << n; }); }

    std::shared_ptr<FakeWin32Bluetooth> m_system = std::make_shared<FakeWin32Bluetooth>();
    platform::windows::WindowsBluetooth m_backend{m_system};
    QStringList m_notices;
};

void TestWindowsBluetooth::init()
{
    *m_system = FakeWin32Bluetooth();
    m_system->radios = {{kRadioA, true, {{kHeadset, "Headset", true, true, true}}}};
    m_notices.clear();
}

void TestWindowsBluetooth::unusableBluetooth_data()
{
    QTest::addColumn<int>("radios"); // how many, all switched off
    QTest::addColumn<quint32>("findError");
    QTest::addColumn<quint32>("code");
    const quint32 off = quint32(platform::kDeviceNotAvailable);
    QTest::newRow("no radio") << 0 << quint32(ERROR_NO_MORE_ITEMS) << off;
    QTest::newRow("no Bluetooth (Wine)") << 0 << quint32(ERROR_CALL_NOT_IMPLEMENTED) << off;
    QTest::newRow("search refused") << 0 << quint32(ERROR_ACCESS_DENIED) << 0x80070005u;
    QTest::newRow("two radios off") << 2 << quint32(0) << off;
}

void TestWindowsBluetooth::unusableBluetooth()
{
    QFETCH(int, radios);
    QFETCH(quint32, findError);
    QFETCH(quint32, code);
    m_backend.pairedDevices(); // a pass that found the headset before
    m_system->radios.clear();
    for (int i = 0; i < radios; ++i)
        m_system->radios.append({kRadioA + BTH_ADDR(i), false, {{kHeadset, "Headset", true, true, true}}});
    m_system->noRadioError = findError;
    try {
        m_backend.pairedDevices();
        QFAIL("pairedDevices() went on without a usable radio");
    } catch (const PlatformError &e) {
        QCOMPARE(quint32(e.code()), code);
        QVERIFY(!e.message().isEmpty());
    }
    QCOMPARE(m_system->openRadios, 0);
    // Nothing of the earlier pass is still taken as there.
    QVERIFY_EXCEPTION_THROWN(m_backend.isConnected(kHeadsetOnA), PlatformError);
}

void TestWindowsBluetooth::switchedOffRadioListsNothingConnected()
{
    // Windows can still remember a device as connected on a radio just switched off.
    m_system->radios.append({kRadioB, false, {{kSpeaker, "Speaker", true, true, true}}});
    m_system->gatewayRunning = true;
    m_system->nodes = {{QString(kHeadsetNode).replace("E8ABFA123456", "001122334455"), 55}};
    const QJsonArray records = pass();
    QCOMPARE(records.size(), 2);
    QCOMPARE(m_notices, QStringList({"", ""}));
    QCOMPARE(record(records, kHeadsetOnA).value("Status").toBool(), true);
    const QJsonObject speaker = record(records, "Bluetooth#Bluetooth5c:0a:5b:00:00:01-00:11:22:33:44:55");
    QCOMPARE(speaker.value("Status").toBool(), false);
    QVERIFY(!speaker.contains("Battery"));
    QCOMPARE(m_system->openRadios, 0);
}

void TestWindowsBluetooth::pairedConnectedAndGone()
{
    m_system->radios[0].devices = {{kHeadset, "", false, true, false},       // remembered, not connected
                                   {kSpeaker, "Speaker", true, false, true}, // authenticated, connected
                                   {0x0a0b0c0d0e0f, "Passer-by", true, false, false}}; // not paired
    const QVector<platform::DeviceInfo> devices = m_backend.pairedDevices();
    QCOMPARE(devices.size(), 2);
    QCOMPARE(devices[0].id, kHeadsetOnA);
    QCOMPARE(devices[0].name, QStringLiteral("e8:ab:fa:12:34:56")); // no name: the address stands in
    QCOMPARE(m_backend.isConnected(kHeadsetOnA), false);
    QCOMPARE(m_backend.isConnected(kSpeakerOnA), true);

    m_system->radios[0].devices.removeAt(1); // unpaired
    QCOMPARE(m_backend.pairedDevices().size(), 1);
    try {
        m_backend.isConnected(kSpeakerOnA);
        QFAIL("a device that is gone is still looked up");
    } catch (const PlatformError &e) {
        QCOMPARE(e.code(), platform::kDeviceNotAvailable);
    }
}

void TestWindowsBluetooth::servicesAsThePassSeesThem()
{
    const QUuid handsFree(kHandsFreeServiceId), audioSink("{0000110b-0000-1000-8000-00805f9b34fb}");
    m_system->services[kHeadset] = {audioSink, handsFree, handsFree};
    m_system->radios[0].devices.append({kSpeaker, "Speaker", true, true, true});
    m_system->servicesError[kSpeaker] = ERROR_ACCESS_DENIED;
    LogCapture log;
    QJsonArray records = pass();
    const QJsonArray services = record(records, kHeadsetOnA).value("Services").toArray();
    QCOMPARE(services.size(), 3);
    const QJsonObject service = services[1].toObject();
    QCOMPARE(service.value("ServiceId").toString(), QString::fromLatin1(kHandsFreeServiceId));
    QCOMPARE(service.value("ConnectionServiceName").toString(), QString::fromLatin1(kHandsFreeServiceId));
    QCOMPARE(service.value("ConnectionHostName").toString(), QStringLiteral("(e8:ab:fa:12:34:56)"));
    QCOMPARE(services[0].toObject().value("ServiceId").toString(), audioSink.toString());
    QCOMPARE(services[2].toObject(), service);
    // A device whose services cannot be read is listed without them.
    QCOMPARE(records.size(), 2);
    QVERIFY(!record(records, kSpeakerOnA).contains("Services"));
    QCOMPARE(log.count(QString::number(qint32(0x80070005u))), 1);

    // Windows' "device not available" is the radio going off mid-pass.
    m_system->servicesError[kHeadset] = ERROR_DEVICE_NOT_AVAILABLE;
    m_notices.clear();
    QCOMPARE(pass(), QJsonArray());
    QCOMPARE(m_notices, QStringList({"蓝牙设备未开启"}));
}

void TestWindowsBluetooth::knownLevelOnlyWhileTheGatewayRuns()
{
    m_system->radios[0].devices.append({kSpeaker, "Speaker", true, true, true});
    m_system->nodes = {{kHeadsetNode, 80},
                       {QString(kHeadsetNode).replace("111E", "110B"), 10}, // not the hands-free node
                       {QString(kHeadsetNode).replace("E8ABFA123456", "001122334455"), 150}}; // no level
    QVERIFY(!record(pass(), kHeadsetOnA).contains("Battery")); // stale while the gateway is stopped

    m_system->gatewayRunning = true;
    const QJsonArray records = pass();
    QCOMPARE(record(records, kHeadsetOnA).value("Battery").toInt(-1), 80);
    QVERIFY(!record(records, kSpeakerOnA).contains("Battery"));

    m_system->radios[0].devices[0].connected = false; // the node keeps its last value
    QVERIFY(!record(pass(), kHeadsetOnA).contains("Battery"));
}

QTEST_GUILESS_MAIN(TestWindowsBluetooth)
#include "tst_windowsbluetooth.moc"
