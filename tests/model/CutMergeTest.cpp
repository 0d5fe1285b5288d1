#include "model/ExecContext.h"
#include "tests/fixtures/CutMergeFiles.h"

#include <BRepCheck_Analyzer.hxx>

#include <QDir>

#include <gtest/gtest.h>

using namespace qor::model;
using qor::test::cutMergeFolder;
using qor::test::readBrepFile;

TEST(CutMerge, CutThroughThePlateStaysAValidBody)
{
    const QDir folder(cutMergeFolder());
    if (!folder.exists(QStringLiteral("plate.brep"))
        || !folder.exists(QStringLiteral("cylinder.brep")))
        GTEST_SKIP() << "no cut-merge files in " << folder.path().toStdString();
    const TopoDS_Shape plate = readBrepFile(folder.filePath(QStringLiteral("plate.brep")));
    const TopoDS_Shape cylinder = readBrepFile(folder.filePath(QStringLiteral("cylinder.brep")));
    ASSERT_FALSE(plate.IsNull());
    ASSERT_FALSE(cylinder.IsNull());
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
