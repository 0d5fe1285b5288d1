#include "io/MeshStitching.h"

#include "io/MeshFaces.h"

#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Poly_PolygonOnTriangulation.hxx>
#include <Poly_Triangulation.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Edge.hxx>
#include <TopoDS_Face.hxx>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <numeric>
#include <set>
#include <vector>

namespace qor::io {

namespace {

// One face's triangulation as the body's mesh sees it.
struct FaceMesh {
    TopoDS_Face face;
    Handle(Poly_Triangulation) tri;
    TopLoc_Location location; // of the triangulation
    gp_Trsf placement; // from the triangulation's coordinates to the world
    bool turned = false; // faces out with its second and third corners swapped
    int first = 0; // its first node among the body's nodes
};

// An edge that only one triangle has, in the direction that triangle runs
// through it, with where the triangle is stored.
struct OpenEdge {
    int from = 0;
    int to = 0;
    int face = 0;
    int triangle = 0; // from 1, as the triangulation counts
    int corner = 0; // the stored edge runs from this corner to the next
};

// The body's faces, their nodes merged as the writers merge them, and the edges
// of one triangle only.
class BodyMesh {
public:
    explicit BodyMesh(const TopoDS_Shape& shape)
    {
        std::map<const Poly_Triangulation*, int> uses;
        std::vector<gp_Pnt> nodes;
        const FaceWinding winding(shape);
        for (TopExp_Explorer ex(shape, TopAbs_FACE); ex.More(); ex.Next()) {
            FaceMesh face;
            face.face = TopoDS::Face(ex.Current());
            TopLoc_Location location;
            face.tri = BRep_Tool::Triangulation(face.face, location);
            if (face.tri.IsNull())
                continue;
            face.location = location;
            face.placement = location.Transformation();
            face.turned = (face.face.Orientation() == TopAbs_REVERSED) != winding.turned(face.face);
            face.first = int(nodes.size());
            for (int i = 1; i <= face.tri->NbNodes(); ++i)
                nodes.push_back(face.tri->Node(i).Transformed(face.placement));
            ++uses[face.tri.get()];
            faces.push_back(face);
        }
        for (const FaceMesh& face : faces)
            shared.push_back(uses[face.tri.get()] > 1);
        vertexOf = gridVertices(nodes, vertices);
        findOpenEdges();
        findRim(shape);
    }

    // Whether the open edge runs along an edge of the model that only one face has.
    bool onRim(const OpenEdge& e) const
    {
        return std::binary_search(rim_.begin(), rim_.end(), edgeKey(e.from, e.to));
    }

    // The stored corners of a triangle as body vertices; false when it names a
    // node the triangulation lacks or two corners are one vertex.
    bool corners(int f, int t, std::array<int, 3>& raw, std::array<int, 3>& vertex) const
    {
        const FaceMesh& face = faces[std::size_t(f)];
        face.tri->Triangle(t).Get(raw[0], raw[1], raw[2]);
        for (std::size_t k = 0; k < 3; ++k) {
            if (raw[k] < 1 || raw[k] > face.tri->NbNodes())
                return false;
            vertex[k] = vertexOf[std::size_t(face.first + raw[k] - 1)];
        }
        return vertex[0] != vertex[1] && vertex[1] != vertex[2] && vertex[0] != vertex[2];
    }

    // How many triangles have the edge between the two vertices.
    int uses(int a, int b) const
    {
        const auto range = std::equal_range(edgeKeys.begin(), edgeKeys.end(), edgeKey(a, b));
        return int(range.second - range.first);
    }

    std::vector<FaceMesh> faces;
    std::vector<bool> shared; // a triangulation more than one face of the body shows
    std::vector<gp_Pnt> vertices;
    std::vector<int> vertexOf;
    std::vector<OpenEdge> open;
    std::vector<std::uint64_t> edgeKeys; // every triangle's edges, sorted

private:
    // The pieces of the polygons of the edges only one face of the model has: the
    // model's own border, whose holes are the model's and no gap of the mesh.
    void findRim(const TopoDS_Shape& shape)
    {
        TopTools_IndexedDataMapOfShapeListOfShape facesOfEdge;
        TopExp::MapShapesAndUniqueAncestors(shape, TopAbs_EDGE, TopAbs_FACE, facesOfEdge);
        for (const FaceMesh& face : faces) {
            for (TopExp_Explorer ex(face.face, TopAbs_EDGE); ex.More(); ex.Next()) {
                const TopoDS_Edge& edge = TopoDS::Edge(ex.Current());
                const int index = facesOfEdge.FindIndex(edge);
                if (index == 0 || facesOfEdge(index).Extent() != 1 || BRep_Tool::Degenerated(edge)
                    || BRep_Tool::IsClosed(edge, face.face))
                    continue;
                const Handle(Poly_PolygonOnTriangulation) polygon
                    = BRep_Tool::PolygonOnTriangulation(edge, face.tri, face.location);
                if (polygon.IsNull())
                    continue;
                for (int i = 1; i < polygon->NbNodes(); ++i) {
                    const int a = polygon->Node(i);
                    const int b = polygon->Node(i + 1);
                    if (std::min(a, b) >= 1 && std::max(a, b) <= face.tri->NbNodes())
                        rim_.push_back(edgeKey(vertexOf[std::size_t(face.first + a - 1)],
                                               vertexOf[std::size_t(face.first + b - 1)]));
                }
            }
        }
        std::sort(rim_.begin(), rim_.end());
    }

    void findOpenEdges()
    {
        std::vector<std::pair<std::uint64_t, OpenEdge>> edges;
        for (std::size_t f = 0; f < faces.size(); ++f) {
            for (int t = 1; t <= faces[f].tri->NbTriangles(); ++t) {
                std::array<int, 3> raw{};
                std::array<int, 3> v{};
                if (!corners(int(f), t, raw, v))
                    continue;
                for (int k = 0; k < 3; ++k) {
                    int from = v[std::size_t(k)];
                    int to = v[std::size_t((k + 1) % 3)];
                    if (faces[f].turned)
                        std::swap(from, to);
                    edges.push_back({edgeKey(from, to), {from, to, int(f), t, k}});
                }
            }
        }
        std::sort(edges.begin(), edges.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        edgeKeys.reserve(edges.size());
        for (const auto& edge : edges)
            edgeKeys.push_back(edge.first);
        for (std::size_t i = 0; i < edges.size();) {
            std::size_t j = i;
            while (j < edges.size() && edges[j].first == edges[i].first)
                ++j;
            if (j - i == 1)
                open.push_back(edges[i].second);
            i = j;
        }
    }

    std::vector<std::uint64_t> rim_; // sorted
};

// The borders the open edges form: vertices joined by open edges lie on one
// (union-find over the vertices), and the vertices in order of x for searches
// by position.
class Borders {
public:
    Borders(const std::vector<OpenEdge>& open, const std::vector<gp_Pnt>& vertices)
    {
        for (const OpenEdge& e : open) {
            parent_.try_emplace(e.from, e.from);
            parent_.try_emplace(e.to, e.to);
        }
        for (const OpenEdge& e : open)
            parent_[of(e.from)] = of(e.to);
        for (const auto& [vertex, up] : parent_)
            byX.emplace_back(vertices[std::size_t(vertex)].X(), vertex);
        std::sort(byX.begin(), byX.end());
    }

    // The border of a vertex of an open edge.
    int of(int v)
    {
        while (parent_[v] != v)
            v = parent_[v] = parent_[parent_[v]];
        return v;
    }

    std::vector<std::pair<double, int>> byX;

private:
    std::map<int, int> parent_;
};

// What becomes of one face's triangulation: nodes added after its own, and
// triangles replaced or added, all in its stored winding.
struct FaceEdit {
    std::vector<gp_Pnt> nodes; // world positions
    std::vector<int> nearest; // the stored node each added node takes its UV and normal from
    std::map<int, int> nodeOfVertex; // body vertex -> added node, from 1
    std::set<int> removed;
    std::vector<std::array<int, 3>> triangles;
};

class Stitcher {
public:
    Stitcher(BodyMesh& mesh, double tolerance)
        : mesh_(mesh)
        , tolerance_(tolerance)
    {
    }

    // Splits open edges at the other side's nodes; returns how many triangles.
    // The open edges fall into borders (joined by their vertices); a border's
    // splits are made only when afterwards every piece of a split edge has
    // exactly two triangles: the seam closes, and no edge gets a third.
    int split()
    {
        Borders borders(mesh_.open, mesh_.vertices);
        const std::set<int> holes = modelHoles(borders);

        // Per border: each split edge with the vertices on it, by their parameter.
        std::map<int, std::vector<std::pair<const OpenEdge*, std::vector<std::pair<double, int>>>>>
            byBorder;
        for (const OpenEdge& e : mesh_.open) {
            if (mesh_.shared[std::size_t(e.face)] || holes.count(borders.of(e.from)) > 0)
                continue;
            std::vector<std::pair<double, int>> on = pointsOn(e, borders);
            if (on.empty())
                continue;
            std::sort(on.begin(), on.end());
            byBorder[borders.of(e.from)].emplace_back(&e, std::move(on));
        }

        int count = 0;
        for (const auto& [border, splits] : byBorder) {
            if (!closesSeam(splits))
                continue;
            for (const auto& [edge, on] : splits) {
                const bool stored = !mesh_.faces[std::size_t(edge->face)].turned;
                std::vector<std::array<double, 3>> points;
                for (const auto& [s, v] : on)
                    points.push_back({double(edge->corner), stored ? s : 1.0 - s, double(v)});
                pending_[{edge->face, edge->triangle}].insert(
                    pending_[{edge->face, edge->triangle}].end(), points.begin(), points.end());
            }
        }
        for (auto& [where, points] : pending_) {
            splitTriangle(where.first, where.second, points);
            ++count;
        }
        pending_.clear();
        apply();
        return count;
    }

    // Moves the borders' vertices that lie within `distance` of each other onto
    // one point: a reader that joins close corners would find no edge between
    // them, the writers' grid finds one. Returns how many vertices moved; the
    // triangles this collapses are taken out by the caller.
    int snap(double distance)
    {
        Borders borders(mesh_.open, mesh_.vertices);
        const std::set<int> holes = modelHoles(borders);
        std::vector<std::pair<double, int>> byX;
        for (const auto& vertex : borders.byX) {
            if (holes.count(borders.of(vertex.second)) == 0)
                byX.push_back(vertex);
        }
        std::map<int, int> onto;
        for (std::size_t i = 0; i < byX.size(); ++i) {
            const int v = byX[i].second;
            if (onto.count(v) > 0)
                continue;
            for (std::size_t j = i + 1; j < byX.size() && byX[j].first - byX[i].first <= distance;
                 ++j) {
                const int w = byX[j].second;
                if (onto.count(w) == 0
                    && mesh_.vertices[std::size_t(v)].Distance(mesh_.vertices[std::size_t(w)])
                           <= distance)
                    onto[w] = v;
            }
        }
        if (onto.empty())
            return 0;
        for (std::size_t f = 0; f < mesh_.faces.size(); ++f) {
            const FaceMesh& face = mesh_.faces[f];
            if (mesh_.shared[f])
                continue;
            for (int i = 1; i <= face.tri->NbNodes(); ++i) {
                const auto moved = onto.find(mesh_.vertexOf[std::size_t(face.first + i - 1)]);
                if (moved != onto.end())
                    face.tri->SetNode(i, mesh_.vertices[std::size_t(moved->second)].Transformed(
                                             face.placement.Inverted()));
            }
        }
        return int(onto.size());
    }

    // Fills the holes whose border closes on itself and lies near its middle;
    // returns how many.
    int fill()
    {
        std::map<int, int> outOf;
        std::map<int, int> into;
        for (std::size_t i = 0; i < mesh_.open.size(); ++i) {
            ++outOf[mesh_.open[i].from];
            ++into[mesh_.open[i].to];
        }
        Borders borders(mesh_.open, mesh_.vertices);
        const std::set<int> holes = modelHoles(borders);
        std::map<int, std::vector<const OpenEdge*>> loops;
        for (const OpenEdge& e : mesh_.open) {
            if (holes.count(borders.of(e.from)) == 0)
                loops[borders.of(e.from)].push_back(&e);
        }

        int filled = 0;
        for (const auto& [key, edges] : loops) {
            const int face = edges.front()->face;
            if (edges.size() < 3 || mesh_.shared[std::size_t(face)])
                continue;
            gp_XYZ sum(0, 0, 0);
            bool closes = true;
            for (const OpenEdge* e : edges) {
                closes = closes && outOf[e->from] == 1 && into[e->from] == 1;
                sum += mesh_.vertices[std::size_t(e->from)].XYZ();
            }
            const gp_Pnt middle(sum / double(edges.size()));
            const bool near = std::all_of(edges.begin(), edges.end(), [&](const OpenEdge* e) {
                return mesh_.vertices[std::size_t(e->from)].Distance(middle) <= 2.0 * tolerance_;
            });
            if (!closes || !near)
                continue;
            FaceEdit& edit = edits_[face];
            const int centre = addNode(face, middle, -1, 1);
            for (const OpenEdge* e : edges) {
                const int a = nodeOf(face, e->to);
                const int b = nodeOf(face, e->from);
                // The hole's triangle runs through the edge the other way.
                if (mesh_.faces[std::size_t(face)].turned)
                    edit.triangles.push_back({a, centre, b});
                else
                    edit.triangles.push_back({a, b, centre});
            }
            ++filled;
        }
        apply();
        return filled;
    }

private:
    // The borders that are loops of the model itself: every open edge runs along an
    // edge of one face only, and all of one face. However small a coarse mesh makes
    // such a hole look, it is no gap between faces: nothing is moved, split or filled
    // there. Faces that meet without sharing their edges make borders of several faces.
    std::set<int> modelHoles(Borders& borders) const
    {
        std::map<int, int> faceOf; // -1 where the border is no hole of one face
        for (const OpenEdge& e : mesh_.open) {
            const auto [it, added] = faceOf.try_emplace(borders.of(e.from), e.face);
            if (!mesh_.onRim(e) || it->second != e.face)
                it->second = -1;
        }
        std::set<int> holes;
        for (const auto& [border, face] : faceOf) {
            if (face >= 0)
                holes.insert(border);
        }
        return holes;
    }

    // Vertices of the edge's own border that lie on it, within the tolerance and
    // strictly between its ends, with their parameter from `from` to `to`.
    std::vector<std::pair<double, int>> pointsOn(const OpenEdge& e, Borders& borders) const
    {
        std::vector<std::pair<double, int>> on;
        const gp_Pnt& p = mesh_.vertices[std::size_t(e.from)];
        const gp_Pnt& q = mesh_.vertices[std::size_t(e.to)];
        const gp_Vec along(p, q);
        const double length2 = along.SquareMagnitude();
        if (length2 <= 0.0)
            return on;
        const int border = borders.of(e.from);
        const std::vector<std::pair<double, int>>& byX = borders.byX;
        const double low = std::min(p.X(), q.X()) - tolerance_;
        const double high = std::max(p.X(), q.X()) + tolerance_;
        for (auto it = std::lower_bound(byX.begin(), byX.end(), std::make_pair(low, -1));
             it != byX.end() && it->first <= high; ++it) {
            const int v = it->second;
            if (v == e.from || v == e.to || borders.of(v) != border)
                continue;
            const gp_Pnt& point = mesh_.vertices[std::size_t(v)];
            const double s = gp_Vec(p, point).Dot(along) / length2;
            if (s > 0.0 && s < 1.0 && distanceToLine(point, p, q) <= tolerance_)
                on.emplace_back(s, v);
        }
        return on;
    }

    // True when, after the border's splits, every piece of a split edge has two
    // triangles: those it has now (less the split edge itself) and the pieces
    // the splits make.
    bool closesSeam(
        const std::vector<std::pair<const OpenEdge*, std::vector<std::pair<double, int>>>>& splits)
        const
    {
        std::set<std::uint64_t> removed;
        std::map<std::uint64_t, std::array<int, 2>> pieces; // key -> ends
        std::map<std::uint64_t, int> added;
        for (const auto& [edge, on] : splits) {
            removed.insert(edgeKey(edge->from, edge->to));
            int last = edge->from;
            for (std::size_t i = 0; i <= on.size(); ++i) {
                const int next = i < on.size() ? on[i].second : edge->to;
                ++added[edgeKey(last, next)];
                pieces[edgeKey(last, next)] = {last, next};
                last = next;
            }
        }
        for (const auto& [key, ends] : pieces) {
            const int now = mesh_.uses(ends[0], ends[1]) - int(removed.count(key));
            if (now + added[key] != 2)
                return false;
        }
        return true;
    }

    static double distanceToLine(const gp_Pnt& point, const gp_Pnt& p, const gp_Pnt& q)
    {
        const gp_Vec along(p, q);
        return gp_Vec(p, point).Crossed(along).Magnitude() / along.Magnitude();
    }

    int nodeCount(int face) const { return mesh_.faces[std::size_t(face)].tri->NbNodes(); }

    // A node of the face at the body vertex: one of its own, else one added.
    int nodeOf(int face, int vertex)
    {
        const FaceMesh& f = mesh_.faces[std::size_t(face)];
        for (int i = 1; i <= f.tri->NbNodes(); ++i) {
            if (mesh_.vertexOf[std::size_t(f.first + i - 1)] == vertex)
                return i;
        }
        FaceEdit& edit = edits_[face];
        const auto known = edit.nodeOfVertex.find(vertex);
        if (known != edit.nodeOfVertex.end())
            return known->second;
        const int node = addNode(face, mesh_.vertices[std::size_t(vertex)], vertex, 1);
        return node;
    }

    int addNode(int face, const gp_Pnt& world, int vertex, int nearest)
    {
        FaceEdit& edit = edits_[face];
        edit.nodes.push_back(world);
        edit.nearest.push_back(nearest);
        const int node = nodeCount(face) + int(edit.nodes.size());
        if (vertex >= 0)
            edit.nodeOfVertex[vertex] = node;
        return node;
    }

    void splitTriangle(int face, int triangle, std::vector<std::array<double, 3>>& points)
    {
        std::array<int, 3> raw{};
        std::array<int, 3> vertex{};
        mesh_.corners(face, triangle, raw, vertex);
        std::sort(points.begin(), points.end());
        FaceEdit& edit = edits_[face];
        edit.removed.insert(triangle);
        // The border of the triangle with its splits, in stored order.
        std::vector<int> border;
        std::set<int> splitCorners;
        for (std::size_t k = 0; k < 3; ++k) {
            border.push_back(raw[k]);
            for (const auto& point : points) {
                if (int(point[0]) != int(k))
                    continue;
                splitCorners.insert(int(k));
                const int v = int(point[2]);
                const auto known = edit.nodeOfVertex.find(v);
                border.push_back(known != edit.nodeOfVertex.end()
                                     ? known->second
                                     : addNode(face, mesh_.vertices[std::size_t(v)], v, raw[k]));
            }
        }
        if (splitCorners.size() == 1) {
            // A fan from the corner across the split edge.
            const int k = *splitCorners.begin();
            const int apex = raw[std::size_t((k + 2) % 3)];
            std::rotate(border.begin(),
                        std::find(border.begin(), border.end(), raw[std::size_t(k)]), border.end());
            for (std::size_t i = 0; i + 1 < border.size(); ++i) {
                if (border[i] != apex && border[i + 1] != apex)
                    edit.triangles.push_back({border[i], border[i + 1], apex});
            }
            return;
        }
        // Splits on several edges: a fan around the triangle's middle.
        const FaceMesh& f = mesh_.faces[std::size_t(face)];
        gp_XYZ sum(0, 0, 0);
        for (const int node : raw)
            sum += f.tri->Node(node).Transformed(f.placement).XYZ();
        const int centre = addNode(face, gp_Pnt(sum / 3.0), -1, raw[0]);
        for (std::size_t i = 0; i < border.size(); ++i)
            edit.triangles.push_back({border[i], border[(i + 1) % border.size()], centre});
    }

    void apply()
    {
        for (auto& [face, edit] : edits_) {
            const FaceMesh& f = mesh_.faces[std::size_t(face)];
            const Handle(Poly_Triangulation)& old = f.tri;
            const int nodes = old->NbNodes() + int(edit.nodes.size());
            const int triangles
                = old->NbTriangles() - int(edit.removed.size()) + int(edit.triangles.size());
            Handle(Poly_Triangulation) made
                = new Poly_Triangulation(nodes, triangles, old->HasUVNodes(), old->HasNormals());
            const gp_Trsf back = f.placement.Inverted();
            for (int i = 1; i <= nodes; ++i) {
                const bool own = i <= old->NbNodes();
                const int from = own ? i : edit.nearest[std::size_t(i - old->NbNodes() - 1)];
                made->SetNode(
                    i, own ? old->Node(i)
                           : edit.nodes[std::size_t(i - old->NbNodes() - 1)].Transformed(back));
                // An added node lies within the tolerance of the stored node it takes
                // these from; they only shade and texture the face.
                if (old->HasUVNodes())
                    made->SetUVNode(i, old->UVNode(from));
                if (old->HasNormals())
                    made->SetNormal(i, old->Normal(from));
            }
            int t = 0;
            for (int i = 1; i <= old->NbTriangles(); ++i) {
                if (edit.removed.count(i) == 0)
                    made->SetTriangle(++t, old->Triangle(i));
            }
            for (const auto& tri : edit.triangles)
                made->SetTriangle(++t, Poly_Triangle(tri[0], tri[1], tri[2]));
            made->Deflection(old->Deflection());
            // Without a reset the edges keep their polygons, which number the same nodes.
            BRep_Builder().UpdateFace(f.face, made, false);
        }
        edits_.clear();
    }

    BodyMesh& mesh_;
    double tolerance_;
    std::map<int, FaceEdit> edits_;
    std::map<std::pair<int, int>, std::vector<std::array<double, 3>>> pending_;
};

} // namespace

Stitches stitchFaceSeams(const TopoDS_Shape& shape, double tolerance)
{
    // Border corners closer than this share of the tolerance are one point (a
    // micrometre at the usual 0.02 mm).
    constexpr double snapDistance = 0.05;
    Stitches done;
    // Each split leaves edges that may meet nodes further along; a few rounds
    // settle every seam seen so far.
    for (int round = 0; round < 6; ++round) {
        BodyMesh mesh(shape);
        if (mesh.open.empty())
            return done;
        if (Stitcher(mesh, tolerance).snap(snapDistance * tolerance) > 0) {
            dropZeroAreaTriangles(shape);
            continue;
        }
        const int split = Stitcher(mesh, tolerance).split();
        done.split += split;
        if (split > 0)
            continue;
        done.filled += Stitcher(mesh, tolerance).fill();
        return done;
    }
    return done;
}

} // namespace qor::io
