#include "features/ThreadGeometry.h"

#include "features/BodyEditing.h"
#include "features/Helix.h"
#include "model/Document.h"

#include <BOPAlgo_Alerts.hxx>
#include <BRepAlgoAPI_BuilderAlgo.hxx>
#include <BRepBuilderAPI_MakePolygon.hxx>
#include <BRepBuilderAPI_MakeWire.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepGProp.hxx>
#include <BRepOffsetAPI_MakePipeShell.hxx>
#include <GProp_GProps.hxx>
#include <Message_ProgressIndicator.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <TopExp_Explorer.hxx>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>
#include <vector>

namespace qor::model {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double tan30 = 0.5773502691896257;

Clock::time_point after(double seconds)
{
    return Clock::now()
           + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// The kernel polls UserBreak between its stages and inside its loops, from
// several threads at once; reading the clock is safe there.
class Deadline : public Message_ProgressIndicator {
public:
    explicit Deadline(double seconds)
        : end_(after(seconds))
    {
    }

    Standard_Boolean UserBreak() override { return Clock::now() > end_; }
    void Show(const Message_ProgressScope&, const Standard_Boolean) override { }

private:
    Clock::time_point end_;
};

double sectionWidth(double base, double apex, double pitch)
{
    return std::min(2.0 * std::abs(apex - base) * tan30, 0.98 * pitch);
}

// Heights of the spine's edges: whole pitches, the remainder in the last; a
// sliver of a turn is added to the turn before it rather than made an edge.
std::vector<double> turnHeights(double pitch, double height)
{
    std::vector<double> heights;
    double start = 0.0;
    while (height - start > 1e-9 * height) {
        double piece = std::min(pitch, height - start);
        if (height - start - piece < 1e-3 * pitch)
            piece = height - start;
        heights.push_back(piece);
        start += piece;
    }
    return heights;
}

// One spine edge per turn: the sweep then makes its faces turn by turn, and
// booleans with them meet short intersection curves. Over many turns on one
// face the kernel gets those curves wrong without telling.
TopoDS_Wire spine(const gp_Ax3& frame, bool leftHand, double radius, double pitch, double height,
                  Clock::time_point end)
{
    BRepBuilderAPI_MakeWire wire;
    double start = 0.0;
    for (const double piece : turnHeights(pitch, height)) {
        if (Clock::now() > end)
            throw grooveFailed();
        const gp_Ax3 turn = frame.Translated(gp_Vec(frame.Direction()) * start);
        wire.Add(helixWire(turn, leftHand, radius, pitch, piece));
        start += piece;
    }
    if (!wire.IsDone())
        throw grooveFailed();
    return wire.Wire();
}

int solidCount(const TopoDS_Shape& shape)
{
    int count = 0;
    for (TopExp_Explorer it(shape, TopAbs_SOLID); it.More(); it.Next())
        ++count;
    return count;
}

} // namespace

FeatureError grooveFailed()
{
    return FeatureError(QStringLiteral("Gewindegang konnte nicht erzeugt werden"));
}

bool buildWithin(BRepAlgoAPI_BuilderAlgo& operation, double budgetSeconds)
{
    Handle(Deadline) deadline = new Deadline(budgetSeconds);
    operation.SetRunParallel(Standard_True);
    operation.Build(deadline->Start());
    return operation.IsDone() && !operation.HasErrors() && !deadline->UserBreak()
           && !operation.HasWarning(STANDARD_TYPE(BOPAlgo_AlertAcquiredSelfIntersection));
}

double grooveVolume(double baseRadius, double apexRadius, double pitch, double height, double r0,
                    double r1)
{
    const double width = sectionWidth(baseRadius, apexRadius, pitch);
    const double lo = std::max(std::min(r0, r1), std::min(baseRadius, apexRadius));
    const double hi = std::min(std::max(r0, r1), std::max(baseRadius, apexRadius));
    if (!(hi > lo) || !(width > 0.0))
        return 0.0;
    // Screwing a section through an angle sweeps angle · ∫ r dA, as turning does;
    // the section's width falls linearly to the apex, so the integrand is a
    // quadratic in r and Simpson's rule is exact.
    const auto moment
        = [&](double r) { return r * width * (apexRadius - r) / (apexRadius - baseRadius); };
    const double integral
        = (hi - lo) / 6.0 * (moment(lo) + 4.0 * moment((lo + hi) / 2.0) + moment(hi));
    return 2.0 * std::numbers::pi * height / pitch * integral;
}

TopoDS_Shape sweepThreadSection(const gp_Ax3& frame, bool leftHand, double baseRadius,
                                double apexRadius, double pitch, double height,
                                double budgetSeconds)
{
    const double width = sectionWidth(baseRadius, apexRadius, pitch);
    if (!(baseRadius > 0.0 && apexRadius > 0.0 && pitch > 0.0 && height > 0.0 && width > 0.0))
        throw grooveFailed();
    const Clock::time_point end = after(budgetSeconds);
    try {
        OCC_CATCH_SIGNALS
        const gp_Pnt o = frame.Location();
        const gp_Vec x(frame.XDirection());
        const gp_Vec z(frame.Direction());
        BRepBuilderAPI_MakePolygon section(o.Translated(x * baseRadius - z * (width / 2.0)),
                                           o.Translated(x * baseRadius + z * (width / 2.0)),
                                           o.Translated(x * apexRadius), Standard_True);
        BRepOffsetAPI_MakePipeShell pipe(spine(frame, leftHand, baseRadius, pitch, height, end));
        pipe.SetMode(frame.Direction()); // the section keeps its angle to the axis
        pipe.Add(section.Wire(), Standard_False, Standard_False);
        pipe.Build();
        if (!pipe.IsDone() || !pipe.MakeSolid() || Clock::now() > end)
            throw grooveFailed();
        const TopoDS_Shape groove = outwardOriented(pipe.Shape());
        const double expected
            = grooveVolume(baseRadius, apexRadius, pitch, height, baseRadius, apexRadius);
        if (solidCount(groove) != 1 || !BRepCheck_Analyzer(groove).IsValid()
            || std::abs(signedVolume(groove) - expected) > 1e-3 * expected)
            throw grooveFailed();
        return groove;
    } catch (const Standard_Failure&) {
        throw grooveFailed();
    }
}

} // namespace qor::model
