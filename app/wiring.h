#pragma once

#include <QJsonObject>
#include <memory>

class AppManager;
class QQmlApplicationEngine;
class RFCManager;
namespace platform {
class Bluetooth;
}

// Brings the managers up around a loaded window, in the start-up order:
// connects the window to the AppManager, loads the configuration, hands the
// profile map to the window, creates the device manager on the given
// Bluetooth, makes every connection and starts its thread. Returns null (and
// does nothing) when the window has no root object.
RFCManager *startDeviceManagement(QQmlApplicationEngine &engine, AppManager &appManager,
                                  std::shared_ptr<platform::Bluetooth> bluetooth);

// Program exit: stops the device manager, its timer and its links (bounded),
// drops whatever they already queued for the window and the AppManager, and
// deletes it; removes the device tray icons. Safe with null.
void stopDeviceManagement(RFCManager *manager, AppManager &appManager);

// The engine's window (its first root object), or null when it has none.
// GUI thread only.
QObject *windowOf(QQmlApplicationEngine &engine);

// How long the exit waits for each thread.
constexpr int kShutdownTimeoutMs = 3000;
