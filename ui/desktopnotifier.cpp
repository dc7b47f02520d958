#include "desktopnotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDebug>
#include <QVariantMap>

#include <utility>

namespace {
const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
constexpr int kCallTimeoutMs = 5000;

QDBusMessage notificationsCall(const QString &method)
{
    return QDBusMessage::createMethodCall(kService, kPath, kService, method);
}
} // namespace

DesktopNotifier::DesktopNotifier(QObject *parent) : Notifier(parent) {}

void DesktopNotifier::notify(const QString &deviceId, const QString &summary, const QString &body,
                             const QString &iconPath, Urgency urgency)
{
    const Note note{summary, body, iconPath, urgency};
    switch (m_server) {
    case Server::NotAsked:
        m_queued[deviceId].append(note);
        return askCapabilities();
    case Server::Asking:
        m_queued[deviceId].append(note);
        return;
    case Server::Known:
        if (m_busy.contains(deviceId))
            m_queued[deviceId].append(note); // sent with the id the pending answer brings
        else
            send(deviceId, note);
    }
}

void DesktopNotifier::askCapabilities()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return unavailable(QStringLiteral("no session bus: %1").arg(bus.lastError().message()));
    m_server = Server::Asking;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(notificationsCall(QStringLiteral("GetCapabilities")),
                                                              kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<QStringList> reply = *w;
        if (reply.isError())
            return unavailable(reply.error().message());
        m_server = Server::Known;
        if (std::exchange(m_saidUnavailable, false))
            qInfo() << "Notifications: a desktop notification server answers";
        for (const QString &deviceId : m_queued.keys())
            send(deviceId, m_queued[deviceId].takeFirst());
    });
}

void DesktopNotifier::send(const QString &deviceId, const Note &note)
{
    QDBusMessage call = notificationsCall(QStringLiteral("Notify"));
    // desktop-entry: the desktop groups the warnings under the program and
    // applies the user's notification settings for it.
    const QVariantMap hints{{QStringLiteral("urgency"), QVariant::fromValue(uchar(note.urgency))},
                            {QStringLiteral("desktop-entry"), QStringLiteral("kestrolune")}};
    call << QStringLiteral("Kestrolune") << m_ids.value(deviceId, 0u) << note.icon
         << note.summary << note.body << QStringList() << hints
         << qint32(-1);
    m_busy.insert(deviceId);
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, deviceId](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        m_busy.remove(deviceId);
        const QDBusPendingReply<uint> reply = *w;
        if (reply.isError()) {
            m_queued.remove(deviceId);
            return unavailable(reply.error().message());
        }
        m_ids.insert(deviceId, reply.value());
        QList<Note> &queued = m_queued[deviceId];
        if (!queued.isEmpty())
            send(deviceId, queued.takeFirst());
        else
            m_queued.remove(deviceId);
    });
}

void DesktopNotifier::unavailable(const QString &why)
{
    if (!std::exchange(m_saidUnavailable, true))
        qInfo().noquote() << "Notifications: no desktop notification server, low levels are not announced:" << why;
    m_server = Server::NotAsked; // asked again at the next warning
    m_queued.clear();
}
