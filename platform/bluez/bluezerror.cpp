#include "bluezerror.h"

#include <QHash>
#include <QRegularExpression>

#include <cerrno>

namespace platform::bluez {

namespace {

qint32 errnoCode(int err) { return qint32(0x80070000u | quint32(err)); }

constexpr qint32 kUnspecifiedFailure = qint32(0x80004005u); // E_FAIL

} // namespace

PlatformError bluezError(const QString &name, const QString &message)
{
    static const QHash<QString, qint32> codes{
        {"org.bluez.Error.NotConnected", kOperationAborted},
        {"org.freedesktop.DBus.Error.NoReply", kOperationAborted},
        {"org.freedesktop.DBus.Error.Timeout", kOperationAborted},
        {"org.bluez.Error.NotReady", kDeviceNotAvailable},
        {"org.bluez.Error.DoesNotExist", kDeviceNotAvailable},
        {"org.freedesktop.DBus.Error.UnknownObject", kDeviceNotAvailable},
        {"org.freedesktop.DBus.Error.ServiceUnknown", kDeviceNotAvailable},
        {"org.bluez.Error.InProgress", errnoCode(EBUSY)},
        {"org.bluez.Error.AlreadyConnected", errnoCode(EISCONN)},
        {"org.bluez.Error.NotAvailable", errnoCode(ENOENT)},
        {"org.bluez.Error.InvalidArguments", errnoCode(EINVAL)},
        {"org.bluez.Error.NotSupported", errnoCode(EOPNOTSUPP)},
        {"org.bluez.Error.NotPermitted", errnoCode(EACCES)},
        {"org.bluez.Error.NotAuthorized", errnoCode(EACCES)},
        {"org.bluez.Error.AuthenticationFailed", errnoCode(EACCES)},
        {"org.bluez.Error.Rejected", errnoCode(ECANCELED)},
        {"org.bluez.Error.Canceled", errnoCode(ECANCELED)},
    };
    // org.bluez.Error.Failed carries the reason in its text only: the ones
    // that mean nobody answered at the other end (5.66 says "Host is down",
    // later versions "br-connection-page-timeout" and the like).
    static const QRegularExpression unreachable(
        QStringLiteral("host is down|page.timeout|timed? ?out|abort|unreachable|not connected"),
        QRegularExpression::CaseInsensitiveOption);

    qint32 code = codes.value(name, kUnspecifiedFailure);
    if (name == QLatin1String("org.bluez.Error.Failed") && unreachable.match(message).hasMatch())
        code = kOperationAborted;
    const QString text = message.isEmpty() ? name : QStringLiteral("%1 (%2)").arg(message, name);
    if (code == kOperationAborted)
        return PlatformError(code, QStringLiteral("The headset does not answer: it is switched off or out of "
                                                  "range (BlueZ: %1).").arg(text));
    return PlatformError(code, QStringLiteral("BlueZ: %1").arg(text));
}

} // namespace platform::bluez
