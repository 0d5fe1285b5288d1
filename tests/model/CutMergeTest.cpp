#include "model/ExecContext.h"
#include "tests/fixtures/CutMergeFiles.h"
#include "tests/fixtures/MergingPlates.h"

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepCheck_Analyzer.hxx>

#include <QDir>

#include <gtest/gtest.h>

using namespace qor::model;
using qor::test::cutMergeFolder;
using qor::test::CutMergePair;
using qor::test::readCutMergePair;

TEST(CutMerge, CutThroughThePlateStaysAValidBody)
{
    const std::optional<CutMergePair> files = readCutMergePair();
    if (!files)
        GTEST_SKIP() << "no cut-merge files in " << cutMergeFolder().toStdString();
    const auto& [plate, cylinder] = *files;
    ASSERT_TRUE(BRepCheck_Analyzer(plate).IsValid());

    Document doc;
    Feature feature;
    ModelState state;
    ExecContext context{doc, feature, state};
    feature.id = 3;
    addNewBody(context, plate);
    feature.id = 9;
    ASSERT_EQ(applyBoolean(context, cylinder, QStringLiteral("cut"), {}), std::vector<int>{300});

    const TopoDS_Shape& cut = state.bodies.at(300).shape;
    EXPECT_TRUE(BRepCheck_Analyzer(cut).IsValid());
    EXPECT_NEAR(shapeVolume(cut), 238769.72, 0.01);
    EXPECT_TRUE(feature.warning.isEmpty());
    // The plate as read stays as it was.
    EXPECT_TRUE(BRepCheck_Analyzer(plate).IsValid());
}

// The fault of the files above, made in every run: grooves whose cylinder touches a notch's
// wall. The kernel's cut is valid and its same-domain merge is not; the cut keeps the faces
// as they were and the body as the kernel cut it.
TEST(CutMerge, GrooveTouchingANotchStaysAValidBody)
{
    for (const double radius : {3.0, 4.0, 5.0}) {
        for (const double height : {7.5, 8.0}) {
            SCOPED_TRACE(testing::Message() << "radius " << radius << ", axis at " << height);
            const auto [plate, cylinder] = qor::test::notchedPlateAndGroove(radius, height);
            const TopoDS_Shape kernelCut = BRepAlgoAPI_Cut(plate, cylinder).Shape();
            ASSERT_TRUE(BRepCheck_Analyzer(kernelCut).IsValid());
            TopoDS_Shape merged;
            qor::test::sameDomainChanges(kernelCut, &merged);
            ASSERT_FALSE(BRepCheck_Analyzer(merged).IsValid())
                << "the merge spoils this cut no more";

            Document doc;
            Feature feature;
            ModelState state;
            ExecContext context{doc, feature, state};
            feature.id = 3;
            addNewBody(context, plate);
            feature.id = 9;
            const std::vector<int> made
                = applyBoolean(context, cylinder, QStringLiteral("cut"), {});
            ASSERT_EQ(made.size(), 1u);
            const TopoDS_Shape& cut = state.bodies.at(made.front()).shape;
            EXPECT_TRUE(BRepCheck_Analyzer(cut).IsValid());
            EXPECT_NEAR(shapeVolume(cut), shapeVolume(kernelCut), 1e-6);
            EXPECT_TRUE(feature.warning.isEmpty()) << feature.warning.toStdString();
        }
    }
}
