#include "sketch/Sketch.h"

#include "sketch/Constraints.h"
#include "sketch/EntityGeometry.h"

#include <QJsonArray>
#include <QJsonValue>
#include <QString>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <set>
#include <utility>

namespace qor::sketch {

namespace {

auto geometryOf(const Sketch& sketch)
{
    return EntityGeometry{sketch, [&sketch](int id) { return sketch.findEntity(id); }};
}

bool refersTo(const Entity& e, int id)
{
    return id >= 0 && (e.a == id || e.b == id || e.c == id);
}

const char* entityTag(EntityType type)
{
    switch (type) {
    case EntityType::Point: return "p";
    case EntityType::Line: return "l";
    case EntityType::Circle: return "c";
    case EntityType::Arc: return "a";
    }
    return "";
}

// The digits after the 'd' of a dimension name, read the way std::stoi reads them
// (leading blanks and a sign, trailing characters ignored) but without throwing:
// false when there are no digits or the number does not fit 32 bits.
bool parseDimensionNumber(const std::string& text, std::int64_t& value)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const std::size_t firstDigit = i;
    std::int64_t magnitude = 0;
    const std::int64_t limit = std::int64_t(INT_MAX) + 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > limit)
            return false;
    }
    if (i == firstDigit)
        return false;
    value = negative ? -magnitude : magnitude;
    return value >= INT_MIN && value <= INT_MAX;
}

// An id from the file; anything that is not a 32-bit unsigned integer reads as 0.
std::uint32_t readId(const QJsonValue& v)
{
    const qint64 id = v.toInteger(0);
    return id >= 0 && id <= qint64(UINT32_MAX) ? std::uint32_t(id) : 0;
}

} // namespace

const char* constraintTypeName(ConstraintType type)
{
    static constexpr const char* names[] = {
        "Deckungsgleich",     "Punkt auf Kurve", "Horizontal",  "Vertikal", "Parallel",
        "Senkrecht",          "Kollinear",       "Tangential",  "Gleich",   "Mittelpunkt",
        "Symmetrisch",        "Konzentrisch",    "Fixiert",     "Abstand",  "Horizontaler Abstand",
        "Vertikaler Abstand", "Radius",          "Durchmesser", "Winkel",
    };
    const auto index = std::uint32_t(type);
    return index < std::size(names) ? names[index] : "?";
}

bool isDimensional(ConstraintType type)
{
    return type >= ConstraintType::Distance && type <= ConstraintType::Angle;
}

std::uint32_t Sketch::addPoint(bool owned, double x, double y)
{
    Entity e;
    e.id = ++lastId;
    e.type = EntityType::Point;
    e.p0 = int(params.size());
    params.push_back(x);
    e.p1 = int(params.size());
    params.push_back(y);
    e.owned = owned;
    entities.push_back(e);
    return e.id;
}

std::uint32_t Sketch::addLine(int start, int end, bool construction)
{
    Entity e;
    e.id = ++lastId;
    e.type = EntityType::Line;
    e.construction = construction;
    e.a = start;
    e.b = end;
    entities.push_back(e);
    return e.id;
}

std::uint32_t Sketch::addLineAt(bool construction, double x1, double y1, double x2, double y2)
{
    const int start = int(addPoint(true, x1, y1));
    const int end = int(addPoint(true, x2, y2));
    return addLine(start, end, construction);
}

std::uint32_t Sketch::addCircle(int centre, bool construction, double radius)
{
    Entity e;
    e.id = ++lastId;
    e.type = EntityType::Circle;
    e.construction = construction;
    e.a = centre;
    e.p0 = int(params.size());
    params.push_back(radius);
    entities.push_back(e);
    return e.id;
}

std::uint32_t Sketch::addCircleAt(bool construction, double cx, double cy, double r)
{
    const int centre = int(addPoint(true, cx, cy));
    return addCircle(centre, construction, r);
}

std::uint32_t Sketch::addArc(int centre, int start, int end, bool construction)
{
    Entity e;
    e.id = ++lastId;
    e.type = EntityType::Arc;
    e.construction = construction;
    e.a = centre;
    e.b = start;
    e.c = end;
    entities.push_back(e);
    return e.id;
}

std::uint32_t Sketch::addArcAt(bool construction, double cx, double cy, double sx, double sy,
                               double ex, double ey)
{
    // Move the end along its ray onto the circle through the start.
    const Vec2 centre{cx, cy};
    Vec2 end{ex, ey};
    const double r = (Vec2{sx, sy} - centre).length();
    const double d = (end - centre).length();
    if (d > 1e-12)
        end = centre + (end - centre) * (r / d);

    const int c = int(addPoint(true, cx, cy));
    const int s = int(addPoint(true, sx, sy));
    const int e = int(addPoint(true, end.x, end.y));
    return addArc(c, s, e, construction);
}

std::uint32_t Sketch::addConstraint(ConstraintType type, int a, int b, int c, double value)
{
    Constraint k;
    k.id = ++lastId;
    k.type = type;
    k.a = a;
    k.b = b;
    k.c = c;
    k.value = value;
    if (isDimensional(type))
        k.name = dimensionNamer ? dimensionNamer() : defaultDimensionName();

    if (type == ConstraintType::Tangent) {
        const Entity* ea = findEntity(a);
        const Entity* eb = findEntity(b);
        if (ea && eb && ea->type != EntityType::Line && eb->type != EntityType::Line) {
            const double d = (entityAnchor(a) - entityAnchor(b)).length();
            const double ra = radius(a);
            const double rb = radius(b);
            k.value = std::fabs(d - std::fabs(ra - rb)) < std::fabs(d - (ra + rb)) ? 1.0 : 0.0;
        }
    }
    constraints.push_back(std::move(k));
    return constraints.back().id;
}

std::uint32_t Sketch::addDimension(ConstraintType type, int a, int b, int c)
{
    const std::uint32_t id = addConstraint(type, a, b, c, 0.0);
    Constraint& k = constraints.back();
    k.value = measureConstraint(*this, k);
    return id;
}

const Entity* Sketch::findEntity(int id) const
{
    if (id < 0)
        return nullptr;
    // A plain scan: a damaged file may hold ids out of order or twice, and the
    // first record with the id is the one that counts.
    for (const Entity& e : entities)
        if (e.id == std::uint32_t(id))
            return &e;
    return nullptr;
}

Entity* Sketch::findEntity(int id)
{
    return const_cast<Entity*>(std::as_const(*this).findEntity(id));
}

const Constraint* Sketch::findConstraint(int id) const
{
    if (id < 0)
        return nullptr;
    for (const Constraint& c : constraints)
        if (c.id == std::uint32_t(id))
            return &c;
    return nullptr;
}

Constraint* Sketch::findConstraint(int id)
{
    return const_cast<Constraint*>(std::as_const(*this).findConstraint(id));
}

Vec2 Sketch::pointPosition(int id) const
{
    return geometryOf(*this).pointPosition(id);
}

void Sketch::setPointPosition(int id, double x, double y)
{
    const Entity* e = findEntity(id);
    if (!e || e->type != EntityType::Point || !hasParam(e->p0) || !hasParam(e->p1))
        return;
    params[std::size_t(e->p0)] = x;
    params[std::size_t(e->p1)] = y;
}

double Sketch::radius(int id) const
{
    return geometryOf(*this).radius(id);
}

Vec2 Sketch::entityAnchor(int id) const
{
    return geometryOf(*this).entityAnchor(id);
}

int Sketch::startPoint(int id) const
{
    const Entity* e = findEntity(id);
    if (!e)
        return -1;
    if (e->type == EntityType::Line)
        return e->a;
    if (e->type == EntityType::Arc)
        return e->b;
    return -1;
}

int Sketch::endPoint(int id) const
{
    const Entity* e = findEntity(id);
    if (!e)
        return -1;
    if (e->type == EntityType::Line)
        return e->b;
    if (e->type == EntityType::Arc)
        return e->c;
    return -1;
}

std::vector<int> Sketch::pointsOf(int id) const
{
    const Entity* e = findEntity(id);
    if (!e)
        return {};
    if (e->type == EntityType::Point)
        return {id};
    std::vector<int> points;
    for (int p : {e->a, e->b, e->c})
        if (p >= 0)
            points.push_back(p);
    return points;
}

std::vector<int> Sketch::paramsOf(int id) const
{
    const Entity* e = findEntity(id);
    if (!e)
        return {};
    std::vector<int> indices;
    const auto addOwn = [&](int index) {
        if (hasParam(index))
            indices.push_back(index);
    };
    if (e->type == EntityType::Point) {
        addOwn(e->p0);
        addOwn(e->p1);
        return indices;
    }
    // Only points carry coordinates: a reference to anything else adds nothing,
    // so no caller is handed an index outside the vector.
    for (int ref : {e->a, e->b, e->c}) {
        const Entity* p = findEntity(ref);
        if (p && p->type == EntityType::Point) {
            addOwn(p->p0);
            addOwn(p->p1);
        }
    }
    if (e->type == EntityType::Circle)
        addOwn(e->p0);
    return indices;
}

std::string Sketch::defaultDimensionName() const
{
    std::int64_t highest = 0;
    for (const Constraint& c : constraints) {
        std::int64_t n = 0;
        if (c.name.size() >= 2 && c.name[0] == 'd' && parseDimensionNumber(c.name.substr(1), n))
            highest = std::max(highest, n);
    }
    return "d" + std::to_string(highest + 1);
}

void Sketch::eraseEntity(int id)
{
    std::erase_if(entities, [id](const Entity& e) { return id >= 0 && e.id == std::uint32_t(id); });
}

void Sketch::removeEntity(int id)
{
    const Entity* removed = findEntity(id);
    if (!removed)
        return;

    std::set<int> doomed{id};
    if (removed->type == EntityType::Point) {
        for (const Entity& e : entities)
            if (e.type != EntityType::Point && refersTo(e, id))
                doomed.insert(int(e.id));
    } else {
        for (int ref : {removed->a, removed->b, removed->c}) {
            const Entity* p = findEntity(ref);
            if (!p || !p->owned)
                continue;
            const bool sharedByAnotherCurve
                = std::any_of(entities.begin(), entities.end(), [&](const Entity& e) {
                      return e.id != std::uint32_t(id) && e.type != EntityType::Point
                             && refersTo(e, ref);
                  });
            if (!sharedByAnotherCurve)
                doomed.insert(ref);
        }
    }

    std::erase_if(constraints, [&](const Constraint& c) {
        return doomed.count(c.a) || doomed.count(c.b) || doomed.count(c.c);
    });
    std::erase_if(entities, [&](const Entity& e) {
        return e.id <= std::uint32_t(INT_MAX) && doomed.count(int(e.id));
    });
}

void Sketch::removeConstraint(int id)
{
    std::erase_if(constraints,
                  [id](const Constraint& c) { return id >= 0 && c.id == std::uint32_t(id); });
}

void Sketch::clear()
{
    params.clear();
    entities.clear();
    constraints.clear();
    lastId = 0;
}

QJsonObject Sketch::toJson() const
{
    const auto geometry = geometryOf(*this);
    QJsonArray entityArray;
    for (const Entity& e : entities) {
        QJsonObject o;
        o["id"] = qint64(e.id);
        o["t"] = entityTag(e.type);
        switch (e.type) {
        case EntityType::Point:
            o["x"] = geometry.param(e.p0);
            o["y"] = geometry.param(e.p1);
            if (e.owned)
                o["o"] = true;
            break;
        case EntityType::Line:
            o["a"] = e.a;
            o["b"] = e.b;
            break;
        case EntityType::Circle:
            o["c"] = e.a;
            o["r"] = geometry.param(e.p0);
            break;
        case EntityType::Arc:
            o["a"] = e.b;
            o["b"] = e.c;
            o["c"] = e.a;
            break;
        }
        if (e.construction)
            o["k"] = true;
        entityArray.append(o);
    }

    QJsonArray constraintArray;
    for (const Constraint& c : constraints) {
        QJsonObject o;
        o["id"] = qint64(c.id);
        o["t"] = qint64(std::uint32_t(c.type));
        o["a"] = c.a;
        if (c.b >= 0)
            o["b"] = c.b;
        if (c.c >= 0)
            o["c"] = c.c;
        if (c.value != 0.0 || isDimensional(c.type))
            o["v"] = c.value;
        if (!c.name.empty())
            o["n"] = QString::fromStdString(c.name);
        if (!c.expression.empty())
            o["e"] = QString::fromStdString(c.expression);
        if (c.driven)
            o["dr"] = true;
        if (c.labelOffset.x != 0.0 || c.labelOffset.y != 0.0)
            o["lo"] = QJsonArray{c.labelOffset.x, c.labelOffset.y};
        constraintArray.append(o);
    }

    QJsonObject json;
    json["entities"] = entityArray;
    json["constraints"] = constraintArray;
    json["next"] = qint64(lastId);
    return json;
}

void Sketch::fromJson(const QJsonObject& json)
{
    clear();
    // Ids below the largest one read must never be handed out again, whatever the
    // stored counter says.
    std::uint32_t highestId = 0;

    for (const QJsonValue& value : json.value("entities").toArray()) {
        const QJsonObject o = value.toObject();
        const QString tag = o.value("t").toString();
        Entity e;
        e.id = readId(o.value("id"));
        e.construction = o.value("k").toBool(false);
        if (tag == "p") {
            e.type = EntityType::Point;
            e.p0 = int(params.size());
            params.push_back(o.value("x").toDouble(0.0));
            e.p1 = int(params.size());
            params.push_back(o.value("y").toDouble(0.0));
            e.owned = o.value("o").toBool(false);
        } else if (tag == "l") {
            e.type = EntityType::Line;
            e.a = o.value("a").toInt(0);
            e.b = o.value("b").toInt(0);
        } else if (tag == "c") {
            e.type = EntityType::Circle;
            e.a = o.value("c").toInt(0);
            e.p0 = int(params.size());
            params.push_back(o.value("r").toDouble(0.0));
        } else if (tag == "a") {
            e.type = EntityType::Arc;
            e.a = o.value("c").toInt(0);
            e.b = o.value("a").toInt(0);
            e.c = o.value("b").toInt(0);
        } else {
            continue; // a kind this store does not know has no geometry to offer
        }
        highestId = std::max(highestId, e.id);
        entities.push_back(e);
    }

    for (const QJsonValue& value : json.value("constraints").toArray()) {
        const QJsonObject o = value.toObject();
        const qint64 type = o.value("t").toInteger(0);
        if (type < 0 || type > qint64(ConstraintType::Angle))
            continue;
        Constraint c;
        c.id = readId(o.value("id"));
        c.type = ConstraintType(type);
        c.a = o.value("a").toInt(-1);
        c.b = o.value("b").toInt(-1);
        c.c = o.value("c").toInt(-1);
        c.value = o.value("v").toDouble(0.0);
        c.name = o.value("n").toString().toStdString();
        c.expression = o.value("e").toString().toStdString();
        c.driven = o.value("dr").toBool(false);
        const QJsonArray offset = o.value("lo").toArray();
        if (offset.size() == 2)
            c.labelOffset = {offset[0].toDouble(0.0), offset[1].toDouble(0.0)};
        // A constraint on missing geometry or on the wrong kinds has no equation.
        if (!constraintOperandsValid(*this, c))
            continue;
        highestId = std::max(highestId, c.id);
        constraints.push_back(std::move(c));
    }

    lastId = std::max(readId(json.value("next")), highestId);
}

} // namespace qor::sketch
