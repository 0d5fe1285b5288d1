// Stitching the seams between faces is a repair: on a sound mesh it changes
// nothing, and on a mesh with seams it closes them without moving the surface
// by more than the tolerance. Checked on random bodies of every kind of face,
// placed with and without a mirror, touching each other or not, with and
// without seam faults. QOR_STITCH_SEEDS=N runs N bodies from seed
// QOR_STITCH_FIRST instead of the usual ones.

#include "io/MeshStitching.h"
#include "io/ClosedVolume.h"
#include "io/MeshFaces.h"

#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/MeshSeams.h"
#include "tests/common/Seeds.h"

#include <gtest/gtest.h>

#include <BRepMesh_IncrementalMesh.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCone.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRepPrimAPI_MakeTorus.hxx>
#include <BRep_Builder.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS_Compound.hxx>

#include <random>

using qor::fixtures::SeamFault;

namespace {

double signedVolume(const qor::io::IndexedMesh& mesh)
{
    double sixfold = 0.0;
    for (const auto& t : mesh.triangles)
        sixfold += mesh.vertices[std::size_t(t[0])].XYZ().Dot(
            mesh.vertices[std::size_t(t[1])].XYZ().Crossed(mesh.vertices[std::size_t(t[2])].XYZ()));
    return sixfold / 6.0;
}

struct Piece {
    TopoDS_Shape shape;
    bool faulted = false;
    double volume = 0.0;
};

// One random piece: a primitive of any kind, or a box with a seam fault the
// tolerance covers, meshed, and placed at random (a third of them mirrored).
Piece randomPiece(std::mt19937& random, double tolerance, double x)
{
    std::uniform_real_distribution<double> size(2.0, 12.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int kind = int(random() % 6);
    const double a = size(random);
    const double b = size(random);
    Piece piece;
    switch (kind) {
    case 0: piece.shape = BRepPrimAPI_MakeBox(a, b, a).Shape(); break;
    case 1: piece.shape = BRepPrimAPI_MakeCylinder(a / 2, b).Shape(); break;
    case 2: piece.shape = BRepPrimAPI_MakeSphere(a / 2).Shape(); break;
    case 3: piece.shape = BRepPrimAPI_MakeCone(a / 2, a / 5, b).Shape(); break;
    case 4: piece.shape = BRepPrimAPI_MakeTorus(a / 2 + 1.0, a / 5).Shape(); break;
    default: {
        const SeamFault faults[] = {SeamFault::ExtraBorderNode, SeamFault::TwoBorderNodes,
                                    SeamFault::ShiftedCorner, SeamFault::NotchedBorder};
        const SeamFault fault = faults[random() % 4];
        // Within what each repair covers: a node on the edge within the
        // tolerance, a corner within a twentieth of it, a notch whose hole lies
        // within twice the tolerance of its middle.
        const bool onEdge
            = fault == SeamFault::ExtraBorderNode || fault == SeamFault::TwoBorderNodes;
        const double offset = onEdge                              ? 0.9 * tolerance * unit(random)
                              : fault == SeamFault::ShiftedCorner ? 0.04 * tolerance
                                                                  : 1.5 * tolerance;
        const double edge = fault == SeamFault::NotchedBorder ? 2.0 * tolerance : a;
        piece.shape = qor::fixtures::boxWithSeamFault(edge, fault, offset);
        piece.faulted = true;
    }
    }
    // A sound piece encloses what its own mesh does; a faulted box what the box does.
    if (!piece.faulted)
        BRepMesh_IncrementalMesh(piece.shape, tolerance, false, 0.4, false);
    piece.volume = piece.faulted ? qor::io::closedVolume(piece.shape)
                                 : signedVolume(qor::io::mergedMesh(piece.shape));
    gp_Trsf place;
    place.SetRotation(gp_Ax1(gp_Pnt(0, 0, 0), gp_Dir(unit(random), unit(random), 1.0)),
                      6.0 * unit(random));
    gp_Trsf move;
    move.SetTranslation(gp_Vec(x, 0, 0));
    place = move * place;
    if (random() % 3 == 0) {
        gp_Trsf mirror;
        mirror.SetMirror(gp_Ax2(gp_Pnt(x, 0, 0), gp_Dir(unit(random), 1.0, unit(random))));
        place = mirror * place;
    }
    piece.shape = piece.shape.Located(TopLoc_Location(place), false);
    return piece;
}

bool sameMesh(const qor::io::IndexedMesh& a, const qor::io::IndexedMesh& b)
{
    if (a.vertices.size() != b.vertices.size() || a.triangles != b.triangles)
        return false;
    for (std::size_t i = 0; i < a.vertices.size(); ++i) {
        if (!a.vertices[i].IsEqual(b.vertices[i], 0.0))
            return false;
    }
    return true;
}

} // namespace

TEST(MeshStitching, SoundMeshesStayAsTheyAreAndSeamsClose)
{
    unsigned first = qor::test::seed(0);
    unsigned count = 40;
    if (const int seeds = qEnvironmentVariableIntValue("QOR_STITCH_SEEDS"); seeds > 0) {
        first = unsigned(qEnvironmentVariableIntValue("QOR_STITCH_FIRST"));
        count = unsigned(seeds);
    }
    int faultedSeen = 0;
    int soundSeen = 0;
    for (unsigned seed = first; seed < first + count; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        const double tolerance = std::uniform_real_distribution<double>(0.01, 0.3)(random);
        // Pieces in a row, every other pair touching (the second starts where
        // the first could end), all in one body.
        TopoDS_Compound body;
        BRep_Builder builder;
        builder.MakeCompound(body);
        bool faulted = false;
        double volume = 0.0;
        const int pieces = 1 + int(random() % 4);
        for (int i = 0; i < pieces; ++i) {
            const Piece piece = randomPiece(random, tolerance, 30.0 * (i / 2) + 6.0 * (i % 2));
            builder.Add(body, piece.shape);
            faulted = faulted || piece.faulted;
            volume += piece.volume;
        }
        const qor::io::IndexedMesh before = qor::io::mergedMesh(body);
        qor::io::stitchFaceSeams(body, tolerance);
        qor::io::dropZeroAreaTriangles(body);
        const qor::io::IndexedMesh after = qor::io::mergedMesh(body);
        if (!faulted) {
            ++soundSeen;
            EXPECT_TRUE(sameMesh(before, after));
            continue;
        }
        ++faultedSeen;
        EXPECT_GT(qor::io::openEdgeCount(before), 0);
        EXPECT_EQ(qor::io::openEdgeCount(after), 0);
        EXPECT_EQ(qor::io::nonManifoldEdgeCount(after), qor::io::nonManifoldEdgeCount(before));
        // Facing out, mirrored or not, every edge run through once each way, and
        // within the tolerance of the surface.
        EXPECT_NEAR(signedVolume(after), volume, 0.02 * volume);
        EXPECT_NEAR(qor::io::meshVolume(body), volume, 0.02 * volume);
    }
    EXPECT_GT(faultedSeen, 0);
    EXPECT_GT(soundSeen, 0);
}

// Welding the nodes the writers' grid joins is a repair too: it leaves the mesh
// the grid sees as it was, and gives each of its vertices one position, on
// bodies of boxes whose faces meet a fraction of the grid step apart, on either
// side of cell borders, placed turned, mirrored or not, touching or not.
// QOR_WELD_SEEDS=N runs N bodies from seed QOR_WELD_FIRST instead of the usual ones.
TEST(MeshStitching, WeldingGivesEachGridVertexOnePositionAndKeepsTheMesh)
{
    unsigned first = 0;
    unsigned count = 60;
    if (const int seeds = qEnvironmentVariableIntValue("QOR_WELD_SEEDS"); seeds > 0) {
        first = unsigned(qEnvironmentVariableIntValue("QOR_WELD_FIRST"));
        count = unsigned(seeds);
    }
    long long moved = 0;
    for (unsigned seed = first; seed < first + count; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        // Within half a step along each axis: the nodes lie less than a step apart.
        std::uniform_real_distribution<double> shift(-5e-6, 5e-6);
        TopoDS_Compound body;
        BRep_Builder builder;
        builder.MakeCompound(body);
        const int pieces = 1 + int(random() % 4);
        for (int i = 0; i < pieces; ++i) {
            const gp_Pnt corner(1e-5 * unit(random), 1e-5 * unit(random), 1e-5 * unit(random));
            const TopoDS_Shape box = qor::fixtures::boxWithHairlineSeam(
                corner, 2.0 + 10.0 * unit(random),
                gp_Vec(shift(random), shift(random), shift(random)));
            gp_Trsf move;
            move.SetTranslation(gp_Vec(20.0 * (i / 2) + 12.0 * (i % 2), 0, 0));
            gp_Trsf turn;
            if (random() % 2 == 0)
                turn.SetRotation(gp_Ax1(gp_Pnt(0, 0, 0), gp_Dir(unit(random), unit(random), 1.0)),
                                 6.0 * unit(random));
            if (random() % 3 == 0) {
                gp_Trsf mirror;
                mirror.SetMirror(gp_Ax2(gp_Pnt(0, 0, 0), gp_Dir(unit(random), 1.0, unit(random))));
                turn = turn * mirror;
            }
            // Every other face placed in two steps, which round otherwise than one.
            int k = 0;
            for (TopExp_Explorer face(box, TopAbs_FACE); face.More(); face.Next(), ++k) {
                const TopLoc_Location placed = k % 2 == 0
                                                   ? TopLoc_Location(move * turn)
                                                   : TopLoc_Location(move) * TopLoc_Location(turn);
                builder.Add(body, face.Current().Moved(placed, false));
            }
        }
        const qor::io::IndexedMesh before = qor::io::mergedMesh(body);
        moved += qor::io::weldGridVertices(body);
        EXPECT_TRUE(sameMesh(qor::io::mergedMesh(body), before));
        EXPECT_EQ(qor::io::openEdgeCount(before), 0);
        // Every node at its vertex: exactly where the vertex's first node has the
        // same placement, within the last bits of a placement undone elsewhere.
        std::vector<gp_Pnt> nodes;
        for (const qor::io::FaceTriangles& face : qor::io::triangulatedFaces(body))
            nodes.insert(nodes.end(), face.nodes.begin(), face.nodes.end());
        std::vector<gp_Pnt> vertices;
        const std::vector<int> vertexOf = qor::io::gridVertices(nodes, vertices);
        for (std::size_t i = 0; i < nodes.size(); ++i)
            EXPECT_LE(nodes[i].Distance(vertices[std::size_t(vertexOf[i])]), 1e-12);
    }
    EXPECT_GT(moved, 0);
}
