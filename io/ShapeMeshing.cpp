#include "io/ShapeMeshing.h"

#include "io/WireCrossings.h"

// The kernel's custom Delaunay template reaches into these two in its body: a compiler that
// checks a template where it is written (clang) needs them complete before it.
#include <BRepMesh_DataStructureOfDelaun.hxx>
#include <BRepMesh_Delaun.hxx>

#include <BRepAdaptor_Surface.hxx>
#include <BRepMesh_Context.hxx>
#include <BRepMesh_CustomDelaunayBaseMeshAlgo.hxx>
#include <BRepMesh_DefaultRangeSplitter.hxx>
#include <BRepMesh_DelabellaBaseMeshAlgo.hxx>
#include <BRepMesh_DelabellaMeshAlgoFactory.hxx>
#include <BRepMesh_DelaunayNodeInsertionMeshAlgo.hxx>
#include <BRepMesh_EdgeDiscret.hxx>
#include <BRepMesh_FaceDiscret.hxx>
#include <BRepMesh_IncrementalMesh.hxx>
#include <BRepMesh_MeshAlgoFactory.hxx>
#include <BRepMesh_ModelHealer.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_B2d.hxx>
#include <IMeshData_Edge.hxx>
#include <IMeshData_Face.hxx>
#include <IMeshData_Model.hxx>
#include <IMeshData_PCurve.hxx>
#include <IMeshData_Wire.hxx>
#include <IMeshTools_CurveTessellator.hxx>
#include <IMeshTools_MeshAlgo.hxx>
#include <IMeshTools_MeshAlgoFactory.hxx>
#include <IMeshTools_ModelAlgo.hxx>
#include <Message_ProgressScope.hxx>
#include <OSD_Parallel.hxx>
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
#include <array>
#include <atomic>
#include <cmath>
#include <set>
#include <vector>

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

// Whether the triangles cover the domain once: in the parameter plane every triangle
// turns one way and together they make up the domain's area. A gap, a triangle over a
// hole, two triangles on top of each other or one naming a node the mesh lacks break it.
bool coversOnce(const Poly_Triangulation& mesh, const DomainArea& domain)
{
    double signedSum = 0.0;
    double absoluteSum = 0.0;
    for (int t = 1; t <= mesh.NbTriangles(); ++t) {
        int a = 0, b = 0, c = 0;
        mesh.Triangle(t).Get(a, b, c);
        if (std::min({a, b, c}) < 1 || std::max({a, b, c}) > mesh.NbNodes())
            return false;
        const gp_XY pa = mesh.UVNode(a).XY();
        const double twice = (mesh.UVNode(b).XY() - pa) ^ (mesh.UVNode(c).XY() - pa);
        signedSum += 0.5 * twice;
        absoluteSum += 0.5 * std::abs(twice);
    }
    const double tolerance = 1e-7 * domain.scale;
    return domain.scale > 0.0 && std::abs(std::abs(signedSum) - absoluteSum) <= tolerance
           && std::abs(absoluteSum - std::abs(domain.area)) <= tolerance;
}

// Whether the triangles the face now carries, new ones, cover its domain once.
bool coversDomain(const IMeshData::IFaceHandle& face, const Handle(Poly_Triangulation)& before)
{
    TopLoc_Location location;
    const Handle(Poly_Triangulation) mesh = BRep_Tool::Triangulation(face->GetFace(), location);
    if (mesh.IsNull() || mesh == before || mesh->NbTriangles() == 0 || !mesh->HasUVNodes())
        return false;
    return coversOnce(*mesh, domainArea(face));
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
            // A large face moves the bar once it is tried and once more if it is replaced.
            Message_ProgressScope steps(range, nullptr, 2);
            if (tryFast(face, parameters, steps.Next())) {
                ++tally_.kept;
                return;
            }
            ++tally_.replaced;
            if (!steps.More()) {
                face->SetStatus(IMeshData_UserBreak);
                return;
            }
            face->UnsetStatus(IMeshData_Failure);
            plain_->Perform(face, parameters, steps.Next());
            return;
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

} // namespace

// The kernel's sweep triangulator, as its mesh library exports it without a header: a
// triangle names its corners, whose first field is the index of the input point, and the
// next triangle of the set. Outside the unnamed namespace: a function returning a type
// without linkage could not be the library's.
struct SweepVertex {
    int index;
};
struct SweepTriangle {
    const SweepVertex* corners[3];
    const SweepTriangle* neighbours[3];
    const SweepTriangle* next;
};

} // namespace qor::io

void* DelaBella_Create();
void DelaBella_Destroy(void* triangulator);
int DelaBella_TriangulateDouble(void* triangulator, int points, double* x, double* y,
                                int advanceBytes);
const qor::io::SweepTriangle* GetFirstDelaunayTriangle(void* triangulator);

namespace qor::io {
namespace {

// The sweep triangulation of the points, x and y after each other, as index triples
// turning as the kernel's data structure expects; empty when it failed.
std::vector<std::array<int, 3>> sweepTriangles(std::vector<double>& xy)
{
    const int points = int(xy.size() / 2);
    std::vector<std::array<int, 3>> triangles;
    void* triangulator = DelaBella_Create();
    if (!triangulator)
        return triangles;
    const int corners = DelaBella_TriangulateDouble(triangulator, points, &xy[0], &xy[1],
                                                    int(2 * sizeof(double)));
    if (corners > 0) {
        triangles.reserve(std::size_t(corners / 3));
        for (const SweepTriangle* t = GetFirstDelaunayTriangle(triangulator); t; t = t->next)
            triangles.push_back({t->corners[0]->index, t->corners[2]->index, t->corners[1]->index});
    }
    DelaBella_Destroy(triangulator);
    // A triangulation of points whose hull is a box has two triangles per point less two.
    const auto outside = [points](const std::array<int, 3>& t) {
        return std::any_of(t.begin(), t.end(), [points](int i) { return i < 0 || i >= points; });
    };
    if (int(triangles.size()) != 2 * points - 6
        || std::any_of(triangles.begin(), triangles.end(), outside))
        triangles.clear();
    return triangles;
}

// The fast triangulation of a plane face as the kernel makes it, moving the bar between its
// steps: entering the borders, the sweep over the border points, entering its triangles in
// four parts, putting the borders back into them, the inner points and the rest. On a face
// with 4,000 holes the kernel's own base step took 1.3 s in one piece; now no step takes
// more than 0.8 s.
class SteppedPlaneAlgo : public BRepMesh_DelaunayNodeInsertionMeshAlgo<
                             BRepMesh_DefaultRangeSplitter,
                             BRepMesh_CustomDelaunayBaseMeshAlgo<BRepMesh_DelabellaBaseMeshAlgo>> {
    using Base = BRepMesh_DelaunayNodeInsertionMeshAlgo<
        BRepMesh_DefaultRangeSplitter,
        BRepMesh_CustomDelaunayBaseMeshAlgo<BRepMesh_DelabellaBaseMeshAlgo>>;
    static constexpr int triangleParts = 4;

public:
    void Perform(const IMeshData::IFaceHandle& face, const IMeshTools_Parameters& parameters,
                 const Message_ProgressRange& range) override
    {
        Message_ProgressScope steps(range, nullptr, 6 + triangleParts);
        steps_ = &steps;
        Base::Perform(face, parameters, steps.Next());
        steps_ = nullptr;
    }

protected:
    Standard_Boolean initDataStructure() override
    {
        const Standard_Boolean entered = Base::initDataStructure();
        step();
        return entered;
    }

    // As the kernel's base step: the border points and the corners of their box, grown by
    // a tenth of its diagonal, swept in the square of side one about the origin; the
    // triangles are entered in parts.
    void buildBaseTriangulation() override
    {
        const Handle(BRepMesh_DataStructureOfDelaun)& structure = getStructure();
        const int nodes = structure->NbNodes();
        Bnd_B2d box;
        for (int i = 1; i <= nodes; ++i)
            box.Add(structure->GetNode(i).Coord());
        box.Enlarge(0.1 * (box.CornerMax() - box.CornerMin()).Modulus());
        const gp_XY low = box.CornerMin();
        const gp_XY high = box.CornerMax();
        const std::array<gp_XY, 4> corners{low, gp_XY(high.X(), low.Y()), high,
                                           gp_XY(low.X(), high.Y())};
        std::vector<double> xy;
        xy.reserve(2 * std::size_t(nodes + 4));
        const auto add = [&](const gp_XY& p) {
            xy.push_back((p.X() - low.X()) / (high.X() - low.X()) - 0.5);
            xy.push_back((p.Y() - low.Y()) / (high.Y() - low.Y()) - 0.5);
        };
        for (int i = 1; i <= nodes; ++i)
            add(structure->GetNode(i).Coord());
        for (const gp_XY& corner : corners)
            add(corner);
        const std::vector<std::array<int, 3>> triangles = sweepTriangles(xy);
        if (triangles.empty()) {
            Base::buildBaseTriangulation();
            return;
        }
        step();
        for (const gp_XY& corner : corners)
            structure->AddNode(BRepMesh_Vertex(corner.X(), corner.Y(), BRepMesh_Free));
        const std::size_t part = (triangles.size() + triangleParts - 1) / triangleParts;
        for (std::size_t first = 0; first < triangles.size(); first += part) {
            const std::size_t last = std::min(triangles.size(), first + part);
            for (std::size_t t = first; t < last; ++t)
                addTriangle(*structure, triangles[t]);
            step();
        }
    }

    void postProcessMesh(BRepMesh_Delaun& mesher, const Message_ProgressRange& range) override
    {
        step();
        Base::postProcessMesh(mesher, range);
        step();
    }

private:
    static void addTriangle(BRepMesh_DataStructureOfDelaun& structure,
                            const std::array<int, 3>& corners)
    {
        int links[3];
        Standard_Boolean forward[3];
        for (int k = 0; k < 3; ++k) {
            const int link = structure.AddLink(
                BRepMesh_Edge(corners[k] + 1, corners[(k + 1) % 3] + 1, BRepMesh_Free));
            links[k] = std::abs(link);
            forward[k] = link > 0;
        }
        structure.AddElement(BRepMesh_Triangle(links, forward, BRepMesh_Free));
    }

    // Moves the bar, and after a break leaves the face at once: the kernel ends a face's
    // meshing on a failure, which it catches, without triangles, and CheckedAlgo marks the
    // face broken off. Otherwise the kernel would run the face's remaining steps.
    void step() const
    {
        if (!steps_)
            return;
        steps_->Next();
        if (!steps_->More())
            throw Standard_Failure("meshing broken off");
    }

    Message_ProgressScope* steps_ = nullptr;
};

// The kernel's fast triangulation, plane faces by the stepped one above.
class SteppedFastFactory : public BRepMesh_DelabellaMeshAlgoFactory {
public:
    Handle(IMeshTools_MeshAlgo) GetAlgo(const GeomAbs_SurfaceType type,
                                        const IMeshTools_Parameters& parameters) const override
    {
        if (type == GeomAbs_Plane && parameters.InternalVerticesMode)
            return new SteppedPlaneAlgo();
        return BRepMesh_DelabellaMeshAlgoFactory::GetAlgo(type, parameters);
    }
};

class CheckedAlgoFactory : public IMeshTools_MeshAlgoFactory {
public:
    CheckedAlgoFactory(Triangulation triangulation, Tally& tally)
        : fast_(triangulation == Triangulation::Checked ? new SteppedFastFactory() : nullptr)
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

// Work of a face grows with the points on its borders: the bar moves by them.
double faceWeight(const IMeshData::IFaceHandle& face)
{
    return double(std::max(borderNodes(face), 1));
}

// Triangulates the faces one by one (side by side when the parameters ask for it) as the
// kernel's face step does, each face's share of the range after its border points: the
// kernel's own step gives every face the same share, and the bar stood still while the two
// faces of a plate with thousands of holes were meshed.
class WeightedFaceDiscret : public IMeshTools_ModelAlgo {
public:
    explicit WeightedFaceDiscret(Handle(IMeshTools_MeshAlgoFactory) factory)
        : factory_(std::move(factory))
    {
    }

protected:
    Standard_Boolean performInternal(const Handle(IMeshData_Model)& model,
                                     const IMeshTools_Parameters& parameters,
                                     const Message_ProgressRange& range) override
    {
        std::vector<double> weights(std::size_t(model->FacesNb()));
        double total = 0.0;
        for (int i = 0; i < model->FacesNb(); ++i)
            total += weights[std::size_t(i)] = faceWeight(model->GetFace(i));
        Message_ProgressScope scope(range, nullptr, std::max(total, 1.0));
        std::vector<Message_ProgressRange> ranges;
        ranges.reserve(weights.size());
        for (const double weight : weights)
            ranges.push_back(scope.Next(weight));
        OSD_Parallel::For(
            0, model->FacesNb(),
            [&](int i) {
                Message_ProgressRange& face = ranges[std::size_t(i)];
                if (scope.More())
                    meshFace(model->GetFace(i), parameters, face);
                // A range the face's meshing did not take moves the bar only when closed.
                face.Close();
            },
            !(parameters.InParallel && model->FacesNb() > 1));
        return scope.More();
    }

private:
    void meshFace(const IMeshData::IFaceHandle& face, const IMeshTools_Parameters& parameters,
                  const Message_ProgressRange& range) const
    {
        if (face->IsSet(IMeshData_Failure) || face->IsSet(IMeshData_Reused))
            return;
        try {
            OCC_CATCH_SIGNALS
            const Handle(IMeshTools_MeshAlgo) algo
                = factory_->GetAlgo(face->GetSurface()->GetType(), parameters);
            if (algo.IsNull()) {
                face->SetStatus(IMeshData_Failure);
                return;
            }
            if (!range.More()) {
                face->SetStatus(IMeshData_UserBreak);
                return;
            }
            algo->Perform(face, parameters, range);
        } catch (const Standard_Failure&) {
            face->SetStatus(IMeshData_Failure);
        }
    }

    Handle(IMeshTools_MeshAlgoFactory) factory_;
};

// The kernel's healer (it joins the ends of each face's border pieces and divides edges
// finer where borders cross), with the search for crossing borders of faces with many
// wires done by findWireCrossing: the kernel pairs every wire with every other and asks for
// no break meanwhile. The kernel skips its search on a face marked failed, so those faces
// are marked while it runs and searched afterwards, one by one with a share of the range;
// a face where two borders may cross is handed back to the kernel's own search, which then
// divides its crossing edges finer as before.
class IndexedHealer : public IMeshTools_ModelAlgo {
protected:
    Standard_Boolean performInternal(const Handle(IMeshData_Model)& model,
                                     const IMeshTools_Parameters& parameters,
                                     const Message_ProgressRange& range) override
    {
        std::vector<IMeshData::IFaceHandle> crowded;
        double total = 0.0;
        for (int i = 0; i < model->FacesNb(); ++i) {
            const IMeshData::IFaceHandle& face = model->GetFace(i);
            if (face->WiresNb() >= crowdedWires && !face->IsSet(IMeshData_Failure)) {
                crowded.push_back(face);
                total += faceWeight(face);
            }
        }
        Message_ProgressScope scope(range, nullptr, 1.0 + total);
        if (!heal(model, parameters, crowded))
            return Standard_False;
        scope.Next();
        std::vector<IMeshData::IFaceHandle> clear;
        std::vector<IMeshData::IFaceHandle> crossing;
        for (const IMeshData::IFaceHandle& face : crowded) {
            const WireCrossing found = findWireCrossing(face, scope.Next(faceWeight(face)));
            if (found == WireCrossing::Stopped)
                return Standard_False;
            (found == WireCrossing::None ? clear : crossing).push_back(face);
        }
        return crossing.empty() || heal(model, parameters, clear);
    }

private:
    // Faces with fewer wires are searched by the kernel as fast as by the grid.
    static constexpr int crowdedWires = 16;

    static bool heal(const Handle(IMeshData_Model)& model, const IMeshTools_Parameters& parameters,
                     const std::vector<IMeshData::IFaceHandle>& unsearched)
    {
        for (const IMeshData::IFaceHandle& face : unsearched)
            face->SetStatus(IMeshData_Failure);
        const Handle(IMeshTools_ModelAlgo) kernel = new BRepMesh_ModelHealer();
        const bool healed = kernel->Perform(model, parameters, Message_ProgressRange());
        for (const IMeshData::IFaceHandle& face : unsearched)
            face->UnsetStatus(IMeshData_Failure);
        return healed;
    }
};

// The kernel's meshing context with every step on one progress scope, so that the bar
// moves through the steps the kernel runs without a range (building the model, dividing
// edges, healing, cleaning up) and a break is honoured between them. The range handed to
// the meshing itself goes unused.
class ProgressContext : public BRepMesh_Context {
public:
    ProgressContext(const Message_ProgressRange& range, Triangulation triangulation,
                    WireCheck wireCheck, Tally& tally)
        : scope_(range, nullptr, 100)
    {
        SetEdgeDiscret(new LoopKeepingEdgeDiscret());
        SetFaceDiscret(new WeightedFaceDiscret(new CheckedAlgoFactory(triangulation, tally)));
        if (wireCheck == WireCheck::Indexed)
            SetModelHealer(new IndexedHealer());
    }

    Standard_Boolean BuildModel() override
    {
        return step(2, [this] { return BRepMesh_Context::BuildModel(); });
    }
    Standard_Boolean DiscretizeEdges() override
    {
        return step(8, [this] { return BRepMesh_Context::DiscretizeEdges(); });
    }
    Standard_Boolean HealModel() override
    {
        const Message_ProgressRange range = scope_.Next(20);
        return scope_.More()
               && (GetModelHealer().IsNull()
                   || GetModelHealer()->Perform(GetModel(), GetParameters(), range))
               && scope_.More();
    }
    Standard_Boolean PreProcessModel() override
    {
        return step(2, [this] { return BRepMesh_Context::PreProcessModel(); });
    }
    Standard_Boolean DiscretizeFaces(const Message_ProgressRange&) override
    {
        const Message_ProgressRange range = scope_.Next(60);
        return scope_.More() && BRepMesh_Context::DiscretizeFaces(range) && scope_.More();
    }
    Standard_Boolean PostProcessModel() override
    {
        return step(8, [this] { return BRepMesh_Context::PostProcessModel(); });
    }

private:
    template <typename Step> Standard_Boolean step(double share, Step run)
    {
        if (!scope_.More())
            return Standard_False;
        const bool done = run();
        scope_.Next(share);
        return done && scope_.More();
    }

    Message_ProgressScope scope_;
};

} // namespace

MeshOutcome meshShape(const TopoDS_Shape& shape, const IMeshTools_Parameters& parameters,
                      const Message_ProgressRange& range, Triangulation triangulation,
                      WireCheck wireCheck)
{
    Tally tally;
    BRepMesh_IncrementalMesh mesher;
    mesher.SetShape(shape);
    mesher.ChangeParameters() = parameters;
    {
        const Handle(IMeshTools_Context) context
            = new ProgressContext(range, triangulation, wireCheck, tally);
        mesher.Perform(context, Message_ProgressRange());
    }
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
        if (!coversOnce(*mesh, domain))
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
