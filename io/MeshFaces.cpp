#include "io/MeshFaces.h"

#include "io/DisjointSets.h"

#include <BRepGProp.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <GProp_GProps.hxx>
#include <Poly_Triangulation.hxx>
#include <Precision.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Face.hxx>
#include <TopoDS_Iterator.hxx>
#include <gp.hxx>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace qor::io {

namespace {

using GridKey = std::array<long long, 3>;

// The writers' grid: nodes that round to the same multiples of this step are one
// point, and so are nodes closer than it on neighbouring cells. Rounding alone
// would split two nodes a millionth of a millimetre apart whenever a multiple of
// the step falls between them.
constexpr double gridScale = 100000.0;
constexpr double gridStep = 1.0 / gridScale;

GridKey gridKey(const gp_Pnt& p)
{
    return {std::llround(gridScale * p.X()), std::llround(gridScale * p.Y()),
            std::llround(gridScale * p.Z())};
}

bool neighbouring(const GridKey& a, const GridKey& b)
{
    return std::abs(a[0] - b[0]) <= 1 && std::abs(a[1] - b[1]) <= 1 && std::abs(a[2] - b[2]) <= 1;
}

// Two nodes the grid takes as one point, with their keys.
bool onePoint(const gp_Pnt& p, const GridKey& a, const gp_Pnt& q, const GridKey& b)
{
    return a == b || (neighbouring(a, b) && p.SquareDistance(q) < gridStep * gridStep);
}

// True when two corners of the triangle are one point on the grid.
bool collapses(const std::array<gp_Pnt, 3>& p, const std::array<GridKey, 3>& k)
{
    return onePoint(p[0], k[0], p[1], k[1]) || onePoint(p[1], k[1], p[2], k[2])
           || onePoint(p[0], k[0], p[2], k[2]);
}

// Calls visit(face, triangulation, placement) for every face of the shape that
// carries a triangulation, in explorer order.
template <typename Visit> void forEachTriangulation(const TopoDS_Shape& shape, Visit visit)
{
    for (TopExp_Explorer ex(shape, TopAbs_FACE); ex.More(); ex.Next()) {
        const TopoDS_Face& face = TopoDS::Face(ex.Current());
        TopLoc_Location location;
        const Handle(Poly_Triangulation) tri = BRep_Tool::Triangulation(face, location);
        if (!tri.IsNull())
            visit(face, tri, location.Transformation());
    }
}

// The corners of triangle t, false when one names a node the triangulation
// lacks: triangulations read from files are not checked by the kernel.
bool cornersOf(const Handle(Poly_Triangulation)& tri, int t, int& n1, int& n2, int& n3)
{
    tri->Triangle(t).Get(n1, n2, n3);
    const auto isNode = [&tri](int n) { return n >= 1 && n <= tri->NbNodes(); };
    return isNode(n1) && isNode(n2) && isNode(n3);
}

// Whether the transformation mirrors, measured on the images of the axes: the
// kernel keeps a scale apart from the matrix for some forms, so the matrix's
// own determinant does not tell.
bool turnsOver(const gp_GTrsf& trsf)
{
    const auto image = [&trsf](double x, double y, double z) {
        gp_XYZ p(x, y, z);
        trsf.Transforms(p);
        return p;
    };
    const gp_XYZ origin = image(0.0, 0.0, 0.0);
    const gp_XYZ x = image(1.0, 0.0, 0.0) - origin;
    const gp_XYZ y = image(0.0, 1.0, 0.0) - origin;
    const gp_XYZ z = image(0.0, 0.0, 1.0) - origin;
    return x.Dot(y.Crossed(z)) < 0.0;
}

} // namespace

namespace {

bool mirrors(const gp_Trsf& placement)
{
    return placement.VectorialPart().Determinant() < 0.0;
}

bool reversed(const TopoDS_Shape& face)
{
    return face.Orientation() == TopAbs_REVERSED;
}

// Six times the volume the piece's triangles enclose, each face's triangles
// turned by its orientation alone. Measured about the middle of the nodes, so
// that a mesh with a small gap still tells inside from outside.
double plainSixfoldVolume(const TopoDS_Shape& piece)
{
    struct Placed {
        Handle(Poly_Triangulation) tri;
        gp_Trsf trsf;
        bool turned;
    };
    std::vector<Placed> faces;
    Bnd_Box box;
    forEachTriangulation(piece, [&](const TopoDS_Face& face, const Handle(Poly_Triangulation)& tri,
                                    const gp_Trsf& trsf) {
        faces.push_back({tri, trsf, reversed(face)});
        for (int i = 1; i <= tri->NbNodes(); ++i)
            box.Add(tri->Node(i).Transformed(trsf));
    });
    if (box.IsVoid())
        return 0.0;
    const gp_XYZ middle = 0.5 * (box.CornerMin().XYZ() + box.CornerMax().XYZ());
    double sixfold = 0.0;
    for (const Placed& face : faces) {
        for (int t = 1; t <= face.tri->NbTriangles(); ++t) {
            int n1 = 0, n2 = 0, n3 = 0;
            if (!cornersOf(face.tri, t, n1, n2, n3))
                continue;
            if (face.turned)
                std::swap(n2, n3);
            const gp_XYZ a = face.tri->Node(n1).Transformed(face.trsf).XYZ() - middle;
            const gp_XYZ b = face.tri->Node(n2).Transformed(face.trsf).XYZ() - middle;
            const gp_XYZ c = face.tri->Node(n3).Transformed(face.trsf).XYZ() - middle;
            sixfold += a.Dot(b.Crossed(c));
        }
    }
    return sixfold;
}

} // namespace

FaceWinding::FaceWinding(const TopoDS_Shape& shape)
{
    if (!shape.IsNull())
        visit(shape);
}

void FaceWinding::visit(const TopoDS_Shape& shape)
{
    const auto turnWhole = [this](const TopoDS_Shape& piece) {
        for (TopExp_Explorer face(piece, TopAbs_FACE); face.More(); face.Next())
            bodyTurned_.Add(face.Current());
    };
    switch (shape.ShapeType()) {
    case TopAbs_COMPOUND:
    case TopAbs_COMPSOLID:
        // The iterator gives each part with the placements above it.
        for (TopoDS_Iterator part(shape); part.More(); part.Next())
            visit(part.Value());
        break;
    case TopAbs_SOLID:
        if (plainSixfoldVolume(shape) < 0.0)
            turnWhole(shape);
        break;
    case TopAbs_SHELL:
        if (mirrors(shape.Location().Transformation()))
            turnWhole(shape);
        break;
    case TopAbs_FACE:
        // The face's own placement, with those of everything above it: a mirror
        // of the compound around it may be undone by its own.
        if (mirrors(shape.Location().Transformation()))
            bodyTurned_.Add(shape);
        break;
    default: break;
    }
}

bool FaceWinding::turned(const TopoDS_Face& face) const
{
    return bodyTurned_.Contains(face);
}

std::vector<gp_Dir> facetNormals(const FaceTriangles& face)
{
    std::vector<gp_XYZ> sums(face.nodes.size(), gp_XYZ(0, 0, 0));
    for (const auto& t : face.triangles) {
        const gp_XYZ a = face.nodes[std::size_t(t[0])].XYZ();
        const gp_XYZ n = (face.nodes[std::size_t(t[1])].XYZ() - a)
                             .Crossed(face.nodes[std::size_t(t[2])].XYZ() - a);
        for (const int i : t)
            sums[std::size_t(i)] += n;
    }
    std::vector<gp_Dir> normals;
    normals.reserve(sums.size());
    for (const gp_XYZ& n : sums)
        normals.push_back(n.Modulus() > gp::Resolution() ? gp_Dir(n) : gp_Dir(0, 0, 1));
    return normals;
}

std::vector<FaceTriangles> triangulatedFaces(const TopoDS_Shape& shape)
{
    return triangulatedFaces(shape, FaceWinding(shape));
}

std::vector<FaceTriangles> triangulatedFaces(const TopoDS_Shape& shape, const FaceWinding& winding)
{
    std::vector<FaceTriangles> faces;
    forEachTriangulation(shape, [&faces, &winding](const TopoDS_Face& face,
                                                   const Handle(Poly_Triangulation)& tri,
                                                   const gp_Trsf& trsf) {
        FaceTriangles mesh;
        mesh.nodes.reserve(std::size_t(tri->NbNodes()));
        for (int i = 1; i <= tri->NbNodes(); ++i)
            mesh.nodes.push_back(tri->Node(i).Transformed(trsf));
        const bool turned = reversed(face) != winding.turned(face);
        mesh.triangles.reserve(std::size_t(tri->NbTriangles()));
        for (int t = 1; t <= tri->NbTriangles(); ++t) {
            int n1 = 0, n2 = 0, n3 = 0;
            if (!cornersOf(tri, t, n1, n2, n3) || n1 == n2 || n2 == n3 || n1 == n3)
                continue;
            if (turned)
                std::swap(n2, n3);
            mesh.triangles.push_back({n1 - 1, n2 - 1, n3 - 1});
        }
        faces.push_back(std::move(mesh));
    });
    return faces;
}

namespace {

// Joins the occupied cells (`start` gives where each begins among the sorted
// keyed nodes) that touch a neighbouring cell holding a node closer than the
// step to one of theirs. A constant offset keeps the sorted order, so each of
// the 13 forward neighbours is found in one pass over the cells.
void joinNeighbouringCells(const std::vector<std::pair<GridKey, int>>& keyed,
                           const std::vector<std::size_t>& start, const std::vector<gp_Pnt>& nodes,
                           DisjointSets& groups)
{
    const std::size_t cells = start.size() - 1;
    const auto close = [&](std::size_t a, std::size_t b) {
        for (std::size_t i = start[a]; i < start[a + 1]; ++i) {
            for (std::size_t j = start[b]; j < start[b + 1]; ++j) {
                if (nodes[std::size_t(keyed[i].second)].SquareDistance(
                        nodes[std::size_t(keyed[j].second)])
                    < gridStep * gridStep)
                    return true;
            }
        }
        return false;
    };
    for (long long dx = 0; dx <= 1; ++dx) {
        for (long long dy = -1; dy <= 1; ++dy) {
            for (long long dz = -1; dz <= 1; ++dz) {
                if (dx == 0 && (dy < 0 || (dy == 0 && dz <= 0)))
                    continue;
                std::size_t j = 0;
                for (std::size_t c = 0; c < cells && j < cells; ++c) {
                    const GridKey& key = keyed[start[c]].first;
                    const GridKey wanted{key[0] + dx, key[1] + dy, key[2] + dz};
                    while (j < cells && keyed[start[j]].first < wanted)
                        ++j;
                    if (j < cells && keyed[start[j]].first == wanted && close(c, j))
                        groups.join(int(c), int(j));
                }
            }
        }
    }
}

} // namespace

std::vector<int> gridVertices(const std::vector<gp_Pnt>& nodes, std::vector<gp_Pnt>& vertices)
{
    // Merged by sorting their keys: a tree of millions of keys costs several
    // times the time and memory.
    std::vector<std::pair<GridKey, int>> keyed;
    keyed.reserve(nodes.size());
    for (std::size_t i = 0; i < nodes.size(); ++i)
        keyed.emplace_back(gridKey(nodes[i]), int(i));
    std::sort(keyed.begin(), keyed.end());
    std::vector<std::size_t> start;
    for (std::size_t i = 0; i < keyed.size(); ++i) {
        if (i == 0 || keyed[i].first != keyed[i - 1].first)
            start.push_back(i);
    }
    start.push_back(keyed.size());
    DisjointSets groups(start.size() - 1);
    joinNeighbouringCells(keyed, start, nodes, groups);
    // Each node's group is its cell's; the group's first node stands for it.
    std::vector<int> groupOf(nodes.size());
    for (std::size_t c = 0; c + 1 < start.size(); ++c) {
        for (std::size_t i = start[c]; i < start[c + 1]; ++i)
            groupOf[std::size_t(keyed[i].second)] = groups.root(int(c));
    }
    keyed = {};
    std::vector<int> vertexOfGroup(start.size() - 1, -1);
    std::vector<int> vertexOf(nodes.size());
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        int& vertex = vertexOfGroup[std::size_t(groupOf[i])];
        if (vertex < 0) {
            vertex = int(vertices.size());
            vertices.push_back(nodes[i]);
        }
        vertexOf[i] = vertex;
    }
    return vertexOf;
}

std::uint64_t edgeKey(int a, int b)
{
    return (std::uint64_t(std::uint32_t(std::min(a, b))) << 32) | std::uint32_t(std::max(a, b));
}

void addMergedTriangles(const std::vector<FaceTriangles>& faces, const std::vector<int>& vertexOf,
                        IndexedMesh& mesh)
{
    std::size_t offset = 0;
    for (const FaceTriangles& face : faces) {
        for (const auto& t : face.triangles) {
            const int a = vertexOf[offset + std::size_t(t[0])];
            const int b = vertexOf[offset + std::size_t(t[1])];
            const int c = vertexOf[offset + std::size_t(t[2])];
            if (a != b && b != c && a != c)
                mesh.triangles.push_back({a, b, c});
        }
        offset += face.nodes.size();
    }
}

IndexedMesh mergedMesh(const TopoDS_Shape& shape)
{
    return mergedMesh(shape, FaceWinding(shape));
}

IndexedMesh mergedMesh(const TopoDS_Shape& shape, const FaceWinding& winding)
{
    const std::vector<FaceTriangles> faces = triangulatedFaces(shape, winding);
    std::vector<gp_Pnt> nodes;
    for (const FaceTriangles& face : faces)
        nodes.insert(nodes.end(), face.nodes.begin(), face.nodes.end());
    IndexedMesh mesh;
    const std::vector<int> vertexOf = gridVertices(nodes, mesh.vertices);
    addMergedTriangles(faces, vertexOf, mesh);
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

IndexedMesh bodyMesh(const TopoDS_Shape& shape)
{
    IndexedMesh mesh;
    const FaceWinding winding(shape);
    for (const TopoDS_Shape& piece : shellsAndLooseFaces(shape)) {
        const IndexedMesh part = mergedMesh(piece, winding);
        const int first = int(mesh.vertices.size());
        mesh.vertices.insert(mesh.vertices.end(), part.vertices.begin(), part.vertices.end());
        for (const auto& t : part.triangles)
            mesh.triangles.push_back({first + t[0], first + t[1], first + t[2]});
    }
    return mesh;
}

namespace {

// A face's triangulation with its placement, and where its nodes begin among
// the shape's.
struct PlacedTriangulation {
    Handle(Poly_Triangulation) tri;
    gp_Trsf placement;
    std::size_t first = 0;
};

bool samePlacement(const gp_Trsf& a, const gp_Trsf& b)
{
    for (int row = 1; row <= 3; ++row) {
        for (int col = 1; col <= 4; ++col) {
            if (a.Value(row, col) != b.Value(row, col))
                return false;
        }
    }
    return true;
}

// One pass of weldGridVertices.
long long weldOnce(const TopoDS_Shape& shape)
{
    std::vector<PlacedTriangulation> faces;
    std::vector<gp_Pnt> nodes;
    std::vector<int> faceOf;
    forEachTriangulation(
        shape, [&](const TopoDS_Face&, const Handle(Poly_Triangulation)& tri, const gp_Trsf& trsf) {
            faces.push_back({tri, trsf, nodes.size()});
            for (int i = 1; i <= tri->NbNodes(); ++i) {
                nodes.push_back(tri->Node(i).Transformed(trsf));
                faceOf.push_back(int(faces.size()) - 1);
            }
        });
    std::vector<gp_Pnt> vertices;
    const std::vector<int> vertexOf = gridVertices(nodes, vertices);
    std::vector<std::size_t> firstNode(vertices.size(), nodes.size());
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        std::size_t& first = firstNode[std::size_t(vertexOf[i])];
        first = std::min(first, i);
    }
    long long moved = 0;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        const std::size_t first = firstNode[std::size_t(vertexOf[i])];
        const gp_Pnt& target = nodes[first];
        if (nodes[i].X() == target.X() && nodes[i].Y() == target.Y() && nodes[i].Z() == target.Z())
            continue;
        const PlacedTriangulation& face = faces[std::size_t(faceOf[i])];
        const PlacedTriangulation& from = faces[std::size_t(faceOf[first])];
        // The same placement of the same stored point gives the writers the same
        // numbers; another placement is undone as exactly as it can be, which may
        // leave the last bit apart (and no pass can do better).
        const gp_Pnt stored = samePlacement(face.placement, from.placement)
                                  ? from.tri->Node(int(first - from.first) + 1)
                                  : target.Transformed(face.placement.Inverted());
        const int node = int(i - face.first) + 1;
        if (face.tri->Node(node).SquareDistance(stored) == 0.0)
            continue;
        face.tri->SetNode(node, stored);
        ++moved;
    }
    return moved;
}

} // namespace

long long weldGridVertices(const TopoDS_Shape& shape)
{
    // Moving a node can bring it within the step of another group, and a
    // triangulation two faces show at different placements moves under both:
    // a few passes settle both.
    long long moved = 0;
    for (int pass = 0; pass < 4; ++pass) {
        const long long now = weldOnce(shape);
        moved += now;
        if (now == 0)
            break;
    }
    return moved;
}

namespace {

// How many edges of the mesh as many triangles share as counts accepts.
template <typename Accept> int edgesSharedBy(const IndexedMesh& mesh, Accept counts)
{
    // A sorted list of edges costs far less memory than a map on large meshes.
    std::vector<std::uint64_t> edges;
    edges.reserve(3 * mesh.triangles.size());
    for (const auto& t : mesh.triangles) {
        for (std::size_t k = 0; k < 3; ++k)
            edges.push_back(edgeKey(t[k], t[(k + 1) % 3]));
    }
    std::sort(edges.begin(), edges.end());
    int count = 0;
    for (std::size_t i = 0; i < edges.size();) {
        std::size_t j = i;
        while (j < edges.size() && edges[j] == edges[i])
            ++j;
        if (counts(j - i))
            ++count;
        i = j;
    }
    return count;
}

} // namespace

int nonManifoldEdgeCount(const IndexedMesh& mesh)
{
    return edgesSharedBy(mesh, [](std::size_t triangles) { return triangles > 2; });
}

int openEdgeCount(const IndexedMesh& mesh)
{
    return edgesSharedBy(mesh, [](std::size_t triangles) { return triangles == 1; });
}

int sameWayEdgeCount(const IndexedMesh& mesh)
{
    // Each edge once per triangle, its direction in the lowest bit.
    std::vector<std::uint64_t> edges;
    edges.reserve(3 * mesh.triangles.size());
    for (const auto& t : mesh.triangles) {
        for (std::size_t k = 0; k < 3; ++k) {
            const int from = t[k];
            const int to = t[(k + 1) % 3];
            edges.push_back((edgeKey(from, to) << 1) | (from < to ? 1U : 0U));
        }
    }
    std::sort(edges.begin(), edges.end());
    int count = 0;
    for (std::size_t i = 0; i < edges.size();) {
        std::size_t j = i;
        while (j < edges.size() && edges[j] >> 1 == edges[i] >> 1)
            ++j;
        if (j - i == 2 && edges[i] == edges[i + 1])
            ++count;
        i = j;
    }
    return count;
}

double sixfoldVolume(const IndexedMesh& mesh, int triangle)
{
    const auto& t = mesh.triangles[std::size_t(triangle)];
    const gp_XYZ& a = mesh.vertices[std::size_t(t[0])].XYZ();
    const gp_XYZ& b = mesh.vertices[std::size_t(t[1])].XYZ();
    const gp_XYZ& c = mesh.vertices[std::size_t(t[2])].XYZ();
    return a.Dot(b.Crossed(c));
}

double sixfoldVolume(const IndexedMesh& mesh)
{
    double sixfold = 0.0;
    for (std::size_t t = 0; t < mesh.triangles.size(); ++t)
        sixfold += sixfoldVolume(mesh, int(t));
    return sixfold;
}

double meshArea(const IndexedMesh& mesh)
{
    double twice = 0.0;
    for (const auto& t : mesh.triangles) {
        const gp_XYZ& a = mesh.vertices[std::size_t(t[0])].XYZ();
        twice += (mesh.vertices[std::size_t(t[1])].XYZ() - a)
                     .Crossed(mesh.vertices[std::size_t(t[2])].XYZ() - a)
                     .Modulus();
    }
    return twice / 2.0;
}

bool hasTriangleWithArea(const TopoDS_Face& face)
{
    TopLoc_Location location;
    const Handle(Poly_Triangulation) tri = BRep_Tool::Triangulation(face, location);
    if (tri.IsNull())
        return false;
    const gp_Trsf& trsf = location.Transformation();
    // Usually the first triangle answers.
    for (int t = 1; t <= tri->NbTriangles(); ++t) {
        int n1 = 0, n2 = 0, n3 = 0;
        if (!cornersOf(tri, t, n1, n2, n3))
            continue;
        const std::array<gp_Pnt, 3> p{tri->Node(n1).Transformed(trsf),
                                      tri->Node(n2).Transformed(trsf),
                                      tri->Node(n3).Transformed(trsf)};
        if (!collapses(p, {gridKey(p[0]), gridKey(p[1]), gridKey(p[2])}))
            return true;
    }
    return false;
}

int facesLeftOut(const TopoDS_Shape& shape, double smallestMissed)
{
    int count = 0;
    for (TopExp_Explorer ex(shape, TopAbs_FACE); ex.More(); ex.Next()) {
        const TopoDS_Face& face = TopoDS::Face(ex.Current());
        TopLoc_Location location;
        if (hasTriangleWithArea(face) || BRep_Tool::Surface(face, location).IsNull())
            continue;
        // A face without bounds has no finite area, and is left out all the same.
        double u0 = 0.0, u1 = 0.0, v0 = 0.0, v1 = 0.0;
        BRepTools::UVBounds(face, u0, u1, v0, v1);
        if (Precision::IsInfinite(u0) || Precision::IsInfinite(u1) || Precision::IsInfinite(v0)
            || Precision::IsInfinite(v1)) {
            ++count;
            continue;
        }
        GProp_GProps props;
        BRepGProp::SurfaceProperties(face, props);
        if (!(std::abs(props.Mass()) < smallestMissed))
            ++count;
    }
    return count;
}

long long dropZeroAreaTriangles(const TopoDS_Shape& shape)
{
    long long dropped = 0;
    forEachTriangulation(shape, [&dropped](const TopoDS_Face& face,
                                           const Handle(Poly_Triangulation)& tri,
                                           const gp_Trsf& trsf) {
        std::vector<gp_Pnt> points;
        std::vector<GridKey> keys;
        points.reserve(std::size_t(tri->NbNodes()));
        keys.reserve(std::size_t(tri->NbNodes()));
        for (int i = 1; i <= tri->NbNodes(); ++i) {
            points.push_back(tri->Node(i).Transformed(trsf));
            keys.push_back(gridKey(points.back()));
        }
        const int nodeCount = tri->NbNodes();
        std::vector<int> kept;
        for (int t = 1; t <= tri->NbTriangles(); ++t) {
            int n1 = 0, n2 = 0, n3 = 0;
            if (!cornersOf(tri, t, n1, n2, n3))
                continue;
            const std::size_t a = std::size_t(n1 - 1);
            const std::size_t b = std::size_t(n2 - 1);
            const std::size_t c = std::size_t(n3 - 1);
            if (!collapses({points[a], points[b], points[c]}, {keys[a], keys[b], keys[c]}))
                kept.push_back(t);
        }
        if (int(kept.size()) == tri->NbTriangles())
            return;
        dropped += tri->NbTriangles() - int(kept.size());
        // A face whose triangles all collapse has no area: it is left out of
        // the mesh (the kernel refuses a triangulation without triangles).
        if (kept.empty()) {
            BRep_Builder().UpdateFace(face, Handle(Poly_Triangulation)());
            return;
        }
        Handle(Poly_Triangulation) clean = new Poly_Triangulation(
            nodeCount, int(kept.size()), tri->HasUVNodes(), tri->HasNormals());
        for (int i = 1; i <= nodeCount; ++i) {
            clean->SetNode(i, tri->Node(i));
            if (tri->HasUVNodes())
                clean->SetUVNode(i, tri->UVNode(i));
            if (tri->HasNormals())
                clean->SetNormal(i, tri->Normal(i));
        }
        for (std::size_t k = 0; k < kept.size(); ++k)
            clean->SetTriangle(int(k) + 1, tri->Triangle(kept[k]));
        clean->Deflection(tri->Deflection());
        // Without a reset the edges keep their polygons, which number the same
        // nodes.
        BRep_Builder().UpdateFace(face, clean, false);
    });
    return dropped;
}

double meshVolume(const TopoDS_Shape& shape)
{
    return std::abs(signedMeshVolume(shape));
}

double signedMeshVolume(const TopoDS_Shape& shape)
{
    // Merged across the whole body: a closed mesh may come split into several faces.
    const IndexedMesh mesh = mergedMesh(shape);
    if (mesh.triangles.empty())
        return 0.0;
    // Each edge must be run through as often in one direction as in the other:
    // the edges that run from a lower to a higher vertex and those that run back
    // are the same list.
    std::vector<std::uint64_t> up;
    std::vector<std::uint64_t> down;
    up.reserve(3 * mesh.triangles.size() / 2 + 1);
    down.reserve(3 * mesh.triangles.size() / 2 + 1);
    for (const auto& t : mesh.triangles) {
        for (std::size_t k = 0; k < 3; ++k) {
            const int from = t[k];
            const int to = t[(k + 1) % 3];
            (from < to ? up : down).push_back(edgeKey(from, to));
        }
    }
    std::sort(up.begin(), up.end());
    std::sort(down.begin(), down.end());
    if (up != down)
        return 0.0;
    return sixfoldVolume(mesh) / 6.0;
}

bool closedInModel(const TopoDS_Shape& shape)
{
    if (!TopExp_Explorer(shape, TopAbs_FACE).More()
        || TopExp_Explorer(shape, TopAbs_FACE, TopAbs_SHELL).More())
        return false;
    for (TopExp_Explorer shell(shape, TopAbs_SHELL); shell.More(); shell.Next()) {
        if (!BRep_Tool::IsClosed(shell.Current()))
            return false;
    }
    return true;
}

TopoDS_Shape transformedMesh(const TopoDS_Shape& shape, const gp_GTrsf& transformation)
{
    BRep_Builder builder;
    TopoDS_Compound compound;
    builder.MakeCompound(compound);
    forEachTriangulation(shape, [&](const TopoDS_Face& face, const Handle(Poly_Triangulation)& tri,
                                    const gp_Trsf& placement) {
        gp_GTrsf nodeTrsf = transformation;
        nodeTrsf.Multiply(gp_GTrsf(placement));
        Handle(Poly_Triangulation) moved
            = new Poly_Triangulation(tri->NbNodes(), tri->NbTriangles(), false);
        for (int i = 1; i <= tri->NbNodes(); ++i) {
            gp_XYZ node = tri->Node(i).XYZ();
            nodeTrsf.Transforms(node);
            moved->SetNode(i, gp_Pnt(node));
        }
        const bool turned = turnsOver(nodeTrsf);
        for (int t = 1; t <= tri->NbTriangles(); ++t) {
            int a = 0, b = 0, c = 0;
            tri->Triangle(t).Get(a, b, c);
            moved->SetTriangle(t, turned ? Poly_Triangle(a, c, b) : Poly_Triangle(a, b, c));
        }
        moved->Deflection(tri->Deflection());
        TopoDS_Face copy;
        builder.MakeFace(copy, moved);
        copy.Orientation(face.Orientation());
        builder.Add(compound, copy);
    });
    return compound;
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
