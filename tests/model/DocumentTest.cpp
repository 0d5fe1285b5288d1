#include "model/Document.h"

#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRep_Builder.hxx>
#include <TopoDS_Compound.hxx>

#include "tests/common/ShapeChecks.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace qor::model;
using qor::test::box;

namespace {

std::unique_ptr<Feature> makeFeature(int id, const QString& type)
{
    auto f = std::make_unique<Feature>();
    f->id = id;
    f->type = type;
    if (type == QLatin1String("sketch"))
        f->sketch = std::make_unique<qor::sketch::Sketch>();
    return f;
}

void addNamedDimension(qor::sketch::Sketch& sketch, const std::string& name)
{
    const auto circle = sketch.addCircleAt(false, 0, 0, 5);
    sketch.addConstraint(qor::sketch::ConstraintType::Radius, int(circle), -1, -1, 5.0);
    sketch.constraints.back().name = name;
}

} // namespace

TEST(DocumentRecords, MaterialsAndAppearanceFallBackToSteel)
{
    EXPECT_EQ(findMaterial(QStringLiteral("stahl")), nullptr); // names compare case-sensitively

    Document doc;
    doc.appearance[100] = BodyAppearance{QStringLiteral("Messing"), 0.86, 0.72, 0.38, 8.5};
    EXPECT_EQ(doc.bodyAppearance(100).material, QStringLiteral("Messing"));
    const BodyAppearance none = doc.bodyAppearance(101);
    EXPECT_EQ(none.material, QStringLiteral("Stahl"));
    EXPECT_DOUBLE_EQ(none.density, 7.85);
}

TEST(DocumentRecords, BodyNamesAndFeatureLookups)
{
    Document doc;
    Body body;
    body.name = QStringLiteral("Körper 3");
    doc.current.bodies[300] = body;
    EXPECT_EQ(doc.bodyName(300), QStringLiteral("Körper 3"));
    doc.bodyNames[300] = QStringLiteral("Welle");
    EXPECT_EQ(doc.bodyName(300), QStringLiteral("Welle"));
    doc.bodyNames[300] = QString(); // an empty user name is still the user's choice
    EXPECT_TRUE(doc.bodyName(300).isEmpty());
    EXPECT_EQ(doc.bodyName(-7), QStringLiteral("Körper -7"));

    doc.features.push_back(makeFeature(4, QStringLiteral("extrude")));
    doc.features.push_back(makeFeature(9, QStringLiteral("sketch")));
    doc.features.push_back(makeFeature(4, QStringLiteral("fillet"))); // damaged file: duplicate id
    EXPECT_EQ(doc.feature(4), doc.features[0].get());
    EXPECT_EQ(doc.featureIndex(9), 1);
    EXPECT_EQ(doc.feature(5), nullptr);
    EXPECT_EQ(doc.featureIndex(5), -1);
}

TEST(DocumentRecords, ModelSizeAndEmptyShapes)
{
    ModelState state;
    EXPECT_EQ(Document::modelSize(state), 100.0);
    state.bodies[100] = Body{};
    EXPECT_EQ(Document::modelSize(state), 100.0); // null shapes only
    state.bodies[200].shape = box(0.5, 0.5, 0.5);
    EXPECT_EQ(Document::modelSize(state), 1.0);
    state.bodies[300].shape = box(10, 20, 30, gp_Pnt(10, 20, 30));
    // Both bodies: from (0,0,0) to (20,40,60), plus a tiny gap.
    EXPECT_NEAR(Document::modelSize(state), std::sqrt(400.0 + 1600.0 + 3600.0), 1e-5);

    BRep_Builder builder;
    TopoDS_Compound edges;
    builder.MakeCompound(edges);
    EXPECT_TRUE(isEmptyShape(edges));
    builder.Add(edges, BRepBuilderAPI_MakeEdge(gp_Pnt(0, 0, 0), gp_Pnt(1, 0, 0)).Edge());
    EXPECT_TRUE(isEmptyShape(edges));
    EXPECT_TRUE(isEmptyShape(TopoDS_Shape()));
    EXPECT_FALSE(isEmptyShape(box(1, 1, 1)));
}

TEST(DocumentRecords, DimensionNamesAcrossSketches)
{
    Document doc;
    EXPECT_EQ(doc.nextDimensionName(), "d1");
    doc.features.push_back(makeFeature(1, QStringLiteral("sketch")));
    doc.features.push_back(makeFeature(2, QStringLiteral("extrude")));
    doc.features.push_back(makeFeature(3, QStringLiteral("sketch")));
    qor::sketch::Sketch& second = *doc.features[2]->sketch;
    addNamedDimension(*doc.features[0]->sketch, "d1");
    addNamedDimension(*doc.features[0]->sketch, "d12a");
    addNamedDimension(second, "d7");
    // Names that are no plain d and number, or too large for the counter, are ignored.
    for (const char* ignored : {"d007", "D9", "d", "d-9", "d99999999999"})
        addNamedDimension(second, ignored);
    EXPECT_EQ(doc.nextDimensionName(), "d8");
    addNamedDimension(second, "d2147483647");
    EXPECT_EQ(doc.nextDimensionName(), "d2147483648");
}

TEST(DocumentRecords, MovedDocumentNamesDimensionsItself)
{
    const QJsonObject file{{"format", "QorCAD-Bauteil"},
                           {"features", QJsonArray{QJsonObject{{"id", 1}, {"type", "sketch"}}}}};
    auto source = std::make_unique<Document>();
    ASSERT_TRUE(source->fromJson(file));
    Document moved(std::move(*source));
    source.reset();
    moved.features.push_back(makeFeature(2, QStringLiteral("sketch")));
    addNamedDimension(*moved.features[1]->sketch, "d5");

    // The namer of the loaded sketch must ask the document it now belongs to.
    ASSERT_TRUE(bool(moved.features[0]->sketch->dimensionNamer));
    EXPECT_EQ(moved.features[0]->sketch->dimensionNamer(), "d6");

    Document assigned;
    assigned = std::move(moved);
    addNamedDimension(*assigned.features[1]->sketch, "d40");
    EXPECT_EQ(assigned.features[0]->sketch->dimensionNamer(), "d41");
}
