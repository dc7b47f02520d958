#pragma once

#include <QSystemTrayIcon>

// One device's battery level in the notification area: the level's picture
// and "<name>电量: <level>" as tool tip; while no level is known, the "level
// not known" picture and no tool tip. Consumes every event sent to it, so
// its owner destroys it directly, never by deferred deletion.
class MYSystemTrayIcon : public QSystemTrayIcon
{
    Q_OBJECT

public:
    explicit MYSystemTrayIcon(const QString &deviceName, QObject *parent = nullptr);
    ~MYSystemTrayIcon() override;

    void updateBatteryValue(int value);

    // The picture file for a level, relative to the current directory; a
    // value outside 0 to 100 (kLevelUnknown) gives the "level not known" one.
    static QString pictureFor(int value);
    // The icon of a level: its picture, and beside it the "@2x" one where
    // there is one, which a scaled panel draws sharp.
    static QIcon iconFor(int value);

    // No level is known: before the first report and after a link ended.
    static constexpr int kLevelUnknown = -1;

    // The tool tip text that shows plain as written on the notification area
    // in use. A device chooses its own name, so it is never read as markup:
    // the X11 notification area shows tool tips as rich text whenever they
    // look like it, so there such a text is escaped into a paragraph; a D-Bus
    // StatusNotifierItem title and Windows' tool tips are plain text, and the
    // text is sent as it is.
    static QString toolTipFor(const QString &plain, bool plainTray);
    // Whether the notification area shows tool tips as plain text: on Linux
    // when Qt shows tray icons through a StatusNotifierItem host on the
    // session bus (as Qt itself decides, once, at the first tray icon; the
    // bus is asked once, without blocking: false until it has answered),
    // always on Windows.
    static bool plainToolTips();

protected:
    bool event(QEvent *e) override;

private:
    static void askTrayHost();

    const QString m_deviceName;
    int m_level = kLevelUnknown;
};
