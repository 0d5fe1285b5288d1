#include "io/StepRoundTrip.h"

#include "io/ClosedVolume.h"
#include "io/DescriptorIO.h"
#include "io/ProcessCpu.h"
#include "sketch/Plane.h"

#include <QThread>

#include <BRepAdaptor_Curve.hxx>
#include <BRepBuilderAPI_Copy.hxx>
#include <BRepBuilderAPI_NurbsConvert.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepGProp.hxx>
#include <BRep_Tool.hxx>
#include <GProp_GProps.hxx>
#include <Geom2dAdaptor_Curve.hxx>
#include <GeomAdaptor_Surface.hxx>
#include <Interface_InterfaceModel.hxx>
#include <Interface_Static.hxx>
#include <Precision.hxx>
#include <STEPControl_Controller.hxx>
#include <STEPControl_Reader.hxx>
#include <ShapeFix_Shape.hxx>
#include <ShapeUpgrade_ShapeDivideClosed.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <StepData_StepModel.hxx>
#include <StepShape_ManifoldSolidBrep.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <XSControl_WorkSession.hxx>
#include <math.hxx>

#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <numeric>
#include <optional>

namespace qor::io {

namespace {

constexpr double volumeTolerance = 1e-4;

StepWorkerLimits workerLimits;
void (*workerEntry)() = nullptr;

qint64 nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// What a worker sends per task: for a body read back whole its volume as written
// and as read; for a face whether it came back as written.
struct Record {
    qint32 task;
    qint32 same;
    double model;
    double file;
    qint32 modelSolids;
    qint32 fileSolids;
};

// Whether the edge runs once round its circle, from a vertex back to it.
bool isWholeCircle(const BRepAdaptor_Curve& curve, const TopoDS_Edge& edge)
{
    if (curve.GetType() != GeomAbs_Circle)
        return false;
    TopoDS_Vertex first;
    TopoDS_Vertex last;
    TopExp::Vertices(edge, first, last);
    return !first.IsNull() && first.IsSame(last)
           && std::abs(curve.LastParameter() - curve.FirstParameter() - 2 * M_PI)
                  <= Precision::PConfusion();
}

// Line integrals around the wires of a face in its surface's parameters,
// measured from a reference point (the first point of the first edge) so that
// faces far from the origin of their parameters lose no digits: twice the
// enclosed area, and twice its first moments about the point's lines.
struct ParameterIntegrals {
    gp_Pnt2d origin;
    double twiceArea = 0.0;
    double twiceMomentU = 0.0;
    double twiceMomentV = 0.0;
};

// Each span of an edge's curve is integrated by Gauss-Legendre points, a curve
// that is no polynomial piece by piece in four parts: the integrals then hold to
// far below the tolerance whatever parameters the reader gave the curve.
bool integrateWires(const TopoDS_Face& face, ParameterIntegrals& sums)
{
    constexpr int points = 8;
    static const auto gauss = [] {
        std::pair<math_Vector, math_Vector> rule{math_Vector(1, points), math_Vector(1, points)};
        math::GaussPoints(points, rule.first);
        math::GaussWeights(points, rule.second);
        return rule;
    }();
    bool referenced = false;
    gp_Pnt2d& origin = sums.origin;
    for (TopExp_Explorer it(face, TopAbs_EDGE); it.More(); it.Next()) {
        const TopoDS_Edge& edge = TopoDS::Edge(it.Current());
        const TopAbs_Orientation orientation = edge.Orientation();
        if (orientation != TopAbs_FORWARD && orientation != TopAbs_REVERSED)
            continue;
        double first = 0.0;
        double last = 0.0;
        const Handle(Geom2d_Curve) curve = BRep_Tool::CurveOnSurface(edge, face, first, last);
        if (curve.IsNull() || !std::isfinite(first) || !std::isfinite(last)
            || std::abs(first) > 1e100 || std::abs(last) > 1e100)
            return false;
        const Geom2dAdaptor_Curve adaptor(curve, first, last);
        const GeomAbs_CurveType type = adaptor.GetType();
        const int pieces = type == GeomAbs_Line || type == GeomAbs_BezierCurve
                                   || (type == GeomAbs_BSplineCurve && !adaptor.IsRational())
                               ? 1
                               : 4;
        const int spans = adaptor.NbIntervals(GeomAbs_C2);
        TColStd_Array1OfReal bounds(1, spans + 1);
        adaptor.Intervals(bounds, GeomAbs_C2);
        const double sense = orientation == TopAbs_REVERSED ? -1.0 : 1.0;
        if (!referenced) {
            origin = adaptor.Value(sense > 0 ? first : last);
            referenced = true;
        }
        for (int s = 1; s <= spans; ++s) {
            const double step = (bounds(s + 1) - bounds(s)) / pieces;
            for (int p = 0; p < pieces; ++p) {
                const double from = bounds(s) + p * step;
                for (int g = 1; g <= points; ++g) {
                    const double t = from + 0.5 * step * (gauss.first(g) + 1.0);
                    gp_Pnt2d at;
                    gp_Vec2d d;
                    adaptor.D1(t, at, d);
                    const double u = at.X() - origin.X();
                    const double v = at.Y() - origin.Y();
                    const double w = sense * 0.5 * step * gauss.second(g);
                    sums.twiceArea += w * (u * d.Y() - v * d.X());
                    sums.twiceMomentU += w * u * u * d.Y();
                    sums.twiceMomentV -= w * v * v * d.X();
                }
            }
        }
    }
    return referenced;
}

// What a face is compared by, from the integrals around its wires: the area they
// enclose in parameters, whether they run as a face's wires should for its
// orientation (outer ones anticlockwise seen along its normal), and the point
// of the surface at the middle of that area with the face's outward normal
// there. A surface taken with other parameters (turned round, shifted by a
// period) gives the same, a face trimmed otherwise or turned round does not.
struct FaceImage {
    double area = 0.0;
    bool wiresAgree = false;
    gp_Pnt centre;
    gp_Vec normal;
    // From the first point of the wires to the centre: how far rounding may move
    // the centre.
    double size = 0.0;
};

// False when the face has an edge without a curve on it or encloses nothing.
bool faceImage(const TopoDS_Face& face, FaceImage& image)
{
    ParameterIntegrals sums;
    if (!integrateWires(face, sums) || sums.twiceArea == 0.0)
        return false;
    const double u = sums.origin.X() + sums.twiceMomentU / sums.twiceArea;
    const double v = sums.origin.Y() + sums.twiceMomentV / sums.twiceArea;
    const Handle(Geom_Surface) surface = BRep_Tool::Surface(face);
    gp_Vec du;
    gp_Vec dv;
    surface->D1(u, v, image.centre, du, dv);
    const bool reversed = face.Orientation() == TopAbs_REVERSED;
    image.area = std::abs(0.5 * sums.twiceArea);
    // The explorer turns the edges of a reversed face round, and with them the
    // sign of the area.
    image.wiresAgree = (sums.twiceArea > 0.0) != reversed;
    image.normal = reversed ? dv.Crossed(du) : du.Crossed(dv);
    image.size = surface->Value(sums.origin.X(), sums.origin.Y()).Distance(image.centre);
    return true;
}

enum class Likeness { Same, Other, Unsure };

// Faces turned otherwise or with wires running otherwise are other faces; the
// same area around the same point makes them the same. Both integrate the same
// curves when the face came back: they differ by rounding only, far below these
// bounds. Otherwise the reader may have made the curves anew.
Likeness compare(const FaceImage& mine, const FaceImage& theirs)
{
    if (mine.wiresAgree != theirs.wiresAgree || mine.normal.Dot(theirs.normal) < 0.0)
        return Likeness::Other;
    constexpr double relative = 1e-5;
    if (std::abs(theirs.area - mine.area) <= relative * mine.area
        && mine.centre.Distance(theirs.centre) <= relative * mine.size + Precision::Confusion())
        return Likeness::Same;
    return Likeness::Unsure;
}

// The faces' areas in space and their centres agree to 0.01 % (of the square
// root of the area, for the centre).
bool sameInSpace(const TopoDS_Face& written, const TopoDS_Face& read)
{
    GProp_GProps mine;
    BRepGProp::SurfaceProperties(written, mine);
    GProp_GProps theirs;
    BRepGProp::SurfaceProperties(read, theirs);
    const double area = mine.Mass();
    return std::abs(theirs.Mass() - area) <= volumeTolerance * area
           && mine.CentreOfMass().Distance(theirs.CentreOfMass())
                  <= volumeTolerance * std::sqrt(area);
}

// Whether the body read back has the faces written, in their order.
bool sameFaces(const TopoDS_Shape& written, const TopoDS_Shape& read)
{
    TopExp_Explorer theirs(read, TopAbs_FACE);
    for (TopExp_Explorer mine(written, TopAbs_FACE); mine.More(); mine.Next(), theirs.Next()) {
        if (!theirs.More()
            || !sameFace(TopoDS::Face(mine.Current()), TopoDS::Face(theirs.Current())))
            return false;
    }
    return !theirs.More();
}

// The work a checking process does: reads single tasks back from the model with
// its reader.
class TaskReader {
public:
    // On the session that parsed the file, whose graph of the model exists
    // already: relating the entities again costs a good part of reading them.
    TaskReader(const Handle(XSControl_WorkSession)& session,
               const std::vector<TopoDS_Shape>& shapes)
        : model_(Handle(StepData_StepModel)::DownCast(session->Model()))
        , shapes_(shapes)
        , reader_(session, false)
    {
    }

    Record run(int index, const StepTask& task)
    {
        return task.solid >= 0 ? solid(index, task) : body(index, task.body);
    }

private:
    // Reads back with transfer and hands what came back to judge, both under the
    // kernel's signal and failure catch; false when nothing came back or the
    // kernel failed.
    template <typename Transfer, typename Judge> bool readBack(Transfer&& transfer, Judge&& judge)
    {
        bool judged = false;
        try {
            OCC_CATCH_SIGNALS
            const int before = reader_.NbShapes();
            if (transfer() && reader_.NbShapes() > before) {
                judge(reader_.Shape(reader_.NbShapes()));
                judged = true;
            }
        } catch (const Standard_Failure&) {
            judged = false;
        }
        reader_.ClearShapes();
        return judged;
    }

    // A shape whose faces all come back as written is whole and not measured;
    // otherwise its volumes are.
    template <typename Transfer>
    Record measured(int index, const TopoDS_Shape& own, Transfer&& transfer)
    {
        Record record{index, 0, 0.0, 0.0, 0, 0};
        const bool read = readBack(transfer, [&](const TopoDS_Shape& shape) {
            // The writer may place a solid by its body's placement rather than in
            // its geometry.
            // Its faces all back, a solid may still have come back open.
            record.same = (sameFaces(own, shape)
                           || (!own.Location().IsIdentity()
                               && sameFaces(own.Located(TopLoc_Location()), shape)))
                          && closedSolidCount(shape) == closedSolidCount(own);
            if (!record.same) {
                record.file = closedVolume(shape);
                record.fileSolids = closedSolidCount(shape);
            }
        });
        if (!read) {
            record.same = 0;
            record.file = 0.0;
            record.fileSolids = 0;
        }
        if (!record.same) {
            record.model = closedVolume(own);
            record.modelSolids = closedSolidCount(own);
        }
        return record;
    }

    Record body(int index, int body)
    {
        // Another count of top-level shapes than bodies: no body can be matched.
        // Finding them walks the whole model, which reading faces does not need.
        if (!matched_)
            matched_ = reader_.NbRootsForTransfer() == int(shapes_.size());
        return measured(index, shapes_[std::size_t(body)],
                        [&] { return *matched_ && reader_.TransferRoot(body + 1); });
    }

    // A solid read on its own is read as within its body (the reader heals the
    // solids of a body one by one), so that the solids of a large body are read
    // back side by side.
    Record solid(int index, const StepTask& task)
    {
        TopExp_Explorer it(shapes_[std::size_t(task.body)], TopAbs_SOLID);
        for (int k = 0; k < task.solid; ++k)
            it.Next();
        return measured(index, it.Current(),
                        [&] { return reader_.TransferEntity(model_->Value(task.entity)); });
    }

    Handle(StepData_StepModel) model_;
    const std::vector<TopoDS_Shape>& shapes_;
    STEPControl_Reader reader_;
    std::optional<bool> matched_;
};

// The numbers of the model's entities of a kind, in the order the writer made
// them: body after body, each body's in the order the explorer visits its shapes.
template <typename Kind> std::vector<int> entitiesOf(const Handle(StepData_StepModel)& model)
{
    std::vector<int> entities;
    for (int i = 1; i <= model->NbEntities(); ++i) {
        if (model->Value(i)->IsKind(STANDARD_TYPE(Kind)))
            entities.push_back(i);
    }
    return entities;
}

// Where each body's shapes of a kind begin among all of them, and their total.
std::vector<int> firstOf(const std::vector<TopoDS_Shape>& shapes, TopAbs_ShapeEnum kind, int& total)
{
    std::vector<int> first(shapes.size(), 0);
    total = 0;
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        first[i] = total;
        for (TopExp_Explorer it(shapes[i], kind); it.More(); it.Next())
            ++total;
    }
    return first;
}

// The tasks of the listed bodies: each solid of a body that may change read on
// its own as within its body, the solids paired with their entities by order; a
// body without solids, or all when the model holds another number of solids than
// the bodies (a body written twice as one part, placements that share one), read
// whole: each placement is a top-level shape of its own. A solid whose faces
// all come back as written comes back whole and is not read: the many planar
// pins of a connector cost more to read than the one housing that may change.
// The largest come first, so that workers taking tasks in turn end together.
std::vector<StepTask> checkTasks(const Handle(StepData_StepModel)& model,
                                 const std::vector<TopoDS_Shape>& shapes,
                                 const std::vector<int>& indices)
{
    int totalSolids = 0;
    const std::vector<int> firstSolid = firstOf(shapes, TopAbs_SOLID, totalSolids);
    const std::vector<int> solidEntities = entitiesOf<StepShape_ManifoldSolidBrep>(model);
    const bool bySolid = totalSolids == int(solidEntities.size());
    std::vector<std::pair<int, StepTask>> whole; // with its face count
    for (const int index : indices) {
        const TopoDS_Shape& shape = shapes[std::size_t(index)];
        int k = 0;
        for (TopExp_Explorer it(shape, TopAbs_SOLID); bySolid && it.More(); it.Next(), ++k) {
            if (!stepMayChange(it.Current()))
                continue;
            whole.push_back(
                {countOf(it.Current(), TopAbs_FACE),
                 {index, solidEntities[std::size_t(firstSolid[std::size_t(index)] + k)], k}});
        }
        if (!bySolid || k == 0)
            whole.push_back({countOf(shape, TopAbs_FACE), {index, 0}});
    }
    std::stable_sort(whole.begin(), whole.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<StepTask> tasks;
    for (const auto& [count, task] : whole)
        tasks.push_back(task);
    return tasks;
}

// The faces the tasks read back.
int taskFaces(const std::vector<TopoDS_Shape>& shapes, const std::vector<StepTask>& tasks)
{
    int faces = 0;
    for (const StepTask& task : tasks) {
        if (task.solid >= 0) {
            TopExp_Explorer it(shapes[std::size_t(task.body)], TopAbs_SOLID);
            for (int k = 0; k < task.solid; ++k)
                it.Next();
            faces += countOf(it.Current(), TopAbs_FACE);
        } else {
            faces += countOf(shapes[std::size_t(task.body)], TopAbs_FACE);
        }
    }
    return faces;
}

// A value of /proc in kB, 0 when it cannot be read: the resident pages of this
// process, or the memory the system still has available.
long long residentKb()
{
    FILE* file = std::fopen("/proc/self/statm", "r");
    if (!file)
        return 0;
    long long size = 0;
    long long resident = 0;
    const bool read = std::fscanf(file, "%lld %lld", &size, &resident) == 2;
    std::fclose(file);
    return read ? resident * (::sysconf(_SC_PAGESIZE) / 1024) : 0;
}

long long availableKb()
{
    FILE* file = std::fopen("/proc/meminfo", "r");
    if (!file)
        return 0;
    char line[256];
    long long available = 0;
    while (std::fgets(line, sizeof line, file)) {
        if (std::sscanf(line, "MemAvailable: %lld kB", &available) == 1)
            break;
    }
    std::fclose(file);
    return available;
}

// The cores no other process keeps busy, by the load of the last minute, in
// which this process counts itself; all of them when the load cannot be read.
int freeCores(int cores)
{
    FILE* file = std::fopen("/proc/loadavg", "r");
    if (!file)
        return cores;
    double load = 0.0;
    const bool read = std::fscanf(file, "%lf", &load) == 1;
    std::fclose(file);
    if (!read)
        return cores;
    const int others = std::max(0, int(std::lround(load)) - 1);
    return std::clamp(cores - others, 1, cores);
}

// Every worker copies the pages of the parsed model it touches (reading an
// entity counts its references up): one worker adds about a twentieth to the
// check's processor time, seven a tenth to a half. They run side by side only
// on cores no one else wants; one worker on a busy machine still guards the
// export against a reader that hangs.
int workerCount(int faces, int facesForWorkers)
{
    if (faces < facesForWorkers)
        return 0;
    return stepWorkerCount(freeCores(QThread::idealThreadCount()), residentKb(), availableKb());
}

std::atomic<int>& nextTask(void* shared)
{
    return *static_cast<std::atomic<int>*>(shared);
}

} // namespace

bool hasCurvedFace(const TopoDS_Shape& shape)
{
    for (TopExp_Explorer it(shape, TopAbs_FACE); it.More(); it.Next()) {
        const Handle(Geom_Surface) surface = BRep_Tool::Surface(TopoDS::Face(it.Current()));
        if (surface.IsNull() || GeomAdaptor_Surface(surface).GetType() != GeomAbs_Plane)
            return true;
    }
    return false;
}

bool stepMayChangeFace(const TopoDS_Face& face)
{
    const Handle(Geom_Surface) surface = BRep_Tool::Surface(face);
    if (surface.IsNull())
        return true;
    switch (GeomAdaptor_Surface(surface).GetType()) {
    case GeomAbs_Plane:
    case GeomAbs_Cylinder:
    case GeomAbs_Cone:
    case GeomAbs_Sphere:
    case GeomAbs_Torus: break;
    default: return true;
    }
    int edges = 0;
    bool allWholeCircles = true;
    TopoDS_Edge seam;
    for (TopExp_Explorer it(face, TopAbs_EDGE); it.More(); it.Next()) {
        const TopoDS_Edge& edge = TopoDS::Edge(it.Current());
        if (BRep_Tool::Degenerated(edge))
            return true;
        const BRepAdaptor_Curve curve(edge);
        const GeomAbs_CurveType type = curve.GetType();
        if (type != GeomAbs_Line && type != GeomAbs_Circle)
            return true;
        if (BRep_Tool::IsClosed(edge, face)) {
            // The seam comes twice, once each way; a second seam (a whole torus)
            // or a seam in pieces leaves the reader to place parts of the face.
            if (!seam.IsNull() && !seam.IsSame(edge))
                return true;
            seam = edge;
            continue;
        }
        allWholeCircles = allWholeCircles && isWholeCircle(curve, edge);
        ++edges;
    }
    // A round band: the seam from one whole circle to the other, which fixes on
    // which side of the seam every point of the face lies.
    if (!seam.IsNull())
        return edges != 2 || !allWholeCircles;
    // A disc or an annulus: its wires are whole circles, no side to choose.
    return edges < 3 && !allWholeCircles;
}

bool stepMayChange(const TopoDS_Shape& shape)
{
    // Only closed shells enclose a volume to compare.
    for (TopExp_Explorer shell(shape, TopAbs_SHELL); shell.More(); shell.Next()) {
        if (!BRep_Tool::IsClosed(shell.Current()))
            continue;
        for (TopExp_Explorer it(shell.Current(), TopAbs_FACE); it.More(); it.Next()) {
            if (stepMayChangeFace(TopoDS::Face(it.Current())))
                return true;
        }
    }
    return false;
}

int stepWorkerCount(int cores, long long residentKb, long long availableKb)
{
    const int byCores = std::clamp(cores - 1, 1, 7);
    if (residentKb <= 0 || availableKb <= 0)
        return byCores;
    const long long byMemory = (availableKb / 2) / std::max(1LL, residentKb / 2);
    return int(std::clamp<long long>(byMemory, 1, byCores));
}

bool StepVolume::changed() const
{
    return fileSolids < modelSolids || !(std::abs(file - model) <= volumeTolerance * model);
}

double StepVolume::percent() const
{
    return model > 0.0 ? 100.0 * (file - model) / model : 0.0;
}

bool sameFace(const TopoDS_Face& written, const TopoDS_Face& read)
{
    FaceImage mine;
    FaceImage theirs;
    const bool measured = faceImage(written, mine);
    if (measured && !faceImage(read, theirs))
        return false;
    if (measured) {
        const Likeness likeness = compare(mine, theirs);
        if (likeness != Likeness::Unsure)
            return likeness == Likeness::Same;
    }
    // Without curves on the face nothing is known of its parameters, and the
    // reader may have made its curves anew (within its tolerance): the area in
    // space and its centre decide.
    return sameInSpace(written, read);
}

struct StepCheck::Result {
    bool reported = false;
    Record record{};
};

StepCheck::StepCheck(std::vector<TopoDS_Shape> shapes, std::vector<int> indices,
                     int facesForWorkers)
    : shapes_(std::move(shapes))
    , indices_(std::move(indices))
    , facesForWorkers_(facesForWorkers)
    , limits_(workerLimits)
{
}

void StepCheck::setWorkerLimits(const StepWorkerLimits& limits)
{
    workerLimits = limits;
}

void StepCheck::setWorkerEntry(void (*entry)())
{
    workerEntry = entry;
}

StepCheck::~StepCheck()
{
    stopWorkers();
    if (shared_)
        ::munmap(shared_, sizeof(std::atomic<int>));
}

void StepCheck::startOnFile(const QByteArray& file)
{
    // Parsing the file costs about as much as writing it: with no body to check
    // it is not read.
    if (indices_.empty())
        return;
    STEPControl_Controller::Init();
    STEPControl_Reader reader;
    bool parsed = false;
    try {
        OCC_CATCH_SIGNALS
        parsed = reader.ReadFile(file.constData()) == IFSelect_RetDone;
    } catch (const Standard_Failure&) {
        parsed = false;
    }
    if (!parsed) {
        unreadable_ = true;
        return;
    }
    // The session is kept: closing it empties the model.
    session_ = reader.WS();
    model_ = Handle(StepData_StepModel)::DownCast(session_->Model());
    tasks_ = checkTasks(model_, shapes_, indices_);
    // The workers share the graph of the model, related once here.
    session_->ComputeGraph();
    startWorkers(workerCount(taskFaces(shapes_, tasks_), facesForWorkers_));
}

void StepCheck::startWorkers(int count)
{
    if (count == 0 || tasks_.empty())
        return;
    // The workers take the next task from a counter they share, so that one that
    // drew costly faces does not hold up the others.
    if (!shared_) {
        shared_ = ::mmap(nullptr, sizeof(std::atomic<int>), PROT_READ | PROT_WRITE,
                         MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (shared_ == MAP_FAILED) {
            shared_ = nullptr;
            return;
        }
    }
    new (shared_) std::atomic<int>(0);
    workerEnded_ = false;
    count = std::min(count, int(tasks_.size()));
    for (int w = 0; w < count; ++w) {
        int fds[2];
        if (::pipe(fds) != 0)
            break;
        const pid_t pid = ::fork();
        if (pid < 0) {
            ::close(fds[0]);
            ::close(fds[1]);
            break;
        }
        if (pid == 0) {
            // Only this thread goes on in the worker: the others, Qt's and the
            // kernel's thread pool among them, stay behind with whatever locks they
            // held. So the worker touches nothing but the kernel's reader and
            // property sums, which run in the calling thread, and its pipe, and it
            // ends without running the program's exit handlers. Should it still
            // block, the caller ends it.
            if (workerEntry)
                workerEntry();
            ::close(fds[0]);
            TaskReader reader(session_, shapes_);
            for (;;) {
                const int task = nextTask(shared_).fetch_add(1);
                if (task >= int(tasks_.size()))
                    break;
                const Record record = reader.run(task, tasks_[std::size_t(task)]);
                if (!writeAll(fds[1], reinterpret_cast<const char*>(&record), sizeof record))
                    break;
            }
            ::_exit(0);
        }
        ::close(fds[1]);
        workers_.push_back({pid, fds[0], {}, 0, 0, -1});
    }
}

bool StepCheck::collect(std::vector<Result>& results, const std::function<void()>& report,
                        const CancelCheck& cancelled)
{
    // The workers may have waited on a full pipe while the text was written: the
    // clock of their silence starts now.
    for (Worker& worker : workers_)
        worker.heardMs = worker.busyMs = nowMs();
    for (;;) {
        std::vector<pollfd> open;
        for (const Worker& worker : workers_) {
            if (worker.pipe >= 0)
                open.push_back({worker.pipe, POLLIN, 0});
        }
        if (open.empty())
            break;
        if (cancelRequested(cancelled)) {
            stopWorkers();
            return false;
        }
        report();
        const bool ready = ::poll(open.data(), open.size(), 100) > 0;
        for (Worker& worker : workers_) {
            if (worker.pipe < 0)
                continue;
            pollfd probe{worker.pipe, POLLIN, 0};
            if (!ready || ::poll(&probe, 1, 0) <= 0) {
                endIfHung(worker, nowMs());
                continue;
            }
            char buffer[4096];
            const ssize_t got = ::read(worker.pipe, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got > 0) {
                worker.heardMs = nowMs();
                worker.received.append(buffer, got);
                while (worker.received.size() >= qsizetype(sizeof(Record))) {
                    Record record;
                    std::memcpy(&record, worker.received.constData(), sizeof record);
                    worker.received.remove(0, sizeof record);
                    if (record.task >= 0 && record.task < int(results.size()))
                        results[std::size_t(record.task)] = {true, record};
                }
                continue;
            }
            ::close(worker.pipe);
            worker.pipe = -1;
            ::waitpid(worker.pid, nullptr, 0);
            worker.pid = -1;
        }
    }
    workers_.clear();
    return true;
}

std::vector<StepVolume> StepCheck::results(const ProgressCallback& progress,
                                           const CancelCheck& cancelled)
{
    // One reader for whatever is read back here, made only when needed: relating
    // the model's entities costs a good part of writing them.
    std::unique_ptr<TaskReader> reader;
    // Runs the current tasks, in the workers when they were started, else here,
    // with progress going from `from` to `to`. False when cancelled.
    const auto run = [&](std::vector<Result>& results, int from, int to) {
        results.assign(tasks_.size(), {});
        const auto report = [&] {
            if (!progress || tasks_.empty())
                return;
            const auto done = std::count_if(results.begin(), results.end(),
                                            [](const Result& r) { return r.reported; });
            progress(from + int((to - from) * done / qsizetype(tasks_.size())), QString());
        };
        if (!workers_.empty())
            return collect(results, report, cancelled);
        for (std::size_t t = 0; t < tasks_.size(); ++t) {
            if (!reader)
                reader = std::make_unique<TaskReader>(session_, shapes_);
            results[t] = {true, reader->run(int(t), tasks_[t])};
            report();
            if (cancelRequested(cancelled))
                return false;
        }
        return true;
    };
    // The verdict on a body from its tasks. A task not reported was being read
    // by a worker that was ended for not answering, or was never taken because
    // every worker was: reading it here could hang this process as well.
    // Otherwise its worker died on it, and the reader does not give it back.
    const auto verdict = [&](int index, const std::vector<Result>& results) {
        bool complete = true;
        bool same = true;
        const Record* whole = nullptr;
        double lost = 0.0; // by the solids that came back otherwise
        int solidsLost = 0;
        for (std::size_t t = 0; t < tasks_.size(); ++t) {
            const StepTask& task = tasks_[t];
            if (task.body != index)
                continue;
            if (!results[t].reported) {
                complete = false;
                continue;
            }
            const Record& record = results[t].record;
            if (record.same)
                continue;
            same = false;
            if (task.solid < 0) {
                whole = &record;
            } else {
                lost += record.model - record.file;
                solidsLost += std::max(0, record.modelSolids - record.fileSolids);
            }
        }
        if (!complete && workerEnded_)
            return StepVolume{index, 0.0, 0.0, true};
        if (complete && same)
            return StepVolume{index, 0.0, 0.0};
        if (whole)
            return StepVolume{index, whole->model,       whole->file,
                              false, whole->modelSolids, whole->fileSolids};
        const TopoDS_Shape& shape = shapes_[std::size_t(index)];
        const double model = closedVolume(shape);
        const int solids = closedSolidCount(shape);
        return StepVolume{index, model,  complete ? model - lost : 0.0,
                          false, solids, complete ? solids - solidsLost : 0};
    };

    std::vector<StepVolume> volumes;
    if (unreadable_) {
        for (const int index : indices_) {
            const TopoDS_Shape& shape = shapes_[std::size_t(index)];
            volumes.push_back({index, closedVolume(shape), 0.0, false, closedSolidCount(shape), 0});
        }
        return volumes;
    }
    std::vector<Result> results;
    if (!run(results, 0, 100))
        return {};
    for (const int index : indices_)
        volumes.push_back(verdict(index, results));
    return volumes;
}

void StepCheck::endIfHung(Worker& worker, qint64 now)
{
    const qint64 micros = processCpuMicros(worker.pid);
    if (micros != worker.cpuMicros) {
        worker.cpuMicros = micros;
        worker.busyMs = now;
    }
    const bool blocked = now - std::max(worker.heardMs, worker.busyMs) > limits_.blockedMs;
    if (!blocked && now - worker.heardMs <= limits_.silentMs)
        return;
    ::kill(worker.pid, SIGKILL);
    ::waitpid(worker.pid, nullptr, 0);
    ::close(worker.pipe);
    worker.pid = -1;
    worker.pipe = -1;
    workerEnded_ = true;
}

void StepCheck::stopWorkers()
{
    for (Worker& worker : workers_) {
        if (worker.pid > 0) {
            ::kill(worker.pid, SIGKILL);
            ::waitpid(worker.pid, nullptr, 0);
        }
        if (worker.pipe >= 0)
            ::close(worker.pipe);
    }
    workers_.clear();
}

void setStepSurfaceCurves(bool on)
{
    // The first initialisation sets the parameter to its default: it must come first.
    STEPControl_Controller::Init();
    Interface_Static::SetIVal("write.surfacecurve.mode", on ? 1 : 0);
}

TopoDS_Shape splitClosedFaces(const TopoDS_Shape& shape)
{
    // The split shares untouched sub-shapes with its source, and healing changes
    // them in place: it works on a copy, so the caller's shape stays as it was.
    ShapeUpgrade_ShapeDivideClosed divide(BRepBuilderAPI_Copy(shape).Shape());
    divide.SetNbSplitPoints(1);
    if (!divide.Perform())
        return shape;
    // A split torus lacks curves of the new edges on their faces (and the writer
    // fails on it) until it is healed.
    const Handle(ShapeFix_Shape) fix = new ShapeFix_Shape(divide.Result());
    fix->Perform();
    const TopoDS_Shape healed = fix->Shape();
    return BRepCheck_Analyzer(healed).IsValid() ? healed : shape;
}

TopoDS_Shape asBSplineFaces(const TopoDS_Shape& shape)
{
    BRepBuilderAPI_NurbsConvert convert(shape, true);
    return convert.IsDone() ? convert.Shape() : shape;
}

} // namespace qor::io
