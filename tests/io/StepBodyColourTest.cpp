// The colour of a body of several solids reaches readers that ask the body, not
// only its solids: checked with the kernel's bare XCAF reader.

#include "io/Export.h"
#include "io/Import.h"
#include "io/XcafBodies.h"
#include "sketch/Plane.h"

#include "IoTestSupport.h"
#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/XcafModel.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <BRep_Builder.hxx>
#include <STEPCAFControl_Reader.hxx>
#include <TDF_LabelSequence.hxx>
#include <TopoDS_Compound.hxx>

using qor::io::ExportBody;
using qor::io::ExportOptions;
using qor::test::box;

namespace {

gp_Trsf shifted(double x)
{
    gp_Trsf shift;
    shift.SetTranslation(gp_Vec(x, 5, -7));
    return shift;
}

// The part that holds a free shape's geometry: the shape itself, or for a
// placement of a shared part that part.
TDF_Label partOf(const TDF_Label& free)
{
    TDF_LabelSequence components;
    TDF_Label part = free;
    if (XCAFDoc_ShapeTool::GetComponents(free, components) && components.Length() == 1)
        XCAFDoc_ShapeTool::GetReferredShape(components.First(), part);
    return part;
}

} // namespace

// In AP214 as in AP242, and on a part of several solids that two placements share.
TEST(StepBodyColour, BodiesOfSeveralSolidsCarryTheirColour)
{
    QTemporaryDir dir;
    const TopoDS_Shape triplet = qor::compoundOf(
        {box(2, 2, 2), box(2, 2, 2, gp_Pnt(5, 0, 0)), box(2, 2, 2, gp_Pnt(10, 0, 0))});
    const std::vector<ExportBody> bodies = {
        {QStringLiteral("Paar"),
         qor::compoundOf({box(10, 10, 10), box(10, 10, 10, gp_Pnt(30, 0, 0))}), 0.1, 0.7, 0.2},
        {QStringLiteral("Drilling"), triplet.Moved(shifted(100)), 0.9, 0.5, 0.1},
        {QStringLiteral("Quader"), box(10, 20, 30, gp_Pnt(0, 50, 0)), 0.2, 0.3, 0.9},
        {QStringLiteral("Drilling 2"), triplet.Moved(shifted(200)), 0.9, 0.5, 0.1},
        {QStringLiteral("Drilling 3"), triplet.Moved(shifted(300)), 0.9, 0.5, 0.1},
    };
    for (const char* schema : {"AP242", "AP214"}) {
        SCOPED_TRACE(schema);
        const QString path = dir.filePath(QStringLiteral("teile-%1.step").arg(schema));
        ExportOptions options;
        options.stepSchema = QString::fromLatin1(schema);
        QString error;
        ASSERT_TRUE(qor::io::exportFile(path, bodies, options, &error)) << error.toStdString();

        qor::test::XcafModel bare;
        STEPCAFControl_Reader reader;
        ASSERT_EQ(reader.ReadFile(QFile::encodeName(path).constData()), IFSelect_RetDone);
        ASSERT_TRUE(reader.Transfer(bare.doc));
        TDF_LabelSequence parts;
        bare.shapes->GetFreeShapes(parts);
        ASSERT_EQ(parts.Length(), int(bodies.size()));
        for (int i = 0; i < parts.Length(); ++i) {
            const ExportBody& body = bodies[std::size_t(i)];
            SCOPED_TRACE(body.name.toStdString());
            EXPECT_EQ(qor::io::labelName(parts.Value(i + 1)), body.name);
            const TDF_Label part = partOf(parts.Value(i + 1));
            Quantity_Color colour;
            ASSERT_TRUE(bare.colors->GetColor(part, XCAFDoc_ColorSurf, colour));
            double r = 0, g = 0, b = 0;
            colour.Values(r, g, b, Quantity_TOC_sRGB);
            EXPECT_NEAR(r, body.r, 0.01);
            EXPECT_NEAR(g, body.g, 0.01);
            EXPECT_NEAR(b, body.b, 0.01);
            EXPECT_NEAR(qor::test::volumeOf(XCAFDoc_ShapeTool::GetShape(part)),
                        qor::test::volumeOf(body.shape), 1e-6);
        }

        // The program's own import still gives one coloured body per body.
        const qor::io::ImportResult imported = qor::io::importFile(path, {});
        ASSERT_TRUE(imported.ok) << imported.error.toStdString();
        ASSERT_EQ(imported.bodies.size(), bodies.size());
        for (std::size_t i = 0; i < bodies.size(); ++i) {
            EXPECT_TRUE(imported.bodies[i].hasColor);
            EXPECT_NEAR(imported.bodies[i].g, bodies[i].g, 0.01);
            EXPECT_NEAR(qor::test::volumeOf(imported.bodies[i].shape),
                        qor::test::volumeOf(bodies[i].shape), 1e-6);
        }
    }
}
