// A stand-in for the reader program, for the tests of how the caller watches its reader. It
// answers with the data of the file it is given, after what the file's first line asks for:
// "slow <ms> <percent>" uses that much processor time at that share of a core, as a reader
// does that waits for a core on a busy machine; "sleeping <ms>" sleeps, as a hung reader
// does; "stopped" stops itself.

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include <unistd.h>

namespace {

constexpr int answerFd = 3;

long long cpuMicros()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1000000LL + now.tv_nsec / 1000;
}

void sleepMicros(long long micros)
{
    timespec wait{time_t(micros / 1000000), long(micros % 1000000) * 1000};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) { }
}

// Slices of 5 ms of processor time, each followed by the sleep that leaves the share.
void work(long long totalMs, long long percent)
{
    constexpr long long slice = 5000;
    const long long start = cpuMicros();
    volatile unsigned long long spin = 0;
    while (cpuMicros() - start < totalMs * 1000) {
        const long long sliceStart = cpuMicros();
        while (cpuMicros() - sliceStart < slice)
            spin = spin + 1;
        sleepMicros(slice * (100 - percent) / percent);
    }
}

bool writeAll(const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t wrote = ::write(answerFd, data.data() + done, data.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        done += std::size_t(wrote);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    std::ifstream in(argv[argc - 1], std::ios::binary);
    std::string header;
    std::getline(in, header);
    const std::string answer((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
    std::istringstream words(header);
    std::string pace;
    words >> pace;
    if (pace == "slow") {
        long long ms = 0;
        long long percent = 100;
        words >> ms >> percent;
        work(ms, percent > 0 && percent <= 100 ? percent : 100);
    } else if (pace == "sleeping") {
        long long ms = 0;
        words >> ms;
        sleepMicros(ms * 1000);
    } else if (pace == "stopped") {
        std::raise(SIGSTOP);
    }
    return writeAll("R" + answer) ? 0 : 1;
}
