#pragma once

#include <QString>

namespace platform::windows {

// The texts the Windows backend makes of Bluetooth addresses (48 bits, the
// most significant byte first in text, as Windows' own BTH_ADDR holds them).

// "e8:ab:fa:12:34:56": lower case, with colons.
QString addressText(quint64 address);

// The device Id: the form Windows' device information uses,
// "Bluetooth#Bluetooth00:1a:7d:da:71:13-e8:ab:fa:12:34:56" (the radio's
// address, then the device's).
QString deviceId(quint64 radio, quint64 device);

// The host name a stream connects to: "(e8:ab:fa:12:34:56)", the form of a
// Bluetooth host name on Windows.
QString hostName(quint64 device);

// The address in a host name: with or without the parentheses and the
// colons, either case. False when the text is no Bluetooth address.
bool parseHostName(const QString &text, quint64 &address);

} // namespace platform::windows
