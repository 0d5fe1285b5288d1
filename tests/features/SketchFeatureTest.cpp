#include "model/Document.h"
#include "model/ExecContext.h"
#include "sketch/Constraints.h"
#include "tests/common/AngleEdits.h"

#include <QJsonArray>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace qor::model;
using qor::sketch::ConstraintType;

namespace {

QJsonObject xyPlane()
{
    return {{"kind", "origin"}, {"id", -1}};
}

// A free line from (0, 0) to (10, 0) with a length dimension; returns the
// dimension's id.
int dimensionedLine(Feature& f, const QString& expression)
{
    qor::sketch::Sketch& s = *f.sketch;
    const int line = int(s.addLineAt(false, 0, 0, 10, 0));
    s.addConstraint(ConstraintType::Fixed, s.startPoint(line), -1, -1, 0);
    const int dim = int(s.addDimension(ConstraintType::Distance, line, -1, -1));
    s.findConstraint(dim)->expression = expression.toStdString();
    return dim;
}

double lineLength(const Feature& f)
{
    const qor::sketch::Sketch& s = *f.sketch;
    const int line = int(s.entities[2].id); // two points, then the line
    return (s.pointPosition(s.endPoint(line)) - s.pointPosition(s.startPoint(line))).length();
}

// A document whose sketch holds a w × h rectangle with a Fixiert corner, its first
// side turned from a fixed reference line by the parameter "Winkel", drawn at
// `drawnDeg`; a 10 mm extrusion of it. Returns the sketch feature.
Feature* turnedPlate(Document& doc, double w, double h, double drawnDeg, const QString& winkel)
{
    doc.parameters.push_back({QStringLiteral("Winkel"), winkel});
    Feature* f = doc.addSketch(xyPlane());
    const auto ids = qor::sketch::fixtures::addParallelogram(
        *f->sketch, {0, 100}, w, h, qor::sketch::fixtures::radians(drawnDeg), std::numbers::pi / 2,
        true);
    f->sketch->findConstraint(ids.first)->expression = "Winkel";
    doc.addFeature("extrude",
                   {{"profile", QJsonArray{QJsonObject{{"kind", "sketch"}, {"id", f->id}}}},
                    {"extent", "dist"},
                    {"distance", "10 mm"},
                    {"op", "new"}});
    return f;
}

const TopoDS_Shape& onlyBody(const Document& doc)
{
    return doc.current.bodies.get().begin()->second.shape;
}

} // namespace

TEST(SketchFeature, PlaneAndOffset)
{
    Document doc;
    Feature* plain = doc.addSketch(xyPlane());
    Feature* zero = doc.addSketch(QJsonObject{{"kind", "origin"}, {"id", -2}});
    zero->params.insert("offset", "0");
    Feature* raised = doc.addSketch(xyPlane());
    raised->params.insert("offset", "5 mm");
    Feature* onSketch = doc.addFeature(
        "plane", {{"base", QJsonObject{{"kind", "feature"}, {"id", raised->id}}}, {"offset", "0"}});
    Feature* badOffset = doc.addSketch(xyPlane());
    badOffset->params.insert("offset", "5 mm + gibtsnicht");
    Feature* noData = doc.addSketch(xyPlane());
    noData->sketch.reset();

    EXPECT_EQ(doc.recompute(), 2);
    const ModelState& state = doc.current;
    EXPECT_TRUE(state.planes.at(plain->id).IsCoplanar(Document::datumPlane(-1), 0, 0));
    EXPECT_TRUE(state.planes.at(zero->id).Location().IsEqual(gp_Pnt(0, 0, 0), 0));
    EXPECT_TRUE(
        state.planes.at(zero->id).Direction().IsEqual(Document::datumPlane(-2).Direction(), 0));

    // The raised plane is where the sketch is placed and what a plane on it uses.
    const gp_Ax3& p = state.sketches.at(raised->id).plane;
    EXPECT_TRUE(p.Location().IsEqual(gp_Pnt(0, 0, 5), 1e-12));
    EXPECT_TRUE(p.XDirection().IsEqual(gp::DX(), 1e-12));
    EXPECT_TRUE(p.YDirection().IsEqual(gp::DY(), 1e-12));
    EXPECT_NEAR(state.planes.at(onSketch->id).Location().Z(), 5.0, 1e-12);

    EXPECT_TRUE(badOffset->error.startsWith("offset: "));
    EXPECT_EQ(noData->error, "Skizzendaten fehlen");
    EXPECT_EQ(state.planes.count(badOffset->id), 0u);
    EXPECT_EQ(state.sketches.count(noData->id), 0u);
    // Sketches create no bodies and never enter the cache.
    EXPECT_TRUE(state.bodies.empty());
    EXPECT_EQ(doc.cache.size(), 1u); // the plane feature only
}

TEST(SketchFeature, DimensionsFollowTheirExpressions)
{
    Document doc;
    doc.parameters.push_back({QStringLiteral("len"), QStringLiteral("25 mm")});
    Feature* driven = doc.addSketch(xyPlane());
    dimensionedLine(*driven, "len");
    Feature* unknown = doc.addSketch(xyPlane());
    const int unknownDim = dimensionedLine(*unknown, "fehlt * 2");
    Feature* reference = doc.addSketch(xyPlane());
    const int refDim = dimensionedLine(*reference, "99");
    reference->sketch->findConstraint(refDim)->driven = true;

    EXPECT_EQ(doc.recompute(), 0);
    EXPECT_NEAR(lineLength(*driven), 25.0, 1e-6);
    EXPECT_TRUE(driven->warning.isEmpty());

    QString message;
    ASSERT_FALSE(doc.tryEval("fehlt * 2", &message).ok);
    const QString name = QString::fromStdString(unknown->sketch->findConstraint(unknownDim)->name);
    EXPECT_FALSE(name.isEmpty());
    EXPECT_EQ(unknown->warning, "Bemaßung " + name + ": " + message);
    EXPECT_TRUE(unknown->error.isEmpty());
    EXPECT_NEAR(unknown->sketch->findConstraint(unknownDim)->value, 10.0, 1e-9);
    EXPECT_NEAR(lineLength(*unknown), 10.0, 1e-6);

    EXPECT_NEAR(reference->sketch->findConstraint(refDim)->value, 10.0, 1e-9);
    EXPECT_NEAR(lineLength(*reference), 10.0, 1e-6);

    // Sketches run at every recompute: a point moved by hand is put back.
    driven->sketch->setPointPosition(driven->sketch->endPoint(int(driven->sketch->entities[2].id)),
                                     3, 4);
    doc.recompute();
    EXPECT_NEAR(lineLength(*driven), 25.0, 1e-6);
}

TEST(SketchFeature, AnglesKeepTheirSense)
{
    Document doc;
    Feature* f = doc.addSketch(xyPlane());
    qor::sketch::Sketch& s = *f->sketch;
    const int a = int(s.addLineAt(false, 0, 0, 10, 0));
    const int b = int(s.addLineAt(false, 0, 0, 10, -10));
    s.addConstraint(ConstraintType::Coincident, s.startPoint(a), s.startPoint(b), -1, 0);
    s.addConstraint(ConstraintType::Fixed, s.startPoint(a), -1, -1, 0);
    s.addConstraint(ConstraintType::Horizontal, a, -1, -1, 0);
    const int angle = int(s.addDimension(ConstraintType::Angle, a, b, -1));
    qor::sketch::Constraint* c = s.findConstraint(angle);
    c->value = -std::abs(c->value);
    c->expression = "30";

    EXPECT_EQ(doc.recompute(), 0);
    EXPECT_NEAR(c->value, -30.0 * std::numbers::pi / 180.0, 1e-15);
    EXPECT_TRUE(f->warning.isEmpty()) << f->warning.toStdString();
    EXPECT_NEAR(std::abs(qor::sketch::measureConstraint(s, *c)), 30.0 * std::numbers::pi / 180.0,
                1e-6);
}

TEST(SketchFeature, UnsolvableSketchKeepsItsGeometry)
{
    Document doc;
    Feature* f = doc.addSketch(xyPlane());
    qor::sketch::Sketch& s = *f->sketch;
    const int line = int(s.addLineAt(false, 0, 0, 10, 0));
    s.addConstraint(ConstraintType::Fixed, s.startPoint(line), -1, -1, 0);
    s.addConstraint(ConstraintType::Distance, line, -1, -1, 20.0);
    s.addConstraint(ConstraintType::Distance, line, -1, -1, 30.0);
    s.addCircleAt(false, 50, 0, 5);
    const std::vector<double> before = s.params;

    EXPECT_EQ(doc.recompute(), 0);
    EXPECT_EQ(f->warning, "Skizze ist überbestimmt oder widersprüchlich");
    EXPECT_TRUE(f->error.isEmpty());
    EXPECT_EQ(s.params, before);
    ASSERT_EQ(doc.current.sketches.count(f->id), 1u);
    const auto& regions = doc.sketchRegions(*f, doc.current.sketches.at(f->id).plane);
    EXPECT_EQ(regions.size(), 1u); // the circle

    // No constraints at all: solved trivially and placed.
    Feature* empty = doc.addSketch(xyPlane());
    EXPECT_EQ(doc.recompute(), 0);
    EXPECT_TRUE(empty->warning.isEmpty());
    EXPECT_EQ(doc.current.sketches.count(empty->id), 1u);
    EXPECT_EQ(doc.current.planes.count(empty->id), 1u);
}

TEST(SketchFeature, PlateFollowsItsAngleParameterInOneStep)
{
    struct Case {
        double w;
        double h;
        double from;
        double to;
    };
    // The last case was reported as contradictory before the solver was mended.
    for (const Case& c : {Case{5.1, 80.8, 38, 23.8}, Case{80.8, 5.1, 38, 23.8},
                          Case{5.1, 80.8, 38, 150}, Case{5.1, 400, 38, 150}}) {
        SCOPED_TRACE(testing::Message()
                     << c.w << " x " << c.h << ", " << c.from << "° to " << c.to << "°");
        Document doc;
        Feature* sketch = turnedPlate(doc, c.w, c.h, c.from, QString::number(c.from));
        ASSERT_EQ(doc.recompute(), 0);
        ASSERT_EQ(doc.current.bodies.get().size(), 1u);
        doc.parameters.front().expr = QString::number(c.to);
        ASSERT_EQ(doc.recompute(), 0);
        EXPECT_TRUE(sketch->warning.isEmpty()) << sketch->warning.toStdString();
        const qor::sketch::Sketch& s = *sketch->sketch;
        const qor::sketch::Constraint& winkel = s.constraints.back();
        EXPECT_NEAR(winkel.value, qor::sketch::fixtures::radians(c.to), 1e-12);
        EXPECT_NEAR(qor::sketch::measureConstraint(s, winkel), winkel.value, 1e-6);

        // The same document computed from scratch at the new angle.
        Document cold;
        turnedPlate(cold, c.w, c.h, c.to, QString::number(c.to));
        ASSERT_EQ(cold.recompute(), 0);
        ASSERT_EQ(doc.current.bodies.get().size(), 1u);
        const double volume = shapeVolume(onlyBody(doc));
        EXPECT_NEAR(volume, c.w * c.h * 10.0, 1e-6 * volume);
        EXPECT_NEAR(volume, shapeVolume(onlyBody(cold)), 1e-6 * volume);
        // The Fixiert corner, the angle and the length leave one place for the first
        // side's end (the rest may lie on either side of it).
        const int first = winkel.b;
        const qor::sketch::Vec2 end = s.pointPosition(s.endPoint(first));
        EXPECT_NEAR(end.x, c.w * std::cos(winkel.value), 1e-6);
        EXPECT_NEAR(end.y, 100.0 + c.w * std::sin(winkel.value), 1e-6);
    }
}
