#pragma once

// The process's peak resident memory so far (VmHWM), in KiB; -1 when it cannot be read.
// Linux lets a process reset it by writing "5" to /proc/self/clear_refs. Header only,
// for the benchmarks and the tests that bound a decode's memory.
#include <QByteArray>
#include <QFile>
#include <QString>

inline qint64 peakMemoryKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}
