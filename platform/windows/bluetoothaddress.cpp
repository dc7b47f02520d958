#include "bluetoothaddress.h"

#include <QStringList>

#include <cctype>

namespace platform::windows {

QString addressText(quint64 address)
{
    QStringList bytes;
    for (int shift = 40; shift >= 0; shift -= 8)
        bytes << QStringLiteral("%1").arg((address >> shift) & 0xFFu, 2, 16, QLatin1Char('0'));
    return bytes.join(QLatin1Char(':'));
}

QString deviceId(quint64 radio, quint64 device)
{
    return QStringLiteral("Bluetooth#Bluetooth") + addressText(radio) + QLatin1Char('-') + addressText(device);
}

QString hostName(quint64 device)
{
    return QLatin1Char('(') + addressText(device) + QLatin1Char(')');
}

bool parseHostName(const QString &text, quint64 &address)
{
    QString digits = text.trimmed();
    if (digits.startsWith(QLatin1Char('(')) && digits.endsWith(QLatin1Char(')')))
        digits = digits.mid(1, digits.size() - 2);
    const int colons = digits.count(QLatin1Char(':'));
    if (colons != 0 && colons != 5)
        return false;
    digits.remove(QLatin1Char(':'));
    if (digits.size() != 12)
        return false;
    for (const QChar c : qAsConst(digits)) {
        if (!std::isxdigit(static_cast<unsigned char>(c.toLatin1())))
            return false; // toULongLong alone would take "0x" and signs
    }
    bool ok = false;
    const quint64 value = digits.toULongLong(&ok, 16);
    if (!ok)
        return false;
    address = value;
    return true;
}

} // namespace platform::windows
