#include "view/sketch/DimensionLabels.h"
#include "FakeSketchMapper.h"
#include "model/Document.h"

#include <gtest/gtest.h>

#include <numbers>

using namespace qor::app;
using qor::sketch::Constraint;
using qor::sketch::ConstraintType;
using qor::sketch::Sketch;

namespace {

constexpr double pi = std::numbers::pi;

Constraint dimension(ConstraintType type, double value, int a = -1, int b = -1)
{
    Constraint c;
    c.type = type;
    c.value = value;
    c.a = a;
    c.b = b;
    return c;
}

} // namespace

TEST(DimensionLabels, Texts)
{
    Sketch s;
    const int circle = int(s.addCircleAt(false, 0, 0, 7));
    Constraint drivenRadius = dimension(ConstraintType::Radius, 3, circle);
    drivenRadius.driven = true;
    Constraint formula = dimension(ConstraintType::Distance, 25);
    formula.expression = "Breite/2";
    Constraint drivenAngle = dimension(ConstraintType::Angle, 0, s.addLineAt(false, 0, 0, 1, 0),
                                       s.addLineAt(false, 0, 0, 0, -1));
    drivenAngle.driven = true;

    const std::pair<Constraint, QString> cases[] = {
        {dimension(ConstraintType::Radius, 12.5), QStringLiteral("R12.5")},
        {dimension(ConstraintType::Diameter, 40), QStringLiteral("⌀40")},
        {dimension(ConstraintType::Angle, pi / 2), QStringLiteral("90°")},
        {dimension(ConstraintType::Angle, -pi / 4), QStringLiteral("45°")},
        {dimension(ConstraintType::Distance, 0.1234), QStringLiteral("0.123")},
        {drivenRadius, QStringLiteral("(R7)")},
        {drivenAngle, QStringLiteral("(90°)")},
        {formula, QStringLiteral("ƒx 25")},
    };
    for (const auto& [c, text] : cases)
        EXPECT_EQ(dimensionText(s, c), text);
    EXPECT_EQ(valueFieldText(formula), QStringLiteral("Breite/2"));
    EXPECT_EQ(valueFieldText(dimension(ConstraintType::Angle, -pi / 4)), QStringLiteral("45"));
    EXPECT_EQ(valueFieldText(dimension(ConstraintType::Distance, 1.23456)),
              QStringLiteral("1.2346"));
}

TEST(DimensionLabels, LabelBoxAndValueField)
{
    Sketch s;
    Constraint c = dimension(ConstraintType::Distance, 30, int(s.addPoint(false, 0, 0)),
                             int(s.addPoint(false, 30, 10)));
    c.labelOffset = {0, 15};
    const QFontMetricsF metrics(dimensionLabelFont());
    const DimensionLayout layout = dimensionLayout(s, c, FakeSketchMapper{}, metrics, false);
    EXPECT_EQ(layout.label.center(), QPointF(550, 100)); // (15, 5) + (0, 15) mm
    EXPECT_TRUE(layout.segments.empty());

    // A missing entity anchors at the origin.
    c.a = 99;
    c.b = -1;
    EXPECT_EQ(dimensionLayout(s, c, FakeSketchMapper{}, metrics, false).label.center(),
              QPointF(400, 150));

    EXPECT_EQ(valueFieldWidth, 150);
    EXPECT_EQ(valueFieldPosition(QRectF(380, 290, 40, 20)), QPoint(325, 284));
    EXPECT_EQ(valueFieldPosition(QRectF(400.2, 300.4, 0.8, 0.4)), QPoint(325, 284));
    EXPECT_EQ(valueFieldPosition(QRectF(0, 0, 21, 11)), QPoint(-64, -10)); // toward zero
}

TEST(DimensionLabels, DimensionLinesAndArcs)
{
    Sketch s;
    const int p = int(s.addPoint(false, 0, 0));
    const int q = int(s.addPoint(false, 30, 10));
    const int circle = int(s.addCircleAt(false, 0, 0, 5));
    const int xAxis = int(s.addLineAt(false, 0, 0, 10, 0));
    const int yAxis = int(s.addLineAt(false, 0, 0, 0, 10));
    const FakeSketchMapper mapper;
    const QFontMetricsF metrics(dimensionLabelFont());
    const auto lines = [&](Constraint c, qor::sketch::Vec2 offset) {
        c.labelOffset = offset;
        return dimensionLayout(s, c, mapper, metrics, true);
    };
    const auto px = [&](double u, double v) { return mapper.toPixel(u, v); };

    // Extension lines up to the label's height, then the dimension line between them.
    const DimensionLayout horizontal
        = lines(dimension(ConstraintType::HorizontalDistance, 30, p, q), {0, 15});
    EXPECT_EQ(horizontal.segments,
              (std::vector<QLineF>{QLineF(px(0, 0), px(0, 20)), QLineF(px(30, 10), px(30, 20)),
                                   QLineF(px(0, 20), px(30, 20))}));
    // An aligned distance runs parallel to the line through the label.
    const DimensionLayout aligned = lines(dimension(ConstraintType::Distance, 10, xAxis), {0, 5});
    ASSERT_EQ(aligned.segments.size(), 3u);
    EXPECT_EQ(aligned.segments[2], QLineF(px(0, 5), px(10, 5)));
    // Radius from the centre, diameter from the far side of the circle.
    EXPECT_EQ(lines(dimension(ConstraintType::Radius, 5, circle), {8, 0}).segments,
              std::vector<QLineF>{QLineF(px(0, 0), px(8, 0))});
    EXPECT_EQ(lines(dimension(ConstraintType::Diameter, 10, circle), {8, 0}).segments,
              std::vector<QLineF>{QLineF(px(-5, 0), px(8, 0))});
    EXPECT_TRUE(lines(dimension(ConstraintType::Radius, 5, circle), {0, 0}).segments.empty());

    // The angle arc sweeps from the first line to the second about their intersection.
    const DimensionLayout angle = lines(dimension(ConstraintType::Angle, pi / 2, xAxis, yAxis),
                                        {1, 1}); // base (2.5, 2.5): radius |(3.5, 3.5)|
    ASSERT_EQ(angle.arcs.size(), 1u);
    EXPECT_TRUE(angle.segments.empty());
    const QPainterPath& arc = angle.arcs[0];
    const double r = 3.5 * std::numbers::sqrt2;
    EXPECT_EQ(arc.elementCount(), 33);
    EXPECT_NEAR(QLineF(arc.elementAt(0), px(r, 0)).length(), 0.0, 1e-9);
    EXPECT_NEAR(QLineF(arc.elementAt(32), px(0, r)).length(), 0.0, 1e-9);
}

TEST(DimensionLabels, ValueEntry)
{
    qor::model::Document doc;
    qor::model::Parameter width;
    width.name = QStringLiteral("Breite");
    width.expr = QStringLiteral("50");
    doc.parameters.push_back(width);
    doc.evaluateParameters();

    Constraint length = dimension(ConstraintType::Distance, 10);
    length.name = "d1";
    length.expression = "Breite/5";
    const Constraint angle = dimension(ConstraintType::Angle, pi / 6);
    const Constraint negativeAngle = dimension(ConstraintType::Angle, -pi / 6);

    struct Case {
        const Constraint& dim;
        const char* text;
        bool valid;
        double value;
        const char* expression;
    };
    const Case cases[] = {
        {length, " 12.5 ", true, 12.5, ""},
        {length, "Breite", true, 50, "Breite"},
        {length, "Breite/2", true, 25, "Breite/2"},
        {length, "0", false, 0, ""},
        {length, "-3", false, 0, ""},
        {angle, "-30", true, -pi / 6, ""},
        {angle, "0", true, 0, ""},
        {negativeAngle, "45", true, -pi / 4, ""},
        {length, "1e999", false, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const ValueEntry entry = readValueEntry(doc, c.dim, QString::fromUtf8(c.text));
        EXPECT_EQ(entry.valid, c.valid);
        EXPECT_TRUE(entry.error.isEmpty());
        EXPECT_NEAR(entry.value, c.value, 1e-12);
        EXPECT_EQ(entry.expression, c.expression);
    }

    for (const char* broken : {"Hoehe * 2", "d1 + 1"}) {
        const ValueEntry entry = readValueEntry(doc, length, QString::fromUtf8(broken));
        EXPECT_FALSE(entry.valid) << broken;
        EXPECT_FALSE(entry.error.isEmpty()) << broken;
    }
}
