#pragma once

#include "streamsocket.h"

namespace platform {

// Reads from a stream socket: load() buffers what has arrived, readString()
// takes it as UTF-8 text.
class DataReader
{
public:
    explicit DataReader(StreamSocket &socket) : m_socket(socket) {}

    quint32 load(quint32 maxBytes) { return m_socket.load(maxBytes); }
    // All count bytes as UTF-8, NUL bytes included.
    QString readString(quint32 count)
    {
        const QByteArray bytes = m_socket.readBytes(count);
        return QString::fromUtf8(bytes.constData(), bytes.size());
    }

private:
    StreamSocket &m_socket;
};

// Writes to a stream socket: writeBytes() queues bytes, store() sends them.
class DataWriter
{
public:
    explicit DataWriter(StreamSocket &socket) : m_socket(socket) {}

    void writeBytes(const QByteArray &bytes) { m_socket.writeBytes(bytes); }
    quint32 store() { return m_socket.store(); }

private:
    StreamSocket &m_socket;
};

} // namespace platform
