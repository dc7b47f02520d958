#include "../trayhost.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

void askPlainToolTips(QObject *context, std::function<void(bool)> answer)
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QStringLiteral("org.kde.StatusNotifierWatcher") << QStringLiteral("IsStatusNotifierHostRegistered");
    auto *pending = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(get), context);
    QObject::connect(pending, &QDBusPendingCallWatcher::finished, pending, [pending, answer] {
        pending->deleteLater();
        answer(!pending->isError()
               && pending->reply().arguments().value(0).value<QDBusVariant>().variant().toBool());
    });
}
