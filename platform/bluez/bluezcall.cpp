#include "bluezcall.h"

namespace platform::bluez {

QDBusMessage bluezCall(const QString &path, const QString &interface, const QString &method)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.bluez"), path, interface, method);
    call.setAutoStartService(false);
    return call;
}

} // namespace platform::bluez
