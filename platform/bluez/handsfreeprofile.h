#pragma once

#include "../platformerror.h"

#include <QMap>
#include <QString>
#include <QThread>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace platform::bluez {

class ForeignGateway;
class ProfileEndpoint;
class ProfileSocket;

// One connection asked of BlueZ and not yet handed over. The asking link
// waits on eventFd(); the profile's thread fills in the descriptor or the
// error and wakes it.
class PendingConnection
{
public:
    PendingConnection();
    ~PendingConnection();
    PendingConnection(const PendingConnection &) = delete;
    PendingConnection &operator=(const PendingConnection &) = delete;

    int eventFd() const { return m_eventFd; }
    // The first outcome counts; a descriptor that comes too late is closed.
    bool handOver(int fd);
    void fail(const PlatformError &error);
    bool isDone() const;
    // The descriptor (now the caller's) or the error; -1 and none while open.
    int takeFd(std::optional<PlatformError> *error);

private:
    void wake();

    mutable std::mutex m_mutex;
    int m_eventFd;
    int m_fd = -1;
    bool m_done = false;
    std::optional<PlatformError> m_error;
};

// The hands-free audio-gateway profile, registered with BlueZ's profile
// manager as a client: BlueZ finds the headset's channel, connects it and
// hands the descriptor to our org.bluez.Profile1 object, which is served on a
// thread of its own (the links block in their waits meanwhile). Only
// connections that a link asked for are taken; any other is refused.
// The UUID is held only while a link connects: a handed-over connection
// outlives the registration, and the desktop's audio system can register
// the role whenever it (re)starts.
class HandsFreeProfile
{
public:
    // owner: BlueZ's unique bus name now, as the program last saw it (empty
    // while BlueZ is gone); a new one means a BlueZ that forgot us.
    HandsFreeProfile(std::shared_ptr<ForeignGateway> gateway, std::function<QString()> owner);
    ~HandsFreeProfile(); // unregisters and stops the profile's thread

    HandsFreeProfile(const HandsFreeProfile &) = delete;
    HandsFreeProfile &operator=(const HandsFreeProfile &) = delete;

    enum class Registration { Registered, HeldElsewhere, Unavailable };
    // Registers the profile for one more connect, with the BlueZ that runs
    // now, unless that is done. HeldElsewhere: another program holds the UUID
    // (the desktop's audio system); Unavailable: no profile manager (an older
    // BlueZ) or no BlueZ. Each Registered is matched by one release().
    Registration acquire();
    // The connect is over: the last one gives the UUID back.
    void release();

    // Asks BlueZ to connect the device's hands-free unit. The outcome comes
    // in the returned connection; cancel() it when it is no longer wanted.
    std::shared_ptr<PendingConnection> request(const QString &devicePath);
    void cancel(const std::shared_ptr<PendingConnection> &pending);

    // A stream over a handed-over descriptor, so that BlueZ can end it.
    void attach(const QString &devicePath, ProfileSocket *socket);
    void detach(ProfileSocket *socket);

    // Called by the Profile1 object, on the profile's thread.
    bool takeConnection(const QString &devicePath, int fd);
    void disconnectRequested(const QString &devicePath);
    void released();

    static const QString kObjectPath;
    static const QString kLocalUuid;  // hands-free audio gateway (0x111f)
    static const QString kRemoteUuid; // hands-free unit (0x111e)
    static constexpr int kConnectTimeoutMs = 60000;
    static constexpr int kHandOverTimeoutMs = 10000;

private:
    void startConnect(const QString &devicePath, const std::shared_ptr<PendingConnection> &pending);
    void unregisterLocked(); // with m_registerMutex held

    QThread m_thread;
    ProfileEndpoint *m_endpoint; // lives in m_thread; deleted once it has stopped
    const std::shared_ptr<ForeignGateway> m_gateway;
    const std::function<QString()> m_owner;
    std::mutex m_registerMutex;
    QString m_registeredWith;                 // BlueZ's unique bus name; m_registerMutex
    int m_users = 0;                          // connects under way; m_registerMutex
    std::optional<Registration> m_lastLogged; // m_registerMutex
    std::mutex m_mutex;
    QMap<QString, std::shared_ptr<PendingConnection>> m_pending; // by device path; m_mutex
    QMultiMap<QString, ProfileSocket *> m_streams;              // by device path; m_mutex
};

} // namespace platform::bluez
