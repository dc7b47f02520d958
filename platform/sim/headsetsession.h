#pragma once

#include "../platformerror.h"
#include "../os/wakeevent.h"

#include <QByteArray>
#include <mutex>
#include <QStringList>
#include <condition_variable>
#include <atomic>
#include <deque>
#include <functional>

namespace platform::sim {

// How a simulated headset behaves.
struct HeadsetOptions
{
    // HF supported features sent in AT+BRSF: three-way calling, CLI, remote
    // volume, codec negotiation and HF indicators.
    int features = 0x196;
    int level = 100;            // battery level reported after the set-up
    bool silent = false;        // connects, then never sends anything
    int replyTimeoutMs = 5000;  // how long it waits for each reply
    // After the set-up, asks for the network operator's name (AT+COPS=3,0
    // and AT+COPS?) as many headsets do, and carries on whatever the answer
    // (PipeWire's gateway answers ERROR).
    bool askOperator = false;
};

// The hands-free (HF) side of one connection: runs the service level
// connection command by command, checks every reply the way a hands-free
// unit does, then reports its battery level with AT+BIEV and sends whatever
// it is told to. Works over any pair of descriptors (a socket, or on Linux
// stdin and stdout). run() blocks; the control calls may come from any thread.
class HeadsetSession
{
public:
    using Logger = std::function<void(const QString &)>;

    HeadsetSession(os::Handle readFd, os::Handle writeFd, HeadsetOptions options, Logger log = {});
    ~HeadsetSession();

    HeadsetSession(const HeadsetSession &) = delete;
    HeadsetSession &operator=(const HeadsetSession &) = delete;

    void run();

    // Controls.
    void setLevel(int level);        // reported now if the indicator is on
    void send(const QByteArray &bytes);
    void closeCleanly();             // ends our direction of the stream
    // Drops the connection abruptly; the program's next load fails with this code.
    void breakStream(qint32 code = kOperationAborted,
                     const QString &message = QStringLiteral("The I/O operation has been aborted because "
                                                             "of either a thread exit or an application request."));
    void stop();                     // ends run()

    // Observations.
    bool waitForSetUp(int timeoutMs);
    bool waitForFinalCount(int count, int timeoutMs);
    bool isSetUp() const { return m_setUp.load(); }
    bool hasEnded() const { return m_ended.load(); }
    bool wasBroken() const { return m_broken.load(); }
    bool wasClosed() const { return m_closed.load(); }
    // The AG (the program) has ended its direction of the stream.
    bool agClosed() const { return m_agClosed.load(); }
    // The error the program sees after breakStream().
    PlatformError breakError() const;
    int finalCount() const;
    QStringList failures() const;

private:
    enum class Action { Send, Close, Break };
    struct Command { Action action; QByteArray bytes; };

    void post(Action action, const QByteArray &bytes = {});
    bool serviceLevelConnection();
    bool exchange(const QByteArray &command, QStringList *infoLines);
    // As exchange(), with ERROR taken as an answer too.
    bool exchangeOptional(const QByteArray &command);
    bool readReplies(QStringList *infoLines, bool *gotFinal, int timeoutMs);
    bool takeUnits(QStringList *infoLines, bool *gotFinal);
    void serveUntilStopped();
    bool handleCommands();
    bool writeAll(const QByteArray &bytes);
    void wake();
    void fail(const QString &what);
    void note(const QString &line);

    os::Handle m_readFd;
    os::Handle m_writeFd;
    os::WakeEvent m_wake;
    HeadsetOptions m_options;
    Logger m_log;

    QByteArray m_inbox;
    bool m_errorIsAnAnswer = false; // the session's own thread only
    bool m_batteryEnabled = false;
    std::atomic<bool> m_setUp{false};
    std::atomic<bool> m_ended{false};
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_broken{false};
    std::atomic<bool> m_closed{false};
    std::atomic<bool> m_agClosed{false};

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Command> m_commands;
    int m_level;
    int m_finals = 0;
    QStringList m_failures;
    PlatformError m_breakError{kOperationAborted, QString()};
};

} // namespace platform::sim
