#pragma once

#include <atomic>

class BRepAlgoAPI_BooleanOperation;

namespace qor::model {

// What a recompute running on a worker thread shares with the thread that waits for it:
// how far it got and whether it is to stop.
struct RecomputeWatch {
    std::atomic<int> done{0}; // features run so far
    std::atomic<int> total{0}; // features to run
    // How far the boolean now running got, 0 to 1, as the kernel reports it: one feature
    // (a plate cut by a sketch of thousands of holes) may take most of a recompute.
    std::atomic<double> booleanShare{0.0};
    std::atomic<bool> stop{false};
};

// While one lives on a thread, the recomputes on that thread (a document's and those of the
// component files it loads) end at their next feature once the watch's stop is set, and the
// booleans they run break off at the kernel's next check. A stopped recompute leaves its
// document without results; the caller throws it away.
class StoppableRecompute {
public:
    explicit StoppableRecompute(RecomputeWatch& watch);
    ~StoppableRecompute();
    StoppableRecompute(const StoppableRecompute&) = delete;
    StoppableRecompute& operator=(const StoppableRecompute&) = delete;

private:
    RecomputeWatch* outer_;
};

// Whether the recompute on this thread was told to stop.
bool recomputeStopped();

// Builds the boolean, broken off when the recompute on this thread is told to stop (a
// broken-off boolean is not done), and tells the watch how far it got.
void buildStoppable(BRepAlgoAPI_BooleanOperation& op);

} // namespace qor::model
