#include "traywatch.h"

#include <QDebug>

TrayWatch::TrayWatch(std::function<bool()> available, QObject *parent)
    : QObject(parent), m_available(std::move(available))
{
    m_retry.setInterval(kRetryMs);
    connect(&m_retry, &QTimer::timeout, this, &TrayWatch::check);
}

void TrayWatch::check()
{
    const bool available = m_available();
    if (available)
        m_retry.stop();
    else if (!m_retry.isActive())
        m_retry.start();
    if (m_last == available)
        return;
    if (!available)
        qWarning().noquote()
            << "Tray: this desktop has no notification area, so the devices' tray icons cannot be shown. "
               "The low-battery warnings still come, and starting Kestrolune again (from the menu) brings its "
               "window back. On GNOME, install and enable the AppIndicator extension (package "
               "gnome-shell-extension-appindicator) to get the icons.";
    else if (m_last.has_value())
        qInfo().noquote() << "Tray: a notification area is there now; the devices' tray icons are shown.";
    m_last = available;
}
