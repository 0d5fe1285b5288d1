#include "features/Rib.h"

#include "features/ShapeOps.h"
#include "io/MeshFaces.h"
#include "model/BooleanGroup.h"
#include "model/ExecContext.h"
#include "model/References.h"
#include "sketch/Plane.h"

#include <BRepAdaptor_Curve.hxx>
#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakePolygon.hxx>
#include <BRepClass3d_SolidClassifier.hxx>
#include <Bnd_Box.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Face.hxx>

#include <algorithm>
#include <optional>
#include <vector>

namespace qor::model {

namespace {

// One line of the rib sketch with the directions its web is built from.
struct RibLine {
    gp_Pnt mid;
    gp_Dir growth; // in the sketch plane, perpendicular to the line
    TopoDS_Face web; // the line's strip across the thickness
};

// The strip along the line, lengthened a little at both ends so that the web
// overlaps the body where the line only touches it, thickness t across the plane.
TopoDS_Face webFace(const gp_Pnt& p1, const gp_Pnt& p2, const gp_Dir& normal, double t)
{
    const gp_Vec u(p1, p2);
    const gp_Vec along = u.Normalized() * 0.02;
    const gp_Vec half = gp_Vec(normal) * (t / 2.0);
    const gp_Pnt a1 = p1.Translated(-along);
    const gp_Pnt a2 = p2.Translated(along);
    BRepBuilderAPI_MakePolygon polygon(a1.Translated(-half), a2.Translated(-half),
                                       a2.Translated(half), a1.Translated(half), true);
    return BRepBuilderAPI_MakeFace(polygon.Wire(), false).Face();
}

// The smallest piece of the web strip swept to either side that holds the point
// just beside the line and stops short of the strip's far end: the part of the
// web that this body closes off. Nothing when the web runs past the body.
std::optional<TopoDS_Shape> enclosedPiece(const RibLine& line, const TopoDS_Shape& body, double t,
                                          double reach)
{
    std::optional<TopoDS_Shape> best;
    double bestVolume = 1e300;
    for (const double sigma : {1.0, -1.0}) {
        const gp_Vec side = gp_Vec(line.growth) * sigma;
        const TopoDS_Shape prism = makePrism(line.web, side * reach);
        // Checked and run in other ways as every boolean is: a wrong piece
        // would join a wrong web. A side no way cuts right offers none.
        TopoDS_Shape cut;
        try {
            cut = soundBoolean(BOPAlgo_CUT, prism, body, QStringLiteral("Rippe fehlgeschlagen"));
        } catch (const FeatureError&) {
            continue;
        }
        const gp_Pnt beside = line.mid.Translated(side * std::min(0.25 * t, 0.05));
        const gp_Pnt farEnd = line.mid.Translated(side * (0.999 * reach));
        for (TopExp_Explorer it(cut, TopAbs_SOLID); it.More(); it.Next()) {
            const TopoDS_Shape& solid = it.Current();
            BRepClass3d_SolidClassifier classifier(solid, beside, 1e-6);
            if (classifier.State() != TopAbs_IN)
                continue;
            Bnd_Box box;
            BRepBndLib::Add(solid, box, true);
            if (!box.IsOut(farEnd))
                continue;
            const double volume = shapeVolume(solid);
            if (volume > 1e-9 && volume < bestVolume) {
                bestVolume = volume;
                best = solid;
            }
        }
    }
    return best;
}

// Fuses the line's web to the first body in order that closes it off and
// takes it: a body whose join no way gives right leaves the web to the next
// one. When none takes it, `refusal` holds why the first such join was
// refused, if one was.
bool attachRib(ExecContext& context, const RibLine& line, const std::vector<int>& bodies, double t,
               double reach, QString& refusal)
{
    for (const int id : bodies) {
        const TopoDS_Shape body = context.state.bodies.at(id).shape;
        if (body.IsNull())
            continue;
        const std::optional<TopoDS_Shape> piece = enclosedPiece(line, body, t, reach);
        if (!piece)
            continue;
        try {
            const TopoDS_Shape joined
                = soundBoolean(BOPAlgo_FUSE, body, *piece, QStringLiteral("Rippe fehlgeschlagen"));
            context.setBody(id, unifySameDomain(joined));
            return true;
        } catch (const FeatureError& error) {
            if (refusal.isEmpty())
                refusal = QString::fromUtf8(error.what());
        }
    }
    return false;
}

const SketchResult* ribSketch(const ExecContext& context)
{
    const int id = context.feature.params.value(QStringLiteral("sketch"))
                       .toObject()
                       .value(QStringLiteral("id"))
                       .toInt(0);
    const auto it = context.state.sketches.find(id);
    if (it == context.state.sketches.end() || !it->second.sketch)
        return nullptr;
    return &it->second;
}

} // namespace

void execRib(ExecContext& context)
{
    const SketchResult* sketch = ribSketch(context);
    if (!sketch)
        throw FeatureError(QStringLiteral("Skizze mit dem Rippenverlauf (offene Linie) auswählen"));
    const TopoDS_Compound edges = makeCompound(*sketch->sketch, sketch->plane, false);
    const gp_Dir normal = sketch->plane.Direction();
    const gp_Pnt origin = sketch->plane.Location();

    const double t = context.number(QStringLiteral("thickness"));
    if (!(t > 0.0))
        throw FeatureError(QStringLiteral("Dicke muss größer als 0 sein"));

    std::vector<int> bodies = resolveTargetBodies(context, QStringLiteral("targets"));
    for (const int id : bodies)
        refuseMeshBody(context.state, id, QStringLiteral("Rippe nicht möglich"),
                       QStringLiteral("nimmt keine Rippe auf"));
    if (bodies.empty()) {
        // Bodies read from mesh files take no rib; the rib looks for another.
        for (const auto& [id, body] : context.state.bodies) {
            if (!io::isMeshOnly(body.shape))
                bodies.push_back(id);
        }
    }
    if (bodies.empty())
        throw FeatureError(
            QStringLiteral("Kein Körper vorhanden, an den die Rippe anschließen kann"));

    const double reach = throughAllDistance(context.state, origin);
    int ribs = 0;
    for (TopExp_Explorer it(edges, TopAbs_EDGE); it.More(); it.Next()) {
        const BRepAdaptor_Curve curve(TopoDS::Edge(it.Current()));
        if (curve.GetType() != GeomAbs_Line)
            throw FeatureError(QStringLiteral("Rippen bestehen aus geraden Linien"));
        const gp_Pnt p1 = curve.Value(curve.FirstParameter());
        const gp_Pnt p2 = curve.Value(curve.LastParameter());
        const gp_Vec d(p1, p2);
        if (d.Magnitude() < 1e-6)
            continue;
        const RibLine line{gp_Pnt((p1.XYZ() + p2.XYZ()) / 2.0), gp_Dir(gp_Vec(normal).Crossed(d)),
                           webFace(p1, p2, normal, t)};
        QString refusal;
        if (!attachRib(context, line, bodies, t, reach, refusal))
            throw FeatureError(!refusal.isEmpty()
                                   ? refusal
                                   : QStringLiteral("Rippe nicht möglich – die Linie muss mit "
                                                    "beiden Enden an den Körper heranreichen"));
        ++ribs;
    }
    if (ribs == 0)
        throw FeatureError(QStringLiteral("Die Skizze enthält keine Linien"));
}

} // namespace qor::model
