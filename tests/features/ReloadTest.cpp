#include "TestPart.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace qor::model;

namespace {

QJsonObject regionRef(int sketchId, double u, double v)
{
    return TestPart::region(sketchId, u, v).first().toObject();
}

// The document through a part file and recomputed there: the same body ids with
// the same names, volumes and bounding boxes, so a setting lost on the way shows
// even where volumes agree.
void expectSameAfterReload(const Document& doc)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("teil.qcpart"));
    QString error;
    Document loaded;
    ASSERT_TRUE(doc.save(path, &error) && loaded.load(path, &error)) << error.toStdString();
    ASSERT_EQ(loaded.recompute(), 0);
    ASSERT_EQ(loaded.current.bodies.size(), doc.current.bodies.size());
    for (const auto& [id, body] : doc.current.bodies) {
        SCOPED_TRACE(id);
        ASSERT_EQ(loaded.current.bodies.count(id), 1u);
        const Body& other = loaded.current.bodies.at(id);
        EXPECT_EQ(other.name, body.name);
        const double volume = shapeVolume(body.shape);
        EXPECT_NEAR(shapeVolume(other.shape), volume, 1e-7 * std::max(1.0, volume));
        const auto box = qor::test::extent(body.shape);
        EXPECT_TRUE(extentIs(other.shape, box));
    }
}

} // namespace

// The reload path is the same for every feature kind: the parameters go through a
// part file and the recompute resolves their references again. One part of
// sketch-driven, face-driven and point-driven features comes back with the same
// bodies (names, volumes, boxes).
TEST(Reload, EveryFeatureKindGivesTheSameBodies)
{
    Document doc;
    const auto sketchOn = [&doc](int plane, const QString& offset,
                                 const std::function<void(qor::sketch::Sketch&)>& draw) {
        Feature* f = doc.addSketch(QJsonObject{{"kind", "origin"}, {"id", plane}});
        f->params["offset"] = offset;
        draw(*f->sketch);
        return f->id;
    };
    const int base = sketchOn(-1, "0", [](auto& s) { addOutline(s, -5, -5, 5, 5); });
    const int top = sketchOn(-1, "10 mm", [](auto& s) { addOutline(s, -2, -2, 2, 2); });
    doc.addFeature("loft", {{"sections", QJsonArray{regionRef(base, 0, 0), regionRef(top, 0, 0)}},
                            {"ruled", true},
                            {"op", "new"}});
    const int path = sketchOn(-1, "0", [](auto& s) { s.addArcAt(false, 0, 0, 20, 0, 0, 20); });
    const int ring = sketchOn(-2, "0", [](auto& s) {
        s.addCircleAt(false, 20, 0, 5);
        s.addCircleAt(false, 20, 0, 3);
    });
    doc.addFeature("sweep", {{"profile", TestPart::region(ring, 24, 0)},
                             {"path", TestPart::wholeSketch(path)},
                             {"orientation", "corrected"},
                             {"op", "new"}});
    // A block with a pocket, and a threaded hole that a mirror copies.
    Feature* block
        = doc.addFeature("box", {{"length", 20}, {"width", 20}, {"height", 20}, {"x", 100}});
    doc.addFeature("box", {{"length", 4}, {"width", 4}, {"height", 20}, {"x", 100}, {"op", "cut"}});
    const int points = sketchOn(-1, "20 mm", [](auto& s) { s.addPoint(false, 94, 0); });
    Feature* hole
        = doc.addFeature("hole", {{"points", QJsonObject{{"kind", "sketch"}, {"id", points}}},
                                  {"extent", "all"},
                                  {"thread", "M6"},
                                  {"fit", "threaded"},
                                  {"threadModel", "modeled"}});
    doc.addFeature("plane", {{"base", TestPart::origin(-3)}, {"offset", "100 mm"}});
    doc.addFeature("mirror", {{"source", "features"},
                              {"features", QJsonArray{QJsonObject{{"id", hole->id}}}},
                              {"plane", TestPart::featureRef(doc.features.back()->id)}});
    ASSERT_EQ(doc.recompute(), 0);

    // Face-driven features on the block: the pocket's walls deleted, the top offset,
    // one side drafted and letters on the new top.
    const int body = block->id * 100;
    const auto face = [&](const gp_Pnt& p) {
        return faceRef(body,
                       TestPart::subShapeAt(doc.current.bodies.at(body).shape, TopAbs_FACE, p));
    };
    QJsonArray walls;
    for (const gp_Pnt& p :
         {gp_Pnt(102, 0, 10), gp_Pnt(98, 0, 10), gp_Pnt(100, 2, 10), gp_Pnt(100, -2, 10)})
        walls.append(face(p));
    doc.addFeature("delete_faces", {{"faces", walls}});
    ASSERT_EQ(doc.recompute(), 0) << doc.features.back()->error.toStdString();
    doc.addFeature("offset_faces",
                   {{"faces", QJsonArray{face(gp_Pnt(100, 0, 20))}}, {"distance", "5"}});
    ASSERT_EQ(doc.recompute(), 0) << doc.features.back()->error.toStdString();
    doc.addFeature("draft", {{"faces", QJsonArray{face(gp_Pnt(90, 0, 12.5))}}, {"angle", "3"}});
    doc.addFeature("text", {{"plane", face(gp_Pnt(100, 0, 25))},
                            {"text", "Prüf 42"},
                            {"font", "serif"},
                            {"height", "4 mm"},
                            {"angle", "30 deg"},
                            {"op", "join"}});
    ASSERT_EQ(doc.recompute(), 0) << doc.features.back()->error.toStdString();
    expectSameAfterReload(doc);
}
