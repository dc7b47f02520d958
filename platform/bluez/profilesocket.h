#pragma once

#include "rfcommsocket.h"

#include <QString>
#include <atomic>
#include <functional>
#include <memory>

namespace platform::bluez {

class HandsFreeProfile;

// A link's stream. To the hands-free service it connects through BlueZ's
// profile interface, and not at all where another program holds the
// profile; where BlueZ has no profile manager, and for every other service,
// it opens its own RFCOMM channel, as RfcommSocket does.
class ProfileSocket : public RfcommSocket
{
public:
    using DevicePath = std::function<QString(const QString &address)>;
    ProfileSocket(std::shared_ptr<HandsFreeProfile> profile, DevicePath devicePath);
    ~ProfileSocket() override;

    void connect(const QString &hostName, const QString &serviceName, ProtectionLevel level) override;

    // BlueZ ends the connection (the headset is going, or BlueZ stops): the
    // next load fails as a broken stream does. Any thread.
    void endByBlueZ();

protected:
    void onEndOfStream() override;

private:
    void connectThroughBlueZ(const QString &hostName);

    const std::shared_ptr<HandsFreeProfile> m_profile;
    const DevicePath m_devicePath;
    std::atomic<bool> m_endedByBlueZ{false};
};

} // namespace platform::bluez
