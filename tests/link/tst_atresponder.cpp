#include "link/atresponder.h"

#include <QtTest>

class TestAtResponder : public QObject
{
    Q_OBJECT

private slots:
    void replies_data();
    void replies();
    void battery_data();
    void battery();
};

namespace {
const QByteArray kOk = "\r\nOK\r\n";
const QByteArray kCindList =
    "+CIND: (\"service\",(0,1)),(\"call\",(0,1)),(\"callsetup\",(0-3)),(\"callheld\",(0-2)),"
    "(\"signal\",(0-5)),(\"roam\",(0,1)),(\"battchg\",(0-5))";
QByteArray info(const QByteArray &line) { return "\r\n" + line + "\r\n" + kOk; }
} // namespace

void TestAtResponder::replies_data()
{
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("notice");
    QTest::addColumn<bool>("battery");

    QTest::newRow("features") << QByteArray("AT+BRSF=406\r") << info("+BRSF: 3943") << 21 << false << false;
    QTest::newRow("features, any number") << QByteArray("AT+BRSF=0\r") << info("+BRSF: 3943") << 21 << false << false;
    QTest::newRow("codecs") << QByteArray("AT+BAC=1,2\r") << kOk << 6 << false << false;
    QTest::newRow("indicator list") << QByteArray("AT+CIND=?\r") << info(kCindList) << 138 << false << false;
    QTest::newRow("indicator values") << QByteArray("AT+CIND?\r") << info("+CIND: 0,0,0,0,0,0,5") << 30 << false << false;
    QTest::newRow("list and values in one read") << QByteArray("AT+CIND?\rAT+CIND=?\r") << info(kCindList) << 138 << false << false;
    QTest::newRow("noise reduction") << QByteArray("AT+NREC=0\r") << kOk << 6 << true << false;
    QTest::newRow("bind 2") << QByteArray("AT+BIND=2\r") << kOk << 6 << false << false;
    QTest::newRow("bind 1,2 falls through") << QByteArray("AT+BIND=1,2\r") << kOk << 6 << false << false;
    QTest::newRow("bind supported") << QByteArray("AT+BIND=?\r") << info("+BIND:(2)") << 19 << false << false;
    QTest::newRow("bind state") << QByteArray("AT+BIND?\r") << info("+BIND: 2, 1") << 21 << false << false;
    QTest::newRow("battery report") << QByteArray("AT+BIEV=2,85\r") << kOk << 6 << false << true;
    QTest::newRow("features then battery") << QByteArray("AT+BRSF=406\rAT+BIEV=2,50\r") << info("+BRSF: 3943") << 21 << false << false;
    QTest::newRow("lower case features") << QByteArray("at+brsf=406\r") << kOk << 6 << false << false;
    QTest::newRow("empty") << QByteArray() << kOk << 6 << false << false;
    QTest::newRow("lone CR") << QByteArray("\r") << kOk << 6 << false << false;
    QTest::newRow("bare AT") << QByteArray("AT\r") << kOk << 6 << false << false;
    QTest::newRow("event reporting") << QByteArray("AT+CMER=3,0,0,1\r") << kOk << 6 << false << false;
    QTest::newRow("call hold, no +CHLD line") << QByteArray("AT+CHLD=?\r") << kOk << 6 << false << false;
    QTest::newRow("vendor command") << QByteArray("AT+XAPL=05AC-1702-0100,7\r") << kOk << 6 << false << false;
    QTest::newRow("invalid UTF-8 and NUL") << QByteArray("\xff\xfe\0AT\r", 6) << kOk << 6 << false << false;
}

void TestAtResponder::replies()
{
    QFETCH(QByteArray, received);
    QFETCH(QByteArray, text);
    QFETCH(int, length);
    QFETCH(bool, notice);
    QFETCH(bool, battery);

    const AtReply reply = answerCommand(received);
    QCOMPARE(reply.text, text);
    QCOMPARE(reply.text.size(), length);
    QCOMPARE(reply.notice, notice);
    QCOMPARE(reply.battery.has_value(), battery);
}

void TestAtResponder::battery_data()
{
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<int>("level");

    QTest::newRow("85") << QByteArray("AT+BIEV=2,85\r") << 85;
    QTest::newRow("0") << QByteArray("AT+BIEV=2,0\r") << 0;
    QTest::newRow("150, no range check") << QByteArray("AT+BIEV=2,150\r") << 150;
    QTest::newRow("-5, no range check") << QByteArray("AT+BIEV=2,-5\r") << -5;
    QTest::newRow("letters") << QByteArray("AT+BIEV=2,abc\r") << 0;
    QTest::newRow("other indicator") << QByteArray("AT+BIEV=1,1\r") << 0;
    QTest::newRow("two reports in one read") << QByteArray("AT+BIEV=2,80\rAT+BIEV=2,79\r") << 0;
    QTest::newRow("out of 32-bit range") << QByteArray("AT+BIEV=2,99999999999\r") << 0;
    QTest::newRow("CR LF around") << QByteArray("\r\nAT+BIEV=2,42\r\n") << 42;
    QTest::newRow("NUL before the report") << QByteArray("\0AT+BIEV=2,42\r", 15) << 0;
    QTest::newRow("NUL after the number") << QByteArray("AT+BIEV=2,42\0", 13) << 0;
}

void TestAtResponder::battery()
{
    QFETCH(QByteArray, received);
    QFETCH(int, level);
    const AtReply reply = answerCommand(received);
    QVERIFY(reply.battery.has_value());
    QCOMPARE(*reply.battery, level);
    QCOMPARE(reply.text, kOk);
}

QTEST_GUILESS_MAIN(TestAtResponder)
#include "tst_atresponder.moc"
