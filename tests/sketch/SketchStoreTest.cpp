#include "sketch/Constraints.h"
#include "sketch/Sketch.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>

#include <cmath>
#include <limits>
#include <utility>

using namespace qor::sketch;

namespace {

std::vector<double> paramsOf(std::initializer_list<double> values)
{
    return values;
}

QJsonObject entityJson(const Sketch& s, int index)
{
    return s.toJson()["entities"].toArray()[index].toObject();
}

QJsonObject constraintJson(const Sketch& s, int index)
{
    return s.toJson()["constraints"].toArray()[index].toObject();
}

} // namespace

TEST(SketchStore, CreationQueriesAndAbsentIds)
{
    Sketch s;
    const int line = int(s.addLineAt(false, 1, 2, 5, 6));
    EXPECT_EQ(line, 3);
    EXPECT_TRUE(s.findEntity(1)->owned);
    EXPECT_FALSE(s.findEntity(line)->owned);
    const int circle = int(s.addCircleAt(true, -3, 4, 2.5));
    EXPECT_TRUE(s.findEntity(circle)->construction);
    // The arc's end is projected onto the circle through its start.
    const int arc = int(s.addArcAt(false, 0, 0, 3, 4, 10, 0));
    EXPECT_EQ(s.params, paramsOf({1, 2, 5, 6, -3, 4, 2.5, 0, 0, 3, 4, 5, 0}));
    // A plain point is not owned; ids are shared with constraints.
    EXPECT_EQ(s.addConstraint(ConstraintType::Horizontal, line, -1, -1, 0), 10u);
    EXPECT_EQ(s.addPoint(false, 2, 2), 11u);
    EXPECT_FALSE(s.findEntity(11)->owned);

    EXPECT_EQ(s.entityAnchor(line).x, 3.0);
    EXPECT_EQ(s.entityAnchor(circle).y, 4.0);
    EXPECT_DOUBLE_EQ(s.radius(circle), 2.5);
    EXPECT_DOUBLE_EQ(s.radius(arc), 5.0);
    EXPECT_EQ(s.radius(line), 0.0);
    EXPECT_EQ(s.endPoint(line), 2);
    EXPECT_EQ(s.startPoint(arc), 7);
    EXPECT_EQ(s.startPoint(circle), -1);
    EXPECT_EQ(s.pointsOf(arc), (std::vector<int>{6, 7, 8}));
    EXPECT_EQ(s.paramsOf(circle), (std::vector<int>{4, 5, 6}));
    EXPECT_EQ(s.paramsOf(arc), (std::vector<int>{7, 8, 9, 10, 11, 12}));
    s.setPointPosition(circle, 100, 100); // not a point: ignored
    EXPECT_DOUBLE_EQ(s.radius(circle), 2.5);

    for (int absent : {-1, 0, 99}) {
        EXPECT_EQ(s.findEntity(absent), nullptr);
        EXPECT_EQ(s.pointPosition(absent).x, 0.0);
        EXPECT_EQ(s.radius(absent), 0.0);
        EXPECT_EQ(s.startPoint(absent), -1);
        EXPECT_TRUE(s.pointsOf(absent).empty());
        EXPECT_TRUE(s.paramsOf(absent).empty());
    }
    // A line naming a missing point or a curve: no index that is not a point's.
    const int odd = int(s.addLine(1, 99, false));
    EXPECT_EQ(s.paramsOf(odd), (std::vector<int>{0, 1}));
    EXPECT_TRUE(s.paramsOf(int(s.addLine(circle, line, false))).empty());
    EXPECT_EQ(s.entityAnchor(odd).x, 0.5);

    // An end on the centre stays there instead of being divided by a zero distance.
    Sketch t;
    t.addArcAt(false, 1, 1, 4, 5, 1, 1);
    EXPECT_EQ(t.pointPosition(3).x, 1.0);
    EXPECT_EQ(t.pointPosition(3).y, 1.0);
}

TEST(SketchStore, RemovingACurveTakesItsOwnedPointsAndConstraints)
{
    Sketch s;
    const int l1 = int(s.addLineAt(false, 0, 0, 10, 0)); // points 1, 2
    const int l2 = int(s.addLine(2, int(s.addPoint(false, 10, 5)), false)); // point 4, line 5
    const int h1 = int(s.addConstraint(ConstraintType::Horizontal, l1, -1, -1, 0));
    const int v2 = int(s.addConstraint(ConstraintType::Vertical, l2, -1, -1, 0));
    const int fix = int(s.addConstraint(ConstraintType::Fixed, 1, -1, -1, 0));
    const std::size_t paramCount = s.params.size();

    s.removeEntity(l1);
    // Point 2 is still used by line 5; point 1 goes with the line.
    EXPECT_EQ(s.findEntity(l1), nullptr);
    EXPECT_EQ(s.findEntity(1), nullptr);
    EXPECT_NE(s.findEntity(2), nullptr);
    EXPECT_EQ(s.findConstraint(h1), nullptr);
    EXPECT_EQ(s.findConstraint(fix), nullptr);
    EXPECT_NE(s.findConstraint(v2), nullptr);
    EXPECT_EQ(s.params.size(), paramCount);

    // Now nothing else uses point 2: it goes, the unowned point 4 stays.
    s.removeEntity(l2);
    EXPECT_EQ(s.findEntity(2), nullptr);
    EXPECT_NE(s.findEntity(4), nullptr);
    EXPECT_TRUE(s.constraints.empty());
    EXPECT_EQ(s.entities.size(), 1u);

    s.removeEntity(77); // absent: nothing happens
}

TEST(SketchStore, RemovingACornerTakesBothLinesButNotTheirOtherEnds)
{
    Sketch s;
    const int a = int(s.addPoint(true, 0, 0));
    const int corner = int(s.addPoint(true, 10, 0));
    const int b = int(s.addPoint(true, 10, 10));
    const int l1 = int(s.addLine(a, corner, false));
    const int l2 = int(s.addLine(corner, b, false));
    const int other = int(s.addLineAt(false, 20, 0, 30, 0));
    s.addConstraint(ConstraintType::Horizontal, l1, -1, -1, 0);
    s.addConstraint(ConstraintType::Coincident, corner, b, -1, 0);
    const int keep = int(s.addConstraint(ConstraintType::Horizontal, other, -1, -1, 0));
    const int keep2 = int(s.addConstraint(ConstraintType::Fixed, a, -1, -1, 0));

    s.removeEntity(corner);
    EXPECT_EQ(s.findEntity(l1), nullptr);
    EXPECT_EQ(s.findEntity(l2), nullptr);
    EXPECT_NE(s.findEntity(a), nullptr);
    EXPECT_NE(s.findEntity(b), nullptr);
    ASSERT_EQ(s.constraints.size(), 2u);
    EXPECT_EQ(int(s.constraints[0].id), keep);
    EXPECT_EQ(int(s.constraints[1].id), keep2);
    // Survivors keep their relative order.
    ASSERT_EQ(s.entities.size(), 5u);
    EXPECT_EQ(int(s.entities[0].id), a);
    EXPECT_EQ(int(s.entities[1].id), b);
    EXPECT_EQ(int(s.entities[4].id), other);
}

TEST(SketchStore, EraseAndRemoveConstraintTouchOnlyTheirRecord)
{
    Sketch s;
    const int line = int(s.addLineAt(false, 0, 0, 10, 0));
    const int c1 = int(s.addConstraint(ConstraintType::Fixed, 1, -1, -1, 0));
    const int c2 = int(s.addConstraint(ConstraintType::Horizontal, line, -1, -1, 0));
    const int c3 = int(s.addConstraint(ConstraintType::Fixed, 2, -1, -1, 0));
    s.eraseEntity(1);
    EXPECT_EQ(s.findEntity(1), nullptr);
    EXPECT_NE(s.findEntity(line), nullptr);
    EXPECT_EQ(s.params.size(), 4u);
    s.removeConstraint(c2);
    ASSERT_EQ(s.constraints.size(), 2u);
    EXPECT_EQ(int(s.constraints[0].id), c1);
    EXPECT_EQ(int(s.constraints[1].id), c3);

    // Clearing keeps the namer that names new dimensions.
    s.dimensionNamer = [] { return std::string("x"); };
    s.clear();
    EXPECT_TRUE(s.entities.empty() && s.constraints.empty() && s.params.empty());
    EXPECT_EQ(s.lastId, 0u);
    s.addLineAt(false, 0, 0, 1, 0);
    s.addDimension(ConstraintType::Distance, 3, -1, -1);
    EXPECT_EQ(s.constraints[0].name, "x");
}

TEST(SketchStore, TangentChoosesInternalOrExternalContact)
{
    Sketch s;
    const int big = int(s.addCircleAt(false, 0, 0, 5));
    const int line = int(s.addLineAt(false, 0, 5, 10, 5));
    const auto tangentValue = [&](int a, int b, double given) {
        return s.findConstraint(int(s.addConstraint(ConstraintType::Tangent, a, b, -1, given)))
            ->value;
    };
    EXPECT_EQ(tangentValue(big, int(s.addCircleAt(false, 3, 0, 2)), 0), 1.0); // inside
    EXPECT_EQ(tangentValue(big, int(s.addCircleAt(false, 7, 0, 2)), 1), 0.0); // outside
    EXPECT_EQ(tangentValue(line, big, 7), 7.0);
    // Equal circles one radius apart are as near to internal as to external contact:
    // the tie counts as external.
    EXPECT_EQ(
        tangentValue(int(s.addCircleAt(false, 0, 20, 1)), int(s.addCircleAt(false, 1, 20, 1)), 1),
        0.0);
}

TEST(SketchStore, DefaultDimensionNames)
{
    Sketch s;
    EXPECT_EQ(s.defaultDimensionName(), "d1");
    const int p = int(s.addPoint(false, 0, 0));
    const int q = int(s.addPoint(false, 6, 8));
    const int dim = int(s.addDimension(ConstraintType::Distance, p, q, -1));
    const Constraint* d = s.findConstraint(dim);
    ASSERT_NE(d, nullptr);
    EXPECT_DOUBLE_EQ(d->value, 10.0);
    EXPECT_EQ(d->name, "d1");
    // Geometric kinds get no name.
    EXPECT_EQ(s.findConstraint(int(s.addConstraint(ConstraintType::Coincident, p, q, -1, 0)))->name,
              "");

    const auto withNames = [](std::initializer_list<const char*> names) {
        Sketch t;
        for (const char* n : names) {
            t.addConstraint(ConstraintType::Fixed, -1, -1, -1, 0);
            t.constraints.back().name = n;
        }
        return t.defaultDimensionName();
    };
    EXPECT_EQ(withNames({"d1", "d7", "dx", "Länge"}), "d8");
    EXPECT_EQ(withNames({"d2a", "d"}), "d3");
    EXPECT_EQ(withNames({"d \t+12", "D40", "xd50"}), "d13");
    EXPECT_EQ(withNames({"d-5"}), "d1");
    EXPECT_EQ(withNames({"d4", "d99999999999", "d2147483648", "d+-3", "d -",
                         "d99999999999999999999999999", "d-99999999999999999999999"}),
              "d5");
    EXPECT_EQ(withNames({"d2147483647"}), "d2147483648");
    EXPECT_EQ(withNames({"d-2147483648", "d0"}), "d1");
}

TEST(SketchJson, KeysWrittenAndOmitted)
{
    Sketch s;
    s.addLineAt(true, 0, 0, 10, 0);
    const int circle = int(s.addCircleAt(false, 1, 2, 3));
    const int arc = int(s.addArcAt(false, 0, 0, 2, 0, 0, 2));
    s.addConstraint(ConstraintType::Fixed, 1, -1, -1, 0);
    s.addDimension(ConstraintType::Radius, circle, -1, -1);
    s.constraints.back().value = 0.0;
    s.addConstraint(ConstraintType::Symmetric, 1, 2, 3, 0);
    Constraint& last = s.constraints.back();
    last.expression = "Breite/2";
    last.driven = true;
    last.labelOffset = {0, -2.5};

    EXPECT_EQ(entityJson(s, 2),
              (QJsonObject{{"id", 3}, {"t", "l"}, {"a", 1}, {"b", 2}, {"k", true}}));
    EXPECT_EQ(entityJson(s, 0),
              (QJsonObject{{"id", 1}, {"t", "p"}, {"x", 0}, {"y", 0}, {"o", true}}));
    EXPECT_EQ(entityJson(s, 4), (QJsonObject{{"id", circle}, {"t", "c"}, {"c", 4}, {"r", 3}}));
    EXPECT_EQ(entityJson(s, 8),
              (QJsonObject{{"id", arc}, {"t", "a"}, {"a", 7}, {"b", 8}, {"c", 6}}));
    s.addPoint(false, 4, 5);
    EXPECT_EQ(s.toJson()["entities"].toArray().last().toObject(),
              (QJsonObject{{"id", 13}, {"t", "p"}, {"x", 4}, {"y", 5}}));

    EXPECT_EQ(constraintJson(s, 0), (QJsonObject{{"id", 10}, {"t", 12}, {"a", 1}}));
    EXPECT_EQ(constraintJson(s, 1),
              (QJsonObject{{"id", 11}, {"t", 16}, {"a", circle}, {"v", 0}, {"n", "d1"}}));
    EXPECT_EQ(constraintJson(s, 2), (QJsonObject{{"id", 12},
                                                 {"t", 10},
                                                 {"a", 1},
                                                 {"b", 2},
                                                 {"c", 3},
                                                 {"e", "Breite/2"},
                                                 {"dr", true},
                                                 {"lo", QJsonArray{0, -2.5}}}));
    s.constraints[0].value = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(constraintJson(s, 0).contains("v"));
    EXPECT_EQ(s.toJson()["next"].toInteger(), 13);
}

TEST(SketchJson, RoundTripRenumbersParameters)
{
    Sketch s;
    s.addLineAt(false, 0, 0, 10, 0);
    const int circle = int(s.addCircleAt(false, 5, 5, 2));
    s.addArcAt(true, 20, 0, 25, 0, 20, 9);
    s.addDimension(ConstraintType::Radius, circle, -1, -1);
    s.addDimension(ConstraintType::Distance, 3, -1, -1);
    s.constraints.back().name = "Länge „A“";
    s.constraints.back().labelOffset = {1.5, 2};
    s.removeEntity(circle);
    EXPECT_EQ(s.params.size(), 13u);

    const QJsonObject saved = s.toJson();
    Sketch r;
    r.fromJson(saved);
    // The circle's centre and radius are gone from the vector.
    EXPECT_EQ(r.params, paramsOf({0, 0, 10, 0, 20, 0, 25, 0, 20, 5}));
    EXPECT_EQ(r.findEntity(7)->p0, 6);
    EXPECT_EQ(r.findEntity(8)->p1, 9);
    EXPECT_EQ(r.lastId, s.lastId);
    // Every field read back is written again unchanged.
    EXPECT_EQ(r.toJson(), saved);
}

TEST(SketchJson, ReaderDefaultsAndIdsNeverHandedOutAgain)
{
    const auto labelled = [](int id, const QJsonValue& offset) {
        return QJsonObject{{"id", id}, {"t", 0}, {"a", 4}, {"b", 9}, {"lo", offset}};
    };
    QJsonObject json{{"entities", QJsonArray{QJsonObject{{"id", 4}, {"t", "p"}, {"x", 2}},
                                             QJsonObject{{"id", 9}, {"t", "p"}}}},
                     {"constraints", QJsonArray{labelled(10, QJsonArray{1, 2, 3}),
                                                labelled(11, QJsonArray{1, "x"}), labelled(12, 7)}},
                     {"next", 2}};
    Sketch s;
    s.addLineAt(false, 9, 9, 9, 9); // replaced by the reader
    s.fromJson(json);
    EXPECT_EQ(s.params, paramsOf({2, 0, 0, 0}));
    ASSERT_EQ(s.constraints.size(), 3u);
    EXPECT_EQ(s.constraints[0].labelOffset.x, 0.0);
    EXPECT_EQ(s.constraints[1].labelOffset.x, 1.0);
    EXPECT_EQ(s.constraints[1].labelOffset.y, 0.0);
    EXPECT_EQ(s.constraints[2].labelOffset.x, 0.0);
    // A stored id above "next" is never handed out again.
    EXPECT_EQ(s.lastId, 12u);
    EXPECT_EQ(s.addPoint(false, 0, 0), 13u);
    json.remove("next");
    s.fromJson(json);
    EXPECT_EQ(s.lastId, 12u);
    json["next"] = 40;
    s.fromJson(json);
    EXPECT_EQ(s.lastId, 40u);

    s.fromJson(QJsonObject{{"entities", 3}, {"constraints", "x"}});
    EXPECT_TRUE(s.entities.empty());
    EXPECT_EQ(s.lastId, 0u);
}

TEST(SketchJson, ReaderSkipsUnknownKindsAndBrokenConstraints)
{
    QJsonObject json{
        {"entities",
         QJsonArray{QJsonObject{{"id", 1}, {"t", "p"}, {"x", 1}, {"y", 1}},
                    QJsonObject{{"id", 2}, {"t", "P"}, {"x", 5}, {"y", 5}}, // unknown: skipped
                    QJsonObject{{"id", 3}, {"t", "l"}, {"a", 1}, {"b", 2}}, // end not read
                    QJsonObject{{"id", 4}, {"t", "c"}, {"c", 1}, {"r", 2}},
                    7, // not an object: no kind, skipped
                    QJsonObject{{"id", 5}, {"t", "p"}, {"x", 4}, {"y", 1}}}},
        {"constraints",
         QJsonArray{QJsonObject{{"id", 10}, {"t", 0}, {"a", 1}, {"b", 2}}, // missing point
                    QJsonObject{{"id", 11}, {"t", 0}, {"a", 1}, {"b", 4}}, // circle, not point
                    QJsonObject{{"id", 12}, {"t", 16}, {"a", 3}, {"v", 1}}, // radius of a line
                    QJsonObject{{"id", 13}, {"t", 18}, {"a", 3}, {"b", 3}}, // fine
                    QJsonObject{{"id", 14}, {"t", 19}, {"a", 1}}, // unknown kind
                    QJsonObject{{"id", 15}, {"t", 14}, {"a", 3}, {"b", 5}}, // line and point
                    QJsonObject{{"id", 16}, {"t", 14}, {"a", 4}, {"b", 5}}, // centre and point
                    QJsonObject{{"id", 17}, {"t", 12}, {"a", 2}}, // skipped entity
                    QJsonObject{{"id", 18}, {"t", 12}, {"a", 3}}, // fine
                    QJsonObject{{"id", 19}, {"t", 2}, {"a", 3}}, // fine
                    "junk"}}, // empty object
        {"next", 19}};
    Sketch s;
    s.fromJson(json);
    ASSERT_EQ(s.entities.size(), 4u);
    EXPECT_EQ(s.findEntity(2), nullptr);
    EXPECT_EQ(s.params, paramsOf({1, 1, 2, 4, 1}));
    std::vector<std::uint32_t> kept;
    for (const Constraint& c : s.constraints)
        kept.push_back(c.id);
    EXPECT_EQ(kept, (std::vector<std::uint32_t>{13, 16, 18, 19}));

    // The line whose end was not read offers only its real point's parameters,
    // and constraints on it give no rows instead of reading at index -1.
    EXPECT_EQ(s.paramsOf(3), (std::vector<int>{0, 1}));
    std::vector<double> rows;
    for (const Constraint& c : s.constraints)
        constraintResiduals(ParamView{&s, &s.params}, c, rows);
    EXPECT_EQ(rows.size(), 1u); // only the horizontal distance between circle 4 and point 5
    ASSERT_FALSE(rows.empty());
    EXPECT_DOUBLE_EQ(rows[0], 3.0);
}

// A damaged file with ids out of order and one id twice: every query by id takes the first
// record, as a scan from the front does.
TEST(SketchJson, DuplicateIdsOutOfOrderResolveToTheFirstRecord)
{
    const auto point = [](int id, double x) {
        return QJsonObject{{"id", id}, {"t", "p"}, {"x", x}, {"y", 1}};
    };
    Sketch s;
    s.fromJson(QJsonObject{{"entities", QJsonArray{point(5, 10), point(3, 20), point(5, 30)}}});
    ASSERT_EQ(s.entities.size(), 3u);
    EXPECT_EQ(s.findEntity(5), &s.entities[0]);
    EXPECT_EQ(s.pointPosition(5).x, 10.0);
    EXPECT_EQ(s.findEntity(3), &s.entities[1]);
    EXPECT_EQ(std::as_const(s).findEntity(5), &s.entities[0]);
}
