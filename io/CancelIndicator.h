#pragma once

#include "io/Import.h"

#include <Message_ProgressIndicator.hxx>

#include <utility>

namespace qor::io {

// Hands a reader's cancellation to the kernel's long steps (healing, sewing), which ask
// for a break between sub-shapes. A step that was broken off leaves a partial shape: the
// caller asks the cancellation again afterwards and ends the read.
class CancelIndicator : public Message_ProgressIndicator {
public:
    explicit CancelIndicator(CancelCheck cancelled)
        : cancelled_(std::move(cancelled))
    {
    }

    Standard_Boolean UserBreak() override { return cancelRequested(cancelled_); }
    void Show(const Message_ProgressScope&, const Standard_Boolean) override { }

private:
    CancelCheck cancelled_;
};

} // namespace qor::io
