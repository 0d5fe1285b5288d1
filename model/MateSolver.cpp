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

#include <algorithm>
#include <cmath>
#include <numbers>

namespace qor::model {

namespace {

constexpr int maxAcceptedSteps = 200;
constexpr int maxTries = 12;
constexpr double initialDamping = 1e-6;
constexpr double minDamping = 1e-12;
constexpr double converged = 1e-9;
constexpr double satisfied = 1e-4;
constexpr double rotationStep = 1e-7;
constexpr double translationStep = 1e-6;
constexpr double angleRowWeight = 50.0;

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
                std::vector<double>& x)
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
            Eigen::MatrixXd damped = n;
            damped.diagonal().array() += lambda * (n.diagonal().array() + 1.0);
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

bool Document::solveMates(QString* message)
{
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
    const double f = free.empty() ? squaredLength(allResiduals(context, equations, x))
                                  : minimise(context, equations, x);
    for (Component* c : free)
        c->setPlacement(solverTransform(context, *c, x));
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
