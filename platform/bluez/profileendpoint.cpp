#include "profileendpoint.h"
#include "handsfreeprofile.h"

#include <QDebug>

#include <fcntl.h>
#include <unistd.h>

namespace platform::bluez {

ProfileEndpoint::ProfileEndpoint(HandsFreeProfile &profile) : m_profile(profile) {}

void ProfileEndpoint::Release()
{
    m_profile.released();
}

void ProfileEndpoint::NewConnection(const QDBusObjectPath &device, const QDBusUnixFileDescriptor &fd,
                                    const QVariantMap &)
{
    // The descriptor object owns its copy: the stream gets a duplicate.
    const int own = fd.isValid() ? ::fcntl(fd.fileDescriptor(), F_DUPFD_CLOEXEC, 0) : -1;
    if (own >= 0 && m_profile.takeConnection(device.path(), own))
        return;
    if (own >= 0)
        ::close(own);
    qWarning() << "BlueZ: refused a hands-free connection that no link asked for:" << device.path();
    sendErrorReply(QStringLiteral("org.bluez.Error.Rejected"),
                   QStringLiteral("Kestrolune did not ask for this connection."));
}

void ProfileEndpoint::RequestDisconnection(const QDBusObjectPath &device)
{
    m_profile.disconnectRequested(device.path());
}

} // namespace platform::bluez
