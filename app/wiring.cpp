#include "wiring.h"

#include "../devices/rfcmanager.h"
#include "../ui/appmanager.h"

#include <QApplication>
#include <QPointer>
#include <QQmlApplicationEngine>

#include <functional>

QObject *windowOf(QQmlApplicationEngine &engine)
{
    const QList<QObject *> roots = engine.rootObjects();
    return roots.isEmpty() ? nullptr : roots.first();
}

namespace {

// Calls a window function by name from a device-manager signal, each
// argument wrapped in a QVariant. window() finds the window at every call;
// the call does nothing when there is none.
class Forwarder
{
public:
    Forwarder(std::function<QObject *()> window, const char *function)
        : m_window(std::move(window)), m_function(function) {}

    // Forwarders that run in the GUI thread look the window up afresh, and
    // find none once the engine is gone.
    static Forwarder inGuiThread(QQmlApplicationEngine &engine, const char *function)
    {
        const QPointer<QQmlApplicationEngine> guard(&engine);
        return Forwarder([guard] { return guard ? windowOf(*guard) : nullptr; }, function);
    }

    // Forwarders that run in the registry's own thread hold the window taken
    // at start, since the engine's list of root objects belongs to the GUI
    // thread. The call itself is queued into the GUI thread.
    static Forwarder inRegistryThread(QObject *window, const char *function)
    {
        return Forwarder([window] { return window; }, function);
    }

    template <typename... Args>
    void operator()(Args... args) const
    {
        if (QObject *window = m_window())
            QMetaObject::invokeMethod(window, m_function, Qt::AutoConnection, Q_ARG(QVariant, QVariant::fromValue(args))...);
    }

private:
    std::function<QObject *()> m_window;
    const char *m_function;
};

} // namespace

RFCManager *startDeviceManagement(QQmlApplicationEngine &engine, AppManager &appManager,
                                  std::shared_ptr<platform::Bluetooth> bluetooth)
{
    QObject *window = windowOf(engine);
    if (!window)
        return nullptr;

    // The user's choices: AppManager saves them before the device manager hears of a change.
    QObject::connect(window, SIGNAL(updateDeviceProfile(QString,QString,QVariant)), &appManager,
                     SLOT(updateDeviceProfile(QString,QString,QVariant)), Qt::AutoConnection);
    QObject::connect(window, SIGNAL(updateDeviceProfiles(QString)), &appManager,
                     SLOT(updateDeviceProfiles(QString)), Qt::AutoConnection);

    const QJsonObject profiles = appManager.loadConfig();
    QMetaObject::invokeMethod(window, "setDeviceProfile", Qt::AutoConnection,
                              Q_ARG(QVariant, QVariant::fromValue(profiles)));

    auto *manager = new RFCManager(profiles, std::move(bluetooth)); // deleted by stopDeviceManagement

    // The device manager acts on the same choices, queued behind the save.
    QObject::connect(window, SIGNAL(updateDeviceProfile(QString,QString,QVariant)), manager,
                     SLOT(updateDeviceProfile(QString,QString,QVariant)), Qt::QueuedConnection);
    QObject::connect(window, SIGNAL(updateDeviceProfiles(QString)), manager,
                     SLOT(updateDeviceProfiles(QString)), Qt::QueuedConnection);

    QCoreApplication *app = QCoreApplication::instance();
    using ErrorForDevice = void (RFCManager::*)(QString, QString);
    using SystemNotice = void (RFCManager::*)(QString);
    // Devices, levels and errors reach the window's rows; levels, names and
    // tray registrations reach AppManager and its tray icons and warnings. A
    // device that goes takes its row and its tray icon.
    QObject::connect(manager, &RFCManager::signal_registerToIndex, manager,
                     Forwarder::inRegistryThread(window, "registerToIndex"), Qt::DirectConnection);
    QObject::connect(manager, &RFCManager::signal_unregisterFromIndex, manager,
                     Forwarder::inRegistryThread(window, "unregisterFromIndex"), Qt::DirectConnection);
    QObject::connect(manager, static_cast<ErrorForDevice>(&RFCManager::signal_getErrorMessage), app,
                     Forwarder::inGuiThread(engine, "updateDeviceErrorMessage"), Qt::AutoConnection);
    QObject::connect(manager, static_cast<SystemNotice>(&RFCManager::signal_getErrorMessage), app,
                     Forwarder::inGuiThread(engine, "updateSystemNotify"), Qt::AutoConnection);
    QObject::connect(manager, &RFCManager::signal_sendBatteryLevel, app,
                     Forwarder::inGuiThread(engine, "updateDeviceBatteryValue"), Qt::AutoConnection);
    QObject::connect(manager, &RFCManager::signal_sendBatteryLevel, &appManager,
                     &AppManager::updateDeviceBatteryValue, Qt::DirectConnection);
    QObject::connect(manager, &RFCManager::signal_registerToIndex, &appManager, &AppManager::registerToIndex,
                     Qt::QueuedConnection);
    QObject::connect(manager, &RFCManager::signal_registerToTray, &appManager,
                     &AppManager::registerDeviceToTrary, Qt::QueuedConnection);
    QObject::connect(manager, &RFCManager::signal_unregisterFromIndex, &appManager,
                     &AppManager::unregisterDeviceFromTray, Qt::QueuedConnection);
    // A link stopped by a click (监听 or 托盘 unticked) takes its icon away.
    QObject::connect(manager, &RFCManager::signal_unregisterFromTray, &appManager,
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
