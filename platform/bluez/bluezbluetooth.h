#pragma once

#include "../bluetooth.h"

#include <QDBusConnection>
#include <QMap>
#include <mutex>
#include <QVariantMap>
#include <memory>

namespace platform::bluez {

class BatteryProvider;
class BluezSignals;
class ForeignGateway;
class HandsFreeProfile;

// Paired devices from BlueZ over the system D-Bus, with the battery levels
// BlueZ knows; the levels our links read are given back to it. Hands-free streams come
// through BlueZ's profile interface (or, where BlueZ has no profile manager,
// the kernel's RFCOMM sockets), and never while another program holds the
// hands-free audio-gateway role. One GetManagedObjects call per pass: the
// per-device look-ups of a pass read the snapshot that pairedDevices() took.
class BluezBluetooth : public Bluetooth
{
public:
    BluezBluetooth();
    ~BluezBluetooth() override;

    QVector<DeviceInfo> pairedDevices() override;
    bool isConnected(const QString &deviceId) override;
    QVector<RfcommService> rfcommServices(const QString &deviceId) override;
    std::unique_ptr<StreamSocket> createStreamSocket() override;
    void provideBatteryLevel(const QString &deviceId, int level) override;
    QString handsFreeHeldElsewhere() override;
    void watchChanges(std::function<void()> changed) override;

    static constexpr int kCallTimeoutMs = 5000;

private:
    using Interfaces = QMap<QString, QVariantMap>;
    // The device's properties. Throws "not available" while no adapter is
    // powered (the radio cannot be used); a device whose own adapter is off
    // while another is powered is there, not connected. With m_mutex held.
    QVariantMap deviceOrThrow(const QString &deviceId) const;
    bool adapterPowered(const QVariantMap &device) const; // with m_mutex held
    void noteReachable(bool reachable, const QString &why);
    QString devicePathOf(const QString &address) const;
    static int knownLevel(const QVariantMap &battery);
    // BlueZ's unique bus name as last seen (a pass's reply, or the bus
    // telling that org.bluez changed hands); empty when it is gone.
    QString bluezOwner() const;
    void noteOwner(const QString &owner);

    mutable std::mutex m_mutex;
    QMap<QString, Interfaces> m_snapshot; // object path -> interface -> properties
    bool m_anyPowered = false;            // of the adapters in m_snapshot
    int m_reachable = -1;                 // unknown, 0 no, 1 yes: logged on change
    std::shared_ptr<HandsFreeProfile> m_profile; // made with the first stream; m_mutex
    std::unique_ptr<BatteryProvider> m_battery;  // made with the first pass; m_mutex
    const std::shared_ptr<ForeignGateway> m_gateway;
    bool m_gatewayHeldLogged = false;            // m_mutex
    QString m_owner;                             // m_mutex
    std::unique_ptr<BluezSignals> m_signals;     // the watching thread's (GUI) only
};

} // namespace platform::bluez
