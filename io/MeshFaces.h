#pragma once

#include <TopTools_MapOfShape.hxx>
#include <TopoDS_Face.hxx>
#include <TopoDS_Shape.hxx>
#include <gp_Dir.hxx>
#include <gp_GTrsf.hxx>
#include <gp_Pnt.hxx>
#include <gp_Trsf.hxx>

#include <array>
#include <cstdint>
#include <vector>

namespace qor::io {

// Which way each face of a shape is written. A face's triangles, placed in
// world coordinates, run round the normal of its surface as placed (a mirroring
// placement turns both alike), so a reversed face has them turned round: that
// is the B-rep as it stands, whatever location a reader gave the face. A solid
// placed whole with a mirror comes out inside out by that rule, and so is
// turned round once more where the volume its triangles enclose is negative.
// An open shell or a loose face encloses nothing to measure: it is turned where
// the placement of the shell, or the face's own with everything above it,
// mirrors, as a solid so placed would be.
class FaceWinding {
public:
    explicit FaceWinding(const TopoDS_Shape& shape);

    // True when the face, as an explorer of the shape gives it, has its
    // triangles' second and third corners swapped to face out.
    bool turned(const TopoDS_Face& face) const;

private:
    void visit(const TopoDS_Shape& shape);

    TopTools_MapOfShape bodyTurned_; // faces of the pieces turned round whole
};

// The triangulation of one face in world coordinates. Triangles index nodes
// from 0 and are wound as FaceWinding says, so that they face out of the body.
// Triangles with a repeated node or a node the triangulation does not have are
// left out; nodes are kept as the triangulation lists them.
struct FaceTriangles {
    std::vector<gp_Pnt> nodes;
    std::vector<std::array<int, 3>> triangles;
};

// Each node's normal as the area-weighted mean of the normals of its triangles;
// (0, 0, 1) at a node whose triangles have no area.
std::vector<gp_Dir> facetNormals(const FaceTriangles& face);

// Every face of the shape that carries a triangulation, in explorer order;
// the winding is that of the shape it came from.
std::vector<FaceTriangles> triangulatedFaces(const TopoDS_Shape& shape);
std::vector<FaceTriangles> triangulatedFaces(const TopoDS_Shape& shape, const FaceWinding& winding);

// Vertices and triangles of a shape, with the nodes shared by adjacent faces
// merged on a grid of 0.00001 mm: nodes that round to the same multiples of the
// step, and nodes closer than the step on neighbouring cells of the grid. A
// triangle whose corners merged is left out.
struct IndexedMesh {
    std::vector<gp_Pnt> vertices;
    std::vector<std::array<int, 3>> triangles; // indices into vertices, from 0
};

IndexedMesh mergedMesh(const TopoDS_Shape& shape);
IndexedMesh mergedMesh(const TopoDS_Shape& shape, const FaceWinding& winding);

// Appends the faces' triangles with their nodes numbered as vertexOf merges them (the
// faces' nodes in order), leaving out triangles the merge collapsed.
void addMergedTriangles(const std::vector<FaceTriangles>& faces, const std::vector<int>& vertexOf,
                        IndexedMesh& mesh);

// An undirected edge between two vertices as one number, the smaller vertex first.
std::uint64_t edgeKey(int a, int b);

// For each node the vertex it merges into on the grid of mergedMesh; vertices
// receives the first node of each group, in the order the groups first come.
std::vector<int> gridVertices(const std::vector<gp_Pnt>& nodes, std::vector<gp_Pnt>& vertices);

// The shape's shells, followed by its faces that lie in no shell: the pieces
// whose nodes may be merged without joining solids that merely touch.
std::vector<TopoDS_Shape> shellsAndLooseFaces(const TopoDS_Shape& shape);

// The mesh a body is written as: nodes merged per shell only, so that solids
// of one body that touch keep their own vertices and every edge of a closed
// solid stays shared by exactly two triangles.
IndexedMesh bodyMesh(const TopoDS_Shape& shape);

// Gives every group of nodes that mergedMesh merges into one vertex the
// coordinates of the group's first node, in every face triangulation of the
// shape: writers that copy each face's nodes (STL, OBJ, PLY, glTF) would write
// corners a few millionths of a millimetre apart where faces meet, and a reader
// that joins only equal corners would find open what the check found closed.
// Returns how many nodes moved.
long long weldGridVertices(const TopoDS_Shape& shape);

// Edges that more than two triangles share (not manifold): slicers and
// solid checks refuse such a mesh or repair it at will.
int nonManifoldEdgeCount(const IndexedMesh& mesh);

// Edges that only one triangle has: holes in the surface, or the rim of a body
// that is not closed.
int openEdgeCount(const IndexedMesh& mesh);

// Edges that two triangles share running through them the same way: where a
// face meets its neighbours turned inside out. In a mesh facing out every edge
// is run through once each way.
int sameWayEdgeCount(const IndexedMesh& mesh);

// Six times the volume the triangles enclose, positive when they face out; it
// depends on the origin unless every edge is run through once each way.
double sixfoldVolume(const IndexedMesh& mesh);
// The share of one triangle (an index into mesh.triangles) in that sum.
double sixfoldVolume(const IndexedMesh& mesh, int triangle);

// The area of the triangles.
double meshArea(const IndexedMesh& mesh);

// True when the face's triangulation has a triangle whose corners are three
// points on the merge grid: one that the writers keep.
bool hasTriangleWithArea(const TopoDS_Face& face);

// Faces of the shape with a surface and an area of at least smallestMissed (mm²)
// that have no triangle with area: what a mesh of the shape leaves out that a
// user would miss.
int facesLeftOut(const TopoDS_Shape& shape, double smallestMissed);

// Takes out of every face triangulation of the shape the triangles that enclose
// no area because two of their corners are one point on the merge grid (the
// fans the mesher leaves at a sphere's pole or a cone's tip), and those that
// name a node the triangulation lacks. Writers that copy a face's triangles
// as they are would keep them, and solid checks call the mesh open. Nodes and
// their numbering stay, so the edges' polygons on the face stay valid. A face
// left without a triangle loses its triangulation. Returns how many triangles
// were taken out.
long long dropZeroAreaTriangles(const TopoDS_Shape& shape);

// Volume enclosed by the triangles of a body that is only a triangulation, 0
// when they do not close: every edge must be run through as often in one
// direction as in the other, else the sum would depend on the origin.
double meshVolume(const TopoDS_Shape& shape);
// The same with its sign: negative for a closed mesh turned inside out.
double signedMeshVolume(const TopoDS_Shape& shape);

// True when the shape has faces, every one of them in a shell, and every shell
// closed: a body whose mesh should have no edge of one triangle only.
bool closedInModel(const TopoDS_Shape& shape);

// A compound of copies of the shape's triangulated faces, each face's nodes
// moved by the transformation (its placement built in) into a new
// triangulation of the same triangles. A transformation that mirrors turns each
// triangle's winding round, so that the triangles still face out of the body.
// The kernel's transform builders cannot copy faces that carry triangles and no
// surface; this is how a body read from a mesh file moves, scales or mirrors.
TopoDS_Shape transformedMesh(const TopoDS_Shape& shape, const gp_GTrsf& transformation);

// True when the shape has faces and none of them has a surface: a body read
// from a mesh format, which is only its triangulation.
bool isMeshOnly(const TopoDS_Shape& shape);

// A colour component from 0 to 1 as a byte: lround(255 × component), with the
// component clamped to 0 … 1 first (a value that is not a number gives 0).
int colourByte(double component);

} // namespace qor::io
