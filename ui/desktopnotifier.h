#pragma once

#include "notifier.h"

#include <QHash>
#include <QSet>
#include <QString>

class QDBusPendingCallWatcher;

// Notifications through the desktop's notification server
// (org.freedesktop.Notifications on the session bus). Each device has at
// most one on screen: each new one replaces the device's previous one, in
// the order they were given. Without
// a session bus or a server nothing is shown, the log says so once, and
// nothing else changes; the next warning asks again, since a server may
// start after us (both start at login). GUI thread only; nothing blocks.
class DesktopNotifier : public Notifier
{
    Q_OBJECT

public:
    explicit DesktopNotifier(QObject *parent = nullptr);

    // summary is plain text and goes as it is: by the notifications
    // specification only a body may hold markup, and servers show the
    // summary as given.
    void notify(const QString &deviceId, const QString &summary, const QString &body, const QString &iconPath,
                Urgency urgency) override;

private:
    struct Note
    {
        QString summary, body, icon;
        Urgency urgency;
    };

    void askCapabilities();
    void send(const QString &deviceId, const Note &note);
    void unavailable(const QString &why);

    enum class Server { NotAsked, Asking, Known };
    Server m_server = Server::NotAsked;
    bool m_saidUnavailable = false;
    QHash<QString, uint> m_ids;   // the server's id of each device's last notification
    QHash<QString, QList<Note>> m_queued; // a device's notes that wait for an answer, in order
    QSet<QString> m_busy;          // devices whose Notify call is not answered yet
};
