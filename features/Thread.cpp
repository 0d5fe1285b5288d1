#include "features/Thread.h"

#include "expr/Format.h"
#include "features/BodyEditing.h"
#include "features/ThreadGeometry.h"
#include "features/ThreadTable.h"
#include "model/ExecContext.h"
#include "model/References.h"

#include <BRepAdaptor_Surface.hxx>
#include <BRepAlgoAPI_Cut.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepGProp_Face.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <TopTools_ListOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <gp_Cylinder.hxx>

#include <algorithm>
#include <cmath>
#include <vector>

namespace qor::model {

namespace {

constexpr double minorFactor = 1.2269; // external minor diameter: d − factor · pitch
constexpr double grooveFactor = 0.6134; // external groove depth: factor · pitch

// What one selected face asks for.
struct FaceThread {
    double radius = 0.0; // of the face's cylinder
    bool internal = false;
    const ThreadSpec* row = nullptr;
    gp_Pnt start;
    gp_Dir direction;
    gp_Dir radial;
    double fullLength = 0.0;
    double length = 0.0;
};

const ThreadSpec* autoSize(double radius, bool internal)
{
    const ThreadSpec* best = nullptr;
    double bestDistance = 1e9;
    for (const ThreadSpec& row : threadTable()) {
        const double reference = internal ? row.tapDrill : row.diameter;
        const double distance = std::abs(reference - 2.0 * radius);
        if (distance < bestDistance - 1e-9) {
            best = &row;
            bestDistance = distance;
        }
    }
    if (!best || bestDistance > std::max(0.08 * radius, 0.25)) {
        const QString diameter
            = QString::fromStdString(formatNumber(2, 2.0 * radius)).replace(u'.', u',');
        throw FeatureError(
            QStringLiteral("Kein Normgewinde für ⌀%1 mm – Größe im Feld „Gewinde“ wählen")
                .arg(diameter));
    }
    return best;
}

FaceThread threadOnFace(const ExecContext& context, const TopoDS_Shape& shape)
{
    if (shape.ShapeType() != TopAbs_FACE)
        throw FeatureError(QStringLiteral("Gewinde nur auf zylindrischen Flächen"));
    const TopoDS_Face face = TopoDS::Face(shape);
    const BRepAdaptor_Surface surface(face, Standard_True);
    if (surface.GetType() != GeomAbs_Cylinder)
        throw FeatureError(QStringLiteral("Gewinde nur auf zylindrischen Flächen"));
    const gp_Cylinder cylinder = surface.Cylinder();
    const gp_Ax1 axis = cylinder.Axis();
    double umin = 0.0, umax = 0.0, vmin = 0.0, vmax = 0.0;
    BRepTools::UVBounds(face, umin, umax, vmin, vmax);

    FaceThread t;
    t.radius = cylinder.Radius();
    gp_Pnt middle;
    gp_Vec normal;
    BRepGProp_Face(face).Normal((umin + umax) / 2.0, (vmin + vmax) / 2.0, middle, normal);
    const gp_Vec along(axis.Direction());
    gp_Vec q(axis.Location(), middle);
    q -= along * q.Dot(along);
    t.internal = q.Dot(normal) < 0.0;

    const QString size = context.stringParam(QStringLiteral("size"));
    if (size.isEmpty() || size == QStringLiteral("auto")) {
        t.row = autoSize(t.radius, t.internal);
    } else {
        t.row = findThread(size);
        if (!t.row)
            throw FeatureError(QStringLiteral("Unbekannte Gewindegröße"));
    }

    const gp_Pnt a = axis.Location().Translated(along * vmin);
    const gp_Pnt b = axis.Location().Translated(along * vmax);
    const bool flip = context.boolParam(QStringLiteral("flip"));
    t.start = flip ? b : a;
    t.direction = gp_Dir(gp_Vec(t.start, flip ? a : b));
    t.fullLength = a.Distance(b);
    t.length = context.stringParam(QStringLiteral("extent")) == QStringLiteral("dist")
                   ? std::min(context.number(QStringLiteral("length")), t.fullLength)
                   : t.fullLength;
    if (!(t.length > 0.0))
        throw FeatureError(QStringLiteral("Gewindelänge muss größer als 0 sein"));
    const gp_Vec n(t.direction);
    t.radial = gp_Dir(q - n * q.Dot(n));
    return t;
}

struct Groove {
    TopoDS_Shape shape;
    double volume = 0.0;
};

// The groove of a modelled thread. Its base lies just off the face, on the side
// away from the material, also when the face is wider than the nominal diameter
// of an external thread; a size whose groove would not reach the material at
// all is refused instead of leaving the face unthreaded.
Groove threadGroove(const FaceThread& t, bool leftHand)
{
    const ThreadSpec& row = *t.row;
    const double major = row.diameter / 2.0;
    const double base = t.internal ? t.radius - 0.05 : std::max(t.radius, major) + 0.05;
    const double apex = t.internal ? major : major - grooveFactor * row.pitch;
    if (t.internal ? !(apex > t.radius) : !(apex < t.radius))
        throw FeatureError(QStringLiteral("Gewindegröße passt nicht zum Durchmesser der Fläche"));
    const gp_Ax3 frame(t.start.Translated(gp_Vec(t.direction) * -row.pitch), t.direction, t.radial);
    const double height = t.length + row.pitch;
    return {sweepThreadSection(frame, leftHand, base, apex, row.pitch, height),
            grooveVolume(base, apex, row.pitch, height, base, apex)};
}

// One cut per body with its grooves as separate tools, so that grooves that meet
// each other are still intersected. The result must have lost material, but no
// more than the grooves hold.
TopoDS_Shape cutGrooves(const TopoDS_Shape& body, const std::vector<Groove>& grooves)
{
    try {
        OCC_CATCH_SIGNALS
        TopTools_ListOfShape arguments;
        arguments.Append(body);
        TopTools_ListOfShape tools;
        double most = 0.0;
        for (const Groove& groove : grooves) {
            tools.Append(groove.shape);
            most += groove.volume;
        }
        BRepAlgoAPI_Cut cut;
        cut.SetArguments(arguments);
        cut.SetTools(tools);
        cut.SetNonDestructive(Standard_True);
        if (!buildWithin(cut, threadBudgetSeconds))
            throw grooveFailed();
        const TopoDS_Shape result = cut.Shape();
        const double removed = shapeVolume(body) - shapeVolume(result);
        if (!(removed > 0.0) || removed > most * (1.0 + 1e-3)
            || !BRepCheck_Analyzer(result).IsValid())
            throw grooveFailed();
        return result;
    } catch (const Standard_Failure&) {
        throw grooveFailed();
    }
}

} // namespace

void execThread(ExecContext& context)
{
    const QJsonArray faces = context.arrayParam(QStringLiteral("faces"));
    if (faces.isEmpty())
        throw FeatureError(QStringLiteral("Zylinderfläche(n) für das Gewinde auswählen"));
    const bool modelled = context.stringParam(QStringLiteral("model")) == QStringLiteral("modeled");
    const bool leftHand = context.boolParam(QStringLiteral("leftHand"));

    // Grooves by body, bodies in the order of their first selected face.
    std::vector<std::pair<int, std::vector<Groove>>> grooves;
    for (const QJsonValue& reference : faces) {
        int bodyId = 0;
        const TopoDS_Shape face = resolveReference(context.state, reference.toObject(), &bodyId);
        refuseMeshBody(context.state, bodyId, QStringLiteral("Gewinde nicht möglich"),
                       QStringLiteral("hat keine zylindrischen Flächen"));
        const FaceThread t = threadOnFace(context, face);
        const bool through = t.internal && std::abs(t.length - t.fullLength) < 1e-6;
        const double minor
            = t.internal ? 2.0 * t.radius : t.row->diameter - minorFactor * t.row->pitch;
        context.state.threads.push_back(
            ThreadMark{t.start, t.direction, t.row->diameter, minor, t.row->pitch, t.length,
                       t.internal, modelled, leftHand,
                       threadDesignation(*t.row, through, leftHand, t.length), context.feature.id});
        if (!modelled)
            continue;
        auto entry = std::find_if(grooves.begin(), grooves.end(),
                                  [bodyId](const auto& e) { return e.first == bodyId; });
        if (entry == grooves.end())
            entry = grooves.insert(grooves.end(), {bodyId, {}});
        entry->second.push_back(threadGroove(t, leftHand));
    }
    if (grooves.empty())
        return;

    TopoDS_Compound all;
    BRep_Builder builder;
    builder.MakeCompound(all);
    std::vector<int> bodies;
    for (const auto& [bodyId, bodyGrooves] : grooves) {
        const TopoDS_Shape cut = cutGrooves(context.state.bodies.at(bodyId).shape, bodyGrooves);
        context.setBody(bodyId, unifySameDomain(cut));
        bodies.push_back(bodyId);
        for (const Groove& groove : bodyGrooves)
            builder.Add(all, groove.shape);
    }
    // All grooves in one record, so that a pattern of the feature repeats every one.
    context.state.tools[context.feature.id] = ToolRecord{all, QStringLiteral("cut"), bodies};
}

} // namespace qor::model
