#include "model/RecomputeStop.h"
#include "io/ReaderThread.h"
#include "model/ComponentGeometry.h"
#include "model/Document.h"
#include "model/DocumentController.h"

#include "tests/common/CpuBudget.h"
#include "tests/common/CpuTime.h"
#include "tests/fixtures/HoledPlatePart.h"

#include <BRepGProp.hxx>
#include <GProp_GProps.hxx>

#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <iostream>

using namespace qor::model;

namespace {

QString mm(double value)
{
    return QString::number(value) + QStringLiteral(" mm");
}

void addBox(Document& doc, double length, double x0)
{
    doc.addFeature(
        QStringLiteral("box"),
        QJsonObject{{"length", mm(length)}, {"width", mm(10)}, {"height", mm(10)}, {"x", mm(x0)}});
}

double bodiesVolume(const Document& doc)
{
    double volume = 0.0;
    for (const auto& [id, body] : doc.current.bodies.get()) {
        GProp_GProps props;
        BRepGProp::VolumeProperties(body.shape, props);
        volume += props.Mass();
    }
    return volume;
}

// Saves what the case needs into the folder and returns the file to open.
using WriteDocument = std::function<QString(const QString& folder)>;

struct StopCase {
    const char* name;
    WriteDocument write;
    double volume; // of the bodies the file gives
};

QString savedPart(const QString& folder)
{
    Document part;
    addBox(part, 20, 0);
    addBox(part, 20, 30);
    const QString path = folder + QStringLiteral("/teil.qcpart");
    part.save(path);
    return path;
}

// An assembly without features of its own: its one component's file is loaded, and
// recomputed, inside the assembly's recompute.
QString savedAssembly(const QString& folder)
{
    savedPart(folder);
    Document assembly;
    Component component;
    component.id = 3;
    component.name = QStringLiteral("Teil");
    component.path = QStringLiteral("teil.qcpart");
    component.setPlacement(gp_Trsf());
    assembly.components.push_back(component);
    assembly.nextId = 3;
    const QString path = folder + QStringLiteral("/baugruppe.qcasm");
    assembly.save(path);
    return path;
}

// A recompute told to stop leaves its document without results, and what it ran leaves
// no trace: recomputed again without the stop, the document (and, for an assembly, the
// component file loaded inside it) gives all its bodies.
TEST(RecomputeStop, StoppedRecomputeLeavesNothingBehind)
{
    const StopCase cases[]
        = {{"part", savedPart, 2 * 20 * 10 * 10}, {"assembly", savedAssembly, 2 * 20 * 10 * 10}};
    for (const StopCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QTemporaryDir folder;
        const QString path = c.write(folder.path());
        Document doc;
        ASSERT_TRUE(doc.load(path));
        RecomputeWatch watch;
        watch.stop = true;
        {
            const StoppableRecompute stoppable(watch);
            doc.recompute(&watch);
        }
        EXPECT_TRUE(doc.current.bodies.get().empty());
        EXPECT_TRUE(doc.snapshots.empty());
        EXPECT_TRUE(doc.cache.empty());

        doc.recompute();
        EXPECT_EQ(doc.current.bodies.get().size(), 2u);
        EXPECT_NEAR(bodiesVolume(doc), c.volume, 1e-6 * c.volume);
    }
}

// The watch learns how many features are to run (up to the rollback) and how many ran.
TEST(RecomputeStop, ProgressCountsTheFeaturesToRun)
{
    const struct {
        int rollback;
        int total;
    } cases[] = {{-1, 3}, {2, 2}, {0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rollback);
        Document doc;
        addBox(doc, 10, 0);
        addBox(doc, 10, 20);
        addBox(doc, 10, 40);
        doc.rollback = c.rollback;
        RecomputeWatch watch;
        doc.recompute(&watch);
        EXPECT_EQ(watch.total, c.total);
        EXPECT_EQ(watch.done, c.total);
        EXPECT_EQ(int(doc.current.bodies.get().size()), c.total);
    }
}

// Stopped while it cuts a thousand holes out of a plate (about five seconds of processor
// time), the recompute ends at the kernel's next check inside the boolean, not after it;
// until then the watch learns how far the boolean got. The stop comes with the boolean's
// first report, however long building the tools took.
TEST(RecomputeStop, StopBreaksOffALongBoolean)
{
    const QTemporaryDir folder;
    Document doc;
    ASSERT_TRUE(doc.load(qor::test::writeHoledPlatePart(folder.path(), 1000)));
    RecomputeWatch watch;
    double stoppedAt = 0.0;
    double shareAtStop = 0.0;
    qor::io::runOnReaderThread(
        [&] {
            const StoppableRecompute stoppable(watch);
            doc.recompute(&watch);
        },
        [&] {
            // The cut is the last of the four features.
            if (watch.done != 3 || watch.stop || watch.booleanShare <= 0.0)
                return;
            stoppedAt = qor::test::cpuSeconds();
            shareAtStop = watch.booleanShare;
            watch.stop = true;
        });
    ASSERT_TRUE(watch.stop) << "the recompute ended before its cut was seen";
    const double afterStop = qor::test::cpuSeconds() - stoppedAt;
    EXPECT_TRUE(doc.current.bodies.get().empty());
    EXPECT_LT(afterStop, 0.5);
    EXPECT_GT(shareAtStop, 0.0);
    EXPECT_LT(shareAtStop, 1.0);
    std::cout << "stopped with the boolean " << shareAtStop << " done, ended " << afterStop
              << " s of processor time after the stop\n";
}

// The cut of four thousand holes runs seconds past its last report without asking whether
// to stop (the kernel's last steps check for no break). An open cancelled then returns
// within a second of the process's processor time, and the controller keeps what it had.
TEST(RecomputeStop, OpenCancelledAfterTheCutsLastReportReturnsAtOnce)
{
    // Recomputing the plate up to its cut takes about fifty seconds of processor time.
    qor::test::allowCpuSeconds(150);
    const QTemporaryDir folder;
    const QString plate = qor::test::writeHoledPlatePart(folder.path(), 4000);
    qor::app::DocumentController controller;
    controller.newDocument();
    double cancelledAt = -1.0;
    const qor::app::DocumentController::OpenOutcome outcome
        = controller.open(plate, nullptr, [&cancelledAt](int done, int total) {
              // The cut is the last feature: at its last hundredth it has reported all it will.
              if (total == 0 || done < total - 1)
                  return true;
              cancelledAt = qor::test::cpuSeconds();
              return false;
          });
    ASSERT_GE(cancelledAt, 0.0) << "the open ended before the cut's last report was seen";
    const double afterCancel = qor::test::cpuSeconds() - cancelledAt;
    EXPECT_EQ(outcome, qor::app::DocumentController::OpenOutcome::Cancelled);
    EXPECT_TRUE(controller.path.isEmpty());
    EXPECT_TRUE(controller.document->features.empty());
    EXPECT_LT(afterCancel, 1.0);
    std::cout << "the open returned " << afterCancel << " s of processor time after its cancel\n";
}

} // namespace
