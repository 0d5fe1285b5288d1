#pragma once

#include <Bnd_Box.hxx>
#include <NCollection_UBTree.hxx>
#include <gp_Pnt.hxx>

#include <memory>
#include <vector>

namespace qor::model {

// Boxes found by a test that rejects them: a tree of the boxes where there
// are many (a long history's body has hundreds of faces, a group of holes a
// hundred tools, and a point meets few), a plain scan where there are few.
class BoxIndex {
public:
    BoxIndex() = default;
    explicit BoxIndex(std::vector<Bnd_Box> boxes);
    BoxIndex(BoxIndex&&) noexcept;
    BoxIndex& operator=(BoxIndex&&) noexcept;
    ~BoxIndex();

    std::size_t size() const { return boxes_.size(); }
    const Bnd_Box& box(std::size_t i) const { return boxes_[i]; }

    // The indexes of the boxes `rejects` keeps, in `found`: in rising order
    // for few boxes, in the tree's order for many.
    template <typename Rejects> void kept(Rejects rejects, std::vector<int>& found) const;

    // The boxes that, enlarged by `reach`, hold the point.
    void near(const gp_Pnt& point, double reach, std::vector<int>& found) const;

private:
    using Tree = NCollection_UBTree<int, Bnd_Box>;

    // The tree's selector behind a plain function, so that the template
    // above needs no kernel headers beyond the tree's.
    void select(bool (*rejects)(const Bnd_Box&, const void*), const void* test,
                std::vector<int>& found) const;

    std::vector<Bnd_Box> boxes_;
    std::unique_ptr<Tree> tree_;
};

template <typename Rejects> void BoxIndex::kept(Rejects rejects, std::vector<int>& found) const
{
    found.clear();
    if (tree_) {
        select([](const Bnd_Box& box, const void* test) {
            return (*static_cast<const Rejects*>(test))(box);
        }, &rejects, found);
        return;
    }
    for (std::size_t i = 0; i < boxes_.size(); ++i) {
        if (!rejects(boxes_[i]))
            found.push_back(int(i));
    }
}

} // namespace qor::model
