#include "view/CreasedMesh.h"

#include "io/Import.h"
#include "tests/common/TempFiles.h"
#include "tests/fixtures/StlFixtures.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

using qor::fixtures::Triangle;

// The body an STL file of the triangles gives: one face of triangles whose nodes the
// reader shares.
TopoDS_Shape stlBody(const std::vector<Triangle>& triangles)
{
    const QTemporaryDir dir;
    const QString path = qor::test::writeFile(
        dir, QStringLiteral("teil.stl"),
        qor::fixtures::binaryStl(triangles, std::uint32_t(triangles.size())));
    const qor::io::ImportResult read = qor::io::readInThisProcess(path, {}, {});
    EXPECT_TRUE(read.ok) << read.error.toStdString();
    return read.ok ? read.bodies.front().shape : TopoDS_Shape();
}

gp_Vec faceNormal(const qor::app::CreasedMesh& mesh, const std::array<int, 3>& t)
{
    const gp_Pnt& a = mesh.nodes[std::size_t(t[0])];
    return gp_Vec(a, mesh.nodes[std::size_t(t[1])])
        .Crossed(gp_Vec(a, mesh.nodes[std::size_t(t[2])]))
        .Normalized();
}

constexpr double crease = 40.0 * std::numbers::pi / 180.0;

} // namespace

// Every edge of a tetrahedron is sharp: each corner takes its own triangle's normal, and all
// six edges are lines.
TEST(CreasedMesh, SharpEdgesPartTheNormals)
{
    const qor::app::CreasedMesh mesh
        = qor::app::creasedMesh(stlBody(qor::fixtures::tetrahedron(20)), crease);
    ASSERT_EQ(mesh.triangles.size(), 4u);
    EXPECT_EQ(mesh.nodes.size(), 12u);
    EXPECT_EQ(mesh.creases.size(), 6u);
    for (const auto& t : mesh.triangles) {
        const gp_Vec own = faceNormal(mesh, t);
        // Facing out of the tetrahedron, whose centre is at (5, 5, 5).
        EXPECT_GT(own.Dot(gp_Vec(gp_Pnt(5, 5, 5), mesh.nodes[std::size_t(t[0])])), 0.0);
        for (const int node : t)
            EXPECT_LT((mesh.normals[std::size_t(node)] - own).Magnitude(), 1e-9);
    }
}

// The plate's flat faces are lit flat however their triangles fan out to the holes, the
// walls of the holes are lit round without taking light from the faces they meet, and the
// sharp edges are lines while the smooth wall between the slot's round ends and its flat
// sides is none.
TEST(CreasedMesh, FlatFacesStayFlatAndRoundWallsRound)
{
    const qor::app::CreasedMesh mesh = qor::app::creasedMesh(
        stlBody(qor::fixtures::meshedTriangles(qor::fixtures::perforatedPlate(), 0.05)), crease);
    ASSERT_GT(mesh.triangles.size(), 200u);
    int walls = 0;
    for (const auto& t : mesh.triangles) {
        const gp_Vec own = faceNormal(mesh, t);
        for (const int node : t) {
            const gp_Vec& normal = mesh.normals[std::size_t(node)];
            if (std::abs(own.Z()) > 0.999)
                EXPECT_LT((normal - own).Magnitude(), 1e-9);
            else
                EXPECT_LT(std::abs(normal.Z()), 1e-9);
        }
        walls += std::abs(own.Z()) > 0.999 ? 0 : 1;
    }
    EXPECT_GT(walls, 100);
    // Shared along the walls: far fewer nodes than corners.
    EXPECT_LT(mesh.nodes.size(), 2 * mesh.triangles.size());
    for (const auto& [from, to] : mesh.creases) {
        const bool rim = (std::abs(from.Z()) < 1e-4 || std::abs(from.Z() - 10) < 1e-4)
                         && std::abs(from.Z() - to.Z()) < 1e-4;
        // Else one of the plate's four upright corners.
        const bool corner = std::abs(from.X() - to.X()) < 1e-4 && std::abs(from.Y() - to.Y()) < 1e-4
                            && (std::abs(from.X()) < 1e-4 || std::abs(from.X() - 80) < 1e-4)
                            && (std::abs(from.Y()) < 1e-4 || std::abs(from.Y() - 40) < 1e-4);
        EXPECT_TRUE(rim || corner) << from.X() << " " << from.Y() << " " << from.Z();
    }
}
