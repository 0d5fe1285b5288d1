#pragma once

#include "io/Import.h"

#include <Message_ProgressIndicator.hxx>

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
    void Show(const Message_ProgressScope&, const Standard_Boolean) override
    {
        if (progress_)
            progress_(int(GetPosition() * 100.0), QString());
    }

private:
    CancelCheck cancelled_;
    ProgressCallback progress_;
};

} // namespace qor::io
