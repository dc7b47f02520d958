#include "link/atresponder.h"
#include "link/commandassembler.h"

#include <QtTest>

class TestAtResponder : public QObject
{
    Q_OBJECT

private slots:
    void replies_data();
    void replies();
    void battery_data();
    void battery();
    void split_data();
    void split();
    void pipelinedReadIsAnsweredCommandByCommand();
    void assembly_data();
    void assembly();
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
    QTest::newRow("features then battery, as one text") << QByteArray("AT+BRSF=406\rAT+BIEV=2,50\r") << info("+BRSF: 3943") << 21 << false << false;
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
    QTest::addColumn<int>("level"); // -1: no level, only the bare OK

    QTest::newRow("85") << QByteArray("AT+BIEV=2,85\r") << 85;
    QTest::newRow("0") << QByteArray("AT+BIEV=2,0\r") << 0;
    QTest::newRow("100") << QByteArray("AT+BIEV=2,100\r") << 100;
    QTest::newRow("CR LF and blanks around") << QByteArray("\r\nAT+BIEV=2, 42 \r\n") << 42;
    QTest::newRow("150") << QByteArray("AT+BIEV=2,150\r") << -1;
    QTest::newRow("-5") << QByteArray("AT+BIEV=2,-5\r") << -1;
    QTest::newRow("letters") << QByteArray("AT+BIEV=2,abc\r") << -1;
    QTest::newRow("hex") << QByteArray("AT+BIEV=2,0x32\r") << -1;
    QTest::newRow("empty level") << QByteArray("AT+BIEV=2,\r") << -1;
    QTest::newRow("other indicator") << QByteArray("AT+BIEV=1,1\r") << -1;
    QTest::newRow("two reports in one text") << QByteArray("AT+BIEV=2,80\rAT+BIEV=2,79\r") << -1;
    QTest::newRow("out of 32-bit range") << QByteArray("AT+BIEV=2,99999999999\r") << -1;
    QTest::newRow("NUL before the report") << QByteArray("\0AT+BIEV=2,42\r", 15) << -1;
    QTest::newRow("NUL after the number") << QByteArray("AT+BIEV=2,42\0", 13) << -1;
}

void TestAtResponder::battery()
{
    QFETCH(QByteArray, received);
    QFETCH(int, level);
    const AtReply reply = answerCommand(received);
    QCOMPARE(reply.text, kOk);
    QCOMPARE(reply.battery.has_value(), level >= 0);
    if (level >= 0)
        QCOMPARE(*reply.battery, level);
    // A report without a level says why, for the log.
    QCOMPARE(reply.ignoredReport.isEmpty(), level >= 0);
}

void TestAtResponder::split_data()
{
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QList<QByteArray>>("commands");

    QTest::newRow("one command") << QByteArray("AT+BRSF=406\r") << QList<QByteArray>{"AT+BRSF=406\r"};
    QTest::newRow("empty") << QByteArray() << QList<QByteArray>{""};
    QTest::newRow("lone CR") << QByteArray("\r") << QList<QByteArray>{"\r"};
    QTest::newRow("unterminated") << QByteArray("AT+BIEV=2,5") << QList<QByteArray>{"AT+BIEV=2,5"};
    QTest::newRow("one command among blanks") << QByteArray("\r\nAT+CIND?\r\r \r") << QList<QByteArray>{"\r\nAT+CIND?\r\r \r"};
    QTest::newRow("report and call list") << QByteArray("AT+BIEV=2,73\rAT+CLCC\r")
                                          << QList<QByteArray>{"AT+BIEV=2,73\r", "AT+CLCC\r"};
    QTest::newRow("blank pieces dropped, rest kept") << QByteArray("AT+CIND?\r\r\n\rAT+CIND=?\rAT+BI")
                                                     << QList<QByteArray>{"AT+CIND?\r", "AT+CIND=?\r", "AT+BI"};
}

void TestAtResponder::split()
{
    QFETCH(QByteArray, received);
    QFETCH(QList<QByteArray>, commands);
    QCOMPARE(splitCommands(received).toList(), commands);
}

// What a link answers to one read: every command its own reply and level.
void TestAtResponder::pipelinedReadIsAnsweredCommandByCommand()
{
    QByteArray replies;
    QList<int> levels;
    for (const QByteArray &command : splitCommands("AT+BRSF=406\rAT+BIEV=2,50\rAT+BIEV=2,49\rAT+CIND=?\r")) {
        const AtReply reply = answerCommand(command);
        replies += reply.text;
        if (reply.battery)
            levels << *reply.battery;
    }
    QCOMPARE(replies, info("+BRSF: 3943") + kOk + kOk + info(kCindList));
    QCOMPARE(levels, (QList<int>{50, 49}));
}

// Reads joined into commands: what each read answers, and what it keeps.
void TestAtResponder::assembly_data()
{
    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<QList<QByteArray>>("answered");
    QTest::addColumn<QByteArray>("kept");

    QTest::newRow("report in two frames") << QList<QByteArray>{"AT+BIEV=2,", "57\r"}
                                          << QList<QByteArray>{"AT+BIEV=2,57\r"} << QByteArray();
    QTest::newRow("complete commands and a begun one") << QList<QByteArray>{"AT+CIND?\rAT+CMER=3,0,0,1\rAT+BI", "EV=2,9\r"}
        << QList<QByteArray>{"AT+CIND?\r", "AT+CMER=3,0,0,1\r", "AT+BIEV=2,9\r"} << QByteArray();
    QTest::newRow("one command, its line feed alone") << QList<QByteArray>{"AT+BRSF=406\r", "\n"}
                                                      << QList<QByteArray>{"AT+BRSF=406\r", "\n"} << QByteArray();
    QTest::newRow("the rest waits") << QList<QByteArray>{"AT+BIEV=2,5"} << QList<QByteArray>{} << QByteArray("AT+BIEV=2,5");
    QTest::newRow("a whole read without CR is answered") << QList<QByteArray>{QByteArray(1024, 'A')}
                                                         << QList<QByteArray>{QByteArray(1024, 'A')} << QByteArray();
    QTest::newRow("a rest that grows to a read's size") << QList<QByteArray>{QByteArray(1000, 'A'), QByteArray(30, 'B')}
        << QList<QByteArray>{QByteArray(1000, 'A') + QByteArray(30, 'B')} << QByteArray();
}

void TestAtResponder::assembly()
{
    QFETCH(QList<QByteArray>, reads);
    QFETCH(QList<QByteArray>, answered);
    QFETCH(QByteArray, kept);
    CommandAssembler assembler;
    QList<QByteArray> got;
    for (const QByteArray &read : qAsConst(reads))
        got += assembler.feed(read).toList();
    QCOMPARE(got, answered);
    QCOMPARE(assembler.rest(), kept);
}

QTEST_GUILESS_MAIN(TestAtResponder)
#include "tst_atresponder.moc"
