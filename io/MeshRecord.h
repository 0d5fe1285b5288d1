#pragma once

#include <Standard_Transient.hxx>
#include <TopLoc_Location.hxx>
#include <TopoDS_Shape.hxx>

#include <functional>
#include <limits>
#include <vector>

namespace qor::io {

// What kept a body's mesh coarser than asked.
enum class MeshLimit { None, FaceCap, Budget };

// What the meshing of one export made of one body.
struct MeshedBody {
    // The body the mesh was made for, by identity only: the record hangs on the body's
    // own triangulations and must not keep the body alive.
    const TopoDS_TShape* identity = nullptr;
    TopLoc_Location location;
    bool meshOnly = false; // a body read from a mesh file keeps its own triangles
    long long meshedFaces = 0; // faces carrying a triangulation when the export ended
    long long triangles = 0; // of a mesh body, when the export ended
    double deflection = 0.0; // the deflection the body was meshed at
    MeshLimit limit = MeshLimit::None;
    int uncoveredFaces = 0; // faces whose triangles do not cover their domain once
    // A repaired copy was meshed and written in the body's place. The copy may share
    // faces with the body, which would keep the record that keeps it alive: it is not
    // kept, and the body is meshed again at the next export.
    bool repaired = false;
    // The volume of the body's solids without its placement's scale, once measured.
    double volume = std::numeric_limits<double>::quiet_NaN();
};

// The meshing one export asked for, and what it made of every body in the list's order.
class MeshRecord : public Standard_Transient {
public:
    double deflection = 0.0;
    double angle = 0.0;
    long long triangleBudget = 0;
    std::vector<MeshedBody> bodies;
};

// The record of the export whose meshing the bodies still carry, when that export
// asked for the same deflection, angle and budget for the same bodies in the same
// order at the same places: the mesh it left is then exactly what meshing them again
// would make. Null when anything meshed, cleaned or changed a body's faces since, or
// when a body was written as a repaired copy.
Handle(MeshRecord) reusableRecord(const std::vector<TopoDS_Shape>& bodies, double deflection,
                                  double angle, long long triangleBudget);

// Whether any face of the body carries a triangulation an export left.
bool carriesMeshRecord(const TopoDS_Shape& body);

// Fills in each body's identity, place and what it carries now, and hangs the record on
// every face triangulation of the bodies that are not mesh bodies, each with the
// deflection its body was meshed at: the kernel's mesher reads that deflection when it
// meets the triangulation again, and reusableRecord finds the record there.
void stampMeshes(const std::vector<TopoDS_Shape>& bodies, const Handle(MeshRecord)& record);

// The volumes recorded for the bodies under the record they carry unchanged (NaN where
// none is known), to hand on to the record of a new meshing: a body's volume does not
// change with its mesh.
std::vector<double> recordedVolumes(const std::vector<TopoDS_Shape>& bodies);

// The volume `measure` gives for the body without its placement, scaled as its placement
// scales, measured only once while the body carries an unchanged record; measured
// every time for a body without one.
double volumeMeasuredOnce(const TopoDS_Shape& body,
                          const std::function<double(const TopoDS_Shape&)>& measure);

} // namespace qor::io
