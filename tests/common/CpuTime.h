#pragma once

#include "io/ReaderProcess.h"

#include <sys/resource.h>

namespace qor::test {

// Processor time (user and system) of this process, or with RUSAGE_CHILDREN of the child
// processes waited for: a bound on work that a busy machine does not break.
inline double cpuSeconds(int who = RUSAGE_SELF)
{
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Processor time of all the work this process has had done: its own, that of the child
// processes waited for, and that of the reader server with the readers it forked, which are
// never waited for. Reads run there, so a bound on a read takes this.
inline double workCpuSeconds()
{
    return cpuSeconds(RUSAGE_SELF) + cpuSeconds(RUSAGE_CHILDREN) + io::readerProcessorSeconds();
}

} // namespace qor::test
