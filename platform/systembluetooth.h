#pragma once

#include "bluetooth.h"

#include <memory>

namespace platform {

// The system's own Bluetooth, from the backend this build has chosen: BlueZ
// on Linux, the Win32 Bluetooth interfaces on Windows.
std::shared_ptr<Bluetooth> makeSystemBluetooth();

} // namespace platform
