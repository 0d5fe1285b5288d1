#include "view/CreasedMesh.h"

#include "io/MeshFaces.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace qor::app {

namespace {

// For each vertex the triangles that have it, as one list cut into runs: the triangles of
// vertex v are entries first[v] … first[v + 1] - 1 of `triangles`.
struct VertexTriangles {
    std::vector<int> first;
    std::vector<int> triangles;
};

VertexTriangles vertexTriangles(const io::IndexedMesh& mesh)
{
    VertexTriangles around;
    around.first.assign(mesh.vertices.size() + 1, 0);
    for (const auto& t : mesh.triangles) {
        for (const int v : t)
            ++around.first[std::size_t(v) + 1];
    }
    for (std::size_t v = 1; v < around.first.size(); ++v)
        around.first[v] += around.first[v - 1];
    around.triangles.resize(3 * mesh.triangles.size());
    std::vector<int> next(around.first.begin(), around.first.end() - 1);
    for (std::size_t t = 0; t < mesh.triangles.size(); ++t) {
        for (const int v : mesh.triangles[t])
            around.triangles[std::size_t(next[std::size_t(v)]++)] = int(t);
    }
    return around;
}

// The normal of each triangle weighted by its area (twice it), and of unit length.
void triangleNormals(const io::IndexedMesh& mesh, std::vector<gp_Vec>& weighted,
                     std::vector<gp_Vec>& unit)
{
    weighted.reserve(mesh.triangles.size());
    unit.reserve(mesh.triangles.size());
    for (const auto& t : mesh.triangles) {
        const gp_Pnt& a = mesh.vertices[std::size_t(t[0])];
        const gp_Vec n = gp_Vec(a, mesh.vertices[std::size_t(t[1])])
                             .Crossed(gp_Vec(a, mesh.vertices[std::size_t(t[2])]));
        weighted.push_back(n);
        const double length = n.Magnitude();
        // A triangle without area has no direction and joins no group.
        unit.push_back(length > 1e-300 ? n / length : gp_Vec());
    }
}

// The sharp edges and rims: each edge with the triangles on it, sorted so that the uses of
// one edge lie together.
std::vector<std::pair<gp_Pnt, gp_Pnt>> creaseLines(const io::IndexedMesh& mesh,
                                                   const std::vector<gp_Vec>& unit, double cosine)
{
    std::vector<std::pair<std::uint64_t, int>> uses;
    uses.reserve(3 * mesh.triangles.size());
    for (std::size_t t = 0; t < mesh.triangles.size(); ++t) {
        const auto& v = mesh.triangles[t];
        for (std::size_t k = 0; k < 3; ++k)
            uses.emplace_back(io::edgeKey(v[k], v[(k + 1) % 3]), int(t));
    }
    std::sort(uses.begin(), uses.end());
    std::vector<std::pair<gp_Pnt, gp_Pnt>> lines;
    for (std::size_t i = 0; i < uses.size();) {
        std::size_t j = i;
        while (j < uses.size() && uses[j].first == uses[i].first)
            ++j;
        const bool sharp
            = j - i != 2
              || unit[std::size_t(uses[i].second)].Dot(unit[std::size_t(uses[i + 1].second)])
                     < cosine;
        if (sharp) {
            const std::uint64_t key = uses[i].first;
            lines.emplace_back(mesh.vertices[std::size_t(key >> 32)],
                               mesh.vertices[std::size_t(key & 0xffffffffu)]);
        }
        i = j;
    }
    return lines;
}

} // namespace

CreasedMesh creasedMesh(const TopoDS_Shape& shape, double creaseAngle)
{
    const io::IndexedMesh mesh = io::mergedMesh(shape);
    const double cosine = std::cos(creaseAngle);
    std::vector<gp_Vec> weighted;
    std::vector<gp_Vec> unit;
    triangleNormals(mesh, weighted, unit);
    const VertexTriangles around = vertexTriangles(mesh);

    CreasedMesh creased;
    creased.triangles.resize(mesh.triangles.size());
    // The nodes made for each vertex so far, by their normal: few per vertex.
    std::vector<std::vector<int>> made(mesh.vertices.size());
    for (std::size_t t = 0; t < mesh.triangles.size(); ++t) {
        for (std::size_t k = 0; k < 3; ++k) {
            const int v = mesh.triangles[t][k];
            gp_Vec sum;
            for (int at = around.first[std::size_t(v)]; at < around.first[std::size_t(v) + 1];
                 ++at) {
                const std::size_t other = std::size_t(around.triangles[std::size_t(at)]);
                if (unit[t].Dot(unit[other]) >= cosine)
                    sum += weighted[other];
            }
            const double length = sum.Magnitude();
            const gp_Vec normal = length > 1e-300 ? sum / length : gp_Vec(0.0, 0.0, 1.0);
            std::vector<int>& nodes = made[std::size_t(v)];
            // Corners of one smooth region sum the same triangles in the same order.
            const auto same = std::find_if(nodes.begin(), nodes.end(), [&](int node) {
                const gp_Vec& n = creased.normals[std::size_t(node)];
                return n.X() == normal.X() && n.Y() == normal.Y() && n.Z() == normal.Z();
            });
            if (same != nodes.end()) {
                creased.triangles[t][k] = *same;
                continue;
            }
            nodes.push_back(int(creased.nodes.size()));
            creased.triangles[t][k] = nodes.back();
            creased.nodes.push_back(mesh.vertices[std::size_t(v)]);
            creased.normals.push_back(normal);
        }
    }
    creased.creases = creaseLines(mesh, unit, cosine);
    return creased;
}

} // namespace qor::app
