#include "model/BoxIndex.h"

#include <NCollection_UBTreeFiller.hxx>

namespace qor::model {
namespace {

// Fewer boxes are scanned one by one: building the tree costs more than
// the scans it saves.
constexpr std::size_t treeFrom = 24;

class Collector : public NCollection_UBTree<int, Bnd_Box>::Selector {
public:
    Collector(std::vector<int>& found, bool (*rejects)(const Bnd_Box&, const void*),
              const void* test)
        : found_(found)
        , rejects_(rejects)
        , test_(test)
    {
    }
    Standard_Boolean Reject(const Bnd_Box& box) const override { return rejects_(box, test_); }
    Standard_Boolean Accept(const int& index) override
    {
        found_.push_back(index);
        return Standard_True;
    }

private:
    std::vector<int>& found_;
    bool (*rejects_)(const Bnd_Box&, const void*);
    const void* test_;
};

} // namespace

BoxIndex::BoxIndex(std::vector<Bnd_Box> boxes)
    : boxes_(std::move(boxes))
{
    if (boxes_.size() < treeFrom)
        return;
    tree_ = std::make_unique<Tree>();
    NCollection_UBTreeFiller<int, Bnd_Box> filler(*tree_);
    for (std::size_t i = 0; i < boxes_.size(); ++i)
        filler.Add(int(i), boxes_[i]);
    filler.Fill();
}

BoxIndex::BoxIndex(BoxIndex&&) noexcept = default;
BoxIndex& BoxIndex::operator=(BoxIndex&&) noexcept = default;
BoxIndex::~BoxIndex() = default;

void BoxIndex::select(bool (*rejects)(const Bnd_Box&, const void*), const void* test,
                      std::vector<int>& found) const
{
    Collector collector(found, rejects, test);
    tree_->Select(collector);
}

void BoxIndex::near(const gp_Pnt& point, double reach, std::vector<int>& found) const
{
    kept(
        [&point, reach](const Bnd_Box& box) {
            Bnd_Box enlarged = box;
            enlarged.Enlarge(reach);
            return enlarged.IsOut(point);
        },
        found);
}

} // namespace qor::model
