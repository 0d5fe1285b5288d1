#include "sketch/EntityIndex.h"

#include "sketch/EntityGeometry.h"

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

namespace {

auto geometryOf(const EntityIndex& index, const Sketch& sketch)
{
    return EntityGeometry{sketch, [&index](int id) { return index.find(id); }};
}

} // namespace

Vec2 EntityIndex::pointPosition(int id) const
{
    return geometryOf(*this, sketch_).pointPosition(id);
}

double EntityIndex::radius(int id) const
{
    return geometryOf(*this, sketch_).radius(id);
}

Vec2 EntityIndex::entityAnchor(int id) const
{
    return geometryOf(*this, sketch_).entityAnchor(id);
}

} // namespace qor::sketch
