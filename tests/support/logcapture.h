#pragma once

#include <mutex>
#include <QStringList>
#include <QtGlobal>

// Captures the Qt message log of a test (from every thread), so tests can
// check the program's log lines. Warnings and worse still reach stderr.
class LogCapture
{
public:
    // One at a time: destroy the previous capture before making the next.
    LogCapture() { Q_ASSERT(!s_instance); s_instance = this; m_previous = qInstallMessageHandler(&LogCapture::handle); }
    ~LogCapture() { qInstallMessageHandler(m_previous); s_instance = nullptr; }

    QStringList lines() const { std::unique_lock<std::mutex> lock(m_mutex); return m_lines; }
    void clear() { std::unique_lock<std::mutex> lock(m_mutex); m_lines.clear(); }
    int count(const QString &fragment) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        int n = 0;
        for (const QString &line : m_lines)
            n += line.contains(fragment) ? 1 : 0;
        return n;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (LogCapture *self = s_instance) {
            std::lock_guard<std::mutex> lock(self->m_mutex);
            self->m_lines << message;
        }
        if (type != QtDebugMsg && type != QtInfoMsg && s_instance && s_instance->m_previous)
            s_instance->m_previous(type, context, message);
    }

    static inline LogCapture *s_instance = nullptr;
    QtMessageHandler m_previous = nullptr;
    mutable std::mutex m_mutex;
    QStringList m_lines;
};
