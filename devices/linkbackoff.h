#pragma once

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>

// When a listened device may get its next hands-free link. A link that ends
// without having read a level counts as failed; after n failures in a row the
// next link waits 3 s * 2^(n-1), at most a minute, from the start of the one
// that failed. A level, the user ticking 监听 again or the device connecting
// again starts afresh. Free of threads: the registry calls it under its mutex.
class LinkBackoff
{
public:
    static constexpr qint64 kFirstDelayMs = 3000;
    static constexpr qint64 kLongestDelayMs = 60000;

    bool mayStart(const QString &id, const QDateTime &now) const;
    void started(const QString &id, const QDateTime &now);
    // A link started at 'startedAt' has ended; a later link's entry is kept.
    void ended(const QString &id, const QDateTime &startedAt, bool readALevel);
    // Seen in a scan cycle: a device that connects again starts afresh.
    void noteConnected(const QString &id, bool connected);
    void reset(const QString &id) { m_entries.remove(id); }
    void forget(const QString &id);

    // The wait after 'failures' failed links in a row.
    static qint64 delayMs(int failures);

private:
    struct Entry
    {
        int failures = 0;
        QDateTime lastStart;
    };
    QHash<QString, Entry> m_entries;
    QSet<QString> m_connected;
};
