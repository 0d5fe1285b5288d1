#include "panels/PanelRules.h"

#include "model/ShapeSignature.h"

#include <BRepPrimAPI_MakeBox.hxx>
#include <TopExp_Explorer.hxx>

#include <QJsonArray>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace qor::app;
using qor::model::ParamKind;

namespace {

TopoDS_Shape firstOf(const TopoDS_Shape& shape, TopAbs_ShapeEnum type)
{
    return TopExp_Explorer(shape, type).Current();
}

TEST(PanelRules, RollbackOfAcceptKeepsTheEditedFeatureComputed)
{
    struct Case {
        int saved, index, count, expected;
    };
    for (const Case& c : {Case{2, 3, 5, 4}, Case{2, 3, 4, -1}, Case{-1, 3, 5, -1}, Case{5, 1, 8, 5},
                          Case{2, -1, 5, 2}, Case{0, 0, 1, -1}})
        EXPECT_EQ(rollbackIncluding(c.saved, c.index, c.count), c.expected)
            << c.saved << " " << c.index << " " << c.count;
}

TEST(PanelRules, PicksBecomeTheFieldsReferences)
{
    const TopoDS_Shape box = BRepPrimAPI_MakeBox(10, 20, 30).Shape();
    const PickInfo face{1, 700, 0, firstOf(box, TopAbs_FACE)};
    const PickInfo edge{2, 700, 0, firstOf(box, TopAbs_EDGE)};
    const PickInfo body{4, 700, 0, box};
    const PickInfo curve{10, 5, 12};
    const PickInfo region{9, 5, 0, TopoDS_Shape(), 1.5, -2.0};
    const PickInfo plane{5, -2};
    const QJsonValue none;
    struct Case {
        ParamKind field;
        PickInfo pick;
        QJsonValue expected;
    };
    const Case cases[] = {
        {ParamKind::Faces, face, qor::model::faceRef(700, face.shape)},
        {ParamKind::Faces, edge, none},
        {ParamKind::Edges, edge, qor::model::edgeRef(700, edge.shape)},
        {ParamKind::Bodies, face, 700},
        {ParamKind::Bodies, body, 700},
        {ParamKind::Vertices, body, QJsonObject{{"kind", "body"}, {"id", 700}}},
        {ParamKind::Axis, curve,
         QJsonObject{{"kind", "sketchline"}, {"sketch", 5}, {"entity", 12}}},
        {ParamKind::Path, curve, QJsonObject{{"kind", "sketch"}, {"id", 5}}},
        {ParamKind::Profile, region,
         QJsonObject{{"kind", "region"}, {"sketch", 5}, {"pt", QJsonArray{1.5, -2.0}}}},
        {ParamKind::Plane, plane, QJsonObject{{"kind", "origin"}, {"id", -2}}},
        {ParamKind::Plane, curve, none},
        // A features list holds feature ids: faces and bodies never land in it.
        {ParamKind::Features, face, none},
        {ParamKind::Features, body, none},
        {ParamKind::Features, curve, none},
    };
    for (const Case& c : cases)
        EXPECT_EQ(pickToReference(c.field, c.pick), c.expected)
            << int(c.field) << " <- pick " << c.pick.kind;
}

TEST(PanelRules, PickingAnElementAgainDeselectsIt)
{
    const QJsonValue a = QJsonObject{{"kind", "sketch"}, {"id", 1}};
    const QJsonValue b = QJsonObject{{"kind", "sketch"}, {"id", 2}};
    EXPECT_EQ(toggleReferences(QJsonValue(), {a}), QJsonArray{a});
    EXPECT_EQ(toggleReferences(QJsonArray{a}, {a}), QJsonArray{});
    EXPECT_EQ(toggleReferences(QJsonArray{a, b, a}, {a}), (QJsonArray{a, b}));
    EXPECT_EQ(toggleReferences(QJsonArray{a}, {b, a}), QJsonArray{b});
}

TEST(PanelRules, FirstEmptySelectionAndMasks)
{
    const qor::model::FeatureDef* revolve = qor::model::findFeatureDef(QStringLiteral("revolve"));
    ASSERT_NE(revolve, nullptr);
    QJsonObject params{{"profile", QJsonArray{}}, {"axis", QJsonObject{}}};
    const qor::model::ParamDef* first = nextEmptySelection(*revolve, params);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->key, QStringLiteral("profile"));
    const qor::model::ParamDef* next = nextEmptySelection(*revolve, params, first);
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->key, QStringLiteral("axis"));
    params["axis"] = QJsonObject{{"kind", "origin"}, {"id", -11}};
    EXPECT_EQ(nextEmptySelection(*revolve, params, first), nullptr); // targets are optional

    EXPECT_EQ(selectionMaskForKind(ParamKind::Profile), 0x41);
    EXPECT_EQ(selectionMaskForKind(ParamKind::Axis), 0x23);
    EXPECT_EQ(selectionMaskForKind(ParamKind::SketchLine), 0x180);
    EXPECT_EQ(selectionMaskForKind(ParamKind::Features), 0);
    EXPECT_EQ(selectionMaskForKind(ParamKind::Length), 0);
}

} // namespace
