#include "profilesocket.h"
#include "foreigngateway.h"
#include "handsfreeprofile.h"

#include <QUuid>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform::bluez {

ProfileSocket::ProfileSocket(std::shared_ptr<HandsFreeProfile> profile, DevicePath devicePath)
    : m_profile(std::move(profile)), m_devicePath(std::move(devicePath))
{
}

ProfileSocket::~ProfileSocket()
{
    m_profile->detach(this); // before the descriptor is closed
}

void ProfileSocket::connect(const QString &hostName, const QString &serviceName, ProtectionLevel level)
{
    if (QUuid(serviceName) != QUuid(HandsFreeProfile::kRemoteUuid))
        return RfcommSocket::connect(hostName, serviceName, level);
    switch (m_profile->acquire()) {
    case HandsFreeProfile::Registration::Registered: {
        struct Release {
            HandsFreeProfile &profile;
            ~Release() { profile.release(); }
        } release{*m_profile};
        return connectThroughBlueZ(hostName);
    }
    case HandsFreeProfile::Registration::Unavailable:
        return RfcommSocket::connect(hostName, serviceName, level);
    case HandsFreeProfile::Registration::HeldElsewhere:
        // The desktop's audio system comes first: no channel of our own beside it.
        throw PlatformError(codeForErrno(EBUSY), ForeignGateway::adviceText());
    }
}

void ProfileSocket::connectThroughBlueZ(const QString &hostName)
{
    const QString path = m_devicePath(hostName);
    if (path.isEmpty())
        throw PlatformError(kDeviceNotAvailable, QStringLiteral("The device is no longer known to BlueZ."));
    const auto pending = m_profile->request(path);
    struct Cancel {
        HandsFreeProfile &profile;
        const std::shared_ptr<PendingConnection> &pending;
        ~Cancel() { profile.cancel(pending); }
    } cancel{*m_profile, pending};
    if (!waitFor(pending->eventFd(), POLLIN))
        throw PlatformError(kOperationAborted, QStringLiteral("The connection attempt was cancelled."));
    std::optional<PlatformError> error;
    const int fd = pending->takeFd(&error);
    if (error)
        throw *error;
    // Loads and stores wait with poll and never block in the call itself.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    adopt(fd);
    m_profile->attach(path, this);
}

void ProfileSocket::endByBlueZ()
{
    m_endedByBlueZ.store(true);
    ::shutdown(fd(), SHUT_RDWR); // wakes a blocked load, which sees the end
}

void ProfileSocket::onEndOfStream()
{
    if (m_endedByBlueZ.load())
        throw PlatformError(kOperationAborted, QStringLiteral("BlueZ ended the hands-free connection."));
}

} // namespace platform::bluez
