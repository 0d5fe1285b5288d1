#include "io/StepRoundTrip.h"

#include "io/ClosedVolume.h"

#include <QThread>

#include <BRepBuilderAPI_Copy.hxx>
#include <BRepBuilderAPI_NurbsConvert.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepGProp.hxx>
#include <BRepAdaptor_Curve.hxx>
#include <BRep_Tool.hxx>
#include <GProp_GProps.hxx>
#include <GeomAdaptor_Surface.hxx>
#include <Interface_InterfaceModel.hxx>
#include <Interface_Static.hxx>
#include <STEPControl_Controller.hxx>
#include <STEPControl_Reader.hxx>
#include <ShapeFix_Shape.hxx>
#include <ShapeUpgrade_ShapeDivideClosed.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <StepData_StepModel.hxx>
#include <StepShape_AdvancedFace.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <XSControl_WorkSession.hxx>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <numeric>

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

// The processor time a process has used so far, in clock ticks; -1 when it
// cannot be read.
long long cpuTicks(pid_t pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
    FILE* file = std::fopen(path, "r");
    if (!file)
        return -1;
    char text[1024];
    const std::size_t size = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    text[size] = '\0';
    // The name in parentheses may hold spaces: the fields count from its end.
    const char* rest = std::strrchr(text, ')');
    long long user = 0;
    long long system = 0;
    if (!rest
        || std::sscanf(rest + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lld %lld", &user,
                       &system)
               != 2)
        return -1;
    return user + system;
}

// What a worker sends per body.
struct Record {
    qint32 index;
    double model;
    double file;
    qint32 whole = 0; // volumes of a body read back whole, else areas of a face
};

// Several shells (a void, solids side by side) are put together again by the
// reader, which can place them otherwise although every face comes back: such a
// body is read back whole.
bool severalShells(const TopoDS_Shape& shape)
{
    int shells = 0;
    for (TopExp_Explorer it(shape, TopAbs_SHELL); it.More() && shells < 2; it.Next())
        ++shells;
    return shells > 1;
}

int faceCount(const TopoDS_Shape& shape)
{
    int count = 0;
    for (TopExp_Explorer it(shape, TopAbs_FACE); it.More(); it.Next())
        ++count;
    return count;
}

// Transfers the listed bodies back with a reader on the model and hands each
// result on.
template <typename Sink>
void checkBodies(STEPControl_Reader& reader, const std::vector<TopoDS_Shape>& shapes,
                 const std::vector<int>& indices, Sink&& sink)
{
    // Another count of top-level shapes than bodies: nothing can be matched.
    const bool matched = reader.NbRootsForTransfer() == int(shapes.size());
    for (const int index : indices) {
        Record record{index, closedVolume(shapes[std::size_t(index)]), 0.0};
        try {
            OCC_CATCH_SIGNALS
            const int before = reader.NbShapes();
            if (matched && reader.TransferRoot(index + 1) && reader.NbShapes() > before)
                record.file = closedVolume(reader.Shape(reader.NbShapes()));
        } catch (const Standard_Failure&) {
            record.file = 0.0;
        }
        reader.ClearShapes();
        if (!sink(record))
            return;
    }
}

double faceArea(const TopoDS_Shape& face)
{
    GProp_GProps props;
    BRepGProp::SurfaceProperties(face, props);
    return props.Mass();
}

// Reads single faces back from the model and hands on, per face, the body's
// index, the area of the face as written and of the face read back; a task
// without a face reads its body back whole.
template <typename Sink>
void checkFaces(STEPControl_Reader& reader, const std::vector<TopoDS_Shape>& shapes,
                const std::vector<StepFaceTask>& tasks, Sink&& sink)
{
    const Handle(Interface_InterfaceModel) model = reader.WS()->Model();
    std::map<int, std::vector<TopoDS_Shape>> faces;
    for (const StepFaceTask& task : tasks) {
        if (task.face < 0) {
            bool more = true;
            checkBodies(reader, shapes, {task.body}, [&](Record record) {
                record.whole = 1;
                more = sink(record);
                return more;
            });
            if (!more)
                return;
            continue;
        }
        std::vector<TopoDS_Shape>& own = faces[task.body];
        if (own.empty()) {
            for (TopExp_Explorer it(shapes[std::size_t(task.body)], TopAbs_FACE); it.More();
                 it.Next())
                own.push_back(it.Current());
        }
        Record record{task.body, faceArea(own[std::size_t(task.face)]), 0.0};
        try {
            OCC_CATCH_SIGNALS
            if (reader.TransferEntity(model->Value(task.entity)) && reader.NbShapes() > 0)
                record.file = faceArea(reader.Shape(reader.NbShapes()));
        } catch (const Standard_Failure&) {
            record.file = 0.0;
        }
        reader.ClearShapes();
        if (!sink(record))
            return;
    }
}

// The faces of the listed bodies that may change paired with their face entities,
// which the writer puts into the model body after body, each body's in the order
// of its faces. False when the model holds another number of faces than the
// bodies (a body written twice as one part, a face the writer split).
bool faceTasks(const Handle(StepData_StepModel)& model, const std::vector<TopoDS_Shape>& shapes,
               const std::vector<int>& indices, std::vector<StepFaceTask>& tasks)
{
    std::vector<int> entities;
    for (int i = 1; i <= model->NbEntities(); ++i) {
        if (model->Value(i)->IsKind(STANDARD_TYPE(StepShape_AdvancedFace)))
            entities.push_back(i);
    }
    std::vector<int> first(shapes.size(), 0);
    int total = 0;
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        first[i] = total;
        total += faceCount(shapes[i]);
    }
    if (total != int(entities.size()))
        return false;
    for (const int index : indices) {
        if (severalShells(shapes[std::size_t(index)])) {
            tasks.push_back({index, -1, 0});
            continue;
        }
        int k = 0;
        for (TopExp_Explorer it(shapes[std::size_t(index)], TopAbs_FACE); it.More(); it.Next(), ++k) {
            if (stepMayChangeFace(TopoDS::Face(it.Current())))
                tasks.push_back({index, k, entities[std::size_t(first[std::size_t(index)] + k)]});
        }
    }
    return true;
}

bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= std::size_t(written);
    }
    return true;
}

// Bodies spread over at most `count` groups of about equal face counts, the
// largest bodies first.
std::vector<std::vector<int>> balanced(const std::vector<TopoDS_Shape>& shapes,
                                       std::vector<int> indices, int count)
{
    std::vector<int> faces(shapes.size(), 0);
    for (const int index : indices)
        faces[std::size_t(index)] = faceCount(shapes[std::size_t(index)]);
    std::sort(indices.begin(), indices.end(),
              [&](int a, int b) { return faces[std::size_t(a)] > faces[std::size_t(b)]; });
    std::vector<std::vector<int>> groups(std::size_t(std::max(1, count)));
    std::vector<long long> load(groups.size(), 0);
    for (const int index : indices) {
        const auto lightest = std::size_t(std::min_element(load.begin(), load.end()) - load.begin());
        groups[lightest].push_back(index);
        load[lightest] += faces[std::size_t(index)] + 1;
    }
    std::erase_if(groups, [](const std::vector<int>& group) { return group.empty(); });
    for (std::vector<int>& group : groups)
        std::sort(group.begin(), group.end());
    return groups;
}

int workerCount(int faces, int facesForWorkers)
{
    if (faces < facesForWorkers)
        return 0;
    return std::clamp(QThread::idealThreadCount() - 1, 1, 4);
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
    for (TopExp_Explorer it(face, TopAbs_EDGE); it.More(); it.Next()) {
        const TopoDS_Edge& edge = TopoDS::Edge(it.Current());
        if (BRep_Tool::Degenerated(edge) || BRep_Tool::IsClosed(edge, face))
            return true;
        const GeomAbs_CurveType type = BRepAdaptor_Curve(edge).GetType();
        if (type != GeomAbs_Line && type != GeomAbs_Circle)
            return true;
        ++edges;
    }
    return edges < 3;
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

bool StepVolume::changed() const
{
    return !(std::abs(file - model) <= volumeTolerance * model);
}

double StepVolume::percent() const
{
    return model > 0.0 ? 100.0 * (file - model) / model : 0.0;
}

StepCheck::StepCheck(std::vector<TopoDS_Shape> shapes, std::vector<int> indices,
                     int facesForWorkers, ReadBack readBack)
    : shapes_(std::move(shapes))
    , indices_(std::move(indices))
    , facesForWorkers_(facesForWorkers)
    , readBack_(readBack)
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
}

void StepCheck::start(const Handle(XSControl_WorkSession)& session)
{
    session_ = session;
    model_ = Handle(StepData_StepModel)::DownCast(session->Model());
    // Reading a body back whole costs several times its writing, and a large body
    // keeps one worker busy while the others wait: only the faces that may change
    // are read back, one by one, and only a body whose faces come back with
    // another area is read back whole.
    // A face that comes back whole does not prove its body does (a drilled
    // sphere's faces may all come back while the body loses most of its volume):
    // a check of few faces reads its bodies back whole, which costs little more.
    byFace_ = readBack_ == ReadBack::Faces && faceTasks(model_, shapes_, indices_, tasks_)
              && int(tasks_.size()) >= facesForFaceReading;
    if (!byFace_)
        tasks_.clear();
    int faces = int(tasks_.size());
    if (!byFace_) {
        for (const int index : indices_)
            faces += faceCount(shapes_[std::size_t(index)]);
    }
    const int workers = workerCount(faces, facesForWorkers_);
    if (workers == 0)
        return;
    std::vector<std::vector<int>> groups;
    if (!byFace_) {
        groups = balanced(shapes_, indices_, workers);
    } else {
        groups.resize(std::min(std::size_t(workers), tasks_.size()));
        for (std::size_t t = 0; t < tasks_.size(); ++t)
            groups[t % groups.size()].push_back(int(t));
    }
    for (std::vector<int>& group : groups) {
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
            STEPControl_Reader reader;
            reader.WS()->SetModel(model_);
            const auto send = [&](const Record& record) {
                return writeAll(fds[1], reinterpret_cast<const char*>(&record), sizeof record);
            };
            if (!byFace_) {
                checkBodies(reader, shapes_, group, send);
            } else {
                std::vector<StepFaceTask> mine;
                for (const int t : group)
                    mine.push_back(tasks_[std::size_t(t)]);
                checkFaces(reader, shapes_, mine, send);
            }
            ::_exit(0);
        }
        ::close(fds[1]);
        workers_.push_back({pid, fds[0], std::move(group), {}, 0, 0, -1});
    }
}

std::vector<StepVolume> StepCheck::results(const ProgressCallback& progress,
                                           const CancelCheck& cancelled)
{
    std::vector<StepVolume> volumes;
    // Face by face: per body the faces reported and the areas written and read.
    struct Areas {
        int faces = 0;
        double model = 0.0;
        double file = 0.0;
    };
    std::map<int, Areas> areas;
    std::size_t faceRecords = 0;
    const auto report = [&] {
        if (!progress || indices_.empty())
            return;
        // Face by face the faces take the first 90 %, bodies read back whole after
        // them the rest.
        progress(!byFace_ || tasks_.empty() ? int(100 * volumes.size() / indices_.size())
                                            : int(90 * faceRecords / tasks_.size()),
                 QString());
    };
    const auto take = [&](const Record& record) {
        if (!byFace_ || record.whole) {
            faceRecords += byFace_ ? 1 : 0;
            volumes.push_back({record.index, record.model, record.file});
        } else {
            Areas& body = areas[record.index];
            ++body.faces;
            body.model += record.model;
            body.file += record.file;
            ++faceRecords;
        }
        report();
    };

    // One reader for whatever is read back here: closing its session empties the
    // model.
    STEPControl_Reader reader;
    reader.WS()->SetModel(model_);
    std::vector<int> unchecked;
    if (workers_.empty() && !byFace_) {
        unchecked = indices_;
    } else {
        if (workers_.empty()) {
            bool stopped = false;
            checkFaces(reader, shapes_, tasks_, [&](const Record& record) {
                take(record);
                stopped = cancelRequested(cancelled);
                return !stopped;
            });
            if (stopped)
                return {};
        }
        // The workers may have waited on a full pipe while the text was written:
        // the clock of their silence starts now.
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
                return {};
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
                        take(record);
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
        const auto silenced = [&](int index) {
            return std::find(silenced_.begin(), silenced_.end(), index) != silenced_.end();
        };
        std::map<int, int> expected;
        for (const StepFaceTask& task : tasks_)
            ++expected[task.body];
        for (const int index : indices_) {
            if (byFace_) {
                // Every face back with its area: the body is whole (no volume is
                // measured for it). A face missing because its worker was ended
                // leaves the body unchecked: reading it here could hang this
                // process as well. Otherwise the body is read back whole below.
                const Areas& body = areas[index];
                const bool complete = body.faces == expected[index];
                const bool whole = std::any_of(volumes.begin(), volumes.end(),
                                               [&](const StepVolume& v) { return v.index == index; });
                if (whole)
                    continue;
                if (severalShells(shapes_[std::size_t(index)]) && silenced(index))
                    volumes.push_back({index, 0.0, 0.0, true});
                else if (severalShells(shapes_[std::size_t(index)]))
                    unchecked.push_back(index);
                else if (complete && std::abs(body.file - body.model) <= volumeTolerance * body.model)
                    volumes.push_back({index, 0.0, 0.0});
                else if (!complete && silenced(index))
                    volumes.push_back({index, 0.0, 0.0, true});
                else
                    unchecked.push_back(index);
                continue;
            }
            // A worker that died on a body reported neither it nor the bodies after:
            // the reader does not give them back.
            const bool reported = std::any_of(volumes.begin(), volumes.end(),
                                              [&](const StepVolume& v) { return v.index == index; });
            if (!reported && silenced(index))
                volumes.push_back({index, 0.0, 0.0, true});
            else if (!reported)
                volumes.push_back({index, closedVolume(shapes_[std::size_t(index)]), 0.0});
        }
    }
    if (!unchecked.empty()) {
        bool stopped = false;
        std::size_t done = 0;
        checkBodies(reader, shapes_, unchecked, [&](const Record& record) {
            volumes.push_back({record.index, record.model, record.file});
            ++done;
            if (progress)
                progress(!byFace_ ? int(100 * volumes.size() / indices_.size())
                                  : 90 + int(10 * done / unchecked.size()),
                         QString());
            stopped = cancelRequested(cancelled);
            return !stopped;
        });
        if (stopped)
            return {};
    }
    std::sort(volumes.begin(), volumes.end(),
              [](const StepVolume& a, const StepVolume& b) { return a.index < b.index; });
    return volumes;
}

void StepCheck::endIfHung(Worker& worker, qint64 now)
{
    const long long ticks = cpuTicks(worker.pid);
    if (ticks != worker.cpuTicks) {
        worker.cpuTicks = ticks;
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
    for (const int item : worker.indices)
        silenced_.push_back(byFace_ ? tasks_[std::size_t(item)].body : item);
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
