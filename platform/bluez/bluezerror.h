#pragma once

#include "../platformerror.h"

namespace platform::bluez {

// The platform error for an error reply of BlueZ (or of the bus itself).
// A headset that is off or out of reach gives kOperationAborted, a switched
// off adapter or a vanished device kDeviceNotAvailable; other names get a
// code of their own. The message keeps BlueZ's text and names the error.
PlatformError bluezError(const QString &name, const QString &message);

} // namespace platform::bluez
