#include "tests/common/CpuBudget.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void spin(double seconds)
{
    const double until = qor::test::cpuSeconds() + seconds;
    volatile double sink = 0.0;
    while (qor::test::cpuSeconds() < until)
        sink = sink + 1.0;
}

// Runs tests of the given CPU seconds one after another in a child process under
// a budget of one second each, as a test program does; the child's exit status.
int runUnderBudget(std::initializer_list<double> tests)
{
    const pid_t child = fork();
    if (child == 0) {
        setenv("QOR_TEST_CPU_LIMIT", "1", 1);
        qor::test::budgetedProcess() = getpid();
        std::signal(SIGXCPU, qor::test::stopOverBudget);
        qor::test::CpuBudget budget;
        const ::testing::TestInfo& info = *::testing::UnitTest::GetInstance()->current_test_info();
        for (double seconds : tests) {
            budget.OnTestStart(info);
            spin(seconds);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}

} // namespace

// The budget holds each test, not the process: tests that each stay within it
// run on however many there are, and the one that does not is stopped by the
// signal the kernel sends.
TEST(CpuBudget, StopsTheTestThatOverrunsItAlone)
{
    const struct {
        const char* what;
        std::initializer_list<double> tests;
        bool stopped;
    } cases[] = {
        {"three tests within it, more than it together", {0.6, 0.6, 0.6}, false},
        // Far beyond it: on a busy machine the kernel may send its signal late.
        {"one test beyond it", {0.2, 8.0}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const int status = runUnderBudget(c.tests);
        if (c.stopped) {
            ASSERT_TRUE(WIFSIGNALED(status));
            EXPECT_EQ(WTERMSIG(status), SIGXCPU);
        } else {
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status), 0);
        }
    }
}
