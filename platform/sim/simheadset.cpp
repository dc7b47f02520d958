#include "simheadset.h"


namespace platform::sim {

SimHeadset::SimHeadset(HeadsetOptions options) : m_options(options) {}

SimHeadset::~SimHeadset()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    endSession();
}

void SimHeadset::refuse(qint32 code, const QString &message)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_refusal.emplace(code, message);
}

SimHeadset::Accepted SimHeadset::accept()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_refusal)
        throw *m_refusal;
    endSession();
    os::Handle fds[2];
    if (!os::makeSocketPair(fds))
        throw PlatformError(qint32(0x80004005u), QStringLiteral("socketpair failed"));
    m_fd = fds[1];
    m_session = std::make_shared<HeadsetSession>(m_fd, m_fd, m_options);
    ++m_connections;
    auto session = m_session;
    m_thread = std::thread([session] { session->run(); });
    return {fds[0], m_session};
}

void SimHeadset::endSession()
{
    if (m_session)
        m_session->stop();
    if (m_thread.joinable())
        m_thread.join();
    os::closeHandle(m_fd);
    m_fd = os::kNoHandle;
}

void SimHeadset::setLevel(int level)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_options.level = level;
    if (m_session)
        m_session->setLevel(level);
}

void SimHeadset::send(const QByteArray &bytes)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_session)
        m_session->send(bytes);
}

void SimHeadset::closeCleanly()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_session)
        m_session->closeCleanly();
}

void SimHeadset::breakStream(qint32 code)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_session && code == kOperationAborted)
        m_session->breakStream();
    else if (m_session)
        m_session->breakStream(code, QStringLiteral("Simulated failure %1").arg(code));
}

int SimHeadset::level() const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_options.level;
}

int SimHeadset::connections() const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_connections;
}

std::shared_ptr<HeadsetSession> SimHeadset::session() const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_session;
}

} // namespace platform::sim
