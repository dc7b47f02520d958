#pragma once

#include "headsetsession.h"
#include "../platformerror.h"

#include <mutex>
#include <memory>
#include <optional>
#include <thread>

namespace platform::sim {

// A simulated headset behind a device's hands-free service. Each accepted
// connection gets a socket pair: the program's end is returned to the stream
// socket, the headset's end is served by a HeadsetSession on a thread of its
// own. The controls act on the current connection.
class SimHeadset
{
public:
    explicit SimHeadset(HeadsetOptions options = {});
    ~SimHeadset();

    SimHeadset(const SimHeadset &) = delete;
    SimHeadset &operator=(const SimHeadset &) = delete;

    // Connection refusal: every connect fails with this code and text.
    void refuse(qint32 code, const QString &message);

    struct Accepted
    {
        os::Handle fd; // the program's end of the socket pair
        std::shared_ptr<HeadsetSession> session;
    };
    // Called by the simulated world for a connect.
    Accepted accept();

    void setLevel(int level);
    void send(const QByteArray &bytes);
    void closeCleanly();
    void breakStream(qint32 code = kOperationAborted);

    int level() const;
    int connections() const;
    // The current connection, or null before the first one.
    std::shared_ptr<HeadsetSession> session() const;

private:
    void endSession();

    mutable std::mutex m_mutex;
    HeadsetOptions m_options;
    std::optional<PlatformError> m_refusal;
    std::shared_ptr<HeadsetSession> m_session;
    std::thread m_thread;
    os::Handle m_fd = os::kNoHandle;
    int m_connections = 0;
};

} // namespace platform::sim
