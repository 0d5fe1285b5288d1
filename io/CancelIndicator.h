#pragma once

#include "io/Import.h"

#include <Message_ProgressIndicator.hxx>

#include <atomic>
#include <utility>

namespace qor::io {

// Hands a reader's or writer's cancellation to the kernel's long steps (healing, sewing,
// transfer), which ask for a break between sub-shapes. A step that was broken off leaves
// a partial result: the caller asks the cancellation again afterwards and ends.
// The kernel's progress goes to the callback (when set) as a percentage.
class CancelIndicator : public Message_ProgressIndicator {
public:
    explicit CancelIndicator(CancelCheck cancelled, ProgressCallback progress = {})
        : cancelled_(std::move(cancelled))
        , progress_(std::move(progress))
    {
    }

    Standard_Boolean UserBreak() override { return cancelRequested(cancelled_); }
    // The kernel calls Show under its lock at each step, the one place where the position
    // may be read while steps run on other threads.
    void Show(const Message_ProgressScope&, const Standard_Boolean) override
    {
        const double position = GetPosition();
        shown_.store(position);
        if (progress_)
            progress_(int(position * 100.0), QString());
    }

    // The position as last shown, 0 to 1: readable from any thread while the steps run.
    double shownPosition() const { return shown_.load(); }

private:
    CancelCheck cancelled_;
    ProgressCallback progress_;
    std::atomic<double> shown_{0.0};
};

} // namespace qor::io
