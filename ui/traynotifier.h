#pragma once

#include "notifier.h"

#include <QSet>

// Warnings as the tray icon's own messages (QSystemTrayIcon::showMessage; on
// Windows 10 and later a toast from the device's icon, which replaces that
// icon's previous one). Only devices with a tray icon are warned about, and
// every such device has one; a device without one is logged once. How long
// a toast stays is the system's choice (the user's settings), whatever the
// urgency.
class TrayNotifier : public Notifier
{
    Q_OBJECT

public:
    TrayNotifier(IconOf iconOf, QObject *parent = nullptr);

    void notify(const QString &deviceId, const QString &summary, const QString &body, const QString &iconPath,
                Urgency urgency) override;

private:
    IconOf m_iconOf;
    QSet<QString> m_saidNoIcon;
};
