#pragma once

#include "sketch/Sketch.h"

#include <unordered_map>

namespace qor::sketch {

// The sketch's lookups by id through a hash, for work over every curve of a
// large sketch: Sketch's own lookups scan the entity list and make such work
// quadratic. The same rule holds: the first record with an id is the one that
// counts. Valid while the sketch's entities and parameters stay unchanged.
class EntityIndex {
public:
    explicit EntityIndex(const Sketch& sketch);

    const Entity* find(int id) const;
    // As Sketch::pointPosition, Sketch::radius and Sketch::entityAnchor.
    Vec2 pointPosition(int id) const;
    double radius(int id) const;
    Vec2 entityAnchor(int id) const;
    // True when two records share an id.
    bool hasRepeatedIds() const { return repeated_; }

private:
    const Sketch& sketch_;
    std::unordered_map<std::uint32_t, const Entity*> byId_;
    bool repeated_ = false;
};

} // namespace qor::sketch
