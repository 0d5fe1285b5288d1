#pragma once

#include "drawing/DrawingSheet.h"

#include <QPointF>
#include <QString>

#include <TopoDS_Compound.hxx>
#include <TopoDS_Shape.hxx>
#include <gp_Pnt2d.hxx>
#include <gp_Vec2d.hxx>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace qor::model {
class Document;
}

namespace qor::app {

// The role of a primitive: chooses pen, DXF layer and filtering.
enum class LineKind : std::uint32_t {
    Visible = 0,
    Hidden = 1,
    Outline = 2, // visible silhouette of a curved face
    Centre = 3, // centre line or centre mark
    Thread = 4,
    Hatch = 5,
};

// One 2D curve in view-local millimetres. The circle fields are 0 unless circular.
struct ViewPrimitive {
    LineKind kind = LineKind::Visible;
    std::vector<gp_Pnt2d> points; // the polyline that is drawn, at least two
    bool circular = false;
    double cx = 0.0;
    double cy = 0.0;
    double radius = 0.0;
    double startDeg = 0.0; // counter-clockwise from +x; a full circle is 0 .. 360
    double endDeg = 0.0;
};

struct ProjectedCircle {
    double cx = 0.0;
    double cy = 0.0;
    double radius = 0.0;
};

// A leader with the name of a thread, starting at anchor (view-local).
struct ThreadCallout {
    gp_Pnt2d anchor;
    gp_Vec2d direction;
    QString text;
};

// The projection of one view. View-local coordinates: a model point P maps to
// (P·X, P·Y) with X and Y = N × X of the view kind's frame (viewAxes).
struct ProjectedView {
    std::vector<ViewPrimitive> primitives; // in drawing order
    // Box of the projected visible and hidden edges; 0, 0, 0, 0 when there are none.
    double minX = 1e18;
    double minY = 1e18;
    double maxX = -1e18;
    double maxY = -1e18;
    std::vector<gp_Pnt2d> snapPoints; // edge end points and circle centres
    std::vector<ProjectedCircle> circles; // full visible circles, in edge order
    std::vector<ThreadCallout> callouts;
};

// Below this many faces the exact hidden-line removal is used, from it on the
// polygonal one; counting stops at faceCountLimit.
constexpr int exactFaceLimit = 3000;
constexpr int faceCountLimit = 5000;

// Faces of shape, counted up to limit.
int countFaces(const TopoDS_Shape& shape, int limit = faceCountLimit);

// What the exact hidden-line removal does after the kernel's: hide the stretches it left
// visible that a face covers (see CoveredStretches.h), or nothing, which gives the
// kernel's own result to compare with.
enum class ExactCheck { CoveredStretches, None };

// Hidden-line projection of shape along the view kind's direction, exact or
// polygonal, with centre lines and centre marks (none in the isometric view).
// Kernel failures leave a projection without hidden-line primitives.
ProjectedView projectView(const TopoDS_Shape& shape, int viewKind, bool hidden, bool exact,
                          ExactCheck check = ExactCheck::CoveredStretches);

// Appends the edges of a projected compound as primitives of the given kind,
// extending bounds, snap points and circles.
void edgeToPrimitives(const TopoDS_Shape& edges, LineKind kind, ProjectedView& out);

// Sheet millimetres per model millimetre of a view: sheet scale × view
// multiplier. A scale or multiplier of 0 or below (not yet chosen, or damaged)
// counts as 1 so that the mapping never divides by zero.
double viewFactor(const Drawing& sheet, const Drawing::View& view);

// View-local point to sheet millimetres: the centre of the projected bounds
// lands on (view.x, view.y).
QPointF viewToSheet(const Drawing& sheet, const Drawing::View& view, const ProjectedView& pv,
                    double x, double y);
QPointF sheetToView(const Drawing& sheet, const Drawing::View& view, const ProjectedView& pv,
                    double x, double y);

// A point on the ray start + t·dir (sheet millimetres) just outside the view's
// placed bounds.
QPointF labelOutsideView(const Drawing& sheet, const Drawing::View& view, const ProjectedView& pv,
                         QPointF start, QPointF dir);

// The snap point nearest to the sheet point (x, y) within tolerance (sheet mm),
// else, when circleHit is given, the centre of the first circle whose outline
// passes within tolerance. View-local.
std::optional<QPointF> snapPoint(const Drawing& sheet, const Drawing::View& view,
                                 const ProjectedView& pv, double x, double y, double tolerance,
                                 bool* circleHit = nullptr, double* radius = nullptr);

// Projections of one sheet's views, kept per view kind, hidden and section flag
// until the visible bodies of the document change.
class ProjectionCache {
public:
    // The document's visible bodies in ascending body id; drops every cached
    // projection when they differ from the ones the cache was built for.
    TopoDS_Compound modelCompound(const qor::model::Document& document);

    // The cached or freshly computed projection of view; the reference stays
    // valid until the cache is cleared.
    const ProjectedView& projectedView(const qor::model::Document& document, const Drawing& sheet,
                                       const Drawing::View& view);

    // The first view of the sheet whose placed bounds, grown by 4 mm, hold (x, y).
    Drawing::View* viewAt(const qor::model::Document& document, Drawing& sheet, double x, double y);

    void clear();
    std::size_t size() const { return projections_.size(); }
    // Called with true before a view is projected afresh and with false when it is done (a
    // large part takes seconds); the window shows a wait cursor meanwhile. Cached views
    // call nothing.
    std::function<void(bool working)> onProjecting;
    // Hash of the bodies the projections were made for; 0 before the first use.
    std::uint64_t modelHash() const { return modelHash_; }

private:
    // What a projection was made of. The shapes are held so that the kernel
    // cannot hand their addresses to new shapes while the key lives.
    struct BodyKey {
        int id = 0;
        TopoDS_Shape shape;
        std::array<double, 12> placement{};
        int orientation = 0;

        bool operator==(const BodyKey& other) const;
    };

    std::map<int, ProjectedView> projections_;
    std::vector<BodyKey> bodies_;
    std::uint64_t modelHash_ = 0;
};

// Cache key of a view: 2 × kind + hidden, plus 100 for a section view.
int projectionKey(const Drawing::View& view);

} // namespace qor::app
