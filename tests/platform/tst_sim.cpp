#include "platform/fdstreamsocket.h"
#include "platform/sim/headsetsession.h"
#include "platform/sim/simworld.h"

#include <QtTest>

#include <thread>

using namespace platform;
using namespace platform::sim;

// The simulated platform itself: the stream semantics the link relies on,
// and headsets that notice a wrong audio gateway.
class TestSim : public QObject
{
    Q_OBJECT

private slots:
    void errorCodes();
    void uuidText();
    void streamLoadsBlockSplitAndEnd();
    void abortEndsABlockedLoad();
    void headsetRejectsMalformedReplies_data();
    void headsetRejectsMalformedReplies();
    void connectFailures();
    void headsetTakesPipeWiresReplies();
};

void TestSim::errorCodes()
{
    // The system's own numbers: errno on Linux, Winsock's on Windows.
    for (int err : {os::errorTimedOut(), os::errorNotConnected()})
        QCOMPARE(codeForErrno(err), kOperationAborted);
    const int refused = os::errorRefused();
    QCOMPARE(codeForErrno(refused), qint32(0x80070000u | quint32(refused)));
    try {
        throwErrno(refused);
        QFAIL("no error thrown");
    } catch (const PlatformError &e) {
        QCOMPARE(e.code(), qint32(0x80070000u | quint32(refused)));
        QVERIFY(!e.message().isEmpty());
    }
}

void TestSim::uuidText()
{
    const QString text = platform::uuidText(SimWorld::kHandsFreeUuid);
    QCOMPARE(text, QStringLiteral("{0000111e-0000-1000-8000-00805f9b34fb}"));
    QCOMPARE(text.size(), 38);
    QCOMPARE(platform::uuidText(QUuid("{ABCDEF01-2345-6789-ABCD-EF0123456789}")),
             QStringLiteral("{abcdef01-2345-6789-abcd-ef0123456789}"));
}

namespace {
// A stream socket over one end of a socket pair.
class PairSocket : public FdStreamSocket
{
public:
    explicit PairSocket(os::Handle fd) { adopt(fd); }
    void connect(const QString &, const QString &, ProtectionLevel) override {}
};

// The test's own end of a pair: reads that wait up to 5 s (a headset that
// stops answering fails the test rather than hanging it), writes of all.
qint64 readWithin(os::Handle fd, char *buffer, qint64 size)
{
    for (;;) {
        if (os::waitReady(fd, os::kReadable, os::kNoHandle, 5000) <= 0)
            return -1;
        const qint64 n = os::readSome(fd, buffer, size);
        if (n >= 0 || !os::isTransient(os::lastError()))
            return n;
    }
}

bool writeAll(os::Handle fd, const QByteArray &bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        if (os::waitReady(fd, os::kWritable, os::kNoHandle, 5000) <= 0)
            return false;
        const qint64 n = os::writeSome(fd, bytes.constData() + done, bytes.size() - done);
        if (n < 0 && !os::isTransient(os::lastError()))
            return false;
        done += qMax<qint64>(n, 0);
    }
    return true;
}
} // namespace

void TestSim::streamLoadsBlockSplitAndEnd()
{
    os::Handle fds[2];
    QVERIFY(os::makeSocketPair(fds));
    PairSocket socket(fds[0]);
    const QByteArray big(3000, 'a');
    QVERIFY(writeAll(fds[1], big));
    quint32 total = 0;
    int loads = 0;
    while (total < 3000) {
        const quint32 n = socket.load(1024);
        QVERIFY(n > 0 && n <= 1024);
        QCOMPARE(socket.readBytes(n), QByteArray(int(n), 'a'));
        total += n;
        ++loads;
    }
    QVERIFY(loads >= 3);
    socket.writeBytes("\r\nOK\r\n");
    QCOMPARE(socket.store(), 6u);
    char buf[16];
    QCOMPARE(readWithin(fds[1], buf, sizeof buf), qint64(6));
    os::closeHandle(fds[1]);
    QCOMPARE(socket.load(1024), 0u);
}

void TestSim::abortEndsABlockedLoad()
{
    os::Handle fds[2];
    QVERIFY(os::makeSocketPair(fds));
    PairSocket socket(fds[0]);
    quint32 loaded = 99;
    std::thread reader([&] { loaded = socket.load(1024); });
    QTest::qWait(100);
    socket.abort();
    reader.join();
    QCOMPARE(loaded, 0u);
    os::closeHandle(fds[1]);
}

void TestSim::headsetRejectsMalformedReplies_data()
{
    QTest::addColumn<QByteArray>("brsfReply");
    QTest::addColumn<QString>("complaint");
    QTest::newRow("no framing") << QByteArray("+BRSF: 3943\r\nOK\r\n") << "not framed";
    QTest::newRow("error") << QByteArray("\r\nERROR\r\n") << "ERROR";
    QTest::newRow("missing features line") << QByteArray("\r\nOK\r\n") << "+BRSF";
}

void TestSim::headsetRejectsMalformedReplies()
{
    QFETCH(QByteArray, brsfReply);
    QFETCH(QString, complaint);
    os::Handle fds[2];
    QVERIFY(os::makeSocketPair(fds));
    HeadsetOptions options;
    options.replyTimeoutMs = 1000;
    HeadsetSession session(fds[1], fds[1], options);
    std::thread runner([&] { session.run(); });
    char buf[64];
    QVERIFY(readWithin(fds[0], buf, sizeof buf) > 0); // AT+BRSF=...
    QVERIFY(writeAll(fds[0], brsfReply));
    QVERIFY(!session.waitForSetUp(1500));
    session.stop();
    runner.join();
    const QStringList failures = session.failures();
    QVERIFY2(!failures.isEmpty(), "a wrong reply went unnoticed");
    QVERIFY2(failures.join(" ").contains(complaint), qPrintable(failures.join("; ")));
    os::closeHandle(fds[0]);
    os::closeHandle(fds[1]);
}

// PipeWire's gateway writes "+CIND:(" without a space and answers AT+COPS?
// with ERROR: a headset carries on to its battery report.
void TestSim::headsetTakesPipeWiresReplies()
{
    const QMap<QByteArray, QByteArray> replies{
        {"AT+BRSF=406", "\r\n+BRSF: 1632\r\n\r\nOK\r\n"},
        {"AT+BAC=1,2", "\r\nOK\r\n"},
        {"AT+CIND=?", "\r\n+CIND:(\"service\",(0-1)),(\"call\",(0-1)),(\"callsetup\",(0-3)),(\"callheld\",(0-2)),"
                      "(\"signal\",(0-5)),(\"roam\",(0-1)),(\"battchg\",(0-5))\r\n\r\nOK\r\n"},
        {"AT+CIND?", "\r\n+CIND: 0,0,0,0,5,0,5\r\n\r\nOK\r\n"},
        {"AT+CMER=3,0,0,1", "\r\nOK\r\n"},
        {"AT+BIND=1,2", "\r\nOK\r\n"},
        {"AT+BIND=?", "\r\n+BIND: (1,2)\r\n\r\nOK\r\n"},
        {"AT+BIND?", "\r\n+BIND: 1,1\r\n\r\n+BIND: 2,1\r\n\r\nOK\r\n"},
        {"AT+COPS=3,0", "\r\nOK\r\n"},
        {"AT+COPS?", "\r\nERROR\r\n"},
    };
    os::Handle fds[2];
    QVERIFY(os::makeSocketPair(fds));
    HeadsetOptions options;
    options.level = 58;
    options.askOperator = true;
    HeadsetSession session(fds[1], fds[1], options);
    std::thread runner([&] { session.run(); });
    QByteArray heard;
    while (!heard.contains("AT+BIEV=2,58\r")) {
        char buf[256];
        const qint64 got = readWithin(fds[0], buf, sizeof buf);
        if (got <= 0) {
            session.stop();
            runner.join();
            QFAIL(qPrintable("the headset stopped after: " + heard));
        }
        heard.append(buf, int(got));
        while (heard.contains('\r') && !heard.startsWith("AT+BIEV")) {
            const QByteArray command = heard.left(heard.indexOf('\r'));
            heard.remove(0, command.size() + 1);
            if (!replies.contains(command)) {
                session.stop();
                runner.join();
                QFAIL(command.constData());
            }
            const QByteArray reply = replies.value(command);
            QVERIFY(writeAll(fds[0], reply));
        }
    }
    QVERIFY(session.isSetUp());
    QCOMPARE(session.failures(), QStringList());
    session.stop();
    runner.join();
    os::closeHandle(fds[0]);
    os::closeHandle(fds[1]);
}

void TestSim::connectFailures()
{
    SimWorld world;
    auto headset = world.addHeadset("hs", "Headset");
    const RfcommService service = world.rfcommServices("hs").first();
    auto socket = world.createStreamSocket();

    world.setConnected("hs", false);
    QVERIFY_EXCEPTION_THROWN(socket->connect(service.connectionHostName, service.connectionServiceName,
                                             ProtectionLevel::BluetoothEncryptionAllowNullAuthentication),
                             PlatformError);
    world.setConnected("hs", true);
    world.setRadioOn(false);
    try {
        socket->connect(service.connectionHostName, service.connectionServiceName,
                        ProtectionLevel::BluetoothEncryptionAllowNullAuthentication);
        QFAIL("connected with the radio off");
    } catch (const PlatformError &e) {
        QCOMPARE(e.code(), kDeviceNotAvailable);
    }
    world.setRadioOn(true);
    socket->connect(service.connectionHostName, service.connectionServiceName,
                    ProtectionLevel::BluetoothEncryptionAllowNullAuthentication);
    QCOMPARE(headset->connections(), 1);
}

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
