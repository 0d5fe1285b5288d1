// What the mesh writers put in the file, read back byte by byte by the tests'
// own readers and judged at exactly the coordinates written: a mesh body's
// holes, turned sides and inside-out winding named as the file holds them;
// loose faces under mirrors facing out alike in every format; and corners that
// faces share written at one position whatever placement each face has.

#include "io/Export.h"
#include "io/Import.h"
#include "tests/common/ShapeChecks.h"

#include "tests/fixtures/MeshSoup.h"
#include "tests/fixtures/StlFixtures.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <BRepAdaptor_Surface.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRep_Builder.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Shell.hxx>
#include <gp_Ax1.hxx>
#include <gp_Trsf.hxx>

#include <optional>

using qor::io::ExportBody;
using qor::io::exportFile;
using qor::io::ExportOptions;

namespace {

using namespace qor::fixtures;

const char* const meshSuffixes[] = {"stl", "obj", "ply", "glb", "3mf"};

// The number a note gives for the pattern's first group, 0 when it has none.
int notedCount(const QString& note, const QString& pattern)
{
    const QRegularExpressionMatch match = QRegularExpression(pattern).match(note);
    return match.hasMatch() ? match.captured(1).remove(u'.').toInt() : 0;
}

// A German number such as "-1.000,0".
double germanNumber(QString text)
{
    return text.remove(u'.').replace(u',', u'.').toDouble();
}

} // namespace

// A cube of 10 mm read from STL, whole and with the faults a mesh file can have,
// written again in every mesh format: the note names each hole, each edge where
// a side meets its neighbours turned round, and a closed mesh turned inside out,
// with the counts and the volume the written file holds; the file holds what the
// cube's own triangles say (volume 10³ mm³, three edges round a missing triangle,
// four round a turned side).
TEST(WrittenMesh, MeshBodiesAreNamedForWhatTheFileHolds)
{
    const auto [whole, missing, sideTurned, insideOut] = faultyCubes();
    const struct {
        const char* what;
        std::vector<Triangle> triangles;
        int open;
        int sameWay;
        std::optional<double> volume; // where every directed edge pairs
    } cases[] = {
        {"whole", whole, 0, 0, 1000.0},
        {"one triangle missing", missing, 3, 0, std::nullopt},
        {"one side turned", sideTurned, 0, 4, std::nullopt},
        {"inside out", insideOut, 0, 0, -1000.0},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        const QString input = dir.filePath(QStringLiteral("wuerfel.stl"));
        QFile file(input);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(binaryStl(c.triangles, std::uint32_t(c.triangles.size())));
        file.close();
        const qor::io::ImportResult imported = qor::io::importFile(input, {});
        ASSERT_TRUE(imported.ok) << imported.error.toStdString();
        ASSERT_EQ(imported.bodies.size(), 1U);
        const std::vector<ExportBody> bodies{{QStringLiteral("Würfel"), imported.bodies[0].shape}};
        for (const char* suffix : meshSuffixes) {
            SCOPED_TRACE(std::string(c.what) + " as " + suffix);
            const QString path = dir.filePath(QStringLiteral("aus.") + suffix);
            QString note;
            ASSERT_TRUE(exportFile(path, bodies, ExportOptions(), nullptr, &note));
            const Soup soup = soupOfFile(path);
            EXPECT_EQ(openEdges(soup, 0.0), c.open);
            EXPECT_EQ(sameWayEdges(soup, 0.0), c.sameWay);
            EXPECT_EQ(notedCount(note, QStringLiteral("„Würfel“ hat ([\\d.]+) offene Kanten?,")),
                      openEdges(soup, 0.0))
                << note.toStdString();
            EXPECT_EQ(notedCount(note, QStringLiteral("„Würfel“ hat ([\\d.]+) Kanten?, an (?:der|"
                                                      "denen) zwei Dreiecke gleich herum")),
                      sameWayEdges(soup, 0.0))
                << note.toStdString();
            const QRegularExpressionMatch insideOutNote
                = QRegularExpression(QStringLiteral("„Würfel“ umschließt im Netz (-[\\d.]+,\\d) "
                                                    "mm³ \\(Netz nach innen gekehrt\\)"))
                      .match(note);
            if (!c.volume) {
                EXPECT_GT(unpairedDirectedEdges(soup, 0.0), 0);
                EXPECT_FALSE(insideOutNote.hasMatch()) << note.toStdString();
                continue;
            }
            EXPECT_EQ(unpairedDirectedEdges(soup, 0.0), 0);
            EXPECT_NEAR(signedVolume(soup), *c.volume, 1e-3);
            EXPECT_EQ(insideOutNote.hasMatch(), *c.volume < 0.0) << note.toStdString();
            if (insideOutNote.hasMatch())
                EXPECT_NEAR(germanNumber(insideOutNote.captured(1)), signedVolume(soup), 0.05);
        }
    }
}

namespace {

// Triangles of the soup whose normal points towards the axis rather than away.
int facingAxis(const Soup& soup, const gp_Ax1& axis)
{
    int count = 0;
    for (const auto& t : soup.triangles) {
        const gp_XYZ a = soup.nodes[std::size_t(t[0])].XYZ();
        const gp_XYZ b = soup.nodes[std::size_t(t[1])].XYZ();
        const gp_XYZ c = soup.nodes[std::size_t(t[2])].XYZ();
        const gp_XYZ centre = (a + b + c) / 3.0;
        const gp_XYZ along
            = axis.Direction().XYZ() * (centre - axis.Location().XYZ()).Dot(axis.Direction().XYZ());
        const gp_XYZ outward = centre - axis.Location().XYZ() - along;
        if ((b - a).Crossed(c - a).Dot(outward) < 0.0)
            ++count;
    }
    return count;
}

} // namespace

// The mantle of a cylinder of radius 5 about the z axis, an open body, as
// modelled, placed with a mirror, in a compound placed with a mirror, and under
// two mirrors that undo each other (one on the face, one on the compound round
// it): every format writes it facing away from its axis as placed, as a solid
// so placed would face.
TEST(WrittenMesh, LooseFacesUnderMirrorsFaceOutInEveryFormat)
{
    const TopoDS_Shape cylinder = BRepPrimAPI_MakeCylinder(5, 10).Shape();
    TopoDS_Face mantle;
    for (TopExp_Explorer face(cylinder, TopAbs_FACE); face.More(); face.Next()) {
        if (BRepAdaptor_Surface(TopoDS::Face(face.Current())).GetType() == GeomAbs_Cylinder)
            mantle = TopoDS::Face(face.Current());
    }
    ASSERT_FALSE(mantle.IsNull());
    gp_Trsf mirror;
    mirror.SetMirror(gp_Ax2(gp_Pnt(30, 0, 0), gp::DX()));
    const TopLoc_Location mirrored(mirror);
    const gp_Ax1 axis = gp::OZ();
    const struct {
        const char* what;
        TopoDS_Shape shape;
        gp_Ax1 axis;
    } cases[] = {
        {"as modelled", mantle, axis},
        {"placed with a mirror", mantle.Moved(mirrored, false), axis.Transformed(mirror)},
        {"in a compound placed with a mirror",
         qor::test::compoundOf({mantle}).Moved(mirrored, false), axis.Transformed(mirror)},
        {"under mirrors that undo each other",
         qor::test::compoundOf(
             {qor::test::compoundOf({mantle.Moved(mirrored, false)}).Moved(mirrored, false)}),
         axis},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        for (const char* suffix : meshSuffixes) {
            SCOPED_TRACE(std::string(c.what) + " as " + suffix);
            const QString path = dir.filePath(QStringLiteral("mantel.") + suffix);
            ASSERT_TRUE(exportFile(path, {{QStringLiteral("Mantel"), c.shape}}, ExportOptions()));
            const Soup soup = soupOfFile(path);
            ASSERT_FALSE(soup.triangles.empty());
            EXPECT_EQ(facingAxis(soup, c.axis), 0);
        }
    }
}

namespace {

// The faces of a box of 10 mm from the origin, each a copy turned back by a
// rotation of its own and placed by that rotation: where it was, up to the last
// bits, with a placement no other face shares, as readers of files that place
// every face on its own give them.
TopoDS_Shape boxOfFacesPlacedApart()
{
    TopoDS_Shell shell;
    BRep_Builder builder;
    builder.MakeShell(shell);
    int k = 0;
    for (TopExp_Explorer face(BRepPrimAPI_MakeBox(10, 10, 10).Shape(), TopAbs_FACE); face.More();
         face.Next(), ++k) {
        gp_Trsf rotation;
        rotation.SetRotation(gp_Ax1(gp_Pnt(1.5 * k, -2.0, 0.7), gp_Dir(1, 2, 3 + k)),
                             0.3 + 0.7 * k);
        const TopoDS_Shape back
            = BRepBuilderAPI_Transform(face.Current(), rotation.Inverted(), true).Shape();
        builder.Add(shell, back.Moved(TopLoc_Location(rotation)));
    }
    return shell;
}

} // namespace

// A box whose every face has a placement of its own, as modelled and next to a
// body placed whole: every format writes each corner the faces share at one
// position, so that every directed edge pairs at exactly the coordinates
// written, and the triangles enclose the box's 10³ mm³.
TEST(WrittenMesh, CornersFacesShareAreWrittenAtOnePosition)
{
    gp_Trsf shift;
    shift.SetTranslation(gp_Vec(40, 0, 0));
    const TopoDS_Shape box = boxOfFacesPlacedApart();
    const struct {
        const char* what;
        std::vector<ExportBody> bodies;
        double volume;
    } cases[] = {
        {"alone", {{QStringLiteral("Kasten"), box}}, 1000.0},
        {"beside a body placed whole",
         {{QStringLiteral("Kasten"), box},
          {QStringLiteral("Zweiter"), box.Moved(TopLoc_Location(shift))}},
         2000.0},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        for (const char* suffix : meshSuffixes) {
            SCOPED_TRACE(std::string(c.what) + " as " + suffix);
            const QString path = dir.filePath(QStringLiteral("kasten.") + suffix);
            ASSERT_TRUE(exportFile(path, c.bodies, ExportOptions()));
            const Soup soup = soupOfFile(path);
            EXPECT_EQ(unpairedDirectedEdges(soup, 0.0), 0);
            EXPECT_NEAR(signedVolume(soup), c.volume, 1e-3);
        }
    }
}
