#include "model/RecomputeStop.h"

#include <BRepAlgoAPI_BooleanOperation.hxx>
#include <Message_ProgressIndicator.hxx>
#include <Message_ProgressScope.hxx>

namespace qor::model {
namespace {

thread_local RecomputeWatch* watched = nullptr;

// Hands the watch's stop to the kernel, which asks it between the steps of a boolean, and
// the kernel's progress to the watch.
class StopIndicator : public Message_ProgressIndicator {
public:
    explicit StopIndicator(RecomputeWatch& watch)
        : watch_(watch)
    {
        watch_.booleanShare = 0.0;
    }
    Standard_Boolean UserBreak() override { return watch_.stop.load(); }
    void Show(const Message_ProgressScope&, const Standard_Boolean) override
    {
        watch_.booleanShare = GetPosition();
    }

private:
    RecomputeWatch& watch_;
};

} // namespace

StoppableRecompute::StoppableRecompute(RecomputeWatch& watch)
    : outer_(watched)
{
    watched = &watch;
}

StoppableRecompute::~StoppableRecompute()
{
    watched = outer_;
}

bool recomputeStopped()
{
    return watched && watched->stop.load();
}

void buildStoppable(BRepAlgoAPI_BooleanOperation& op)
{
    if (!watched) {
        op.Build();
        return;
    }
    const Handle(StopIndicator) indicator = new StopIndicator(*watched);
    op.Build(indicator->Start());
}

} // namespace qor::model
