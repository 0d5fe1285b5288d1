#include "io/ShapeMeshing.h"

#include <BRepAdaptor_Surface.hxx>
#include <BRepMesh_Context.hxx>
#include <BRepMesh_DelabellaMeshAlgoFactory.hxx>
#include <BRepMesh_EdgeDiscret.hxx>
#include <BRepMesh_FaceDiscret.hxx>
#include <BRepMesh_IncrementalMesh.hxx>
#include <BRepMesh_MeshAlgoFactory.hxx>
#include <BRep_Tool.hxx>
#include <IMeshData_Edge.hxx>
#include <IMeshData_Face.hxx>
#include <IMeshData_Model.hxx>
#include <IMeshData_PCurve.hxx>
#include <IMeshData_Wire.hxx>
#include <IMeshTools_CurveTessellator.hxx>
#include <IMeshTools_MeshAlgo.hxx>
#include <IMeshTools_MeshAlgoFactory.hxx>
#include <Poly_PolygonOnTriangulation.hxx>
#include <Poly_Triangulation.hxx>
#include <Precision.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Edge.hxx>
#include <TopoDS_Face.hxx>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <set>

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

// Whether triangles whose turns in the parameter plane sum to `signedSum` and whose
// areas sum to `absoluteSum` cover a domain once: every triangle turns one way and
// together they make up its area. A gap, a triangle over a hole or two triangles on
// top of each other break the sum.
bool coversOnce(double signedSum, double absoluteSum, const DomainArea& domain)
{
    const double tolerance = 1e-7 * domain.scale;
    return domain.scale > 0.0 && std::abs(std::abs(signedSum) - absoluteSum) <= tolerance
           && std::abs(absoluteSum - std::abs(domain.area)) <= tolerance;
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
    return coversOnce(signedSum, absoluteSum, domainArea(face));
}

// Points a loop of a face keeps in its parameter plane: the closing point is its first.
int loopPoints(const IMeshData::IFaceHandle& face, const IMeshData::IWireHandle& wire)
{
    int points = 0;
    for (int e = 0; e < wire->EdgesNb(); ++e)
        points += std::max(
            0, wire->GetEdge(e)->GetPCurve(face.get(), wire->GetEdgeOrientation(e))->ParametersNb()
                   - 1);
    return points;
}

// Divides the edge again at a third of its deflection, keeping its ends, as the
// kernel's healing refines edges whose polygons cross.
void divideFiner(const IMeshData::IEdgeHandle& edge, const IMeshTools_Parameters& parameters)
{
    const double deflection = std::max(edge->GetDeflection() / 3.0, Precision::Confusion());
    IMeshTools_Parameters finer = parameters;
    finer.Deflection = deflection;
    finer.MinSize = std::max(0.1 * deflection, Precision::Confusion());
    edge->Clear(true);
    edge->SetDeflection(deflection);
    const IMeshData::IPCurveHandle& curve = edge->GetPCurve(0);
    const Handle(IMeshTools_CurveTessellator) tessellator
        = BRepMesh_EdgeDiscret::CreateEdgeTessellator(edge, curve->GetOrientation(),
                                                      curve->GetFace(), finer);
    BRepMesh_EdgeDiscret::Tessellate3d(edge, tessellator, false);
    BRepMesh_EdgeDiscret::Tessellate2d(edge, false);
}

// Divides the edges as the kernel does, then finer the edges of every loop that kept
// fewer than three points: at a deflection as large as the loop, a small circle drawn
// as a B-spline keeps only its vertex, a loop without area that the triangles of its
// face run across, and the hole is gone. However coarse the mesh, a loop stays a loop.
class LoopKeepingEdgeDiscret : public BRepMesh_EdgeDiscret {
protected:
    Standard_Boolean performInternal(const Handle(IMeshData_Model)& model,
                                     const IMeshTools_Parameters& parameters,
                                     const Message_ProgressRange& range) override
    {
        if (!BRepMesh_EdgeDiscret::performInternal(model, parameters, range))
            return false;
        // Each round divides a third finer; a loop of one closed curve has three
        // points after a few.
        for (int round = 0; round < 12; ++round) {
            std::set<IMeshData_Edge*> thin;
            for (int f = 0; f < model->FacesNb(); ++f) {
                const IMeshData::IFaceHandle& face = model->GetFace(f);
                for (int w = 0; w < face->WiresNb(); ++w) {
                    const IMeshData::IWireHandle& wire = face->GetWire(w);
                    if (loopPoints(face, wire) >= 3)
                        continue;
                    for (int e = 0; e < wire->EdgesNb(); ++e) {
                        const IMeshData::IEdgePtr& edge = wire->GetEdge(e);
                        if (!edge->GetDegenerated() && !edge->IsFree())
                            thin.insert(edge);
                    }
                }
            }
            if (thin.empty())
                break;
            for (IMeshData_Edge* edge : thin)
                divideFiner(edge, parameters);
        }
        return true;
    }
};

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
    context->SetEdgeDiscret(new LoopKeepingEdgeDiscret());
    context->SetFaceDiscret(new BRepMesh_FaceDiscret(new CheckedAlgoFactory(triangulation, tally)));
    BRepMesh_IncrementalMesh mesher;
    mesher.SetShape(shape);
    mesher.ChangeParameters() = parameters;
    mesher.Perform(context, range);
    return {tally.kept.load(), tally.replaced.load()};
}

namespace {

// The domain a face's edges enclose, from the parameters of their polygons' nodes;
// false when an edge has no polygon on the triangulation.
bool polygonDomain(const TopoDS_Face& face, const Handle(Poly_Triangulation)& mesh,
                   const TopLoc_Location& placement, DomainArea& domain)
{
    for (TopExp_Explorer wire(face, TopAbs_WIRE); wire.More(); wire.Next()) {
        double loop = 0.0;
        for (TopExp_Explorer it(wire.Current(), TopAbs_EDGE); it.More(); it.Next()) {
            const TopoDS_Edge& edge = TopoDS::Edge(it.Current());
            // A collapsed edge's polygon is one node, where the triangles meet it at many.
            if (BRep_Tool::Degenerated(edge))
                return false;
            const Handle(Poly_PolygonOnTriangulation) polygon
                = BRep_Tool::PolygonOnTriangulation(edge, mesh, placement);
            if (polygon.IsNull())
                return false;
            double twice = 0.0;
            for (int i = 1; i < polygon->NbNodes(); ++i) {
                const int a = polygon->Node(i);
                const int b = polygon->Node(i + 1);
                if (std::min(a, b) < 1 || std::max(a, b) > mesh->NbNodes())
                    return false;
                twice += mesh->UVNode(a).XY() ^ mesh->UVNode(b).XY();
            }
            // The nodes follow the edge's parameter; a reversed edge runs against it.
            loop += edge.Orientation() == TopAbs_REVERSED ? -twice : twice;
        }
        domain.area += 0.5 * loop;
        domain.scale += 0.5 * std::abs(loop);
    }
    return true;
}

} // namespace

int uncoveredFaces(const TopoDS_Shape& shape)
{
    int uncovered = 0;
    for (TopExp_Explorer it(shape, TopAbs_FACE); it.More(); it.Next()) {
        const TopoDS_Face& face = TopoDS::Face(it.Current());
        TopLoc_Location location;
        const Handle(Poly_Triangulation) mesh = BRep_Tool::Triangulation(face, location);
        if (mesh.IsNull() || mesh->NbTriangles() == 0 || !mesh->HasUVNodes()
            || BRepAdaptor_Surface(face, false).GetType() != GeomAbs_Plane)
            continue;
        DomainArea domain;
        if (!polygonDomain(face, mesh, location, domain))
            continue;
        double signedSum = 0.0;
        double absoluteSum = 0.0;
        for (int t = 1; t <= mesh->NbTriangles(); ++t) {
            int a = 0, b = 0, c = 0;
            mesh->Triangle(t).Get(a, b, c);
            if (std::min({a, b, c}) < 1 || std::max({a, b, c}) > mesh->NbNodes())
                continue;
            const gp_XY pa = mesh->UVNode(a).XY();
            const double twice = (mesh->UVNode(b).XY() - pa) ^ (mesh->UVNode(c).XY() - pa);
            signedSum += 0.5 * twice;
            absoluteSum += 0.5 * std::abs(twice);
        }
        if (!coversOnce(signedSum, absoluteSum, domain))
            ++uncovered;
    }
    return uncovered;
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
