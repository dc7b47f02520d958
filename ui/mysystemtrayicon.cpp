#include "mysystemtrayicon.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDebug>
#include <QTextDocument>
#include <QEvent>
#include <QIcon>

MYSystemTrayIcon::MYSystemTrayIcon(const QString &deviceName, QObject *parent)
    : QSystemTrayIcon(parent), m_deviceName(deviceName)
{
    setIcon(QIcon(pictureFor(kLevelUnknown)));
}

MYSystemTrayIcon::~MYSystemTrayIcon() = default;

QString MYSystemTrayIcon::pictureFor(int value)
{
    if (value < 0 || value > 100)
        return QStringLiteral("./qml/resource/battery/battery-unknown.png");
    QString path = QStringLiteral("./qml/resource/battery/battery-%value%.png");
    path.replace(QStringLiteral("%value%"), QString::number(value, 10));
    return path;
}

void MYSystemTrayIcon::updateBatteryValue(int value)
{
    if (value < 0 || value > 100) {
        // As before the first level: nothing on the icon claims one.
        setToolTip(QString());
        setIcon(QIcon(pictureFor(kLevelUnknown)));
        return;
    }
    const QString text = QString::number(value, 10);
    setToolTip(toolTipFor(m_deviceName + tr("电量: ") + text, usesStatusNotifierTray()));
    setIcon(QIcon(pictureFor(value)));
}

QString MYSystemTrayIcon::toolTipFor(const QString &plain, bool statusNotifierTray)
{
    // Only text that the tool tip would take for rich text needs escaping.
    if (statusNotifierTray || !Qt::mightBeRichText(plain))
        return plain;
    return Qt::convertFromPlainText(plain, Qt::WhiteSpaceNoWrap);
}

bool MYSystemTrayIcon::usesStatusNotifierTray()
{
    static const bool uses = [] {
        QDBusInterface watcher(QStringLiteral("org.kde.StatusNotifierWatcher"),
                               QStringLiteral("/StatusNotifierWatcher"),
                               QStringLiteral("org.kde.StatusNotifierWatcher"), QDBusConnection::sessionBus());
        return watcher.isValid() && watcher.property("IsStatusNotifierHostRegistered").toBool();
    }();
    return uses;
}

bool MYSystemTrayIcon::event(QEvent *e)
{
    e->ignore();
    qDebug() << "MYSystemTrayIcon event: " << e->type();
    return true;
}
