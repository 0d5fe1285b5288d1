#include "model/CpuBound.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qor::model {
namespace {

// How long the caller waits for the child in wall time, per second of CPU
// allowed: the machine may be busy with other work.
constexpr int wallPerCpuSecond = 20;

[[noreturn]] void runBounded(const std::function<void()>& work, int cpuSeconds)
{
    // The soft limit sends SIGXCPU, which ends the process; the hard limit a
    // second later ends it for sure.
    const rlimit limit{rlim_t(cpuSeconds), rlim_t(cpuSeconds + 1)};
    setrlimit(RLIMIT_CPU, &limit);
    try {
        work();
    } catch (...) {
        _exit(1);
    }
    _exit(0);
}

} // namespace

bool endsWithinCpu(const std::function<void()>& work, int cpuSeconds)
{
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0)
        runBounded(work, cpuSeconds);
    const auto deadline
        = std::chrono::steady_clock::now() + std::chrono::seconds(wallPerCpuSecond * cpuSeconds);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child)
            return WIFEXITED(status);
        if (done < 0)
            return false;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

} // namespace qor::model
