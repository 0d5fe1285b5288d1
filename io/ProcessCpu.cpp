#include "io/ProcessCpu.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace qor::io {

qint64 processCpuMicros(pid_t pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
    FILE* file = std::fopen(path, "r");
    if (!file)
        return -1;
    char text[1024];
    const std::size_t size = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    text[size] = '\0';
    // The name in parentheses may hold spaces: the fields count from its end, where
    // utime and stime are the 12th and 13th.
    const char* rest = std::strrchr(text, ')');
    long long user = 0;
    long long system = 0;
    const long ticks = ::sysconf(_SC_CLK_TCK);
    if (!rest || ticks <= 0
        || std::sscanf(rest + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lld %lld", &user,
                       &system)
               != 2)
        return -1;
    return qint64(user + system) * 1000000 / ticks;
}

bool CpuProgressWatch::stalled(pid_t pid, qint64 nowMs)
{
    const qint64 micros = pid > 0 ? processCpuMicros(pid) : -1;
    if (gainedMs_ < 0 || micros > cpuMicros_) {
        gainedMs_ = nowMs;
        cpuMicros_ = std::max(cpuMicros_, micros);
    }
    return nowMs - gainedMs_ > stallMs_;
}

} // namespace qor::io
