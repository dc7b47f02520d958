#include "mysystemtrayicon.h"

#include <QDebug>
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
    setToolTip(m_deviceName + tr("电量: ") + text);
    setIcon(QIcon(pictureFor(value)));
}

bool MYSystemTrayIcon::event(QEvent *e)
{
    e->ignore();
    qDebug() << "MYSystemTrayIcon event: " << e->type();
    return true;
}
