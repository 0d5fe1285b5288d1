#include "app/MainWindow.h"
#include "app/shell/Browser.h"
#include "app/shell/Ribbon.h"
#include "app/shell/Timeline.h"
#include "model/DocumentController.h"
#include "panels/CommandPanel.h"
#include "tests/common/ChildGuard.h"
#include "tests/common/WhenShown.h"
#include "tests/fixtures/ManyBoxes.h"
#include "tests/fixtures/SpecialFiles.h"
#include "tests/gl/BoxPartFile.h"
#include "ui/theme/Theme.h"
#include "view/Viewer.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontInfo>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <algorithm>

using qor::app::MainWindow;

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    MainWindow window;
};

TEST_F(MainWindowTest, LayoutMembersExistAndHoldTheView)
{
    for (const QObject* member : std::initializer_list<const QObject*>{
             window.controller, window.viewer, window.ribbon, window.browser, window.timeline,
             window.floatingBar, window.orbitButton, window.sketchHud, window.hudLabel,
             window.toast, window.docTitleLabel, window.statusLabel, window.statusRight,
             window.unitBadge})
        EXPECT_NE(member, nullptr);
    EXPECT_EQ(window.viewer->parentWidget(), window.viewport);
    EXPECT_EQ(window.floatingBar->parentWidget(), window.viewport);
    EXPECT_EQ(window.statusLabel->text(), QStringLiteral("Bereit"));
    EXPECT_FALSE(window.sketchHud->isVisible());
    EXPECT_FALSE(window.toast->isVisible());
    EXPECT_TRUE(window.orbitButton->toolTip().contains(QLatin1Char('\n')));
}

TEST_F(MainWindowTest, TitleFollowsCommitsAndShowsNamesLiterally)
{
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Unbenannt – QorCAD"));
    window.controller->document->addFeature(QStringLiteral("box"));
    window.controller->commit(QStringLiteral("Quader"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Unbenannt * – QorCAD"));
    EXPECT_TRUE(window.docTitleLabel->text().endsWith(QStringLiteral("Unbenannt</span> •")));

    window.controller->document->name = QStringLiteral("<a&b>");
    window.updateTitle();
    EXPECT_TRUE(window.docTitleLabel->text().contains(QStringLiteral("&lt;a&amp;b&gt;")));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("<a&b> * – QorCAD"));
}

TEST_F(MainWindowTest, BadgeCountsFailingFeatures)
{
    auto& document = *window.controller->document;
    document.addFeature(QStringLiteral("box"), {{QStringLiteral("length"), QStringLiteral("-5")}});
    document.addFeature(QStringLiteral("box"), {{QStringLiteral("height"), QStringLiteral("0")}});
    window.controller->recompute();
    EXPECT_EQ(window.unitBadge->text(), QStringLiteral("2 Fehler"));
    EXPECT_EQ(window.unitBadge->objectName(), QStringLiteral("BadgeDanger"));

    document.features.clear();
    window.controller->recompute();
    EXPECT_EQ(window.unitBadge->text(), QStringLiteral("mm · g"));
    EXPECT_EQ(window.unitBadge->objectName(), QStringLiteral("Badge"));
}

TEST_F(MainWindowTest, ToastTakesColourAndDurationFromTheLastCall)
{
    struct Step {
        bool error;
        int durationMs;
        const char* border;
    };
    for (const Step& step : {Step{false, 2800, "#00e5ff"}, Step{true, 4200, "#ff4d6d"},
                             Step{false, 2800, "#00e5ff"}}) {
        window.showToast(QStringLiteral("Gespeichert"), step.error);
        EXPECT_TRUE(window.toast->isVisible());
        EXPECT_TRUE(window.toastTimer->isActive());
        EXPECT_EQ(window.toastTimer->interval(), step.durationMs);
        EXPECT_TRUE(window.toast->styleSheet().contains(QLatin1String(step.border)));
        EXPECT_EQ(window.toast->y(), 18);
        EXPECT_EQ(window.toast->x(), (window.viewport->width() - window.toast->width()) / 2);
    }
    window.showToast(QString(80, QLatin1Char('W')) + QStringLiteral(" ") + QString(80, 'W'), false);
    EXPECT_LE(window.toast->findChild<QLabel*>()->width(), 560);
}

TEST_F(MainWindowTest, ResizingTheViewportPlacesTheFloatingBarAndThePanel)
{
    for (const int width : {900, 300}) {
        window.viewport->resize(width, 500);
        const QFrame* bar = window.floatingBar;
        EXPECT_EQ(bar->x(), (width - bar->width()) / 2);
        EXPECT_EQ(bar->y(), 500 - bar->height() - 14);
    }
    EXPECT_LT(window.floatingBar->x(), 0); // narrower than the bar: centred, not clamped

    // The feature panel follows the view's height between 260 and 640 px.
    for (const auto& [viewHeight, panelHeight] : {std::pair{200, 260}, {1000, 640}, {500, 472}}) {
        window.viewport->resize(900, viewHeight);
        EXPECT_EQ(window.commandPanel->height(), panelHeight) << viewHeight;
    }
}

// On a 1280 x 800 window the open feature panel reaches down to the view bar: the bar moves to
// its right and returns to the centre when the panel closes.
TEST_F(MainWindowTest, OpenFeaturePanelLeavesTheViewBarFree)
{
    window.resize(1280, 800);
    QApplication::processEvents();
    const QFrame* bar = window.floatingBar;
    const int centred = (window.viewport->width() - bar->width()) / 2;
    EXPECT_EQ(bar->x(), centred);
    window.createFeature(QStringLiteral("box"), {});
    ASSERT_TRUE(window.commandPanel->isVisible());
    EXPECT_GT(window.commandPanel->geometry().bottom(), bar->y());
    EXPECT_FALSE(window.commandPanel->geometry().intersects(bar->geometry()));
    EXPECT_LE(bar->geometry().right(), window.viewport->width());
    window.commandPanel->cancel();
    EXPECT_EQ(bar->x(), centred);
}

// Texts narrower than the limit stay on one line; only longer ones wrap.
TEST_F(MainWindowTest, ShortToastsStayOnOneLine)
{
    const auto* label = window.toast->findChild<QLabel*>();
    const int line = label->fontMetrics().lineSpacing();
    for (const QString& text :
         {QStringLiteral("Gespeichert"), QStringLiteral("Skizze geschlossen – 3 Profile erkannt"),
          QStringLiteral("Zuerst eine Komponente im Modell oder Browser wählen")}) {
        window.showToast(text, false);
        EXPECT_LT(label->height(), 2 * line) << text.toStdString();
        EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(text));
    }
    window.showToast(QString(120, QLatin1Char('W')) + QStringLiteral(" Ende"), false);
    EXPECT_GE(label->height(), 2 * line);
}

// Every widget of the window, styled as the program styles it, draws with a bundled family.
TEST_F(MainWindowTest, EveryWidgetUsesABundledFont)
{
    const qor::app::Theme& theme = qor::app::Theme::instance();
    int checked = 0;
    for (const QWidget* widget : window.findChildren<QWidget*>()) {
        if (!widget->isVisible())
            continue;
        const QString family = QFontInfo(widget->font()).family();
        EXPECT_TRUE(family == theme.uiFamily || family == theme.monoFamily)
            << widget->metaObject()->className() << " " << widget->objectName().toStdString()
            << ": " << family.toStdString();
        ++checked;
    }
    EXPECT_GT(checked, 50);
}

// Accepts the next file dialog with the file it proposes, or cancels it.
void answerFileDialog(bool accept)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, accept] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QFileDialog*>(widget);
            if (dialog == nullptr || !dialog->isVisible())
                continue;
            QMetaObject::invokeMethod(dialog, accept ? "accept" : "reject");
            poll->deleteLater();
            return;
        }
    });
    poll->start(50);
}

TEST_F(MainWindowTest, SaveImageWritesTheChosenSizeOrTheViewAsShown)
{
    QTemporaryDir dir;
    QSettings().setValue(QStringLiteral("lastDir"), dir.path());
    const QString path = dir.filePath(QStringLiteral("Unbenannt.png"));
    QComboBox sizes;
    sizes.addItem(QStringLiteral("640 × 480"), QSize(640, 480));
    sizes.addItem(QStringLiteral("Ansicht"), QSize());
    const QSize onScreen = window.viewer->size() * window.viewer->devicePixelRatio();
    for (const auto& [entry, expected] : {std::pair{0, QSize(640, 480)}, {1, onScreen}}) {
        QFile::remove(path);
        sizes.setCurrentIndex(entry);
        answerFileDialog(true);
        window.saveImage(&window, sizes);
        EXPECT_EQ(QImage(path).size(), expected);
        EXPECT_EQ(window.toast->findChild<QLabel*>()->text(),
                  QStringLiteral("Gespeichert: Unbenannt.png (%1 × %2)")
                      .arg(expected.width())
                      .arg(expected.height()));
    }

    // A named pipe under the chosen name is named in the toast and stays a pipe.
    QFile::remove(path);
    ASSERT_TRUE(qor::test::makePipe(path));
    QObject answering;
    qor::test::confirmReplacing(&answering);
    answerFileDialog(true);
    window.saveImage(&window, sizes);
    EXPECT_EQ(
        window.toast->findChild<QLabel*>()->text(),
        QStringLiteral("„Unbenannt.png“ ist eine benannte Pipe und wird nicht überschrieben"));
    EXPECT_EQ(qor::test::nodeOf(path).first, mode_t(S_IFIFO));

    QFile::remove(path);
    QSettings().remove(QStringLiteral("lastDir"));
    answerFileDialog(false);
    window.saveImage(&window, sizes);
    EXPECT_FALSE(QSettings().contains(QStringLiteral("lastDir")));
    EXPECT_FALSE(QFile::exists(path));
}

// The view rows are a vertical gradient: a row whose greys spread widely shows the model.
bool viewShowsModel(const QImage& image, const QRect& view)
{
    for (int y = view.top(); y <= view.bottom(); y += 4) {
        int low = 255;
        int high = 0;
        for (int x = view.left(); x <= view.right(); ++x) {
            low = std::min(low, qGray(image.pixel(x, y)));
            high = std::max(high, qGray(image.pixel(x, y)));
        }
        if (high - low > 40)
            return true;
    }
    return false;
}

TEST(MainWindowProgram, ScreenshotRunOpensThePartFileAndSavesTheWindowWithTheModel)
{
    QTemporaryDir dir;
    const QString part = dir.filePath(QStringLiteral("box.qcpart"));
    ASSERT_TRUE(qor::test::saveBoxPart(part));
    const QString shot = dir.filePath(QStringLiteral("shot.png"));
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(QOR_TEST_OUTPUT "/qorcad"),
                  {part, QStringLiteral("--screenshot"), shot, QStringLiteral("--size"),
                   QStringLiteral("1280x800")});
    ASSERT_TRUE(program.waitForFinished(qor::test::childGuardMs));
    ASSERT_EQ(program.exitCode(), 0) << program.readAllStandardError().constData();

    const QSettings settings(dir.filePath(QStringLiteral("config/Tarnwick/QorCAD.conf")),
                             QSettings::IniFormat);
    EXPECT_EQ(settings.value(QStringLiteral("recent")).toStringList(), QStringList{part});

    const QImage image(shot);
    ASSERT_EQ(image.size(), QSize(1280, 800));
    // The centre of the view, clear of the view cube and the floating bar.
    EXPECT_TRUE(viewShowsModel(image, QRect(500, 300, 500, 280)));
}

// A screenshot run of the program: its exit status, standard error and picture.
struct ScreenshotRun {
    int exitCode = -1;
    QString errors;
    QImage image;
};

// Runs the program unattended and reads the picture it was to write.
ScreenshotRun runUnattended(const QTemporaryDir& dir, const QStringList& arguments,
                            const QString& picture)
{
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(QOR_TEST_OUTPUT "/qorcad"), arguments);
    // Only against a hang: the run waits for its work, however long that takes.
    if (!program.waitForFinished(qor::test::childGuardMs)) {
        program.kill();
        program.waitForFinished();
        return {};
    }
    return {program.exitCode(), QString::fromLocal8Bit(program.readAllStandardError()),
            QImage(picture)};
}

ScreenshotRun runScreenshot(const QTemporaryDir& dir, QStringList arguments, const QString& name)
{
    const QString shot = dir.filePath(name);
    arguments << QStringLiteral("--screenshot") << shot << QStringLiteral("--size")
              << QStringLiteral("1280x800");
    return runUnattended(dir, arguments, shot);
}

// The share of the region's pixels that pass the test.
template <typename Test> double pixelShare(const QImage& image, const QRect& region, Test test)
{
    int passing = 0;
    for (int y = region.top(); y <= region.bottom(); ++y) {
        for (int x = region.left(); x <= region.right(); ++x)
            passing += test(image.pixel(x, y)) ? 1 : 0;
    }
    return double(passing) / double(region.width() * region.height());
}

// The bodies' light blue-grey faces over the dark view.
bool modelColoured(QRgb pixel)
{
    return qGray(pixel) > 120 && qBlue(pixel) >= qRed(pixel);
}

// A file that takes longer to import than the window takes to show: the picture comes once
// the bodies are in the view, and with the drawing once the drawing window shows their views.
TEST(MainWindowProgram, ScreenshotWaitsForTheFileAndTheDrawing)
{
    const QString casing
        = QDir(QStringLiteral(QOR_READER_FILES)).filePath(QStringLiteral("Casing_v4.f3z"));
    if (!QFileInfo::exists(casing))
        GTEST_SKIP() << "Casing_v4.f3z is not at hand";
    QTemporaryDir dir;

    const ScreenshotRun view = runScreenshot(dir, {casing}, QStringLiteral("ansicht.png"));
    ASSERT_EQ(view.exitCode, 0) << view.errors.toStdString();
    ASSERT_EQ(view.image.size(), QSize(1280, 800));
    // The middle of the view, below the toast and clear of the view cube and the view bar.
    EXPECT_GT(pixelShare(view.image, QRect(560, 330, 400, 260), modelColoured), 0.3);

    const ScreenshotRun drawing = runScreenshot(dir, {casing, QStringLiteral("--drawing")},
                                                QStringLiteral("zeichnung.png"));
    ASSERT_EQ(drawing.exitCode, 0) << drawing.errors.toStdString();
    ASSERT_EQ(drawing.image.size(), QSize(1280, 800));
    // The sheet's left part, where the first views stand: white paper with their lines.
    const QRect views(230, 150, 520, 480);
    EXPECT_GT(pixelShare(drawing.image, views, [](QRgb p) { return qGray(p) > 230; }), 0.6);
    EXPECT_GT(pixelShare(drawing.image, views, [](QRgb p) { return qGray(p) < 100; }), 0.02);
}

// The same wait on a file of the test's own, in every run: 1,100 boxes of shapes of their own
// take longer to read and show than the window takes to draw its first frame, so a picture
// taken on a timer would show an empty view and no drawing.
TEST(MainWindowProgram, ScreenshotWaitsForAGeneratedFileAndItsDrawing)
{
    QTemporaryDir dir;
    const QString boxes = dir.filePath(QStringLiteral("kisten.step"));
    QFile file(boxes);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(qor::fixtures::stepManyBoxes(1100));
    file.close();

    const ScreenshotRun view = runScreenshot(dir, {boxes}, QStringLiteral("ansicht.png"));
    ASSERT_EQ(view.exitCode, 0) << view.errors.toStdString();
    ASSERT_EQ(view.image.size(), QSize(1280, 800));
    view.image.save(QStringLiteral(QOR_TEST_OUTPUT "/kisten-ansicht.png"));
    EXPECT_GT(pixelShare(view.image, QRect(560, 330, 400, 260), modelColoured), 0.3);

    const ScreenshotRun drawing
        = runScreenshot(dir, {boxes, QStringLiteral("--drawing")}, QStringLiteral("zeichnung.png"));
    ASSERT_EQ(drawing.exitCode, 0) << drawing.errors.toStdString();
    ASSERT_EQ(drawing.image.size(), QSize(1280, 800));
    drawing.image.save(QStringLiteral(QOR_TEST_OUTPUT "/kisten-zeichnung.png"));
    const QRect views(230, 150, 520, 480);
    EXPECT_GT(pixelShare(drawing.image, views, [](QRgb p) { return qGray(p) > 230; }), 0.6);
    EXPECT_GT(pixelShare(drawing.image, views, [](QRgb p) { return qGray(p) < 100; }), 0.02);
}

// Nobody answers a message box in a screenshot run: the box is refused, its text goes to
// standard error, and the picture is taken all the same. A file that could not be opened
// ends the run with 1, so that a script sees the failure.
TEST(MainWindowProgram, ScreenshotRunRefusesMessageBoxesAndSaysWhy)
{
    QTemporaryDir dir;
    const QString damaged = dir.filePath(QStringLiteral("kaputt.step"));
    QFile file(damaged);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("ISO-10303-21;\nHEADER;\nDATA;\n#1=NICHTS(;\nENDSEC;\n");
    file.close();
    const struct {
        QString file;
        QString message;
    } cases[] = {
        {dir.filePath(QStringLiteral("fehlt.qcpart")),
         QStringLiteral("QorCAD: Datei konnte nicht geöffnet werden: ")},
        {dir.filePath(QStringLiteral("fehlt.step")), QStringLiteral("QorCAD: ")},
        {damaged, QStringLiteral("QorCAD: ")},
        {dir.filePath(QStringLiteral("teil.xyz")),
         QStringLiteral("QorCAD: Dieses Dateiformat wird nicht unterstützt.")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        QFile::remove(dir.filePath(QStringLiteral("bild.png")));
        const ScreenshotRun run = runScreenshot(dir, {c.file}, QStringLiteral("bild.png"));
        EXPECT_EQ(run.exitCode, 1) << run.errors.toStdString();
        EXPECT_TRUE(run.errors.contains(c.message)) << run.errors.toStdString();
        EXPECT_EQ(run.image.size(), QSize(1280, 800));
    }
    // An option naming nothing there is takes its picture and ends with 1, saying what.
    const struct {
        QStringList arguments;
        QString message;
    } refused[] = {
        {{"--demo", "foo"}, "QorCAD: Kein Beispiel „foo“ (bracket, flange, housing)"},
        {{"--demo", "bracket", "--command", "f_extrude"}, "QorCAD: Unbekannter Befehl „f_extrude“"},
        {{"--demo", "bracket", "--command", "edit:40"}, "QorCAD: Unbekannter Befehl „edit:40“"},
        {{"--demo", "bracket", "--edit-sketch", "9"}, "QorCAD: Keine Skizze Nummer „9“"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const ScreenshotRun run = runScreenshot(dir, c.arguments, QStringLiteral("option.png"));
        EXPECT_EQ(run.exitCode, 1) << run.errors.toStdString();
        EXPECT_TRUE(run.errors.contains(c.message)) << run.errors.toStdString();
        EXPECT_EQ(run.image.size(), QSize(1280, 800));
    }
    // A file that opens leaves the status at 0, as do a known command and sketch.
    const ScreenshotRun known
        = runScreenshot(dir, {"--demo", "bracket", "--edit-sketch", "1", "--command", "extrude"},
                        QStringLiteral("bekannt.png"));
    EXPECT_EQ(known.exitCode, 0) << known.errors.toStdString();
    const ScreenshotRun demo = runScreenshot(
        dir, {QStringLiteral("--demo"), QStringLiteral("bracket")}, QStringLiteral("demo.png"));
    EXPECT_EQ(demo.exitCode, 0) << demo.errors.toStdString();
    EXPECT_EQ(demo.image.size(), QSize(1280, 800));

    // A render run writes its picture and ends with 1 all the same.
    const QString rendered = dir.filePath(QStringLiteral("render.png"));
    const ScreenshotRun render
        = runUnattended(dir,
                        {dir.filePath(QStringLiteral("fehlt.qcpart")), QStringLiteral("--render"),
                         QStringLiteral("0:320x200:") + rendered},
                        rendered);
    EXPECT_EQ(render.exitCode, 1) << render.errors.toStdString();
    EXPECT_TRUE(render.errors.contains(QStringLiteral("Datei konnte nicht geöffnet werden")))
        << render.errors.toStdString();
    EXPECT_EQ(render.image.size(), QSize(320, 200));
}

} // namespace
