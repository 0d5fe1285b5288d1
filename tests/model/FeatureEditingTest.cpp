#include "model/Document.h"

#include <QJsonArray>

#include <gtest/gtest.h>

using namespace qor::model;
using qor::sketch::ConstraintType;

namespace {

// A document of `count` boxes with the given rollback index.
void fill(Document& doc, int count, int rollback)
{
    for (int i = 0; i < count; ++i)
        doc.addFeature(QStringLiteral("box"));
    doc.rollback = rollback;
}

QStringList names(const Document& doc)
{
    QStringList list;
    for (const auto& f : doc.features)
        list << f->name;
    return list;
}

} // namespace

TEST(FeatureEditing, NamesAndIds)
{
    Document doc;
    doc.nextId = 41; // as read from a file
    Feature* first = doc.addFeature(QStringLiteral("extrude"));
    Feature* second = doc.addFeature(QStringLiteral("extrude"));
    EXPECT_EQ(first->name, "Extrusion1");
    EXPECT_EQ(second->name, "Extrusion2");
    EXPECT_EQ(first->id, 42);
    EXPECT_EQ(doc.nextId, 43);

    // Freed names come back, freed ids never do.
    doc.removeFeature(first->id);
    Feature* third = doc.addFeature(QStringLiteral("extrude"));
    EXPECT_EQ(third->name, "Extrusion1");
    EXPECT_EQ(third->id, 44);
    EXPECT_EQ(names(doc), QStringList({"Extrusion2", "Extrusion1"}));

    // The name counts from 1 for every title and compares case-sensitively.
    Feature* box = doc.addFeature(QStringLiteral("box"));
    EXPECT_EQ(box->name, "Quader1");
    box->name = QStringLiteral("quader2");
    EXPECT_EQ(doc.uniqueFeatureName(QStringLiteral("Quader")), "Quader1");
    doc.addFeature(QStringLiteral("box"));
    EXPECT_EQ(doc.uniqueFeatureName(QStringLiteral("quader")), "quader1");
    EXPECT_EQ(doc.uniqueFeatureName(QStringLiteral("Quader")), "Quader2");
}

TEST(FeatureEditing, GivenParametersReplaceDefaults)
{
    Document doc;
    const QJsonArray profile{QJsonObject{{"kind", "region"}, {"sketch", 1}}};
    Feature* f = doc.addFeature(
        QStringLiteral("extrude"),
        {{"distance", "5 mm"}, {"op", QJsonValue()}, {"profile", profile}, {"extra", 7}});
    EXPECT_EQ(f->params.value("distance"), QJsonValue("5 mm"));
    EXPECT_TRUE(f->params.contains("op"));
    EXPECT_TRUE(f->params.value("op").isNull());
    EXPECT_EQ(f->params.value("profile"), QJsonValue(profile));
    EXPECT_EQ(f->params.value("extra"), QJsonValue(7));
    EXPECT_EQ(f->params.value("extent"), QJsonValue("dist"));

    // An unregistered type is named after itself and keeps only what it got.
    Feature* unknown = doc.addFeature(QStringLiteral("gear"), {{"teeth", "12"}});
    EXPECT_EQ(unknown->name, "gear1");
    EXPECT_EQ(unknown->params, QJsonObject({{"teeth", "12"}}));
}

TEST(FeatureEditing, SketchesGetPlaneDefaultsAndDocumentWideDimensionNames)
{
    Document doc;
    Feature* s1 = doc.addSketch(QJsonObject{{"kind", "origin"}, {"id", -2}});
    ASSERT_TRUE(s1->sketch);
    EXPECT_EQ(s1->params, QJsonObject({{"plane", QJsonObject{{"kind", "origin"}, {"id", -2}}},
                                       {"offset", "0"}}));
    Feature* plain = doc.addFeature(QStringLiteral("sketch"));
    ASSERT_TRUE(plain->sketch);
    EXPECT_EQ(plain->params.value("plane"),
              QJsonValue(QJsonObject{{"kind", "origin"}, {"id", -1}}));

    // Dimensions are numbered across both sketches.
    qor::sketch::Sketch& a = *s1->sketch;
    qor::sketch::Sketch& b = *plain->sketch;
    const int la = int(a.addLineAt(false, 0, 0, 10, 0));
    const int lb = int(b.addLineAt(false, 0, 0, 0, 5));
    a.addDimension(ConstraintType::Distance, a.startPoint(la), a.endPoint(la), -1);
    b.addDimension(ConstraintType::Distance, b.startPoint(lb), b.endPoint(lb), -1);
    a.addDimension(ConstraintType::Distance, a.startPoint(la), a.endPoint(la), -1);
    ASSERT_EQ(a.constraints.size(), 2u);
    EXPECT_EQ(a.constraints[0].name, "d1");
    EXPECT_EQ(b.constraints.at(0).name, "d2");
    EXPECT_EQ(a.constraints[1].name, "d3");
}

TEST(FeatureEditing, InsertPositionAndRollback)
{
    struct Case {
        int count, rollback, position; // position -1: automatic
        int index, rollbackAfter;
    };
    const Case cases[] = {
        {5, 2, -1, 2, 3}, // at the marker, which moves behind the new feature
        {5, 2, 4, 4, 2}, // behind the marker: rolled back
        {5, 3, 0, 0, 4}, // before the marker: shifts it
        {3, -1, -1, 3, -1}, // no marker: appended
        {3, -1, 99, 3, -1}, // past the end: appended
        {3, 7, -1, 3, -1}, // a marker past the end behaves like none
        {3, 3, -1, 3, -1}, // marker at the end: everything runs
        {2, 0, -1, 0, 1}, // marker at 0: only the new feature runs
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rollback << " " << c.position);
        Document doc;
        fill(doc, c.count, c.rollback);
        Feature* f = doc.addFeature(QStringLiteral("sphere"), {}, c.position);
        EXPECT_EQ(doc.featureIndex(f->id), c.index);
        EXPECT_EQ(doc.rollback, c.rollbackAfter);
    }
}

TEST(FeatureEditing, RemoveMovesRollback)
{
    struct Case {
        int count, rollback, removed, rollbackAfter;
    };
    const Case cases[] = {{5, 3, 1, 2}, {4, 3, 3, -1}, {5, 2, 4, 2}, {5, 2, 2, 2}, {3, -1, 0, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rollback << " " << c.removed);
        Document doc;
        fill(doc, c.count, c.rollback);
        const int id = doc.features[std::size_t(c.removed)]->id;
        doc.removeFeature(id);
        EXPECT_EQ(doc.rollback, c.rollbackAfter);
        EXPECT_EQ(doc.feature(id), nullptr);
        EXPECT_EQ(doc.features.size(), std::size_t(c.count - 1));
    }

    Document doc;
    fill(doc, 3, -1);
    doc.removeFeature(42); // absent: nothing happens
    doc.removeFeature(doc.features[0]->id);
    EXPECT_EQ(names(doc), QStringList({"Quader2", "Quader3"}));
}
