#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "app/StartupOptions.h"
#include "app/shell/Browser.h"
#include "app/shell/Ribbon.h"
#include "app/shell/Timeline.h"
#include "io/Export.h"
#include "io/Import.h"
#include "io/ReaderProcess.h"
#include "io/ReaderServer.h"
#include "io/ShapeText.h"
#include "model/DocumentController.h"
#include "panels/dialogs/ImportReportDialog.h"
#include "tests/common/ChildGuard.h"
#include "tests/common/CpuTime.h"
#include "tests/common/WhenShown.h"
#include "tests/fixtures/HostileAssemblies.h"
#include "tests/fixtures/ManyBoxes.h"
#include "tests/fixtures/NestedFiles.h"
#include "tests/fixtures/SabBodyFixtures.h"
#include "tests/fixtures/SolidEdgeAssemblyFile.h"
#include "tests/fixtures/SpecialFiles.h"
#include "tests/fixtures/StlFixtures.h"
#include "tests/fixtures/XtDamagedFixtures.h"
#include "tests/fixtures/XtShapeWriter.h"
#include "tests/gl/ShownWindowTest.h"
#include "view/Scene.h"

#include <BRepBndLib.hxx>
#include <BRepGProp.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRep_Builder.hxx>
#include <Bnd_Box.hxx>
#include <GProp_GProps.hxx>
#include <TopoDS_Compound.hxx>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHelpEvent>
#include <QImage>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidgetItemIterator>
#include <QUrl>
#include <QtGui/qguiapplication_platform.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xcb/xcb.h>

using qor::app::MainWindow;
using qor::test::whenShown;

void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

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

using MainWindowFilesTest = ShownWindowTest;

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

// Documents that are not ordinary files: each way into the window (the open
// dialog, "Zuletzt geöffnet", dropping, the command line's openFile) refuses
// them with one reason and keeps the open document; none of them blocks the
// window or reads until the memory runs out.
TEST_F(MainWindowFilesTest, DocumentsThatAreNoOrdinaryFilesAreRefusedByEveryWayIn)
{
    const auto at = [&](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
    for (const char* pipe : {"rohr.qcpart", "rohr.qcasm", "rohr.asm"})
        ASSERT_TRUE(qor::test::makePipe(at(pipe)));
    ASSERT_TRUE(qor::test::makeSparseFile(at("riesig.qcpart"), qint64(64) << 30));
    for (const auto& [name, target] : {std::pair{"null.qcpart", "/dev/zero"},
                                       {"seiten.qcpart", "/proc/self/pagemap"},
                                       {"seiten.asm", "/proc/self/pagemap"}})
        ASSERT_TRUE(qor::test::makeLink(at(name), QString::fromLatin1(target)));

    window.createExample(QStringLiteral("bracket"));
    window.controller->modified = false; // no save question before each attempt
    const QString name = window.controller->displayName();
    const std::size_t features = window.controller->document->features.size();

    enum class Way { Dialog, Recent, Drop, Direct };
    const QString document = QStringLiteral("Datei konnte nicht geöffnet werden:\n");
    const QString assembly = QStringLiteral("Die Baugruppe konnte nicht gelesen werden:\n");
    const struct {
        const char* file;
        Way way;
        QString text;
    } cases[] = {
        {"rohr.qcpart", Way::Dialog,
         document + "„rohr.qcpart“ ist eine benannte Pipe und wird nicht gelesen"},
        {"rohr.qcasm", Way::Recent,
         document + "„rohr.qcasm“ ist eine benannte Pipe und wird nicht gelesen"},
        {"rohr.asm", Way::Drop,
         assembly + "„rohr.asm“ ist eine benannte Pipe und wird nicht gelesen"},
        {"riesig.qcpart", Way::Drop,
         document + "„riesig.qcpart“ ist mit 68,7 GB zu groß (höchstens 1,0 GB)"},
        {"null.qcpart", Way::Direct,
         document + "„null.qcpart“ ist eine Gerätedatei und wird nicht gelesen"},
        {"seiten.qcpart", Way::Recent,
         document
             + "„seiten.qcpart“ liefert mehr Daten, als seine Größe angibt, und wird nicht "
               "gelesen"},
        {"seiten.asm", Way::Direct,
         assembly
             + "„seiten.asm“ liefert mehr Daten, als seine Größe angibt, und wird nicht gelesen"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const QString path = at(c.file);
        QString report;
        const auto warned = whenShown<QMessageBox>([&](QMessageBox* box) {
            report = box->text();
            box->accept();
        });
        switch (c.way) {
        case Way::Dialog:
            whenShown<QFileDialog>([&](QFileDialog* d) {
                d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
                acceptFileDialog(d);
            });
            window.actions.value(QStringLiteral("open"))->trigger();
            break;
        case Way::Recent:
            window.recent = QStringList{path};
            window.rebuildRecentMenu();
            window.recentMenu->actions().first()->trigger();
            break;
        case Way::Drop: {
            QMimeData mime;
            mime.setUrls({QUrl::fromLocalFile(path)});
            QDropEvent drop(QPointF(window.width() / 2.0, window.height() / 2.0), Qt::CopyAction,
                            &mime, Qt::LeftButton, Qt::NoModifier);
            // Straight to the window's handler, as after the system's drag.
            static_cast<QObject&>(window).event(&drop);
            break;
        }
        case Way::Direct: EXPECT_FALSE(window.openFile(path)); break;
        }
        EXPECT_TRUE(*warned);
        EXPECT_EQ(report, c.text);
        EXPECT_EQ(window.controller->displayName(), name);
        EXPECT_EQ(window.controller->document->features.size(), features);
    }
}

// Saving or exporting onto a named pipe or, as root, a device node says why in the
// window's warning and leaves the node as it was. The file dialog's question whether to
// replace what is there is answered yes, as a user would.
TEST_F(MainWindowFilesTest, SaveAndExportOntoANodeThatIsNoOrdinaryFileWarnAndKeepIt)
{
    window.createExample(QStringLiteral("bracket"));
    enum class Way { Save, Export };
    const QString failed = QStringLiteral("Speichern fehlgeschlagen:\n");
    const struct {
        const char* file;
        bool (*make)(const QString&);
        Way way;
        QString text;
    } cases[] = {
        {"rohr.qcpart", qor::test::makePipe, Way::Save,
         failed + "„rohr.qcpart“ ist eine benannte Pipe und wird nicht überschrieben"},
        {"rohr.step", qor::test::makePipe, Way::Export,
         "„rohr.step“ ist eine benannte Pipe und wird nicht überschrieben"},
        {"geraet.qcpart", qor::test::makeNullDevice, Way::Save,
         failed + "„geraet.qcpart“ ist eine Gerätedatei und wird nicht überschrieben"},
        {"geraet.stl", qor::test::makeNullDevice, Way::Export,
         "„geraet.stl“ ist eine Gerätedatei und wird nicht überschrieben"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const QString path = dir.filePath(QString::fromLatin1(c.file));
        if (!c.make(path)) {
            ASSERT_NE(::geteuid(), 0u) << "root could not make the node";
            continue; // a device node needs root; the pipe stands in for it
        }
        const auto before = qor::test::nodeOf(path);
        QObject answering;
        qor::test::confirmReplacing(&answering);
        QString report;
        bool warned = false;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(widget);
                if (box == nullptr || !box->isVisible() || warned
                    || qobject_cast<QFileDialog*>(box->parentWidget()))
                    continue;
                warned = true;
                report = box->text();
                box->accept();
            }
        });
        answer.start(50);
        if (c.way == Way::Save) {
            window.controller->path = path;
            EXPECT_FALSE(window.save());
        } else {
            const auto dialog = whenShown<QFileDialog>([&](QFileDialog* d) {
                d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
                acceptFileDialog(d);
            });
            window.exportBodies();
            EXPECT_TRUE(*dialog);
        }
        answer.stop();
        EXPECT_TRUE(warned);
        EXPECT_EQ(report, c.text);
        EXPECT_EQ(qor::test::nodeOf(path), before);
    }
    window.controller->path.clear();
}

// An assembly that leads back to itself opens in the window with each file
// placed once, and the component that closes the circle names the file.
TEST_F(MainWindowFilesTest, AssemblyLeadingBackToItselfOpensWithTheCircleNamed)
{
    const auto saveAssembly = [&](const char* name, const char* component) {
        qor::model::Document doc;
        doc.addFeature(QStringLiteral("box"),
                       QJsonObject{{"length", "10 mm"}, {"width", "10 mm"}, {"height", "10 mm"}});
        qor::model::Component c;
        c.id = 5;
        c.name = QString::fromLatin1(component);
        c.path = QString::fromLatin1(component);
        c.m[3] = 20;
        doc.components.push_back(c);
        doc.nextId = 5;
        ASSERT_TRUE(doc.save(dir.filePath(QString::fromLatin1(name))));
    };
    saveAssembly("a.qcasm", "b.qcasm");
    saveAssembly("b.qcasm", "a.qcasm");
    ASSERT_TRUE(window.openFile(dir.filePath(QStringLiteral("a.qcasm"))));
    const qor::model::Document& document = *window.controller->document;
    EXPECT_EQ(document.current.bodies.get().size(), 2u);
    ASSERT_EQ(document.components.size(), 1u);
    EXPECT_EQ(document.components[0].status,
              QStringLiteral("Kreisbezug: „a.qcasm“ enthält sich selbst; die innere Kopie wird "
                             "weggelassen"));
    EXPECT_EQ(window.ribbon->currentPage(), window.assemblyPage);
}

// Drops local files on the window as a file manager would.
void dropFiles(MainWindow& window, const QStringList& paths)
{
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls << QUrl::fromLocalFile(path);
    data.setUrls(urls);
    const QPointF at(window.width() / 2.0, window.height() / 2.0);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
}

// A STEP file with one box of the given length.
void writeStepBox(const QString& path, double length)
{
    const std::vector<qor::io::ExportBody> bodies{
        {QStringLiteral("Quader"), BRepPrimAPI_MakeBox(length, 20, 10).Shape()}};
    QString error;
    ASSERT_TRUE(qor::io::exportFile(path, bodies, qor::io::ExportOptions{}, &error))
        << error.toStdString();
}

QString toastText(const MainWindow& window)
{
    return window.toast->findChild<QLabel*>()->text();
}

// Two STEP files dropped together both land in the open document, each as an import, without
// a save question; a part file dropped on a changed document asks first and replaces the
// document only when the user lets it.
TEST_F(MainWindowFilesTest, DroppedStepFilesBothImportIntoTheOpenDocument)
{
    window.controller->document->addFeature(QStringLiteral("box"));
    window.controller->commit(QStringLiteral("Quader"));
    const QString first = dir.filePath(QStringLiteral("Welle.step"));
    const QString second = dir.filePath(QStringLiteral("Nabe.stp"));
    writeStepBox(first, 40);
    writeStepBox(second, 70);
    {
        QObject watching;
        const auto asked
            = whenShown<QMessageBox>([](QMessageBox* box) { box->reject(); }, &watching);
        dropFiles(window, {first, second});
        EXPECT_FALSE(*asked) << "an import into the open document asks nothing";
    }
    QStringList types;
    for (const auto& feature : window.controller->document->features)
        types << feature->type + QLatin1Char(':') + feature->name;
    EXPECT_EQ(types, (QStringList{QStringLiteral("box:Quader1"), QStringLiteral("import:Welle"),
                                  QStringLiteral("import:Nabe")}));
    EXPECT_EQ(window.controller->document->current.bodies.get().size(), 3u);
    EXPECT_TRUE(toastText(window).endsWith(QStringLiteral(": 1 Körper importiert")))
        << toastText(window).toStdString();
}

TEST_F(MainWindowFilesTest, ADroppedPartAsksToSaveTheChangedDocumentFirst)
{
    window.controller->document->addFeature(QStringLiteral("box"));
    window.controller->commit(QStringLiteral("Quader"));
    const QString part = dir.filePath(QStringLiteral("Flansch.qcpart"));
    {
        qor::app::DocumentController other;
        other.newDocument();
        other.document->addFeature(QStringLiteral("cylinder"));
        other.recompute();
        ASSERT_TRUE(other.saveAs(part));
    }
    struct Case {
        QMessageBox::StandardButton answer;
        QString firstFeature; // afterwards
    };
    for (const Case& c : {Case{QMessageBox::Cancel, QStringLiteral("box")},
                          Case{QMessageBox::Discard, QStringLiteral("cylinder")}}) {
        auto featuresWhenAsked = std::make_shared<std::size_t>(0);
        const auto question = whenShown<QMessageBox>([&, featuresWhenAsked](QMessageBox* box) {
            *featuresWhenAsked = window.controller->document->features.size();
            box->button(c.answer)->click();
        });
        dropFiles(window, {part});
        EXPECT_TRUE(*question);
        EXPECT_EQ(*featuresWhenAsked, 1u) << "the question comes before the document changes";
        ASSERT_FALSE(window.controller->document->features.empty());
        EXPECT_EQ(window.controller->document->features.front()->type, c.firstFeature);
    }
    EXPECT_EQ(window.controller->path, part);
}

// Export writes what it is asked for: from the browser's body menu that body alone (also when
// hidden), from the export command every body that is shown; a name without suffix takes the
// chosen filter's; the toast counts the bodies written.
TEST_F(MainWindowFilesTest, ExportWritesTheChosenBodiesInTheChosenFormat)
{
    qor::model::Document& document = *window.controller->document;
    document.addFeature(QStringLiteral("box"));
    document.addFeature(QStringLiteral("box"), {{QStringLiteral("length"), QStringLiteral("80 mm")},
                                                {QStringLiteral("op"), QStringLiteral("new")}});
    window.controller->commit(QStringLiteral("Quader"));
    std::vector<int> ids;
    for (const auto& [id, body] : document.current.bodies.get())
        ids.push_back(id);
    ASSERT_EQ(ids.size(), 2u);
    document.hidden[ids[1]] = true;
    window.controller->commit(QStringLiteral("Ausblenden"));

    struct Case {
        const char* name;
        int fromMenu; // body id, 0: the export command
        QString typed;
        QString filter;
        QString written;
        std::size_t bodies;
    };
    const Case cases[] = {
        {"menu, hidden body", ids[1], QStringLiteral("einzeln"),
         QStringLiteral("STEP AP242 (*.step *.stp)"), QStringLiteral("einzeln.step"), 1},
        {"menu, shown body", ids[0], QStringLiteral("erster.step"),
         QStringLiteral("STEP AP242 (*.step *.stp)"), QStringLiteral("erster.step"), 1},
        {"command skips the hidden body", 0, QStringLiteral("alle"),
         QStringLiteral("STEP AP242 (*.step *.stp)"), QStringLiteral("alle.step"), 1},
        {"suffix from the filter", 0, QStringLiteral("netz"), QStringLiteral("STL binär (*.stl)"),
         QStringLiteral("netz.stl"), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString typed = dir.filePath(c.typed);
        const auto dialog = whenShown<QFileDialog>([&](QFileDialog* d) {
            d->selectNameFilter(c.filter);
            // Typed as a user types it: the dialog keeps the name as given.
            d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(typed);
            QMetaObject::invokeMethod(d, "accept");
        });
        if (c.fromMenu != 0) {
            QMenu* menu = window.browserMenu(5, c.fromMenu);
            QAction* entry = nullptr;
            for (QAction* action : menu->actions())
                if (action->text() == QStringLiteral("Als STEP/STL exportieren …"))
                    entry = action;
            ASSERT_NE(entry, nullptr);
            entry->trigger();
            menu->deleteLater();
        } else {
            window.exportBodies();
        }
        ASSERT_TRUE(*dialog);
        const QString path = dir.filePath(c.written);
        ASSERT_TRUE(QFile::exists(path)) << path.toStdString();
        EXPECT_EQ(toastText(window),
                  QStringLiteral("%1 Körper nach %2 exportiert").arg(c.bodies).arg(c.written));
        const qor::io::ImportResult back = qor::io::importFile(path, {});
        ASSERT_TRUE(back.ok) << back.error.toStdString();
        EXPECT_EQ(back.bodies.size(), c.bodies);
        if (c.fromMenu != 0) {
            Bnd_Box box;
            BRepBndLib::Add(back.bodies.front().shape, box);
            const Bnd_Box expected = [&] {
                Bnd_Box b;
                BRepBndLib::Add(document.current.bodies.get().at(c.fromMenu).shape, b);
                return b;
            }();
            EXPECT_NEAR(box.CornerMax().X() - box.CornerMin().X(),
                        expected.CornerMax().X() - expected.CornerMin().X(), 0.1);
        }
        EXPECT_EQ(window.property("exportBody").toInt(), 0);
    }
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
    ASSERT_TRUE(program.waitForFinished(qor::test::childGuardMs));
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

// A large STEP file: the dialog follows the read and the transfer, and stays while the bodies
// come into the document and are shown. "Abbrechen" pressed only then says that the import
// was done already and how to take it back.
TEST_F(MainWindowFilesTest, LargeImportShowsItsProgressUntilTheDocumentShowsIt)
{
    constexpr int count = 1100;
    const QString path = dir.filePath(QStringLiteral("kisten.step"));
    writeFile(path, qor::fixtures::stepManyBoxes(count));
    // The values the dialog's bar takes while the file is read.
    auto readValues = std::make_shared<std::vector<int>>();
    const auto shown = whenShown<QProgressDialog>([readValues](QProgressDialog* d) {
        QObject::connect(d->findChild<QProgressBar*>(), &QProgressBar::valueChanged, d,
                         [d, readValues](int value) {
                             if (d->labelText() == QStringLiteral("Datei wird gelesen …"))
                                 readValues->push_back(value);
                         });
    });
    const auto shownBodies = [this] {
        int bodies = 0;
        for (const auto& [id, body] : window.controller->document->current.bodies.get())
            bodies += window.scene->bodyObject(id).IsNull() ? 0 : 1;
        return bodies;
    };
    // The window has shown the new document by the time the controller's other listeners
    // hear of it.
    bool dialogWhenShown = false;
    int bodiesWhenShown = 0;
    const QMetaObject::Connection changed
        = QObject::connect(window.controller, &qor::app::DocumentController::changed, &window, [&] {
              if (bodiesWhenShown > 0)
                  return;
              bodiesWhenShown = shownBodies();
              for (QProgressDialog* d : window.findChildren<QProgressDialog*>()) {
                  if (!d->isVisible())
                      continue;
                  dialogWhenShown = true;
                  QTest::mouseClick(d->findChild<QPushButton*>(), Qt::LeftButton);
              }
          });
    window.importFile(path);
    QObject::disconnect(changed);

    ASSERT_TRUE(*shown) << "the read was too quick for its dialog";
    EXPECT_EQ(bodiesWhenShown, count);
    EXPECT_TRUE(dialogWhenShown);
    EXPECT_TRUE(std::is_sorted(readValues->begin(), readValues->end()));
    EXPECT_GE(std::count_if(readValues->begin(), readValues->end(),
                            [](int value) { return value > 0 && value < 100; }),
              3);
    for (QProgressDialog* d : window.findChildren<QProgressDialog*>())
        EXPECT_FALSE(d->isVisible());
    EXPECT_EQ(window.controller->document->current.bodies.get().size(), std::size_t(count));
    ASSERT_TRUE(window.toast != nullptr);
    EXPECT_EQ(window.toast->findChild<QLabel*>()->text(),
              QStringLiteral("Abbrechen kam zu spät: „kisten.step“ ist schon importiert – "
                             "Rückgängig (Strg+Z) nimmt den Import zurück"));
    window.actions.value(QStringLiteral("undo"))->trigger();
    EXPECT_TRUE(window.controller->document->features.empty());
    EXPECT_TRUE(window.controller->document->current.bodies.get().empty());
}

// Counts in the window's texts carry the thousands dot: the import's toast, the browser's body
// group and the selection in the status line.
TEST_F(MainWindowFilesTest, CountsShowTheirThousandsDot)
{
    const QString path = dir.filePath(QStringLiteral("kisten.step"));
    writeFile(path, qor::fixtures::stepManyBoxes(1100));
    window.importFile(path);
    ASSERT_EQ(window.controller->document->current.bodies.get().size(), 1100u);
    ASSERT_TRUE(window.toast != nullptr);
    EXPECT_TRUE(window.toast->findChild<QLabel*>()->text().startsWith(
        QStringLiteral("STEP: 1.100 Körper importiert")))
        << window.toast->findChild<QLabel*>()->text().toStdString();
    QStringList groups;
    for (QTreeWidgetItemIterator it(window.browser); *it; ++it) {
        if ((*it)->childCount() > 0)
            groups << (*it)->text(0);
    }
    EXPECT_TRUE(groups.contains(QStringLiteral("Körper (1.100)")))
        << groups.join(',').toStdString();
}

// Showing thousands of bodies of shapes of their own takes seconds: the progress dialog comes
// up, and its cancel button stops the build with the bodies made so far shown and a note of
// how many; the next rebuild shows them all.
TEST_F(MainWindowFilesTest, LongSceneBuildShowsItsProgressAndCanBeCancelled)
{
    constexpr int count = 2000;
    TopoDS_Compound boxes;
    BRep_Builder().MakeCompound(boxes);
    for (int i = 0; i < count; ++i)
        BRep_Builder().Add(
            boxes,
            BRepPrimAPI_MakeBox(gp_Pnt(12.0 * (i % 50), 12.0 * (i / 50), 0), 10, 10, 10).Shape());
    window.controller->document->addFeature(
        QStringLiteral("import"),
        {{"file", "kisten.step"}, {"brep", qor::io::shapeToBase64(boxes)}, {"split", true}});
    const auto shownBodies = [this] {
        int shown = 0;
        for (const auto& [id, body] : window.controller->document->current.bodies.get())
            shown += window.scene->bodyObject(id).IsNull() ? 0 : 1;
        return shown;
    };
    // Cancelled once the view shows bodies, however long that takes under load: the bar
    // moves while the first bodies are still being meshed.
    bool cancelled = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QProgressDialog* d : window.findChildren<QProgressDialog*>()) {
            if (!cancelled && d->isVisible() && shownBodies() > 0) {
                cancelled = true;
                d->findChild<QPushButton*>()->click();
            }
        }
    });
    poll.start(5);
    window.controller->commit(QStringLiteral("Importieren"));
    poll.stop();
    ASSERT_TRUE(cancelled);
    const int shown = shownBodies();
    EXPECT_GT(shown, 0);
    EXPECT_LT(shown, count);
    EXPECT_TRUE(window.scene->buildCancelled());
    ASSERT_TRUE(window.toast != nullptr);
    EXPECT_EQ(window.toast->findChild<QLabel*>()->text(),
              QStringLiteral("Anzeige abgebrochen: %1 von 2.000 Körpern werden angezeigt")
                  .arg(QLocale(QLocale::German).toString(shown)));
    EXPECT_TRUE(window.findChildren<QProgressDialog*>().isEmpty());

    window.scene->rebuild();
    EXPECT_EQ(shownBodies(), count);
    EXPECT_FALSE(window.scene->buildCancelled());
    EXPECT_TRUE(window.findChildren<QProgressDialog*>().isEmpty());
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

// Every note of a Fusion design reaches the toast, the count of left-out faces over all its
// streams included; also for the real design when it is at hand.
TEST_F(MainWindowFilesTest, FusionImportNamesEveryNoteOfTheDesign)
{
    qor::test::SabBodyOptions lostFace;
    lostFace.unsupportedFaces = {0};
    lostFace.looplessFaces = {0};
    const QString built = dir.filePath(QStringLiteral("Halter.f3d"));
    writeFile(
        built,
        qor::test::zipArchive(
            {{"a.smb", qor::test::sabFromShape(BRepPrimAPI_MakeBox(1, 1, 1).Shape(), lostFace)},
             {"b.smb",
              qor::test::sabFromShape(BRepPrimAPI_MakeBox(10, 10, 2).Shape(), lostFace)}}));
    const QString real
        = QDir(QStringLiteral(QOR_READER_FILES)).filePath(QStringLiteral("MotorCam .f3z"));
    struct Case {
        QString path;
        QStringList notes;
    };
    std::vector<Case> cases{{built,
                             {QStringLiteral("Fläche ausgelassen: Spline-Fläche ohne Rand"),
                              QStringLiteral("2 von 12 Flächen ausgelassen")}}};
    if (QFileInfo::exists(real))
        cases.push_back({real,
                         {QStringLiteral("Spline-Flächen (Verrundungen u. a.) aus ihren "
                                         "Randkurven aufgebaut"),
                          QStringLiteral("5 von 163 Flächen ausgelassen")}});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        window.importFile(c.path);
        ASSERT_TRUE(window.toast != nullptr);
        const QString shown = window.toast->findChild<QLabel*>()->text();
        EXPECT_TRUE(shown.startsWith(QStringLiteral("Autodesk Fusion: "))) << shown.toStdString();
        for (const QString& note : c.notes)
            EXPECT_TRUE(shown.contains(note)) << shown.toStdString();
        EXPECT_FALSE(shown.contains(QLatin1Char('\n'))) << shown.toStdString();
    }
}

namespace {

// A key press and release that the X server hands to the window as it hands a user's: they
// reach the application through the window system's queue, where input waits while events
// are processed without user input. Returns false off X.
bool sendKeyThroughX(const QWidget& window, xcb_keycode_t key)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr)
        return false;
    xcb_connection_t* connection = x11->connection();
    const xcb_window_t target = xcb_window_t(window.winId());
    for (const auto& [type, mask] : {std::pair{XCB_KEY_PRESS, XCB_EVENT_MASK_KEY_PRESS},
                                     std::pair{XCB_KEY_RELEASE, XCB_EVENT_MASK_KEY_RELEASE}}) {
        xcb_key_press_event_t event{};
        event.response_type = uint8_t(type);
        event.detail = key;
        event.root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        event.event = target;
        event.event_x = 10;
        event.event_y = 10;
        event.same_screen = 1;
        xcb_send_event(connection, 0, target, mask, reinterpret_cast<const char*>(&event));
    }
    // Once the server has answered, the events are on their way to the application's queue.
    free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    QThread::msleep(100);
    return true;
}

// Watches for the export's progress dialog being made after the file dialog, and presses a
// key on the window at that moment; records when the key arrives.
class KeyDuringExport : public QObject {
public:
    explicit KeyDuringExport(MainWindow& window)
        : window_(window)
    {
        window.installEventFilter(this);
        qApp->installEventFilter(this);
    }

    bool fileChosen = false;
    bool sent = false;
    bool exporting = false;
    bool progressShown = false;
    int beforeProgressShows = 0; // keys that reached the window during the export, dialog hidden
    int afterExport = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == &window_ && event->type() == QEvent::ChildAdded && fileChosen && !sent) {
            auto* child = static_cast<QChildEvent*>(event)->child();
            if (child->isWidgetType())
                sent = sendKeyThroughX(window_, 38);
        }
        if (event->type() == QEvent::Show && qobject_cast<QProgressDialog*>(watched) != nullptr)
            progressShown = true;
        auto* widget = qobject_cast<QWidget*>(watched);
        if (event->type() == QEvent::KeyPress && widget != nullptr
            && (widget == &window_ || window_.isAncestorOf(widget))) {
            if (!exporting)
                ++afterExport;
            else if (!progressShown)
                ++beforeProgressShows;
            event->accept();
            return true;
        }
        return false;
    }

private:
    MainWindow& window_;
};

} // namespace

// While an export runs, the user's clicks and keys wait until its progress dialog shows, as
// they do during an import: before, the window behind the hidden dialog would start another
// command meanwhile. A key pressed as the export starts arrives after it, or, when the export
// took long enough for its dialog to show, goes to the dialog.
TEST_F(MainWindowFilesTest, ExportLetsNoInputThroughBeforeItsProgressShows)
{
    window.controller->document->addFeature(QStringLiteral("box"));
    window.controller->commit(QStringLiteral("Quader"));
    KeyDuringExport keys(window);
    const QString path = dir.filePath(QStringLiteral("quader.stl"));
    whenShown<QFileDialog>([&](QFileDialog* d) {
        d->selectNameFilter(QStringLiteral("STL binär (*.stl)"));
        d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
        QMetaObject::invokeMethod(d, "accept");
        keys.fileChosen = true;
    });
    keys.exporting = true;
    window.exportBodies();
    keys.exporting = false;
    if (!keys.sent)
        GTEST_SKIP() << "no X server to send the key through";
    ASSERT_TRUE(QFile::exists(path));
    EXPECT_EQ(keys.beforeProgressShows, 0);
    QTest::qWait(200);
    if (keys.progressShown && keys.afterExport == 0) {
        // The dialog took the key; a second one shows that keys reach the window this way.
        ASSERT_TRUE(sendKeyThroughX(window, 38));
        QTest::qWait(200);
    }
    EXPECT_EQ(keys.afterExport, 1) << "no key came through: the test proves nothing";
}

namespace {

// The texts of every label of a dialog, joined.
QString labelTexts(const QWidget* dialog)
{
    QStringList texts;
    for (const QLabel* label : dialog->findChildren<QLabel*>())
        texts << label->text();
    return texts.join(u'\n');
}

} // namespace

// Files that crash the kernel's readers or would walk a huge instance graph, imported into
// a modified document: the report names the reason in one German line, and the document
// keeps its feature and stays modified; the window goes on taking events.
TEST_F(MainWindowFilesTest, HostileImportKeepsTheModifiedDocument)
{
    window.controller->document->addFeature(
        QStringLiteral("box"), {{"length", 10}, {"width", 10}, {"height", 10}, {"op", "new"}});
    window.controller->commit(QStringLiteral("Quader"));
    const QStringList before = featureSummary(*window.controller->document);
    const std::pair<QString, QByteArray> files[] = {
        {"selbst.step", qor::fixtures::stepSelfPlacedAssembly()},
        {"verdoppelt.igs", qor::fixtures::igesDoublingSubfigures(40)},
        {"verdoppelt.gltf", qor::fixtures::gltfDoublingNodes(40)},
    };
    const QString reasons[] = {QStringLiteral("der Leseprozess wurde beendet (Absturz)"),
                               QStringLiteral("Die Datei platziert 1.099.511.627.776 Körper"),
                               QStringLiteral("Die Datei platziert 1.099.511.627.776 Körper")};
    for (std::size_t i = 0; i < std::size(files); ++i) {
        SCOPED_TRACE(files[i].first.toStdString());
        const QString path = dir.filePath(files[i].first);
        writeFile(path, files[i].second);
        auto report = std::make_shared<QString>();
        const auto reported
            = whenShown<qor::app::ImportInfoDialog>([report](qor::app::ImportInfoDialog* d) {
                  *report = labelTexts(d);
                  d->reject();
              });
        const double cpuBefore = qor::test::workCpuSeconds();
        window.importFile(path);
        EXPECT_LT(qor::test::workCpuSeconds() - cpuBefore, 30.0);
        EXPECT_TRUE(*reported);
        EXPECT_TRUE(report->contains(reasons[i])) << report->toStdString();
        EXPECT_FALSE(report->contains(QStringLiteral("std::")));
        EXPECT_EQ(featureSummary(*window.controller->document), before);
        EXPECT_TRUE(window.controller->modified);
    }
    // Still alive and answering: a timer of the window's event loop fires.
    bool answered = false;
    QTimer::singleShot(0, &window, [&answered] { answered = true; });
    QTest::qWait(50);
    EXPECT_TRUE(answered);
    EXPECT_TRUE(window.isVisible());
}

// A read the kernel would work on for a long time: "Abbrechen" ends the reader process at
// once, and the window takes the next import straight away.
TEST_F(MainWindowFilesTest, CancellingAnImportEndsTheReaderAtOnce)
{
    const QString path = dir.filePath(QStringLiteral("gross.step"));
    writeFile(path, qor::fixtures::stepManyNestedPoints(8000, 255));
    const auto cancelled = whenShown<QProgressDialog>(
        [](QProgressDialog* d) { d->findChild<QPushButton*>()->click(); });
    // A read that ended on its own would wait for its report to be closed.
    QObject watching;
    const auto reported = whenShown<qor::app::ImportInfoDialog>(
        [](qor::app::ImportInfoDialog* d) { d->reject(); }, &watching);
    // The reader's processor time, not the window's: the window draws while the dialog
    // waits to show, and how much it draws depends on the machine.
    const double before = qor::io::readerProcessorSeconds();
    const double windowBefore = qor::test::cpuSeconds();
    window.importFile(path);
    const double reader = qor::io::readerProcessorSeconds() - before;
    ASSERT_TRUE(*cancelled);
    EXPECT_FALSE(*reported);
    // Read to its end, the file costs the reader 2.8 s of processor time on a fast machine.
    EXPECT_LT(reader, 1.5) << "the window took " << qor::test::cpuSeconds() - windowBefore << " s";
    EXPECT_TRUE(window.controller->document->features.empty());
    ASSERT_TRUE(window.toast != nullptr);
    EXPECT_EQ(window.toast->findChild<QLabel*>()->text(), QStringLiteral("Import abgebrochen"));
}

// A component whose file crashes the kernel's reader: the assembly opens with the other
// component placed and the hostile one marked in the browser with the reason.
TEST_F(MainWindowFilesTest, AssemblyWithAHostileComponentOpensWithItMarked)
{
    writeFile(dir.filePath(QStringLiteral("selbst.step")), qor::fixtures::stepSelfPlacedAssembly());
    writeFile(dir.filePath(QStringLiteral("quader.step")), qor::fixtures::stepOneBox());
    qor::model::Document assembly;
    for (const auto& [id, file] : {std::pair{1, "quader.step"}, std::pair{2, "selbst.step"}}) {
        qor::model::Component c;
        c.id = id;
        c.name = QString::fromLatin1(file);
        c.path = QString::fromLatin1(file);
        c.grounded = id == 1;
        assembly.components.push_back(c);
    }
    assembly.nextId = 3;
    const QString path = dir.filePath(QStringLiteral("gruppe.qcasm"));
    ASSERT_TRUE(assembly.save(path));
    ASSERT_TRUE(window.openFile(path));
    const auto& components = window.controller->document->components;
    ASSERT_EQ(components.size(), 2u);
    EXPECT_TRUE(components[0].status.isEmpty());
    EXPECT_TRUE(
        components[1].status.contains(QStringLiteral("der Leseprozess wurde beendet (Absturz)")))
        << components[1].status.toStdString();
    EXPECT_EQ(window.controller->document->current.bodies.get().size(), 1u);
}

// An assembly document at path that places the file once.
void saveAssemblyOf(const QString& path, const QString& file)
{
    qor::model::Document assembly;
    qor::model::Component c;
    c.id = 1;
    c.name = QFileInfo(file).completeBaseName();
    c.path = file;
    assembly.components.push_back(c);
    assembly.nextId = 2;
    ASSERT_TRUE(assembly.save(path));
}

// A component that cannot take all bodies of its file says how many it took, and the
// browser marks it.
TEST_F(MainWindowFilesTest, AComponentThatLeftBodiesOutIsMarked)
{
    writeFile(dir.filePath(QStringLiteral("viele.step")), qor::fixtures::stepDoublingAssembly(10));
    const QString path = dir.filePath(QStringLiteral("viele.qcasm"));
    saveAssemblyOf(path, QStringLiteral("viele.step"));
    ASSERT_TRUE(window.openFile(path));
    const qor::model::Document& document = *window.controller->document;
    EXPECT_EQ(document.current.bodies.get().size(), 999u);
    const qor::app::BrowserEntry tree = qor::app::browserTree(document, QString(), false);
    const auto group = std::find_if(tree.children.begin(), tree.children.end(), [](const auto& e) {
        return e.kind == qor::app::browserKind::componentGroup;
    });
    ASSERT_NE(group, tree.children.end());
    ASSERT_EQ(group->children.size(), 1u);
    EXPECT_EQ(group->children[0].icon, QStringLiteral("warning"));
    EXPECT_TRUE(
        group->children[0].toolTip.endsWith(QStringLiteral("\n999 von 1.024 Körpern übernommen")))
        << group->children[0].toolTip.toStdString();
}

// The timeline shows the time that passed while the assembly recomputed, its component's read
// in the reader process included, not the processor time that read took, and its tool tip
// says so. The reader server is held for a while before it starts the worker: time passes
// that no processor spends.
TEST_F(MainWindowFilesTest, TimelineShowsTheTimeAComponentReadTook)
{
    writeStepBox(dir.filePath(QStringLiteral("quader.step")), 30);
    const QString path = dir.filePath(QStringLiteral("quader.qcasm"));
    saveAssemblyOf(path, QStringLiteral("quader.step"));
    qor::io::startReaderServer(qor::io::readerProgram());
    const pid_t server = qor::io::readerServerPid();
    ASSERT_GT(server, 0);
    static constexpr int heldMs = 1500;
    ASSERT_EQ(::kill(server, SIGSTOP), 0);
    std::thread release([server] {
        std::this_thread::sleep_for(std::chrono::milliseconds(heldMs));
        ::kill(server, SIGCONT);
    });
    QElapsedTimer clock;
    clock.start();
    const double before = qor::test::workCpuSeconds();
    const bool opened = window.openFile(path);
    const double work = qor::test::workCpuSeconds() - before;
    const qint64 passedMs = clock.elapsed();
    release.join();
    ASSERT_TRUE(opened);
    EXPECT_EQ(window.controller->document->current.bodies.get().size(), 1u);
    const double shownMs = window.controller->lastRecomputeMs;
    EXPECT_GE(shownMs, heldMs);
    EXPECT_LE(shownMs, double(passedMs));
    EXPECT_GT(shownMs, 1000 * work) << "processor time " << work << " s";

    qor::app::Timeline& timeline = *window.timeline;
    timeline.grab().save(QStringLiteral(QOR_TEST_OUTPUT "/timeline-component-read.png"));
    const QPoint atText(timeline.width() - 30, timeline.height() / 2);
    QHelpEvent help(QEvent::ToolTip, atText, timeline.mapToGlobal(atText));
    QApplication::sendEvent(&timeline, &help);
    EXPECT_EQ(QToolTip::text(), QStringLiteral("Verstrichene Zeit der letzten Neuberechnung, das "
                                               "Lesen der Komponentendateien eingeschlossen"));
}

// A file or folder whose name is not valid UTF-8, named on the command line, opens: a
// document beside the part it places, and an import.
TEST_F(MainWindowFilesTest, CommandLineFilesWhoseNamesAreNotUtf8Open)
{
    const QByteArray folder = QFile::encodeName(dir.path()) + "/ordner\xe9";
    ASSERT_EQ(::mkdir(folder.constData(), 0700), 0);
    qor::model::Document part;
    part.addFeature(QStringLiteral("box"),
                    QJsonObject{{"length", "10 mm"}, {"width", "10 mm"}, {"height", "10 mm"}});
    ASSERT_TRUE(part.save(dir.filePath(QStringLiteral("teil.qcpart"))));
    saveAssemblyOf(dir.filePath(QStringLiteral("gruppe.qcasm")), QStringLiteral("teil.qcpart"));
    writeStepBox(dir.filePath(QStringLiteral("quader.step")), 30);
    const auto moveTo = [&](const char* name, const QByteArray& to) {
        return ::rename((QFile::encodeName(dir.path()) + '/' + name).constData(), to.constData());
    };
    ASSERT_EQ(moveTo("teil.qcpart", folder + "/teil.qcpart"), 0);
    ASSERT_EQ(moveTo("gruppe.qcasm", folder + "/gruppe.qcasm"), 0);
    ASSERT_EQ(moveTo("quader.step", folder
                                        + "/qu\xe4"
                                          "der.step"),
              0);

    const struct {
        QByteArray given;
        std::size_t bodies;
    } cases[] = {
        {folder + "/gruppe.qcasm", 1},
        {folder
             + "/qu\xe4"
               "der.step",
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.given.toStdString());
        window.controller->newDocument();
        qor::app::CommandLine commandLine;
        commandLine.givenArguments = {QByteArray("qorcad"), c.given};
        ASSERT_TRUE(
            commandLine.parser.parse({QStringLiteral("qorcad"), QFile::decodeName(c.given)}));
        QObject watching; // a message or report would say why the file did not open
        const auto boxShown
            = whenShown<QMessageBox>([](QMessageBox* box) { box->close(); }, &watching);
        const auto reportShown = whenShown<qor::app::ImportInfoDialog>(
            [](qor::app::ImportInfoDialog* d) { d->reject(); }, &watching);
        qor::app::handleStartupOptions(commandLine, window);
        EXPECT_FALSE(*boxShown);
        EXPECT_FALSE(*reportShown);
        const qor::model::Document& document = *window.controller->document;
        EXPECT_EQ(document.current.bodies.get().size(), c.bodies);
        for (const auto& component : document.components)
            EXPECT_EQ(component.status, QString());
    }
    // The toolkit cannot name the folder to remove it with the test's.
    std::filesystem::remove_all(folder.toStdString());
}
