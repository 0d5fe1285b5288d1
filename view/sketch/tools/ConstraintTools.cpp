#include "view/sketch/tools/ConstraintTools.h"

#include "sketch/Constraints.h"
#include "sketch/Dof.h"
#include "view/sketch/SketchPrompts.h"

#include <algorithm>
#include <cmath>

namespace qor::app {

using sketch::ConstraintType;
using sketch::EntityType;
using sketch::Sketch;
using sketch::Vec2;

namespace {

enum class Outcome { Added, Wait, Reject };

bool isType(const Sketch& s, int id, EntityType type)
{
    const sketch::Entity* e = s.findEntity(id);
    return e && e->type == type;
}

// Evaluates the picks for one constraint kind; every add goes through the redundancy check.
class ConstraintPicks {
public:
    ConstraintPicks(Sketch& s, const std::vector<std::uint32_t>& picks)
        : s_(s)
        , picks_(picks)
    {
    }

    QString refusal;

    Outcome decide(ConstraintType type)
    {
        switch (type) {
        case ConstraintType::Coincident:
            if (!needs(2))
                return Outcome::Wait;
            if (isPoint(0) && isPoint(1))
                return result(add(ConstraintType::Coincident, pick(0), pick(1)));
            return isPoint(0) != isPoint(1) ? pointAndCurve(ConstraintType::PointOnCurve)
                                            : Outcome::Reject;
        case ConstraintType::PointOnCurve:
            if (!needs(2))
                return Outcome::Wait;
            return isPoint(0) != isPoint(1) ? pointAndCurve(type) : Outcome::Reject;
        case ConstraintType::Midpoint:
            if (!needs(2))
                return Outcome::Wait;
            return (isPoint(0) && isLine(1)) || (isLine(0) && isPoint(1)) ? pointAndCurve(type)
                                                                          : Outcome::Reject;
        case ConstraintType::Horizontal:
        case ConstraintType::Vertical:
            if (isLine(0))
                return result(add(type, pick(0)));
            if (!isPoint(0))
                return Outcome::Reject;
            return needs(2) && isPoint(1) ? result(add(type, pick(0), pick(1))) : Outcome::Wait;
        case ConstraintType::Parallel:
        case ConstraintType::Perpendicular:
        case ConstraintType::Collinear:
            if (!needs(2))
                return Outcome::Wait;
            return isLine(0) && isLine(1) ? result(add(type, pick(0), pick(1))) : Outcome::Reject;
        case ConstraintType::Tangent:
            if (!needs(2))
                return Outcome::Wait;
            return !isPoint(0) && !isPoint(1) && (isRound(0) || isRound(1))
                       ? result(add(type, pick(0), pick(1)))
                       : Outcome::Reject;
        case ConstraintType::Equal:
        case ConstraintType::Concentric: {
            if (!needs(2))
                return Outcome::Wait;
            const bool lines = type == ConstraintType::Equal && isLine(0) && isLine(1);
            return lines || (isRound(0) && isRound(1)) ? result(add(type, pick(0), pick(1)))
                                                       : Outcome::Reject;
        }
        case ConstraintType::Symmetric:
            if (!needs(3))
                return Outcome::Wait;
            if (isLine(0) && isLine(1) && isLine(2))
                return result(add(type, s_.startPoint(pick(0)), s_.startPoint(pick(1)), pick(2))
                              && add(type, s_.endPoint(pick(0)), s_.endPoint(pick(1)), pick(2)));
            return isPoint(0) && isPoint(1) && isLine(2)
                       ? result(add(type, pick(0), pick(1), pick(2)))
                       : Outcome::Reject;
        case ConstraintType::Fixed: {
            const std::vector<int> points = s_.pointsOf(pick(0));
            bool any = false;
            for (int p : points)
                any = add(type, p) || any;
            return result(any);
        }
        default: return Outcome::Reject;
        }
    }

private:
    int pick(std::size_t i) const { return int(picks_[i]); }
    bool needs(std::size_t count) const { return picks_.size() >= count; }
    bool isPoint(std::size_t i) const { return isType(s_, pick(i), EntityType::Point); }
    bool isLine(std::size_t i) const { return isType(s_, pick(i), EntityType::Line); }
    bool isRound(std::size_t i) const { return isCircleOrArc(s_, pick(i)); }
    static Outcome result(bool added) { return added ? Outcome::Added : Outcome::Reject; }

    bool add(ConstraintType type, int a, int b = -1, int c = -1)
    {
        return addConstraintChecked(s_, type, a, b, c, 0.0, refusal);
    }
    // The point comes first, whichever was picked first.
    Outcome pointAndCurve(ConstraintType type)
    {
        const std::size_t p = isPoint(0) ? 0 : 1;
        return result(add(type, pick(p), pick(1 - p)));
    }

    Sketch& s_;
    const std::vector<std::uint32_t>& picks_;
};

bool parallel(const Sketch& s, int a, int b)
{
    const Vec2 d1 = s.pointPosition(s.endPoint(a)) - s.pointPosition(s.startPoint(a));
    const Vec2 d2 = s.pointPosition(s.endPoint(b)) - s.pointPosition(s.startPoint(b));
    return std::fabs(d1.x * d2.y - d1.y * d2.x) / (d1.length() * d2.length()) < 1e-6;
}

bool within(double value, double low, double high, double slack = 0.0)
{
    return value >= low - slack && value <= high + slack;
}

// Horizontal or vertical distance between two positions, by where the label sits: beside
// them a vertical one, above or below a horizontal one, anything else the plain distance.
ConstraintType axisDistanceFor(Vec2 p, Vec2 q, Vec2 label, double slack)
{
    const double xmin = std::min(p.x, q.x), xmax = std::max(p.x, q.x);
    const double ymin = std::min(p.y, q.y), ymax = std::max(p.y, q.y);
    if (!within(label.x, xmin, xmax) && within(label.y, ymin, ymax, slack))
        return ConstraintType::VerticalDistance;
    if (!within(label.y, ymin, ymax) && within(label.x, xmin, xmax, slack))
        return ConstraintType::HorizontalDistance;
    return ConstraintType::Distance;
}

} // namespace

ToolResult applyConstraintPicks(Sketch& sketch, SketchHistory& history, ToolStep& step,
                                ConstraintType type, const SketchHit& hit)
{
    std::vector<std::uint32_t>& picks = step.picks;
    if ((hit.kind == HitKind::Point || hit.kind == HitKind::Curve)
        && std::find(picks.begin(), picks.end(), std::uint32_t(hit.id)) == picks.end())
        picks.push_back(std::uint32_t(hit.id));
    history.push(sketch);
    ConstraintPicks evaluation(sketch, picks);
    const Outcome outcome = picks.empty() ? Outcome::Wait : evaluation.decide(type);
    ToolResult done = toolMessage(evaluation.refusal, true);
    if (outcome == Outcome::Added) {
        picks.clear();
        done.changed = true;
        return done;
    }
    // A refused half of a two-part constraint must not stay behind.
    if (outcome == Outcome::Reject) {
        sketch.fromJson(history.undoStack.back());
        picks.clear();
    }
    history.dropLast();
    return done;
}

ToolResult dimensionClick(Sketch& sketch, SketchHistory& history, ToolStep& step,
                          const SketchHit& hit, std::optional<Vec2> labelPosition)
{
    std::vector<std::uint32_t>& picks = step.picks;
    if (hit.kind == HitKind::Point || hit.kind == HitKind::Curve) {
        if (std::find(picks.begin(), picks.end(), std::uint32_t(hit.id)) == picks.end())
            picks.push_back(std::uint32_t(hit.id));
        if (picks.size() > 2)
            picks.erase(picks.begin());
        return {};
    }
    if (!picks.empty())
        return placeDimension(sketch, history, step, labelPosition);
    if (hit.kind == HitKind::Label)
        return {false, {}, false, hit.id};
    return {};
}

ToolResult placeDimension(Sketch& s, SketchHistory& history, ToolStep& step,
                          std::optional<Vec2> labelPosition)
{
    std::vector<std::uint32_t>& picks = step.picks;
    if (!labelPosition || picks.empty())
        return {};
    const Vec2 label = *labelPosition;
    const int a = int(picks[0]);
    const auto kindOf = [&](int id) {
        const sketch::Entity* e = s.findEntity(id);
        return e ? e->type : EntityType::Point;
    };
    ConstraintType type = ConstraintType::Distance;
    int first = a;
    int second = -1;
    if (picks.size() >= 2) {
        const int b = int(picks[1]);
        const EntityType ta = kindOf(a), tb = kindOf(b);
        const auto round
            = [](EntityType t) { return t == EntityType::Circle || t == EntityType::Arc; };
        second = b;
        if (ta == EntityType::Line && tb == EntityType::Line) {
            type = parallel(s, a, b) ? ConstraintType::Distance : ConstraintType::Angle;
        } else if (ta == EntityType::Point && tb == EntityType::Point) {
            type = axisDistanceFor(s.pointPosition(a), s.pointPosition(b), label, 1e-9);
        } else if (ta == EntityType::Line && tb == EntityType::Point) {
            first = b; // a point to a line is measured from the point
            second = a;
        } else if (!(ta == EntityType::Point || tb == EntityType::Point)
                   && !(round(ta) && round(tb))) {
            picks.clear();
            return toolMessage(QStringLiteral("Diese Kombination lässt sich nicht bemaßen"), true);
        }
    } else if (kindOf(a) == EntityType::Circle) {
        type = ConstraintType::Diameter;
    } else if (kindOf(a) == EntityType::Arc) {
        type = ConstraintType::Radius;
    } else if (kindOf(a) == EntityType::Line) {
        const Vec2 start = s.pointPosition(s.startPoint(a));
        const Vec2 end = s.pointPosition(s.endPoint(a));
        const bool oblique = std::fabs(start.x - end.x) > 1e-6 && std::fabs(start.y - end.y) > 1e-6;
        type = oblique ? axisDistanceFor(start, end, label, 0.0) : ConstraintType::Distance;
        if (type != ConstraintType::Distance) {
            first = s.startPoint(a);
            second = s.endPoint(a);
        }
    } else {
        return {};
    }
    picks.clear();
    return addDimension(s, history, type, first, second, label);
}

ToolResult addDimension(Sketch& s, SketchHistory& history, ConstraintType type, int a, int b,
                        Vec2 labelPosition)
{
    history.push(s);
    sketch::Constraint candidate;
    candidate.type = type;
    candidate.a = a;
    candidate.b = b;
    double value = sketch::measureConstraint(s, candidate);
    if (type == ConstraintType::HorizontalDistance || type == ConstraintType::VerticalDistance)
        value = std::fabs(value);
    candidate.value = value;
    const bool driven = sketch::isRedundant(s, candidate);
    const int id = int(s.addConstraint(type, a, b, -1, value));
    sketch::Constraint& dimension = *s.findConstraint(id);
    dimension.driven = driven;
    Vec2 anchor = s.entityAnchor(a);
    if (b >= 0)
        anchor = (anchor + s.entityAnchor(b)) * 0.5;
    dimension.labelOffset = labelPosition - anchor;
    if (driven)
        return {true, QStringLiteral("Referenzmaß angelegt – die Skizze wäre sonst überbestimmt"),
                false, -1};
    return {true, {}, false, id};
}

} // namespace qor::app
