#pragma once

#include <QElapsedTimer>
#include <QString>
#include <mutex>

namespace platform::bluez {

// Whether another program (the desktop's audio system) holds the hands-free
// audio-gateway role on BlueZ. It shows two ways: its service record, whose
// UUID 0000111f the adapters then list (our own registration is a client
// without a record), and BlueZ refusing our RegisterProfile ("UUID already
// registered"). Once seen, the role counts as held for holdOffMs after it
// was last seen: an audio service that restarts gives the role back for a
// moment and must find it free when it registers again. Any thread.
class ForeignGateway
{
public:
    static constexpr qint64 kHoldOffMs = 30000;
    explicit ForeignGateway(qint64 holdOffMs = kHoldOffMs) : m_holdOffMs(holdOffMs) {}

    // Each pass: whether an adapter lists the audio-gateway record.
    void noteRecord(bool listed);
    // BlueZ refused our registration: another program holds the UUID.
    void noteRefused();
    bool held() const;

    // The row's words while it is held.
    static QString adviceText();

private:
    void seenLocked();

    const qint64 m_holdOffMs;
    mutable std::mutex m_mutex;
    bool m_listed = false;
    QElapsedTimer m_sinceSeen; // invalid until first seen
};

} // namespace platform::bluez
