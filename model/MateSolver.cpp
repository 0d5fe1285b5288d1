#include "model/MateSolver.h"

#include "model/ComponentGeometry.h"
#include "model/Document.h"
#include "sketch/Plane.h"

#include <BRepAdaptor_Curve.hxx>
#include <BRepAdaptor_Surface.hxx>
#include <BRepBndLib.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <TopoDS.hxx>
#include <gp_Ax1.hxx>
#include <gp_Vec.hxx>

#include <Eigen/Cholesky>
#include <Eigen/QR>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <set>

namespace qor::model {

namespace {

constexpr int maxAcceptedSteps = 200;
constexpr int maxTries = 12;
constexpr double initialDamping = 1e-6;
constexpr double minDamping = 1e-12;
constexpr double converged = 1e-9;
constexpr double satisfied = 1e-4;
// Mates that hold this closely move nothing: placements are stored with nine
// decimals, and what that rounding leaves over (some 1e-8 in an assembly of a few
// hundred millimetres) must not come back as a change after undo or reopening.
constexpr double heldAlready = 1e-6;
constexpr double rotationStep = 1e-7;
constexpr double translationStep = 1e-6;
constexpr double angleRowWeight = 50.0;
// Directions closer than this to the wanted angle (radians) are left to the iteration.
constexpr double startTurnTolerance = 1e-12;
// Shifts shorter than this (millimetres) are left to the iteration.
constexpr double startShiftTolerance = 1e-12;

bool classifyFace(const TopoDS_Face& face, MateSide& side)
{
    const BRepAdaptor_Surface surface(face);
    switch (surface.GetType()) {
    case GeomAbs_Plane: {
        const gp_Ax3 position = surface.Plane().Position();
        side.kind = RefKind::Plane;
        side.point = position.Location();
        side.direction = qor::planarFaceNormal(face);
        return true;
    }
    case GeomAbs_Cylinder:
        side.kind = RefKind::Axis;
        side.point = surface.Cylinder().Location();
        side.direction = surface.Cylinder().Axis().Direction();
        return true;
    case GeomAbs_Cone:
        side.kind = RefKind::Axis;
        side.point = surface.Cone().Location();
        side.direction = surface.Cone().Axis().Direction();
        return true;
    case GeomAbs_Torus:
        side.kind = RefKind::Axis;
        side.point = surface.Torus().Location();
        side.direction = surface.Torus().Axis().Direction();
        return true;
    case GeomAbs_Sphere:
        side.kind = RefKind::Point;
        side.point = surface.Sphere().Location();
        return true;
    default: return false;
    }
}

bool classifyEdge(const TopoDS_Edge& edge, MateSide& side)
{
    if (BRep_Tool::Degenerated(edge))
        return false;
    const BRepAdaptor_Curve curve(edge);
    switch (curve.GetType()) {
    case GeomAbs_Line:
        side.kind = RefKind::Axis;
        side.point = curve.Line().Location();
        side.direction = curve.Line().Direction();
        return true;
    case GeomAbs_Circle:
        side.kind = RefKind::Axis;
        side.point = curve.Circle().Location();
        side.direction = curve.Circle().Axis().Direction();
        return true;
    default: return false;
    }
}

// A side in assembly coordinates under the variables x.
struct PlacedSide {
    gp_XYZ p;
    gp_XYZ n;
};

PlacedSide place(const MateSolverContext& context, const MateSide& side,
                 const std::vector<double>& x)
{
    const gp_Trsf trsf = Document::solverTransform(context, *side.comp, x);
    return {side.point.Transformed(trsf).XYZ(), side.direction.Transformed(trsf).XYZ()};
}

void appendXYZ(std::vector<double>& rows, const gp_XYZ& v)
{
    rows.push_back(v.X());
    rows.push_back(v.Y());
    rows.push_back(v.Z());
}

bool isPlaneMate(const QString& type)
{
    return type == QLatin1String("planar") || type == QLatin1String("flush");
}

// The rows of the combinations that no mate type claims for itself.
void kindRows(const MateEquation& e, const PlacedSide& a, const PlacedSide& b,
              std::vector<double>& rows)
{
    const double v = e.value;
    const RefKind ka = e.a.kind;
    const RefKind kb = e.b.kind;
    if (ka == RefKind::Point && kb == RefKind::Plane) {
        rows.push_back((a.p - b.p).Dot(b.n) - v);
    } else if (ka == RefKind::Point || kb == RefKind::Point) {
        // A point against an axis meets the axis's own point.
        if (ka == RefKind::Plane)
            rows.push_back((b.p - a.p).Dot(a.n) - v);
        else
            appendXYZ(rows, b.p - a.p);
    } else if (ka == RefKind::Plane && kb == RefKind::Axis) {
        rows.push_back(b.n.Dot(a.n));
        rows.push_back((b.p - a.p).Dot(a.n) - v);
    } else if (ka == RefKind::Axis && kb == RefKind::Plane) {
        rows.push_back(a.n.Dot(b.n));
        rows.push_back((a.p - b.p).Dot(b.n) - v);
    } else {
        e.mate->status = QStringLiteral("Diese Kombination wird nicht unterstützt");
    }
}

std::vector<double> allResiduals(const MateSolverContext& context,
                                 const std::vector<MateEquation>& equations,
                                 const std::vector<double>& x)
{
    std::vector<double> rows;
    for (const MateEquation& e : equations)
        mateResiduals(context, e, x, rows);
    return rows;
}

double squaredLength(const std::vector<double>& rows)
{
    double sum = 0.0;
    for (double r : rows)
        sum += r * r;
    return sum;
}

Eigen::Map<const Eigen::VectorXd> asVector(const std::vector<double>& values)
{
    return {values.data(), Eigen::Index(values.size())};
}

Eigen::MatrixXd jacobian(const MateSolverContext& context,
                         const std::vector<MateEquation>& equations, std::vector<double> x,
                         Eigen::Index rowCount)
{
    Eigen::MatrixXd j(rowCount, Eigen::Index(x.size()));
    for (std::size_t col = 0; col < x.size(); ++col) {
        const double h = col % 6 < 3 ? rotationStep : translationStep;
        const double original = x[col];
        x[col] = original + h;
        const std::vector<double> plus = allResiduals(context, equations, x);
        x[col] = original - h;
        const std::vector<double> minus = allResiduals(context, equations, x);
        x[col] = original;
        j.col(Eigen::Index(col)) = (asVector(plus) - asVector(minus)) / (2.0 * h);
    }
    return j;
}

// Damped least squares in the space of the residuals, so that an under-constrained
// component moves as little as its mates require. x ends at the last accepted
// point; returns the squared residual length there.
double minimise(const MateSolverContext& context, const std::vector<MateEquation>& equations,
                std::vector<double>& x, int& steps)
{
    std::vector<double> r = allResiduals(context, equations, x);
    double f = squaredLength(r);
    double lambda = initialDamping;
    for (int accepted = 0; accepted < maxAcceptedSteps; ++accepted) {
        if (std::sqrt(f) <= converged)
            break;
        const Eigen::MatrixXd j = jacobian(context, equations, x, Eigen::Index(r.size()));
        const Eigen::MatrixXd n = j * j.transpose();
        bool improved = false;
        for (int attempt = 0; attempt < maxTries && !improved; ++attempt) {
            // Uniform damping: scaling it by the diagonal would weigh the rows of
            // directions (unitless) against those of distances (millimetres), and a
            // heavily damped step would then no longer lead downhill.
            Eigen::MatrixXd damped = n;
            damped.diagonal().array() += lambda;
            const Eigen::VectorXd y = damped.ldlt().solve(asVector(r));
            const Eigen::VectorXd step = -j.transpose() * y;
            if (step.allFinite()) {
                std::vector<double> trial(x);
                for (std::size_t i = 0; i < trial.size(); ++i)
                    trial[i] += step[Eigen::Index(i)];
                std::vector<double> trialRows = allResiduals(context, equations, trial);
                const double trialF = squaredLength(trialRows);
                if (trialF < f) {
                    x = std::move(trial);
                    r = std::move(trialRows);
                    f = trialF;
                    lambda = std::max(lambda * 0.1, minDamping);
                    improved = true;
                    ++steps;
                    continue;
                }
            }
            lambda *= 10.0;
        }
        if (!improved)
            break;
    }
    return f;
}

// The angles between the two sides' directions at which the mate's rows about
// directions vanish, the first preferred; none when its rows do not look at
// directions.
std::vector<double> wantedAngles(const MateEquation& e)
{
    constexpr double pi = std::numbers::pi;
    const QString& type = e.mate->type;
    const RefKind ka = e.a.kind;
    const RefKind kb = e.b.kind;
    if (isPlaneMate(type) && ka == RefKind::Plane && kb == RefKind::Plane)
        return {e.mate->flip == (type == QLatin1String("planar")) ? 0.0 : pi};
    if (type == QLatin1String("concentric")
        || (isPlaneMate(type) && ka == RefKind::Axis && kb == RefKind::Axis))
        return {0.0, pi}; // either sense holds
    if (type == QLatin1String("angle")) {
        if (!std::isfinite(e.value))
            return {};
        return {std::clamp(e.value, 0.0, 180.0) * pi / 180.0};
    }
    if ((ka == RefKind::Plane && kb == RefKind::Axis)
        || (ka == RefKind::Axis && kb == RefKind::Plane))
        return {pi / 2.0}; // the axis lies along the plane
    return {};
}

double angleBetween(const gp_XYZ& u, const gp_XYZ& v)
{
    return std::atan2(u.Crossed(v).Modulus(), u.Dot(v));
}

// A direction at right angles to n: n crossed with the coordinate axis least
// aligned with it.
gp_Dir perpendicular(const gp_XYZ& n)
{
    const gp_XYZ axes[] = {gp_XYZ(1, 0, 0), gp_XYZ(0, 1, 0), gp_XYZ(0, 0, 1)};
    const gp_XYZ* least = &axes[0];
    for (const gp_XYZ& axis : axes) {
        if (std::abs(axis.Dot(n)) < std::abs(least->Dot(n)))
            least = &axis;
    }
    return gp_Dir(n.Crossed(*least));
}

// A mate that ties the component being placed to a settled one.
struct Tie {
    const MateEquation* equation;
    bool movesB; // the component is side b
    std::vector<double> wanted; // wantedAngles of the mate
};

// A tie's directions: the component's side (moving) and the settled side (fixed).
struct TieDirections {
    gp_XYZ moving;
    gp_XYZ fixed;
};

TieDirections directions(const MateSolverContext& context, const Tie& tie,
                         const std::vector<double>& x)
{
    const PlacedSide a = place(context, tie.equation->a, x);
    const PlacedSide b = place(context, tie.equation->b, x);
    return tie.movesB ? TieDirections{b.n, a.n} : TieDirections{a.n, b.n};
}

// How far the tie's directions are from the nearest wanted angle (radians).
double angleError(const MateSolverContext& context, const Tie& tie, const std::vector<double>& x)
{
    const TieDirections d = directions(context, tie, x);
    const double angle = angleBetween(d.fixed, d.moving);
    double error = std::numbers::pi;
    for (double wanted : tie.wanted)
        error = std::min(error, std::abs(angle - wanted));
    return error;
}

void rotateBase(MateSolverContext& context, int componentId, const gp_Dir& axis, double angle)
{
    gp_Trsf turn;
    turn.SetRotation(gp_Ax1(context.pivots.at(componentId), axis), angle);
    gp_Trsf& base = context.bases.at(componentId);
    base = turn * base;
}

// Turns the component about its pivot, in the plane of the tie's two directions,
// until the angle between them is the wanted one.
void turnToward(MateSolverContext& context, int componentId, const Tie& tie, double wanted,
                const std::vector<double>& x)
{
    const TieDirections d = directions(context, tie, x);
    const gp_XYZ cross = d.fixed.Crossed(d.moving);
    const double angle = wanted - angleBetween(d.fixed, d.moving);
    if (std::abs(angle) < startTurnTolerance)
        return;
    // Turning about fixed × moving opens the angle between them.
    rotateBase(context, componentId,
               cross.Modulus() > 1e-12 ? gp_Dir(cross) : perpendicular(d.fixed), angle);
}

// Turns the component about the axis (a settled direction, which the turn keeps)
// by the least angle that brings the tie's directions nearest to a wanted angle.
void twistToward(MateSolverContext& context, int componentId, const Tie& tie, const gp_XYZ& axis,
                 const std::vector<double>& x)
{
    // With m split along the axis and across it, the turn by t gives
    // fixed · m(t) = along + across·cos t + side·sin t.
    const TieDirections d = directions(context, tie, x);
    const gp_XYZ mAcross = d.moving - axis * d.moving.Dot(axis);
    const double along = d.moving.Dot(axis) * d.fixed.Dot(axis);
    const double across = d.fixed.Dot(mAcross);
    const double side = d.fixed.Dot(axis.Crossed(mAcross));
    const double reach = std::hypot(across, side);
    if (reach < 1e-12)
        return;
    double best = 0.0;
    double bestMiss = std::numeric_limits<double>::infinity();
    for (double wanted : tie.wanted) {
        const double k = (std::cos(wanted) - along) / reach;
        const double miss = std::abs(k) > 1.0 ? std::abs(k) - 1.0 : 0.0;
        const double offset = std::acos(std::clamp(k, -1.0, 1.0));
        for (double t : {std::atan2(side, across) + offset, std::atan2(side, across) - offset}) {
            t = std::remainder(t, 2.0 * std::numbers::pi);
            if (miss < bestMiss - 1e-12
                || (miss < bestMiss + 1e-12 && std::abs(t) < std::abs(best))) {
                best = t;
                bestMiss = miss;
            }
        }
    }
    if (std::abs(best) >= startTurnTolerance)
        rotateBase(context, componentId, gp_Dir(axis), best);
}

// Turns the component so that its first tie's directions stand as wanted and,
// about that direction, so that the second tie's come as near as they can. A
// tie that holds in either sense tries both and keeps the one that serves all
// ties best.
void orient(MateSolverContext& context, int componentId, const std::vector<Tie>& ties,
            const std::vector<double>& x)
{
    const gp_Trsf start = context.bases.at(componentId);
    const Tie& first = ties.front();
    const TieDirections now = directions(context, first, x);
    const double angle = angleBetween(now.fixed, now.moving);
    std::vector<double> senses = first.wanted;
    std::sort(senses.begin(), senses.end(),
              [angle](double p, double q) { return std::abs(angle - p) < std::abs(angle - q); });
    gp_Trsf best;
    double bestError = std::numeric_limits<double>::infinity();
    for (double sense : senses) {
        context.bases.at(componentId) = start;
        turnToward(context, componentId, first, sense, x);
        if (ties.size() > 1)
            twistToward(context, componentId, ties[1], directions(context, first, x).fixed, x);
        double error = 0.0;
        for (const Tie& tie : ties)
            error += std::pow(angleError(context, tie, x), 2);
        if (error < bestError - 1e-12) {
            best = context.bases.at(componentId);
            bestError = error;
        }
    }
    context.bases.at(componentId) = best;
}

// Shifts the component so that the ties' rows vanish as far as a translation
// can make them (least squares, least shift). The rows are linear in a
// translation, so one solve does it.
void shiftToward(MateSolverContext& context, int componentId, const std::vector<Tie>& ties,
                 const std::vector<double>& x)
{
    gp_Trsf& base = context.bases.at(componentId);
    const gp_Trsf start = base;
    const auto rowsNow = [&] {
        std::vector<double> rows;
        for (const Tie& tie : ties)
            mateResiduals(context, *tie.equation, x, rows);
        return rows;
    };
    const std::vector<double> rows = rowsNow();
    const Eigen::Map<const Eigen::VectorXd> r = asVector(rows);
    Eigen::MatrixXd j(r.size(), 3);
    for (int k = 0; k < 3; ++k) {
        gp_Trsf unit;
        unit.SetTranslation(gp_Vec(k == 0, k == 1, k == 2));
        base = unit * start;
        j.col(k) = asVector(rowsNow()) - r;
    }
    base = start;
    const Eigen::Vector3d shift = j.completeOrthogonalDecomposition().solve(-r);
    if (!shift.allFinite() || shift.norm() < startShiftTolerance)
        return;
    const gp_Vec v(shift.x(), shift.y(), shift.z());
    gp_Trsf translation;
    translation.SetTranslation(v);
    base = translation * start;
    context.pivots.at(componentId).Translate(v);
}

// The start step. Where a mate's directions point exactly the wrong way (planes
// 180° apart, axes at right angles) its rows are stationary and no damped step
// leaves; so before the iteration every free component is turned once so that
// the directions of its mates to components already settled stand as wanted,
// and shifted so that their distances hold too: started there, the
// least-change steps need not trade a long way to go for a large turn about the
// pivot. Components settle one by one: a free component is settled once placed,
// every other one from the start. The next to place is the one named with a
// settled one by the first such mate; failing that, side b of the first mate
// between two unsettled ones, whose side a then counts as settled. Returns the
// ids of the components whose start moved.
std::set<int> startNearMates(MateSolverContext& context, const std::vector<MateEquation>& equations)
{
    const std::vector<double> x(6 * context.offsets.size(), 0.0);
    std::set<int> settled;
    std::set<int> moved;
    const auto isSettled
        = [&](const Component* c) { return !context.offsets.count(c->id) || settled.count(c->id); };
    const auto directional
        = [](const MateEquation& e) { return e.a.comp != e.b.comp && !wantedAngles(e).empty(); };
    // The next component to place, or null when none is left.
    const auto next = [&]() -> const Component* {
        for (const MateEquation& e : equations) {
            if (directional(e) && isSettled(e.a.comp) != isSettled(e.b.comp))
                return isSettled(e.a.comp) ? e.b.comp : e.a.comp;
        }
        for (const MateEquation& e : equations) {
            if (directional(e) && !isSettled(e.a.comp) && !isSettled(e.b.comp)) {
                settled.insert(e.a.comp->id);
                return e.b.comp;
            }
        }
        return nullptr;
    };
    while (const Component* c = next()) {
        std::vector<Tie> ties;
        for (const MateEquation& e : equations) {
            const bool movesB = e.b.comp == c && isSettled(e.a.comp);
            const bool movesA = e.a.comp == c && isSettled(e.b.comp);
            std::vector<double> wanted = wantedAngles(e);
            if ((movesA || movesB) && !wanted.empty())
                ties.push_back({&e, movesB, std::move(wanted)});
        }
        const gp_Trsf start = context.bases.at(c->id);
        orient(context, c->id, ties, x);
        shiftToward(context, c->id, ties, x);
        settled.insert(c->id);
        const gp_Trsf& now = context.bases.at(c->id);
        for (int row = 1; row <= 3; ++row) {
            for (int col = 1; col <= 4; ++col) {
                if (now.Value(row, col) != start.Value(row, col))
                    moved.insert(c->id);
            }
        }
    }
    return moved;
}

gp_Pnt shapeCentre(const std::vector<ComponentBody>& bodies)
{
    Bnd_Box box;
    for (const ComponentBody& body : bodies) {
        if (!body.shape.IsNull())
            BRepBndLib::Add(body.shape, box, true);
    }
    if (box.IsVoid())
        return gp_Pnt(0.0, 0.0, 0.0);
    double x0, y0, z0, x1, y1, z1;
    box.Get(x0, y0, z0, x1, y1, z1);
    return gp_Pnt((x0 + x1) / 2.0, (y0 + y1) / 2.0, (z0 + z1) / 2.0);
}

} // namespace

bool classifyReference(const TopoDS_Shape& shape, MateSide& side)
{
    if (shape.IsNull())
        return false;
    // Classify into a copy: a kernel failure halfway must leave the side as it was.
    MateSide result = side;
    try {
        OCC_CATCH_SIGNALS
        bool ok = false;
        switch (shape.ShapeType()) {
        case TopAbs_FACE: ok = classifyFace(TopoDS::Face(shape), result); break;
        case TopAbs_EDGE: ok = classifyEdge(TopoDS::Edge(shape), result); break;
        case TopAbs_VERTEX:
            result.kind = RefKind::Point;
            result.point = BRep_Tool::Pnt(TopoDS::Vertex(shape));
            ok = true;
            break;
        default: break;
        }
        if (ok)
            side = result;
        return ok;
    } catch (const Standard_Failure&) {
        return false;
    }
}

void mateResiduals(const MateSolverContext& context, const MateEquation& equation,
                   const std::vector<double>& x, std::vector<double>& rows)
{
    const PlacedSide a = place(context, equation.a, x);
    const PlacedSide b = place(context, equation.b, x);
    const QString& type = equation.mate->type;
    const double v = equation.value;
    const RefKind ka = equation.a.kind;
    const RefKind kb = equation.b.kind;

    if (isPlaneMate(type) && ka == RefKind::Plane && kb == RefKind::Plane) {
        // "planar" wants opposed normals and "flush" equal ones; flip swaps that.
        const bool aligned = equation.mate->flip == (type == QLatin1String("planar"));
        appendXYZ(rows, aligned ? a.n - b.n : a.n + b.n);
        rows.push_back((b.p - a.p).Dot(a.n) + (aligned ? v : -v));
    } else if (type == QLatin1String("concentric")
               || (isPlaneMate(type) && ka == RefKind::Axis && kb == RefKind::Axis)) {
        appendXYZ(rows, a.n.Crossed(b.n));
        const gp_XYZ w = b.p - a.p;
        appendXYZ(rows, w - a.n * w.Dot(a.n));
    } else if (type == QLatin1String("angle")) {
        const double theta = std::atan2(a.n.Crossed(b.n).Modulus(), a.n.Dot(b.n));
        const double degrees = theta * 180.0 / std::numbers::pi;
        rows.push_back((degrees - v) * std::numbers::pi / 180.0 * angleRowWeight);
    } else {
        kindRows(equation, a, b, rows);
    }
}

gp_Trsf Document::solverTransform(const MateSolverContext& context, const Component& component,
                                  const std::vector<double>& x)
{
    const auto offset = context.offsets.find(component.id);
    const auto base = context.bases.find(component.id);
    if (offset == context.offsets.end() || base == context.bases.end())
        return component.transform();
    const std::size_t o = std::size_t(offset->second);
    const gp_Vec r(x[o], x[o + 1], x[o + 2]);
    const double theta = std::hypot(r.X(), r.Y(), r.Z());
    gp_Trsf rotation;
    if (theta > 1e-15) {
        const auto pivot = context.pivots.find(component.id);
        const gp_Pnt centre = pivot == context.pivots.end() ? gp_Pnt(0, 0, 0) : pivot->second;
        rotation.SetRotation(gp_Ax1(centre, gp_Dir(r / theta)), theta);
    }
    gp_Trsf translation;
    translation.SetTranslation(gp_Vec(x[o + 3], x[o + 4], x[o + 5]));
    return translation * rotation * base->second;
}

bool Document::resolveMateReference(const MateRef& reference, MateSide& side, QString& error)
{
    side.comp = component(reference.comp);
    if (!side.comp) {
        error = QStringLiteral("Komponente fehlt");
        return false;
    }
    // Non-finite numbers would spread through every residual and placement.
    if (const QString problem = placementNumbersProblem(side.comp->m); !problem.isEmpty()) {
        error = problem;
        return false;
    }
    TopoDS_Shape taken;
    double best = 1e18;
    for (const ComponentBody& body : componentShape(*side.comp)) {
        double score = 1e18;
        const TopoDS_Shape candidate = findClosestSubShape(body.shape, reference.sig, &score);
        if (!candidate.IsNull() && score < best) {
            taken = candidate;
            best = score;
        }
    }
    if (taken.IsNull()) {
        error = QStringLiteral("Bezugsgeometrie nicht mehr gefunden – Bauteil geändert?");
        return false;
    }
    if (!classifyReference(taken, side)) {
        error = QStringLiteral(
            "Gewähltes Element ist weder eben, zylindrisch, kegelig noch ein Punkt – bitte eine "
            "ebene Fläche, Bohrung/Welle oder Kante wählen");
        return false;
    }
    return true;
}

bool Document::solveMates(QString* message, MateSolveStats* stats)
{
    if (stats)
        *stats = {};
    if (mates.empty())
        return true;
    for (Mate& mate : mates)
        mate.status.clear();

    bool anyActive = false;
    std::vector<MateEquation> equations;
    for (Mate& mate : mates) {
        if (mate.suppressed)
            continue;
        anyActive = true;
        MateEquation equation{&mate, {}, {}, 0.0};
        QString error;
        bool resolved = false;
        try {
            OCC_CATCH_SIGNALS
            resolved = resolveMateReference(mate.a, equation.a, error)
                       && resolveMateReference(mate.b, equation.b, error);
        } catch (const Standard_Failure& e) {
            error = geometryErrorText(e);
        }
        if (!resolved) {
            mate.status = error;
            continue;
        }
        const EvalResult value = tryEval(mate.value);
        equation.value = value.ok ? value.value : 0.0;
        equations.push_back(equation);
    }
    if (!anyActive)
        return true;
    if (equations.empty())
        return false;

    MateSolverContext context;
    std::vector<Component*> free;
    for (const MateEquation& e : equations) {
        for (Component* c : {e.a.comp, e.b.comp}) {
            if (c->grounded || context.offsets.count(c->id))
                continue;
            context.offsets[c->id] = 6 * int(free.size());
            free.push_back(c);
        }
    }
    for (Component* c : free) {
        const gp_Trsf base = c->transform();
        context.bases[c->id] = base;
        context.pivots[c->id] = shapeCentre(componentShape(*c)).Transformed(base);
    }

    std::vector<double> x(6 * free.size(), 0.0);
    int steps = 0;
    double f = squaredLength(allResiduals(context, equations, x));
    // Mates that already hold move nothing, so solving again writes nothing.
    std::set<int> started;
    if (!free.empty() && std::sqrt(f) > heldAlready) {
        started = startNearMates(context, equations);
        f = minimise(context, equations, x, steps);
    }
    if (stats)
        *stats = {steps, std::sqrt(f)};
    for (Component* c : free) {
        const auto o = x.begin() + context.offsets.at(c->id);
        if (started.count(c->id) || std::any_of(o, o + 6, [](double v) { return v != 0.0; }))
            c->setPlacement(solverTransform(context, *c, x));
    }
    if (std::sqrt(f) < satisfied)
        return true;

    for (const MateEquation& e : equations) {
        std::vector<double> rows;
        mateResiduals(context, e, x, rows);
        if (e.mate->status.isEmpty() && !rows.empty() && std::sqrt(squaredLength(rows)) > satisfied)
            e.mate->status = QStringLiteral("Nicht erfüllbar (widersprüchlich oder überbestimmt)");
    }
    if (message)
        *message = QStringLiteral("Beziehungen lassen sich nicht gleichzeitig erfüllen");
    return false;
}

} // namespace qor::model
