#include "features/Patterns.h"

#include "expr/Format.h"
#include "features/PatternCore.h"
#include "model/ExecContext.h"
#include "model/References.h"

#include <BRepAdaptor_CompCurve.hxx>
#include <GCPnts_AbscissaPoint.hxx>
#include <gp_Ax1.hxx>
#include <gp_Quaternion.hxx>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace qor::model {

namespace {

constexpr double radiansPerDegree = 0.017453292519943295;

// A count held within ±1e9 before it becomes an integer: "1e12" or "2^40"
// reach the instance limit as large counts instead of overflowing, and the
// product of two counts still fits 64 bits.
std::int64_t countParam(const ExecContext& context, const QString& key)
{
    return std::llround(std::clamp(context.number(key), -1e9, 1e9));
}

void checkLimit(std::int64_t instances, int limit)
{
    if (instances > limit)
        throw FeatureError(
            QStringLiteral("Zu viele Exemplare (max. %1)").arg(germanCount(std::uint64_t(limit))));
}

void checkAtLeastTwo(std::int64_t count)
{
    if (count < 2)
        throw FeatureError(QStringLiteral("Anzahl muss mindestens 2 sein"));
}

gp_Vec step(const ExecContext& context, const QString& direction, const QString& flip,
            const QString& spacing)
{
    gp_Dir dir = resolveAxisRef(context, direction).Direction();
    if (context.boolParam(flip))
        dir.Reverse();
    return gp_Vec(dir) * context.number(spacing);
}

gp_Trsf translation(const gp_Vec& vector)
{
    gp_Trsf trsf;
    trsf.SetTranslation(vector);
    return trsf;
}

// Turns a copy about the start point by the rotation that takes the start
// tangent to the tangent at its place, then carries it there.
gp_Trsf alongPath(const gp_Pnt& start, const gp_Vec& startTangent, const gp_Pnt& place,
                  const gp_Vec& tangent)
{
    gp_Quaternion turn;
    turn.SetRotation(startTangent, tangent);
    gp_Trsf rotation;
    rotation.SetRotation(turn);
    return translation(gp_Vec(place.XYZ())) * rotation * translation(-gp_Vec(start.XYZ()));
}

} // namespace

void execPatternRect(ExecContext& context)
{
    const std::int64_t count1
        = std::max<std::int64_t>(1, countParam(context, QStringLiteral("count1")));
    const std::int64_t count2 = countParam(context, QStringLiteral("count2"));
    const std::int64_t rows = std::max<std::int64_t>(1, count2);
    checkLimit(count1 * rows, 2000);

    const gp_Vec step1 = step(context, QStringLiteral("direction1"), QStringLiteral("flip1"),
                              QStringLiteral("spacing1"));
    const gp_Vec step2 = count2 > 1 ? step(context, QStringLiteral("direction2"),
                                           QStringLiteral("flip2"), QStringLiteral("spacing2"))
                                    : gp_Vec();
    std::vector<gp_Trsf> transforms;
    for (std::int64_t i = 0; i < count1; ++i) {
        for (std::int64_t j = 0; j < rows; ++j) {
            if (i != 0 || j != 0)
                transforms.push_back(translation(step1 * double(i) + step2 * double(j)));
        }
    }
    if (transforms.empty())
        throw FeatureError(QStringLiteral("Anzahl muss größer als 1 sein"));
    patternFeature(context, transforms);
}

void execPatternCirc(ExecContext& context)
{
    const std::int64_t count = countParam(context, QStringLiteral("count"));
    checkAtLeastTwo(count);
    checkLimit(count, 2000);
    const gp_Ax1 axis = resolveAxisRef(context, QStringLiteral("axis"));
    const double total = context.angle(QStringLiteral("angle"));
    // A full turn closes the circle, so the last copy stops one step short of
    // the original; any other angle spans from the original to the last copy.
    const bool fullTurn = std::abs(std::abs(total) - 360.0) < 1e-9;
    const double stepDeg = total / double(fullTurn ? count : count - 1);

    std::vector<gp_Trsf> transforms;
    for (std::int64_t k = 1; k < count; ++k) {
        gp_Trsf rotation;
        rotation.SetRotation(axis, double(k) * stepDeg * radiansPerDegree);
        transforms.push_back(rotation);
    }
    patternFeature(context, transforms);
}

void execPatternPath(ExecContext& context)
{
    const TopoDS_Wire wire = resolvePathWire(context, QStringLiteral("path"));
    const BRepAdaptor_CompCurve curve(wire, Standard_False);
    const double length = GCPnts_AbscissaPoint::Length(curve);
    const std::int64_t count = countParam(context, QStringLiteral("count"));
    checkAtLeastTwo(count);
    checkLimit(count, 1000);

    const bool closed = wire.Closed() || curve.IsClosed();
    double spacing = context.stringParam(QStringLiteral("spacing")) == QStringLiteral("dist")
                         ? context.number(QStringLiteral("distance"))
                         : length / double(closed ? count : count - 1);
    if (!(spacing > 0.0))
        throw FeatureError(QStringLiteral("Abstand muss größer als 0 sein"));

    const bool orient = context.boolParam(QStringLiteral("orient"));
    const bool flip = context.boolParam(QStringLiteral("flip"));
    if (flip)
        spacing = -spacing;
    const double startParameter = flip ? curve.LastParameter() : curve.FirstParameter();
    gp_Pnt start;
    gp_Vec startTangent;
    curve.D1(startParameter, start, startTangent);
    if (flip)
        startTangent.Reverse();

    std::vector<gp_Trsf> transforms;
    for (std::int64_t k = 1; k < count; ++k) {
        const double abscissa = double(k) * spacing;
        // The search extends the curve past its ends and still succeeds there;
        // a copy beyond the path's end would float off it.
        if (std::abs(abscissa) > length * (1.0 + 1e-9) + 1e-9)
            break;
        const GCPnts_AbscissaPoint search(curve, abscissa, startParameter);
        if (!search.IsDone())
            break;
        gp_Pnt place;
        gp_Vec tangent;
        curve.D1(search.Parameter(), place, tangent);
        if (flip)
            tangent.Reverse();
        if (orient && startTangent.Magnitude() > 1e-9 && tangent.Magnitude() > 1e-9)
            transforms.push_back(alongPath(start, startTangent, place, tangent));
        else
            transforms.push_back(translation(gp_Vec(start, place)));
    }
    if (transforms.empty())
        throw FeatureError(QStringLiteral("Pfad zu kurz für die gewählte Anzahl und den Abstand"));
    patternFeature(context, transforms);
}

} // namespace qor::model
