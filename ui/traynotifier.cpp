#include "traynotifier.h"

#include <QDebug>
#include <QIcon>
#include <QSystemTrayIcon>

namespace {
constexpr int kShownMs = 10000; // a hint: Windows 10 and later decide themselves
}

TrayNotifier::TrayNotifier(IconOf iconOf, QObject *parent) : Notifier(parent), m_iconOf(std::move(iconOf)) {}

void TrayNotifier::notify(const QString &deviceId, const QString &summary, const QString &body,
                          const QString &iconPath, Urgency)
{
    QSystemTrayIcon *icon = m_iconOf ? m_iconOf(deviceId) : nullptr;
    if (!icon) {
        if (!m_saidNoIcon.contains(deviceId)) {
            m_saidNoIcon.insert(deviceId);
            qInfo() << "Notifications: no tray icon to warn from for" << deviceId;
        }
        return;
    }
    m_saidNoIcon.remove(deviceId);
    qDebug() << "TrayNotifier:" << deviceId << body;
    icon->showMessage(summary, body, QIcon(iconPath), kShownMs);
}
