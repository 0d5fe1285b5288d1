#include "io/ReaderThread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>

#include <malloc.h>
#include <pthread.h>

namespace qor::io {

namespace {

constexpr std::chrono::milliseconds waitTick{40};

std::atomic<bool> dataDiesWithProcess = false;

struct ReaderJob {
    const std::function<void()>* work = nullptr;
    std::exception_ptr failure;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
};

void* runJob(void* argument)
{
    auto* job = static_cast<ReaderJob*>(argument);
    try {
        (*job->work)();
    } catch (...) {
        job->failure = std::current_exception();
    }
    {
        const std::lock_guard<std::mutex> lock(job->mutex);
        job->done = true;
    }
    job->finished.notify_all();
    return nullptr;
}

bool startThread(pthread_t& thread, ReaderJob& job)
{
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0)
        return false;
    const bool started = pthread_attr_setstacksize(&attributes, readerStackBytes) == 0
                         && pthread_create(&thread, &attributes, runJob, &job) == 0;
    pthread_attr_destroy(&attributes);
    return started;
}

qint64 clockMs(clockid_t clock)
{
    timespec now{};
    if (clock_gettime(clock, &now) != 0)
        return 0;
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

} // namespace

void runOnReaderThread(const std::function<void()>& work, const std::function<void()>& whileWaiting)
{
    ReaderJob job;
    job.work = &work;
    pthread_t thread{};
    if (!startThread(thread, job)) {
        work();
        return;
    }
    if (whileWaiting) {
        std::unique_lock<std::mutex> lock(job.mutex);
        while (!job.finished.wait_for(lock, waitTick, [&job] { return job.done; })) {
            lock.unlock();
            whileWaiting();
            lock.lock();
        }
    }
    pthread_join(thread, nullptr);
    // The reader thread allocated from a heap arena of its own, which keeps what the reader
    // freed; without handing that back, what the caller builds next (meshes for an export,
    // the view) would come on top of the reader's peak instead of reusing its memory.
    if (!dataDiesWithProcess)
        malloc_trim(0);
    if (job.failure)
        std::rethrow_exception(job.failure);
}

void leaveReadDataToProcessEnd()
{
    dataDiesWithProcess = true;
}

bool readDataDiesWithProcess()
{
    return dataDiesWithProcess;
}

qint64 coarseWallTick()
{
    return clockMs(CLOCK_MONOTONIC_COARSE);
}

ThreadCpuClock::ThreadCpuClock()
{
    if (pthread_getcpuclockid(pthread_self(), &clock_) != 0)
        clock_ = CLOCK_THREAD_CPUTIME_ID;
    startMs_ = clockMs(clock_);
}

qint64 ThreadCpuClock::elapsedMs() const
{
    return clockMs(clock_) - startMs_;
}

} // namespace qor::io
