#include "mysystemtrayicon.h"
#include "trayhost.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSet>
#include <QTextDocument>
#include <QEvent>
#include <QDir>
#include <QFile>
#include <QIcon>

#include <utility>

namespace {
// Whether the notification area shows tool tips as plain text; GUI thread only.
enum class TrayHost { Unasked, Asking, Plain, Other };
TrayHost trayHost = TrayHost::Unasked;
QSet<MYSystemTrayIcon *> liveIcons;
} // namespace

MYSystemTrayIcon::MYSystemTrayIcon(const QString &deviceName, QObject *parent)
    : QSystemTrayIcon(parent), m_deviceName(deviceName)
{
    setIcon(iconFor(kLevelUnknown));
    liveIcons.insert(this);
    askTrayHost();
}

MYSystemTrayIcon::~MYSystemTrayIcon()
{
    liveIcons.remove(this);
}

QString MYSystemTrayIcon::pictureFor(int value)
{
    if (value < 0 || value > 100)
        return QStringLiteral("./qml/resource/battery/battery-unknown.png");
    QString path = QStringLiteral("./qml/resource/battery/battery-%value%.png");
    path.replace(QStringLiteral("%value%"), QString::number(value, 10));
    return path;
}

QIcon MYSystemTrayIcon::iconFor(int value)
{
    // The picture and, for a scaled panel, the one drawn at twice its size.
    const QString picture = pictureFor(value);
    if (!QFile::exists(picture)) {
        // An icon without its picture is blank in the notification area.
        static bool said = false;
        if (!std::exchange(said, true))
            qWarning() << "MYSystemTrayIcon: no picture" << QDir::current().absoluteFilePath(picture);
    }
    QIcon icon(picture);
    const QString twice = QString(picture).replace(QStringLiteral(".png"), QStringLiteral("@2x.png"));
    if (QFile::exists(twice))
        icon.addFile(twice);
    return icon;
}

void MYSystemTrayIcon::updateBatteryValue(int value)
{
    m_level = value;
    if (value < 0 || value > 100) {
        // As before the first level: nothing on the icon claims one.
        setToolTip(QString());
        setIcon(iconFor(kLevelUnknown));
        return;
    }
    const QString text = QString::number(value, 10);
    setToolTip(toolTipFor(m_deviceName + tr("电量: ") + text, plainToolTips()));
    setIcon(iconFor(value));
}

QString MYSystemTrayIcon::toolTipFor(const QString &plain, bool plainTray)
{
    // Only text that the tool tip would take for rich text needs escaping.
    if (plainTray || !Qt::mightBeRichText(plain))
        return plain;
    return Qt::convertFromPlainText(plain, Qt::WhiteSpaceNoWrap);
}

bool MYSystemTrayIcon::plainToolTips()
{
    askTrayHost();
    return trayHost == TrayHost::Plain;
}

void MYSystemTrayIcon::askTrayHost()
{
    // Asked once, without waiting: a tray host that is slow to answer must
    // not hold up the window. The icons' tool tips follow the answer.
    if (trayHost != TrayHost::Unasked || !QCoreApplication::instance())
        return;
    trayHost = TrayHost::Asking;
    askPlainToolTips(QCoreApplication::instance(), [](bool plain) {
        trayHost = plain ? TrayHost::Plain : TrayHost::Other;
        for (MYSystemTrayIcon *icon : qAsConst(liveIcons))
            icon->updateBatteryValue(icon->m_level);
    });
}

bool MYSystemTrayIcon::event(QEvent *e)
{
    e->ignore();
    qDebug() << "MYSystemTrayIcon event: " << e->type();
    return true;
}
