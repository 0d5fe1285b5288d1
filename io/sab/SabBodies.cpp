#include "io/sab/SabBodies.h"

#include "io/CancelIndicator.h"
#include "io/NoteKind.h"
#include "io/SaneNumbers.h"

#include <BRepBuilderAPI_Sewing.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepLib.hxx>
#include <BRepOffsetAPI_MakeFilling.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Geom2d_Curve.hxx>
#include <ShapeFix_Edge.hxx>
#include <ShapeFix_Shape.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Shell.hxx>
#include <TopoDS_Solid.hxx>
#include <TopoDS_Wire.hxx>
#include <gp_Trsf.hxx>

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace qor::io {

namespace {

constexpr double faceTolerance = 1e-7;

// Hostile files link records in rings, so every chain remembers what it met.
using Visited = std::unordered_set<const SabRecord*>;

bool isReversed(const SabValue& sense)
{
    return sense.kind == SabValueKind::True;
}

const SabRecord* fieldRecord(const SabBuilder& builder, const SabRecord& record, int field)
{
    SabFieldCursor cursor{&record, field};
    return builder.resolve(cursor.take());
}

// Hostile data can point a chain at a record of another kind, whose fields
// then read as nonsense topology that sends shape healing into endless
// recursion; so every chain keeps to its own kind. Tolerant coedges and edges
// ("tcoedge-coedge") count as their plain kind.
bool isKind(const SabRecord& record, std::string_view kind)
{
    return record.type == kind || record.type.ends_with(std::string("-").append(kind));
}

// Calls visit for first and each record reached through field 3 that is of
// the kind and was not met before.
template <typename Visit>
void walkChain(const SabBuilder& builder, const SabRecord* first, std::string_view kind,
               Visit visit)
{
    Visited visited;
    for (const SabRecord* at = first; at && isKind(*at, kind) && visited.insert(at).second;
         at = fieldRecord(builder, *at, 3))
        visit(*at);
}

// One loop of a face: its wire and its edges in coedge order.
struct Boundary {
    TopoDS_Wire wire;
    std::vector<TopoDS_Edge> edges;
};

Boundary readLoop(SabBuilder& builder, const SabRecord& loop)
{
    BRep_Builder shapes;
    Boundary boundary;
    shapes.MakeWire(boundary.wire);
    walkChain(builder, fieldRecord(builder, loop, 4), "coedge", [&](const SabRecord& coedge) {
        SabFieldCursor cursor{&coedge, 6};
        const SabRecord* edgeRecord = builder.resolve(cursor.take());
        const bool reversed = isReversed(cursor.take());
        if (!edgeRecord || !isKind(*edgeRecord, "edge"))
            return;
        const TopoDS_Edge edge = builder.edgeFor(*edgeRecord);
        shapes.Add(boundary.wire, reversed ? TopoDS::Edge(edge.Reversed()) : edge);
        boundary.edges.push_back(edge);
    });
    return boundary;
}

// Fillets and other spline faces carry surfaces without an exact conversion;
// a surface filled through the longest loop, the outer one, stands in for them.
Handle(Geom_Surface) fillBoundary(SabBuilder& builder, const std::vector<Boundary>& loops)
{
    if (loops.empty())
        throw SabError(QStringLiteral("Spline-Fläche ohne Rand"));
    const Boundary* outer = &loops.front();
    for (const Boundary& loop : loops) {
        if (loop.edges.size() > outer->edges.size())
            outer = &loop;
    }
    BRepOffsetAPI_MakeFilling filling(3, 15, 2, false, 1e-5, 1e-4, 0.01, 0.1, 8, 9);
    for (const TopoDS_Edge& edge : outer->edges)
        filling.Add(edge, GeomAbs_C0, true);
    filling.Build();
    if (!filling.IsDone())
        throw SabError(QStringLiteral("Spline-Fläche nicht aufbaubar"));
    const Handle(Geom_Surface) surface = BRep_Tool::Surface(TopoDS::Face(filling.Shape()));
    ++builder.filledFaces;
    addWarningOnce(builder.warnings, approximationNote(Approximation::filledSplineSurfaces));
    return surface;
}

// Healing mends tolerances and missing curves; sewing is only needed once
// filled or missing faces may have opened the shells. A failing step keeps the
// shape of the last one that finished.
TopoDS_Shape heal(const SabBuilder& builder, TopoDS_Shape shape)
{
    const Handle(CancelIndicator) indicator = new CancelIndicator(builder.cancelled);
    try {
        OCC_CATCH_SIGNALS
        BRepLib::BuildCurves3d(shape);
        Handle(ShapeFix_Shape) fix = new ShapeFix_Shape(shape);
        fix->SetPrecision(1e-7);
        fix->SetMaxTolerance(1e-3);
        fix->Perform(indicator->Start());
        shape = fix->Shape();
        if (builder.filledFaces == 0 && builder.skippedFaces == 0)
            return shape;
        BRepBuilderAPI_Sewing sewing(1e-4, true, true, true, false);
        sewing.Add(shape);
        sewing.Perform(indicator->Start());
        Handle(ShapeFix_Shape) sewnFix = new ShapeFix_Shape(sewing.SewedShape());
        sewnFix->Perform(indicator->Start());
        shape = sewnFix->Shape();
    } catch (const Standard_Failure&) {
    } catch (const std::exception&) {
    }
    return shape;
}

QString failureText(const Standard_Failure& failure)
{
    const char* text = failure.GetMessageString();
    return QString::fromUtf8(text && *text ? text : failure.DynamicType()->Name());
}

// Faces of one shell; a failing face is counted and left out.
void addFaces(SabBuilder& builder, const SabRecord& shellRecord, TopoDS_Shell& shell, bool& any)
{
    BRep_Builder shapes;
    walkChain(builder, fieldRecord(builder, shellRecord, 5), "face", [&](const SabRecord& record) {
        builder.checkCancelled();
        ++builder.totalFaces;
        QString failure;
        try {
            OCC_CATCH_SIGNALS
            shapes.Add(shell, buildSabFace(builder, record));
            any = true;
            return;
        } catch (const SabAbort&) {
            throw;
        } catch (const Standard_Failure& e) {
            failure = failureText(e);
        } catch (const std::exception& e) {
            failure = QString::fromUtf8(e.what());
        }
        ++builder.skippedFaces;
        addWarningOnce(builder.warnings, QStringLiteral("Fläche ausgelassen: %1").arg(failure));
    });
}

// The linear part scaled by s; the translation is taken as stored.
gp_Trsf bodyTransform(const SabRecord& transform)
{
    SabFieldCursor cursor{&transform, 2};
    const SabValue a = cursor.take();
    const SabValue b = cursor.take();
    const SabValue c = cursor.take();
    const SabValue t = cursor.take();
    const double s = cursor.take().number();
    if (!isSaneNumber(s, maxModelMillimetres))
        throw SabAbort(sabInvalidNumberMessage());
    // The matrix columns are scaled, the translation is not.
    for (const SabValue* value : {&a, &b, &c, &t}) {
        for (const double x : value->reals) {
            if (!isSaneNumber(value == &t ? x : x * s, maxModelMillimetres))
                throw SabAbort(sabInvalidNumberMessage());
        }
    }
    gp_Trsf trsf;
    // One row of the matrix per line.
    // clang-format off
    trsf.SetValues(s * a.reals[0], s * b.reals[0], s * c.reals[0], t.reals[0],
                   s * a.reals[1], s * b.reals[1], s * c.reals[1], t.reals[1],
                   s * a.reals[2], s * b.reals[2], s * c.reals[2], t.reals[2]);
    // clang-format on
    return trsf;
}

} // namespace

TopoDS_Face buildSabFace(SabBuilder& builder, const SabRecord& face)
{
    SabFieldCursor cursor{&face, 4};
    const SabRecord* firstLoop = builder.resolve(cursor.take());
    cursor.skip(2);
    const SabRecord* surfaceRecord = builder.resolve(cursor.take());
    const bool reversed = isReversed(cursor.take());
    if (!surfaceRecord)
        throw SabError(QStringLiteral("Fläche ohne Geometrie"));
    const SabSurface surface = builder.surfaceFor(*surfaceRecord);

    std::vector<Boundary> loops;
    walkChain(builder, firstLoop, "loop",
              [&](const SabRecord& loop) { loops.push_back(readLoop(builder, loop)); });
    const Handle(Geom_Surface) geometry
        = surface.surface.IsNull() ? fillBoundary(builder, loops) : surface.surface;

    BRep_Builder shapes;
    TopoDS_Face made;
    shapes.MakeFace(made, geometry, faceTolerance);
    for (const Boundary& loop : loops)
        shapes.Add(made, loop.wire);
    if (reversed != surface.reversed)
        made.Reverse();
    for (TopExp_Explorer it(made, TopAbs_EDGE); it.More(); it.Next()) {
        const TopoDS_Edge& edge = TopoDS::Edge(it.Current());
        double first = 0.0;
        double last = 0.0;
        if (BRep_Tool::CurveOnSurface(edge, made, first, last).IsNull())
            ShapeFix_Edge().FixAddPCurve(edge, made, false, faceTolerance);
    }
    return made;
}

TopoDS_Shape buildSabBody(SabBuilder& builder, const SabRecord& body)
{
    SabFieldCursor cursor{&body, 3};
    const SabRecord* firstLump = builder.resolve(cursor.take());
    cursor.skip();
    const SabRecord* transform = builder.resolve(cursor.take());
    if (!firstLump || firstLump->type != "lump")
        return {};

    BRep_Builder shapes;
    TopoDS_Compound compound;
    shapes.MakeCompound(compound);
    bool anySolid = false;
    walkChain(builder, firstLump, "lump", [&](const SabRecord& lump) {
        TopoDS_Solid solid;
        shapes.MakeSolid(solid);
        bool anyShell = false;
        walkChain(builder, fieldRecord(builder, lump, 4), "shell", [&](const SabRecord& record) {
            TopoDS_Shell shell;
            shapes.MakeShell(shell);
            bool anyFace = false;
            addFaces(builder, record, shell, anyFace);
            if (anyFace) {
                shapes.Add(solid, shell);
                anyShell = true;
            }
        });
        if (anyShell) {
            shapes.Add(compound, solid);
            anySolid = true;
        }
    });
    if (!anySolid)
        return {};

    TopoDS_Shape shape = heal(builder, compound);
    builder.checkCancelled();
    if (transform && transform->type == "transform")
        shape = BRepBuilderAPI_Transform(shape, bodyTransform(*transform), true).Shape();
    return shape;
}

} // namespace qor::io
