#pragma once

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

} // namespace qor::test
