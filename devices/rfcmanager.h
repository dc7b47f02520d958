#pragma once

#include "scancycle.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <mutex>
#include <QPointer>
#include <QHash>
#include <QThread>
#include <QTimer>
#include <QVariant>
#include <atomic>
#include <memory>

class RFCBase;
namespace platform {
class Bluetooth;
}

// The device registry: a thread that lists the paired devices every 3000 ms,
// and at once whenever the system signals a change or the user ticks a box,
// reports new and vanished devices, starts one hands-free link per connected,
// listened device and relays the links' reports. Every cycle runs on the
// registry's thread, one after the other. The object itself belongs to the
// GUI thread, so its slots run there.
class RFCManager : public QThread
{
    Q_OBJECT

public:
    RFCManager(QJsonObject profiles, std::shared_ptr<platform::Bluetooth> bluetooth,
               QObject *parent = nullptr);
    ~RFCManager() override;

    // Program exit: stops the scan timer, every link and the registry's
    // thread, waiting at most timeoutMs for each. Afterwards nothing more is
    // emitted. GUI thread only. Returns false when something did not stop.
    bool shutdown(int timeoutMs);

    // A copy of the registry's profile map.
    QJsonObject profiles() const;

    static constexpr int kScanIntervalMs = 3000;
    // Changes signalled within this time of each other make one cycle.
    static constexpr int kCoalesceMs = 10;

    // A cycle soon, on the registry's thread: changes signalled meanwhile
    // join it. Any thread; nothing happens before run() or after shutdown().
    void requestScan();

    // The time between scan cycles; kScanIntervalMs unless changed before
    // start() (tests use shorter cycles).
    void setScanInterval(int ms) { m_scanIntervalMs = ms; }

signals:
    void signal_getErrorMessage(QString deivceId, QString errMsg);
    void signal_getErrorMessage(QString errMsg);
    void signal_sendBatteryLevel(QString deviceID, int value);
    void signal_registerToTray(QString deviceId, QString deviceName);
    void signal_unregisterFromTray(QString deviceId);
    void signal_registerToIndex(QJsonObject obj);
    void signal_unregisterFromIndex(QString deviceId);
    // requestScan() to the registry's thread.
    void signal_scanRequested();

public slots:
    void disableDevice(QString deviceId);
    void updateDeviceProfile(QString Id, QString Key, QVariant value);
    void updateDeviceProfiles(QString objstr);

private slots:
    void slot_recvErrorMsg(QString deviceId, QString errMsg);
    void slot_recvBatteryLevel(QString deviceId, int value);
    // A link's stream is over: its level is no longer known.
    void slot_recvStreamEnded(QString deviceId);
    // The level the system knows changed (-1: it knows none now). Not given
    // back to the system as one of ours.
    void slot_recvKnownLevel(const QString &deviceId, int value);

protected:
    void run() override;

private:
    void scanDevices();
    // At the end of run(): waits a little for the stopped links and deletes
    // those that have finished, in this thread.
    void reapStoppedLinks(QObject &registryContext);
    static constexpr int kReapTimeoutMs = 2000;
    QJsonArray enumeratePairedDevices();
    void startLink(const QString &id, const QString &hostName, const QString &serviceName, const QDateTime &now);
    bool hasLiveLink(const QString &id) const;
    // Stops a device's link at once (its blocked waits end) and forgets it;
    // true when there was one. Called with m_mutex held.
    bool stopLinkLocked(const QString &id);
    // Acts on the running links after the profile map changed. m_mutex held.
    void applyProfileChange(const QJsonObject &before);
    // Devices whose 监听 was just ticked get their next link at once. m_mutex held.
    void retryTickedLocked(const QJsonObject &before);
    // Puts words on a device's error marker, or clears it (empty). GUI thread.
    void setRowError(const QString &deviceId, const QString &text);

    const std::shared_ptr<platform::Bluetooth> m_bluetooth;
    QJsonObject m_profiles;                     // guarded by m_mutex
    QMap<QString, QPointer<RFCBase>> m_links;   // guarded by m_mutex
    QList<QPointer<RFCBase>> m_allLinks;        // every link not yet deleted; m_mutex
    QHash<QString, QString> m_rowErrors;        // the error each row shows; GUI thread only
    QMap<QString, QDateTime> m_lastSeen;        // registry thread only
    KnownLevels m_known;                        // m_mutex
    LinkBackoff m_backoff;                      // m_mutex
    QPointer<QTimer> m_timer;
    QTimer *m_soon = nullptr;                   // the coalescing timer, in the registry thread; m_soonMutex
    std::mutex m_soonMutex;
    int m_scanIntervalMs = kScanIntervalMs;
    QObject *m_registryContext = nullptr;       // lives in the registry thread while run() runs
    std::atomic<bool> m_stopping{false};
    mutable std::mutex m_mutex;
};
