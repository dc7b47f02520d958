#pragma once

#include <QDBusContext>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QVariantMap>

namespace platform::bluez {

class HandsFreeProfile;

// The org.bluez.Profile1 object BlueZ calls. It lives on the profile's
// thread and passes every call on to its HandsFreeProfile.
class ProfileEndpoint : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.bluez.Profile1")

public:
    explicit ProfileEndpoint(HandsFreeProfile &profile);

public slots:
    Q_NOREPLY void Release();
    void NewConnection(const QDBusObjectPath &device, const QDBusUnixFileDescriptor &fd,
                       const QVariantMap &properties);
    void RequestDisconnection(const QDBusObjectPath &device);

private:
    HandsFreeProfile &m_profile;
};

} // namespace platform::bluez
