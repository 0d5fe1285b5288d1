#include "io/MeshSewing.h"

#include "io/MeshFaces.h"

#include <BRepLib.hxx>
#include <BRepLib_MakeEdge.hxx>
#include <BRepLib_MakeFace.hxx>
#include <BRepLib_MakeVertex.hxx>
#include <BRep_Builder.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Edge.hxx>
#include <TopoDS_Face.hxx>
#include <TopoDS_Iterator.hxx>
#include <TopoDS_Shell.hxx>
#include <TopoDS_Solid.hxx>
#include <TopoDS_Vertex.hxx>
#include <TopoDS_Wire.hxx>
#include <gp_Pln.hxx>
#include <gp_Vec.hxx>

#include <algorithm>
#include <map>
#include <numeric>
#include <utility>

namespace qor::io {

namespace {

using EdgeKey = std::pair<int, int>; // vertex indices, smaller first

struct SharedEdge {
    TopoDS_Edge edge; // runs from the smaller to the larger vertex index
    int uses = 0;
    int firstTriangle = -1;
};

// Union-find over triangles: triangles joined by an edge end up in one piece.
int root(std::vector<int>& parent, int i)
{
    while (parent[std::size_t(i)] != i)
        i = parent[std::size_t(i)] = parent[std::size_t(parent[std::size_t(i)])];
    return i;
}

class TriangleSewer {
public:
    explicit TriangleSewer(IndexedMesh mesh)
        : mesh_(std::move(mesh))
        , vertices_(mesh_.vertices.size())
        , parent_(mesh_.triangles.size())
    {
        std::iota(parent_.begin(), parent_.end(), 0);
    }

    TopoDS_Shape sew()
    {
        std::vector<TopoDS_Face> faces(mesh_.triangles.size());
        for (std::size_t t = 0; t < mesh_.triangles.size(); ++t)
            faces[t] = face(int(t));

        std::map<int, TopoDS_Shell> shells;
        std::map<int, bool> closed;
        for (std::size_t t = 0; t < faces.size(); ++t) {
            if (faces[t].IsNull())
                continue;
            const int piece = root(parent_, int(t));
            auto [it, added] = shells.try_emplace(piece);
            if (added) {
                builder_.MakeShell(it->second);
                closed[piece] = true;
            }
            builder_.Add(it->second, faces[t]);
        }
        for (const auto& [key, edge] : edges_) {
            if (edge.uses != 2)
                closed[root(parent_, edge.firstTriangle)] = false;
        }

        TopoDS_Compound result;
        builder_.MakeCompound(result);
        for (auto& [piece, shell] : shells)
            builder_.Add(result, closed[piece] ? solidOf(shell) : TopoDS_Shape(shell));
        TopoDS_Iterator only(result);
        return shells.size() == 1 ? only.Value() : TopoDS_Shape(result);
    }

private:
    const TopoDS_Vertex& vertex(int i)
    {
        TopoDS_Vertex& v = vertices_[std::size_t(i)];
        if (v.IsNull())
            v = BRepLib_MakeVertex(mesh_.vertices[std::size_t(i)]);
        return v;
    }

    // The edge from vertex a to vertex b, built once and shared by both triangles.
    TopoDS_Edge edge(int a, int b, int triangle)
    {
        const EdgeKey key = std::minmax(a, b);
        SharedEdge& shared = edges_[key];
        if (shared.edge.IsNull()) {
            shared.edge = BRepLib_MakeEdge(vertex(key.first), vertex(key.second));
            shared.firstTriangle = triangle;
        } else {
            parent_[std::size_t(root(parent_, triangle))] = root(parent_, shared.firstTriangle);
        }
        ++shared.uses;
        return a == key.first ? shared.edge : TopoDS::Edge(shared.edge.Reversed());
    }

    // A null face for a triangle without area; its neighbours then stay open there.
    TopoDS_Face face(int t)
    {
        const auto [a, b, c] = mesh_.triangles[std::size_t(t)];
        const gp_Pnt& pa = mesh_.vertices[std::size_t(a)];
        const gp_Vec normal = gp_Vec(pa, mesh_.vertices[std::size_t(b)])
                                  .Crossed(gp_Vec(pa, mesh_.vertices[std::size_t(c)]));
        if (normal.Magnitude() <= 1e-12)
            return {};
        TopoDS_Wire wire;
        builder_.MakeWire(wire);
        builder_.Add(wire, edge(a, b, t));
        builder_.Add(wire, edge(b, c, t));
        builder_.Add(wire, edge(c, a, t));
        wire.Closed(true);
        BRepLib_MakeFace made(gp_Pln(pa, gp_Dir(normal)), wire, true);
        return made.IsDone() ? made.Face() : TopoDS_Face();
    }

    TopoDS_Shape solidOf(TopoDS_Shell& shell)
    {
        shell.Closed(true);
        TopoDS_Solid solid;
        builder_.MakeSolid(solid);
        builder_.Add(solid, shell);
        // Mesh files do not always wind their triangles outward.
        BRepLib::OrientClosedSolid(solid);
        return solid;
    }

    IndexedMesh mesh_;
    std::vector<TopoDS_Vertex> vertices_;
    std::vector<int> parent_;
    std::map<EdgeKey, SharedEdge> edges_;
    BRep_Builder builder_;
};

} // namespace

TopoDS_Shape sewnTriangleFaces(const TopoDS_Shape& mesh)
{
    IndexedMesh triangles = mergedMesh(mesh);
    if (triangles.triangles.size() > std::size_t(maxSewnTriangles))
        return {};
    return TriangleSewer(std::move(triangles)).sew();
}

} // namespace qor::io
