#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

enum class ProtectionLevel {
    PlainSocket = 0,
    BluetoothEncryptionAllowNullAuthentication = 3,
};

// A byte stream to one RFCOMM service. connect, load and store block the
// calling thread with no time limit; abort() may be called from any other
// thread and makes every blocked or later wait return at once (a load then
// reports the end of the stream); it ends the connection too.
class StreamSocket
{
public:
    virtual ~StreamSocket() = default;

    virtual void connect(const QString &hostName, const QString &serviceName,
                         ProtectionLevel level) = 0;

    // Waits until at least one byte can be read, then buffers up to
    // maxBytes. Returns the number buffered; 0 when the peer ended the stream.
    virtual quint32 load(quint32 maxBytes) = 0;

    // Takes count bytes from the buffer filled by load().
    virtual QByteArray readBytes(quint32 count) = 0;

    // Queues bytes for the next store().
    virtual void writeBytes(const QByteArray &bytes) = 0;

    // Sends everything queued; returns the number of bytes sent.
    virtual quint32 store() = 0;

    // Ends every wait at once and the connection with it.
    virtual void abort() = 0;

    // Ends the connection for the peer too, even where another process holds
    // a copy of the descriptor (BlueZ keeps one of every connection it hands
    // over, so closing ours alone would leave the headset's channel held).
    // Any thread.
    virtual void close() = 0;
};

} // namespace platform
