#pragma once

#include "commandassembler.h"

#include <QString>
#include <QThread>
#include <atomic>
#include <memory>

namespace platform {
class Bluetooth;
class StreamSocket;
class DataReader;
class DataWriter;
} // namespace platform

// One hands-free link: a thread that opens the RFCOMM stream to a headset's
// hands-free service, answers everything the headset sends as an audio
// gateway, and reports battery levels and the failure that ended the link.
// The owner connects finished() to deleteLater() and keeps only a QPointer.
class RFCBase : public QThread
{
    Q_OBJECT

public:
    RFCBase(const QString &deviceId, const QString &hostName, const QString &serviceName,
            platform::Bluetooth &bluetooth, QObject *parent = nullptr);
    ~RFCBase() override;

    // Asks the thread to quit and ends any wait on the stream at once, so the
    // thread finishes promptly; a connect it cancels reports no error. Used
    // when 监听 is unticked, a device goes and at exit; callable from any thread.
    void stop();

    // Whether the headset has reported a level on this link. Any thread.
    bool readALevel() const { return m_readALevel.load(); }

signals:
    void signal_error(QString deviceName, QString errorMsg);
    void signal_sendBattery(QString deviceName, int value);
    // The stream has ended, failed or never opened: no more levels will come.
    void signal_streamEnded(QString deviceName);

protected:
    void run() override;

    // One load, one decision, one reply; false ends the read loop.
    bool read(platform::DataReader *reader);
    void write(const QByteArray &text);
    // One command's decision, applied: notice, reply, level.
    void answer(const QByteArray &command);
    // The writer that write() uses while the read loop runs.
    void setWriter(platform::DataWriter *writer) { m_writer = writer; }

private:
    void failed(qint32 code, const QString &message);
    // Records the connect failure of a device's latest link (empty: it
    // connected); true when it differs from the one before.
    static bool failureChanged(const QString &deviceId, const QString &message);

    const std::unique_ptr<platform::StreamSocket> m_socket;
    platform::DataWriter *m_writer = nullptr;
    CommandAssembler m_commands; // the link's thread only
    const QString m_hostName;
    const QString m_serviceName;
    const QString m_deviceId;
    std::atomic<bool> m_readALevel{false};
    std::atomic<bool> m_stopRequested{false};
};
