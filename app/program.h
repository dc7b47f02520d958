#pragma once

#include <functional>
#include <memory>

namespace platform {
class Bluetooth;
}

// The whole program: start-up, the event loop and the orderly exit. The
// Bluetooth it runs on is made once the application object exists.
using BluetoothFactory = std::function<std::shared_ptr<platform::Bluetooth>()>;
int runKestrolune(int argc, char **argv, const BluetoothFactory &makeBluetooth);
