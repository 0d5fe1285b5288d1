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

// Where the placement takes a vector (the translation left out).
gp_XYZ image(const gp_Trsf& trsf, const gp_XYZ& v)
{
    return gp_Pnt(v).Transformed(trsf).XYZ() - gp::Origin().Transformed(trsf).XYZ();
}

::testing::AssertionResult near(const gp_XYZ& got, const gp_XYZ& want, double tol = 1e-12)
{
    if ((got - want).Modulus() <= tol)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "(" << got.X() << ", " << got.Y() << ", " << got.Z() << ")";
}

} // namespace

TEST(ComponentJson, RoundTripKeepsEverythingButTheStatus)
{
    const Component minimal = Component::fromJson(QJsonObject{{"id", 7}, {"name", "Welle"}});
    Component expected;
    expected.id = 7;
    expected.name = QStringLiteral("Welle");
    EXPECT_EQ(minimal, expected);
    EXPECT_EQ(sortedKeys(minimal.toJson()), (QStringList{"id", "m", "name"}));

    Component full = minimal;
    full.path = QStringLiteral("teile/welle.qcpart");
    full.embedded = QStringLiteral("eJw=");
    full.grounded = true;
    full.hidden = true;
    full.status = QStringLiteral("Datei fehlt");
    Component back = Component::fromJson(full.toJson());
    EXPECT_TRUE(back.status.isEmpty());
    back.status = full.status;
    EXPECT_EQ(back, full);
}

TEST(ComponentJson, PlacementArrayIsTakenOnlyWhole)
{
    QJsonArray eleven{2, 0, 0, 5, 0, 2, 0, 6, 0, 0, 2};
    QJsonArray thirteen = eleven;
    thirteen.append(7);
    thirteen.append(8);
    for (const QJsonValue& m : {QJsonValue(eleven), QJsonValue(thirteen), QJsonValue("identity")})
        EXPECT_EQ(Component::fromJson(QJsonObject{{"m", m}}).m, Component{}.m);

    // Single entries of the wrong type read as 0.
    QJsonArray twelve{1, 0, 0, "5", 0, 1, 0, QJsonValue(), 0, 0, 1, 7};
    const Component c = Component::fromJson(QJsonObject{{"m", twelve}});
    EXPECT_EQ(c.m[3], 0.0);
    EXPECT_EQ(c.m[7], 0.0);
    EXPECT_EQ(c.m[11], 7.0);
}

TEST(ComponentJson, PlacementIsRoundedToNineDecimals)
{
    Component c;
    c.m[3] = 0.1234567894999;
    c.m[7] = -2.0000000005; // a half away from zero
    c.m[11] = 1e300; // far beyond the digits a double holds: unchanged
    const QJsonArray m = c.toJson().value("m").toArray();
    EXPECT_DOUBLE_EQ(m[3].toDouble(), 0.123456789);
    EXPECT_DOUBLE_EQ(m[7].toDouble(), -2.000000001);
    EXPECT_EQ(m[11].toDouble(), 1e300);
    EXPECT_EQ(Component::fromJson(c.toJson()).toJson(), c.toJson());
}

TEST(ComponentPlacement, ScaleIsDroppedAndColumnsOrthonormalised)
{
    struct Case {
        const char* name;
        std::array<double, 12> m;
        gp_XYZ x, y, translation; // images of the X and Y axes
    };
    const Case cases[] = {
        {"all columns zero", {0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0, 6}, {1, 0, 0}, {0, 1, 0}, {4, 5, 6}},
        {"second column zero",
         {1, 0, 0, 4, 0, 0, 0, 5, 0, 0, 1, 6},
         {1, 0, 0},
         {0, 1, 0},
         {4, 5, 6}},
        // Lengths that overflow a plain sum of squares.
        {"huge", {1e200, 0, 0, 0, 0, 1e200, 0, 0, 0, 0, 1e200, 0}, {1, 0, 0}, {0, 1, 0}, {}},
        {"scaled", {2, 0, 0, 1, 0, 2, 0, 2, 0, 0, 2, 3}, {1, 0, 0}, {0, 1, 0}, {1, 2, 3}},
        // Parallel first columns: along x the auxiliary axis is Z, along z it is X.
        {"parallel along x", {1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0}, {1, 0, 0}, {0, 1, 0}, {}},
        {"parallel along z", {0, 0, 0, 0, 0, 0, 1, 0, 1, 1, 0, 0}, {0, 0, 1}, {0, -1, 0}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Component component;
        component.m = c.m;
        const gp_Trsf t = component.transform();
        EXPECT_DOUBLE_EQ(t.ScaleFactor(), 1.0);
        EXPECT_NEAR(t.VectorialPart().Determinant(), 1.0, 1e-12);
        EXPECT_TRUE(near(image(t, {1, 0, 0}), c.x));
        EXPECT_TRUE(near(image(t, {0, 1, 0}), c.y));
        EXPECT_TRUE(near(t.TranslationPart(), c.translation));
    }
    Component stored;
    stored.m = cases[3].m;
    stored.setPlacement(stored.transform());
    EXPECT_EQ(stored.m, (std::array<double, 12>{1, 0, 0, 1, 0, 1, 0, 2, 0, 0, 1, 3}));
}

TEST(ComponentPlacement, ReflectionBecomesNegativeScale)
{
    Component c;
    c.m = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 10};
    const gp_Trsf t = c.transform();
    EXPECT_DOUBLE_EQ(t.ScaleFactor(), -1.0);
    EXPECT_TRUE(near(gp_Pnt(1, 2, 3).Transformed(t).XYZ(), {1, 2, 7}));
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
    for (const gp_Pnt& probe : {gp_Pnt(0, 0, 0), gp_Pnt(5, -3, 8), gp_Pnt(-100, 40, 2)})
        EXPECT_TRUE(near(probe.Transformed(back).XYZ(), probe.Transformed(placement).XYZ()));
    Component again;
    again.setPlacement(back);
    for (std::size_t i = 0; i < 12; ++i)
        EXPECT_NEAR(again.m[i], c.m[i], 1e-14);
}

TEST(MateJson, RoundTripAndMistypedMembers)
{
    Mate expected;
    expected.id = 12;
    EXPECT_EQ(Mate::fromJson(QJsonObject{{"id", 12}}), expected);

    Mate other;
    other.value = QStringLiteral("5");
    other.flip = true;
    other.suppressed = true;
    other.type = QStringLiteral("gear"); // unknown types are kept
    EXPECT_EQ(Mate::fromJson(other.toJson()), other);

    const QJsonObject mistyped{{"id", "3"},
                               {"name", 4},
                               {"type", 5},
                               {"a", "x"},
                               {"b", QJsonArray{1}},
                               {"flip", 1},
                               {"suppressed", "true"},
                               {"value", QJsonObject{}}};
    EXPECT_EQ(Mate::fromJson(mistyped), Mate{});
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
    EXPECT_DOUBLE_EQ(json.value("s").toDouble(), 31.415927);
    const ShapeSignature back = ShapeSignature::fromJson(json);
    EXPECT_EQ(back.kind, sig.kind);
    EXPECT_EQ(back.geometry, sig.geometry);
    for (int i = 0; i < 3; ++i)
        EXPECT_LE(std::fabs(back.point[i] - sig.point[i]), 5e-7);
    EXPECT_EQ(back.toJson(), json);

    EXPECT_EQ(ShapeSignature::fromJson(QJsonObject{{"k", "v"}}).kind, ShapeSignature::Kind::Vertex);
    EXPECT_EQ(ShapeSignature::fromJson(QJsonObject{{"k", "E"}}).kind, ShapeSignature::Kind::Face);
    const ShapeSignature partial
        = ShapeSignature::fromJson(QJsonObject{{"p", QJsonArray{1, "x"}}, {"s", "2"}});
    EXPECT_EQ(partial.point, (std::array<double, 3>{1, 0, 0}));
    EXPECT_EQ(partial.size, 0.0);
}

TEST(AssemblyLookups, LabelsComponentsAndPaths)
{
    EXPECT_EQ(mateTypeLabel("planar"), QStringLiteral("Planar (gegenüber)"));
    EXPECT_EQ(mateTypeLabel("Planar"), QStringLiteral("Planar")); // unknown: the type itself

    Document doc;
    Component first;
    first.id = 4;
    first.name = QStringLiteral("erste");
    Component second = first;
    second.name = QStringLiteral("zweite");
    doc.components = {first, second};
    EXPECT_EQ(doc.component(4), &doc.components[0]); // the first of a duplicate id
    EXPECT_EQ(doc.component(5), nullptr);

    EXPECT_EQ(doc.resolvePath("teile/welle.qcpart"), QStringLiteral("teile/welle.qcpart"));
    doc.folder = QStringLiteral("/home/u/bg");
    EXPECT_EQ(doc.resolvePath("teile/welle.qcpart"),
              QStringLiteral("/home/u/bg/teile/welle.qcpart"));
    EXPECT_EQ(doc.resolvePath("/abs/teil.step"), QStringLiteral("/abs/teil.step"));
    EXPECT_EQ(doc.resolvePath(QString()), QString());
}
