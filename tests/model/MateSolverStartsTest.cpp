#include "model/DocumentController.h"
#include "model/MateSolver.h"
#include "tests/fixtures/MateScenes.h"
#include "tests/model/MatePlacement.h"

#include <gp_Lin.hxx>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace qor::model;
using qor::fixtures::MateScene;
using qor::fixtures::SceneMate;
using qor::test::placed;

namespace {

// Zero when the placed sides satisfy the mate (all values are 0 but the angles').
double gap(const SceneMate& mate, const MateSide& a, const MateSide& b)
{
    const double dot = a.direction.Dot(b.direction);
    const double distance = gp_Vec(a.point, b.point).Dot(gp_Vec(a.direction));
    if (mate.type == QLatin1String("planar"))
        return std::abs(dot + 1) + std::abs(distance);
    if (mate.type == QLatin1String("flush"))
        return std::abs(dot - 1) + std::abs(distance);
    if (mate.type == QLatin1String("point"))
        return a.point.Distance(b.point);
    if (mate.type == QLatin1String("concentric"))
        return a.direction.XYZ().Crossed(b.direction.XYZ()).Modulus()
               + gp_Lin(a.point, a.direction).Distance(b.point);
    const double degrees = a.direction.Angle(b.direction) * 180.0 / std::numbers::pi;
    return std::abs(degrees - mate.value.toDouble()) * std::numbers::pi / 180.0;
}

} // namespace

// Every start, including the free part turned exactly against the mate (the stationary points of
// the direction rows: 180° for planes, 90° for axes), ends with the mate held; solving the held
// assembly again takes no step and writes nothing.
TEST(MateSolverStarts, EveryTiltAboutXAndYConverges)
{
    for (const MateScene& scene : qor::fixtures::mateScenes()) {
        for (const gp_Dir& axis : {gp_Dir(1, 0, 0), gp_Dir(0, 1, 0)}) {
            for (const double tilt : {0.0, 10.0, 45.0, 90.0, 135.0, 179.0}) {
                SCOPED_TRACE(testing::Message() << scene.name << ", " << tilt << "° about "
                                                << (axis.X() > 0.5 ? "X" : "Y"));
                Document doc = qor::fixtures::mateAssembly(scene, axis, tilt);
                const auto fixedPlacement = doc.components[0].m;
                MateSolveStats stats;
                QString message;
                EXPECT_TRUE(doc.solveMates(&message, &stats)) << message.toStdString();
                EXPECT_LT(stats.residual, 1e-4);
                for (std::size_t i = 0; i < scene.mates.size(); ++i) {
                    const SceneMate& mate = scene.mates[i];
                    EXPECT_TRUE(doc.mates[i].status.isEmpty());
                    EXPECT_LT(gap(mate, placed(doc, 1, mate.a), placed(doc, 2, mate.b)), 1e-6);
                }
                EXPECT_EQ(doc.components[0].m, fixedPlacement);

                const auto solved = doc.components[1].m;
                EXPECT_TRUE(doc.solveMates(nullptr, &stats));
                EXPECT_EQ(stats.steps, 0);
                EXPECT_EQ(doc.components[1].m, solved);
            }
        }
    }
}

// Placements are stored with nine decimals. An assembly whose mates hold, read back from its
// snapshot, keeps the placements it was stored with, so going back to the step and committing
// again adds no step.
TEST(MateSolverStarts, HeldMatesLeaveTheirSnapshotAlone)
{
    for (const MateScene& scene : qor::fixtures::mateScenes()) {
        SCOPED_TRACE(scene.name);
        qor::app::DocumentController controller;
        Document assembly = qor::fixtures::mateAssembly(scene, gp_Dir(1, 0, 0), 10.0);
        controller.document->components = assembly.components;
        controller.document->mates = assembly.mates;
        controller.document->nextId = assembly.nextId;
        controller.recompute();
        controller.commit(QStringLiteral("Beziehung hinzufügen"));
        const std::size_t steps = controller.history.size();
        for (int round = 0; round < 2; ++round) {
            controller.revert();
            EXPECT_EQ(controller.document->toJson(), controller.history.back().snapshot);
            controller.commit(QStringLiteral("Beziehung hinzufügen"));
            EXPECT_EQ(controller.history.size(), steps);
        }
        EXPECT_TRUE(controller.document->mates[0].status.isEmpty());
    }
}
