#include "../systembluetooth.h"
#include "bluezbluetooth.h"

namespace platform {

std::shared_ptr<Bluetooth> makeSystemBluetooth()
{
    return std::make_shared<bluez::BluezBluetooth>();
}

} // namespace platform
