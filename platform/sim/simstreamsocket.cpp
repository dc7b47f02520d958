#include "simstreamsocket.h"
#include "simworld.h"

namespace platform::sim {

void SimStreamSocket::connect(const QString &hostName, const QString &serviceName, ProtectionLevel)
{
    const SimHeadset::Accepted accepted = m_world->connectTo(hostName, serviceName);
    m_session = accepted.session;
    adopt(accepted.fd);
}

void SimStreamSocket::onEndOfStream()
{
    // A headset that dropped the link (switched off, out of range) breaks the
    // stream instead of ending it; the platform reports that as aborted.
    const auto session = m_session.lock();
    if (session && session->wasBroken())
        throw session->breakError();
}

} // namespace platform::sim
