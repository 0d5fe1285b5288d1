#include "model/ExecContext.h"
#include "tests/fixtures/CutMergeFiles.h"

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
