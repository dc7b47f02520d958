#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QSystemTrayIcon;

// Where the low-battery warnings go: the desktop's notification server on
// Linux, the device's own tray icon (a Windows toast) on Windows. Each
// device has at most one warning on screen; a new one replaces it. GUI
// thread only; nothing blocks.
class Notifier : public QObject
{
    Q_OBJECT

public:
    enum class Urgency : uchar { Low = 0, Normal = 1, Critical = 2 };

    explicit Notifier(QObject *parent = nullptr) : QObject(parent) {}

    // summary is plain text and goes as it is.
    virtual void notify(const QString &deviceId, const QString &summary, const QString &body,
                        const QString &iconPath, Urgency urgency) = 0;

    // This system's notifier. iconOf gives a device's tray icon, if it has one.
    using IconOf = std::function<QSystemTrayIcon *(const QString &deviceId)>;
    static Notifier *create(IconOf iconOf, QObject *parent);
};
