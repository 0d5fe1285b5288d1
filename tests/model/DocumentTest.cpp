#include "model/Document.h"

#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRep_Builder.hxx>
#include <TopoDS_Compound.hxx>
#include <gtest/gtest.h>

#include <cmath>

using namespace qor::model;

namespace {

std::unique_ptr<Feature> makeFeature(int id, const QString& type)
{
    auto f = std::make_unique<Feature>();
    f->id = id;
    f->type = type;
    f->name = type + QString::number(id);
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

TEST(DocumentRecords, MaterialTable)
{
    const auto& table = materials();
    ASSERT_EQ(table.size(), 13u);
    EXPECT_EQ(&materials(), &table); // built once
    EXPECT_EQ(findMaterial(QStringLiteral("Stahl")), &table[0]);
    EXPECT_EQ(findMaterial(QStringLiteral("stahl")), nullptr);
    EXPECT_EQ(findMaterial(QStringLiteral("Holz (Buche)")), &table[10]);
    EXPECT_EQ(findMaterial(QString()), nullptr);
}

TEST(DocumentRecords, BodyAppearanceFallsBackToSteel)
{
    Document doc;
    const BodyAppearance none = doc.bodyAppearance(100);
    EXPECT_EQ(none.material, QStringLiteral("Stahl"));
    EXPECT_DOUBLE_EQ(none.density, 7.85);

    doc.appearance[100] = BodyAppearance{QStringLiteral("Messing"), 0.86, 0.72, 0.38, 8.5};
    EXPECT_EQ(doc.bodyAppearance(100).material, QStringLiteral("Messing"));
    EXPECT_EQ(doc.bodyAppearance(101).material, QStringLiteral("Stahl"));
}

TEST(DocumentRecords, BodyNamePrecedence)
{
    Document doc;
    Body body;
    body.id = 300;
    body.name = QStringLiteral("Körper 3");
    doc.current.bodies[300] = body;

    EXPECT_EQ(doc.bodyName(300), QStringLiteral("Körper 3"));
    doc.bodyNames[300] = QStringLiteral("Welle");
    EXPECT_EQ(doc.bodyName(300), QStringLiteral("Welle"));
    // An empty user name is still the user's choice.
    doc.bodyNames[300] = QString();
    EXPECT_TRUE(doc.bodyName(300).isEmpty());

    EXPECT_EQ(doc.bodyName(1234), QStringLiteral("Körper 1234"));
    EXPECT_EQ(doc.bodyName(-7), QStringLiteral("Körper -7"));
}

TEST(DocumentRecords, FeatureLookups)
{
    Document doc;
    doc.features.push_back(makeFeature(4, QStringLiteral("extrude")));
    doc.features.push_back(makeFeature(9, QStringLiteral("sketch")));
    doc.features.push_back(makeFeature(4, QStringLiteral("fillet"))); // damaged file: duplicate id

    EXPECT_EQ(doc.feature(9), doc.features[1].get());
    EXPECT_EQ(doc.feature(4)->type, QStringLiteral("extrude"));
    EXPECT_EQ(doc.featureIndex(4), 0);
    EXPECT_EQ(doc.featureIndex(9), 1);
    EXPECT_EQ(doc.feature(5), nullptr);
    EXPECT_EQ(doc.featureIndex(5), -1);
}

TEST(DocumentRecords, ModelSizeMeasuresAllBodies)
{
    ModelState state;
    EXPECT_EQ(Document::modelSize(state), 100.0);

    state.bodies[100] = Body{};
    EXPECT_EQ(Document::modelSize(state), 100.0); // null shapes only

    Body cube;
    cube.shape = BRepPrimAPI_MakeBox(0.5, 0.5, 0.5).Shape();
    state.bodies[200] = cube;
    EXPECT_EQ(Document::modelSize(state), 1.0);

    Body box;
    box.shape = BRepPrimAPI_MakeBox(gp_Pnt(10, 20, 30), 10, 20, 30).Shape();
    state.bodies[300] = box;
    // Both bodies: from (0,0,0) to (20,40,60), plus a tiny gap.
    EXPECT_NEAR(Document::modelSize(state), std::sqrt(400.0 + 1600.0 + 3600.0), 1e-5);
}

TEST(DocumentRecords, EmptyShapes)
{
    EXPECT_TRUE(isEmptyShape(TopoDS_Shape()));

    BRep_Builder builder;
    TopoDS_Compound edges;
    builder.MakeCompound(edges);
    builder.Add(edges, BRepBuilderAPI_MakeEdge(gp_Pnt(0, 0, 0), gp_Pnt(1, 0, 0)).Edge());
    builder.Add(edges, BRepBuilderAPI_MakeEdge(gp_Pnt(0, 0, 0), gp_Pnt(0, 1, 0)).Edge());
    EXPECT_TRUE(isEmptyShape(edges));

    TopoDS_Compound empty;
    builder.MakeCompound(empty);
    EXPECT_TRUE(isEmptyShape(empty));

    EXPECT_FALSE(isEmptyShape(BRepPrimAPI_MakeBox(1, 1, 1).Shape()));
}

TEST(DocumentRecords, DimensionNamesAcrossSketches)
{
    Document doc;
    EXPECT_EQ(doc.nextDimensionName(), "d1");

    doc.features.push_back(makeFeature(1, QStringLiteral("sketch")));
    doc.features.push_back(makeFeature(2, QStringLiteral("extrude")));
    doc.features.push_back(makeFeature(3, QStringLiteral("sketch")));
    addNamedDimension(*doc.features[0]->sketch, "d1");
    addNamedDimension(*doc.features[0]->sketch, "d12a");
    addNamedDimension(*doc.features[2]->sketch, "d7");
    EXPECT_EQ(doc.nextDimensionName(), "d8");

    addNamedDimension(*doc.features[2]->sketch, "d007");
    addNamedDimension(*doc.features[2]->sketch, "D9");
    addNamedDimension(*doc.features[2]->sketch, "d");
    addNamedDimension(*doc.features[2]->sketch, "d-9");
    EXPECT_EQ(doc.nextDimensionName(), "d8");

    // Too large for the counter: ignored rather than overflowing.
    addNamedDimension(*doc.features[2]->sketch, "d99999999999");
    EXPECT_EQ(doc.nextDimensionName(), "d8");
    addNamedDimension(*doc.features[2]->sketch, "d2147483647");
    EXPECT_EQ(doc.nextDimensionName(), "d2147483648");
}

TEST(DocumentRecords, MovedDocumentNamesDimensionsItself)
{
    QJsonObject sketchFeature{{"id", 1}, {"type", "sketch"}, {"name", "Skizze1"}};
    const QJsonObject file{{"format", "QorCAD-Bauteil"}, {"version", 1},
                           {"features", QJsonArray{sketchFeature}}};
    auto source = std::make_unique<Document>();
    ASSERT_TRUE(source->fromJson(file));

    Document moved(std::move(*source));
    source.reset();
    moved.features.push_back(makeFeature(2, QStringLiteral("sketch")));
    addNamedDimension(*moved.features[1]->sketch, "d5");

    // The namer of the loaded sketch must ask the document it now belongs to.
    qor::sketch::Sketch& sketch = *moved.features[0]->sketch;
    ASSERT_TRUE(bool(sketch.dimensionNamer));
    EXPECT_EQ(sketch.dimensionNamer(), "d6");

    Document assigned;
    assigned = std::move(moved);
    assigned.features.push_back(makeFeature(3, QStringLiteral("sketch")));
    addNamedDimension(*assigned.features[2]->sketch, "d40");
    EXPECT_EQ(assigned.features[0]->sketch->dimensionNamer(), "d41");
}
