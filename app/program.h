#pragma once

#include <functional>
#include <memory>

class QQmlApplicationEngine;
class QUrl;
namespace platform {
class Bluetooth;
}

// The scene graph back end of the window, chosen before any window exists:
// Qt Quick's software renderer (the window is cards, texts and rectangles),
// unless QT_QUICK_BACKEND names another one.
void chooseSceneGraphBackend();

// Ends the event loop with -1 as soon as it runs when the engine yields no
// object for the window document url.
void exitWhenWindowMissing(QQmlApplicationEngine &engine, const QUrl &url);

// The whole program: start-up, the event loop and the orderly exit. The
// Bluetooth it runs on is made once the application object exists.
using BluetoothFactory = std::function<std::shared_ptr<platform::Bluetooth>()>;
// onWindowLoaded (optional) sees the engine right after the window document
// is loaded; the benchmarks use it.
int runKestrolune(int argc, char **argv, const BluetoothFactory &makeBluetooth,
                  const std::function<void(QQmlApplicationEngine &)> &onWindowLoaded = {});
