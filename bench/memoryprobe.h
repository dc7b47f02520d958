#pragma once

#include <QFile>

#include <cstdio>

// The process's resident memory in KiB (VmRSS), 0 when unreadable.
inline long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine())
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

inline void printProbe(const char *label, int frames)
{
    std::printf("probe %s %ld %d\n", label, residentKiB(), frames);
    std::fflush(stdout);
}
