#include "io/MeshFaces.h"

#include <BRep_Tool.hxx>
#include <Poly_Triangulation.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Face.hxx>

#include <algorithm>
#include <cmath>
#include <map>

namespace qor::io {

std::vector<FaceTriangles> triangulatedFaces(const TopoDS_Shape& shape)
{
    std::vector<FaceTriangles> faces;
    for (TopExp_Explorer ex(shape, TopAbs_FACE); ex.More(); ex.Next()) {
        const TopoDS_Face& face = TopoDS::Face(ex.Current());
        TopLoc_Location location;
        const Handle(Poly_Triangulation) tri = BRep_Tool::Triangulation(face, location);
        if (tri.IsNull())
            continue;
        FaceTriangles mesh;
        const gp_Trsf& trsf = location.Transformation();
        mesh.nodes.reserve(std::size_t(tri->NbNodes()));
        for (int i = 1; i <= tri->NbNodes(); ++i)
            mesh.nodes.push_back(tri->Node(i).Transformed(trsf));
        const bool reversed = face.Orientation() == TopAbs_REVERSED;
        const int nodeCount = tri->NbNodes();
        const auto isNode = [nodeCount](int n) { return n >= 1 && n <= nodeCount; };
        mesh.triangles.reserve(std::size_t(tri->NbTriangles()));
        for (int t = 1; t <= tri->NbTriangles(); ++t) {
            int n1 = 0, n2 = 0, n3 = 0;
            tri->Triangle(t).Get(n1, n2, n3);
            // Triangulations read from files are not checked by the kernel.
            if (!isNode(n1) || !isNode(n2) || !isNode(n3) || n1 == n2 || n2 == n3 || n1 == n3)
                continue;
            if (reversed)
                std::swap(n2, n3);
            mesh.triangles.push_back({n1 - 1, n2 - 1, n3 - 1});
        }
        faces.push_back(std::move(mesh));
    }
    return faces;
}

IndexedMesh mergedMesh(const TopoDS_Shape& shape)
{
    IndexedMesh mesh;
    std::map<std::array<long long, 3>, int> index;
    std::vector<int> nodeVertex;
    for (const FaceTriangles& face : triangulatedFaces(shape)) {
        nodeVertex.clear();
        for (const gp_Pnt& p : face.nodes) {
            const std::array<long long, 3> key{std::llround(100000.0 * p.X()),
                                               std::llround(100000.0 * p.Y()),
                                               std::llround(100000.0 * p.Z())};
            const auto [it, added] = index.try_emplace(key, int(mesh.vertices.size()));
            if (added)
                mesh.vertices.push_back(p);
            nodeVertex.push_back(it->second);
        }
        for (const auto& t : face.triangles) {
            const int a = nodeVertex[std::size_t(t[0])];
            const int b = nodeVertex[std::size_t(t[1])];
            const int c = nodeVertex[std::size_t(t[2])];
            if (a != b && b != c && a != c)
                mesh.triangles.push_back({a, b, c});
        }
    }
    return mesh;
}

std::vector<TopoDS_Shape> shellsAndLooseFaces(const TopoDS_Shape& shape)
{
    std::vector<TopoDS_Shape> pieces;
    for (TopExp_Explorer shell(shape, TopAbs_SHELL); shell.More(); shell.Next())
        pieces.push_back(shell.Current());
    for (TopExp_Explorer face(shape, TopAbs_FACE, TopAbs_SHELL); face.More(); face.Next())
        pieces.push_back(face.Current());
    return pieces;
}

bool isMeshOnly(const TopoDS_Shape& shape)
{
    TopExp_Explorer face(shape, TopAbs_FACE);
    if (!face.More())
        return false;
    for (; face.More(); face.Next()) {
        TopLoc_Location location;
        if (!BRep_Tool::Surface(TopoDS::Face(face.Current()), location).IsNull())
            return false;
    }
    return true;
}

int colourByte(double component)
{
    return int(std::lround(255.0 * std::clamp(component > 0.0 ? component : 0.0, 0.0, 1.0)));
}

} // namespace qor::io
