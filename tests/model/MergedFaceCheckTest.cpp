#include "model/MergedFaceCheck.h"
#include "model/ChangedFaces.h"
#include "model/ExecContext.h"
#include "tests/common/Seeds.h"
#include "tests/fixtures/CutMergeFiles.h"
#include "tests/fixtures/MergingPlates.h"

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepAlgoAPI_Fuse.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Iterator.hxx>

#include <QDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>

using namespace qor::model;
using namespace qor::test;

namespace {

int wireCount(const TopoDS_Shape& face)
{
    int count = 0;
    for (TopoDS_Iterator w(face); w.More(); w.Next())
        ++count;
    return count;
}

// How often the merges compared gave each verdict, and in how many a made
// face was checked with fewer wires than it holds.
struct Tally {
    int merges = 0;
    int sound = 0;
    int broken = 0;
    int reduced = 0;
};

// Compares the verdict on what the merge changed with the whole made faces' verdict.
void compare(const ChangedFaces& changed, Tally& tally)
{
    const bool whole = facesSound(changed.made);
    EXPECT_EQ(mergedFacesSound(changed), whole) << "merge " << tally.merges;
    ++tally.merges;
    ++(whole ? tally.sound : tally.broken);
    const auto fewerWires = [&](const TopoDS_Shape& made) {
        const std::optional<TopoDS_Face> checked
            = mergedFaceToCheck(TopoDS::Face(made), changed.replaced);
        return !checked || wireCount(*checked) < wireCount(made);
    };
    if (std::any_of(changed.made.cbegin(), changed.made.cend(), fewerWires))
        ++tally.reduced;
}

enum class Step { JoinSide, CutBoss, WiderRim, RimThroughHole, SelfCrossingRim };

// The shape after the step; the step's merge compared.
TopoDS_Shape mergeStep(Step step, std::mt19937& random, const DrilledPlate& plate,
                       const TopoDS_Shape& shape, Tally& tally)
{
    TopoDS_Shape joined;
    switch (step) {
    case Step::JoinSide: {
        BRepAlgoAPI_Fuse fuse;
        buildKeepingInputs(fuse, shape, sideBlock(random, plate));
        joined = fuse.Shape();
        break;
    }
    case Step::CutBoss: {
        BRepAlgoAPI_Cut cut;
        buildKeepingInputs(cut, shape, bossCutter(random, plate));
        joined = cut.Shape();
        break;
    }
    case Step::WiderRim:
        compare(rimReplaced(mostHoledPlane(shape), NewRim::Wider), tally);
        return shape;
    case Step::RimThroughHole:
        compare(rimReplaced(mostHoledPlane(shape), NewRim::CrossingHole), tally);
        return shape;
    case Step::SelfCrossingRim:
        compare(rimReplaced(mostHoledPlane(shape), NewRim::SelfCrossing), tally);
        return shape;
    }
    TopoDS_Shape merged;
    const ChangedFaces changed = sameDomainChanges(joined, &merged);
    if (changed.made.IsEmpty())
        return joined;
    compare(changed, tally);
    return merged;
}

} // namespace

// Joins, cuts and made faces with new rims on plates of many holes and
// bosses, placed anywhere: the check of what each merge changed gives the
// verdict of the check of its whole made faces, both verdicts occur, and
// faces are checked with fewer wires.
TEST(MergedFaceCheck, VerdictOfChangedWiresIsThatOfWholeMadeFaces)
{
    std::mt19937 random(qor::test::seed(20261208));
    const Step steps[] = {
        Step::JoinSide,       Step::CutBoss, Step::JoinSide,        Step::WiderRim, Step::JoinSide,
        Step::RimThroughHole, Step::CutBoss, Step::SelfCrossingRim, Step::JoinSide, Step::WiderRim};
    Tally tally;
    for (int p = 0; p < 12; ++p) {
        const DrilledPlate plate = drilledPlate(random, 16 + 2 * p, 4);
        TopoDS_Shape shape = plate.shape;
        for (const Step step : steps)
            shape = mergeStep(step, random, plate, shape, tally);
    }
    EXPECT_GE(tally.merges, 50);
    EXPECT_GT(tally.sound, 0);
    EXPECT_GT(tally.broken, 0);
    EXPECT_GT(tally.reduced, tally.merges / 3);
}

// A new rim around every hole, through a hole, or crossing itself: the check
// of what changed judges the made face as the check of the whole face does,
// and holds only the wires it needs.
TEST(MergedFaceCheck, NewRimsAreJudgedWithTheHolesTheyMeet)
{
    struct Case {
        NewRim rim;
        bool sound;
        int minWires, maxWires;
    };
    const Case cases[] = {
        {NewRim::Wider, true, 1, 1},
        {NewRim::CrossingHole, false, 2, 20},
        {NewRim::SelfCrossing, false, 1, 1},
    };
    std::mt19937 random(7);
    const DrilledPlate plate = drilledPlate(random, 100, 0);
    const TopoDS_Face face = mostHoledPlane(plate.shape);
    ASSERT_EQ(wireCount(face), 101);
    for (const Case& c : cases) {
        const ChangedFaces changed = rimReplaced(face, c.rim);
        EXPECT_EQ(facesSound(changed.made), c.sound) << int(c.rim);
        EXPECT_EQ(mergedFacesSound(changed), c.sound) << int(c.rim);
        const std::optional<TopoDS_Face> checked
            = mergedFaceToCheck(TopoDS::Face(changed.made.First()), changed.replaced);
        ASSERT_TRUE(checked.has_value());
        EXPECT_GE(wireCount(*checked), c.minWires) << int(c.rim);
        EXPECT_LE(wireCount(*checked), c.maxWires) << int(c.rim);
    }
}

// A face whose wires all come from a replaced face needs no check; a face of
// another surface than a plane is checked whole.
TEST(MergedFaceCheck, UnchangedWiresAndCurvedFaces)
{
    std::mt19937 random(11);
    const DrilledPlate plate = drilledPlate(random, 10, 0);
    const TopoDS_Face face = mostHoledPlane(plate.shape);
    TopTools_ListOfShape replaced;
    replaced.Append(face);
    EXPECT_FALSE(mergedFaceToCheck(face, replaced).has_value());

    const TopoDS_Shape cylinder = BRepPrimAPI_MakeCylinder(5, 10).Shape();
    for (TopExp_Explorer f(cylinder, TopAbs_FACE); f.More(); f.Next()) {
        const TopoDS_Face& side = TopoDS::Face(f.Current());
        TopTools_ListOfShape none;
        const std::optional<TopoDS_Face> checked = mergedFaceToCheck(side, none);
        ASSERT_TRUE(checked.has_value());
        EXPECT_EQ(wireCount(*checked), wireCount(side));
    }
}

// The plate whose cut the merge once broke: the verdicts agree on its merge.
TEST(MergedFaceCheck, CutMergeFilesVerdictIsThatOfWholeMadeFaces)
{
    const std::optional<CutMergePair> files = readCutMergePair();
    if (!files)
        GTEST_SKIP() << "no cut-merge files in " << cutMergeFolder().toStdString();
    const auto& [plate, cylinder] = *files;
    TopoDS_Shape merged;
    const ChangedFaces changed
        = sameDomainChanges(BRepAlgoAPI_Cut(plate, cylinder).Shape(), &merged);
    ASSERT_FALSE(changed.made.IsEmpty());
    Tally tally;
    compare(changed, tally);
    EXPECT_EQ(tally.merges, 1);
}
