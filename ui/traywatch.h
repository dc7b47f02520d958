#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <optional>

// Says in the log whether the desktop offers a notification area for the
// tray icons: once when there is none (GNOME without its AppIndicator
// extension, say), and again when one appears. Checks when asked (at start,
// when a device's icon is added) and, while there is none, every 30 s.
class TrayWatch : public QObject
{
    Q_OBJECT

public:
    // available: whether a notification area is there now.
    explicit TrayWatch(std::function<bool()> available, QObject *parent = nullptr);

    void check();
    bool retrying() const { return m_retry.isActive(); }

    static constexpr int kRetryMs = 30000;

private:
    std::function<bool()> m_available;
    std::optional<bool> m_last;
    QTimer m_retry;
};
