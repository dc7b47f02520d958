#pragma once

#include <QDBusVirtualObject>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <mutex>

namespace platform::bluez {

// The levels our links read, given to BlueZ so that the rest of the desktop
// shows them: a battery provider (org.bluez.BatteryProviderManager1) whose
// object-manager root holds one org.bluez.BatteryProvider1 object per
// device. BlueZ reads them back through the root and mirrors each onto the
// device's org.bluez.Battery1, with our Source. Served straight from the
// bus's own thread; every call here is thread-safe and none blocks.
class BatteryProvider : public QDBusVirtualObject
{
    Q_OBJECT

public:
    BatteryProvider();
    ~BatteryProvider() override;

    // A new level for a device (0 to 100), or -1 to take its object away.
    void provide(const QString &devicePath, int level);

    // After each pass: registers with every adapter that has a provider
    // manager and does not know us yet (a BlueZ that restarted, bluezName,
    // knows nobody). No manager anywhere is logged once per change.
    void sync(const QString &bluezName, const QStringList &managers);

    QString introspect(const QString &path) const override;
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;

    static const QString kRootPath;
    static const QString kSource; // what Battery1.Source says of our levels

private:
    QString objectPathFor(const QString &devicePath) const;
    QVariantMap propertiesOf(const QString &devicePath, int level) const;

    mutable std::mutex m_mutex;
    QMap<QString, int> m_levels; // device path -> level
    QString m_bluezName;         // the BlueZ that m_registered belongs to
    QSet<QString> m_registered;  // adapters asked to take us
    int m_hadManager = -1;       // unknown, 0 no, 1 yes: logged on change
};

} // namespace platform::bluez
