#include "wiring.h"

#include "../devices/rfcmanager.h"
#include "../ui/appmanager.h"

#include <QApplication>
#include <QPointer>
#include <QQmlApplicationEngine>

namespace {

QObject *windowOf(QQmlApplicationEngine &engine)
{
    const QList<QObject *> roots = engine.rootObjects();
    return roots.isEmpty() ? nullptr : roots.first();
}

// Calls a window function by name from a device-manager signal. The window
// is looked up afresh at every call, in the GUI thread; a forwarder that
// runs after the engine is gone does nothing.
class Forwarder
{
public:
    Forwarder(QQmlApplicationEngine &engine, const char *function)
        : m_engine(&engine), m_function(function) {}

    template <typename... Args>
    void operator()(Args... args) const
    {
        if (!m_engine)
            return;
        QObject *window = windowOf(*m_engine);
        if (window)
            QMetaObject::invokeMethod(window, m_function, Qt::AutoConnection, Q_ARG(QVariant, QVariant::fromValue(args))...);
    }

private:
    QPointer<QQmlApplicationEngine> m_engine;
    const char *m_function;
};

// The same for the forwarders that run in the registry's own thread: they
// hold the window taken at start, since the engine's list of root objects
// belongs to the GUI thread. The call itself is queued into the GUI thread.
class ThreadForwarder
{
public:
    ThreadForwarder(QObject *window, const char *function) : m_window(window), m_function(function) {}

    template <typename... Args>
    void operator()(Args... args) const
    {
        QMetaObject::invokeMethod(m_window, m_function, Qt::AutoConnection, Q_ARG(QVariant, QVariant::fromValue(args))...);
    }

private:
    QObject *m_window;
    const char *m_function;
};

} // namespace

RFCManager *startDeviceManagement(QQmlApplicationEngine &engine, AppManager &appManager,
                                  std::shared_ptr<platform::Bluetooth> bluetooth)
{
    QObject *window = windowOf(engine);
    if (!window)
        return nullptr;

    // #1, #2: AppManager saves before the device manager hears of a change.
    QObject::connect(window, SIGNAL(updateDeviceProfile(QString,QString,QVariant)), &appManager,
                     SLOT(updateDeviceProfile(QString,QString,QVariant)), Qt::AutoConnection);
    QObject::connect(window, SIGNAL(updateDeviceProfiles(QString)), &appManager,
                     SLOT(updateDeviceProfiles(QString)), Qt::AutoConnection);

    const QJsonObject profiles = appManager.loadConfig();
    QMetaObject::invokeMethod(window, "setDeviceProfile", Qt::AutoConnection,
                              Q_ARG(QVariant, QVariant::fromValue(profiles)));

    auto *manager = new RFCManager(profiles, std::move(bluetooth)); // deleted by stopDeviceManagement

    // #3, #4
    QObject::connect(window, SIGNAL(updateDeviceProfile(QString,QString,QVariant)), manager,
                     SLOT(updateDeviceProfile(QString,QString,QVariant)), Qt::QueuedConnection);
    QObject::connect(window, SIGNAL(updateDeviceProfiles(QString)), manager,
                     SLOT(updateDeviceProfiles(QString)), Qt::QueuedConnection);

    QCoreApplication *app = QCoreApplication::instance();
    using ErrorForDevice = void (RFCManager::*)(QString, QString);
    using SystemNotice = void (RFCManager::*)(QString);
    // #5 .. #12
    QObject::connect(manager, &RFCManager::signal_registerToIndex, manager,
                     ThreadForwarder(window, "registerToIndex"), Qt::DirectConnection);
    QObject::connect(manager, &RFCManager::signal_unregisterFromIndex, manager,
                     ThreadForwarder(window, "unregisterFromIndex"), Qt::DirectConnection);
    QObject::connect(manager, static_cast<ErrorForDevice>(&RFCManager::signal_getErrorMessage), app,
                     Forwarder(engine, "updateDeviceErrorMessage"), Qt::AutoConnection);
    QObject::connect(manager, static_cast<SystemNotice>(&RFCManager::signal_getErrorMessage), app,
                     Forwarder(engine, "updateSystemNotify"), Qt::AutoConnection);
    QObject::connect(manager, &RFCManager::signal_sendBatteryLevel, app,
                     Forwarder(engine, "updateDeviceBatteryValue"), Qt::AutoConnection);
    QObject::connect(manager, &RFCManager::signal_sendBatteryLevel, &appManager,
                     &AppManager::updateDeviceBatteryValue, Qt::DirectConnection);
    QObject::connect(manager, &RFCManager::signal_registerToTray, &appManager,
                     &AppManager::registerDeviceToTrary, Qt::QueuedConnection);
    QObject::connect(manager, &RFCManager::signal_unregisterFromIndex, &appManager,
                     &AppManager::unregisterDeviceFromTray, Qt::QueuedConnection);

    manager->start(QThread::InheritPriority);
    return manager;
}

void stopDeviceManagement(RFCManager *manager, AppManager &appManager)
{
    if (manager) {
        const bool stopped = manager->shutdown(kShutdownTimeoutMs);
        QObject::disconnect(manager, nullptr, nullptr, nullptr);
        // Deliver nothing that was queued before the threads stopped.
        QCoreApplication::removePostedEvents(QCoreApplication::instance(), QEvent::MetaCall);
        QCoreApplication::removePostedEvents(&appManager, QEvent::MetaCall);
        if (stopped)
            delete manager;
        // else: a thread is still blocked; leave the object to the process end.
    }
    appManager.clearTrayIcons();
}
