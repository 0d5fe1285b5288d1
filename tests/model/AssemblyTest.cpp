#include "model/Assembly.h"
#include "model/Document.h"

#include <QJsonArray>
#include <gp_Ax1.hxx>
#include <gp_Pnt.hxx>

#include "tests/common/ShapeChecks.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace qor::model;
using qor::test::sortedKeys;

namespace {

QJsonArray placementArray(std::initializer_list<double> values)
{
    QJsonArray array;
    for (double v : values)
        array.append(v);
    return array;
}

// Columns of the applied linear map, found by transforming unit vectors.
gp_XYZ appliedColumn(const gp_Trsf& trsf, const gp_XYZ& unit)
{
    gp_Pnt origin(0, 0, 0);
    gp_Pnt p(unit);
    origin.Transform(trsf);
    p.Transform(trsf);
    return p.XYZ() - origin.XYZ();
}

void expectNear(const gp_XYZ& a, const gp_XYZ& b, double tol = 1e-12)
{
    EXPECT_NEAR(a.X(), b.X(), tol);
    EXPECT_NEAR(a.Y(), b.Y(), tol);
    EXPECT_NEAR(a.Z(), b.Z(), tol);
}

} // namespace

TEST(ComponentJson, MinimalObjectGivesDefaults)
{
    const Component c = Component::fromJson(QJsonObject{{"id", 7}, {"name", "Welle"}});
    Component expected;
    expected.id = 7;
    expected.name = QStringLiteral("Welle");
    EXPECT_EQ(c, expected);

    const QJsonObject written = c.toJson();
    EXPECT_EQ(sortedKeys(written), (QStringList{"id", "m", "name"}));
    EXPECT_EQ(written.value("m").toArray().size(), 12);

    Component full = c;
    full.path = QStringLiteral("teile/welle.qcpart");
    full.embedded = QStringLiteral("eJw=");
    full.grounded = true;
    full.hidden = true;
    full.status = QStringLiteral("Datei fehlt");
    const QJsonObject all = full.toJson();
    EXPECT_EQ(sortedKeys(all),
              (QStringList{"embedded", "grounded", "hidden", "id", "m", "name", "path"}));
    Component back = Component::fromJson(all);
    EXPECT_TRUE(back.status.isEmpty()); // never stored
    back.status = full.status;
    EXPECT_EQ(back, full);
}

TEST(ComponentJson, PlacementArrayIsTakenOnlyWhole)
{
    QJsonArray eleven = placementArray({2, 0, 0, 5, 0, 2, 0, 6, 0, 0, 2});
    Component c = Component::fromJson(QJsonObject{{"m", eleven}});
    EXPECT_EQ(c.m, Component{}.m);
    eleven.append(7);
    eleven.append(8);
    c = Component::fromJson(QJsonObject{{"m", eleven}}); // 13 entries
    EXPECT_EQ(c.m, Component{}.m);
    c = Component::fromJson(QJsonObject{{"m", "identity"}});
    EXPECT_EQ(c.m, Component{}.m);

    QJsonArray twelve = placementArray({1, 0, 0, 5, 0, 1, 0, 6, 0, 0, 1, 7});
    twelve[3] = QStringLiteral("5");
    twelve[7] = QJsonValue();
    c = Component::fromJson(QJsonObject{{"m", twelve}});
    EXPECT_EQ(c.m[3], 0.0);
    EXPECT_EQ(c.m[7], 0.0);
    EXPECT_EQ(c.m[11], 7.0);
}

TEST(ComponentJson, PlacementIsRoundedToNineDecimals)
{
    Component c;
    c.m[3] = 0.1234567894999;
    c.m[7] = -2.0000000005; // a half away from zero
    c.m[11] = 1e300;         // far beyond the digits a double holds: unchanged
    const QJsonArray m = c.toJson().value("m").toArray();
    EXPECT_DOUBLE_EQ(m[3].toDouble(), 0.123456789);
    EXPECT_DOUBLE_EQ(m[7].toDouble(), -2.000000001);
    EXPECT_EQ(m[11].toDouble(), 1e300);

    // Rounding what was read gives the same numbers again.
    const Component back = Component::fromJson(c.toJson());
    EXPECT_EQ(back.toJson(), c.toJson());
}

TEST(ComponentPlacement, DegenerateColumnsGiveTranslation)
{
    Component c;
    c.m = {0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0, 6};
    gp_Trsf t = c.transform();
    EXPECT_EQ(t.Form(), gp_Translation);
    expectNear(t.TranslationPart(), gp_XYZ(4, 5, 6));

    c.m = {1, 0, 0, 4, 0, 0, 0, 5, 0, 0, 1, 6}; // second column zero
    t = c.transform();
    expectNear(appliedColumn(t, gp_XYZ(1, 0, 0)), gp_XYZ(1, 0, 0));
    expectNear(t.TranslationPart(), gp_XYZ(4, 5, 6));
    EXPECT_EQ(t.Form(), gp_Translation);

    // Lengths that overflow a plain sum of squares still give a rotation.
    c.m = {1e200, 0, 0, 0, 0, 1e200, 0, 0, 0, 0, 1e200, 0};
    t = c.transform();
    EXPECT_DOUBLE_EQ(t.ScaleFactor(), 1.0);
    expectNear(appliedColumn(t, gp_XYZ(0, 1, 0)), gp_XYZ(0, 1, 0));
}

TEST(ComponentPlacement, ScaleIsDroppedAndColumnsOrthonormalised)
{
    Component c;
    c.m = {2, 0, 0, 1, 0, 2, 0, 2, 0, 0, 2, 3};
    gp_Trsf t = c.transform();
    EXPECT_DOUBLE_EQ(t.ScaleFactor(), 1.0);
    expectNear(appliedColumn(t, gp_XYZ(1, 0, 0)), gp_XYZ(1, 0, 0));
    expectNear(appliedColumn(t, gp_XYZ(0, 0, 1)), gp_XYZ(0, 0, 1));
    c.setPlacement(t);
    EXPECT_EQ(c.m, (std::array<double, 12>{1, 0, 0, 1, 0, 1, 0, 2, 0, 0, 1, 3}));

    // Parallel first and second columns along x: the auxiliary axis is Z.
    c.m = {1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0};
    t = c.transform();
    expectNear(appliedColumn(t, gp_XYZ(1, 0, 0)), gp_XYZ(1, 0, 0));
    expectNear(appliedColumn(t, gp_XYZ(0, 1, 0)), gp_XYZ(0, 1, 0)); // Z × X
    EXPECT_NEAR(t.VectorialPart().Determinant(), 1.0, 1e-12);

    // Both along z: the auxiliary axis is X, so y = X × Z = -Y.
    c.m = {0, 0, 0, 0, 0, 0, 1, 0, 1, 1, 0, 0};
    t = c.transform();
    expectNear(appliedColumn(t, gp_XYZ(1, 0, 0)), gp_XYZ(0, 0, 1));
    expectNear(appliedColumn(t, gp_XYZ(0, 1, 0)), gp_XYZ(0, -1, 0));
    EXPECT_NEAR(t.VectorialPart().Determinant(), 1.0, 1e-12);
}

TEST(ComponentPlacement, ReflectionBecomesNegativeScale)
{
    Component c;
    c.m = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 10};
    const gp_Trsf t = c.transform();
    EXPECT_DOUBLE_EQ(t.ScaleFactor(), -1.0);
    gp_Pnt p(1, 2, 3);
    p.Transform(t);
    EXPECT_NEAR(p.X(), 1, 1e-12);
    EXPECT_NEAR(p.Y(), 2, 1e-12);
    EXPECT_NEAR(p.Z(), 7, 1e-12);

    Component stored;
    stored.setPlacement(t);
    EXPECT_NEAR(stored.m[10], -1.0, 1e-12);
    EXPECT_NEAR(stored.m[0], 1.0, 1e-12);
}

TEST(ComponentPlacement, RigidTransformSurvivesStoring)
{
    gp_Trsf rotation;
    rotation.SetRotation(gp_Ax1(gp_Pnt(1, 2, 3), gp_Dir(1, 2, 2)), 0.7);
    gp_Trsf shift;
    shift.SetTranslation(gp_Vec(10, -20, 30));
    const gp_Trsf placement = shift * rotation;

    Component c;
    c.setPlacement(placement);
    const gp_Trsf back = c.transform();
    for (const gp_Pnt& probe : {gp_Pnt(0, 0, 0), gp_Pnt(5, -3, 8), gp_Pnt(-100, 40, 2)}) {
        gp_Pnt expected = probe;
        gp_Pnt got = probe;
        expected.Transform(placement);
        got.Transform(back);
        EXPECT_LT(expected.Distance(got), 1e-12);
    }
    Component again;
    again.setPlacement(back);
    for (std::size_t i = 0; i < 12; ++i)
        EXPECT_NEAR(again.m[i], c.m[i], 1e-14);
}

TEST(MateJson, DefaultsAndWrittenKeys)
{
    Mate expected;
    expected.id = 12;
    const Mate mate = Mate::fromJson(QJsonObject{{"id", 12}});
    EXPECT_EQ(mate, expected);
    const QJsonObject written = mate.toJson();
    EXPECT_EQ(sortedKeys(written), (QStringList{"a", "b", "id", "name", "type", "value"}));
    EXPECT_EQ(sortedKeys(written.value("a").toObject()), (QStringList{"comp", "sig"}));

    Mate other;
    other.value = QStringLiteral("5");
    other.flip = true;
    other.suppressed = true;
    other.type = QStringLiteral("gear"); // unknown types are kept
    const QJsonObject json = other.toJson();
    EXPECT_EQ(json.value("value"), QJsonValue("5"));
    EXPECT_EQ(Mate::fromJson(json), other);
}

TEST(MateJson, MistypedMembersTakeDefaults)
{
    const QJsonObject json{{"id", "3"},  {"name", 4},   {"type", 5},
                           {"a", "x"},   {"b", QJsonArray{1}},
                           {"flip", 1},  {"suppressed", "true"},
                           {"value", QJsonObject{}}};
    EXPECT_EQ(Mate::fromJson(json), Mate{});

    // A hand-written number keeps its digits instead of silently becoming 0.
    EXPECT_EQ(Mate::fromJson(QJsonObject{{"value", 12.5}}).value, QStringLiteral("12.5"));
    EXPECT_EQ(Mate::fromJson(QJsonObject{{"a", QJsonObject{{"comp", 4}}}}).a.comp, 4);
}

TEST(MateJson, SignatureFormAndRounding)
{
    ShapeSignature sig;
    sig.kind = ShapeSignature::Kind::Edge;
    sig.geometry = 1;
    sig.point = {1.23456749, -0.0000004, 1e7 / 3};
    sig.direction = {0.6, 0.8, 0};
    sig.size = 31.41592653589793;
    const QJsonObject json = sig.toJson();
    EXPECT_EQ(sortedKeys(json), (QStringList{"d", "g", "k", "p", "s"}));
    EXPECT_EQ(json.value("k").toString(), QStringLiteral("e"));
    EXPECT_DOUBLE_EQ(json.value("s").toDouble(), 31.415927);

    const ShapeSignature back = ShapeSignature::fromJson(json);
    EXPECT_EQ(back.kind, sig.kind);
    EXPECT_EQ(back.geometry, sig.geometry);
    for (int i = 0; i < 3; ++i) {
        EXPECT_LE(std::fabs(back.point[i] - sig.point[i]), 5e-7);
        EXPECT_LE(std::fabs(back.direction[i] - sig.direction[i]), 5e-7);
    }
    EXPECT_LE(std::fabs(back.size - sig.size), 5e-7);
    EXPECT_EQ(back.toJson(), json);

    EXPECT_EQ(ShapeSignature::fromJson(QJsonObject{{"k", "v"}}).kind, ShapeSignature::Kind::Vertex);
    EXPECT_EQ(ShapeSignature::fromJson(QJsonObject{{"g", 3}}).kind, ShapeSignature::Kind::Face);
    EXPECT_EQ(ShapeSignature::fromJson(QJsonObject{{"k", "E"}}).kind, ShapeSignature::Kind::Face);
    const ShapeSignature partial =
        ShapeSignature::fromJson(QJsonObject{{"p", QJsonArray{1, "x"}}, {"s", "2"}});
    EXPECT_EQ(partial.point, (std::array<double, 3>{1, 0, 0}));
    EXPECT_EQ(partial.size, 0.0);
}

TEST(AssemblyLookups, LabelsComponentsAndPaths)
{
    EXPECT_EQ(mateTypeLabel("planar"), QStringLiteral("Planar (gegenüber)"));
    EXPECT_EQ(mateTypeLabel("point"), QStringLiteral("Punkt deckungsgleich"));
    EXPECT_EQ(mateTypeLabel("gear"), QStringLiteral("gear"));
    EXPECT_EQ(mateTypeLabel("Planar"), QStringLiteral("Planar"));

    Document doc;
    EXPECT_EQ(doc.component(1), nullptr);
    Component first;
    first.id = 4;
    first.name = QStringLiteral("erste");
    Component second = first;
    second.name = QStringLiteral("zweite");
    doc.components = {first, second};
    ASSERT_NE(doc.component(4), nullptr);
    EXPECT_EQ(doc.component(4)->name, QStringLiteral("erste"));
    EXPECT_EQ(std::as_const(doc).component(4), &doc.components[0]);
    EXPECT_EQ(doc.component(5), nullptr);

    EXPECT_EQ(doc.resolvePath("teile/welle.qcpart"), QStringLiteral("teile/welle.qcpart"));
    doc.folder = QStringLiteral("/home/u/bg");
    EXPECT_EQ(doc.resolvePath("teile/welle.qcpart"), QStringLiteral("/home/u/bg/teile/welle.qcpart"));
    EXPECT_EQ(doc.resolvePath("/abs/teil.step"), QStringLiteral("/abs/teil.step"));
    EXPECT_EQ(doc.resolvePath(QString()), QString());
}
