#pragma once

#include "../fdstreamsocket.h"
#include "headsetsession.h"

#include <memory>

namespace platform::sim {

class SimWorld;

// The program's end of a connection to a simulated headset: a real socket
// pair, so loads block, split and end as they do on a device.
class SimStreamSocket : public FdStreamSocket
{
public:
    explicit SimStreamSocket(SimWorld *world) : m_world(world) {}

    void connect(const QString &hostName, const QString &serviceName, ProtectionLevel level) override;

protected:
    void onEndOfStream() override;

private:
    SimWorld *m_world;
    std::weak_ptr<HeadsetSession> m_session;
};

} // namespace platform::sim
