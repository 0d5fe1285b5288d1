#include "app/MainWindow.h"
#include "io/ShapeText.h"
#include "model/DocumentController.h"
#include "tests/common/CpuTime.h"
#include "tests/common/WhenShown.h"
#include "tests/fixtures/HoledPlatePart.h"
#include "tests/fixtures/PerforatedFaces.h"
#include "tests/gl/BoxPartFile.h"
#include "tests/gl/ShownWindowTest.h"
#include "view/Scene.h"

#include <BRepTools.hxx>

#include <QFileInfo>
#include <QJsonObject>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <iostream>

namespace {

using qor::test::whenShown;

class HoledPlateViewTest : public ShownWindowTest {
protected:
    // The plate as one imported body of the document, recomputed and shown.
    void showPlate(const TopoDS_Shape& plate)
    {
        window.controller->document->addFeature(
            QStringLiteral("import"),
            {{"file", "lochblech.brep"}, {"brep", qor::io::shapeToBase64(plate)}});
        window.controller->commit(QStringLiteral("Importieren"));
    }

    int shownBodies() const
    {
        int shown = 0;
        for (const auto& [id, body] : window.controller->document->current.bodies.get())
            shown += window.scene->bodyObject(id).IsNull() ? 0 : 1;
        return shown;
    }

    QString toastText() const
    {
        return window.toast ? window.toast->findChild<QLabel*>()->text() : QString();
    }
};

// A plate with a thousand holes shows within seconds of work: its two holed faces are
// not left to the plain triangulation, whose time grows with the square of their points.
TEST_F(HoledPlateViewTest, ThousandHolesShowWithinTenSecondsOfWork)
{
    const TopoDS_Shape plate = qor::test::holedPlate(1000, 400, 250, 1.5, 3);
    const double before = qor::test::cpuSeconds();
    showPlate(plate);
    const double spent = qor::test::cpuSeconds() - before;
    EXPECT_EQ(shownBodies(), 1);
    EXPECT_LT(spent, 10.0);
    std::cout << "shown in " << spent << " s of processor time\n";
}

// Meshing a large body shows its progress, and cancelling it stops the meshing: the window
// answers again at once and says in German what it left out; the next rebuild shows it.
TEST_F(HoledPlateViewTest, LongMeshingShowsProgressAndCancels)
{
    const TopoDS_Shape plate = qor::test::holedPlate(4000, 500, 400, 1.5, 3);
    bool repainted = false;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { repainted = true; });
    ticker.start(100);
    const auto cancelled = whenShown<QProgressDialog>([&](QProgressDialog* d) {
        EXPECT_EQ(d->labelText(), QStringLiteral("Körper werden angezeigt …"));
        d->findChild<QPushButton*>()->click();
    });
    const double before = qor::test::cpuSeconds();
    showPlate(plate);
    const double spent = qor::test::cpuSeconds() - before;
    ASSERT_TRUE(*cancelled) << "no progress came up";
    EXPECT_TRUE(repainted) << "the event loop did not run while meshing";
    EXPECT_FALSE(window.scene->building());
    EXPECT_TRUE(window.scene->buildCancelled());
    EXPECT_EQ(shownBodies(), 0);
    EXPECT_EQ(toastText(), QStringLiteral("Anzeige abgebrochen: 0 von 1 Körpern werden angezeigt"));
    EXPECT_TRUE(window.findChildren<QProgressDialog*>().isEmpty());
    std::cout << "cancelled after " << spent << " s of processor time\n";

    window.scene->rebuild();
    EXPECT_EQ(shownBodies(), 1);
    EXPECT_FALSE(window.scene->buildCancelled());
}

// Opening the real plate of four thousand holes shows the progress of its recompute while
// the window goes on; cancelling it stops the recompute early and leaves the part that was
// open as it was, and a German toast says so.
TEST_F(HoledPlateViewTest, RealPlateOpensWithProgressThatCancels)
{
    const QString path = QStringLiteral(QOR_WAVE9_FILES "/lochblech-4000.qcpart");
    if (!QFileInfo::exists(path))
        GTEST_SKIP() << "lochblech-4000.qcpart is not there";
    const QString boxPath = dir.filePath(QStringLiteral("Würfel.qcpart"));
    ASSERT_TRUE(qor::test::saveBoxPart(boxPath));
    ASSERT_TRUE(window.openFile(boxPath));
    const qor::model::Document* previous = window.controller->document.get();
    const QJsonObject previousContent = previous->toJson();
    const std::size_t previousBodies = previous->current.bodies.get().size();

    // The timer answers the dialog only while the window's event loop runs during the
    // open: a cancel seen is a window that went on while the plate was computed.
    bool cancelled = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QProgressDialog* d : window.findChildren<QProgressDialog*>()) {
            if (!cancelled && d->isVisible()) {
                EXPECT_EQ(d->labelText(), QStringLiteral("Bauteil wird berechnet …"));
                EXPECT_EQ(d->maximum(), 400) << "the bar counts the plate's four features";
                cancelled = true;
                d->findChild<QPushButton*>()->click();
            }
        }
    });
    poll.start(50);
    const double before = qor::test::cpuSeconds();
    EXPECT_FALSE(window.openFile(path));
    const double spent = qor::test::cpuSeconds() - before;
    poll.stop();
    ASSERT_TRUE(cancelled) << "no progress came up";
    EXPECT_EQ(window.controller->document.get(), previous);
    EXPECT_EQ(window.controller->document->toJson(), previousContent);
    EXPECT_EQ(window.controller->document->current.bodies.get().size(), previousBodies);
    EXPECT_EQ(window.controller->path, boxPath);
    EXPECT_EQ(window.controller->history.size(), 1u);
    EXPECT_EQ(toastText(), QStringLiteral("Öffnen abgebrochen: „lochblech-4000.qcpart“ wurde "
                                          "nicht geöffnet, „Würfel“ bleibt offen"));
    EXPECT_TRUE(window.findChildren<QProgressDialog*>().isEmpty());
    // The whole recompute takes about a minute of processor time; the cancel stops it.
    EXPECT_LT(spent, 25.0);
    std::cout << "cancelled after " << spent << " s of processor time\n";
}

// A generated holed plate opens while the window's event loop keeps running: a timer ticks
// while the plate is computed, before it becomes the open document.
TEST_F(HoledPlateViewTest, GeneratedPlateOpensWhileTheWindowRuns)
{
    const QString path = qor::test::writeHoledPlatePart(dir.path(), 300);
    const qor::model::Document* previous = window.controller->document.get();
    int ticksWhileComputing = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (window.controller->document.get() == previous)
            ++ticksWhileComputing;
    });
    ticker.start(10);
    const double before = qor::test::cpuSeconds();
    ASSERT_TRUE(window.openFile(path));
    const double spent = qor::test::cpuSeconds() - before;
    ticker.stop();
    EXPECT_NE(window.controller->document.get(), previous);
    EXPECT_EQ(window.controller->path, path);
    for (const auto& f : window.controller->document->features)
        EXPECT_TRUE(f->error.isEmpty()) << f->name.toStdString() << ": " << f->error.toStdString();
    ASSERT_EQ(window.controller->document->current.bodies.get().size(), 1u);
    EXPECT_EQ(shownBodies(), 1);
    EXPECT_GT(ticksWhileComputing, 0) << "no event was handled while the plate was computed";
    std::cout << ticksWhileComputing << " ticks while computing; opened and shown in " << spent
              << " s of processor time\n";
}

} // namespace
