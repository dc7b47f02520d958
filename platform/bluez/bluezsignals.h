#pragma once

#include <QDBusMessage>
#include <QObject>
#include <functional>

class QDBusServiceWatcher;

namespace platform::bluez {

// BlueZ's signals that a pass over its objects cares about, on the system
// bus: objects and interfaces coming and going (the object manager), the
// properties the pass reads changing (Device1: Connected, Paired, UUIDs,
// Alias; Adapter1: Powered, UUIDs; Battery1: Percentage), and org.bluez
// itself coming and going, with its unique name. Lives in the thread that
// made it, whose event loop delivers the signals.
class BluezSignals : public QObject
{
    Q_OBJECT

public:
    // changed: something a pass reads changed. owner: BlueZ's unique bus
    // name now (empty: BlueZ is gone).
    BluezSignals(std::function<void()> changed, std::function<void(const QString &)> owner,
                 QObject *parent = nullptr);
    ~BluezSignals() override;

    // Whether a PropertiesChanged of this interface with these properties
    // matters to a pass.
    static bool matters(const QString &interface, const QStringList &properties);

private slots:
    void interfacesChanged(const QDBusMessage &message);
    void propertiesChanged(const QDBusMessage &message);

private:
    std::function<void()> m_changed;
    QDBusServiceWatcher *m_watcher; // a child
};

} // namespace platform::bluez
