#pragma once

#include <QHash>
#include <QString>

namespace platform::windows {

class Win32Bluetooth;

// The battery levels Windows itself has read from headsets, by device
// address. Windows keeps a headset's level on the device node of its
// hands-free service, and keeps it current only while its own audio gateway
// (BTAGService) holds the channel; once that service is stopped the value
// is stale, so nothing is read then and no level is known.
class KnownLevels
{
public:
    static const QString kGatewayService; // "BTAGService"

    // Asks the system once: the levels of this moment.
    static QHash<quint64, int> read(Win32Bluetooth &system);

    // The device address in the instance Id of a hands-free node, such as
    //   BTHENUM\{0000111e-0000-1000-8000-00805f9b34fb}_VID&0001005d_PID&223b\7&2b4b2a0e&0&E8ABFA123456_C00000000
    // (the last part's field before the final "_", after its last "&").
    // False for any other node.
    static bool handsFreeNodeAddress(const QString &instanceId, quint64 &address);
};

} // namespace platform::windows
