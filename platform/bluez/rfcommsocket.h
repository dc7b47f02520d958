#pragma once

#include "../fdstreamsocket.h"

namespace platform::bluez {

// An RFCOMM stream through the kernel's Bluetooth sockets. The host name is
// the device address; the service name is the service UUID, whose channel is
// looked up with SDP, or a channel number itself.
class RfcommSocket : public FdStreamSocket
{
public:
    void connect(const QString &hostName, const QString &serviceName, ProtectionLevel level) override;

    // The SDP look-up of a service's RFCOMM channel on a device; abort()
    // ends it at once.
    int resolveChannel(const QString &address, const QString &serviceUuid);

    // How long a search may take in all.
    static constexpr int kSearchTimeoutMs = 20000;
};

// The platform error for a failed Bluetooth call, in words a person
// understands where the system's own are too terse.
[[noreturn]] void throwBluetoothErrno(int err);

} // namespace platform::bluez
