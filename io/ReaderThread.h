#pragma once

#include <QtGlobal>

#include <ctime>
#include <functional>

namespace qor::io {

// The stack of a reader thread. The kernel's STEP, glTF and shape readers recurse once
// per nesting level of the file and free what they built the same way; on the 8 MB of
// the main thread a hostile file ends the process. Files within the nesting limits need
// less than a quarter of this; a file that recurses without end (which no scan finds)
// exhausts it and ends the reader process, the sooner the smaller it is. Only the pages a
// read touches are committed, so a sound file costs no more memory than on the main thread.
constexpr std::size_t readerStackBytes = std::size_t(1) << 28;

// Runs work on a thread with a stack of readerStackBytes and returns once it is done.
// While it runs, whileWaiting (when set) is called on the caller's thread every few
// tens of milliseconds, so that a window can repaint, show progress and offer to cancel.
// An exception thrown by work is thrown again here. When no thread can be started, work
// runs on the caller's thread.
void runOnReaderThread(const std::function<void()>& work,
                       const std::function<void()>& whileWaiting = {});

// Runs work as runOnReaderThread does, but returns false as soon as leave (asked on the
// caller's thread after each whileWaiting) answers true: the kernel checks for a break only
// between some of its steps, and a boolean's last steps may run for seconds after its last
// check, while the user who cancelled waits. The work then runs to its end on its own; it
// must own (or share) everything it touches, and what it throws is dropped. Work left this
// way is waited for when the process ends, so that none runs while the kernel's own data
// is torn down. True when the work ran to its end here; an exception it threw is thrown
// again.
bool runOnReaderThreadUnlessLeft(std::function<void()> work,
                                 const std::function<void()>& whileWaiting,
                                 const std::function<bool()>& leave);

// Waits until every work left by runOnReaderThreadUnlessLeft has ended, calling whileWaiting
// (when set) every few tens of milliseconds; false as soon as whileWaiting answers false,
// with the work still running. What must go before the process ends (a window, the data a
// left work's caller shares with it) waits here first.
bool finishLeftWork(const std::function<bool()>& whileWaiting = {});
// How many works left by runOnReaderThreadUnlessLeft still run.
std::size_t leftWorkRunning();

// In a process that ends right after its one read (the reader process), what the kernel
// built for the read is left to the end of the process instead of being freed.
void leaveReadDataToProcessEnd();
bool readDataDiesWithProcess();

// A wall clock in milliseconds that moves only once per scheduler tick (a few ms), for
// code asked very often whether time has passed: reading it costs next to nothing.
qint64 coarseWallTick();

// The processor time of the thread that made the clock, readable from any thread. A time
// budget counted this way ends a reader that is stuck, never one that waits for a busy
// machine.
class ThreadCpuClock {
public:
    ThreadCpuClock();
    qint64 elapsedMs() const;

private:
    clockid_t clock_;
    qint64 startMs_ = 0;
};

} // namespace qor::io
