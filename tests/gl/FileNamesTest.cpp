// Files as the user named them: names whose bytes are not valid UTF-8 are saved under, and
// looked up beside, the real file; a node that is no file is refused before any question;
// the file dialogs start in the home folder while none was chosen yet.

#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "app/StartupOptions.h"
#include "app/UnattendedDialogs.h"
#include "drawing/window/DrawingWindow.h"
#include "io/NameLinks.h"
#include "model/DocumentController.h"
#include "panels/dialogs/BomDialog.h"
#include "panels/dialogs/ImportReportDialog.h"
#include "tests/common/ChildGuard.h"
#include "tests/common/WhenShown.h"
#include "tests/fixtures/SpecialFiles.h"
#include "tests/fixtures/StlFixtures.h"
#include "tests/gl/ShownWindowTest.h"
#include "view/Scene.h"

#include <QAction>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

using qor::app::MainWindow;
using qor::test::whenShown;

namespace {

// The toolkit decodes every name it is given: these helpers use the bytes.
std::set<std::string> namesIn(const QByteArray& folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.toStdString()))
        names.insert(entry.path().filename().string());
    return names;
}

QByteArray readBytes(const QByteArray& path)
{
    std::ifstream file(path.toStdString(), std::ios::binary);
    return QByteArray::fromStdString(
        std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()));
}

QStringList featureNames(const QByteArray& documentBytes)
{
    QStringList names;
    const QJsonObject json = QJsonDocument::fromJson(documentBytes).object();
    for (const QJsonValue& feature : json.value(QStringLiteral("features")).toArray())
        names << feature.toObject().value(QStringLiteral("name")).toString();
    return names;
}

// The bytes a recent-list entry names, read as the settings file keeps it: a path, or a
// "file://" address of bytes that are no text.
QByteArray entryBytes(const QString& entry)
{
    if (entry.startsWith(QStringLiteral("file://")))
        return QByteArray::fromPercentEncoding(entry.mid(7).toLatin1());
    return QFile::encodeName(entry);
}

void saveBoxPart(const QByteArray& path, const QString& name)
{
    qor::model::Document part;
    part.addFeature(QStringLiteral("box"),
                    QJsonObject{{"length", "10 mm"}, {"width", "20 mm"}, {"height", "30 mm"}})
        ->name
        = name;
    const QString written = QFile::decodeName(path) + QStringLiteral(".tmp");
    ASSERT_TRUE(part.save(written));
    ASSERT_EQ(::rename(QFile::encodeName(written).constData(), path.constData()), 0);
}

void saveAssemblyOf(const QByteArray& path, const QString& file)
{
    qor::model::Document assembly;
    qor::model::Component c;
    c.id = 1;
    c.name = QStringLiteral("H-box");
    c.path = file;
    assembly.components.push_back(c);
    assembly.nextId = 2;
    const QString written = QFile::decodeName(path) + QStringLiteral(".tmp");
    ASSERT_TRUE(assembly.save(written));
    ASSERT_EQ(::rename(QFile::encodeName(written).constData(), path.constData()), 0);
}

class FileNamesTest : public ShownWindowTest {
protected:
    void TearDown() override
    {
        ShownWindowTest::TearDown();
        // The toolkit cannot name these files to remove them with the folder.
        std::filesystem::remove_all(folder().toStdString());
    }

    QByteArray folder() const { return QFile::encodeName(dir.path()); }

    // Opens the file as the command line names it: by its bytes.
    void openAsGiven(const QByteArray& given)
    {
        qor::app::CommandLine commandLine;
        commandLine.givenArguments = {QByteArray("qorcad"), given};
        ASSERT_TRUE(commandLine.parser.parse({QStringLiteral("qorcad"), QFile::decodeName(given)}));
        qor::app::handleStartupOptions(commandLine, window);
    }
};

// Strg+S on a part whose name is Latin-1 writes the user's file, and nothing else appears
// beside it.
TEST_F(FileNamesTest, SavingAPartWhoseNameIsNotUtf8WritesTheUsersFile)
{
    const QByteArray file = folder() + "/caf\xe9.qcpart";
    saveBoxPart(file, QStringLiteral("Quader"));
    openAsGiven(file);
    ASSERT_EQ(window.controller->document->features.size(), 1u);
    // The title names the file as the user wrote it, not the link that reaches it.
    EXPECT_TRUE(window.windowTitle().startsWith(QStringLiteral("café")))
        << window.windowTitle().toStdString();
    const mode_t rights = 0640;
    ASSERT_EQ(::chmod(file.constData(), rights), 0);

    window.controller->document
        ->addFeature(QStringLiteral("cylinder"),
                     QJsonObject{{"diameter", "8 mm"}, {"height", "50 mm"}})
        ->name
        = QStringLiteral("Bolzen");
    window.controller->commit(QStringLiteral("Zylinder"));
    ASSERT_TRUE(window.controller->modified);

    {
        QObject watching; // a message would say why the save went wrong
        const auto boxShown
            = whenShown<QMessageBox>([](QMessageBox* box) { box->close(); }, &watching);
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier);
        QTest::qWait(200);
        EXPECT_FALSE(*boxShown);
    }
    EXPECT_FALSE(window.controller->modified);
    EXPECT_EQ(featureNames(readBytes(file)),
              (QStringList{QStringLiteral("Quader"), QStringLiteral("Bolzen")}));
    EXPECT_EQ(namesIn(folder()), std::set<std::string>{"caf\xe9.qcpart"});
    struct stat status { };
    ASSERT_EQ(::stat(file.constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, rights) << "the save keeps the file's access rights";

    // Saved again it is still the one file; so is a save after the file was made read-only,
    // which is refused and leaves it.
    ASSERT_TRUE(window.save());
    ASSERT_EQ(::chmod(file.constData(), 0440), 0);
    window.controller->document->features.back()->name = QStringLiteral("Stift");
    window.controller->commit(QStringLiteral("Umbenennen"));
    if (::geteuid() != 0) { // the administrator writes into read-only files
        QObject watching;
        const auto warned
            = whenShown<QMessageBox>([](QMessageBox* box) { box->accept(); }, &watching);
        EXPECT_FALSE(window.save());
        EXPECT_TRUE(*warned);
        EXPECT_EQ(featureNames(readBytes(file)),
                  (QStringList{QStringLiteral("Quader"), QStringLiteral("Bolzen")}));
    } else {
        EXPECT_TRUE(window.save());
    }
    EXPECT_EQ(namesIn(folder()), std::set<std::string>{"caf\xe9.qcpart"});
    window.controller->document->features.back()->name = QStringLiteral("Zapfen");
    window.controller->commit(QStringLiteral("Umbenennen"));

    // A folder gone while the part is open: the message names it as the user knows it.
    const QByteArray away = folder() + "-weg";
    ASSERT_EQ(::rename(folder().constData(), away.constData()), 0);
    QString said;
    QObject watching;
    whenShown<QMessageBox>(
        [&said](QMessageBox* box) {
            said = box->text();
            box->accept();
        },
        &watching);
    EXPECT_FALSE(window.save());
    ASSERT_EQ(::rename(away.constData(), folder().constData()), 0);
    EXPECT_TRUE(said.contains(
        QStringLiteral("Der Ordner „%1“ existiert nicht").arg(qor::io::shownName(folder()))))
        << said.toStdString();
}

// An assembly with a Latin-1 name finds the part its relative path names beside it, and
// shows it.
TEST_F(FileNamesTest, AssemblyWhoseNameIsNotUtf8ShowsThePartBesideIt)
{
    saveBoxPart(folder() + "/H-box.qcpart", QStringLiteral("Quader"));
    const QByteArray assembly = folder() + "/gr\xfcppe.qcasm";
    saveAssemblyOf(assembly, QStringLiteral("H-box.qcpart"));
    openAsGiven(assembly);

    const qor::model::Document& document = *window.controller->document;
    ASSERT_EQ(document.components.size(), 1u);
    EXPECT_EQ(document.components.front().status, QString());
    const int bodyId = 100000000 + 1 * 1000;
    ASSERT_EQ(document.current.bodies.get().size(), 1u);
    EXPECT_EQ(document.current.bodies.get().begin()->first, bodyId);
    EXPECT_FALSE(window.scene->bodyObject(bodyId).IsNull());
}

// The recent list names the real file, which the menu entry opens again once the link that
// stood in for it is gone.
TEST_F(FileNamesTest, RecentListNamesTheRealFileAndOpensItAgain)
{
    const QByteArray file = folder() + "/caf\xe9.qcpart";
    saveBoxPart(file, QStringLiteral("Quader"));
    openAsGiven(file);
    ASSERT_FALSE(window.recent.isEmpty());
    EXPECT_EQ(entryBytes(window.recent.first()), file);
    EXPECT_EQ(QSettings().value(QStringLiteral("recent")).toStringList().value(0),
              window.recent.first());

    // A new window reads the list from the settings, with no link of this run.
    MainWindow later;
    later.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&later));
    later.rebuildRecentMenu();
    QAction* entry = later.recentMenu->actions().value(0);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->text(), QStringLiteral("caf\u00E9.qcpart"));
    QObject watching;
    const auto boxShown = whenShown<QMessageBox>([](QMessageBox* box) { box->close(); }, &watching);
    entry->trigger();
    QTest::qWait(100);
    EXPECT_FALSE(*boxShown);
    ASSERT_EQ(later.controller->document->features.size(), 1u);
    EXPECT_EQ(later.controller->document->features.front()->name, QStringLiteral("Quader"));
}

// Save as, export, the drawing export and the bill of materials ask nothing about a named
// pipe under the chosen name: they refuse it at once and leave it. An ordinary file there is
// still asked about.
TEST_F(FileNamesTest, SavingOntoAPipeIsRefusedBeforeAnyQuestion)
{
    window.createExample(QStringLiteral("bracket"));
    qor::app::DrawingWindow* drawing = window.openDrawing();
    ASSERT_NE(drawing, nullptr);
    qor::app::BomDialog bom(window.controller, &window);
    const QString failed = QStringLiteral("Speichern fehlgeschlagen:\n");
    enum class Way { SaveAs, Export, Drawing, Bom };
    const struct {
        const char* file;
        bool pipe;
        Way way;
        QString warning; // empty: written after the question
    } cases[] = {
        {"rohr.qcpart", true, Way::SaveAs,
         failed + "„rohr.qcpart“ ist eine benannte Pipe und wird nicht überschrieben"},
        {"rohr.step", true, Way::Export,
         "„rohr.step“ ist eine benannte Pipe und wird nicht überschrieben"},
        {"rohr.pdf", true, Way::Drawing,
         "„rohr.pdf“ ist eine benannte Pipe und wird nicht überschrieben"},
        {"rohr.csv", true, Way::Bom,
         "„rohr.csv“ ist eine benannte Pipe und wird nicht überschrieben"},
        {"alt.qcpart", false, Way::SaveAs, {}},
        {"alt.step", false, Way::Export, {}},
        {"alt.pdf", false, Way::Drawing, {}},
        {"alt.csv", false, Way::Bom, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const QString path = dir.filePath(QString::fromLatin1(c.file));
        if (c.pipe)
            ASSERT_TRUE(qor::test::makePipe(path));
        else {
            QFile old(path);
            ASSERT_TRUE(old.open(QIODevice::WriteOnly));
            old.write("alt");
        }
        // A question is answered yes, so that the command goes on.
        const qor::test::AnsweredBoxes answers;
        const auto dialog = whenShown<QFileDialog>([&](QFileDialog* d) {
            d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
            QMetaObject::invokeMethod(d, "accept");
        });
        switch (c.way) {
        case Way::SaveAs: window.saveAs(); break;
        case Way::Export: window.exportBodies(); break;
        case Way::Drawing: drawing->exportDrawing(); break;
        case Way::Bom: bom.saveCsv(); break;
        }
        EXPECT_TRUE(*dialog);
        EXPECT_EQ(answers.texts, c.warning.isEmpty() ? QStringList() : QStringList{c.warning});
        EXPECT_EQ(answers.questions, c.pipe ? 0 : 1);
        if (c.pipe) {
            EXPECT_EQ(qor::test::nodeOf(path).first, mode_t(S_IFIFO));
        } else {
            QFile written(path);
            ASSERT_TRUE(written.open(QIODevice::ReadOnly));
            EXPECT_GT(written.size(), 20) << "the old file was replaced";
        }
    }
    window.controller->path.clear();
}

// Open, import, insert component, the drawing export and the bill of materials start in the
// home folder while no folder was chosen yet, not in whatever folder the program was started
// from.
TEST_F(FileNamesTest, FileDialogsStartInTheHomeFolderWithFreshSettings)
{
    QSettings().remove(QStringLiteral("lastDir"));
    QTemporaryDir started;
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(started.path()));
    ASSERT_NE(QDir::cleanPath(QDir::homePath()), QDir::cleanPath(started.path()));
    window.createExample(QStringLiteral("bracket"));
    window.controller->modified = false;
    const std::pair<const char*, std::function<void()>> ways[] = {
        {"Öffnen", [&] { window.openWithDialog(); }},
        {"Importieren", [&] { window.importFile({}); }},
        {"Komponente einfügen", [&] { window.insertComponent({}); }},
        {"Stückliste speichern",
         [&] { qor::app::BomDialog(window.controller, &window).saveCsv(); }},
        {"Zeichnung exportieren", [&] { window.openDrawing()->exportDrawing(); }},
    };
    for (const auto& [name, run] : ways) {
        SCOPED_TRACE(name);
        QString shownFolder;
        const auto dialog = whenShown<QFileDialog>([&](QFileDialog* d) {
            shownFolder = d->directory().absolutePath();
            d->reject();
        });
        run();
        EXPECT_TRUE(*dialog);
        EXPECT_EQ(QDir::cleanPath(shownFolder), QDir::cleanPath(QDir::homePath()));
    }
    EXPECT_FALSE(QSettings().contains(QStringLiteral("lastDir")));
    QDir::setCurrent(before);
}

// Files dropped on the window whose names are not UTF-8 are opened, or imported, by the
// bytes their addresses carry.
TEST_F(FileNamesTest, DroppedFilesWhoseNamesAreNotUtf8OpenAndImport)
{
    const QByteArray part = folder() + "/caf\xe9.qcpart";
    saveBoxPart(part, QStringLiteral("Quader"));
    const QByteArray mesh = folder() + "/w\xfcrfel.stl";
    {
        std::ofstream file(mesh.toStdString(), std::ios::binary);
        const QByteArray stl = qor::fixtures::binaryStl(qor::fixtures::tetrahedron(-10), 4);
        file.write(stl.constData(), stl.size());
    }
    const struct {
        QByteArray file;
        QStringList features; // the document's after the drop
    } cases[] = {
        {part, {QStringLiteral("Quader")}},
        {mesh, {QStringLiteral("Quader"), QStringLiteral("w\uFFFDrfel")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        QMimeData data;
        data.setUrls({QUrl::fromEncoded("file://" + c.file.toPercentEncoding("/"))});
        // As a drag ends: the window takes the drag as it enters, then the drop.
        const QPoint middle(window.width() / 2, window.height() / 2);
        QDragEnterEvent enter(middle, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent drop(middle, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        // A message or an import report would say the file was not found.
        QObject watching;
        QStringList said;
        whenShown<QMessageBox>(
            [&](QMessageBox* box) {
                said << qor::app::dialogText(*box);
                box->close();
            },
            &watching);
        whenShown<qor::app::ImportInfoDialog>(
            [&](qor::app::ImportInfoDialog* report) {
                said << qor::app::dialogText(*report);
                report->reject();
            },
            &watching);
        QApplication::sendEvent(&window, &drop);
        QTest::qWait(100);
        EXPECT_EQ(said.join(u'\n').toStdString(), "");
        QStringList names;
        for (const auto& feature : window.controller->document->features)
            names << feature->name;
        EXPECT_EQ(names, c.features);
    }
    EXPECT_EQ(window.controller->document->current.bodies.get().size(), 2u);
}

// A screenshot run of a file whose name is not text leaves no private folder of links in
// the temporary folder: the run ends without unwinding.
TEST(FileNamesProgram, ScreenshotRunLeavesNoLinkFolderBehind)
{
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path());
    saveBoxPart(folder + "/caf\xe9.qcpart", QStringLiteral("Quader"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("tmp")));
    const QString image = dir.filePath(QStringLiteral("bild.png"));
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("TMPDIR"), dir.filePath(QStringLiteral("tmp")));
    program.setProcessEnvironment(environment);
    // The shell passes the bytes on unchanged; a text argument would not.
    program.start(QStringLiteral("/bin/sh"),
                  {QStringLiteral("-c"),
                   QStringLiteral("exec \"$0\" \"$(printf '%s/caf\\351.qcpart' \"$1\")\" "
                                  "--screenshot \"$1/bild.png\" --size 400x300"),
                   QStringLiteral(QOR_TEST_OUTPUT "/qorcad"), dir.path()});
    ASSERT_TRUE(program.waitForFinished(qor::test::childGuardMs));
    EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().constData();
    EXPECT_TRUE(QFile::exists(image));
    EXPECT_EQ(QDir(dir.filePath(QStringLiteral("tmp")))
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
              QStringList());
    std::filesystem::remove_all(folder.toStdString());
}

} // namespace
