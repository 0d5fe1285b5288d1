#include "app/BodyClipboard.h"
#include "app/MainWindow.h"
#include "app/shell/Ribbon.h"
#include "app/shell/Timeline.h"
#include "model/DocumentController.h"
#include "panels/CommandPanel.h"
#include "panels/MatePanel.h"
#include "panels/dialogs/ParametersDialog.h"
#include "tests/fixtures/StlFixtures.h"
#include "tests/gl/ShowViewer.h"
#include "view/Scene.h"
#include "view/Viewer.h"
#include "view/sketch/SketchEditor.h"

#include <BRepAdaptor_Curve.hxx>
#include <BRepBndLib.hxx>
#include <BRepGProp.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <GProp_GProps.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QJsonArray>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace qor::app;

namespace {

double totalVolume(const qor::model::Document& document)
{
    double volume = 0.0;
    for (const auto& [id, body] : document.current.bodies.get()) {
        GProp_GProps props;
        BRepGProp::VolumeProperties(body.shape, props, true);
        volume += props.Mass();
    }
    return volume;
}

QStringList entryTexts(QMenu* menu)
{
    QStringList texts;
    for (const QAction* action : menu->actions())
        texts << (action->isSeparator() ? QStringLiteral("|") : action->text());
    return texts;
}

class FeatureCommandsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(qor::test::showWithViewer(window, *window.viewer, 1280, 800));
    }

    qor::model::Document& document() { return *window.controller->document; }
    const QJsonObject& params(int id) { return document().feature(id)->params; }
    int newestId() { return document().features.back()->id; }

    // A committed sketch on the XY plane with two concentric circles.
    int ringSketch()
    {
        qor::model::Feature* sketch
            = document().addSketch(QJsonObject{{"kind", "origin"}, {"id", -1}});
        sketch->sketch->addCircleAt(false, 0, 0, 10);
        sketch->sketch->addCircleAt(false, 0, 0, 4);
        window.controller->commit(QStringLiteral("Skizze"));
        return sketch->id;
    }

    void createAndAccept(const QString& type)
    {
        window.createFeature(type, {});
        ASSERT_NE(window.commandPanel->featureId(), 0);
        window.commandPanel->accept();
    }

    // Selects what lies under the world point, as a click there would.
    void pickAt(const gp_Pnt& point, AIS_SelectionScheme scheme = AIS_SelectionScheme_Replace)
    {
        if (scheme == AIS_SelectionScheme_Replace)
            window.viewer->fitAll(false);
        Standard_Integer x = 0, y = 0;
        window.viewer->view()->Convert(point.X(), point.Y(), point.Z(), x, y);
        window.viewer->context()->MoveTo(x, y, window.viewer->view(), false);
        window.viewer->context()->SelectDetected(scheme);
    }

    QString toastText() { return window.toast->findChild<QLabel*>()->text(); }

    // Imports a binary STL of a block 40 x 30 x 10 at the origin; its body's id, 0 if none.
    int importBlock()
    {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("klotz.stl"));
        const auto triangles
            = qor::fixtures::meshedTriangles(BRepPrimAPI_MakeBox(40.0, 30.0, 10.0).Shape(), 0.05);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return 0;
        file.write(qor::fixtures::binaryStl(triangles, std::uint32_t(triangles.size())));
        file.close();
        if (!window.importFile(path) || document().current.bodies.get().size() != 1)
            return 0;
        return document().current.bodies.get().begin()->first;
    }

    // A committed cylinder at the origin and a box beside it: a point on the cylinder's mantle,
    // the centre of the box's top face and the middle of one of its top edges.
    struct Targets {
        gp_Pnt mantle, top, edge;
    };
    Targets cylinderAndBox()
    {
        document().addFeature(QStringLiteral("cylinder"));
        document().addFeature(QStringLiteral("box"), {{"x", "100"}});
        window.controller->commit(QStringLiteral("Körper"));
        Targets targets;
        for (const auto& [id, body] : document().current.bodies.get()) {
            Bnd_Box box;
            BRepBndLib::Add(body.shape, box, false);
            double x0, y0, z0, x1, y1, z1;
            box.Get(x0, y0, z0, x1, y1, z1);
            if (x1 < 50.0) {
                targets.mantle = gp_Pnt(x1, (y0 + y1) / 2, (z0 + z1) / 2);
            } else {
                targets.top = gp_Pnt((x0 + x1) / 2, (y0 + y1) / 2, z1);
                targets.edge = gp_Pnt((x0 + x1) / 2, y0, z1);
            }
        }
        return targets;
    }

    PickInfo pickInfoAt(const gp_Pnt& point)
    {
        pickAt(point);
        const std::vector<PickInfo> picks = window.scene->selectedPicks();
        window.scene->clearSelection();
        return picks.empty() ? PickInfo{} : picks.front();
    }

    // Runs `check` on the modal dialog that `open` starts, then closes the dialog.
    template <typename Dialog>
    void withDialog(const std::function<void()>& open, const std::function<void(Dialog*)>& check)
    {
        bool seen = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
            seen = dialog != nullptr;
            if (dialog != nullptr) {
                check(dialog);
                dialog->reject();
            }
        });
        open();
        EXPECT_TRUE(seen);
    }

    MainWindow window;
};

TEST_F(FeatureCommandsTest, CreationTakesTheOuterRegionJoinsAndHolesUseTheLastSketch)
{
    const int sketch = ringSketch();
    window.createFeature(QStringLiteral("extrude"), {});
    const QJsonArray profile = params(newestId())[QStringLiteral("profile")].toArray();
    ASSERT_EQ(profile.size(), 1);
    const QJsonArray pt = profile[0].toObject()[QStringLiteral("pt")].toArray();
    EXPECT_GT(std::hypot(pt[0].toDouble(), pt[1].toDouble()), 4.0);
    EXPECT_LT(std::hypot(pt[0].toDouble(), pt[1].toDouble()), 10.0);
    EXPECT_EQ(params(newestId())[QStringLiteral("op")].toString(), QStringLiteral("new"));
    EXPECT_TRUE(window.commandPanel->isVisible());
    window.commandPanel->accept();
    EXPECT_EQ(window.controller->undoText(), document().features.back()->name + " erstellen");

    // The sketch is used now; a body exists.
    window.createFeature(QStringLiteral("extrude"), {});
    EXPECT_FALSE(params(newestId()).contains(QStringLiteral("profile")));
    EXPECT_EQ(params(newestId())[QStringLiteral("op")].toString(), QStringLiteral("join"));
    const auto steps = window.controller->history.size();
    window.commandPanel->cancel();
    EXPECT_EQ(window.controller->history.size(), steps);

    window.createFeature(QStringLiteral("hole"), {});
    EXPECT_EQ(params(newestId())[QStringLiteral("points")].toObject(),
              (QJsonObject{{"kind", "sketch"}, {"id", sketch}}));
    // While the panel edits, a second command and the direct edits do nothing.
    const auto count = document().features.size();
    window.createFeature(QStringLiteral("box"), {});
    window.deleteFeature(sketch);
    window.toggleSuppress(sketch);
    window.rollTimelineTo(0);
    EXPECT_EQ(document().features.size(), count);
    EXPECT_FALSE(document().feature(sketch)->suppressed);
    EXPECT_EQ(document().rollback, -1);
    std::unique_ptr<QMenu> menu(window.timelineMenu(sketch));
    for (const QAction* action : menu->actions())
        EXPECT_TRUE(action->isSeparator() || !action->isEnabled()) << action->text().toStdString();
    window.commandPanel->cancel();
}

TEST_F(FeatureCommandsTest, PicksReachThePanelAndOtherwiseTheStatusLine)
{
    document().addFeature(QStringLiteral("box"));
    window.controller->commit(QStringLiteral("Quader"));
    const TopoDS_Shape body = document().current.bodies.get().begin()->second.shape;
    GProp_GProps props;
    BRepGProp::VolumeProperties(body, props, true);
    const gp_Pnt centre = props.CentreOfMass();
    // The top face's centre: box 50 × 30 × 20.
    const gp_Pnt top(centre.X(), centre.Y(), centre.Z() + 10.0);

    pickAt(top);
    emit window.viewer->selectionChanged();
    EXPECT_TRUE(window.statusRight->text().startsWith(QStringLiteral("Fläche · ")));
    window.scene->clearSelection();
    emit window.viewer->selectionChanged();
    EXPECT_TRUE(window.statusRight->text().isEmpty());

    window.createFeature(QStringLiteral("fillet"), {});
    const int fillet = newestId();
    ASSERT_EQ(window.commandPanel->activeKey(), QStringLiteral("edges"));
    for (int expected : {1, 0}) {
        pickAt(top);
        emit window.viewer->selectionChanged();
        EXPECT_EQ(params(fillet)[QStringLiteral("edges")].toArray().size(), expected);
        EXPECT_TRUE(window.scene->selectedPicks().empty());
    }
    window.commandPanel->cancel();
    EXPECT_EQ(document().feature(fillet), nullptr);
}

TEST_F(FeatureCommandsTest, MenusFollowTheItemKind)
{
    const int sketch = ringSketch();
    std::unique_ptr<QMenu> timeline(window.timelineMenu(sketch));
    EXPECT_EQ(entryTexts(timeline.get()),
              (QStringList{"Skizze bearbeiten", "Zeitachse hierher zurückrollen", "Unterdrücken",
                           "Umbenennen …", "|", "Löschen"}));
    std::unique_ptr<QMenu> parameters(window.browserMenu(3, 0));
    EXPECT_EQ(entryTexts(parameters.get()), QStringList{"Parameter bearbeiten …"});
    std::unique_ptr<QMenu> body(window.browserMenu(5, 100));
    EXPECT_EQ(entryTexts(body.get()),
              (QStringList{"Material und Farbe …", "Umbenennen …", "Als STEP/STL exportieren …",
                           "Masseeigenschaften"}));
    EXPECT_EQ(window.browserMenu(4, 0), nullptr);
    EXPECT_EQ(window.browserMenu(14, 99), nullptr);
    std::unique_ptr<QMenu> view(window.viewportMenu(PickInfo{}));
    EXPECT_EQ(entryTexts(view.get()).join(','),
              QStringLiteral("Skizze,Extrusion,Verrundung,|,Alles zeigen,Isometrisch,Messen"));

    window.createFeature(QStringLiteral("extrude"), {});
    std::unique_ptr<QMenu> editing(window.viewportMenu(PickInfo{}));
    EXPECT_EQ(entryTexts(editing.get()), (QStringList{"OK", "Abbrechen"}));
    window.commandPanel->cancel();
}

TEST_F(FeatureCommandsTest, DirectEditsCommitOnceAndRemoveComponentsWithTheirMates)
{
    auto& doc = document();
    for (int id : {1, 2}) {
        qor::model::Component component;
        component.id = id;
        doc.components.push_back(component);
    }
    qor::model::Mate mate;
    mate.id = 7;
    mate.a.comp = 1;
    mate.b.comp = 2;
    doc.mates.push_back(mate);
    window.controller->commit(QStringLiteral("Baugruppe"));
    const auto steps = window.controller->history.size();
    window.removeComponent(1);
    EXPECT_EQ(doc.components.size(), 1u);
    EXPECT_TRUE(doc.mates.empty());
    EXPECT_EQ(window.controller->history.size(), steps + 1);
    EXPECT_EQ(window.controller->undoText(), QStringLiteral("Komponente entfernen"));

    const int sketch = ringSketch(); // consumed by nothing, so shown
    window.toggleVisible(-sketch);
    EXPECT_EQ(window.controller->undoText(), QStringLiteral("Ausblenden"));
    EXPECT_TRUE(doc.hidden.at(-sketch));
    window.rollbackToFeature(sketch);
    EXPECT_EQ(doc.rollback, doc.featureIndex(sketch) + 1);
}

TEST_F(FeatureCommandsTest, DeletionCountsOnlyNewFailuresAndHostilePasteIsRefused)
{
    auto& doc = document();
    doc.addFeature(QStringLiteral("box"), {{"length", "-5"}}); // fails before the deletion
    const int sketch = ringSketch();
    createAndAccept(QStringLiteral("extrude"));
    window.deleteFeature(sketch);
    EXPECT_TRUE(toastText().contains(QStringLiteral("1 abhängige(s) Feature(s)")))
        << toastText().toStdString();

    const auto steps = window.controller->history.size();
    auto* data = new QMimeData;
    data->setData(QString::fromLatin1(bodiesMimeType),
                  R"({"brep":"AAAA////not a shape","names":["x"],"colors":[[1,0,0]]})");
    QGuiApplication::clipboard()->setMimeData(data);
    window.pasteBodies();
    EXPECT_EQ(window.controller->history.size(), steps);
    EXPECT_TRUE(window.toast->isVisible());
    EXPECT_FALSE(toastText().isEmpty());
    EXPECT_EQ(document().features.back()->type, QStringLiteral("extrude"));
}

TEST_F(FeatureCommandsTest, WholeRoadSurvivesUndoRedoAndReopening)
{
    window.controller->newDocument();
    createAndAccept(QStringLiteral("box"));
    const double boxVolume = totalVolume(document());
    ASSERT_NEAR(boxVolume, 50.0 * 30.0 * 20.0, 1e-6);

    // Pick a top edge of the box, then fillet it.
    const TopoDS_Shape body = document().current.bodies.get().begin()->second.shape;
    gp_Pnt edgeMiddle;
    double highest = -1e9;
    for (TopExp_Explorer it(body, TopAbs_EDGE); it.More(); it.Next()) {
        BRepAdaptor_Curve curve(TopoDS::Edge(it.Current()));
        const gp_Pnt middle = curve.Value((curve.FirstParameter() + curve.LastParameter()) / 2);
        if (middle.Z() > highest + 1e-9 && std::abs(middle.X()) < 1e-6) {
            highest = middle.Z();
            edgeMiddle = middle;
        }
    }
    window.scene->setSelectionMask(2);
    pickAt(edgeMiddle);
    ASSERT_EQ(window.scene->selectedPicks().size(), 1u);
    createAndAccept(QStringLiteral("fillet"));
    const double filleted = totalVolume(document());
    EXPECT_LT(filleted, boxVolume);

    qor::model::Feature* sketch = document().addSketch(QJsonObject{{"kind", "origin"}, {"id", -1}});
    sketch->params.insert(QStringLiteral("offset"), QStringLiteral("20 mm"));
    sketch->sketch->addPoint(false, 5.0, 0.0);
    window.controller->commit(QStringLiteral("Skizze"));
    window.createFeature(QStringLiteral("hole"), {});
    document().feature(newestId())->params.insert(QStringLiteral("extent"), QStringLiteral("all"));
    window.commandPanel->accept();
    const double drilled = totalVolume(document());
    EXPECT_LT(drilled, filleted - 100.0);

    window.controller->undo();
    EXPECT_NEAR(totalVolume(document()), filleted, 1e-6);
    window.controller->redo();
    EXPECT_NEAR(totalVolume(document()), drilled, 1e-6);

    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("road.qcpart"));
    ASSERT_TRUE(window.controller->saveAs(path));
    DocumentController reopened;
    ASSERT_TRUE(reopened.open(path));
    EXPECT_NEAR(totalVolume(*reopened.document), drilled, 1e-6);
}

TEST_F(FeatureCommandsTest, PlanePickingStartsTheSketchAndMarksItOnTheTimeline)
{
    const auto [mantle, top, edge] = cylinderAndBox();
    window.actions.value(QStringLiteral("sketch"))->trigger();
    ASSERT_TRUE(window.property("pickPlane").toBool());
    window.scene->setSelectionMask(0x12); // an edge pick must be ignored as well
    pickAt(edge);
    emit window.viewer->selectionChanged();
    EXPECT_EQ(window.scene->selectedPicks().size(), 1u);
    window.scene->clearSelection();
    window.scene->setSelectionMask(0x11);
    pickAt(mantle);
    emit window.viewer->selectionChanged();
    EXPECT_EQ(toastText(), QStringLiteral("Bitte eine ebene Fläche wählen"));
    EXPECT_TRUE(window.property("pickPlane").toBool());
    EXPECT_FALSE(window.sketchEditor);

    pickAt(top);
    emit window.viewer->selectionChanged();
    ASSERT_TRUE(window.sketchEditor);
    const int sketch = window.sketchEditor->featureId();
    EXPECT_EQ(params(sketch)[QStringLiteral("plane")].toObject()[QStringLiteral("kind")],
              QStringLiteral("face"));
    EXPECT_NEAR(window.sketchEditor->plane().Location().Z(), top.Z(), 1e-6);
    EXPECT_EQ(window.timeline->markedFeature(), sketch);
    window.finishSketch(false);
    EXPECT_EQ(window.timeline->markedFeature(), 0);
    EXPECT_EQ(document().feature(sketch), nullptr);

    // Escape ends the picking; the feature panel marks its feature while it edits.
    window.newSketch({});
    QTest::keyClick(window.viewer, Qt::Key_Escape);
    EXPECT_FALSE(window.property("pickPlane").toBool());
    const int box = document().features.back()->id;
    window.editFeature(box);
    EXPECT_EQ(window.timeline->markedFeature(), box);
    window.commandPanel->cancel();
    EXPECT_EQ(window.timeline->markedFeature(), 0);
}

// A flat face of a body read from a mesh file is refused as a sketch plane by
// the body's name, not as a face that is not planar.
TEST_F(FeatureCommandsTest, PlanePickingNamesAMeshBody)
{
    const int body = importBlock();
    ASSERT_NE(body, 0);

    window.actions.value(QStringLiteral("sketch"))->trigger();
    ASSERT_TRUE(window.property("pickPlane").toBool());
    window.scene->setSelectionMask(0x11);
    pickAt(gp_Pnt(20.0, 15.0, 10.0));
    emit window.viewer->selectionChanged();
    EXPECT_EQ(toastText().toStdString(),
              (QStringLiteral("Skizze nicht möglich: „") + document().bodyName(body)
               + QStringLiteral("“ ist ein Netzkörper aus einem Import (nur Dreiecke) und hat "
                                "keine Flächen, die sich als Ebene nehmen lassen"))
                  .toStdString());
    EXPECT_TRUE(window.property("pickPlane").toBool());
    EXPECT_FALSE(window.sketchEditor);
}

// A cylinder made beside a reference scan joins nothing: the panel opens with OK
// enabled and names the scan it leaves alone, and the cylinder becomes a body of
// its own.
TEST_F(FeatureCommandsTest, CylinderBesideAnImportedScanCanBeAccepted)
{
    const int scan = importBlock();
    ASSERT_NE(scan, 0);
    const TopoDS_Shape scanBefore = document().current.bodies.get().at(scan).shape;

    window.createFeature(QStringLiteral("cylinder"), {});
    const int cylinder = window.commandPanel->featureId();
    ASSERT_NE(cylinder, 0);
    EXPECT_EQ(params(cylinder)[QStringLiteral("op")].toString(), QStringLiteral("join"));
    window.commandPanel->updatePreview();
    const qor::model::Feature* f = document().feature(cylinder);
    EXPECT_TRUE(f->error.isEmpty()) << f->error.toStdString();
    EXPECT_EQ(f->warning.toStdString(),
              ("„" + document().bodyName(scan) + "“ blieb unverändert: Netzkörper").toStdString());
    QPushButton* ok = nullptr;
    for (QPushButton* button : window.commandPanel->findChildren<QPushButton*>())
        if (button->text() == QStringLiteral("OK"))
            ok = button;
    ASSERT_NE(ok, nullptr);
    ASSERT_TRUE(ok->isEnabled());
    QTest::mouseClick(ok, Qt::LeftButton);

    EXPECT_EQ(window.commandPanel->featureId(), 0);
    ASSERT_EQ(document().current.bodies.get().size(), 2u);
    EXPECT_TRUE(document().current.bodies.get().at(scan).shape.IsSame(scanBefore));
    for (const auto& [id, body] : document().current.bodies.get())
        if (id != scan) {
            GProp_GProps props;
            BRepGProp::VolumeProperties(body.shape, props, true);
            EXPECT_NEAR(props.Mass(), M_PI * 15.0 * 15.0 * 40.0, 1e-3);
        }
}

TEST_F(FeatureCommandsTest, ViewportAndComponentMenusOfferSketchesAndComponentActions)
{
    const auto [mantle, top, edge] = cylinderAndBox();
    std::unique_ptr<QMenu> curved(window.viewportMenu(pickInfoAt(mantle)));
    EXPECT_EQ(entryTexts(curved.get()).mid(0, 3),
              (QStringList{"Material und Farbe …", "Körper ausblenden", "|"}));
    std::unique_ptr<QMenu> flat(window.viewportMenu(pickInfoAt(top)));
    EXPECT_EQ(entryTexts(flat.get()).first(), QStringLiteral("Skizze auf Fläche"));

    std::unique_ptr<QMenu> origin(window.viewportMenu(PickInfo{5, -2}));
    ASSERT_EQ(entryTexts(origin.get()).first(), QStringLiteral("Skizze auf XZ-Ebene"));
    origin->actions().first()->trigger();
    ASSERT_TRUE(window.sketchEditor);
    EXPECT_EQ(params(window.sketchEditor->featureId())[QStringLiteral("plane")].toObject(),
              (QJsonObject{{"kind", "origin"}, {"id", -2}}));
    std::unique_ptr<QMenu> sketching(window.viewportMenu(PickInfo{}));
    EXPECT_EQ(entryTexts(sketching.get()).first(), QStringLiteral("Skizze beenden"));
    EXPECT_FALSE(entryTexts(sketching.get()).contains(QStringLiteral("Löschen")));
    const auto line = window.sketchEditor->sketch().addLineAt(false, 0, 0, 10, 0);
    window.sketchEditor->state.selectedEntities.insert(std::int32_t(line));
    std::unique_ptr<QMenu> selected(window.viewportMenu(PickInfo{}));
    EXPECT_EQ(entryTexts(selected.get()).mid(entryTexts(selected.get()).size() - 3),
              (QStringList{"Konstruktion", "Löschen", "Skizze verwerfen"}));
    selected->actions().back()->trigger();
    EXPECT_FALSE(window.sketchEditor);

    std::unique_ptr<QMenu> plane(window.browserMenu(11, -1));
    EXPECT_EQ(entryTexts(plane.get()), QStringList{"Skizze auf dieser Ebene"});

    qor::model::Component onFile;
    onFile.id = 1;
    onFile.path = QStringLiteral("teile/welle.qcpart");
    qor::model::Component embedded;
    embedded.id = 2;
    embedded.grounded = true;
    document().components = {onFile, embedded};
    document().folder = QStringLiteral("/daten/baugruppe");
    QStringList launched;
    window.launchInstance = [&launched](const QString& path) { launched << path; };
    std::unique_ptr<QMenu> fileMenu(window.browserMenu(14, 1));
    EXPECT_EQ(entryTexts(fileMenu.get()),
              (QStringList{"Fixieren", "Bewegen …", "Ausblenden", "In neuem Fenster öffnen", "|",
                           "Entfernen"}));
    fileMenu->actions().at(3)->trigger();
    EXPECT_EQ(launched, QStringList{"/daten/baugruppe/teile/welle.qcpart"});
    std::unique_ptr<QMenu> embeddedMenu(window.browserMenu(14, 2));
    EXPECT_EQ(entryTexts(embeddedMenu.get()).first(), QStringLiteral("Fixierung lösen"));
    EXPECT_FALSE(entryTexts(embeddedMenu.get()).contains("In neuem Fenster öffnen"));
}

TEST_F(FeatureCommandsTest, PicksGoToTheMatePanelFirstAndSeveralPicksAreCounted)
{
    const auto [mantle, top, edge] = cylinderAndBox();
    pickAt(mantle);
    pickAt(top, AIS_SelectionScheme_Add);
    emit window.viewer->selectionChanged();
    EXPECT_EQ(window.statusRight->text(), QStringLiteral("2 Elemente ausgewählt"));
    window.scene->clearSelection();

    for (int id : {1, 2}) {
        qor::model::Component component;
        component.id = id;
        document().components.push_back(component);
    }
    window.controller->commit(QStringLiteral("Baugruppe"));
    window.showMatePanel(QStringLiteral("planar"));
    ASSERT_TRUE(window.matePanel);
    window.createFeature(QStringLiteral("fillet"), {});
    const int fillet = newestId();
    ASSERT_EQ(window.commandPanel->activeKey(), QStringLiteral("edges"));
    pickAt(top);
    emit window.viewer->selectionChanged();
    EXPECT_TRUE(params(fillet)[QStringLiteral("edges")].toArray().isEmpty());
    EXPECT_EQ(toastText(), QStringLiteral("Bitte ein Element einer Komponente wählen"));
    window.commandPanel->cancel();
    window.matePanel->deleteLater();
}

// Opening another document forgets the old selection in the status line and shows the ribbon
// page for what was opened: "Baugruppe" for an assembly, "Volumenkörper" for a part.
TEST_F(FeatureCommandsTest, AnotherDocumentOpensOnItsPageWithoutTheOldSelection)
{
    QTemporaryDir dir;
    const QString part = dir.filePath(QStringLiteral("Teil.qcpart"));
    const QString assembly = dir.filePath(QStringLiteral("Gruppe.qcasm"));
    const auto [mantle, top, edge] = cylinderAndBox();
    ASSERT_TRUE(window.controller->saveAs(part, nullptr));
    window.controller->newDocument();
    window.insertComponent(part);
    window.insertComponent(part);
    ASSERT_EQ(document().components.size(), 2u);
    ASSERT_TRUE(window.controller->saveAs(assembly, nullptr));

    ASSERT_TRUE(window.openFile(part));
    EXPECT_EQ(window.ribbon->currentPage(), window.solidPage);
    pickAt(mantle);
    pickAt(top, AIS_SelectionScheme_Add);
    emit window.viewer->selectionChanged();
    ASSERT_EQ(window.statusRight->text(), QStringLiteral("2 Elemente ausgewählt"));

    window.ribbon->setCurrentPage(window.solidPage);
    ASSERT_TRUE(window.openFile(assembly));
    EXPECT_EQ(window.statusRight->text().toStdString(), "");
    EXPECT_EQ(window.ribbon->currentPage(), window.assemblyPage);
    ASSERT_TRUE(window.openFile(part));
    EXPECT_EQ(window.ribbon->currentPage(), window.solidPage);
}

TEST_F(FeatureCommandsTest, ParametersDialogOpensFromTheCommandAndTheBrowser)
{
    const auto steps = window.controller->history.size();
    withDialog<ParametersDialog>(
        [this] { window.actions.value(QStringLiteral("parameters"))->trigger(); },
        [](ParametersDialog* dialog) {
            auto* table = dialog->findChild<QTableWidget*>();
            dialog->addRow();
            table->item(table->rowCount() - 1, 0)->setText(QStringLiteral("Breite"));
            table->item(table->rowCount() - 1, 1)->setText(QStringLiteral("40 mm"));
            dialog->apply();
        });
    EXPECT_EQ(window.controller->history.size(), steps + 1);
    EXPECT_EQ(window.controller->undoText(), QStringLiteral("Parameter ändern"));
    withDialog<ParametersDialog>([this] { window.onBrowserEdit(3, 0); },
                                 [](ParametersDialog* dialog) {
                                     auto* table = dialog->findChild<QTableWidget*>();
                                     EXPECT_EQ(table->item(0, 0)->text(), "Breite");
                                 });
}

} // namespace
