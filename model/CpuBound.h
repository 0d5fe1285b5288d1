#pragma once

#include <functional>

namespace qor::model {

// Whether `work` ends within `cpuSeconds` of CPU time: it runs in a child
// process of its own, on the child's copy of memory, so that a kernel routine
// without a way to stop it can be given a bound without freezing the caller.
// False when the child is stopped by the bound, dies of a signal, or cannot
// be started; a child that waits far longer than its bound without using it
// (on a lock held when it was made) is stopped too. What `work` changes stays
// in the child.
bool endsWithinCpu(const std::function<void()>& work, int cpuSeconds);

} // namespace qor::model
