#include "appmanager.h"
#include "notifier.h"
#include "mysystemtrayicon.h"
#include "traywatch.h"

#include "../app/configstore.h"
#include "../devices/scancycle.h"
#include "../app/messagesink.h"
#include "../app/servicetakeover.h"

#include <QDebug>
#include <QDir>
#include <QFontDatabase>
#include <QJsonDocument>

AppManager::AppManager(QObject *parent)
    : QObject(parent),
      m_notifier(Notifier::create([this](const QString &id) -> QSystemTrayIcon * { return trayIcon(id); }, this)),
      m_messages(std::make_shared<MessageBoxSink>()),
      m_configPath(ConfigStore::defaultPath()),
      m_serviceControl(std::make_unique<ServiceControl>(ServiceControl::system()))
{
}

// Icons still present are left alone: the application object is gone by now.
AppManager::~AppManager() = default;

void AppManager::setMessageSink(std::shared_ptr<MessageSink> sink)
{
    m_messages = std::move(sink);
}

void AppManager::setConfigPath(const QString &path)
{
    m_configPath = path;
}

void AppManager::setServiceControl(const ServiceControl &control)
{
    *m_serviceControl = control;
}

QJsonObject AppManager::loadConfig()
{
    bool opened = false;
    const QJsonObject map = ConfigStore(*m_messages, m_configPath).load(&opened, &m_unreadable);
    if (opened)
        m_profiles = map;
    if (!m_unreadable.isEmpty())
        qWarning() << "Config file unreadable:" << m_configPath << m_unreadable;
    return map;
}

void AppManager::saveConfig(const QJsonObject &map)
{
    const ConfigStore store(*m_messages, m_configPath);
    if (!m_unreadable.isEmpty()) {
        // The user's old choices must not vanish without a word.
        const QString kept = store.keepUnreadable();
        if (kept.isEmpty()) {
            m_messages->information(QStringLiteral("Save config failed"),
                                    QStringLiteral("%1 could not be read (%2), and no copy of it could be kept "
                                                   "beside it, so it was not replaced. Please check permissions.")
                                        .arg(QDir::toNativeSeparators(m_configPath), m_unreadable));
            return;
        }
        m_messages->information(QStringLiteral("Config file kept"),
                                QStringLiteral("%1 could not be read (%2). Its content was kept as %3; "
                                               "your choices are now saved in a new %1.")
                                    .arg(QDir::toNativeSeparators(m_configPath), m_unreadable,
                                         QDir::toNativeSeparators(kept)));
        m_unreadable.clear();
    }
    store.save(map);
}

void AppManager::loadFonts()
{
    const int id = QFontDatabase::addApplicationFont(QStringLiteral("./qml/resource/SourceHanSans-Medium.otf"));
    if (id == -1)
        return;
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    for (const QString &family : families)
        qDebug() << "Loaded font family:" << family;
}

void AppManager::stopBTAGService()
{
    ::stopBTAGService(*m_serviceControl, *m_messages);
}

MYSystemTrayIcon *AppManager::trayIcon(const QString &deviceId) const
{
    return m_trayIcons.value(deviceId);
}

void AppManager::updateDeviceProfile(QString Id, QString Key, QVariant value)
{
    qDebug() << "updateDeviceProfile " << Id << "\tKey: " << Key << "\tValue:" << value;
    setProfileEntry(m_profiles, Id, Key, value);
    watchChanged();
    saveConfig(m_profiles);
}

void AppManager::updateDeviceProfiles(QString objstr)
{
    const QJsonObject map = QJsonDocument::fromJson(objstr.toUtf8()).object();
    qDebug() << "updateDeviceProfiles " << map;
    m_profiles = map;
    watchChanged();
    saveConfig(map);
}

void AppManager::registerDeviceToTrary(QString deviceId, QString deviceName)
{
    qDebug() << "registerDeviceToTrary: " << deviceId;
    if (!deviceName.isEmpty())
        m_names.insert(deviceId, deviceName);
    else
        deviceName = m_names.value(deviceId);
    if (m_trayIcons.contains(deviceId))
        return;
    auto *icon = new MYSystemTrayIcon(deviceName); // owned here; deleted in unregisterDeviceFromTray
    // An icon added while the link runs shows the level already reported.
    const auto level = m_levels.constFind(deviceId);
    if (level != m_levels.cend()) {
        icon->updateBatteryValue(*level);
        warnIfLow(deviceId, *level);
    }
    icon->setVisible(true);
    m_trayIcons.insert(deviceId, icon);
    if (m_trayWatch)
        m_trayWatch->check();
}

void AppManager::watchTray()
{
    if (!m_trayWatch)
        m_trayWatch = new TrayWatch(&QSystemTrayIcon::isSystemTrayAvailable, this);
    m_trayWatch->check();
}

void AppManager::unregisterDeviceFromTray(QString deviceId)
{
    qDebug() << "unregisterDeviceFromTray: " << deviceId;
    const QPointer<MYSystemTrayIcon> icon = m_trayIcons.take(deviceId);
    if (icon) {
        icon->hide();
        delete icon.data(); // directly: the icon consumes deferred deletion
    }
}

void AppManager::updateDeviceBatteryValue(QString deviceId, int value)
{
    if (value == MYSystemTrayIcon::kLevelUnknown)
        m_levels.remove(deviceId);
    else
        m_levels.insert(deviceId, value);
    const QPointer<MYSystemTrayIcon> icon = m_trayIcons.value(deviceId);
    if (icon)
        icon->updateBatteryValue(value);
    warnIfLow(deviceId, value);
}

bool AppManager::watched(const QString &deviceId) const
{
    return m_profiles.value(deviceId).toObject().value(QStringLiteral("tray")).toBool();
}

void AppManager::registerToIndex(const QJsonObject &record)
{
    const QString name = record.value(QStringLiteral("Name")).toString();
    if (!name.isEmpty())
        m_names.insert(record.value(QStringLiteral("Id")).toString(), name);
}

// A device whose 托盘 box is unticked is no longer watched; ticked again,
// a level that is still low warns again, at once.
void AppManager::watchChanged()
{
    for (const QString &id : m_watch.devices()) {
        if (!watched(id))
            m_watch.forget(id);
    }
    for (auto it = m_levels.cbegin(); it != m_levels.cend(); ++it)
        warnIfLow(it.key(), it.value());
}

void AppManager::warnIfLow(const QString &deviceId, int level)
{
    // A warning is titled with the device's own name, never its Id.
    if (!watched(deviceId) || !m_names.contains(deviceId))
        return;
    const LowBatteryWatch::Warning warning = m_watch.levelChanged(deviceId, level);
    if (warning == LowBatteryWatch::Warning::None)
        return;
    // The server runs elsewhere: the picture goes by its absolute path.
    m_notifier->notify(deviceId, m_names.value(deviceId), tr("电量低: ") + QString::number(level) + "%",
                       QDir::current().absoluteFilePath(MYSystemTrayIcon::pictureFor(level)),
                       warning == LowBatteryWatch::Warning::Critical ? Notifier::Urgency::Critical
                                                                     : Notifier::Urgency::Normal);
}

void AppManager::clearTrayIcons()
{
    const QStringList ids = m_trayIcons.keys();
    for (const QString &id : ids) {
        const QPointer<MYSystemTrayIcon> icon = m_trayIcons.take(id);
        if (icon) {
            icon->hide();
            delete icon.data();
        }
    }
}
