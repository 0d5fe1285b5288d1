#include "io/MeshSewing.h"

#include "io/ClosedVolume.h"
#include "io/MeshFaces.h"

#include <BRepBndLib.hxx>
#include <BRepClass3d_SolidClassifier.hxx>
#include <BRepLib.hxx>
#include <BRepLib_MakeEdge.hxx>
#include <BRepLib_MakeFace.hxx>
#include <BRepLib_MakeVertex.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <TopExp_Explorer.hxx>
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

        std::vector<TopoDS_Shape> pieces;
        std::vector<TopoDS_Solid> closedPieces;
        for (auto& [piece, shell] : shells) {
            if (closed[piece])
                closedPieces.push_back(solidOf(shell));
            else
                pieces.push_back(shell);
        }
        for (TopoDS_Solid& solid : nestedSolids(closedPieces))
            pieces.push_back(solid);
        if (pieces.size() == 1)
            return pieces.front();
        TopoDS_Compound result;
        builder_.MakeCompound(result);
        for (const TopoDS_Shape& piece : pieces)
            builder_.Add(result, piece);
        return result;
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

    TopoDS_Solid solidOf(TopoDS_Shell& shell)
    {
        shell.Closed(true);
        TopoDS_Solid solid;
        builder_.MakeSolid(solid);
        builder_.Add(solid, shell);
        // Mesh files do not always wind their triangles outward.
        BRepLib::OrientClosedSolid(solid);
        return solid;
    }

    // A closed shell inside another is a void of it, not a body of its own: mesh files
    // give a hollow part as an outer and an inner surface. A shell inside a void is an
    // island, a body again. The solids come in as one per shell, faced outward.
    std::vector<TopoDS_Solid> nestedSolids(std::vector<TopoDS_Solid> solids)
    {
        std::vector<double> volumes;
        std::vector<Bnd_Box> boxes(solids.size());
        for (std::size_t i = 0; i < solids.size(); ++i) {
            volumes.push_back(closedVolume(solids[i]));
            BRepBndLib::Add(solids[i], boxes[i]);
        }
        std::vector<std::size_t> order(solids.size());
        std::iota(order.begin(), order.end(), std::size_t(0));
        std::sort(order.begin(), order.end(),
                  [&volumes](std::size_t a, std::size_t b) { return volumes[a] > volumes[b]; });

        // Larger first: a shell's parent is the smallest earlier one around it.
        std::vector<int> parent(solids.size(), -1);
        std::vector<int> depth(solids.size(), 0);
        for (std::size_t k = 0; k < order.size(); ++k) {
            const std::size_t i = order[k];
            const TopExp_Explorer corner(solids[i], TopAbs_VERTEX);
            const gp_Pnt probe = BRep_Tool::Pnt(TopoDS::Vertex(corner.Current()));
            for (std::size_t m = k; m-- > 0;) {
                const std::size_t j = order[m];
                if (volumes[j] <= volumes[i] || boxes[j].IsOut(probe))
                    continue;
                BRepClass3d_SolidClassifier inside(solids[j], probe, 1e-7);
                if (inside.State() == TopAbs_IN) {
                    parent[i] = int(j);
                    depth[i] = depth[j] + 1;
                    break;
                }
            }
        }

        std::vector<TopoDS_Solid> result;
        std::map<int, std::size_t> outerOf; // solid index -> index into result
        for (std::size_t i : order) {
            if (depth[i] % 2 == 0) {
                outerOf[int(i)] = result.size();
                result.push_back(solids[i]);
                continue;
            }
            // A void: its shell, faced into the body around it.
            TopoDS_Solid& outer = result[outerOf.at(parent[i])];
            TopoDS_Iterator shell(solids[i]);
            TopoDS_Solid combined;
            builder_.MakeSolid(combined);
            for (TopoDS_Iterator it(outer); it.More(); it.Next())
                builder_.Add(combined, it.Value());
            builder_.Add(combined, shell.Value().Reversed());
            outer = combined;
        }
        return result;
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
