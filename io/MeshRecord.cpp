#include "io/MeshRecord.h"

#include "io/MeshFaces.h"

#include <BRep_Tool.hxx>
#include <Poly_Triangulation.hxx>
#include <Poly_TriangulationParameters.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Face.hxx>

#include <algorithm>
#include <cmath>
#include <optional>

namespace qor::io {

namespace {

// The parameters a triangulation was made with, as the kernel's mesher keeps them, and
// the record of the export that left it, with its body's entry.
class MeshStamp : public Poly_TriangulationParameters {
public:
    MeshStamp(double deflection, double angle, Handle(MeshRecord) record, std::size_t index)
        : Poly_TriangulationParameters(deflection, angle)
        , record_(std::move(record))
        , index_(index)
    {
    }

    const Handle(MeshRecord)& record() const { return record_; }
    std::size_t index() const { return index_; }

    DEFINE_STANDARD_RTTI_INLINE(MeshStamp, Poly_TriangulationParameters)

private:
    Handle(MeshRecord) record_;
    std::size_t index_;
};

// The one record every triangulated face of the body carries, the entry its faces
// name and how many faces carry it; nothing when a face carries another or none.
struct Carried {
    Handle(MeshRecord) record;
    std::size_t index = 0;
    long long faces = 0;
};

std::optional<Carried> carriedRecord(const TopoDS_Shape& body)
{
    Carried carried;
    for (TopExp_Explorer it(body, TopAbs_FACE); it.More(); it.Next()) {
        TopLoc_Location location;
        const Handle(Poly_Triangulation)& mesh
            = BRep_Tool::Triangulation(TopoDS::Face(it.Current()), location);
        if (mesh.IsNull())
            continue;
        const Handle(MeshStamp) stamp = Handle(MeshStamp)::DownCast(mesh->Parameters());
        if (stamp.IsNull() || (!carried.record.IsNull() && stamp->record() != carried.record))
            return std::nullopt;
        carried.record = stamp->record();
        carried.index = stamp->index();
        ++carried.faces;
    }
    if (carried.record.IsNull())
        return std::nullopt;
    return carried;
}

long long triangleCount(const TopoDS_Shape& body)
{
    long long triangles = 0;
    for (TopExp_Explorer it(body, TopAbs_FACE); it.More(); it.Next()) {
        TopLoc_Location location;
        const Handle(Poly_Triangulation)& mesh
            = BRep_Tool::Triangulation(TopoDS::Face(it.Current()), location);
        triangles += mesh.IsNull() ? 0 : mesh->NbTriangles();
    }
    return triangles;
}

// Whether the entry describes this body as it is now: the same shape, with as many
// triangulated faces as it had when the record was made (a face cleaned since would
// leave the others' stamps in place).
bool describes(const MeshedBody& entry, const TopoDS_Shape& body, long long faces)
{
    return entry.identity == body.TShape().get() && !entry.meshOnly && entry.meshedFaces == faces;
}

// The entry of the record the body carries unchanged, when it is the body's own (the
// entry of another placement of the same shape serves as well).
MeshedBody* ownEntry(const TopoDS_Shape& body)
{
    const std::optional<Carried> carried = carriedRecord(body);
    if (!carried || carried->index >= carried->record->bodies.size())
        return nullptr;
    MeshedBody& entry = carried->record->bodies[carried->index];
    return describes(entry, body, carried->faces) ? &entry : nullptr;
}

// A mesh body carries no stamp: it is the same when it is the same shape at the same
// place with as many triangles.
bool sameMeshBody(const MeshedBody& entry, const TopoDS_Shape& body)
{
    return entry.meshOnly && entry.identity == body.TShape().get()
           && entry.location == body.Location() && entry.triangles == triangleCount(body);
}

} // namespace

Handle(MeshRecord) reusableRecord(const std::vector<TopoDS_Shape>& bodies, double deflection,
                                  double angle, long long triangleBudget)
{
    Handle(MeshRecord) record;
    std::vector<long long> faces(bodies.size(), 0);
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        if (bodies[i].IsNull() || isMeshOnly(bodies[i]))
            continue;
        const std::optional<Carried> carried = carriedRecord(bodies[i]);
        if (!carried || (!record.IsNull() && carried->record != record))
            return nullptr;
        record = carried->record;
        faces[i] = carried->faces;
    }
    const auto repaired = [](const MeshedBody& entry) { return entry.repaired; };
    if (record.IsNull() || record->bodies.size() != bodies.size()
        || std::any_of(record->bodies.begin(), record->bodies.end(), repaired)
        || record->deflection != deflection || record->angle != angle
        || record->triangleBudget != triangleBudget)
        return nullptr;
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        const MeshedBody& entry = record->bodies[i];
        const TopoDS_Shape& body = bodies[i];
        const bool same = body.IsNull()      ? entry.identity == nullptr
                          : isMeshOnly(body) ? sameMeshBody(entry, body)
                                             : describes(entry, body, faces[i])
                                                   && entry.location == body.Location();
        if (!same)
            return nullptr;
    }
    return record;
}

bool carriesMeshRecord(const TopoDS_Shape& body)
{
    for (TopExp_Explorer it(body, TopAbs_FACE); it.More(); it.Next()) {
        TopLoc_Location location;
        const Handle(Poly_Triangulation)& mesh
            = BRep_Tool::Triangulation(TopoDS::Face(it.Current()), location);
        if (!mesh.IsNull() && !Handle(MeshStamp)::DownCast(mesh->Parameters()).IsNull())
            return true;
    }
    return false;
}

void stampMeshes(const std::vector<TopoDS_Shape>& bodies, const Handle(MeshRecord)& record)
{
    record->bodies.resize(bodies.size());
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        MeshedBody& entry = record->bodies[i];
        const TopoDS_Shape& body = bodies[i];
        entry.identity = body.IsNull() ? nullptr : body.TShape().get();
        entry.location = body.Location();
        entry.meshOnly = !body.IsNull() && isMeshOnly(body);
        entry.triangles = triangleCount(body);
        entry.meshedFaces = 0;
        if (entry.meshOnly)
            continue;
        for (TopExp_Explorer it(body, TopAbs_FACE); it.More(); it.Next()) {
            TopLoc_Location location;
            const Handle(Poly_Triangulation)& mesh
                = BRep_Tool::Triangulation(TopoDS::Face(it.Current()), location);
            if (mesh.IsNull())
                continue;
            // The kernel keeps the deflection it made the triangles at; a triangulation
            // the cleanup put in place took over the kernel's estimate only.
            const Handle(Poly_TriangulationParameters)& made = mesh->Parameters();
            const double deflection = !made.IsNull() && made->HasDeflection()
                                          ? made->Deflection()
                                          : std::max(entry.deflection, mesh->Deflection());
            mesh->Parameters(new MeshStamp(deflection, record->angle, record, i));
            ++entry.meshedFaces;
        }
    }
}

std::vector<double> recordedVolumes(const std::vector<TopoDS_Shape>& bodies)
{
    std::vector<double> volumes;
    for (const TopoDS_Shape& body : bodies) {
        const MeshedBody* entry = body.IsNull() ? nullptr : ownEntry(body);
        volumes.push_back(entry ? entry->volume : std::numeric_limits<double>::quiet_NaN());
    }
    return volumes;
}

double volumeMeasuredOnce(const TopoDS_Shape& body,
                          const std::function<double(const TopoDS_Shape&)>& measure)
{
    const double scale = std::abs(body.Location().Transformation().ScaleFactor());
    MeshedBody* entry = body.IsNull() ? nullptr : ownEntry(body);
    double unplaced = entry ? entry->volume : std::numeric_limits<double>::quiet_NaN();
    if (std::isnan(unplaced))
        unplaced = measure(body.Located(TopLoc_Location()));
    if (entry)
        entry->volume = unplaced;
    return unplaced * scale * scale * scale;
}

} // namespace qor::io
