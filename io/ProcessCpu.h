#pragma once

// The processor time of another process, as the system counts it, and a watch that tells a
// process still at work, however slowly it gets a core on a busy machine, from one that
// gains no processor time at all: hung on something that never comes, or stopped.

#include <QtGlobal>

#include <sys/types.h>

namespace qor::io {

// User and system time of the process pid so far, in microseconds (counted in the
// system's clock ticks); -1 when it cannot be read.
qint64 processCpuMicros(pid_t pid);

class CpuProgressWatch {
public:
    // stallMs: how long a process may gain no processor time before it counts as stalled.
    explicit CpuProgressWatch(qint64 stallMs)
        : stallMs_(stallMs)
    {
    }

    // Samples the processor time of pid at nowMs of a steady clock; true once it has not
    // grown for longer than stallMs. A process that cannot be read gains nothing.
    bool stalled(pid_t pid, qint64 nowMs);

private:
    qint64 stallMs_;
    qint64 cpuMicros_ = -1;
    qint64 gainedMs_ = -1; // when the processor time last grew, or the first sample
};

} // namespace qor::io
