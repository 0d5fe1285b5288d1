#include "io/ReaderThread.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

#include <malloc.h>
#include <pthread.h>

namespace qor::io {

namespace {

constexpr std::chrono::milliseconds waitTick{40};

std::atomic<bool> dataDiesWithProcess = false;

// Shared by the caller and the reader thread: a caller that leaves the work drops its
// share, and the thread frees the job when it ends.
struct ReaderJob {
    std::function<void()> work;
    std::exception_ptr failure;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
};

// Work that callers left and that still runs. The window waits for it before it goes, and a
// new open before it starts; the process waits for what is left at its very end.
class LeftWork {
public:
    static LeftWork& instance()
    {
        // Made at the first work left, after the kernel's own statics, and so taken down
        // before them.
        static LeftWork left;
        return left;
    }

    void add(pthread_t thread, std::shared_ptr<ReaderJob> job)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        left_.push_back({thread, std::move(job)});
    }

    bool finish(const std::function<bool()>& whileWaiting)
    {
        for (;;) {
            Left next;
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                if (left_.empty())
                    return true;
                next = left_.front();
            }
            if (!waitFor(*next.job, whileWaiting))
                return false;
            pthread_join(next.thread, nullptr);
            const std::lock_guard<std::mutex> lock(mutex_);
            std::erase_if(left_, [&next](const Left& l) { return l.job == next.job; });
        }
    }

    std::size_t running()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return std::size_t(std::count_if(left_.begin(), left_.end(), [](const Left& left) {
            const std::lock_guard<std::mutex> jobLock(left.job->mutex);
            return !left.job->done;
        }));
    }

    ~LeftWork()
    {
        for (const Left& left : left_)
            pthread_join(left.thread, nullptr);
    }

private:
    struct Left {
        pthread_t thread{};
        std::shared_ptr<ReaderJob> job;
    };

    static bool waitFor(ReaderJob& job, const std::function<bool()>& whileWaiting)
    {
        std::unique_lock<std::mutex> lock(job.mutex);
        while (!job.finished.wait_for(lock, waitTick, [&job] { return job.done; })) {
            lock.unlock();
            if (whileWaiting && !whileWaiting())
                return false;
            lock.lock();
        }
        return true;
    }

    std::mutex mutex_;
    std::vector<Left> left_;
};

void* runJob(void* argument)
{
    const std::unique_ptr<std::shared_ptr<ReaderJob>> share(
        static_cast<std::shared_ptr<ReaderJob>*>(argument));
    ReaderJob& job = **share;
    try {
        job.work();
    } catch (...) {
        job.failure = std::current_exception();
    }
    // What the work shares with a caller that left it goes now, on this thread.
    job.work = nullptr;
    {
        const std::lock_guard<std::mutex> lock(job.mutex);
        job.done = true;
    }
    job.finished.notify_all();
    return nullptr;
}

bool startThread(pthread_t& thread, const std::shared_ptr<ReaderJob>& job)
{
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0)
        return false;
    auto* share = new std::shared_ptr<ReaderJob>(job);
    const bool started = pthread_attr_setstacksize(&attributes, readerStackBytes) == 0
                         && pthread_create(&thread, &attributes, runJob, share) == 0;
    pthread_attr_destroy(&attributes);
    if (!started)
        delete share;
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

bool runOnReaderThreadUnlessLeft(std::function<void()> work,
                                 const std::function<void()>& whileWaiting,
                                 const std::function<bool()>& leave)
{
    const auto job = std::make_shared<ReaderJob>();
    job->work = std::move(work);
    pthread_t thread{};
    if (!startThread(thread, job)) {
        job->work();
        return true;
    }
    if (whileWaiting || leave) {
        std::unique_lock<std::mutex> lock(job->mutex);
        while (!job->finished.wait_for(lock, waitTick, [&job] { return job->done; })) {
            lock.unlock();
            if (whileWaiting)
                whileWaiting();
            if (leave && leave()) {
                LeftWork::instance().add(thread, job);
                return false;
            }
            lock.lock();
        }
    }
    pthread_join(thread, nullptr);
    // The reader thread allocated from a heap arena of its own, which keeps what the reader
    // freed; without handing that back, what the caller builds next (meshes for an export,
    // the view) would come on top of the reader's peak instead of reusing its memory.
    if (!dataDiesWithProcess)
        malloc_trim(0);
    if (job->failure)
        std::rethrow_exception(job->failure);
    return true;
}

bool finishLeftWork(const std::function<bool()>& whileWaiting)
{
    return LeftWork::instance().finish(whileWaiting);
}

std::size_t leftWorkRunning()
{
    return LeftWork::instance().running();
}

void runOnReaderThread(const std::function<void()>& work, const std::function<void()>& whileWaiting)
{
    runOnReaderThreadUnlessLeft(work, whileWaiting, {});
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
