#include "atresponder.h"

#include <QString>

const char kNoiseReductionNotice[] = "\n设备支持降噪和回声消除\n";

namespace {

const QByteArray kOk = QByteArrayLiteral("\r\nOK\r\n");

QByteArray information(const char *line)
{
    return QByteArrayLiteral("\r\n") + line + QByteArrayLiteral("\r\n") + kOk;
}

// The level that follows "AT+BIEV=2,"; anything unreadable gives 0.
int batteryLevel(const QByteArray &received)
{
    // The whole read, NUL bytes included (the QByteArray overload stops at the first NUL).
    QString text = QString::fromUtf8(received.constData(), received.size());
    text.replace(QStringLiteral("AT+BIEV=2,"), QString());
    return text.toInt(nullptr, 10);
}

} // namespace

AtReply answerCommand(const QByteArray &received)
{
    // The first command found anywhere in the read decides the reply, in
    // this order; everything else is acknowledged with a bare OK.
    AtReply reply;
    if (received.contains("AT+BRSF"))
        reply.text = information("+BRSF: 3943");
    else if (received.contains("AT+BAC"))
        reply.text = kOk;
    else if (received.contains("AT+CIND=?"))
        reply.text = information("+CIND: (\"service\",(0,1)),(\"call\",(0,1)),(\"callsetup\",(0-3)),"
                                 "(\"callheld\",(0-2)),(\"signal\",(0-5)),(\"roam\",(0,1)),"
                                 "(\"battchg\",(0-5))");
    else if (received.contains("AT+CIND?"))
        reply.text = information("+CIND: 0,0,0,0,0,0,5");
    else if (received.contains("AT+NREC")) {
        reply.text = kOk;
        reply.notice = true;
    } else if (received.contains("AT+BIND=2"))
        reply.text = kOk;
    else if (received.contains("AT+BIND=?"))
        reply.text = information("+BIND:(2)");
    else if (received.contains("AT+BIND?"))
        reply.text = information("+BIND: 2, 1");
    else if (received.contains("AT+BIEV")) {
        reply.text = kOk;
        reply.battery = batteryLevel(received);
    } else
        reply.text = kOk;
    return reply;
}
