#include "sketch/EntityIndex.h"

namespace qor::sketch {

EntityIndex::EntityIndex(const Sketch& sketch)
    : sketch_(sketch)
{
    byId_.reserve(sketch.entities.size());
    for (const Entity& e : sketch.entities) {
        if (!byId_.try_emplace(e.id, &e).second)
            repeated_ = true;
    }
}

const Entity* EntityIndex::find(int id) const
{
    if (id < 0)
        return nullptr;
    const auto it = byId_.find(std::uint32_t(id));
    return it == byId_.end() ? nullptr : it->second;
}

double EntityIndex::param(int index) const
{
    return sketch_.hasParam(index) ? sketch_.params[std::size_t(index)] : 0.0;
}

Vec2 EntityIndex::pointPosition(int id) const
{
    const Entity* e = find(id);
    if (!e || e->type != EntityType::Point)
        return {};
    return {param(e->p0), param(e->p1)};
}

double EntityIndex::radius(int id) const
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

Vec2 EntityIndex::entityAnchor(int id) const
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

} // namespace qor::sketch
