#include "app/MainWindow.h"
#include "model/DocumentController.h"
#include "panels/CommandPanel.h"
#include "tests/gl/ShowViewer.h"
#include "view/Viewer.h"
#include "view/sketch/SketchEditor.h"
#include "view/sketch/tools/ProjectEdges.h"

#include "tests/common/AngleEdits.h"

#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakePolygon.hxx>
#include <BRepBuilderAPI_MakeWire.hxx>
#include <BRepGProp.hxx>
#include <GProp_GProps.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Wire.hxx>
#include <gp_Circ.hxx>
#include <gp_Pln.hxx>

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <map>
#include <numbers>

using qor::app::HitKind;
using qor::app::MainWindow;
using qor::app::SketchHit;
using qor::sketch::ConstraintType;
using qor::sketch::EntityType;
using qor::sketch::Vec2;

namespace {

int countType(const qor::sketch::Sketch& s, ConstraintType type)
{
    return int(std::count_if(s.constraints.begin(), s.constraints.end(),
                             [type](const auto& c) { return c.type == type; }));
}

int countEntities(const qor::sketch::Sketch& s, EntityType type, bool construction = false)
{
    return int(std::count_if(s.entities.begin(), s.entities.end(), [&](const auto& e) {
        return e.type == type && e.construction == construction;
    }));
}

class SketchToolsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(qor::test::showWithViewer(window, *window.viewer, 1280, 800));
        window.newSketch(qor::model::datumReferenceJson(-1));
        window.viewer->lookAt(window.sketchEditor->plane(), false);
    }

    qor::app::SketchEditor& editor() { return *window.sketchEditor; }
    qor::sketch::Sketch& sketch() { return editor().sketch(); }

    QPoint pixelOf(Vec2 p) { return editor().mapper().toPixel(p).toPoint(); }

    void click(Vec2 p) { QTest::mouseClick(window.viewer, Qt::LeftButton, {}, pixelOf(p)); }

    void clickAll(int tool, const std::vector<Vec2>& clicks)
    {
        editor().setTool(tool);
        for (Vec2 p : clicks)
            click(p);
    }

    int point(Vec2 p) { return int(sketch().addPoint(true, p.x, p.y)); }
    int line(int a, int b) { return int(sketch().addLine(a, b, false)); }
    int line(Vec2 a, Vec2 b) { return line(point(a), point(b)); }

    QString toastText() { return window.toast->findChild<QLabel*>()->text(); }

    MainWindow window;
};

TEST_F(SketchToolsTest, DrawingToolsCreateShapesWithTheirConstraints)
{
    struct Case {
        int tool;
        std::vector<Vec2> clicks;
        int lines, arcs, circles, constructionLines, constructionCircles;
        std::map<ConstraintType, int> constraints;
    };
    const std::vector<Case> cases = {
        {2,
         {{-31, -19}, {29, 22}},
         4,
         0,
         0,
         0,
         0,
         {{ConstraintType::Horizontal, 2}, {ConstraintType::Vertical, 2}}},
        {9,
         {{3, 4}, {28, 9}},
         6,
         0,
         0,
         0,
         1,
         {{ConstraintType::PointOnCurve, 6}, {ConstraintType::Equal, 5}}},
        {10,
         {{-21, 11}, {19, 12}, {1, 19}},
         2,
         2,
         0,
         1,
         0,
         {{ConstraintType::Tangent, 4}, {ConstraintType::Equal, 1}}},
        // Degenerate: a zero radius and a flat rectangle create nothing.
        {4, {{7, 7}, {7, 7}}, 0, 0, 0, 0, 0, {}},
        {2, {{-13, 5}, {17, 5}}, 0, 0, 0, 0, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tool);
        sketch().clear();
        clickAll(c.tool, c.clicks);
        EXPECT_EQ(countEntities(sketch(), EntityType::Line), c.lines);
        EXPECT_EQ(countEntities(sketch(), EntityType::Arc), c.arcs);
        EXPECT_EQ(countEntities(sketch(), EntityType::Circle), c.circles);
        EXPECT_EQ(countEntities(sketch(), EntityType::Line, true), c.constructionLines);
        EXPECT_EQ(countEntities(sketch(), EntityType::Circle, true), c.constructionCircles);
        for (const auto& [type, count] : c.constraints)
            EXPECT_EQ(countType(sketch(), type), count) << int(type);
    }
}

TEST_F(SketchToolsTest, TheHeadUpPromptFollowsEveryClick)
{
    struct Case {
        int tool;
        std::vector<Vec2> clicks;
        const char* prompt;
    };
    const std::vector<Case> cases = {
        {1, {}, "Startpunkt klicken"},
        {1, {{-30, 10}}, "Nächsten Punkt klicken · Doppelklick/Esc beendet"},
        {1, {{-30, 10}, {20, 10}}, "Nächsten Punkt klicken · Doppelklick/Esc beendet"},
        {5, {{-30, 20}}, "Punkt 2 von 3 auf dem Kreis klicken"},
        {5, {{-30, 20}, {0, 35}}, "Punkt 3 von 3 auf dem Kreis klicken"},
        {6, {{-30, -20}}, "Endpunkt klicken"},
        {6, {{-30, -20}, {10, -20}}, "Punkt auf dem Bogen klicken"},
        {2, {{5, 5}}, "Gegenüberliegende Ecke klicken"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.prompt);
        clickAll(c.tool, c.clicks);
        EXPECT_TRUE(window.hudLabel->text().contains(QString::fromUtf8(c.prompt).toHtmlEscaped()))
            << window.hudLabel->text().toStdString();
        editor().setTool(0);
    }
    // Esc drops the clicks of the step: the prompt starts over.
    clickAll(1, {{-30, 10}});
    QTest::keyClick(window.viewer, Qt::Key_Escape);
    EXPECT_TRUE(window.hudLabel->text().contains(QStringLiteral("Startpunkt klicken")));
}

TEST_F(SketchToolsTest, ReturnKeepsARefusedValueOpenAndCommitsAGoodOne)
{
    qor::sketch::Sketch& s = sketch();
    const int line = int(s.addLineAt(false, -20, 0, 20, 0));
    s.addDimension(ConstraintType::Distance, line, -1, -1);
    editor().commitChange();
    const int dimension = int(s.constraints.back().id);
    window.activateWindow(); // the field's focus is the active window's
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    struct Case {
        const char* typed;
        bool refused;
        double stored;
    };
    for (const Case& c : {Case{"0", true, 40.0}, Case{"-3", true, 40.0}, Case{"25", false, 25.0}}) {
        SCOPED_TRACE(c.typed);
        const QJsonObject before = s.toJson();
        const std::size_t undoDepth = editor().history.undoStack.size();
        editor().editDimension(dimension);
        QPointer<QLineEdit> field = editor().valueEdit;
        ASSERT_TRUE(field);
        QTest::keyClicks(field, QString::fromUtf8(c.typed));
        QTest::keyClick(field, Qt::Key_Return);
        QCoreApplication::processEvents();
        ASSERT_EQ(bool(editor().valueEdit), c.refused);
        EXPECT_NEAR(s.findConstraint(dimension)->value, c.stored, 1e-9);
        if (!c.refused)
            continue;
        EXPECT_TRUE(field->isVisible());
        EXPECT_TRUE(field->property("invalid").toBool());
        EXPECT_TRUE(field->hasFocus());
        EXPECT_EQ(s.toJson(), before);
        EXPECT_EQ(editor().history.undoStack.size(), undoDepth);
    }
}

TEST_F(SketchToolsTest, ThreeCollinearCirclePointsGiveTheToast)
{
    clickAll(5, {{-40, 20}, {-10, 20}, {25, 20}});
    EXPECT_TRUE(sketch().entities.empty());
    EXPECT_TRUE(editor().state.step.points.empty());
    EXPECT_EQ(toastText(), QStringLiteral("Die drei Punkte liegen auf einer Geraden"));
}

TEST_F(SketchToolsTest, TrimCutsBetweenNeighbouringIntersections)
{
    qor::sketch::Sketch& s = sketch();
    // A line crossing nothing goes with its points.
    line({-30, 30}, {30, 30});
    // Trimmed in the middle: two collinear horizontal pieces.
    const int middle = line({-30, 0}, {30, 0});
    s.addConstraint(ConstraintType::Horizontal, middle, -1, -1, 0);
    line({-10, -5}, {-10, 5});
    line({10, -5}, {10, 5});
    // A circle crossed twice keeps the far side as an arc.
    const int circle = int(s.addCircleAt(false, 0, -40, 10));
    s.addConstraint(ConstraintType::Diameter, circle, -1, -1, 20);
    line({-5, -55}, {-5, -25});
    line({5, -55}, {5, -25});
    // A touch at the very end does not cut.
    const int touching = line({40, -20}, {60, -20});
    line(s.endPoint(touching), point({60, 0}));
    editor().commitChange();

    clickAll(11, {{0, 30}, {0, 0}, {0, -30}, {50, -20}});
    EXPECT_EQ(countEntities(s, EntityType::Circle), 0);
    ASSERT_EQ(countEntities(s, EntityType::Arc), 1);
    EXPECT_EQ(countType(s, ConstraintType::Collinear), 1);
    EXPECT_EQ(countType(s, ConstraintType::Horizontal), 2);
    EXPECT_EQ(countType(s, ConstraintType::Diameter), 0);
    ASSERT_EQ(countType(s, ConstraintType::Radius), 1);
    const auto radius = std::find_if(s.constraints.begin(), s.constraints.end(), [](const auto& c) {
        return c.type == ConstraintType::Radius;
    });
    EXPECT_DOUBLE_EQ(radius->value, 10.0);
    EXPECT_EQ(s.findEntity(touching), nullptr);
    // Left: 4 crossing lines, 2 pieces, the arc's neighbours and the touching one's partner.
    EXPECT_EQ(countEntities(s, EntityType::Line), 7);
    const Vec2 cutEnd = s.pointPosition(s.endPoint(middle));
    EXPECT_NEAR(cutEnd.x, -10.0, 1e-6);
}

TEST_F(SketchToolsTest, FilletRoundsOnlyCornersOfExactlyTwoLines)
{
    qor::sketch::Sketch& s = sketch();
    const int corner = point({0, 0});
    const int first = line(corner, point({30, 0}));
    const int second = line(corner, point({0, 30}));
    const int crowded = point({50, 0});
    line(crowded, point({80, 0}));
    line(crowded, point({50, 30}));
    const int centre = point({-50, 0});
    line(centre, point({-80, 0}));
    line(centre, point({-50, 30}));
    s.addCircle(centre, false, 5);
    line(crowded, point({70, 20}));
    editor().commitChange();

    struct Case {
        double radius;
        int corner;
        QString toast;
    };
    const std::vector<Case> refused = {
        {40.0, corner, QStringLiteral("Radius zu groß für diese Ecke")},
        {3.0, crowded, QStringLiteral("Die Ecke muss genau zwei Linien verbinden")},
        {3.0, centre, QStringLiteral("Die Ecke muss genau zwei Linien verbinden")},
    };
    for (const Case& c : refused) {
        const QJsonObject before = s.toJson();
        const std::size_t undoDepth = editor().history.undoStack.size();
        editor().filletRadius = c.radius;
        clickAll(12, {s.pointPosition(c.corner)});
        EXPECT_EQ(toastText(), c.toast);
        EXPECT_EQ(s.toJson(), before);
        EXPECT_EQ(editor().history.undoStack.size(), undoDepth);
    }

    editor().filletRadius = 3.0;
    click({0, 0});
    EXPECT_EQ(s.findEntity(corner), nullptr);
    EXPECT_NEAR((s.pointPosition(s.startPoint(first)) - Vec2{3, 0}).length(), 0.0, 1e-6);
    EXPECT_NEAR((s.pointPosition(s.startPoint(second)) - Vec2{0, 3}).length(), 0.0, 1e-6);
    EXPECT_EQ(countType(s, ConstraintType::Tangent), 2);
    EXPECT_EQ(countType(s, ConstraintType::Radius), 1);
    EXPECT_EQ(countEntities(s, EntityType::Arc), 1);
}

TEST_F(SketchToolsTest, ProjectionTakesPlaneFacesWithHolesAndSkipsTiltedCircles)
{
    qor::sketch::Sketch& s = sketch();
    BRepBuilderAPI_MakePolygon outline(gp_Pnt(0, 0, 5), gp_Pnt(40, 0, 5), gp_Pnt(40, 30, 5),
                                       gp_Pnt(0, 30, 5), true);
    BRepBuilderAPI_MakeFace face(gp_Pln(gp_Pnt(0, 0, 5), gp::DZ()), outline.Wire());
    const gp_Circ hole(gp_Ax2(gp_Pnt(20, 15, 5), gp::DZ()), 6);
    const TopoDS_Wire holeWire = BRepBuilderAPI_MakeWire(BRepBuilderAPI_MakeEdge(hole));
    face.Add(TopoDS::Wire(holeWire.Reversed()));
    const TopoDS_Shape tilted
        = BRepBuilderAPI_MakeEdge(gp_Circ(gp_Ax2(gp_Pnt(0, 0, 0), gp_Dir(1, 0, 1)), 5));
    const TopoDS_Shape vertical = BRepBuilderAPI_MakeEdge(gp_Pnt(1, 1, 0), gp_Pnt(1, 1, 9));

    const qor::app::ToolResult skipped
        = qor::app::projectEdges(s, editor().history, editor().plane(), {tilted, vertical});
    EXPECT_FALSE(skipped.changed);
    EXPECT_EQ(skipped.message, QStringLiteral("Nur gerade und kreisförmige Kanten lassen sich "
                                              "übernehmen"));
    EXPECT_TRUE(s.entities.empty());

    EXPECT_TRUE(
        qor::app::projectEdges(s, editor().history, editor().plane(), {face.Face()}).changed);
    EXPECT_EQ(countEntities(s, EntityType::Line), 4);
    ASSERT_EQ(countEntities(s, EntityType::Circle), 1);
    EXPECT_EQ(countType(s, ConstraintType::Fixed), 9);
    ASSERT_EQ(countType(s, ConstraintType::Radius), 1);
    const auto circle = std::find_if(s.entities.begin(), s.entities.end(),
                                     [](const auto& e) { return e.type == EntityType::Circle; });
    EXPECT_NEAR(s.radius(int(circle->id)), 6.0, 1e-9);
    EXPECT_NEAR((s.pointPosition(circle->a) - Vec2{20, 15}).length(), 0.0, 1e-9);
}

TEST_F(SketchToolsTest, ConstraintToolAcceptsOnlyTheTabledPicks)
{
    struct Case {
        ConstraintType type;
        std::vector<char> picks; // p point, l line, c circle: the first such entity, in order
        ConstraintType added;
        int count; // 0 when the picks are refused or wait
        std::size_t waiting;
    };
    const std::vector<Case> cases = {
        {ConstraintType::Coincident, {'l', 'p'}, ConstraintType::PointOnCurve, 1, 0},
        {ConstraintType::Coincident, {'l', 'm'}, ConstraintType::Coincident, 0, 0},
        {ConstraintType::Horizontal, {'l'}, ConstraintType::Horizontal, 1, 0},
        {ConstraintType::Horizontal, {'p'}, ConstraintType::Horizontal, 0, 1},
        {ConstraintType::Tangent, {'l', 'm'}, ConstraintType::Tangent, 0, 0},
        {ConstraintType::Tangent, {'l', 'c'}, ConstraintType::Tangent, 1, 0},
        {ConstraintType::Midpoint, {'p', 'c'}, ConstraintType::Midpoint, 0, 0},
        {ConstraintType::Symmetric, {'l', 'm', 'n'}, ConstraintType::Symmetric, 2, 0},
        {ConstraintType::Fixed, {'l'}, ConstraintType::Fixed, 2, 0},
        {ConstraintType::Distance, {'l'}, ConstraintType::Distance, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.type));
        qor::sketch::Sketch& s = sketch();
        s.clear();
        const std::map<char, int> ids = {{'p', int(s.addPoint(false, 5, 40))},
                                         {'l', int(s.addLineAt(false, -20, 10, -5, 14))},
                                         {'m', int(s.addLineAt(false, 5, 14, 20, 10))},
                                         {'n', int(s.addLineAt(false, 0, -10, 0, 30))},
                                         {'c', int(s.addCircleAt(false, 40, 0, 6))}};
        editor().setConstraintTool(c.type);
        for (char pick : c.picks)
            editor().applyConstraint(
                SketchHit{pick == 'p' ? HitKind::Point : HitKind::Curve, ids.at(pick), 0.0});
        EXPECT_EQ(countType(s, c.added), c.count);
        EXPECT_EQ(editor().state.step.picks.size(), c.waiting);
    }
}

TEST_F(SketchToolsTest, SymmetricWithARefusedHalfLeavesTheSketchAsBefore)
{
    qor::sketch::Sketch& s = sketch();
    const int first = int(s.addLineAt(false, -20, 10, -5, 14));
    const int second = int(s.addLineAt(false, 20, 10, 5, 14));
    const int mirror = int(s.addLineAt(false, 0, -10, 0, 30));
    s.addConstraint(ConstraintType::Symmetric, s.endPoint(first), s.endPoint(second), mirror, 0);
    editor().commitChange();
    const QJsonObject before = s.toJson();
    const std::size_t undoDepth = editor().history.undoStack.size();
    editor().setConstraintTool(ConstraintType::Symmetric);
    for (int id : {first, second, mirror})
        editor().applyConstraint(SketchHit{HitKind::Curve, id, 0.0});
    EXPECT_EQ(s.toJson(), before);
    EXPECT_EQ(editor().history.undoStack.size(), undoDepth);
    EXPECT_TRUE(editor().state.step.picks.empty());
}

TEST_F(SketchToolsTest, DimensionKindFollowsTheLabelAndARedundantOneIsDriven)
{
    qor::sketch::Sketch& s = sketch();
    const int a = int(s.addPoint(false, 0, 0));
    const int b = int(s.addPoint(false, 20, 10));
    editor().commitChange();
    const std::vector<std::pair<Vec2, ConstraintType>> placements = {
        {{30, 5}, ConstraintType::VerticalDistance},
        {{10, 20}, ConstraintType::HorizontalDistance},
        {{30, 20}, ConstraintType::Distance},
    };
    editor().setTool(13);
    for (const auto& [label, kind] : placements) {
        editor().state.step.picks = {std::uint32_t(a), std::uint32_t(b)};
        editor().placeDimension(pixelOf(label));
        EXPECT_EQ(s.constraints.back().type, kind);
    }
    // The two axis distances already fix the pair: the plain distance is a reference only.
    EXPECT_DOUBLE_EQ(s.constraints[0].value, 10.0);
    EXPECT_DOUBLE_EQ(s.constraints[1].value, 20.0);
    EXPECT_FALSE(s.constraints[1].driven);
    EXPECT_TRUE(s.constraints[2].driven);
    EXPECT_NEAR(s.constraints[2].value, std::hypot(20.0, 10.0), 1e-9);
    EXPECT_EQ(toastText(),
              QStringLiteral("Referenzmaß angelegt – die Skizze wäre sonst überbestimmt"));
}

TEST_F(SketchToolsTest, TypedAngleTurnsALongLineFar)
{
    // A 300 mm line at 10° to a fixed line, held by its length and that angle: typing
    // 150 was refused as contradictory before the solver was mended.
    qor::sketch::Sketch& s = sketch();
    const auto made = qor::sketch::fixtures::addAngledLine(s, 300.0, 10.0);
    editor().commitChange();
    ASSERT_TRUE(editor().state.conflicting.empty());
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    const std::size_t undoDepth = editor().history.undoStack.size();
    QSignalSpy messages(&editor(), &qor::app::SketchEditor::message);

    // A point 20 mm out along the new direction: nothing there yet.
    const double turn = qor::sketch::fixtures::radians(150.0);
    const Vec2 along{20.0 * std::cos(turn), 20.0 * std::sin(turn)};
    editor().setTool(0);
    click(along);
    EXPECT_TRUE(editor().state.selectedEntities.empty());

    editor().editDimension(int(made.angle));
    QPointer<QLineEdit> field = editor().valueEdit;
    ASSERT_TRUE(field);
    field->selectAll();
    QTest::keyClicks(field, QStringLiteral("150"));
    QTest::keyClick(field, Qt::Key_Return);
    QCoreApplication::processEvents();

    EXPECT_FALSE(editor().valueEdit); // committed, not held open as refused
    EXPECT_EQ(messages.count(), 0) << messages.value(0).value(0).toString().toStdString();
    EXPECT_EQ(editor().history.undoStack.size(), undoDepth + 1);
    EXPECT_TRUE(editor().state.conflicting.empty());
    EXPECT_FALSE(editor().statusText().contains(QStringLiteral("Widersprüchlich")))
        << editor().statusText().toStdString();
    EXPECT_NEAR(s.findConstraint(int(made.angle))->value, turn, 1e-12);
    const Vec2 end = s.pointPosition(s.endPoint(made.line));
    EXPECT_NEAR(end.x, 300.0 * std::cos(turn), 1e-6);
    EXPECT_NEAR(end.y, 300.0 * std::sin(turn), 1e-6);

    // The line is drawn where it now is: a click on its new course picks it.
    click(along);
    EXPECT_EQ(editor().state.selectedEntities, std::set<int>{made.line});
}

TEST_F(SketchToolsTest, DrawnAndDimensionedPlateExtrudesToTheExpectedVolume)
{
    // A 60 x 40 rectangle about the origin with a circle of radius 10 on the origin.
    clickAll(2, {{-30, -20}, {30, 20}});
    clickAll(4, {{0, 0}, {8, 6}});
    const qor::sketch::Sketch& s = sketch();
    ASSERT_EQ(countEntities(s, EntityType::Line), 4);
    ASSERT_EQ(countEntities(s, EntityType::Circle), 1);
    EXPECT_EQ(countType(s, ConstraintType::Fixed), 1); // the centre snapped to the origin

    editor().setTool(13);
    // Picks, then the label click; the value typed into the field that opens.
    const std::vector<std::pair<std::vector<Vec2>, QString>> dimensions = {
        {{{0, -20}, {0, -28}}, QStringLiteral("60")}, // the bottom line
        {{{30, 0}, {38, 0}}, QStringLiteral("40")}, // the right line
        {{{-6, 8}, {-20, 30}}, QStringLiteral("20")}, // the circle's diameter
        {{{0, 0}, {-30, -20}, {-15, -30}}, QStringLiteral("30")}, // below: horizontal
        {{{0, 0}, {-30, -20}, {-40, -10}}, QStringLiteral("20")}, // left: vertical
    };
    for (const auto& [clicks, value] : dimensions) {
        for (Vec2 p : clicks)
            click(p);
        ASSERT_TRUE(editor().valueEdit);
        editor().valueEdit->setText(value);
        editor().commitValueEdit();
    }
    EXPECT_EQ(countType(s, ConstraintType::Distance), 2);
    EXPECT_EQ(countType(s, ConstraintType::Diameter), 1);
    EXPECT_EQ(countType(s, ConstraintType::HorizontalDistance), 1);
    EXPECT_EQ(countType(s, ConstraintType::VerticalDistance), 1);
    EXPECT_EQ(editor().statusText(), QStringLiteral("Vollständig bestimmt"));

    window.finishSketch(true);
    window.createFeature(QStringLiteral("extrude"), {});
    ASSERT_NE(window.commandPanel->featureId(), 0);
    window.commandPanel->accept();
    const auto& bodies = window.controller->document->current.bodies.get();
    ASSERT_EQ(bodies.size(), 1u);
    const qor::model::Feature* extrude = window.controller->document->features.back().get();
    const double distance
        = extrude->params[QStringLiteral("distance")].toString().split(' ').first().toDouble();
    ASSERT_GT(distance, 0.0);
    GProp_GProps props;
    BRepGProp::VolumeProperties(bodies.begin()->second.shape, props, true);
    EXPECT_NEAR(props.Mass(), (60.0 * 40.0 - std::numbers::pi * 100.0) * distance, 1e-3);
}

} // namespace
