#include "drawing/CoveredStretches.h"

#include "model/BoxIndex.h"
#include "model/FaceRays.h"

#include <HLRBRep_EdgeData.hxx>
#include <Precision.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>

#include <cmath>
#include <memory>
#include <utility>
#include <vector>

namespace qor::app {

namespace {

// A ray from a point of an edge meets the edge's own faces within this.
constexpr double ownFaces = 1e-3;
// The rays beside the first start this far to either side, across the edge in the paper.
constexpr double aside = 0.01;
// Points probed along a visible part whose first look found one covered, and the steps
// that find where a covered stretch begins or ends between two of them.
constexpr int probes = 15;
constexpr int bisections = 30;

// Rays from points of the body towards the viewer.
class Cover {
public:
    Cover(const TopoDS_Shape& shape, const gp_Dir& towardViewer)
        : toward_(towardViewer)
    {
        std::vector<Bnd_Box> boxes;
        for (TopExp_Explorer it(shape, TopAbs_FACE); it.More(); it.Next()) {
            faces_.push_back(std::make_shared<model::FaceRays>(TopoDS::Face(it.Current())));
            boxes.push_back(faces_.back()->box());
        }
        const Bnd_Box box = model::shapeBox(shape);
        length_ = box.IsVoid() ? 0.0 : std::sqrt(box.SquareExtent()) + 1.0;
        index_ = model::BoxIndex(std::move(boxes));
    }

    // Whether the ray from the point and the two beside it, `across` to either side, all
    // pass through a face.
    bool covers(const gp_Pnt& point, const gp_Vec& across) const
    {
        for (const double side : {0.0, aside, -aside}) {
            if (!meetsFace(point.Translated(side * across)))
                return false;
        }
        return true;
    }

private:
    // A face the ray crosses inside it, not at its boundary nor touching it; a face the
    // intersector cannot tell about counts as none.
    bool meetsFace(const gp_Pnt& from) const
    {
        const gp_Lin ray(from, toward_);
        index_.kept([&ray](const Bnd_Box& box) { return box.IsOut(ray); }, found_);
        for (const int i : found_) {
            if (!faces_[std::size_t(i)]->meet(ray, Precision::Confusion(), length_, meetings_))
                continue;
            for (const model::RayMeeting& meeting : meetings_) {
                if (meeting.w > ownFaces && !meeting.onBoundary && !meeting.tangent)
                    return true;
            }
        }
        return false;
    }

    gp_Dir toward_;
    std::vector<std::shared_ptr<model::FaceRays>> faces_;
    model::BoxIndex index_;
    double length_ = 0.0;
    mutable std::vector<int> found_;
    mutable std::vector<model::RayMeeting> meetings_;
};

struct Part {
    double start = 0.0;
    double end = 0.0;
};

// The stretches of one visible part that faces cover: runs of covered probes, reaching
// the part's ends where the first or last probe is covered, and else bounded where the
// cover begins between a seen and a covered probe.
std::vector<Part> coveredStretches(const HLRBRep_Curve& curve, const Part& part, const Cover& cover,
                                   const gp_Dir& towardViewer)
{
    const auto covered = [&](double u) {
        gp_Pnt point;
        gp_Vec tangent;
        curve.D1(u, point, tangent);
        const gp_Vec across = gp_Vec(towardViewer).Crossed(tangent);
        return across.Magnitude() > 1e-12 && cover.covers(point, across.Normalized());
    };
    const auto at = [&](int k) { return part.start + (part.end - part.start) * k / (probes + 1); };
    // Most parts are seen: a first look at three probes.
    if (!covered(at(4)) && !covered(at(8)) && !covered(at(12)))
        return {};
    const auto border = [&](double seen, double hidden) {
        for (int step = 0; step < bisections; ++step) {
            const double middle = 0.5 * (seen + hidden);
            (covered(middle) ? hidden : seen) = middle;
        }
        return 0.5 * (seen + hidden);
    };
    std::vector<Part> stretches;
    bool inside = false;
    for (int k = 1; k <= probes; ++k) {
        const bool now = covered(at(k));
        if (now && !inside)
            stretches.push_back({k == 1 ? part.start : border(at(k - 1), at(k)), part.end});
        if (!now && inside)
            stretches.back().end = border(at(k), at(k - 1));
        inside = now;
    }
    return stretches;
}

} // namespace

int hideCoveredStretches(HLRBRep_Data& data, const TopoDS_Shape& shape, const gp_Dir& towardViewer)
{
    const Cover cover(shape, towardViewer);
    HLRBRep_Array1OfEData& edges = data.EDataArray();
    int hidden = 0;
    for (int i = 1; i <= data.NbEdges(); ++i) {
        HLRBRep_EdgeData& edge = edges(i);
        if (!edge.Selected() || edge.Vertical())
            continue;
        HLRAlgo_EdgeStatus& status = edge.Status();
        std::vector<Part> parts;
        for (int k = 1; k <= status.NbVisiblePart(); ++k) {
            Part part;
            Standard_ShortReal startTolerance, endTolerance;
            status.VisiblePart(k, part.start, startTolerance, part.end, endTolerance);
            parts.push_back(part);
        }
        const Standard_ShortReal tolerance = edge.Tolerance();
        for (const Part& part : parts) {
            for (const Part& stretch :
                 coveredStretches(edge.Geometry(), part, cover, towardViewer)) {
                status.Hide(stretch.start, tolerance, stretch.end, tolerance, false, false);
                ++hidden;
            }
        }
    }
    return hidden;
}

} // namespace qor::app
