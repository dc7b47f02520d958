#include "devices/enumeration.h"
#include "platform/sim/simworld.h"
#include "support/logcapture.h"

#include <QJsonObject>
#include <QtTest>

using platform::RfcommService;
using platform::sim::SimWorld;

class TestEnumeration : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void noDevicesLeavesTheNoticeAlone();
    void listsEveryDeviceInOrder();
    void failedLookupKeepsThePartialRecord();
    void failedServiceListKeepsTheState();
    void radioOffEndsThePass_data();
    void radioOffEndsThePass();
    void servicesInPlatformOrderWithDuplicates();
    void failedQueryGivesAnEmptyPass();
    void noRadioAtAllIsTheRadioOffNotice();

private:
    QJsonArray run() { return enumeratePairedDevices(*m_world, [this](const QString &n) { m_notices << n; }); }
    void addThree();

    std::unique_ptr<SimWorld> m_world;
    QStringList m_notices;
};

void TestEnumeration::init()
{
    m_world = std::make_unique<SimWorld>();
    m_notices.clear();
}

void TestEnumeration::addThree()
{
    m_world->addHeadset("a", "Alpha");
    m_world->addDevice({"b", "Beta", false, {}});
    m_world->addHeadset("c", "Gamma <b>x</b>");
}

void TestEnumeration::noDevicesLeavesTheNoticeAlone()
{
    QCOMPARE(run(), QJsonArray());
    QVERIFY(m_notices.isEmpty());
}

void TestEnumeration::listsEveryDeviceInOrder()
{
    addThree();
    const QJsonArray records = run();
    QCOMPARE(records.size(), 3);
    QCOMPARE(m_notices, QStringList({"", "", ""}));
    QCOMPARE(records[0].toObject().value("Name").toString(), QStringLiteral("Alpha"));
    QCOMPARE(records[0].toObject().value("Id").toString(), QStringLiteral("a"));
    QCOMPARE(records[0].toObject().value("Status").toBool(), true);
    QCOMPARE(records[1].toObject().value("Status").toBool(), false);
    QCOMPARE(records[1].toObject().value("Services").toArray(), QJsonArray());
    QVERIFY(records[1].toObject().contains("Services"));
    QCOMPARE(records[2].toObject().value("Name").toString(), QStringLiteral("Gamma <b>x</b>"));

    const QJsonObject service = records[0].toObject().value("Services").toArray().first().toObject();
    QCOMPARE(service.value("ServiceId").toString(), QStringLiteral("{0000111e-0000-1000-8000-00805f9b34fb}"));
    QCOMPARE(service.value("ServiceId").toString(), QString::fromLatin1(kHandsFreeServiceId));
    QVERIFY(!service.value("ConnectionServiceName").toString().isEmpty());
    QVERIFY(!service.value("ConnectionHostName").toString().isEmpty());
}

void TestEnumeration::failedLookupKeepsThePartialRecord()
{
    addThree();
    LogCapture log;
    m_world->injectFailure(SimWorld::Op::Lookup, "b", qint32(0x80070005u), "Access is denied.");
    const QJsonArray records = run();
    QCOMPARE(records.size(), 3);
    const QJsonObject beta = records[1].toObject();
    QCOMPARE(beta, QJsonObject({{"Name", "Beta"}, {"Id", "b"}, {"Status", false}}));
    QCOMPARE(m_notices, QStringList({"", "", ""}));
    QCOMPARE(log.count("hresult: "), 1);
    QCOMPARE(log.count("message: "), 1);
    QVERIFY(log.lines().join(" ").contains(QString::number(qint32(0x80070005u))));
}

void TestEnumeration::failedServiceListKeepsTheState()
{
    addThree();
    LogCapture log;
    m_world->injectFailure(SimWorld::Op::Services, "a", qint32(0x80004005u), "Unspecified error");
    const QJsonObject alpha = run()[0].toObject();
    QCOMPARE(alpha.value("Status").toBool(), true);
    QVERIFY(!alpha.contains("Services"));
}

void TestEnumeration::radioOffEndsThePass_data()
{
    QTest::addColumn<QString>("failingId");
    QTest::addColumn<int>("records");
    QTest::addColumn<QStringList>("notices");
    QTest::newRow("first device") << "a" << 0 << QStringList({"蓝牙设备未开启"});
    QTest::newRow("third device") << "c" << 2 << QStringList({"", "", "蓝牙设备未开启"});
}

void TestEnumeration::radioOffEndsThePass()
{
    QFETCH(QString, failingId);
    QFETCH(int, records);
    QFETCH(QStringList, notices);
    addThree();
    m_world->injectFailure(SimWorld::Op::Lookup, failingId, platform::kDeviceNotAvailable, "not ready");
    QCOMPARE(run().size(), records);
    QCOMPARE(m_notices, notices);
}

void TestEnumeration::servicesInPlatformOrderWithDuplicates()
{
    const QUuid serial("{00001101-0000-1000-8000-00805f9b34fb}");
    const RfcommService hf{SimWorld::kHandsFreeUuid, "hf", "host"};
    m_world->addDevice({"d", "Multi", true, {{serial, "spp", "host"}, hf, hf}});
    const QJsonArray services = run()[0].toObject().value("Services").toArray();
    QCOMPARE(services.size(), 3);
    QCOMPARE(services[0].toObject().value("ServiceId").toString(), QStringLiteral("{00001101-0000-1000-8000-00805f9b34fb}"));
    QCOMPARE(services[1], services[2]);
}

void TestEnumeration::failedQueryGivesAnEmptyPass()
{
    addThree();
    LogCapture log;
    m_world->injectFailure(SimWorld::Op::PairedDevices, {}, qint32(0x80004005u), "Unspecified error");
    QCOMPARE(run(), QJsonArray());
    QVERIFY(m_notices.isEmpty());
}

// A system with no radio at all (Windows without Bluetooth hardware, or
// Wine) fails the query itself with the radio-off code: the notice says so.
void TestEnumeration::noRadioAtAllIsTheRadioOffNotice()
{
    addThree();
    LogCapture log;
    m_world->injectFailure(SimWorld::Op::PairedDevices, {}, platform::kDeviceNotAvailable, "No radio");
    QCOMPARE(run(), QJsonArray());
    QCOMPARE(m_notices, QStringList{QStringLiteral("蓝牙设备未开启")});
}

QTEST_GUILESS_MAIN(TestEnumeration)
#include "tst_enumeration.moc"
