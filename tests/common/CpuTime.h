#pragma once

// CPU time of this process, user and system, for tests that bound the work an
// operation takes whatever else loads the machine.

#include <sys/resource.h>

namespace qor::test {

inline double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds
        = [](const timeval& t) { return double(t.tv_sec) + 1e-6 * double(t.tv_usec); };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

} // namespace qor::test
