#pragma once

#include <QDBusMessage>
#include <QString>

namespace platform::bluez {

// A method call to bluetoothd that never starts it: where the user has
// stopped the Bluetooth service, our scan cycle must not bring it back
// through the bus's activation at every pass.
QDBusMessage bluezCall(const QString &path, const QString &interface, const QString &method);

} // namespace platform::bluez
