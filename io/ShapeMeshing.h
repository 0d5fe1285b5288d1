#pragma once

#include <IMeshTools_Parameters.hxx>
#include <Message_ProgressRange.hxx>
#include <TopoDS_Shape.hxx>

namespace qor::io {

// A face whose borders carry at least this many points is triangulated by the
// sweep-based triangulation first; the plain Delaunay triangulation takes time
// growing with the square of that count (a plate with a thousand holes: minutes).
constexpr int fastTriangulationNodes = 200;

// Which faces the fast triangulation was tried on, and how many of them kept it.
struct MeshOutcome {
    int fastKept = 0;
    int fastReplaced = 0;
};

// How faces are triangulated: checked (above), or all by the plain Delaunay
// triangulation, the reference that the checked way is held against.
enum class Triangulation { Checked, Plain };

// How the borders of faces with many holes are searched for crossings before they are
// triangulated: through one grid over all their segments, or by the kernel's own search,
// which pairs every hole with every other, the reference the grid is held against.
enum class WireCheck { Indexed, Kernel };

// Meshes the shape as BRepMesh_IncrementalMesh does with these parameters, the
// one place where the program triangulates bodies (view, export, drawing). Faces
// with many border points are triangulated by the fast algorithm and kept only
// when its triangles cover the face's domain once, without gaps or overlaps;
// any other face, or one the fast algorithm fails on, gets the plain Delaunay
// triangulation. The edges are divided once for both, so neighbouring faces
// share their border nodes, and every loop of a face keeps at least three points
// however coarse the deflection. The range moves through every step (a face's share after
// its border points); a break asked through it stops between steps, faces and rows of the
// crossing search.
MeshOutcome meshShape(const TopoDS_Shape& shape, const IMeshTools_Parameters& parameters,
                      const Message_ProgressRange& range = Message_ProgressRange(),
                      Triangulation triangulation = Triangulation::Checked,
                      WireCheck wireCheck = WireCheck::Indexed);

// The same with an absolute deflection and an angle, meshing faces side by side.
MeshOutcome meshShape(const TopoDS_Shape& shape, double deflection, double angle,
                      const Message_ProgressRange& range = Message_ProgressRange());

// The faces whose triangles do not cover their domain once, judged in their
// parameter plane against the polygons of their edges: the mesher leaves a face
// whose loops cross each other or its rim with triangles over some of its holes or
// beyond its border. Only plane faces are judged (a curved face's seam and poles
// make its parameter plane no simple domain), and only those with triangles and
// their edges' polygons on them.
int uncoveredFaces(const TopoDS_Shape& shape);

} // namespace qor::io
