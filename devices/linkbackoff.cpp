#include "linkbackoff.h"

qint64 LinkBackoff::delayMs(int failures)
{
    if (failures <= 0)
        return 0;
    qint64 delay = kFirstDelayMs;
    for (int i = 1; i < failures && delay < kLongestDelayMs; ++i)
        delay *= 2;
    return qMin(delay, kLongestDelayMs);
}

bool LinkBackoff::mayStart(const QString &id, const QDateTime &now) const
{
    const auto it = m_entries.constFind(id);
    return it == m_entries.constEnd() || it->failures == 0 || it->lastStart.msecsTo(now) >= delayMs(it->failures);
}

void LinkBackoff::started(const QString &id, const QDateTime &now)
{
    m_entries[id].lastStart = now;
}

void LinkBackoff::ended(const QString &id, const QDateTime &startedAt, bool readALevel)
{
    const auto it = m_entries.find(id);
    if (it == m_entries.end() || it->lastStart != startedAt)
        return; // started afresh since, or forgotten
    if (readALevel)
        m_entries.erase(it);
    else
        ++it->failures;
}

void LinkBackoff::noteConnected(const QString &id, bool connected)
{
    if (!connected) {
        m_connected.remove(id);
    } else if (!m_connected.contains(id)) {
        m_connected.insert(id);
        if (auto it = m_entries.find(id); it != m_entries.end())
            it->failures = 0;
    }
}

void LinkBackoff::forget(const QString &id)
{
    m_entries.remove(id);
    m_connected.remove(id);
}
