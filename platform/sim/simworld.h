#pragma once

#include "../bluetooth.h"
#include "simheadset.h"

#include <QHash>
#include <QMap>
#include <mutex>
#include <memory>

namespace platform::sim {

// A simulated Bluetooth world: paired devices with their connection state
// and RFCOMM services, headsets behind hands-free services, and failures
// injected per device and per operation. Thread-safe; tests and the demo
// change it while the program runs, and every change of what a pass reads
// is told to the watcher, as a real system signals it.
class SimWorld : public Bluetooth
{
public:
    enum class Op { PairedDevices, Lookup, Services, Connect };

    struct Device
    {
        QString id;
        QString name;
        bool connected = false;
        QVector<RfcommService> services;
        int batteryLevel = -1; // a level the system knows from elsewhere
    };

    static const QUuid kHandsFreeUuid;

    // Population.
    void addDevice(const Device &device);
    void removeDevice(const QString &id);
    void setConnected(const QString &id, bool connected);
    void setRadioOn(bool on); // off: lookups fail with kDeviceNotAvailable, links break
    void setBatteryLevel(const QString &id, int level); // -1: the system forgets it

    // A paired, connected device offering the hands-free service, with a
    // headset behind it.
    std::shared_ptr<SimHeadset> addHeadset(const QString &id, const QString &name,
                                           HeadsetOptions options = {});
    // The headset that answers connects to this host and service name.
    void attachHeadset(const QString &hostName, const QString &serviceName,
                       std::shared_ptr<SimHeadset> headset);
    std::shared_ptr<SimHeadset> headset(const QString &deviceId) const;

    // Failures: the operation fails with this code for the device (the
    // device Id is ignored for Op::PairedDevices; Op::Connect uses the host name).
    void injectFailure(Op op, const QString &key, qint32 code, const QString &message);

    // Bluetooth
    QVector<DeviceInfo> pairedDevices() override;
    bool isConnected(const QString &deviceId) override;
    QVector<RfcommService> rfcommServices(const QString &deviceId) override;
    std::unique_ptr<StreamSocket> createStreamSocket() override;
    void watchChanges(std::function<void()> changed) override;

    // Used by the simulated stream socket.
    SimHeadset::Accepted connectTo(const QString &hostName, const QString &serviceName);

private:
    void throwIfFailing(Op op, const QString &key) const;
    const Device &deviceOrThrow(const QString &id) const;
    void reindex();
    // Tells the watcher, outside the lock.
    void changed() const;

    mutable std::mutex m_mutex;
    QVector<Device> m_devices;
    QHash<QString, int> m_index; // Id -> first device with it
    bool m_radioOn = true;
    QMap<QPair<int, QString>, PlatformError> m_failures;
    QMap<QPair<QString, QString>, std::shared_ptr<SimHeadset>> m_headsets;
    std::function<void()> m_changed; // m_mutex
};

} // namespace platform::sim
