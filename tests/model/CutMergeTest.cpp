#include "model/ExecContext.h"

#include <BRepCheck_Analyzer.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace qor::model;

namespace {

// A plate of 76 faces from a random history and a Ø10 mm cylinder across it,
// whose cut the face merge once turned invalid. Beside the source tree; the
// environment variable QOR_CUT_MERGE_FILES moves them.
QString cutMergeFolder()
{
    const QString moved = qEnvironmentVariable("QOR_CUT_MERGE_FILES");
    return moved.isEmpty() ? QStringLiteral(QOR_CUT_MERGE_FILES) : moved;
}

TopoDS_Shape readShape(const QString& path)
{
    TopoDS_Shape shape;
    BRep_Builder builder;
    BRepTools::Read(shape, QFile::encodeName(path).constData(), builder);
    return shape;
}

} // namespace

TEST(CutMerge, CutThroughThePlateStaysAValidBody)
{
    const QDir folder(cutMergeFolder());
    if (!folder.exists(QStringLiteral("plate.brep"))
        || !folder.exists(QStringLiteral("cylinder.brep")))
        GTEST_SKIP() << "no cut-merge files in " << folder.path().toStdString();
    const TopoDS_Shape plate = readShape(folder.filePath(QStringLiteral("plate.brep")));
    const TopoDS_Shape cylinder = readShape(folder.filePath(QStringLiteral("cylinder.brep")));
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
