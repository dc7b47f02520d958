#include "../systembluetooth.h"
#include "windowsbluetooth.h"

namespace platform {

std::shared_ptr<Bluetooth> makeSystemBluetooth()
{
    return std::make_shared<windows::WindowsBluetooth>();
}

} // namespace platform
