#pragma once

#include "platformerror.h"
#include "streamsocket.h"

#include <QString>
#include <QUuid>
#include <QVector>
#include <functional>
#include <memory>

namespace platform {

// One paired device as the system's device collection lists it.
struct DeviceInfo
{
    QString id;
    QString name;
    // The battery level the system already knows from elsewhere (0 to 100;
    // -1 when none does). Never a level that this program provided itself.
    int batteryLevel = -1;
};

// One RFCOMM service that a device offers.
struct RfcommService
{
    QUuid serviceId;
    QString connectionServiceName;
    QString connectionHostName;
};

// Everything the program asks of Bluetooth. Every operation blocks the
// calling thread until it is done, may be called from any thread (none of
// them needs per-thread initialisation) and reports failure by throwing
// PlatformError.
class Bluetooth
{
public:
    virtual ~Bluetooth() = default;

    // The devices paired with the system, in the system's order.
    virtual QVector<DeviceInfo> pairedDevices() = 0;

    // Looks the device up and tells whether it is connected right now.
    virtual bool isConnected(const QString &deviceId) = 0;

    // The device's RFCOMM services, in the order the system lists them.
    virtual QVector<RfcommService> rfcommServices(const QString &deviceId) = 0;

    // A new, unconnected stream socket.
    virtual std::unique_ptr<StreamSocket> createStreamSocket() = 0;

    // Where another program (the desktop's audio system) holds the
    // hands-free audio-gateway role, the words for a listened headset's row:
    // what holds the channel and what to do. Links then leave every
    // headset's hands-free channel to that program. Empty where none does.
    // As the last pairedDevices() found it.
    virtual QString handsFreeHeldElsewhere() { return {}; }

    // Calls changed() (from any thread, never while holding a lock of the
    // backend's) whenever something that pairedDevices() reads may have
    // changed: a device, an adapter, a level, the system's Bluetooth service
    // coming or going. Backends that cannot tell never call it; the scan
    // cycle's timer is the safety net. Called once, before the first pass,
    // in a thread with an event loop (the GUI thread).
    virtual void watchChanges(std::function<void()> changed) { Q_UNUSED(changed) }

    // A level that one of the program's links read, for the rest of the
    // desktop to show; -1 when that link has ended. Never blocks. Systems
    // that take no levels from programs ignore it.
    virtual void provideBatteryLevel(const QString &deviceId, int level)
    {
        Q_UNUSED(deviceId)
        Q_UNUSED(level)
    }
};

// The UUID as "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", lower case, 38 characters.
QString uuidText(const QUuid &uuid);

} // namespace platform
