#pragma once

#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QVariant>
#include <memory>

#include "lowbatterywatch.h"

class Notifier;
class MessageSink;
class MYSystemTrayIcon;
class TrayWatch;
struct ServiceControl;

// The native object behind the window: owns the per-device tray icons,
// passes battery levels on to them, warns (the desktop's notifications, or
// the tray icon's own messages on Windows) when a device with 托盘 ticked runs low, and saves the
// profile map whenever the window reports a change of the user's choices.
class AppManager : public QObject
{
    Q_OBJECT

public:
    explicit AppManager(QObject *parent = nullptr);
    ~AppManager() override;

    // The configuration store (the profile map in the home directory).
    QJsonObject loadConfig();
    void saveConfig(const QJsonObject &map);

    void loadFonts();
    void stopBTAGService();

    // Seams for tests: where boxes go, which file is used, which service control.
    void setMessageSink(std::shared_ptr<MessageSink> sink);
    void setConfigPath(const QString &path);
    void setServiceControl(const ServiceControl &control);

    // Program exit: hides and destroys every device tray icon while the
    // application object still exists.
    void clearTrayIcons();

    // Starts saying in the log whether the desktop has a notification area
    // (once the application object exists).
    void watchTray();

    const QJsonObject &profiles() const { return m_profiles; }
    MYSystemTrayIcon *trayIcon(const QString &deviceId) const;

public slots:
    void updateDeviceProfile(QString Id, QString Key, QVariant value);
    void updateDeviceProfiles(QString objstr);
    void registerDeviceToTrary(QString deviceId, QString deviceName);
    void unregisterDeviceFromTray(QString deviceId);
    void updateDeviceBatteryValue(QString deviceId, int value);
    // A device record as the window gets it: its name titles the device's
    // warnings and tray icon.
    void registerToIndex(const QJsonObject &record);

private:
    bool watched(const QString &deviceId) const;
    // After a change of the boxes: a device no longer watched is forgotten,
    // one just watched whose level is low is warned about at once.
    void watchChanged();
    void warnIfLow(const QString &deviceId, int level);

    QMap<QString, QPointer<MYSystemTrayIcon>> m_trayIcons;
    QMap<QString, QString> m_names; // of every device listed, from its record
    LowBatteryWatch m_watch;
    Notifier *m_notifier; // a child
    TrayWatch *m_trayWatch = nullptr; // a child, made by watchTray()
    QMap<QString, int> m_levels; // the current level of each device that has one
    QJsonObject m_profiles;
    std::shared_ptr<MessageSink> m_messages;
    QString m_configPath;
    std::unique_ptr<ServiceControl> m_serviceControl;
    // Why the configuration file could not be read at start; its content is
    // kept beside it before the first save replaces it.
    QString m_unreadable;
};
