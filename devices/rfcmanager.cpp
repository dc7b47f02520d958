#include "rfcmanager.h"
#include "enumeration.h"
#include "scancycle.h"

#include "../link/rfcbase.h"
#include "../platform/os/apartment.h"
#include "../platform/bluetooth.h"
#include "../platform/threadcheck.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDeadlineTimer>
#include <QJsonDocument>

#include <iostream>

RFCManager::RFCManager(QJsonObject profiles, std::shared_ptr<platform::Bluetooth> bluetooth,
                       QObject *parent)
    : QThread(parent), m_bluetooth(std::move(bluetooth))
{
    const long result = platform::os::initApartment();
    if (result < 0)
        throw platform::PlatformError(qint32(result), QStringLiteral("CoInitializeEx failed"));
    std::cout << "RFCManager..." << std::flush;
    m_profiles = std::move(profiles);
    m_bluetooth->watchChanges([this] { requestScan(); });
}

// Runs only once the registry's thread has finished (or never started).
RFCManager::~RFCManager()
{
    m_bluetooth->watchChanges({});
    platform::markThreadJoined(this);
}

void RFCManager::requestScan()
{
    std::unique_lock<std::mutex> lock(m_soonMutex);
    if (!m_soon || m_stopping.load())
        return;
    emit signal_scanRequested(); // queued to the registry's thread
}

void RFCManager::run()
{
    {
        QObject registryContext; // receives the links' deletion requests in this thread
        m_registryContext = &registryContext;

        // A cycle at once for a signalled change or a click; one signalled
        // while the first cycle runs brings another right after it.
        QTimer soon;
        soon.setSingleShot(true);
        soon.setInterval(kCoalesceMs);
        connect(&soon, &QTimer::timeout, this, &RFCManager::scanDevices, Qt::DirectConnection);
        connect(this, &RFCManager::signal_scanRequested, &soon, [&soon] {
            if (!soon.isActive())
                soon.start();
        }, Qt::QueuedConnection);
        {
            std::unique_lock<std::mutex> lock(m_soonMutex);
            m_soon = &soon;
        }
        scanDevices();
        auto *timer = new QTimer; // deleted below, in this thread, when the loop ends
        m_timer = timer;
        connect(timer, &QTimer::timeout, this, &RFCManager::scanDevices, Qt::DirectConnection);
        timer->start(m_scanIntervalMs);
        exec();
        {
            std::unique_lock<std::mutex> lock(m_soonMutex);
            m_soon = nullptr;
        }

        delete timer;
        reapStoppedLinks(registryContext);
        m_registryContext = nullptr;
    }
    platform::markThreadRunEnded(this);
}

void RFCManager::reapStoppedLinks(QObject &registryContext)
{
    // shutdown() has stopped every link, and stopped links end promptly.
    // Their "finished" is queued to registryContext: served here, before the
    // context goes, no link posts to it while it is being destroyed (Qt may
    // then lose the queued call and its connection's slot).
    QList<QPointer<RFCBase>> links;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        links = m_allLinks;
    }
    const QDeadlineTimer deadline(kReapTimeoutMs);
    for (const QPointer<RFCBase> &link : qAsConst(links))
        if (link)
            link->wait(deadline);
    QCoreApplication::sendPostedEvents(&registryContext, QEvent::MetaCall);
}

QJsonArray RFCManager::enumeratePairedDevices()
{
    return ::enumeratePairedDevices(*m_bluetooth, [this](const QString &notice) {
        emit signal_getErrorMessage(notice);
    });
}

void RFCManager::scanDevices()
{
    if (m_stopping.load())
        return;
    const QJsonArray records = enumeratePairedDevices();
    const QDateTime now = QDateTime::currentDateTime();

    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_stopping.load())
        return;
    m_allLinks.removeAll(nullptr);
    const QVector<ScanStep> steps = reconcileScan(records, m_profiles, m_lastSeen, now,
                                                  [this](const QString &id) { return hasLiveLink(id); }, m_known,
                                                  m_backoff);
    for (const ScanStep &step : steps) {
        switch (step.kind) {
        case ScanStep::Register:
            emit signal_registerToIndex(step.record);
            break;
        case ScanStep::StartLink:
            startLink(step.deviceId, step.hostName, step.serviceName, now);
            if (step.tray)
                emit signal_registerToTray(step.deviceId, step.name);
            break;
        case ScanStep::StopLink:
            // The tray icon stays, showing that no level is known.
            stopLinkLocked(step.deviceId);
            break;
        case ScanStep::Unregister:
            emit signal_unregisterFromIndex(step.deviceId);
            break;
        case ScanStep::Level: {
            // Relayed through the GUI thread, as a link's reports are.
            const QString id = step.deviceId;
            const int level = step.level;
            QMetaObject::invokeMethod(this, [this, id, level] { slot_recvKnownLevel(id, level); },
                                      Qt::QueuedConnection);
            break;
        }
        case ScanStep::ShowTray:
            emit signal_registerToTray(step.deviceId, step.name);
            break;
        case ScanStep::Advice: {
            const QString id = step.deviceId;
            const QString text = step.name;
            QMetaObject::invokeMethod(this, [this, id, text] { setRowError(id, text); }, Qt::QueuedConnection);
            break;
        }
        }
    }
}

// Called with m_mutex held, on the registry's thread.
void RFCManager::startLink(const QString &id, const QString &hostName, const QString &serviceName,
                           const QDateTime &now)
{
    // The link has no parent. It is deleted in this thread once its own
    // thread has finished, and only under m_mutex: disableDevice() looks the
    // link up and calls quit() under the same mutex from the GUI thread, so
    // the link cannot vanish between its look-up and its use there.
    auto *link = new RFCBase(id, hostName, serviceName, *m_bluetooth);
    const QPointer<RFCBase> guard(link);
    connect(link, &QThread::finished, m_registryContext, [this, guard, id, now] {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (guard) {
            guard->wait();
            m_backoff.ended(id, now, guard->readALevel());
            delete guard.data();
        }
    }, Qt::QueuedConnection);
    connect(link, &RFCBase::signal_error, this, &RFCManager::slot_recvErrorMsg, Qt::QueuedConnection);
    connect(link, &RFCBase::signal_sendBattery, this, &RFCManager::slot_recvBatteryLevel,
            Qt::QueuedConnection);
    connect(link, &RFCBase::signal_streamEnded, this, &RFCManager::slot_recvStreamEnded,
            Qt::QueuedConnection);
    link->start(QThread::InheritPriority);
    m_links.insert(id, guard);
    m_allLinks.append(guard);
}

bool RFCManager::hasLiveLink(const QString &id) const
{
    const auto it = m_links.constFind(id);
    return it != m_links.constEnd() && !it->isNull();
}

QJsonObject RFCManager::profiles() const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_profiles;
}

bool RFCManager::stopLinkLocked(const QString &id)
{
    const auto it = m_links.find(id);
    if (it == m_links.end() || it->isNull())
        return false;
    // Not just quit(): a link blocked in a load or a connect would otherwise
    // hold the headset's hands-free channel until the headset speaks again.
    (*it)->stop();
    m_backoff.reset(id); // a link we end ourselves has not failed
    m_links.erase(it);
    return true;
}

void RFCManager::disableDevice(QString deviceId)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (stopLinkLocked(deviceId))
        emit signal_unregisterFromTray(deviceId);
}

void RFCManager::applyProfileChange(const QJsonObject &before)
{
    QStringList linked;
    for (auto it = m_links.cbegin(); it != m_links.cend(); ++it)
        if (!it->isNull())
            linked << it.key();
    for (const ProfileAction &action : reconcileProfiles(before, m_profiles, linked, m_known.fromSystem)) {
        switch (action.kind) {
        case ProfileAction::StopLink:
            stopLinkLocked(action.deviceId);
            m_known.advised.remove(action.deviceId);
            setRowError(action.deviceId, QString()); // no link asked for: nothing to say about one
            break;
        case ProfileAction::ShowTray:
            // Named as the scan cycle last listed it; a device not listed
            // (yet) gets its icon from the cycle that lists it.
            if (m_known.names.contains(action.deviceId))
                emit signal_registerToTray(action.deviceId, m_known.names.value(action.deviceId));
            break;
        case ProfileAction::HideTray:
            emit signal_unregisterFromTray(action.deviceId);
            break;
        }
    }
}

void RFCManager::retryTickedLocked(const QJsonObject &before)
{
    // Ticking 监听 again starts afresh, whatever the earlier links did.
    for (auto it = m_profiles.constBegin(); it != m_profiles.constEnd(); ++it)
        if (profileFlag(m_profiles, it.key(), "listen") && !profileFlag(before, it.key(), "listen"))
            m_backoff.reset(it.key());
}

void RFCManager::updateDeviceProfile(QString Id, QString Key, QVariant value)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    qDebug() << "updateDeviceProfile " << Id << "\tKey: " << Key << "\tValue:" << value;
    const QJsonObject before = m_profiles;
    setProfileEntry(m_profiles, Id, Key, value);
    applyProfileChange(before);
    retryTickedLocked(before);
    requestScan(); // a ticked 监听 links at once
}

void RFCManager::updateDeviceProfiles(QString objstr)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const QJsonObject before = m_profiles;
    const QJsonDocument document = QJsonDocument::fromJson(objstr.toUtf8());
    m_profiles = document.object();
    // Text that is no profile map empties the map but stops nothing.
    if (document.isObject()) {
        applyProfileChange(before);
        retryTickedLocked(before);
        requestScan(); // a ticked 监听 links at once
    }
}

void RFCManager::slot_recvErrorMsg(QString deviceId, QString errMsg)
{
    setRowError(deviceId, errMsg);
}

void RFCManager::setRowError(const QString &deviceId, const QString &text)
{
    if (m_stopping.load())
        return;
    if (text.isEmpty()) {
        if (!m_rowErrors.remove(deviceId))
            return;
    } else {
        // A link that fails the same way at every scan cycle is logged once.
        if (m_rowErrors.value(deviceId) != text)
            qDebug() << "slot_recvErrorMsg: " << deviceId << " " << text;
        m_rowErrors.insert(deviceId, text);
    }
    emit signal_getErrorMessage(deviceId, text);
}

void RFCManager::slot_recvBatteryLevel(QString deviceId, int value)
{
    qDebug() << "slot_recvBatteryLevel: " << deviceId << " " << value;
    m_bluetooth->provideBatteryLevel(deviceId, value); // for the rest of the desktop
    emit signal_sendBatteryLevel(deviceId, value);
    // The device answers again: the error that ended an earlier link is over.
    if (m_rowErrors.remove(deviceId))
        emit signal_getErrorMessage(deviceId, QString());
}

void RFCManager::slot_recvStreamEnded(QString deviceId)
{
    qDebug() << "slot_recvStreamEnded: " << deviceId;
    m_bluetooth->provideBatteryLevel(deviceId, -1);
    emit signal_sendBatteryLevel(deviceId, -1);
}

void RFCManager::slot_recvKnownLevel(const QString &deviceId, int value)
{
    if (m_stopping.load())
        return;
    qDebug() << "slot_recvKnownLevel: " << deviceId << " " << value;
    emit signal_sendBatteryLevel(deviceId, value);
    if (value >= 0 && m_rowErrors.remove(deviceId))
        emit signal_getErrorMessage(deviceId, QString());
}

bool RFCManager::shutdown(int timeoutMs)
{
    m_bluetooth->watchChanges({}); // no more cycles asked for
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_stopping.store(true);
        for (const QPointer<RFCBase> &link : qAsConst(m_allLinks))
            if (link)
                link->stop();
    }
    quit();
    if (isRunning() && !wait(timeoutMs)) {
        qWarning() << "RFCManager: the registry thread did not stop in time";
        return false;
    }
    platform::markThreadJoined(this);
    // The registry's thread is gone: the links that remain are deleted here.
    bool allStopped = true;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (const QPointer<RFCBase> &link : qAsConst(m_allLinks)) {
        if (!link)
            continue;
        if (!link->wait(timeoutMs)) {
            qWarning() << "RFCManager: a link did not stop in time";
            allStopped = false;
            continue;
        }
        platform::markThreadJoined(link.data());
        delete link.data();
    }
    m_allLinks.clear();
    m_links.clear();
    return allStopped;
}
