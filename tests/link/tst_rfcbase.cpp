#include "link/rfcbase.h"
#include "platform/sim/simworld.h"
#include "support/logcapture.h"

#include <QPointer>
#include <QtTest>

using platform::sim::HeadsetOptions;

// The link's signals come from its own thread; they are relayed into this
// thread (as an owner receives them) before a spy records them.
class LinkRelay : public QObject
{
    Q_OBJECT
signals:
    void error(QString deviceName, QString errorMsg);
    void battery(QString deviceName, int value);
};
using platform::sim::SimHeadset;
using platform::sim::SimWorld;

// Links against simulated headsets, through real threads and signals.
class TestRfcBase : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void reportsEveryLevelAfterTheSetUp();
    void refusedConnectionReportsOnceAndEnds();
    void brokenStreamMeansSwitchedOff();
    void otherReadErrorsPassTheirText();
    void cleanCloseWaitsForQuit();
    void burstIsAnsweredInSeveralReplies();
    void pipelinedCommandsGetAnAnswerEach();
    void commandSplitOverTwoReads();
    void quitDoesNotInterruptABlockedLoad();
    void stopEndsABlockedLinkAtOnce();
    void nulBytesAndInvalidUtf8();
    void floodingHeadsetIsServedAndStoppable();

private:
    struct Link
    {
        QPointer<RFCBase> link;
        std::unique_ptr<LinkRelay> relay;
        std::unique_ptr<QSignalSpy> errors;
        std::unique_ptr<QSignalSpy> levels;
    };
    Link startLink(const QString &id);
    bool waitForSetUp(const std::shared_ptr<SimHeadset> &headset);
    // A headset "hs" and its link, set up, first level reported, the link
    // waiting in its load.
    std::shared_ptr<SimHeadset> talkingHeadset(Link &link);

    std::shared_ptr<SimWorld> m_world;
    std::unique_ptr<LogCapture> m_log;
    QList<QPointer<RFCBase>> m_links;
};

void TestRfcBase::init()
{
    m_world = std::make_shared<SimWorld>();
    m_log = std::make_unique<LogCapture>();
}

void TestRfcBase::cleanup()
{
    for (const QPointer<RFCBase> &link : qAsConst(m_links)) {
        if (link) {
            link->stop();
            QVERIFY(link->wait(5000));
        }
    }
    QTRY_VERIFY(std::all_of(m_links.cbegin(), m_links.cend(), [](const QPointer<RFCBase> &l) { return l.isNull(); }));
    m_links.clear();
    m_world.reset();
    m_log.reset();
}

TestRfcBase::Link TestRfcBase::startLink(const QString &id)
{
    const auto services = m_world->rfcommServices(id);
    auto *link = new RFCBase(id, services.first().connectionHostName, services.first().connectionServiceName, *m_world);
    connect(link, &QThread::finished, link, &QObject::deleteLater, Qt::DirectConnection);
    auto relay = std::make_unique<LinkRelay>();
    connect(link, &RFCBase::signal_error, relay.get(), &LinkRelay::error, Qt::QueuedConnection);
    connect(link, &RFCBase::signal_sendBattery, relay.get(), &LinkRelay::battery, Qt::QueuedConnection);
    Link l{link, std::move(relay), nullptr, nullptr};
    l.errors = std::make_unique<QSignalSpy>(l.relay.get(), &LinkRelay::error);
    l.levels = std::make_unique<QSignalSpy>(l.relay.get(), &LinkRelay::battery);
    m_links << link;
    link->start();
    return l;
}

bool TestRfcBase::waitForSetUp(const std::shared_ptr<SimHeadset> &headset)
{
    for (int i = 0; i < 100 && !headset->session(); ++i)
        QTest::qWait(20);
    return headset->session() && headset->session()->waitForSetUp(10000);
}

std::shared_ptr<SimHeadset> TestRfcBase::talkingHeadset(Link &l)
{
    auto headset = m_world->addHeadset("hs", "Headset");
    l = startLink("hs");
    if (!waitForSetUp(headset))
        return nullptr;
    for (int i = 0; i < 250 && l.levels->count() < 1; ++i)
        QTest::qWait(20);
    return l.levels->count() == 1 ? headset : nullptr;
}

void TestRfcBase::reportsEveryLevelAfterTheSetUp()
{
    Link l;
    auto headset = talkingHeadset(l);
    QVERIFY(headset);
    headset->setLevel(85);
    QTRY_COMPARE_WITH_TIMEOUT(l.levels->count(), 2, 5000);
    headset->setLevel(20);
    QTRY_COMPARE_WITH_TIMEOUT(l.levels->count(), 3, 5000);

    QList<int> values;
    for (const QList<QVariant> &args : qAsConst(*l.levels)) {
        QCOMPARE(args.at(0).toString(), QStringLiteral("hs"));
        values << args.at(1).toInt();
    }
    QCOMPARE(values, (QList<int>{100, 85, 20}));
    QCOMPARE(l.errors->count(), 0);
    QVERIFY2(headset->session()->failures().isEmpty(), qPrintable(headset->session()->failures().join("; ")));
    // Every read and every reply is logged; every battery report too.
    QVERIFY(m_log->count("Recieved :") >= 12);
    QVERIFY(m_log->count("\nWrite: ") >= 12);
    QCOMPARE(m_log->count("rfcbase.cpp: "), 3);
}

void TestRfcBase::refusedConnectionReportsOnceAndEnds()
{
    auto headset = m_world->addHeadset("hs", "Headset");
    headset->refuse(qint32(0x80072740u), "The remote device refused the connection.");
    Link l = startLink("hs");
    QTRY_COMPARE_WITH_TIMEOUT(l.errors->count(), 1, 5000);
    QCOMPARE(l.errors->at(0).at(0).toString(), QStringLiteral("hs"));
    QCOMPARE(l.errors->at(0).at(1).toString(), QStringLiteral("The remote device refused the connection."));
    QTRY_VERIFY(l.link.isNull()); // finished and deleted
    QCOMPARE(headset->connections(), 0);
    QCOMPARE(m_log->count("hresult: "), 1);
    QCOMPARE(m_log->count("message: "), 1);
}

void TestRfcBase::brokenStreamMeansSwitchedOff()
{
    Link l;
    auto headset = talkingHeadset(l);
    QVERIFY(headset);
    headset->breakStream();
    QTRY_COMPARE_WITH_TIMEOUT(l.errors->count(), 1, 5000);
    QCOMPARE(l.errors->at(0).at(1).toString(), QStringLiteral("蓝牙设备已关闭"));
    QTRY_VERIFY(l.link.isNull());
    QCOMPARE(m_log->count("hresult "), 1);
    QVERIFY(m_log->lines().join("\n").contains(QString::number(platform::kOperationAborted)));
}

void TestRfcBase::otherReadErrorsPassTheirText()
{
    Link l;
    auto headset = talkingHeadset(l);
    QVERIFY(headset);
    headset->breakStream(qint32(0x80070079u));
    QTRY_COMPARE_WITH_TIMEOUT(l.errors->count(), 1, 5000);
    QCOMPARE(l.errors->at(0).at(1).toString(), QStringLiteral("Simulated failure %1").arg(qint32(0x80070079u)));
    QTRY_VERIFY(l.link.isNull());
}

void TestRfcBase::cleanCloseWaitsForQuit()
{
    Link l;
    auto headset = talkingHeadset(l);
    QVERIFY(headset);
    headset->closeCleanly();
    QTRY_COMPARE_WITH_TIMEOUT(m_log->count("Not Data"), 1, 5000);
    QTest::qWait(300);
    QVERIFY(l.link);
    QVERIFY(l.link->isRunning());
    QCOMPARE(l.errors->count(), 0);
    l.link->quit();
    QTRY_VERIFY(l.link.isNull());
    QCOMPARE(l.errors->count(), 0);
}

void TestRfcBase::burstIsAnsweredInSeveralReplies()
{
    Link l;
    auto headset = talkingHeadset(l);
    QVERIFY(headset);
    const auto session = headset->session();
    const int before = session->finalCount();
    const int readsBefore = m_log->count("Recieved :");
    session->send(QByteArray(1500, 'x') + "\r");
    QTRY_VERIFY_WITH_TIMEOUT(session->finalCount() >= before + 2, 5000);
    QVERIFY(m_log->count("Recieved :") - readsBefore >= 2);
    QVERIFY(session->failures().isEmpty());
}

void TestRfcBase::pipelinedCommandsGetAnAnswerEach()
{
    Link l;
    auto headset = talkingHeadset(l);
    QVERIFY(headset);
    const auto session = headset->session();
    const int before = session->finalCount();
    const int writesBefore = m_log->count("\nWrite: ");
    session->send("AT+BIEV=2,73\rAT+CLCC\rAT+VGS=9\r");
    QVERIFY(session->waitForFinalCount(before + 3, 5000));
    QTRY_COMPARE_WITH_TIMEOUT(l.levels->count(), 2, 5000);
    QCOMPARE(l.levels->at(1).at(1).toInt(), 73);
    QCOMPARE(m_log->count("\nWrite: ") - writesBefore, 3);
    QTest::qWait(400);
    QCOMPARE(session->finalCount(), before + 3);
    QVERIFY2(session->failures().isEmpty(), qPrintable(session->failures().join("; ")));
}

void TestRfcBase::commandSplitOverTwoReads()
{
    Link l;
    auto headset = talkingHeadset(l);
    QVERIFY(headset);
    const auto session = headset->session();
    const int before = session->finalCount();
    const int reads = m_log->count("Recieved :");
    session->send("AT+BIEV=2,");
    QTRY_COMPARE_WITH_TIMEOUT(m_log->count("Recieved :"), reads + 1, 5000);
    session->send("57\r");
    QVERIFY(session->waitForFinalCount(before + 1, 5000));
    QTRY_COMPARE_WITH_TIMEOUT(l.levels->count(), 2, 5000);
    QCOMPARE(l.levels->at(1).at(1).toInt(), 57);
    QTest::qWait(400);
    QCOMPARE(session->finalCount(), before + 1); // one command, one OK
}

void TestRfcBase::quitDoesNotInterruptABlockedLoad()
{
    Link l;
    auto headset = talkingHeadset(l);
    QVERIFY(headset);
    l.link->quit();
    QTest::qWait(500);
    QVERIFY(l.link && l.link->isRunning());
    headset->setLevel(70);
    QTRY_COMPARE_WITH_TIMEOUT(l.levels->count(), 2, 5000);
    QCOMPARE(l.levels->at(1).at(1).toInt(), 70);
    headset->closeCleanly();
    QTRY_VERIFY_WITH_TIMEOUT(l.link.isNull(), 5000);
}

void TestRfcBase::stopEndsABlockedLinkAtOnce()
{
    HeadsetOptions silent;
    silent.silent = true;
    m_world->addHeadset("hs", "Headset", silent);
    Link l = startLink("hs");
    QTest::qWait(300);
    QVERIFY(l.link && l.link->isRunning());
    l.link->stop();
    QVERIFY(l.link->wait(2000));
    QTRY_VERIFY(l.link.isNull());
    QCOMPARE(l.errors->count(), 0);
}

void TestRfcBase::nulBytesAndInvalidUtf8()
{
    Link l;
    auto headset = talkingHeadset(l);
    QVERIFY(headset);
    const auto session = headset->session();
    const int before = session->finalCount();
    session->send(QByteArray("\0\0AT+BIEV=2,\xff\xfe" "7\r", 16));
    QVERIFY(session->waitForFinalCount(before + 1, 5000));
    QTRY_COMPARE_WITH_TIMEOUT(m_log->count("battery report without a level"), 1, 5000);
    headset->setLevel(42); // the link goes on; the unreadable report gave no level
    QTRY_COMPARE_WITH_TIMEOUT(l.levels->count(), 2, 5000);
    QCOMPARE(l.levels->at(1).at(1).toInt(), 42);
    QVERIFY(session->failures().isEmpty());
}

void TestRfcBase::floodingHeadsetIsServedAndStoppable()
{
    Link l;
    auto headset = talkingHeadset(l);
    QVERIFY(headset);
    const auto session = headset->session();
    const int before = m_log->count("Recieved :");
    session->send(QByteArray(4 * 1024 * 1024, 'A')); // far more than the link reads in a while
    // Answered at the link's own pace: one load and one reply every 200 ms.
    QTRY_VERIFY_WITH_TIMEOUT(m_log->count("Recieved :") >= before + 3, 5000);
    QVERIFY(m_log->count("\nWrite: ") >= before + 3);
    l.link->stop();
    QVERIFY(l.link->wait(5000)); // stops while the headset floods it
    QCOMPARE(l.errors->count(), 0);
}

QTEST_GUILESS_MAIN(TestRfcBase)
#include "tst_rfcbase.moc"
