#include "foreigngateway.h"

namespace platform::bluez {

void ForeignGateway::seenLocked()
{
    m_sinceSeen.start();
}

void ForeignGateway::noteRecord(bool listed)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_listed = listed;
    if (listed)
        seenLocked();
}

void ForeignGateway::noteRefused()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    seenLocked();
}

bool ForeignGateway::held() const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_listed || (m_sinceSeen.isValid() && m_sinceSeen.elapsed() < m_holdOffMs);
}

QString ForeignGateway::adviceText()
{
    return QStringLiteral(
        "The desktop's audio system holds the hands-free audio gateway, so Kestrolune leaves the headset's "
        "hands-free channel to it and the headset's microphone keeps working. To see the level here, turn on "
        "bluetoothd's experimental features (the audio system's own level then shows), or switch the audio "
        "system's hands-free roles off (the microphone then goes): see \"Real Bluetooth on Linux\" in the "
        "README, /usr/share/doc/kestrolune/README.md.");
}

} // namespace platform::bluez
