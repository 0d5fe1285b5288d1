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

TEST(FeatureEditing, NamesIdsAndDefaults)
{
    Document doc;
    Feature* first = doc.addFeature(QStringLiteral("extrude"));
    Feature* second = doc.addFeature(QStringLiteral("extrude"));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->name, "Extrusion1");
    EXPECT_EQ(second->name, "Extrusion2");
    EXPECT_EQ(first->id, 1);
    EXPECT_EQ(second->id, 2);
    EXPECT_EQ(doc.nextId, 2);
    EXPECT_EQ(first->type, "extrude");
    EXPECT_FALSE(first->suppressed);
    EXPECT_FALSE(first->sketch);
    EXPECT_EQ(first->params, QJsonObject({{"extent", "dist"},
                                          {"distance", "20 mm"},
                                          {"distance2", "10 mm"},
                                          {"flip", false},
                                          {"taper", "0 deg"},
                                          {"op", "new"}}));

    // Freed names come back, freed ids never do.
    doc.removeFeature(first->id);
    Feature* third = doc.addFeature(QStringLiteral("extrude"));
    EXPECT_EQ(third->name, "Extrusion1");
    EXPECT_EQ(third->id, 3);
    EXPECT_EQ(doc.nextId, 3);
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
    Feature* f = doc.addFeature(QStringLiteral("extrude"),
                                {{"distance", "5 mm"}, {"op", QJsonValue()}, {"profile", profile},
                                 {"extra", 7}});
    EXPECT_EQ(f->params.value("distance"), QJsonValue("5 mm"));
    EXPECT_TRUE(f->params.contains("op"));
    EXPECT_TRUE(f->params.value("op").isNull());
    EXPECT_EQ(f->params.value("profile"), QJsonValue(profile));
    EXPECT_EQ(f->params.value("extra"), QJsonValue(7));
    EXPECT_EQ(f->params.value("extent"), QJsonValue("dist"));
    EXPECT_FALSE(f->params.contains("targets"));

    // Revolve's axis has no default and stays absent.
    EXPECT_FALSE(doc.addFeature(QStringLiteral("revolve"))->params.contains("axis"));

    // An unregistered type is named after itself and keeps only what it got.
    Feature* unknown = doc.addFeature(QStringLiteral("gear"), {{"teeth", "12"}});
    EXPECT_EQ(unknown->name, "gear1");
    EXPECT_EQ(unknown->params, QJsonObject({{"teeth", "12"}}));
    EXPECT_EQ(unknown->id, 3);
}

TEST(FeatureEditing, SketchesGetPlaneDefaultsAndDocumentWideDimensionNames)
{
    Document doc;
    Feature* s1 = doc.addSketch(QJsonObject{{"kind", "origin"}, {"id", -2}});
    ASSERT_TRUE(s1->sketch);
    EXPECT_EQ(s1->name, "Skizze1");
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
    ASSERT_EQ(b.constraints.size(), 1u);
    EXPECT_EQ(a.constraints[0].name, "d1");
    EXPECT_EQ(b.constraints[0].name, "d2");
    EXPECT_EQ(a.constraints[1].name, "d3");
    EXPECT_EQ(doc.nextDimensionName(), "d4");
}

TEST(FeatureEditing, InsertPositionAndRollback)
{
    {
        // Automatic position: at the marker, which moves behind the new feature.
        Document doc;
        fill(doc, 5, 2);
        Feature* f = doc.addFeature(QStringLiteral("sphere"));
        EXPECT_EQ(doc.featureIndex(f->id), 2);
        EXPECT_EQ(doc.rollback, 3);
        EXPECT_EQ(doc.features.size(), 6u);
    }
    {
        // Explicit position behind the marker: the new feature is rolled back.
        Document doc;
        fill(doc, 5, 2);
        Feature* f = doc.addFeature(QStringLiteral("sphere"), {}, 4);
        EXPECT_EQ(doc.featureIndex(f->id), 4);
        EXPECT_EQ(doc.rollback, 2);
    }
    {
        // Explicit position before the marker shifts it.
        Document doc;
        fill(doc, 5, 3);
        Feature* f = doc.addFeature(QStringLiteral("sphere"), {}, 0);
        EXPECT_EQ(doc.featureIndex(f->id), 0);
        EXPECT_EQ(doc.rollback, 4);
    }
    {
        Document doc;
        fill(doc, 3, -1);
        Feature* f = doc.addFeature(QStringLiteral("sphere"));
        EXPECT_EQ(doc.featureIndex(f->id), 3);
        EXPECT_EQ(doc.rollback, -1);
        // A position past the end appends.
        Feature* g = doc.addFeature(QStringLiteral("sphere"), {}, 99);
        EXPECT_EQ(doc.featureIndex(g->id), 4);
        EXPECT_EQ(doc.rollback, -1);
    }
    {
        // A marker past the end behaves like none.
        Document doc;
        fill(doc, 3, 7);
        Feature* f = doc.addFeature(QStringLiteral("sphere"));
        EXPECT_EQ(doc.featureIndex(f->id), 3);
        EXPECT_EQ(doc.rollback, -1);
    }
    {
        // Marker at the end: the feature lands last and everything runs.
        Document doc;
        fill(doc, 3, 3);
        doc.addFeature(QStringLiteral("sphere"));
        EXPECT_EQ(doc.rollback, -1);
    }
    {
        // Marker at 0: the new feature is the only one that runs.
        Document doc;
        fill(doc, 2, 0);
        Feature* f = doc.addFeature(QStringLiteral("sphere"));
        EXPECT_EQ(doc.featureIndex(f->id), 0);
        EXPECT_EQ(doc.rollback, 1);
    }
}

TEST(FeatureEditing, RemoveMovesRollback)
{
    {
        Document doc;
        fill(doc, 5, 3);
        const int id = doc.features[1]->id;
        doc.removeFeature(id);
        EXPECT_EQ(doc.rollback, 2);
        EXPECT_EQ(doc.feature(id), nullptr);
        EXPECT_EQ(doc.features.size(), 4u);
    }
    {
        Document doc;
        fill(doc, 4, 3);
        doc.removeFeature(doc.features[3]->id);
        EXPECT_EQ(doc.rollback, -1);
    }
    {
        // Removing behind the marker leaves it.
        Document doc;
        fill(doc, 5, 2);
        doc.removeFeature(doc.features[4]->id);
        EXPECT_EQ(doc.rollback, 2);
        doc.removeFeature(doc.features[2]->id);
        EXPECT_EQ(doc.rollback, 2);
        EXPECT_EQ(doc.features.size(), 3u);
    }
    {
        Document doc;
        fill(doc, 3, -1);
        const QStringList before = names(doc);
        doc.removeFeature(42);
        EXPECT_EQ(names(doc), before);
        EXPECT_EQ(doc.rollback, -1);
        doc.removeFeature(doc.features[0]->id);
        EXPECT_EQ(doc.rollback, -1);
        EXPECT_EQ(names(doc), QStringList({"Quader2", "Quader3"}));
    }
}

TEST(FeatureEditing, NewIdsFollowNextId)
{
    Document doc;
    doc.nextId = 41; // as read from a file
    Feature* f = doc.addFeature(QStringLiteral("axis"));
    EXPECT_EQ(f->id, 42);
    EXPECT_EQ(doc.nextId, 42);
    doc.removeFeature(42);
    EXPECT_EQ(doc.addFeature(QStringLiteral("axis"))->id, 43);
    EXPECT_EQ(doc.feature(43)->name, "Achse1");
}
