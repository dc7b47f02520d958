#pragma once

#include <QString>
#include <exception>

namespace platform {

// Result codes that callers single out. They keep the values the Windows
// Runtime uses, so logs read the same on every system.
constexpr qint32 kDeviceNotAvailable = qint32(0x800710DFu); // radio off / device gone
constexpr qint32 kOperationAborted = qint32(0x800703E3u);   // stream broken by the peer

// A failed Bluetooth or stream operation: a 32-bit result code and the
// platform's message text for it.
class PlatformError : public std::exception
{
public:
    PlatformError(qint32 code, QString message);

    qint32 code() const noexcept { return m_code; }
    const QString &message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    qint32 m_code;
    QString m_message;
    QByteArray m_utf8;
};

} // namespace platform
