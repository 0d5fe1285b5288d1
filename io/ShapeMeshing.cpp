#include "io/ShapeMeshing.h"

#include <BRepMesh_Context.hxx>
#include <BRepMesh_DelabellaMeshAlgoFactory.hxx>
#include <BRepMesh_FaceDiscret.hxx>
#include <BRepMesh_IncrementalMesh.hxx>
#include <BRepMesh_MeshAlgoFactory.hxx>
#include <BRep_Tool.hxx>
#include <IMeshData_Edge.hxx>
#include <IMeshData_Face.hxx>
#include <IMeshData_PCurve.hxx>
#include <IMeshData_Wire.hxx>
#include <IMeshTools_MeshAlgo.hxx>
#include <IMeshTools_MeshAlgoFactory.hxx>
#include <Poly_Triangulation.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace qor::io {

namespace {

int borderNodes(const IMeshData::IFaceHandle& face)
{
    int nodes = 0;
    for (int w = 0; w < face->WiresNb(); ++w) {
        const IMeshData::IWireHandle& wire = face->GetWire(w);
        for (int e = 0; e < wire->EdgesNb(); ++e)
            nodes += wire->GetEdge(e)
                         ->GetPCurve(face.get(), wire->GetEdgeOrientation(e))
                         ->ParametersNb();
    }
    return nodes;
}

// The area the face's divided borders enclose in its parameter plane, signed by the
// turn of the borders, and the sum of the loops' own areas as the scale of rounding.
struct DomainArea {
    double area = 0.0;
    double scale = 0.0;
};

DomainArea domainArea(const IMeshData::IFaceHandle& face)
{
    DomainArea domain;
    for (int w = 0; w < face->WiresNb(); ++w) {
        const IMeshData::IWireHandle& wire = face->GetWire(w);
        double loop = 0.0;
        for (int e = 0; e < wire->EdgesNb(); ++e) {
            const TopAbs_Orientation orientation = wire->GetEdgeOrientation(e);
            const IMeshData::IPCurveHandle& curve
                = wire->GetEdge(e)->GetPCurve(face.get(), orientation);
            // The points follow the edge's parameter; a reversed edge runs against it.
            double twice = 0.0;
            for (int i = 0; i + 1 < curve->ParametersNb(); ++i)
                twice += curve->GetPoint(i).XY() ^ curve->GetPoint(i + 1).XY();
            loop += orientation == TopAbs_REVERSED ? -twice : twice;
        }
        domain.area += 0.5 * loop;
        domain.scale += 0.5 * std::abs(loop);
    }
    return domain;
}

// Whether the triangles the face now carries cover its domain once: in the parameter
// plane every triangle turns one way and together they make up the domain's area.
// A gap, a triangle over a hole or two triangles on top of each other break the sum.
bool coversDomain(const IMeshData::IFaceHandle& face, const Handle(Poly_Triangulation)& before)
{
    TopLoc_Location location;
    const Handle(Poly_Triangulation) mesh = BRep_Tool::Triangulation(face->GetFace(), location);
    if (mesh.IsNull() || mesh == before || mesh->NbTriangles() == 0 || !mesh->HasUVNodes())
        return false;
    double signedSum = 0.0;
    double absoluteSum = 0.0;
    for (int t = 1; t <= mesh->NbTriangles(); ++t) {
        int a = 0, b = 0, c = 0;
        mesh->Triangle(t).Get(a, b, c);
        if (std::min({a, b, c}) < 1 || std::max({a, b, c}) > mesh->NbNodes())
            return false;
        const gp_XY pa = mesh->UVNode(a).XY();
        const double twice = (mesh->UVNode(b).XY() - pa) ^ (mesh->UVNode(c).XY() - pa);
        signedSum += 0.5 * twice;
        absoluteSum += 0.5 * std::abs(twice);
    }
    const DomainArea domain = domainArea(face);
    const double tolerance = 1e-7 * domain.scale;
    return domain.scale > 0.0 && std::abs(std::abs(signedSum) - absoluteSum) <= tolerance
           && std::abs(absoluteSum - std::abs(domain.area)) <= tolerance;
}

struct Tally {
    std::atomic<int> kept{0};
    std::atomic<int> replaced{0};
};

// Tries the fast triangulation on a face with many border points and keeps it when it
// covers the domain; otherwise (or for a small face) triangulates with the plain one.
class CheckedAlgo : public IMeshTools_MeshAlgo {
public:
    CheckedAlgo(Handle(IMeshTools_MeshAlgo) fast, Handle(IMeshTools_MeshAlgo) plain, Tally& tally)
        : fast_(std::move(fast))
        , plain_(std::move(plain))
        , tally_(tally)
    {
    }

    void Perform(const IMeshData::IFaceHandle& face, const IMeshTools_Parameters& parameters,
                 const Message_ProgressRange& range) override
    {
        if (!fast_.IsNull() && borderNodes(face) >= fastTriangulationNodes) {
            if (tryFast(face, parameters, range)) {
                ++tally_.kept;
                return;
            }
            ++tally_.replaced;
            if (!range.More()) {
                face->SetStatus(IMeshData_UserBreak);
                return;
            }
            face->UnsetStatus(IMeshData_Failure);
        }
        plain_->Perform(face, parameters, range);
    }

private:
    bool tryFast(const IMeshData::IFaceHandle& face, const IMeshTools_Parameters& parameters,
                 const Message_ProgressRange& range)
    {
        TopLoc_Location location;
        const Handle(Poly_Triangulation) before
            = BRep_Tool::Triangulation(face->GetFace(), location);
        try {
            OCC_CATCH_SIGNALS
            fast_->Perform(face, parameters, range);
        } catch (const Standard_Failure&) {
            return false;
        }
        return !face->IsSet(IMeshData_Failure) && range.More() && coversDomain(face, before);
    }

    Handle(IMeshTools_MeshAlgo) fast_;
    Handle(IMeshTools_MeshAlgo) plain_;
    Tally& tally_;
};

class CheckedAlgoFactory : public IMeshTools_MeshAlgoFactory {
public:
    CheckedAlgoFactory(Triangulation triangulation, Tally& tally)
        : fast_(triangulation == Triangulation::Checked ? new BRepMesh_DelabellaMeshAlgoFactory()
                                                        : nullptr)
        , plain_(new BRepMesh_MeshAlgoFactory())
        , tally_(tally)
    {
    }

    Handle(IMeshTools_MeshAlgo) GetAlgo(const GeomAbs_SurfaceType type,
                                        const IMeshTools_Parameters& parameters) const override
    {
        return new CheckedAlgo(fast_.IsNull() ? nullptr : fast_->GetAlgo(type, parameters),
                               plain_->GetAlgo(type, parameters), tally_);
    }

private:
    Handle(IMeshTools_MeshAlgoFactory) fast_;
    Handle(IMeshTools_MeshAlgoFactory) plain_;
    Tally& tally_;
};

} // namespace

MeshOutcome meshShape(const TopoDS_Shape& shape, const IMeshTools_Parameters& parameters,
                      const Message_ProgressRange& range, Triangulation triangulation)
{
    Tally tally;
    Handle(IMeshTools_Context) context = new BRepMesh_Context();
    context->SetFaceDiscret(new BRepMesh_FaceDiscret(new CheckedAlgoFactory(triangulation, tally)));
    BRepMesh_IncrementalMesh mesher;
    mesher.SetShape(shape);
    mesher.ChangeParameters() = parameters;
    mesher.Perform(context, range);
    return {tally.kept.load(), tally.replaced.load()};
}

MeshOutcome meshShape(const TopoDS_Shape& shape, double deflection, double angle,
                      const Message_ProgressRange& range)
{
    IMeshTools_Parameters parameters;
    parameters.Deflection = deflection;
    parameters.Angle = angle;
    parameters.Relative = false;
    parameters.InParallel = true;
    return meshShape(shape, parameters, range);
}

} // namespace qor::io
