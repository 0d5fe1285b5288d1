#include "io/WireCrossings.h"

#include <BRepMesh_GeomTool.hxx>
#include <IMeshData_Edge.hxx>
#include <IMeshData_Face.hxx>
#include <IMeshData_PCurve.hxx>
#include <IMeshData_Wire.hxx>
#include <Message_ProgressScope.hxx>

#include <algorithm>
#include <cmath>
#include <vector>

namespace qor::io {

namespace {

struct Segment {
    gp_XY from;
    gp_XY to;
    gp_XY low; // corners of its box
    gp_XY high;
};

std::vector<Segment> segmentsOf(const IMeshData::IFaceHandle& face)
{
    std::vector<Segment> segments;
    for (int w = 0; w < face->WiresNb(); ++w) {
        const IMeshData::IWireHandle& wire = face->GetWire(w);
        for (int e = 0; e < wire->EdgesNb(); ++e) {
            const IMeshData::IPCurveHandle& curve
                = wire->GetEdge(e)->GetPCurve(face.get(), wire->GetEdgeOrientation(e));
            for (int i = 1; i < curve->ParametersNb(); ++i) {
                const gp_XY from = curve->GetPoint(i - 1).XY();
                const gp_XY to = curve->GetPoint(i).XY();
                segments.push_back({from, to,
                                    gp_XY(std::min(from.X(), to.X()), std::min(from.Y(), to.Y())),
                                    gp_XY(std::max(from.X(), to.X()), std::max(from.Y(), to.Y()))});
            }
        }
    }
    return segments;
}

// Square cells about as many as the segments, each segment entered in every cell its box
// touches. Two segments that cross have boxes that overlap, and the lower corner of the
// overlap lies in a cell that holds both: each pair is tested there only.
class Grid {
public:
    explicit Grid(const std::vector<Segment>& segments)
    {
        low_ = segments.front().low;
        gp_XY high = segments.front().high;
        for (const Segment& s : segments) {
            low_.SetCoord(std::min(low_.X(), s.low.X()), std::min(low_.Y(), s.low.Y()));
            high.SetCoord(std::max(high.X(), s.high.X()), std::max(high.Y(), s.high.Y()));
        }
        const double width = high.X() - low_.X();
        const double height = high.Y() - low_.Y();
        const double side = std::max(width, height);
        cell_ = side > 0.0 ? std::max(std::sqrt(width * height / double(segments.size())),
                                      side / double(maxCells))
                           : 1.0;
        columns_ = column(high.X()) + 1;
        rows_ = row(high.Y()) + 1;
        // Two passes: how many each cell holds, then the segments of each cell in a row.
        start_.assign(std::size_t(columns_) * std::size_t(rows_) + 1, 0);
        forEachCell(segments, [this](std::size_t cell, int) { ++start_[cell + 1]; });
        for (std::size_t i = 1; i < start_.size(); ++i)
            start_[i] += start_[i - 1];
        members_.resize(start_.back());
        std::vector<std::size_t> filled(start_.begin(), start_.end() - 1);
        forEachCell(segments,
                    [this, &filled](std::size_t cell, int s) { members_[filled[cell]++] = s; });
    }

    int rows() const { return rows_; }
    int columns() const { return columns_; }
    int column(double x) const { return int((x - low_.X()) / cell_); }
    int row(double y) const { return int((y - low_.Y()) / cell_); }
    std::size_t index(int column, int row) const
    {
        return std::size_t(row) * std::size_t(columns_) + std::size_t(column);
    }
    const int* begin(std::size_t cell) const { return members_.data() + start_[cell]; }
    const int* end(std::size_t cell) const { return members_.data() + start_[cell + 1]; }

private:
    // A face's outline of few long lines stays a few rows of cells.
    static constexpr int maxCells = 4096;

    template <typename Visit> void forEachCell(const std::vector<Segment>& segments, Visit visit)
    {
        for (std::size_t s = 0; s < segments.size(); ++s) {
            for (int r = row(segments[s].low.Y()); r <= row(segments[s].high.Y()); ++r) {
                for (int c = column(segments[s].low.X()); c <= column(segments[s].high.X()); ++c)
                    visit(index(c, r), int(s));
            }
        }
    }

    gp_XY low_;
    double cell_ = 1.0;
    int columns_ = 1;
    int rows_ = 1;
    std::vector<std::size_t> start_;
    std::vector<int> members_;
};

bool boxesOverlap(const Segment& a, const Segment& b)
{
    return a.low.X() <= b.high.X() && b.low.X() <= a.high.X() && a.low.Y() <= b.high.Y()
           && b.low.Y() <= a.high.Y();
}

bool cross(const Segment& a, const Segment& b)
{
    gp_Pnt2d at;
    return BRepMesh_GeomTool::IntSegSeg(a.from, a.to, b.from, b.to, Standard_False, Standard_False,
                                        at)
           == BRepMesh_GeomTool::Cross;
}

} // namespace

WireCrossing findWireCrossing(const IMeshData::IFaceHandle& face,
                              const Message_ProgressRange& range)
{
    const std::vector<Segment> segments = segmentsOf(face);
    if (segments.size() < 2)
        return WireCrossing::None;
    const Grid grid(segments);
    Message_ProgressScope scope(range, nullptr, grid.rows());
    for (int r = 0; r < grid.rows(); ++r, scope.Next()) {
        if (!scope.More())
            return WireCrossing::Stopped;
        for (int c = 0; c < grid.columns(); ++c) {
            const std::size_t cell = grid.index(c, r);
            for (const int* i = grid.begin(cell); i != grid.end(cell); ++i) {
                const Segment& a = segments[std::size_t(*i)];
                for (const int* j = i + 1; j != grid.end(cell); ++j) {
                    const Segment& b = segments[std::size_t(*j)];
                    if (!boxesOverlap(a, b) || grid.column(std::max(a.low.X(), b.low.X())) != c
                        || grid.row(std::max(a.low.Y(), b.low.Y())) != r)
                        continue;
                    if (cross(a, b))
                        return WireCrossing::Possible;
                }
            }
        }
    }
    return WireCrossing::None;
}

} // namespace qor::io
