#pragma once

#include <QJsonObject>

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qor::sketch {

// A position or vector in sketch coordinates (millimetres).
struct Vec2 {
    double x = 0.0;
    double y = 0.0;

    double length() const { return std::hypot(x, y); }
    double dot(Vec2 o) const { return x * o.x + y * o.y; }
    bool isFinite() const { return std::isfinite(x) && std::isfinite(y); }
    Vec2 operator+(Vec2 o) const { return {x + o.x, y + o.y}; }
    Vec2 operator-(Vec2 o) const { return {x - o.x, y - o.y}; }
    Vec2 operator*(double s) const { return {x * s, y * s}; }
};

enum class EntityType : std::uint32_t { Point = 0, Line = 1, Circle = 2, Arc = 3 };

// Point ids a, b, c and parameter indices p0, p1 use -1 for none.
// Line: a start, b end. Circle: a centre, p0 radius. Arc: a centre, b start, c end.
// Point: p0 = x, p1 = y.
struct Entity {
    std::uint32_t id = 0;
    EntityType type = EntityType::Point;
    bool construction = false;
    std::int32_t a = -1;
    std::int32_t b = -1;
    std::int32_t c = -1;
    std::int32_t p0 = -1;
    std::int32_t p1 = -1;
    // Created together with a curve; deleted with it when no other curve uses it.
    bool owned = false;
};

enum class ConstraintType : std::uint32_t {
    Coincident = 0,
    PointOnCurve = 1,
    Horizontal = 2,
    Vertical = 3,
    Parallel = 4,
    Perpendicular = 5,
    Collinear = 6,
    Tangent = 7,
    Equal = 8,
    Midpoint = 9,
    Symmetric = 10,
    Concentric = 11,
    Fixed = 12,
    Distance = 13,
    HorizontalDistance = 14,
    VerticalDistance = 15,
    Radius = 16,
    Diameter = 17,
    Angle = 18,
};

// German label of a constraint kind; "?" for an unknown number.
const char* constraintTypeName(ConstraintType type);
// True for the kinds that carry a value (13 to 18).
bool isDimensional(ConstraintType type);

struct Constraint {
    std::uint32_t id = 0;
    ConstraintType type = ConstraintType::Coincident;
    std::int32_t a = -1;
    std::int32_t b = -1;
    std::int32_t c = -1;
    // Millimetres, radians for Angle; for Tangent 1 internal, 0 external.
    double value = 0.0;
    std::string name; // dimension name such as "d3"
    std::string expression; // drives the value at recompute; empty when typed directly
    bool driven = false; // reference dimension: measured only, no equation
    Vec2 labelOffset;
};

// The 2D content of one sketch feature. Plain data: the plane belongs to the feature.
// Parameters are only ever appended, so indices held by entities stay valid.
class Sketch {
public:
    std::function<std::string()> dimensionNamer;
    std::vector<double> params;
    std::vector<Entity> entities;
    std::vector<Constraint> constraints;
    std::uint32_t lastId = 0;

    std::uint32_t addPoint(bool owned, double x, double y);
    std::uint32_t addLine(int start, int end, bool construction);
    std::uint32_t addLineAt(bool construction, double x1, double y1, double x2, double y2);
    std::uint32_t addCircle(int centre, bool construction, double radius);
    std::uint32_t addCircleAt(bool construction, double cx, double cy, double r);
    std::uint32_t addArc(int centre, int start, int end, bool construction);
    std::uint32_t addArcAt(bool construction, double cx, double cy, double sx, double sy, double ex,
                           double ey);
    std::uint32_t addConstraint(ConstraintType type, int a, int b, int c, double value);
    std::uint32_t addDimension(ConstraintType type, int a, int b, int c);

    // True when `index` names an entry of params.
    bool hasParam(int index) const { return index >= 0 && std::size_t(index) < params.size(); }

    // Lookups are linear scans; negative ids never match.
    const Entity* findEntity(int id) const;
    Entity* findEntity(int id);
    const Constraint* findConstraint(int id) const;
    Constraint* findConstraint(int id);

    Vec2 pointPosition(int id) const;
    void setPointPosition(int id, double x, double y);
    double radius(int id) const;
    Vec2 entityAnchor(int id) const;
    int startPoint(int id) const;
    int endPoint(int id) const;
    std::vector<int> pointsOf(int id) const;
    std::vector<int> paramsOf(int id) const;
    std::string defaultDimensionName() const;

    void eraseEntity(int id);
    void removeEntity(int id);
    void removeConstraint(int id);
    void clear();

    QJsonObject toJson() const;
    void fromJson(const QJsonObject& json);
};

} // namespace qor::sketch
