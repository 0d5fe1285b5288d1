#include "model/TurnedMerge.h"

#include <BRepAdaptor_Surface.hxx>
#include <BRepTools.hxx>
#include <BRep_Tool.hxx>
#include <Geom2d_Curve.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Wire.hxx>
#include <gp_Ax3.hxx>

#include <algorithm>
#include <limits>
#include <vector>

namespace qor::model {
namespace {

// A turn's parameter length is 2π; a group of pieces that closes round the
// axis spans it to rounding, far below this.
constexpr double turnTolerance = 1e-6;

struct Join {
    TopoDS_Shape edge;
    int a = 0;
    int b = 0;
};

// The frame that the face's angle is measured in.
gp_Ax3 turnedFrame(const TopoDS_Face& face)
{
    const BRepAdaptor_Surface surface(face, false);
    return surface.GetType() == GeomAbs_Cylinder ? surface.Cylinder().Position()
                                                 : surface.Cone().Position();
}

// +1 where the face's angle runs the way the reference frame's does, −1 where
// it runs the other way round the axis.
double senseAgainst(const gp_Ax3& frame, const gp_Ax3& reference)
{
    const bool sameAxis = frame.Direction().Dot(reference.Direction()) > 0.0;
    return sameAxis == (frame.Direct() == reference.Direct()) ? 1.0 : -1.0;
}

// The face's angle at the middle of the edge, on the edge's curve in the face
// as the face uses it (an edge on the line where two pieces of one surface
// meet has a curve at 0 in one and at 2π in the other).
double angleAlong(const TopoDS_Shape& edge, const TopoDS_Face& face)
{
    for (TopExp_Explorer used(face, TopAbs_EDGE); used.More(); used.Next()) {
        if (!used.Current().IsSame(edge))
            continue;
        double first = 0.0;
        double last = 0.0;
        const Handle(Geom2d_Curve) curve
            = BRep_Tool::CurveOnSurface(TopoDS::Edge(used.Current()), face, first, last);
        if (!curve.IsNull())
            return curve->Value(0.5 * (first + last)).X();
    }
    return 0.0;
}

// Whether an edge of the face's outer wire is a seam of the face itself: the
// kernel then keeps the merged face's angles as they are and never walks.
bool closesOnItsOwnSeam(const TopoDS_Face& face)
{
    for (TopExp_Explorer edge(BRepTools::OuterWire(face), TopAbs_EDGE); edge.More(); edge.Next()) {
        if (BRepTools::IsReallyClosed(TopoDS::Edge(edge.Current()), face))
            return true;
    }
    return false;
}

// The faces of one group and the joins between them.
struct Layout {
    std::vector<int> faces;
    std::vector<int> joins;
};

// The group reached from `start` across the joins, each face given the sense
// and offset that lay its angles out beside those of the face it was reached
// from.
Layout layOut(int start, const std::vector<std::vector<int>>& joinsOfFace,
              const std::vector<Join>& joins, const TopTools_IndexedMapOfShape& faces,
              std::vector<bool>& reached, std::vector<double>& offset, std::vector<double>& sense)
{
    Layout layout;
    const gp_Ax3 reference = turnedFrame(TopoDS::Face(faces(start + 1)));
    reached[start] = true;
    offset[start] = 0.0;
    sense[start] = 1.0;
    layout.faces.push_back(start);
    for (std::size_t next = 0; next < layout.faces.size(); ++next) {
        const int from = layout.faces[next];
        for (const int j : joinsOfFace[from]) {
            const Join& join = joins[j];
            const int to = join.a == from ? join.b : join.a;
            if (reached[to])
                continue;
            const TopoDS_Face& there = TopoDS::Face(faces(to + 1));
            sense[to] = senseAgainst(turnedFrame(there), reference);
            const double at
                = sense[from] * angleAlong(join.edge, TopoDS::Face(faces(from + 1))) + offset[from];
            offset[to] = at - sense[to] * angleAlong(join.edge, there);
            reached[to] = true;
            layout.faces.push_back(to);
        }
    }
    // Every join of a face of the group, a tree's and the others.
    for (const int face : layout.faces) {
        for (const int j : joinsOfFace[face]) {
            if (std::find(layout.joins.begin(), layout.joins.end(), j) == layout.joins.end())
                layout.joins.push_back(j);
        }
    }
    return layout;
}

// How far round the axis the group's faces reach, laid out; zero when a face
// closes on its own seam.
double spanOf(const Layout& layout, const TopTools_IndexedMapOfShape& faces,
              const std::vector<double>& offset, const std::vector<double>& sense)
{
    double low = std::numeric_limits<double>::max();
    double high = std::numeric_limits<double>::lowest();
    for (const int i : layout.faces) {
        const TopoDS_Face& face = TopoDS::Face(faces(i + 1));
        if (closesOnItsOwnSeam(face))
            return 0.0;
        double umin = 0.0, umax = 0.0, vmin = 0.0, vmax = 0.0;
        BRepTools::UVBounds(face, umin, umax, vmin, vmax);
        const double a = sense[i] * umin + offset[i];
        const double b = sense[i] * umax + offset[i];
        low = std::min({low, a, b});
        high = std::max({high, a, b});
    }
    return high - low;
}

} // namespace

TopTools_MapOfShape joinsBeyondOneTurn(const TopoDS_Shape& shape, const TopTools_MapOfShape& joins)
{
    TopTools_MapOfShape beyond;
    if (joins.IsEmpty())
        return beyond;
    TopTools_IndexedDataMapOfShapeListOfShape facesOfEdge;
    TopExp::MapShapesAndUniqueAncestors(shape, TopAbs_EDGE, TopAbs_FACE, facesOfEdge);
    TopTools_IndexedMapOfShape faces;
    std::vector<Join> list;
    for (TopTools_MapOfShape::Iterator edge(joins); edge.More(); edge.Next()) {
        const TopTools_ListOfShape& two = facesOfEdge.FindFromKey(edge.Value());
        list.push_back({edge.Value(), faces.Add(two.First()) - 1, faces.Add(two.Last()) - 1});
    }
    std::vector<std::vector<int>> joinsOfFace(std::size_t(faces.Extent()));
    for (std::size_t j = 0; j < list.size(); ++j) {
        joinsOfFace[std::size_t(list[j].a)].push_back(int(j));
        joinsOfFace[std::size_t(list[j].b)].push_back(int(j));
    }
    std::vector<bool> reached(joinsOfFace.size(), false);
    std::vector<double> offset(joinsOfFace.size(), 0.0);
    std::vector<double> sense(joinsOfFace.size(), 1.0);
    for (int start = 0; start < faces.Extent(); ++start) {
        if (reached[std::size_t(start)])
            continue;
        const Layout layout = layOut(start, joinsOfFace, list, faces, reached, offset, sense);
        const double turn = BRepAdaptor_Surface(TopoDS::Face(faces(start + 1)), false).UPeriod();
        if (spanOf(layout, faces, offset, sense) <= turn + turnTolerance)
            continue;
        for (const int j : layout.joins)
            beyond.Add(list[std::size_t(j)].edge);
    }
    return beyond;
}

} // namespace qor::model
