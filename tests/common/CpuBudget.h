#pragma once

#include "tests/common/CpuTime.h"

#include <QByteArray>
#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <gtest/gtest.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace qor::test {

// Every test may spend at most this much CPU time (all threads), however busy the
// machine is: a test bounds work, never wall time. QOR_TEST_CPU_LIMIT moves it
// (0 lifts it, for a debugger or valgrind).
inline int cpuBudgetSeconds()
{
    bool given = false;
    const int limit = qEnvironmentVariableIntValue("QOR_TEST_CPU_LIMIT", &given);
    return given ? limit : 60;
}

inline pid_t& budgetedProcess()
{
    static pid_t pid = 0;
    return pid;
}

// The process's CPU time when the running test started.
inline double& testStartSeconds()
{
    static double start = 0.0;
    return start;
}

// Sends SIGXCPU, and again every second after, once the process's CPU time reaches
// `at` seconds. On a machine busy with other work the kernel was seen to let a process
// run far past its RLIMIT_CPU soft limit without a signal (20 s past a 2 s limit beside
// 24 busy loops), while a timer on the process's CPU clock still fired. Timers are not
// inherited across fork: each process makes its own.
inline void armCpuTimer(rlim_t at)
{
    static pid_t owner = 0;
    static timer_t timer{};
    if (owner != getpid()) {
        sigevent event{};
        event.sigev_notify = SIGEV_SIGNAL;
        event.sigev_signo = SIGXCPU;
        if (timer_create(CLOCK_PROCESS_CPUTIME_ID, &event, &timer) != 0)
            return;
        owner = getpid();
    }
    itimerspec when{};
    when.it_value.tv_sec = time_t(at);
    when.it_interval.tv_sec = 1;
    timer_settime(timer, TIMER_ABSTIME, &when, nullptr);
}

// Moves the running test's soft limit to `seconds` past its start.
inline void limitTestTo(int seconds)
{
    rlimit limit{};
    getrlimit(RLIMIT_CPU, &limit);
    limit.rlim_cur
        = std::min(rlim_t(std::ceil(testStartSeconds())) + rlim_t(seconds), limit.rlim_max);
    setrlimit(RLIMIT_CPU, &limit);
    armCpuTimer(limit.rlim_cur);
}

// Lets the running test spend `seconds` for every minute of the budget: a random
// history's work grows with its features, and seeds it has never seen draw costly
// ones (a 96-feature history of grouped booleans took 100 s where most take 20).
inline void allowCpuSeconds(int seconds)
{
    const int budget = cpuBudgetSeconds();
    if (budget > 0)
        limitTestTo(std::max(budget, seconds * budget / 60));
}

// Says why the test ended, then ends it as the signal would have. Children the
// program forks inherit the handler; a child that runs into a limit it set itself
// ends silently, exactly as without the handler, since its parent reads the
// signal from the exit status.
inline void stopOverBudget(int signal)
{
    if (getpid() == budgetedProcess()) {
        static const char text[]
            = "\nTest abgebrochen: mehr Rechenzeit als erlaubt (QOR_TEST_CPU_LIMIT)\n";
        (void)!write(STDERR_FILENO, text, sizeof text - 1);
    }
    std::signal(signal, SIG_DFL);
    raise(signal);
}

// The kernel's limit counts the whole process's time, so each test's start moves
// it to what the process has spent so far plus the budget: a run of many tests in
// one process (by hand, say) holds each to the budget, not all of them together.
// With QOR_TEST_CPU_LOG set, each test also appends the CPU seconds it and the
// programs it started spent, so one suite run yields the table to split by.
class CpuBudget : public ::testing::EmptyTestEventListener {
public:
    void OnTestStart(const ::testing::TestInfo&) override
    {
        self_ = cpuSeconds(RUSAGE_SELF);
        children_ = cpuSeconds(RUSAGE_CHILDREN);
        testStartSeconds() = self_;
        const int budget = cpuBudgetSeconds();
        if (budget <= 0)
            return;
        // Only the soft limit moves: raising a hard limit once lowered takes a
        // privilege a test need not have, and the handler ends the process anyway.
        limitTestTo(budget);
    }

    void OnTestEnd(const ::testing::TestInfo& test) override
    {
        const QByteArray path = qgetenv("QOR_TEST_CPU_LOG");
        if (path.isEmpty())
            return;
        if (FILE* log = std::fopen(path.constData(), "a")) {
            std::fprintf(log, "%.1f\t%.1f\t%s.%s\n", cpuSeconds(RUSAGE_SELF) - self_,
                         cpuSeconds(RUSAGE_CHILDREN) - children_, test.test_suite_name(),
                         test.name());
            std::fclose(log);
        }
    }

private:
    double self_ = 0.0;
    double children_ = 0.0;
};

// Call after InitGoogleTest.
inline void budgetEachTest()
{
    budgetedProcess() = getpid();
    std::signal(SIGXCPU, stopOverBudget);
    ::testing::UnitTest::GetInstance()->listeners().Append(new CpuBudget);
}

} // namespace qor::test
