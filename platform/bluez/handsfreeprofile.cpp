#include "handsfreeprofile.h"
#include "bluezcall.h"
#include "bluezerror.h"
#include "foreigngateway.h"
#include "profileendpoint.h"
#include "profilesocket.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDebug>
#include <QTimer>

#include <cerrno>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform::bluez {

const QString HandsFreeProfile::kObjectPath = QStringLiteral("/org/kestrolune/handsfree");
const QString HandsFreeProfile::kLocalUuid = QStringLiteral("0000111f-0000-1000-8000-00805f9b34fb");
const QString HandsFreeProfile::kRemoteUuid = QStringLiteral("0000111e-0000-1000-8000-00805f9b34fb");

namespace {
constexpr int kShortCallMs = 5000;
} // namespace

PendingConnection::PendingConnection() : m_eventFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (m_eventFd < 0)
        throwErrno(errno);
}

PendingConnection::~PendingConnection()
{
    if (m_fd >= 0)
        ::close(m_fd);
    ::close(m_eventFd);
}

void PendingConnection::wake()
{
    const quint64 one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_eventFd, &one, sizeof one);
}

bool PendingConnection::handOver(int fd)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_done)
        return false;
    m_done = true;
    m_fd = fd;
    wake();
    return true;
}

void PendingConnection::fail(const PlatformError &error)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_done)
        return;
    m_done = true;
    m_error = error;
    wake();
}

bool PendingConnection::isDone() const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_done;
}

int PendingConnection::takeFd(std::optional<PlatformError> *error)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    *error = m_error;
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

HandsFreeProfile::HandsFreeProfile(std::shared_ptr<ForeignGateway> gateway, std::function<QString()> owner)
    : m_endpoint(new ProfileEndpoint(*this)), m_gateway(std::move(gateway)), m_owner(std::move(owner))
{
    m_thread.setObjectName(QStringLiteral("hands-free profile"));
    m_endpoint->moveToThread(&m_thread);
    m_thread.start();
    if (!QDBusConnection::systemBus().registerObject(kObjectPath, m_endpoint, QDBusConnection::ExportAllSlots))
        qWarning() << "BlueZ: cannot serve the hands-free profile object:"
                   << QDBusConnection::systemBus().lastError().message();
}

HandsFreeProfile::~HandsFreeProfile()
{
    {
        std::unique_lock<std::mutex> lock(m_registerMutex);
        if (QCoreApplication::instance())
            unregisterLocked();
    }
    QDBusConnection::systemBus().unregisterObject(kObjectPath);
    m_thread.quit();
    m_thread.wait();
    delete m_endpoint; // its thread has ended: nothing runs in it any more
}

HandsFreeProfile::Registration HandsFreeProfile::acquire()
{
    std::unique_lock<std::mutex> lock(m_registerMutex);
    // A BlueZ that restarted has forgotten us: the owner's name tells.
    const QString owner = m_owner();
    if (m_users > 0 && !owner.isEmpty() && owner == m_registeredWith) {
        ++m_users;
        return Registration::Registered;
    }
    m_registeredWith.clear();

    QDBusMessage call = bluezCall(QStringLiteral("/org/bluez"), QStringLiteral("org.bluez.ProfileManager1"),
                                  QStringLiteral("RegisterProfile"));
    // A client only: no service record, and BlueZ connects nothing by itself.
    const QVariantMap options{
        {QStringLiteral("Name"), QStringLiteral("Kestrolune hands-free audio gateway")},
        {QStringLiteral("Role"), QStringLiteral("client")},
        {QStringLiteral("AutoConnect"), false},
    };
    call << QVariant::fromValue(QDBusObjectPath(kObjectPath)) << kLocalUuid << options;
    const QDBusMessage reply = QDBusConnection::systemBus().call(call, QDBus::Block, kShortCallMs);

    Registration outcome = Registration::Unavailable;
    const QString error = reply.errorName();
    if (reply.type() == QDBusMessage::ReplyMessage || error == QLatin1String("org.bluez.Error.AlreadyExists"))
        outcome = Registration::Registered;
    else if (error == QLatin1String("org.bluez.Error.NotPermitted"))
        outcome = Registration::HeldElsewhere; // "UUID already registered"
    if (outcome == Registration::Registered) {
        m_registeredWith = owner;
        ++m_users;
    } else if (outcome == Registration::HeldElsewhere) {
        m_gateway->noteRefused();
    }

    if (m_lastLogged != outcome) {
        m_lastLogged = outcome;
        if (outcome == Registration::Registered)
            qInfo() << "BlueZ: hands-free profile registered; links connect through BlueZ";
        else if (outcome == Registration::HeldElsewhere)
            qWarning() << "BlueZ: another program, probably the desktop's audio system, holds the hands-free"
                          " profile (" << reply.errorMessage() << "); its headsets' channels are left to it";
        else
            qWarning() << "BlueZ: no profile manager (" << error << reply.errorMessage()
                       << "); links open their own RFCOMM channel";
    }
    return outcome;
}

void HandsFreeProfile::release()
{
    std::unique_lock<std::mutex> lock(m_registerMutex);
    if (m_users == 0 || --m_users > 0)
        return;
    unregisterLocked();
}

void HandsFreeProfile::unregisterLocked()
{
    m_users = 0;
    if (m_registeredWith.isEmpty())
        return;
    m_registeredWith.clear();
    QDBusMessage call = bluezCall(QStringLiteral("/org/bluez"), QStringLiteral("org.bluez.ProfileManager1"),
                                  QStringLiteral("UnregisterProfile"));
    call << QVariant::fromValue(QDBusObjectPath(kObjectPath));
    QDBusConnection::systemBus().call(call, QDBus::Block, kShortCallMs);
}

std::shared_ptr<PendingConnection> HandsFreeProfile::request(const QString &devicePath)
{
    auto pending = std::make_shared<PendingConnection>();
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        const auto earlier = m_pending.value(devicePath);
        if (earlier)
            earlier->fail(PlatformError(kOperationAborted, QStringLiteral("A newer connection attempt took over.")));
        m_pending.insert(devicePath, pending);
    }
    QMetaObject::invokeMethod(m_endpoint, [this, devicePath, pending] { startConnect(devicePath, pending); },
                              Qt::QueuedConnection);
    return pending;
}

void HandsFreeProfile::cancel(const std::shared_ptr<PendingConnection> &pending)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
        if (it.value() == pending) {
            m_pending.erase(it);
            break;
        }
    }
}

// On the profile's thread.
void HandsFreeProfile::startConnect(const QString &devicePath, const std::shared_ptr<PendingConnection> &pending)
{
    if (pending->isDone())
        return;
    QDBusMessage call = bluezCall(devicePath, QStringLiteral("org.bluez.Device1"), QStringLiteral("ConnectProfile"));
    call << kRemoteUuid;
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call, kConnectTimeoutMs),
                                                m_endpoint);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, m_endpoint, [this, pending](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        if (w->isError()) {
            pending->fail(bluezError(w->error().name(), w->error().message()));
            return;
        }
        // BlueZ may answer before or after it hands the descriptor over.
        QTimer::singleShot(kHandOverTimeoutMs, m_endpoint, [pending] {
            pending->fail(PlatformError(qint32(0x80004005u),
                                        QStringLiteral("BlueZ connected the hands-free profile but handed over "
                                                       "no channel.")));
        });
    });
}

bool HandsFreeProfile::takeConnection(const QString &devicePath, int fd)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto pending = m_pending.take(devicePath);
    return pending && pending->handOver(fd);
}

void HandsFreeProfile::disconnectRequested(const QString &devicePath)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (auto it = m_streams.constFind(devicePath); it != m_streams.constEnd() && it.key() == devicePath; ++it)
        it.value()->endByBlueZ();
    if (const auto pending = m_pending.take(devicePath))
        pending->fail(bluezError(QStringLiteral("org.bluez.Error.NotConnected"), QStringLiteral("Disconnected")));
}

void HandsFreeProfile::released()
{
    qInfo() << "BlueZ: the hands-free profile was released";
    {
        std::unique_lock<std::mutex> lock(m_registerMutex);
        m_registeredWith.clear();
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    for (ProfileSocket *socket : qAsConst(m_streams))
        socket->endByBlueZ();
    for (const auto &pending : qAsConst(m_pending))
        pending->fail(PlatformError(kOperationAborted, QStringLiteral("BlueZ released the hands-free profile.")));
    m_pending.clear();
}

void HandsFreeProfile::attach(const QString &devicePath, ProfileSocket *socket)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_streams.insert(devicePath, socket);
}

void HandsFreeProfile::detach(ProfileSocket *socket)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (auto it = m_streams.begin(); it != m_streams.end();) {
        if (it.value() == socket)
            it = m_streams.erase(it);
        else
            ++it;
    }
}

} // namespace platform::bluez
