#include "FakeSketchMapper.h"
#include "view/sketch/HitTest.h"
#include "view/sketch/Snapping.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace qor::app;
using qor::sketch::ConstraintType;
using qor::sketch::Sketch;

namespace {

int add(Sketch& s, ConstraintType type, int a, int b = -1)
{
    return int(s.addConstraint(type, a, b, -1, 0.0));
}

} // namespace

TEST(SketchHitTest, LabelBeforeGlyphBeforePointBeforeCurve)
{
    Sketch s;
    const int line = int(s.addLineAt(false, 0, 0, 10, 0)); // pixels (400,300)-(500,300)
    const int end = s.endPoint(line);
    const int horizontal = add(s, ConstraintType::Horizontal, line); // glyph (458,306) 17x17
    const int underGlyph = int(s.addPoint(false, 6.2, -1.2)); // pixel (462,312)
    const int dimension = add(s, ConstraintType::Distance, line);
    s.findConstraint(dimension)->value = 10.0;
    s.findConstraint(dimension)->labelOffset = {-3.0, 0.0}; // label centred on (420,300)
    const int tieFirst = int(s.addPoint(false, 20, 0.5)); // (600,295)
    s.addPoint(false, 20, -0.5); // (600,305)

    struct Case {
        QPointF pixel;
        bool withPoints;
        HitKind kind;
        int id;
        double dist;
    };
    const Case cases[] = {
        {{420, 300}, true, HitKind::Label, dimension, 0.0},
        {{406, 300}, true, HitKind::Label, dimension, 0.0}, // in the margin, 6 px from a point
        {{462, 312}, true, HitKind::Glyph, horizontal, 0.0},
        {{455, 312}, true, HitKind::Point, underGlyph, 7.0},
        {{498, 301}, true, HitKind::Point, end, std::hypot(2.0, 1.0)},
        {{498, 301}, false, HitKind::Curve, line, 1.0},
        {{470, 304}, true, HitKind::Curve, line, 4.0},
        {{470, 293}, true, HitKind::Nothing, -1, 1e9}, // exactly 7 px: outside
        {{600, 300}, true, HitKind::Point, tieFirst, 5.0},
        {{600, 300}, false, HitKind::Nothing, -1, 1e9},
    };
    const FakeSketchMapper mapper;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.pixel.x() << "," << c.pixel.y() << " " << c.withPoints);
        const SketchHit hit = hitTest(s, mapper, c.pixel, c.withPoints);
        EXPECT_EQ(hit.kind, c.kind);
        EXPECT_EQ(hit.id, c.id);
        EXPECT_NEAR(hit.dist, c.dist, 1e-9);
    }
}

TEST(SketchHitTest, GlyphsLineUpBesideTheirAnchors)
{
    Sketch s;
    const int p = int(s.addPoint(false, 0, 0));
    const int line = int(s.addLineAt(false, 10, 10, 30, 10));
    const int circle = int(s.addCircleAt(false, -20, 0, 10));
    add(s, ConstraintType::Fixed, p);
    add(s, ConstraintType::Coincident, p, s.startPoint(line)); // no glyph
    add(s, ConstraintType::PointOnCurve, p, line);
    add(s, ConstraintType::Distance, p, line); // a label, no glyph
    add(s, ConstraintType::Midpoint, p, line);
    add(s, ConstraintType::Horizontal, line);
    add(s, ConstraintType::Fixed, 99); // missing entity
    add(s, ConstraintType::Equal, circle, circle);

    const std::vector<GlyphRect> glyphs = glyphRects(s, FakeSketchMapper{});
    const std::vector<QPointF> expected{
        {408, 306}, {427, 306}, {446, 306}, {608, 206}, {270.71 + 8, 229.29 + 6}};
    ASSERT_EQ(glyphs.size(), expected.size());
    for (std::size_t i = 0; i < glyphs.size(); ++i) {
        EXPECT_NEAR(glyphs[i].rect.left(), expected[i].x(), 0.01) << i;
        EXPECT_NEAR(glyphs[i].rect.top(), expected[i].y(), 0.01) << i;
        EXPECT_EQ(glyphs[i].rect.size(), QSizeF(17, 17));
    }
    EXPECT_EQ(glyphs[3].constraintId, s.constraints[5].id);
}

TEST(SketchHitTest, ArcOutlines)
{
    Sketch s;
    const int centre = int(s.addPoint(false, 0, 0));
    const int east = int(s.addPoint(false, 5, 0));
    const int north = int(s.addPoint(false, 0, 5));
    const int south = int(s.addPoint(false, 0, -5));
    const int quarter = int(s.addArc(centre, east, north, false));
    const int threeQuarters = int(s.addArc(centre, east, south, false));
    const int closed = int(s.addArc(centre, east, east, false));
    const FakeSketchMapper mapper;

    const std::vector<QPointF> q = entityPolyline(s, mapper, quarter);
    ASSERT_EQ(q.size(), 25u);
    EXPECT_NEAR(QLineF(q.back(), mapper.toPixel(0, 5)).length(), 0.0, 1e-9);
    const double diagonal = 2.5 * std::numbers::sqrt2;
    EXPECT_NEAR(QLineF(q[12], mapper.toPixel(diagonal, diagonal)).length(), 0.0, 1e-9);
    EXPECT_EQ(entityPolyline(s, mapper, threeQuarters).size(), 73u);
    EXPECT_EQ(entityPolyline(s, mapper, closed).size(), 97u);
    EXPECT_TRUE(entityPolyline(s, mapper, centre).empty());
    EXPECT_TRUE(entityPolyline(s, mapper, 99).empty());

    // Only the zero-sweep arc, drawn as a full circle, passes west of the centre.
    s.removeEntity(threeQuarters);
    const SketchHit west = hitTest(s, mapper, mapper.toPixel(-5, 0) + QPointF(-2, 0), false);
    EXPECT_EQ(west.kind, HitKind::Curve);
    EXPECT_EQ(west.id, closed);
}

TEST(SketchSnap, PriorityOrderAndTolerances)
{
    Sketch s;
    const int circle = int(s.addCircleAt(false, -20, 0, 5)); // centre pixel (200,300)
    const int centre = s.findEntity(circle)->a;
    const int line = int(s.addLineAt(false, 10, 10, 30, 10)); // (500,200)-(700,200)
    const int nearOrigin = int(s.addPoint(false, 0.9, 0)); // (409,300)
    const int tieFirst = int(s.addPoint(false, 40, 0.5)); // (800,295)
    s.addPoint(false, 40, -0.5); // (800,305)
    const qor::sketch::Vec2 ref{-20, -20}; // (200,500)

    struct Case {
        QPoint pixel;
        bool onCurves;
        std::optional<qor::sketch::Vec2> reference;
        SnapRecord expected;
    };
    const Case cases[] = {
        {{400, 300}, true, {}, {SnapKind::Point, 0.9, 0, nearOrigin, -1}}, // point 9 px, origin 0
        {{394, 300}, true, {}, {SnapKind::Origin, 0, 0, -1, -1}},
        {{203, 300}, true, {}, {SnapKind::Centre, -20, 0, centre, -1}},
        {{800, 300}, true, {}, {SnapKind::Point, 40, 0.5, tieFirst, -1}},
        {{604, 201}, true, {}, {SnapKind::Midpoint, 20, 10, -1, line}}, // body only 1 px away
        {{650, 203}, true, {}, {SnapKind::OnCurve, 25, 10, -1, line}},
        {{650, 203}, false, {}, {SnapKind::Free, 25, 9.7, -1, -1}},
        {{200, 245}, true, {}, {SnapKind::OnCurve, -20, 5, -1, circle}},
        {{300, 504}, true, ref, {SnapKind::Horizontal, -10, -20, -1, -1}},
        {{203, 400}, true, ref, {SnapKind::Vertical, -20, -10, -1, -1}},
        // Straight above the reference: level with it is no alignment, plumb is.
        {{200, 495}, true, ref, {SnapKind::Vertical, -20, -19.5, -1, -1}},
        {{300, 504}, true, {}, {SnapKind::Free, -10, -20.4, -1, -1}},
    };
    const FakeSketchMapper mapper;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pixel.x() << "," << c.pixel.y());
        const SnapRecord snap = snapAt(s, mapper, c.pixel, c.onCurves, c.reference);
        EXPECT_EQ(snap.kind, c.expected.kind);
        EXPECT_NEAR(snap.x, c.expected.x, 1e-9);
        EXPECT_NEAR(snap.y, c.expected.y, 1e-9);
        EXPECT_EQ(snap.pointId, c.expected.pointId);
        EXPECT_EQ(snap.entityId, c.expected.entityId);
    }

    FakeSketchMapper parallel;
    parallel.missesPlane = true;
    const SnapRecord missed = snapAt(s, parallel, {400, 300}, true, ref);
    EXPECT_EQ(missed.kind, SnapKind::Free);
    EXPECT_EQ(QPointF(missed.x, missed.y), QPointF(0, 0));
    EXPECT_EQ(missed.pointId, -1);
}
