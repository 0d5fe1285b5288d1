#include "app/MainWindow.h"
#include "app/shell/Browser.h"
#include "app/shell/Ribbon.h"
#include "model/DocumentController.h"
#include "panels/dialogs/ImportReportDialog.h"
#include "tests/fixtures/NestedFiles.h"
#include "tests/fixtures/SolidEdgeAssemblyFile.h"
#include "tests/fixtures/StlFixtures.h"
#include "tests/fixtures/XtDamagedFixtures.h"
#include "tests/fixtures/XtShapeWriter.h"

#include <BRepBndLib.hxx>
#include <BRepGProp.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRep_Builder.hxx>
#include <Bnd_Box.hxx>
#include <GProp_GProps.hxx>
#include <TopoDS_Compound.hxx>

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using qor::app::MainWindow;

namespace {

// Runs `answer` on the next visible top-level dialog of type T once it is shown; `seen` tells
// afterwards whether one came up.
template <typename T> std::shared_ptr<bool> whenShown(std::function<void(T*)> answer)
{
    auto seen = std::make_shared<bool>(false);
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer, seen] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<T*>(widget);
            if (dialog == nullptr || !dialog->isVisible())
                continue;
            *seen = true;
            poll->deleteLater();
            answer(dialog);
            return;
        }
    });
    poll->start(50);
    return seen;
}

void acceptFileDialog(QFileDialog* dialog)
{
    QMetaObject::invokeMethod(dialog, "accept");
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QStringList featureSummary(const qor::model::Document& document)
{
    QStringList summary;
    for (const auto& feature : document.features)
        summary << feature->type + feature->name;
    return summary;
}

class MainWindowFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QSettings().setValue(QStringLiteral("lastDir"), dir.path());
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    void TearDown() override
    {
        window.controller->modified = false; // no save question when the fixture closes
    }

    QTemporaryDir dir;
    MainWindow window;
};

TEST_F(MainWindowFilesTest, SaveAndReopenKeepTheFeaturesAndACapitalSuffixAsksForANewName)
{
    window.createExample(QStringLiteral("flange"));
    const QStringList features = featureSummary(*window.controller->document);
    const QString name = window.controller->displayName() + ".qcpart";
    whenShown<QFileDialog>(acceptFileDialog);
    ASSERT_TRUE(window.save());
    const QString saved = window.controller->path;
    EXPECT_EQ(saved, dir.filePath(name));
    EXPECT_TRUE(QFile::exists(saved));
    EXPECT_FALSE(window.controller->modified);

    const QString capitals = dir.filePath(QStringLiteral("MODELL.QCPART"));
    ASSERT_TRUE(QFile::copy(saved, capitals));
    ASSERT_TRUE(window.openFile(capitals));
    EXPECT_EQ(featureSummary(*window.controller->document), features);
    EXPECT_EQ(window.recent.first(), capitals);

    const auto asked = whenShown<QFileDialog>([](QFileDialog* d) { d->reject(); });
    EXPECT_FALSE(window.save());
    EXPECT_TRUE(*asked);
}

// The browser's root names the document by its new file after "Speichern unter".
TEST_F(MainWindowFilesTest, SaveAsRenamesTheBrowserRoot)
{
    window.controller->document->addFeature(QStringLiteral("box"));
    window.controller->commit(QStringLiteral("Quader"));
    EXPECT_EQ(window.browser->topLevelItem(0)->text(0), QStringLiteral("Unbenannt"));
    const QString path = dir.filePath(QStringLiteral("Halter.qcpart"));
    whenShown<QFileDialog>([path](QFileDialog* dialog) {
        dialog->selectFile(path);
        acceptFileDialog(dialog);
    });
    ASSERT_TRUE(window.saveAs());
    EXPECT_EQ(window.controller->path, path);
    EXPECT_EQ(window.browser->topLevelItem(0)->text(0), QStringLiteral("Halter"));
}

TEST_F(MainWindowFilesTest, RecentListKeepsTwelveWithoutDuplicates)
{
    for (int i = 0; i < 13; ++i)
        window.addRecentFile(QStringLiteral("/p/%1.qcpart").arg(i));
    window.addRecentFile(QStringLiteral("/p/5.qcpart"));
    ASSERT_EQ(window.recent.size(), 12);
    EXPECT_EQ(window.recent.first(), QStringLiteral("/p/5.qcpart"));
    EXPECT_EQ(window.recent.count(QStringLiteral("/p/5.qcpart")), 1);
    EXPECT_FALSE(window.recent.contains(QStringLiteral("/p/0.qcpart")));
    EXPECT_EQ(QSettings().value(QStringLiteral("recent")).toStringList(), window.recent);
}

TEST_F(MainWindowFilesTest, FailedImportOpensTheReportAndAddsNoHistoryEntry)
{
    const QString broken = dir.filePath(QStringLiteral("kaputt.stl"));
    writeFile(broken, qor::fixtures::binaryStl(qor::fixtures::tetrahedron(-10), 999));
    const std::size_t entries = window.controller->history.size();
    const auto reported
        = whenShown<qor::app::ImportInfoDialog>([](qor::app::ImportInfoDialog* d) { d->reject(); });
    window.importFile(broken);
    EXPECT_TRUE(*reported);
    EXPECT_EQ(window.controller->history.size(), entries);
    EXPECT_TRUE(window.controller->document->features.empty());
}

TEST_F(MainWindowFilesTest, StlImportMakesOneImportFeatureWithMatchingNamesAndColors)
{
    const QString mesh = dir.filePath(QStringLiteral("tetra.stl"));
    // Negative corners put bytes above '~' into the head, which makes the file binary.
    writeFile(mesh, qor::fixtures::binaryStl(qor::fixtures::tetrahedron(-10), 4));
    window.importFile(mesh);
    const auto& features = window.controller->document->features;
    ASSERT_EQ(features.size(), 1u);
    EXPECT_EQ(features[0]->type, QStringLiteral("import"));
    EXPECT_EQ(features[0]->name, QStringLiteral("tetra"));
    const QJsonArray names = features[0]->params.value(QStringLiteral("names")).toArray();
    EXPECT_FALSE(names.isEmpty());
    EXPECT_EQ(names.size(), features[0]->params.value(QStringLiteral("colors")).toArray().size());
    EXPECT_EQ(window.controller->undoText(), QStringLiteral("Importieren"));
    EXPECT_EQ(window.controller->document->current.bodies.get().size(), std::size_t(names.size()));
}

TEST_F(MainWindowFilesTest, ClosingAModifiedDocumentAsksFirst)
{
    window.controller->document->addFeature(QStringLiteral("box"));
    window.controller->commit(QStringLiteral("Quader"));
    for (const auto& [button, staysOpen] :
         {std::pair{QMessageBox::Cancel, true}, {QMessageBox::Discard, false}}) {
        const auto asked = whenShown<QMessageBox>(
            [button = button](QMessageBox* box) { box->button(button)->click(); });
        window.close();
        EXPECT_TRUE(*asked);
        EXPECT_EQ(window.isVisible(), staysOpen);
    }
}

struct Extent {
    double leftmostX = 0;
    double volume = 0;
};

Extent extentOf(const qor::model::Document& document)
{
    Bnd_Box box;
    GProp_GProps props;
    for (const auto& [id, body] : document.current.bodies.get()) {
        BRepBndLib::Add(body.shape, box);
        BRepGProp::VolumeProperties(body.shape, props);
    }
    return {box.IsVoid() ? std::nan("") : box.CornerMin().X(), props.Mass()};
}

// "open" on a Solid Edge assembly: one fixed component per placed part, placed by its matrix,
// and each missing part file named once.
TEST_F(MainWindowFilesTest, SolidEdgeAssemblyOpensAsAFixedComponentPerPart)
{
    // A part of a 10 mm cube, the transmission in metres.
    qor::test::CompoundFileBuilder part;
    part.addStream(QStringLiteral("Daten"),
                   qor::fixtures::xtFromShape(BRepPrimAPI_MakeBox(0.01, 0.01, 0.01).Shape()));
    writeFile(dir.filePath(QStringLiteral("Block.par")), part.build());
    using qor::test::SolidEdgeMatrix;
    const SolidEdgeMatrix shifted{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0.1, 0, 0, 1};
    const SolidEdgeMatrix identity{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    const QString assembly = dir.filePath(QStringLiteral("Getriebe.asm"));
    writeFile(assembly, qor::test::solidEdgeAssemblyFile(
                            {{"C:\\Konstruktion\\Block.par", shifted, "Block.par:1"},
                             {"C:\\Konstruktion\\Fehlt.par", identity, "Fehlt.par:1"},
                             {"C:\\Konstruktion\\Fehlt.par", identity, "Fehlt.par:2"}}));

    whenShown<QFileDialog>([&](QFileDialog* d) {
        d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(assembly);
        acceptFileDialog(d);
    });
    QString report;
    whenShown<QMessageBox>([&](QMessageBox* box) {
        report = box->text();
        box->accept();
    });
    window.actions.value(QStringLiteral("open"))->trigger();
    EXPECT_EQ(report, QStringLiteral("3 Komponenten geladen. Nicht gefunden (bitte neben die "
                                     "Baugruppe legen):\nFehlt.par"));

    const qor::model::Document& document = *window.controller->document;
    QStringList components;
    for (const qor::model::Component& c : document.components)
        components << QStringLiteral("%1 %2 %3").arg(c.name, c.path).arg(int(c.grounded));
    EXPECT_EQ(components, QStringList({QStringLiteral("Block:1 Block.par 1"),
                                       QStringLiteral("Fehlt:1 Fehlt.par 1"),
                                       QStringLiteral("Fehlt:2 Fehlt.par 1")}));
    EXPECT_EQ(document.name, QStringLiteral("Getriebe"));
    EXPECT_TRUE(window.controller->path.isEmpty());
    EXPECT_EQ(window.controller->undoText(), QStringLiteral("Solid-Edge-Baugruppe öffnen"));
    EXPECT_EQ(window.recent.first(), assembly);
    EXPECT_EQ(window.ribbon->currentPage(), window.assemblyPage);
    ASSERT_EQ(document.current.bodies.get().size(), 1u);
    EXPECT_NEAR(extentOf(document).leftmostX, 100.0, 1e-3);
    EXPECT_NEAR(extentOf(document).volume, 1000.0, 1e-6);

    // Not an assembly: the warning, and the document stays.
    const QString text = dir.filePath(QStringLiteral("Notiz.asm"));
    writeFile(text, "Nur Text");
    const auto warned = whenShown<QMessageBox>([&](QMessageBox* box) {
        report = box->text();
        box->accept();
    });
    EXPECT_FALSE(window.openFile(text));
    EXPECT_TRUE(*warned);
    EXPECT_TRUE(report.startsWith(QStringLiteral("Die Baugruppe konnte nicht gelesen werden:\n")));
    EXPECT_EQ(window.controller->document->name, QStringLiteral("Getriebe"));
}

TEST(MainWindowFilesProgram, RenderWritesTheImageAndExits)
{
    QTemporaryDir dir;
    // The file name keeps its colon: only the first two fields are split off.
    const QString image = dir.filePath(QStringLiteral("a:b.png"));
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(QOR_TEST_OUTPUT "/qorcad"),
                  {QStringLiteral("--demo"), QStringLiteral("bracket"), QStringLiteral("--render"),
                   QStringLiteral("0:320x240:") + image});
    ASSERT_TRUE(program.waitForFinished(60000));
    EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().constData();
    EXPECT_EQ(QImage(image).size(), QSize(320, 240));
}

} // namespace

// The kernel parses a large file for seconds on the reader thread while the window's event
// loop keeps running: the progress dialog comes up and its cancel button ends the import
// without a feature or a history entry.
TEST_F(MainWindowFilesTest, LongImportShowsItsProgressAndCanBeCancelled)
{
    const QString path = dir.filePath(QStringLiteral("punkte.step"));
    writeFile(path, qor::fixtures::stepLoosePoints(400000));
    const std::size_t entries = window.controller->history.size();
    const auto cancelled = whenShown<QProgressDialog>(
        [](QProgressDialog* d) { d->findChild<QPushButton*>()->click(); });
    window.importFile(path);
    EXPECT_TRUE(*cancelled);
    EXPECT_EQ(window.controller->history.size(), entries);
    EXPECT_TRUE(window.controller->document->features.empty());
    ASSERT_TRUE(window.toast != nullptr);
    EXPECT_EQ(window.toast->findChild<QLabel*>()->text(), QStringLiteral("Import abgebrochen"));
}

// A Parasolid file whose one face holds a number out of range: both bodies come in, and the
// toast names the face that was left out.
TEST_F(MainWindowFilesTest, ImportNamesTheFacesItLeftOut)
{
    TopoDS_Compound pair;
    BRep_Builder builder;
    builder.MakeCompound(pair);
    builder.Add(pair, BRepPrimAPI_MakeBox(0.01, 0.01, 0.01).Shape());
    builder.Add(pair, BRepPrimAPI_MakeBox(gp_Pnt(0.05, 0, 0), 0.01, 0.01, 0.01).Shape());
    const QString path = dir.filePath(QStringLiteral("zwei.x_b"));
    writeFile(path, qor::fixtures::xtShapeWithReal(pair, qor::fixtures::XtRealKind::PlaneNormal,
                                                   std::nan("")));
    window.importFile(path);
    EXPECT_EQ(window.controller->document->current.bodies.get().size(), 2u);
    ASSERT_TRUE(window.toast != nullptr);
    EXPECT_EQ(window.toast->findChild<QLabel*>()->text(),
              QStringLiteral("Parasolid: 2 Körper importiert – 1 von 12 Flächen ausgelassen (1× "
                             "Ungültige Zahl in den Parasolid-Geometriedaten)"));
}
