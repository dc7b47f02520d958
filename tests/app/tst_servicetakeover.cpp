#include "app/servicetakeover.h"
#include "support/recordingsink.h"

#include <QtTest>

// The takeover's decisions against fake service control.
class TestServiceTakeover : public QObject
{
    Q_OBJECT

private slots:
    void decision_data();
    void decision();
    void launchesTheExactCommand();
    void doesNothingWithoutTheService();
};

void TestServiceTakeover::decision_data()
{
    QTest::addColumn<bool>("missing");
    QTest::addColumn<bool>("queryRuns");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<bool>("launchSucceeds");
    QTest::addColumn<int>("launches");
    QTest::addColumn<int>("warnings");

    const QByteArray stopped = "SERVICE_NAME: BTAGService\r\n        STATE              : 1  STOPPED\r\n";
    const QByteArray running = "SERVICE_NAME: BTAGService\r\n        STATE              : 4  RUNNING\r\n";
    const QByteArray pending = "SERVICE_NAME: BTAGService\r\n        STATE              : 3  STOP_PENDING\r\n";
    QTest::newRow("stopped") << false << true << stopped << true << 0 << 0;
    QTest::newRow("running, accepted") << false << true << running << true << 1 << 0;
    QTest::newRow("running, declined") << false << true << running << false << 1 << 1;
    QTest::newRow("stop pending counts as active") << false << true << pending << true << 1 << 0;
    QTest::newRow("lower-case stopped is not stopped") << false << true << QByteArray("stopped") << true << 1 << 0;
    QTest::newRow("query cannot start") << false << false << QByteArray() << false << 1 << 1;
    // Asked of the service control manager first: a missing service is left
    // alone whatever sc prints (Windows: 1060 and a text; Wine: nothing).
    QTest::newRow("service does not exist") << true << true << QByteArray("[SC] OpenService FAILED 1060") << true << 0 << 0;
    QTest::newRow("missing, sc prints nothing") << true << true << QByteArray() << true << 0 << 0;
    // Any other failure to ask keeps the query's verdict.
    QTest::newRow("manager unsure, sc fails") << false << true << QByteArray("[SC] OpenService FAILED 5") << true << 1 << 0;
}

void TestServiceTakeover::decision()
{
    QFETCH(bool, missing);
    QFETCH(bool, queryRuns);
    QFETCH(QByteArray, output);
    QFETCH(bool, launchSucceeds);
    QFETCH(int, launches);
    QFETCH(int, warnings);

    int launched = 0;
    QStringList asked;
    ServiceControl control;
    control.serviceIsMissing = [&](const QString &name) {
        asked << name;
        return missing;
    };
    control.runProcess = [&](const QString &, const QStringList &) -> std::optional<QByteArray> {
        if (!queryRuns)
            return std::nullopt;
        return output;
    };
    control.launchElevated = [&](const QString &, const QString &, const QString &) {
        ++launched;
        return launchSucceeds;
    };
    RecordingSink sink;
    stopBTAGService(control, sink);
    QCOMPARE(asked, QStringList{"BTAGService"});
    QCOMPARE(launched, launches);
    QCOMPARE(sink.boxes.size(), warnings);
    if (warnings) {
        QCOMPARE(sink.boxes.first().first, QStringLiteral("警告"));
        QCOMPARE(sink.boxes.first().second,
                 QStringLiteral("windows服务BTAGService关闭失败，请尝试在运行窗口中输入services.msc进入并手动关闭"));
    }
}

void TestServiceTakeover::launchesTheExactCommand()
{
    QStringList query, launch;
    ServiceControl control;
    control.runProcess = [&](const QString &program, const QStringList &args) -> std::optional<QByteArray> {
        query << program << args;
        return QByteArray("RUNNING");
    };
    control.launchElevated = [&](const QString &verb, const QString &file, const QString &params) {
        launch << verb << file << params;
        return true;
    };
    RecordingSink sink;
    stopBTAGService(control, sink);
    QCOMPARE(query, QStringList({"sc", "query", "BTAGService"}));
    QCOMPARE(launch, QStringList({"runas", "cmd.exe", "/c sc config BTAGService start= disabled && sc stop BTAGService"}));
}

void TestServiceTakeover::doesNothingWithoutTheService()
{
#ifdef Q_OS_WIN
    // Windows has service control; the takeover itself is tried under Wine
    // with a service of the tests' own (tests/windows/takeover).
    const ServiceControl system = ServiceControl::system();
    QVERIFY(system.serviceIsMissing && system.runProcess && system.launchElevated);
#else
    // Linux has no audio-gateway service: no query, no prompt, no box.
    RecordingSink sink;
    stopBTAGService(ServiceControl::system(), sink);
    QVERIFY(sink.boxes.isEmpty());
    QVERIFY(!ServiceControl::system().runProcess);
#endif
}

QTEST_GUILESS_MAIN(TestServiceTakeover)
#include "tst_servicetakeover.moc"
