#include "atresponder.h"

#include <QString>

#include <algorithm>
#include <cctype>

const char kNoiseReductionNotice[] = "\n设备支持降噪和回声消除\n";

namespace {

const QByteArray kOk = QByteArrayLiteral("\r\nOK\r\n");

QByteArray information(const char *line)
{
    return QByteArrayLiteral("\r\n") + line + QByteArrayLiteral("\r\n") + kOk;
}

const QString kBatteryPrefix = QStringLiteral("AT+BIEV=2,");

// The level that follows "AT+BIEV=2,": a decimal number from 0 to 100, white
// space around it allowed. Anything else gives no level, and why.
std::optional<int> batteryLevel(const QByteArray &received, QString *why)
{
    // The whole text, NUL bytes included (the QByteArray overload stops at the first NUL).
    QString text = QString::fromUtf8(received.constData(), received.size());
    if (!text.contains(kBatteryPrefix)) {
        *why = QStringLiteral("a report for another HF indicator");
        return std::nullopt;
    }
    text.replace(kBatteryPrefix, QString());
    const QString number = text.trimmed();
    const bool digits = !number.isEmpty()
        && std::all_of(number.cbegin(), number.cend(), [](QChar c) { return c >= '0' && c <= '9'; });
    if (!digits) {
        *why = QStringLiteral("not a decimal level");
        return std::nullopt;
    }
    bool ok = false;
    const int level = number.toInt(&ok, 10);
    if (!ok || level > 100) {
        *why = QStringLiteral("a level above 100");
        return std::nullopt;
    }
    return level;
}

bool isBlank(const QByteArray &piece)
{
    return std::all_of(piece.cbegin(), piece.cend(), [](char c) { return std::isspace(uchar(c)) != 0; });
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
        reply.battery = batteryLevel(received, &reply.ignoredReport);
    } else
        reply.text = kOk;
    return reply;
}

QVector<QByteArray> splitCommands(const QByteArray &received)
{
    QVector<QByteArray> commands;
    int start = 0;
    while (start < received.size()) {
        const int cr = received.indexOf('\r', start);
        const int end = cr < 0 ? received.size() : cr + 1;
        const QByteArray piece = received.mid(start, end - start);
        if (!isBlank(piece))
            commands.append(piece);
        start = end;
    }
    if (commands.size() < 2)
        return {received};
    return commands;
}
