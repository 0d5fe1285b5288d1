#include "ShellDocument.h"
#include "app/AssemblyCommands.h"
#include "app/Examples.h"
#include "app/shell/Browser.h"
#include "model/DocumentController.h"
#include "panels/BomTable.h"
#include "panels/MatePanel.h"
#include "panels/dialogs/BomDialog.h"
#include "panels/dialogs/MoveComponentDialog.h"
#include "tests/common/ShapeChecks.h"
#include "tests/common/SmallFileSystem.h"
#include "tests/fixtures/SpecialFiles.h"

#include <BRepAdaptor_Surface.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidgetItem>
#include <gtest/gtest.h>

#include <functional>

using namespace qor::app;
using qor::model::Component;

namespace {

// Two copies of the flange example (hub up along +Z, bore radius 20, hub top at z = 50)
// inserted into an empty assembly.
class FlangeAssembly : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        DocumentController part;
        buildExample(part, QStringLiteral("flange"));
        ASSERT_TRUE(part.saveAs(flangePath(), nullptr));
        first = insertComponentFile(controller, flangePath());
        second = insertComponentFile(controller, flangePath());
        ASSERT_TRUE(first.ok && second.ok) << second.message.toStdString();
    }

    QString flangePath() const { return folder.filePath(QStringLiteral("Flansch.qcpart")); }
    qor::model::Document& doc() { return *controller.document; }
    Component& component(int id) { return *doc().component(id); }

    // A placed face of the component's body, as the 3D view reports a pick of it.
    PickInfo facePick(int componentId, const std::function<bool(const TopoDS_Face&)>& wanted)
    {
        for (const auto& [id, body] : doc().current.bodies.get()) {
            if (!qor::model::isComponentBodyId(id)
                || qor::model::componentOfBody(id) != componentId)
                continue;
            for (TopExp_Explorer it(body.shape, TopAbs_FACE); it.More(); it.Next()) {
                if (wanted(TopoDS::Face(it.Current())))
                    return {1, id, 0, it.Current()};
            }
        }
        ADD_FAILURE() << "no such face on component " << componentId;
        return {};
    }
    static std::function<bool(const TopoDS_Face&)> planeAt(double z)
    {
        return [z](const TopoDS_Face& face) {
            BRepAdaptor_Surface surface(face);
            return surface.GetType() == GeomAbs_Plane
                   && std::abs(qor::model::describeShape(face).point[2] - z) < 1e-3;
        };
    }
    static bool isBore(const TopoDS_Face& face)
    {
        BRepAdaptor_Surface surface(face);
        return surface.GetType() == GeomAbs_Cylinder
               && std::abs(surface.Cylinder().Radius() - 20.0) < 1e-6;
    }

    QTemporaryDir folder;
    DocumentController controller;
    InsertResult first;
    InsertResult second;
};

TEST_F(FlangeAssembly, InsertGroundsTheFirstAndPlacesTheSecondBesideIt)
{
    EXPECT_EQ(first.message, QStringLiteral("„Flansch:1“ eingefügt und fixiert"));
    EXPECT_EQ(second.message, QStringLiteral("„Flansch:2“ eingefügt – mit Beziehungen ausrichten"));
    const Component& a = component(first.componentId);
    const Component& b = component(second.componentId);
    EXPECT_TRUE(a.grounded);
    EXPECT_FALSE(b.grounded);
    EXPECT_EQ(a.m, (Component{}.m));
    // Flange width 120 (x -60..60): 0.15 * 120 + (60 - -60) + 10 = 148.
    EXPECT_NEAR(b.m[3], 148.0, 0.5);
    EXPECT_DOUBLE_EQ(b.m[7], 0.0);
    EXPECT_EQ(controller.history.back().label, QStringLiteral("Komponente einfügen"));

    const std::size_t steps = controller.history.size();
    const InsertResult missing
        = insertComponentFile(controller, folder.filePath(QStringLiteral("fehlt.step")));
    EXPECT_FALSE(missing.ok);
    EXPECT_TRUE(missing.message.startsWith(
        QStringLiteral("Die Datei enthält keine verwendbare Geometrie:\n")));
    EXPECT_EQ(controller.history.size(), steps);
    EXPECT_EQ(doc().components.size(), 2u);
}

TEST(AssemblyCommands, NewNamesNeverRepeatAnExistingOne)
{
    struct Case {
        std::vector<const char*> existing;
        const char* expected;
    };
    for (const Case& c : std::vector<Case>{{{}, "Welle:1"},
                                           {{"Welle:1", "Nabe:1"}, "Welle:2"},
                                           {{"Welle:3"}, "Welle:2"},
                                           {{"Welle:2"}, "Welle:3"},
                                           {{"Welle:2", "Welle:3"}, "Welle:4"}}) {
        qor::model::Document doc;
        for (const char* name : c.existing)
            doc.components.push_back(Component{.name = QString::fromUtf8(name)});
        EXPECT_EQ(newComponentName(doc, QStringLiteral("Welle")), QString::fromUtf8(c.expected))
            << c.existing.size();
    }
}

TEST(AssemblyCommands, SelectedComponentFromBodyIdsThenBrowserItems)
{
    QTreeWidgetItem body, component;
    body.setData(0, Qt::UserRole, browserKind::body);
    body.setData(0, Qt::UserRole + 1, 5);
    component.setData(0, Qt::UserRole, browserKind::component);
    component.setData(0, Qt::UserRole + 1, 7);
    const PickInfo partFace{1, 205};
    const PickInfo componentEdge{2, 100000000 + 2 * 1000 + 3};
    EXPECT_EQ(selectedComponent({partFace, componentEdge}, {&component}), 2);
    EXPECT_EQ(selectedComponent({partFace}, {&body, &component}), 7);
    EXPECT_EQ(selectedComponent({partFace}, {&body}), 0);
}

TEST_F(FlangeAssembly, GroundingToggleAndMoveRules)
{
    const int b = second.componentId;
    EXPECT_EQ(moveRefusal(doc(), 0),
              QStringLiteral("Zuerst eine Komponente im Modell oder Browser wählen"));
    EXPECT_EQ(moveRefusal(doc(), b), QString());
    EXPECT_EQ(toggleGround(controller, b), QStringLiteral("Flansch:2 ist fixiert"));
    EXPECT_EQ(controller.history.back().label, QStringLiteral("Komponente fixieren"));
    EXPECT_EQ(moveRefusal(doc(), b), QStringLiteral("Die Komponente ist fixiert – zuerst lösen"));
    EXPECT_EQ(toggleGround(controller, b), QStringLiteral("Flansch:2 ist frei beweglich"));
    EXPECT_EQ(controller.history.back().label, QStringLiteral("Fixierung lösen"));
    EXPECT_EQ(toggleGround(controller, 999), QString());
}

// The assembly the user builds from the flanges as inserted: the hub tops face to face, then
// both bores on one axis; the solve turns the free flange over onto the fixed one, hub top at 50.
TEST_F(FlangeAssembly, PlanarAndConcentricMatesThroughThePanelStackTheFlanges)
{
    const int a = first.componentId;
    const int b = second.componentId;
    auto* planar = new MatePanel(&controller, nullptr, QStringLiteral("planar"));
    planar->takePicks({facePick(a, planeAt(50))});
    planar->takePicks({facePick(b, planeAt(50))});
    ASSERT_EQ(doc().mates.size(), 1u);
    EXPECT_EQ(doc().mates[0].name, QStringLiteral("Planar (gegenüber): Flansch:1 ↔ Flansch:2"));
    EXPECT_EQ(planar->hintLabel()->text(), QStringLiteral("Beziehung erfüllt."));
    EXPECT_TRUE(qor::test::saveShot(*planar, QStringLiteral("mate-panel.png")));
    planar->accept();
    EXPECT_EQ(controller.history.back().label, QStringLiteral("Beziehung hinzufügen"));

    auto* concentric = new MatePanel(&controller, nullptr, QStringLiteral("concentric"));
    concentric->takePicks({facePick(a, isBore)});
    concentric->takePicks({facePick(b, isBore)});
    EXPECT_EQ(concentric->hintLabel()->objectName(), QStringLiteral("Hint"));
    concentric->accept();
    ASSERT_EQ(doc().mates.size(), 2u);
    const Component& placed = component(b);
    EXPECT_NEAR(placed.m[3], 0.0, 1e-3);
    EXPECT_NEAR(placed.m[7], 0.0, 1e-3);
    EXPECT_NEAR(placed.m[11], 100.0, 1e-3);
    EXPECT_NEAR(placed.m[10], -1.0, 1e-6);
    EXPECT_EQ(doc().mates[0].status + doc().mates[1].status, QString());

    // The assembled pair with its bill of materials, for people to look at.
    BomDialog bom(&controller);
    bom.show();
    EXPECT_TRUE(qor::test::saveShot(bom, QStringLiteral("bom-dialog.png")));
    EXPECT_EQ(bom.csv(),
              QStringLiteral("Pos.;Benennung;Datei;Menge\n1;Flansch;Flansch.qcpart;2\n"));
}

// A fresh panel shows both pick buttons with their whole text, and no row of the form runs
// into the hint or the buttons below it.
TEST_F(FlangeAssembly, MatePanelShowsItsFieldsUnclipped)
{
    MatePanel panel(&controller, nullptr, QStringLiteral("planar"));
    panel.show();
    QApplication::processEvents();
    const auto buttons = panel.findChildren<QPushButton*>(QStringLiteral("SelectButton"));
    ASSERT_EQ(buttons.size(), 2);
    for (const QPushButton* button : buttons) {
        EXPECT_GE(button->width(), button->sizeHint().width()) << button->text().toStdString();
        EXPECT_LE(button->mapTo(&panel, button->rect().bottomRight()).x(), panel.width());
    }
    const int hintTop = panel.hintLabel()->mapTo(&panel, QPoint()).y();
    const QWidget* form = buttons.front()->parentWidget();
    for (const QWidget* field : form->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        EXPECT_LE(field->mapTo(&panel, field->rect().bottomLeft()).y(), hintTop)
            << field->metaObject()->className();
        EXPECT_GE(field->height(), field->minimumSizeHint().height())
            << field->metaObject()->className();
    }
    EXPECT_TRUE(qor::test::saveShot(panel, QStringLiteral("mate-panel-new.png")));
}

TEST_F(FlangeAssembly, MatePanelRefusesPicksOffComponentsAndOnOneComponent)
{
    const int a = first.componentId;
    const int b = second.componentId;
    auto* panel = new MatePanel(&controller, nullptr, QStringLiteral("weld"));
    EXPECT_EQ(panel->typeCombo()->currentData().toString(), QStringLiteral("planar"));
    QSignalSpy toasts(panel, &MatePanel::toast);
    const auto lastToast = [&toasts] { return toasts.takeLast().at(0).toString(); };

    PickInfo partFace = facePick(a, isBore);
    partFace.id = 205;
    panel->takePicks({partFace});
    EXPECT_EQ(lastToast(), QStringLiteral("Bitte ein Element einer Komponente wählen"));
    panel->takePicks({facePick(a, isBore)});
    panel->takePicks({facePick(a, planeAt(50))});
    EXPECT_EQ(lastToast(),
              QStringLiteral("Das zweite Element muss zu einer anderen Komponente gehören"));
    panel->takePicks({facePick(b, isBore)});
    EXPECT_TRUE(panel->okButton()->isEnabled());
    // Back to the first slot: an element on the second element's component is refused too.
    QTest::mouseClick(panel->firstButton(), Qt::LeftButton);
    panel->takePicks({facePick(b, planeAt(0))});
    EXPECT_EQ(lastToast(),
              QStringLiteral("Das erste Element muss zu einer anderen Komponente gehören"));
    EXPECT_EQ(doc().mates.at(0).a.comp, a);

    // Both fixed: a warning, and OK cannot commit a mate the panel does not show.
    component(b).grounded = true;
    panel->updateMate();
    EXPECT_EQ(panel->hintLabel()->objectName(), QStringLiteral("WarnText"));
    EXPECT_FALSE(panel->okButton()->isEnabled());
    component(b).grounded = false;

    const std::size_t steps = controller.history.size();
    QTest::keyClick(panel, Qt::Key_Escape);
    EXPECT_TRUE(doc().mates.empty());
    EXPECT_EQ(controller.history.size(), steps);
}

// A mirroring placement cannot move a shape: picks on it are refused, and the move dialog
// turns such a component about the world origin.
TEST_F(FlangeAssembly, MirroredPlacementIsRefusedNotThrown)
{
    Component& b = component(second.componentId);
    b.m = {1, 0, 0, 148, 0, 1, 0, 0, 0, 0, -1, 0};
    const PickInfo pick = facePick(second.componentId, isBore);
    auto* panel = new MatePanel(&controller, nullptr, QStringLiteral("planar"));
    QSignalSpy toasts(panel, &MatePanel::toast);
    panel->takePicks({pick});
    ASSERT_EQ(toasts.size(), 1);
    EXPECT_EQ(toasts.at(0).at(0).toString(),
              QStringLiteral("Bitte ein Element einer Komponente wählen"));
    const gp_Pnt centre = componentCentre(doc(), b);
    EXPECT_LT(centre.Distance(gp::Origin()), 1e-12);
    panel->cancel();
}

TEST_F(FlangeAssembly, MoveTurnsAboutTheBoxCentreAndRefusesFailingFields)
{
    const int b = second.componentId;
    const gp_Pnt centre = componentCentre(doc(), component(b));
    EXPECT_NEAR(centre.X(), 148.0, 0.5);
    {
        MoveComponentDialog dialog(&controller, b);
        dialog.edits()[5]->setText(QStringLiteral("45° * 2"));
        dialog.edits()[0]->setText(QStringLiteral("zehn"));
        EXPECT_TRUE(dialog.edits()[0]->property("invalid").toBool());
        EXPECT_FALSE(dialog.moveButton()->isEnabled());
        const std::size_t steps = controller.history.size();
        dialog.apply();
        EXPECT_EQ(controller.history.size(), steps);
        EXPECT_NEAR(component(b).m[3], 148.0, 0.5);

        dialog.edits()[0]->setText(QStringLiteral("0"));
        ASSERT_TRUE(dialog.moveButton()->isEnabled());
        QTest::mouseClick(dialog.moveButton(), Qt::LeftButton);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    EXPECT_EQ(controller.history.back().label, QStringLiteral("Komponente bewegen"));
    const Component& moved = component(b);
    // 90° about the vertical axis through the centre: x turns into y, the centre stays.
    EXPECT_NEAR(moved.m[0], 0.0, 1e-9);
    EXPECT_NEAR(moved.m[4], 1.0, 1e-9);
    EXPECT_LT(componentCentre(doc(), moved).Distance(centre), 1e-6);
}

TEST(BillOfMaterials, RowsAndCsvAsTheTableShowsThem)
{
    const std::vector<Component> components{
        {.name = "Welle:1", .path = "teile/welle.qcpart"},
        {.name = "Deckel"},
        {.name = "Welle:2", .path = "teile/welle.qcpart"},
        {.name = "Lager.PAR:1", .path = "/abs/teile/welle.qcpart"},
        {.name = "Platte.roh:1", .path = "p;1.step"},
        {.name = "Teil \"A\"\nneu:1", .path = "a.step"},
    };
    EXPECT_EQ(bomCsv(bomRows(components)), QStringLiteral("Pos.;Benennung;Datei;Menge\n"
                                                          "1;Welle;welle.qcpart;2\n"
                                                          "2;Deckel;(eingebettet);1\n"
                                                          "3;Lager;welle.qcpart;1\n"
                                                          "4;Platte.roh;\"p;1.step\";1\n"
                                                          "5;\"Teil \"\"A\"\"\nneu\";a.step;1\n"));
}

TEST(BillOfMaterials, SavedFileCarriesTheByteOrderMarkAndFailuresWarn)
{
    DocumentController controller;
    controller.document->components.push_back({.name = "Deckel"});
    BomDialog dialog(&controller);
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("Stückliste.csv"));
    ASSERT_TRUE(dialog.saveCsvTo(path));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(),
              QByteArray("\xEF\xBB\xBFPos.;Benennung;Datei;Menge\n1;Deckel;(eingebettet);1\n"));
    dialog.copyCsv();
    EXPECT_EQ(QApplication::clipboard()->text(), dialog.csv());

    QString warning;
    QTimer::singleShot(0, [&warning] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            warning = box->text();
            box->accept();
        }
    });
    EXPECT_FALSE(dialog.saveCsvTo(folder.filePath(QStringLiteral("fehlt/x.csv"))));
    EXPECT_EQ(warning, QStringLiteral("Die Datei konnte nicht geschrieben werden."));

    // A named pipe under the name is named in the warning and stays a pipe.
    const QString pipe = folder.filePath(QStringLiteral("rohr.csv"));
    ASSERT_TRUE(qor::test::makePipe(pipe));
    warning.clear();
    QTimer::singleShot(0, [&warning] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            warning = box->text();
            box->accept();
        }
    });
    EXPECT_FALSE(dialog.saveCsvTo(pipe));
    EXPECT_EQ(warning,
              QStringLiteral("„rohr.csv“ ist eine benannte Pipe und wird nicht überschrieben"));
    EXPECT_EQ(qor::test::nodeOf(pipe).first, mode_t(S_IFIFO));
}

// A bill of materials that does not fit on the disk leaves the old file as it was, with no
// temporary file beside it, and names the full disk.
TEST(BillOfMaterials, FullDiskKeepsTheOldFileAndSaysSo)
{
    constexpr qint64 room = 16 * 1024;
    std::vector<Component> components(1000);
    for (std::size_t i = 0; i < components.size(); ++i) {
        components[i].name = QStringLiteral("Stützwinkel %1:1").arg(i);
        components[i].path = QStringLiteral("teile/stuetzwinkel-%1.qcpart").arg(i);
    }
    const QString csv = bomCsv(bomRows(components));
    ASSERT_GT(csv.toUtf8().size(), 2 * room);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Stückliste.csv"));
    const QByteArray old("alte Stückliste");
    const auto report = qor::test::onSmallFileSystem(dir.path(), 256, [&]() -> QByteArray {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(old) != old.size())
            return "old file not written";
        file.close();
        if (!qor::test::fillFileSystem(dir.path(), room))
            return "disk not filled";
        const QString error = writeBomFile(path, csv);
        const QByteArray now = qor::test::readFile(path);
        return error.toUtf8() + " / "
               + (now == old ? QByteArray("alt")
                             : "ersetzt durch " + QByteArray::number(now.size()))
               + " / " + QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).join(u' ').toUtf8();
    });
    if (!report)
        GTEST_SKIP() << "no mount namespace for a small file system here";
    EXPECT_EQ(report->toStdString(), "Die Datei konnte nicht geschrieben werden (Datenträger "
                                     "voll). / alt / fuellung Stückliste.csv");
}

} // namespace
