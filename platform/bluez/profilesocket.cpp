#include "profilesocket.h"
#include "handsfreeprofile.h"

#include <QUuid>

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

QString ProfileSocket::heldElsewhereText(const QString &error)
{
    return QStringLiteral("The desktop's audio system provides hands-free support and holds the headset's "
                          "hands-free channel. To leave the channel to Kestrolune, switch the audio system's "
                          "hands-free roles off as the README says under \"Real Bluetooth on Linux\", then "
                          "reconnect the headset. (%1)").arg(error);
}

void ProfileSocket::connect(const QString &hostName, const QString &serviceName, ProtectionLevel level)
{
    if (QUuid(serviceName) != QUuid(HandsFreeProfile::kRemoteUuid))
        return RfcommSocket::connect(hostName, serviceName, level);
    switch (m_profile->ensureRegistered()) {
    case HandsFreeProfile::Registration::Registered:
        return connectThroughBlueZ(hostName);
    case HandsFreeProfile::Registration::Unavailable:
        return RfcommSocket::connect(hostName, serviceName, level);
    case HandsFreeProfile::Registration::HeldElsewhere:
        try {
            RfcommSocket::connect(hostName, serviceName, level);
        } catch (const PlatformError &e) {
            throw PlatformError(e.code(), heldElsewhereText(e.message()));
        }
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
