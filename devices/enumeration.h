#pragma once

#include <QJsonArray>
#include <functional>

namespace platform {
class Bluetooth;
}

// The service UUID of the hands-free profile, as device records write it.
extern const char kHandsFreeServiceId[];

// One blocking pass over the paired devices: a device record for each
// ("Name", "Id", "Status", and "Services" when the service list was read to
// its end; "Battery" where the system knows the level; "HandsFreeHeld", the
// row's words, while another program holds the hands-free audio gateway).
// notify() receives the system notice: an empty text after each listed
// device, "蓝牙设备未开启" when the radio is off (which ends the pass).
// A failure outside the per-device part ends the pass with what was gathered.
QJsonArray enumeratePairedDevices(platform::Bluetooth &bluetooth,
                                  const std::function<void(const QString &)> &notify);
