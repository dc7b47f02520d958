#include "mysystemtrayicon.h"

#include <QDebug>
#include <QEvent>
#include <QIcon>

MYSystemTrayIcon::MYSystemTrayIcon(const QString &deviceName, QObject *parent)
    : QSystemTrayIcon(parent), m_deviceName(deviceName)
{
    setIcon(QIcon(QStringLiteral("./qml/resource/battery/battery-75.png")));
}

MYSystemTrayIcon::~MYSystemTrayIcon() = default;

QString MYSystemTrayIcon::pictureFor(int value)
{
    QString path = QStringLiteral("./qml/resource/battery/battery-%value%.png");
    path.replace(QStringLiteral("%value%"), QString::number(value, 10));
    return path;
}

void MYSystemTrayIcon::updateBatteryValue(int value)
{
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
