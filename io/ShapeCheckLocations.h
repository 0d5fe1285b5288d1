#pragma once

#include "io/ShapeCheckLimits.h"

#include <cstdint>
#include <set>
#include <utility>
#include <vector>

namespace qor::io::shapeCheck {

// The location table as the kernel builds it while reading either shape format:
// each entry is a list of (elementary location, power) items.
class LocationTable {
public:
    using Items = std::vector<std::pair<int, std::int64_t>>;

    std::int64_t size() const { return std::int64_t(locations_.size()); }

    void addElementary() { add({{int(locations_.size()) + 1, 1}}, true); }

    // One item of a composed location. Item references must point at elementary
    // entries, as the writer writes them: the kernel would raise anything else to
    // a power by repeated multiplication. False when the item is refused.
    bool appendItem(Items& items, std::int64_t& totalPower, int entry, std::int64_t power) const
    {
        if (entry < 1 || entry > int(locations_.size()) || !elementary_[entry - 1])
            return false;
        totalPower += power < 0 ? -power : power;
        if (totalPower > maxLocationPower || items.size() >= maxLocationItems)
            return false;
        const int datum = locations_[entry - 1].front().first;
        // Powered(0) is the identity; the product appends the item at the tail and
        // merges it with an equal datum there.
        if (power == 0)
            return true;
        if (!items.empty() && items.back().first == datum) {
            items.back().second += power;
            if (items.back().second == 0)
                items.pop_back();
        } else {
            items.emplace_back(datum, power);
        }
        return true;
    }

    void addComposed(const Items& items) { add(items, false); }

private:
    // The kernel's map keeps neither identities nor repeats, which shifts later indices.
    void add(const Items& items, bool elementary)
    {
        if (items.empty() || !seen_.insert(items).second)
            return;
        elementary_.push_back(elementary);
        locations_.push_back(items);
    }

    std::vector<bool> elementary_;
    std::vector<Items> locations_;
    std::set<Items> seen_;
};

} // namespace qor::io::shapeCheck
