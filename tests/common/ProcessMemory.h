#pragma once

// This process's memory as its status file gives it, for tests that bound what an
// operation may take.

#include <QByteArray>
#include <QFile>

#include <cstring>

namespace qor::test {

// A field of the status file in kilobytes: "VmRSS:" now, "VmHWM:" the peak since
// resetMemoryPeak. -1 when it cannot be read.
inline long statusKilobytes(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qsizetype(std::strlen(field))).trimmed().split(' ').front().toLong();
    }
    return -1;
}

// Starts the peak resident size afresh at the present one.
inline bool resetMemoryPeak()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}

} // namespace qor::test
