#pragma once

#include <cstddef>
#include <numeric>
#include <vector>

namespace qor::io {

// Groups of numbered items joined pair by pair (union-find with path halving): the
// mesh code uses it to gather triangles and cells that touch into parts.
class DisjointSets {
public:
    explicit DisjointSets(std::size_t items)
        : parent_(items)
    {
        std::iota(parent_.begin(), parent_.end(), 0);
    }

    int root(int item)
    {
        while (parent_[std::size_t(item)] != item)
            item = parent_[std::size_t(item)] = parent_[std::size_t(parent_[std::size_t(item)])];
        return item;
    }

    void join(int a, int b) { parent_[std::size_t(root(a))] = root(b); }

private:
    std::vector<int> parent_;
};

} // namespace qor::io
