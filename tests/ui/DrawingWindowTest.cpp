#include "drawing/window/DrawingWindow.h"
#include "app/Examples.h"
#include "drawing/window/HintLabel.h"
#include "drawing/window/SheetCanvas.h"
#include "model/DocumentController.h"
#include "tests/common/DxfAudit.h"
#include "tests/common/PdfInfo.h"
#include "tests/common/WhenShown.h"
#include "tests/fixtures/SpecialFiles.h"
#include "tests/ui/ShellDocument.h"
#include "ui/Settings.h"

#include <QApplication>
#include <QComboBox>
#include <QDate>
#include <QLabel>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <functional>
#include <sys/resource.h>

namespace {

using qor::app::Drawing;

class DrawingWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qor::app::buildExample(controller, QStringLiteral("bracket"));
        window = new qor::app::DrawingWindow(&controller, 0);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    }
    void TearDown() override { delete window; }

    Drawing& sheet() { return window->sheet(); }
    const Drawing::View& view(int type)
    {
        return *std::find_if(sheet().views.begin(), sheet().views.end(),
                             [type](const Drawing::View& v) { return v.type == type; });
    }
    const qor::app::ProjectedView& projection(const Drawing::View& v)
    {
        return window->projections.projectedView(*controller.document, sheet(), v);
    }
    // Canvas pixel of a view-local point.
    QPoint pixelOf(const Drawing::View& v, QPointF local)
    {
        const QPointF s = qor::app::viewToSheet(sheet(), v, projection(v), local.x(), local.y());
        return window->canvas->sheetTransform().map(s).toPoint();
    }
    QPoint pixelOfSheet(QPointF s) { return window->canvas->sheetTransform().map(s).toPoint(); }
    void press(const QString& text)
    {
        for (QToolButton* b : window->findChildren<QToolButton*>())
            if (b->text() == text)
                b->click();
    }
    void click(QPoint p) { QTest::mouseClick(window->canvas, Qt::LeftButton, {}, p); }
    int steps() const { return controller.index; }
    QString lastLabel() const { return controller.history[std::size_t(controller.index)].label; }

    qor::app::DocumentController controller;
    qor::app::DrawingWindow* window = nullptr;
};

TEST_F(DrawingWindowTest, OpensOnTheDefaultArrangementWithTitleAndAutomaticDimensions)
{
    ASSERT_EQ(sheet().views.size(), 4u);
    const int types[] = {0, 1, 3, 6};
    for (std::size_t i = 0; i < 4; ++i) {
        const Drawing::View& v = sheet().views[i];
        EXPECT_EQ(v.id, int(i) + 1);
        EXPECT_EQ(v.type, types[i]);
        EXPECT_EQ(v.hidden, v.type != 6);
        EXPECT_EQ(v.center, v.type != 6);
    }
    EXPECT_EQ(sheet().scale, 1.0);
    EXPECT_EQ(window->scaleCombo->currentText(), QStringLiteral("1:1"));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Zeichnung – Lagerbock – QorCAD"));
    const std::map<QString, QString> expected{
        {QStringLiteral("Maßstab"), QStringLiteral("1:1")},
        {QStringLiteral("Firma"), QStringLiteral("Tarnwick")},
        {QStringLiteral("Datum"), QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy"))},
        {QStringLiteral("Werkstoff"), QStringLiteral("Aluminium")}};
    for (const auto& [key, value] : expected)
        EXPECT_EQ(sheet().title[key], value) << key.toStdString();

    const int before = steps();
    press(QStringLiteral("Auto-Maße"));
    EXPECT_EQ(steps(), before + 1);
    EXPECT_EQ(lastLabel(), QStringLiteral("Automatisch bemaßen"));
    int horizontal = 0;
    int vertical = 0;
    for (const Drawing::Dim& d : sheet().dims) {
        horizontal += d.kind == 0;
        vertical += d.kind == 1;
        EXPECT_NE(d.view, 4) << "the isometric view gets no dimensions";
    }
    EXPECT_EQ(horizontal, 2); // front and top; the left view has only its height
    EXPECT_EQ(vertical, 3);
    qor::test::saveShot(*window, QStringLiteral("drawing-window.png"));
}

TEST_F(DrawingWindowTest, HiddenLinesAndSectionToggles)
{
    const int before = steps();
    press(QStringLiteral("Verdeckt"));
    for (const Drawing::View& v : sheet().views)
        EXPECT_FALSE(v.hidden);
    press(QStringLiteral("Verdeckt"));
    for (const Drawing::View& v : sheet().views)
        EXPECT_TRUE(v.hidden) << "type " << v.type;
    EXPECT_EQ(steps(), before + 2);

    press(QStringLiteral("Schnitt"));
    EXPECT_TRUE(view(0).section);
    EXPECT_EQ(lastLabel(), QStringLiteral("Schnittansicht"));

    window->selectedView = view(6).id;
    press(QStringLiteral("Schnitt"));
    EXPECT_EQ(steps(), before + 3);
    EXPECT_FALSE(view(6).section);
    EXPECT_EQ(
        window->hintLabel->text(),
        QStringLiteral("Für einen Schnitt eine Normalansicht (nicht die Isometrie) auswählen"));
}

TEST_F(DrawingWindowTest, WheelZoomClampsAndKeepsTheSheetPointUnderTheCursor)
{
    qor::app::SheetCanvas* canvas = window->canvas;
    const QPointF cursor(300, 200);
    const QPointF under = canvas->sheetPoint(cursor);
    for (int notches : {40, -80}) {
        for (int i = 0; i < std::abs(notches); ++i) {
            const QPoint delta(0, notches > 0 ? 120 : -120);
            QWheelEvent wheel(cursor, canvas->mapToGlobal(cursor), {}, delta, Qt::NoButton, {},
                              Qt::NoScrollPhase, false);
            QApplication::sendEvent(canvas, &wheel);
        }
        EXPECT_EQ(canvas->zoom(),
                  notches > 0 ? qor::app::SheetCanvas::maxZoom : qor::app::SheetCanvas::minZoom);
        EXPECT_NEAR(canvas->sheetPoint(cursor).x(), under.x(), 1e-6);
        EXPECT_NEAR(canvas->sheetPoint(cursor).y(), under.y(), 1e-6);
    }
}

TEST_F(DrawingWindowTest, DragMovesAViewAndDeleteRemovesItWithItsDimensions)
{
    press(QStringLiteral("Auto-Maße"));
    const Drawing::View front = view(0);
    const QPoint start = pixelOfSheet({front.x, front.y});
    const QPoint end = start + QPoint(40, 0);
    QTest::mousePress(window->canvas, Qt::LeftButton, {}, start);
    QMouseEvent move(QEvent::MouseMove, end, window->canvas->mapToGlobal(end), Qt::NoButton,
                     Qt::LeftButton, {});
    QApplication::sendEvent(window->canvas, &move);
    const int before = steps();
    QTest::mouseRelease(window->canvas, Qt::LeftButton, {}, end);
    EXPECT_EQ(steps(), before + 1);
    EXPECT_EQ(lastLabel(), QStringLiteral("Ansicht verschieben"));
    EXPECT_NEAR(view(0).x - front.x, 40 / window->canvas->zoom(), 1e-6);
    EXPECT_EQ(window->selectedView, front.id);

    QTest::keyClick(window->canvas, Qt::Key_Delete);
    EXPECT_EQ(steps(), before + 2);
    EXPECT_EQ(lastLabel(), QStringLiteral("Ansicht löschen"));
    EXPECT_EQ(sheet().views.size(), 3u);
    EXPECT_FALSE(sheet().dims.empty());
    for (const Drawing::Dim& d : sheet().dims)
        EXPECT_NE(d.view, front.id);
}

TEST_F(DrawingWindowTest, DimensionToolMakesHorizontalAndDiameterDimensions)
{
    press(QStringLiteral("Bemaßen"));
    ASSERT_EQ(window->tool, 1);
    const Drawing::View& front = view(0);
    const qor::app::ProjectedView& pv = projection(front);
    // The lowest snap points furthest left and right.
    QPointF left(1e9, 1e9);
    QPointF right(-1e9, 1e9);
    for (const gp_Pnt2d& p : pv.snapPoints) {
        const QPointF q(p.X(), p.Y());
        if (q.y() < left.y() - 1e-9 || (std::abs(q.y() - left.y()) < 1e-9 && q.x() < left.x()))
            left = q;
        if (q.y() < right.y() - 1e-9 || (std::abs(q.y() - right.y()) < 1e-9 && q.x() > right.x()))
            right = q;
    }
    click(pixelOf(front, left));
    click(pixelOf(front, right));
    ASSERT_EQ(window->picks.points.size(), 2u);
    click(pixelOf(front, left) - QPoint(0, 60));
    ASSERT_FALSE(sheet().dims.empty());
    const Drawing::Dim horizontal = sheet().dims.back();
    EXPECT_EQ(horizontal.kind, 0);
    EXPECT_NEAR(horizontal.b[0] - horizontal.a[0], right.x() - left.x(), 1e-6);
    EXPECT_GT(horizontal.offset, 0.0);
    EXPECT_EQ(lastLabel(), QStringLiteral("Bemaßung"));

    // A circle of the top view clicked on its outline, away from every vertex.
    const Drawing::View& top = view(1);
    const qor::app::ProjectedView& tv = projection(top);
    ASSERT_FALSE(tv.circles.empty());
    const qor::app::ProjectedCircle c = tv.circles.front();
    std::optional<QPoint> outline;
    for (int deg = 10; deg < 360 && !outline; deg += 20) {
        const double a = deg * std::numbers::pi / 180.0;
        const QPointF local(c.cx + c.radius * std::cos(a), c.cy + c.radius * std::sin(a));
        const auto near = [&](const gp_Pnt2d& p) {
            return std::hypot(p.X() - local.x(), p.Y() - local.y()) < c.radius / 3;
        };
        const bool nearVertex = std::any_of(tv.snapPoints.begin(), tv.snapPoints.end(), near);
        if (!nearVertex)
            outline = pixelOf(top, local);
    }
    ASSERT_TRUE(outline);
    click(*outline);
    ASSERT_TRUE(window->picks.circle);
    click(*outline + QPoint(40, 40));
    const Drawing::Dim diameter = sheet().dims.back();
    EXPECT_EQ(diameter.kind, 3);
    EXPECT_NEAR(diameter.b[0], c.radius, 1e-6);
    EXPECT_TRUE(diameter.text.startsWith(QLatin1Char('@')));
}

// Undoing the first edit shows the arrangement the window opened with, not a blank sheet: the
// arrangement joined the step the window was opened on instead of making one of its own. One
// more undo goes back before the example, where there is no sheet.
TEST_F(DrawingWindowTest, FirstArrangementJoinsTheStepTheWindowOpenedOn)
{
    EXPECT_EQ(lastLabel(), QStringLiteral("Beispiel"));
    EXPECT_EQ(steps(), 1);
    press(QStringLiteral("Verdeckt"));
    controller.undo();
    EXPECT_EQ(lastLabel(), QStringLiteral("Beispiel"));
    ASSERT_EQ(controller.document->drawings.size(), 1u);
    ASSERT_EQ(sheet().views.size(), 4u);
    for (const Drawing::View& v : sheet().views)
        EXPECT_EQ(v.hidden, v.type != 6);
    EXPECT_EQ(sheet().title[QStringLiteral("Maßstab")], QStringLiteral("1:1"));
    controller.undo();
    EXPECT_TRUE(controller.document->drawings.empty());
}

TEST_F(DrawingWindowTest, TitleScaleFollowsTheSheetThroughUndoAndRedo)
{
    press(QStringLiteral("Auto-Maße"));
    const int half = window->scaleCombo->findData(0.5);
    window->scaleCombo->setCurrentIndex(half);
    emit window->scaleCombo->activated(half);
    EXPECT_EQ(sheet().scale, 0.5);
    EXPECT_EQ(lastLabel(), QStringLiteral("Maßstab ändern"));
    for (auto step : {&qor::app::DocumentController::undo, &qor::app::DocumentController::redo}) {
        (controller.*step)();
        EXPECT_EQ(sheet().title[QStringLiteral("Maßstab")], qor::app::scaleText(sheet().scale));
    }
    EXPECT_EQ(sheet().title[QStringLiteral("Maßstab")], QStringLiteral("1:2"));

    window->formatCombo->setCurrentIndex(window->formatCombo->findData(QStringLiteral("A2")));
    EXPECT_EQ(sheet().format, QStringLiteral("A2"));
    EXPECT_EQ(sheet().scale, 0.5); // the format keeps the scale
    EXPECT_EQ(lastLabel(), QStringLiteral("Blattformat ändern"));
}

TEST_F(DrawingWindowTest, ExportWritesTheChosenFileInTheFilterFormat)
{
    QTemporaryDir dir;
    struct Case {
        QString typed;
        QString filter;
        QString written;
    };
    for (const Case& c : {Case{"blatt", "DXF (*.dxf)", "blatt.dxf"},
                          Case{"blatt.pdf", "PNG 300 dpi (*.png)", "blatt.pdf"}}) {
        window->chooseExportPath = [&](QWidget*, const QString&, QString* filter) {
            *filter = c.filter;
            return dir.filePath(c.typed);
        };
        press(QStringLiteral("Export"));
        EXPECT_EQ(window->hintLabel->text(), QStringLiteral("Exportiert: ") + c.written);
    }
    EXPECT_EQ(QSettings().value(qor::app::settings::lastDir).toString(), dir.path());
    const auto audit = qor::test::auditDxf(dir.filePath(QStringLiteral("blatt.dxf")));
    ASSERT_TRUE(audit.ran) << audit.report.toStdString();
    EXPECT_EQ(audit.errors, 0) << audit.report.toStdString();
    EXPECT_EQ(qor::test::pdfPageSize(dir.filePath(QStringLiteral("blatt.pdf"))), "1191 x 842");
}

// An export onto a named pipe or, as root, a device node warns with the reason and leaves
// the node as it was.
TEST_F(DrawingWindowTest, ExportOntoAPipeOrADeviceWarnsAndKeepsIt)
{
    QTemporaryDir dir;
    const struct {
        const char* name;
        bool (*make)(const QString&);
        const char* kind;
    } cases[] = {{"rohr.dxf", qor::test::makePipe, "eine benannte Pipe"},
                 {"geraet.pdf", qor::test::makeNullDevice, "eine Gerätedatei"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QString::fromLatin1(c.name));
        if (!c.make(path)) {
            ASSERT_NE(::geteuid(), 0u) << "root could not make the node";
            continue; // a device node needs root; the pipe stands in for it
        }
        const auto before = qor::test::nodeOf(path);
        window->chooseExportPath = [&](QWidget*, const QString&, QString* filter) {
            *filter = QStringLiteral("PDF (*.pdf)");
            return path;
        };
        QString warning;
        QTimer::singleShot(0, [&warning] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                warning = box->text();
                box->accept();
            }
        });
        press(QStringLiteral("Export"));
        EXPECT_EQ(warning, QStringLiteral("„%1“ ist %2 und wird nicht überschrieben")
                               .arg(QString::fromLatin1(c.name), QString::fromUtf8(c.kind)));
        EXPECT_EQ(qor::test::nodeOf(path), before);
        EXPECT_FALSE(window->hintLabel->text().startsWith(QStringLiteral("Exportiert")));
    }
}

// An export that stops midway, asked whether to replace the old file and told yes, warns
// and keeps the old file, with no temporary file beside it; the process's file size limit
// (which binds root as well) stops the write here.
TEST_F(DrawingWindowTest, AnExportCutShortWarnsAndKeepsTheOldFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("blatt.pdf"));
    const QByteArray old("%PDF alter Export");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(old);
    }
    window->chooseExportPath = [&](QWidget*, const QString&, QString* filter) {
        *filter = QStringLiteral("PDF (*.pdf)");
        return path;
    };
    const qor::test::AnsweredBoxes answers;
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tight = saved;
    tight.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
    press(QStringLiteral("Export"));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(answers.questions, 1);
    EXPECT_EQ(answers.texts,
              QStringList{QStringLiteral("Die Datei konnte nicht geschrieben werden.")});
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("blatt.pdf")});
    EXPECT_FALSE(window->hintLabel->text().startsWith(QStringLiteral("Exportiert")));
}

// The sheet stays where it is on screen while the hint changes (tools, a refused section,
// an export) in a wide and in a narrow window: the hint keeps to the ribbon's height, cut off
// with its whole text as tooltip where even that is too little, and only the first resize
// fits the sheet.
TEST_F(DrawingWindowTest, TheSheetStaysPutWhileHintsChangeAndTheWindowResizes)
{
    QTemporaryDir dir;
    const qor::test::AnsweredBoxes answers; // the second export replaces the first
    window->chooseExportPath = [&](QWidget*, const QString&, QString* filter) {
        *filter = QStringLiteral("SVG (*.svg)");
        return dir.filePath(QStringLiteral("ein-recht-langer-name-fuer-das-blatt-der-zeichnung"));
    };
    EXPECT_TRUE(window->canvas->fitted());
    const auto sheetCorners = [this] {
        const QSizeF paper = qor::app::paperSize(sheet().format);
        const QTransform t = window->canvas->sheetTransform();
        return std::pair{
            window->canvas->mapTo(window, t.map(QPointF(0, 0)).toPoint()),
            window->canvas->mapTo(window, t.map(QPointF(paper.width(), paper.height())).toPoint())};
    };
    const int line = window->hintLabel->fontMetrics().lineSpacing();
    const double firstZoom = window->canvas->zoom();
    const QPointF firstPan = window->canvas->pan();
    for (const int width : {1400, 760}) {
        SCOPED_TRACE(width);
        window->resize(width, 900);
        QApplication::processEvents();
        EXPECT_EQ(window->canvas->zoom(), firstZoom);
        EXPECT_EQ(window->canvas->pan(), firstPan);
        const auto corners = sheetCorners();
        const double zoom = window->canvas->zoom();
        const std::vector<std::pair<const char*, std::function<void()>>> steps = {
            {"dimension tool", [this] { window->setTool(1); }},
            {"select tool", [this] { window->setTool(0); }},
            {"section refused",
             [this] {
                 window->selectedView = view(6).id;
                 window->toggleSection();
                 window->selectedView = 0;
             }},
            {"export", [this] { press(QStringLiteral("Export")); }},
            {"select tool again", [this] { window->setTool(0); }},
        };
        for (const auto& [name, step] : steps) {
            step();
            QApplication::processEvents();
            EXPECT_EQ(sheetCorners(), corners) << name;
            EXPECT_EQ(window->canvas->zoom(), zoom) << name;
            EXPECT_LE(window->hintLabel->shownLines().size() * line,
                      window->hintLabel->contentsRect().height())
                << name;
            EXPECT_EQ(window->hintLabel->toolTip(), window->hintLabel->text()) << name;
            const QString shown = window->hintLabel->shownText();
            EXPECT_TRUE(shown == window->hintLabel->text() || shown.endsWith(QChar(0x2026)))
                << name << ": " << shown.toStdString();
        }
    }
    // The narrow window cuts the long select hint off.
    EXPECT_NE(window->hintLabel->shownText(), window->hintLabel->text());

    window->resize(1400, 900);
    press(QStringLiteral("Auto-Maße"));
    press(QStringLiteral("Schnitt"));
    EXPECT_TRUE(view(0).section);
    qor::test::saveShot(*window, QStringLiteral("drawing-section.png"));

    // The section cuts the lug with the ⌀32 away: its dimension is neither drawn nor picked.
    const auto hole = std::find_if(sheet().dims.begin(), sheet().dims.end(), [&](const auto& d) {
        return d.view == view(0).id && d.kind == 3 && std::abs(d.b[0] - 16.0) < 1e-6;
    });
    ASSERT_NE(hole, sheet().dims.end());
    click(pixelOf(view(0), QPointF(hole->a[0], hole->a[1])));
    EXPECT_NE(window->selectedDim, hole->id);
}

// At the window sizes the program uses every hint shows whole: its lines, measured in the
// label's font, fit the label, and the label lies inside the window.
TEST_F(DrawingWindowTest, HintsShowWholeAtTheWindowSizesInUse)
{
    QTemporaryDir dir;
    const qor::test::AnsweredBoxes answers; // the second export replaces the first
    window->chooseExportPath = [&](QWidget*, const QString&, QString* filter) {
        *filter = QStringLiteral("DXF (*.dxf)");
        return dir.filePath(QStringLiteral("Lagerbock_Zeichnung"));
    };
    const std::vector<std::pair<const char*, std::function<void()>>> steps = {
        {"select tool", [this] { window->setTool(0); }},
        {"dimension tool", [this] { window->setTool(1); }},
        {"section refused",
         [this] {
             window->selectedView = view(6).id;
             window->toggleSection();
             window->selectedView = 0;
         }},
        {"export", [this] { press(QStringLiteral("Export")); }},
    };
    const qor::app::HintLabel& hint = *window->hintLabel;
    for (const QSize size : {QSize(1280, 800), QSize(1600, 980)}) {
        window->resize(size);
        QApplication::processEvents();
        ASSERT_EQ(window->size(), size);
        for (const auto& [name, step] : steps) {
            SCOPED_TRACE(std::to_string(size.width()) + " " + name);
            step();
            QApplication::processEvents();
            EXPECT_EQ(hint.shownText().toStdString(), hint.text().toStdString());
            const QFontMetrics metrics = hint.fontMetrics();
            const QStringList lines = hint.shownLines();
            for (const QString& line : lines)
                EXPECT_LE(metrics.horizontalAdvance(line), hint.contentsRect().width())
                    << line.toStdString();
            EXPECT_LE(lines.size() * metrics.lineSpacing(), hint.contentsRect().height());
            EXPECT_TRUE(window->rect().contains(QRect(hint.mapTo(window, QPoint()), hint.size())));
            qor::test::saveShot(*window, QStringLiteral("drawing-hint-%1-%2.png")
                                             .arg(size.width())
                                             .arg(QString::fromLatin1(name).replace(u' ', u'-')));
        }
    }
}

// A hint wider than its label wraps after a "·" where that is enough, else between words,
// never starting a line with the dot; it is cut with "…" only where the lines do not fit the
// label's height. Sizes are in lines and in widths of the text.
TEST(HintLabel, WrapsAtDotsThenWordsAndCutsOnlyWhatDoesNotFit)
{
    const QString text = QStringLiteral("Ansicht ziehen zum Verschieben · Maß anklicken und Entf "
                                        "zum Löschen · Mausrad zoomt");
    struct Case {
        const char* name;
        double widthShare; // of the whole text's width
        int lines; // of height
        bool whole;
        int shownLines;
    };
    const Case cases[] = {
        {"wide enough", 1.05, 1, true, 1},
        {"two parts on the first line", 0.7, 3, true, 2},
        {"one part a line", 0.45, 3, true, 3},
        {"parts broken between words", 0.3, 6, true, 5},
        {"too low for the lines", 0.45, 1, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        qor::app::HintLabel label;
        label.setHint(text);
        const QFontMetrics metrics = label.fontMetrics();
        label.resize(int(c.widthShare * metrics.horizontalAdvance(text)),
                     c.lines * metrics.lineSpacing() + 2);
        const QStringList lines = label.shownLines();
        EXPECT_EQ(lines.size(), c.shownLines) << lines.join(u'|').toStdString();
        EXPECT_EQ(label.shownText() == text, c.whole) << label.shownText().toStdString();
        if (!c.whole)
            EXPECT_TRUE(label.shownText().endsWith(QChar(0x2026)));
        for (const QString& line : lines) {
            EXPECT_LE(metrics.horizontalAdvance(line), label.contentsRect().width());
            EXPECT_FALSE(line.startsWith(QChar(0xb7))) << line.toStdString();
        }
        EXPECT_EQ(label.toolTip(), text);
    }
}

// Right after a tool is chosen with the mouse, its keys act on the sheet wherever the keyboard
// was: "Esc beendet" ends the dimension tool, Entf deletes the selected view.
TEST_F(DrawingWindowTest, ToolKeysActRightAfterChoosingATool)
{
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    const auto button = [this](const QString& text) {
        for (QToolButton* b : window->findChildren<QToolButton*>())
            if (b->text() == text)
                return b;
        return static_cast<QToolButton*>(nullptr);
    };
    const auto typeKey = [](Qt::Key key) {
        QWidget* focused = QApplication::focusWidget();
        ASSERT_NE(focused, nullptr);
        QTest::keyClick(focused, key);
    };
    QTest::mouseClick(button(QStringLiteral("Bemaßen")), Qt::LeftButton);
    ASSERT_EQ(window->tool, 1);
    typeKey(Qt::Key_Escape);
    EXPECT_EQ(window->tool, 0);
    EXPECT_TRUE(window->hintLabel->text().startsWith(QStringLiteral("Ansicht ziehen")))
        << window->hintLabel->text().toStdString();

    const std::size_t views = sheet().views.size();
    window->selectedView = view(3).id;
    QTest::mouseClick(button(QStringLiteral("Auswählen")), Qt::LeftButton);
    typeKey(Qt::Key_Delete);
    EXPECT_EQ(sheet().views.size(), views - 1);
    EXPECT_EQ(sheet().format, QStringLiteral("A3")) << "the keys went to the format box";
}

} // namespace
