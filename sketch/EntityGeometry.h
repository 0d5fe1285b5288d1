#pragma once

#include "sketch/Sketch.h"

namespace qor::sketch {

// Where a sketch's points, circles and arcs lie, written once for both ways of
// finding an entity by id: the sketch's own scan of its list and the hashed
// index that work over every curve of a large sketch uses. find(id) gives the
// entity or null.
template <class Find> struct EntityGeometry {
    const Sketch& sketch;
    Find find;

    double param(int index) const
    {
        return sketch.hasParam(index) ? sketch.params[std::size_t(index)] : 0.0;
    }

    Vec2 pointPosition(int id) const
    {
        const Entity* e = find(id);
        if (!e || e->type != EntityType::Point)
            return {};
        return {param(e->p0), param(e->p1)};
    }

    double radius(int id) const
    {
        const Entity* e = find(id);
        if (!e)
            return 0.0;
        if (e->type == EntityType::Circle)
            return param(e->p0);
        if (e->type == EntityType::Arc)
            return (pointPosition(e->b) - pointPosition(e->a)).length();
        return 0.0;
    }

    Vec2 entityAnchor(int id) const
    {
        const Entity* e = find(id);
        if (!e)
            return {};
        switch (e->type) {
        case EntityType::Point: return pointPosition(id);
        case EntityType::Circle:
        case EntityType::Arc: return pointPosition(e->a);
        case EntityType::Line: break;
        }
        return (pointPosition(e->a) + pointPosition(e->b)) * 0.5;
    }
};

template <class Find> EntityGeometry(const Sketch&, Find) -> EntityGeometry<Find>;

} // namespace qor::sketch
