#include "io/ClosedVolume.h"
#include "io/Export.h"
#include "io/Import.h"

#include "IoTestSupport.h"
#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/BareStepVerdict.h"
#include "tests/fixtures/SeamSolids.h"
#include "tests/common/Seeds.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <TopoDS_Compound.hxx>

#include <cmath>
#include <functional>
#include <random>
#include <set>

// Whatever a STEP export changes, its note names exactly those bodies, checked
// against the written file read back by a bare reader of the kernel; and the
// same bodies give the same file, run after run.

using namespace qor::io;
using qor::test::box;
using namespace qor::fixtures;

namespace {

// Exports the bodies three times: the same file and note each time, and the
// note names exactly the bodies the file changes.
void expectNotesMatchTheFile(const std::vector<ExportBody>& bodies)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("teile.step"));
    QByteArray first;
    QString firstNote;
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        QString error;
        QString note;
        ASSERT_TRUE(exportFile(path, bodies, ExportOptions(), &error, &note))
            << error.toStdString();
        const QByteArray text = withoutTimeStamp(qor::test::readFile(path));
        if (run == 0) {
            first = text;
            firstNote = note;
            continue;
        }
        EXPECT_TRUE(text == first) << "the file differs from the first run's";
        EXPECT_EQ(note, firstNote);
    }
    EXPECT_EQ(namedInNote(firstNote), changedInFile(path, bodies)) << firstNote.toStdString();
}

TopoDS_Shape drilledBlock()
{
    const TopoDS_Shape drill
        = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(5, 5, -1), gp::DZ()), 2.5, 12).Shape();
    return BRepAlgoAPI_Cut(box(10, 10, 10), drill).Shape();
}

TopoDS_Shape compoundOf(const std::vector<TopoDS_Shape>& shapes)
{
    TopoDS_Compound compound;
    BRep_Builder builder;
    builder.MakeCompound(compound);
    for (const TopoDS_Shape& shape : shapes)
        builder.Add(compound, shape);
    return compound;
}

TopoDS_Shape kernelBall()
{
    TopoDS_Shape ball;
    BRep_Builder builder;
    BRepTools::Read(ball, "/usr/share/opencascade/data/occ/Ball.brep", builder);
    return ball;
}

} // namespace

// Random mixtures of sound bodies, bodies the writer damages and that a repair
// mends, and bodies of several solids (touching, or one of them damaged),
// placed anywhere.
TEST(StepVerdict, NotesNameExactlyWhatTheFileChangesOnMixedBodies)
{
    const std::vector<std::function<TopoDS_Shape()>> makers = {
        [] { return box(10, 20, 30); },
        [] { return BRepPrimAPI_MakeCylinder(5, 10).Shape(); },
        drilledBlock,
        qor::test::sphereDrilledThroughSeam,
        qor::test::sphereWithBumpOnSeam,
        qor::test::torusWithBumpInside,
        [] {
            return compoundOf({box(10, 10, 10), box(10, 10, 10, gp_Pnt(10, 0, 0))});
        },
        [] {
            return compoundOf({box(4, 4, 4, gp_Pnt(30, 0, 0)), qor::test::sphereWithBumpOnSeam()});
        },
        kernelBall,
    };
    std::mt19937 random(qor::test::seed(46));
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        std::vector<ExportBody> bodies;
        const int count = 3 + int(random() % 4);
        for (int i = 0; i < count; ++i) {
            const TopoDS_Shape shape = makers[random() % makers.size()]();
            if (shape.IsNull())
                continue;
            gp_Trsf place;
            place.SetTranslation(gp_Vec(double(random() % 200), double(random() % 200), 0));
            bodies.push_back({QStringLiteral("Teil %1").arg(i + 1), shape.Moved(place),
                              double(random() % 256) / 255.0, 0.5, 0.2});
        }
        expectNotesMatchTheFile(bodies);
    }
}

// KiCad's models of the kinds the writer and its repairs get wrong: bodies of
// several solids that lose volume, bodies a repair opened, bodies that read back
// exactly although the writer's own model suggested otherwise; and bodies of
// many solids of which only some may change, the others not read back.
TEST(StepVerdict, RealModelsNoteExactlyWhatTheirFileChanges)
{
    const char* const models[] = {
        "Transformer_THT.3dshapes/Transformer_NF_ETAL_1-1_P1200.step",
        "Transformer_THT.3dshapes/Transformer_CHK_EI48-10VA_2xSec.step",
        "Sensor_Pressure.3dshapes/NXP_MPL115A1_LGA-8_3x5mm_P1.25mm.step",
        "Connector_BarrelJack.3dshapes/BarrelJack_CUI_PJ-063AH_Horizontal.step",
        "Transformer_SMD.3dshapes/Transformer_Ethernet_HALO_TG111-MSC13.step",
        "Transformer_THT.3dshapes/Autotransformer_ZS1052-AC.step",
        "Sensor_Current.3dshapes/LEM_LTSR-NP.step",
    };
    int found = 0;
    for (const char* model : models) {
        const QString path
            = QDir(qor::test::kicadModelsFolder()).filePath(QString::fromLatin1(model));
        if (!QFileInfo::exists(path))
            continue;
        ++found;
        SCOPED_TRACE(model);
        const ImportResult imported = importFile(path, {});
        ASSERT_TRUE(imported.ok) << imported.error.toStdString();
        std::vector<ExportBody> bodies;
        for (const ImportedBody& body : imported.bodies)
            bodies.push_back({body.name, body.shape, body.r, body.g, body.b});
        expectNotesMatchTheFile(bodies);
    }
    if (found == 0)
        GTEST_SKIP() << "KiCad's 3D models are not at hand";
}
