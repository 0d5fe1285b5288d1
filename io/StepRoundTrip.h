#pragma once

#include "io/Import.h"

#include <QString>

#include <Standard_Handle.hxx>
#include <TopoDS_Face.hxx>
#include <TopoDS_Shape.hxx>

#include <sys/types.h>

#include <functional>
#include <map>
#include <vector>

class StepData_StepModel;
class XSControl_WorkSession;

namespace qor::io {

// Whether a face of the shape lies on another surface than a plane.
bool hasCurvedFace(const TopoDS_Shape& shape);

// Whether the face can come back from STEP trimmed otherwise than written. A face
// on a plane, cylinder, cone, sphere or torus comes back exactly when its edges
// are lines and circles and leave the reader no side to choose: three or more of
// them crossing no seam, whole circles only (a disc, an annulus), or one seam
// from one whole circle to another (the round of a cylinder, a band of a sphere).
// A face with curves of any other kind, a pole, a seam with arcs or in pieces,
// two seams, or an arc and its chord (where the reader may take the other side
// of the circle) may not.
bool stepMayChangeFace(const TopoDS_Face& face);

// Whether the STEP writer and reader can change the shape's volume: only closed
// shells enclose one, and only a face that may change can change it (a mesh body
// sewn into triangles has none).
bool stepMayChange(const TopoDS_Shape& shape);

// One checked body: its own closed volume and that of its top-level shape in the
// STEP model, transferred back by the kernel's reader. Both are 0 for a body
// whose faces all came back as written: it is whole and was not measured.
struct StepVolume {
    int index = -1; // of the body
    double model = 0.0;
    double file = 0.0;
    // Its worker did not answer and was ended: nothing is known of the body.
    bool unchecked = false;
    // Solids bounded by closed shells only, in the body and as read back.
    int modelSolids = 0;
    int fileSolids = 0;

    // Fewer closed solids, or the volume off by more than 0.01 %.
    bool changed() const;
    // The change in percent of the model's volume.
    double percent() const;
};

// Whether the face read back is the face written: turned the same way, with
// wires enclosing the same area in the surface's parameters around the same
// point in space. That is far cheaper than their areas in space, which
// integrate the surface, and a face trimmed otherwise, turned round or missing
// a wire differs. A face whose curves on it the reader made anew is compared by
// its area in space.
bool sameFace(const TopoDS_Face& written, const TopoDS_Face& read);

// One piece of work of a check: the k-th solid of a body, in the order the
// explorer visits them, and its solid entity in the STEP model; with solid -1
// the whole body, transferred as the model's top-level shape.
struct StepTask {
    int body;
    int entity;
    int solid = -1;
};

// How many check workers start, given the cores no other process keeps busy:
// one for each of them the writer leaves free, at most seven, and no more than
// half the memory the system still has available holds when each may come to
// copy half of this process's memory (its pages of the model it touches, its
// own relations of the model); always at least one. Memory unknown (0): by the
// cores alone.
int stepWorkerCount(int cores, long long residentKb, long long availableKb);

// How long a worker may go without reporting before it is ended and the bodies
// it had not reported are left unchecked. A worker forked from a process with
// other threads can block on a lock one of them held at the fork; the reader can
// loop on a face. Neither may hold up an export.
struct StepWorkerLimits {
    // Neither a result nor any processor time for this long: the worker waits for
    // something that never comes.
    int blockedMs = 5000;
    // No result for this long, however busy the worker is.
    int silentMs = 180000;
};

// Reads the bodies of a STEP file back from the file as written. The kernel's
// data-exchange classes keep process-wide state that is not safe for threads,
// so the bodies are read in worker processes that share the parsed model
// copy-on-write, take their work from a counter they share, and report through
// a pipe, solid by solid. A small check, or one for which no worker can be
// started, runs in this process when asked for the results.
class StepCheck {
public:
    // Forking the workers and starting their readers costs about as much as
    // reading back a score of faces: a check of bodies with fewer faces runs in
    // this process.
    static constexpr int defaultFacesForWorkers = 20;

    // shapes[i] is written as the model's i-th top-level shape; only the listed
    // indices are checked.
    StepCheck(std::vector<TopoDS_Shape> shapes, std::vector<int> indices,
              int facesForWorkers = defaultFacesForWorkers);
    ~StepCheck();
    StepCheck(const StepCheck&) = delete;
    StepCheck& operator=(const StepCheck&) = delete;

    // Starts the workers on the file as written, parsed by a reader of its own
    // that shares nothing with the writer: what it gives back is what any other
    // reader of the file starts from. A file that cannot be parsed gives back
    // nothing of any body.
    void startOnFile(const QByteArray& file);

    // For every check that starts from now on.
    static void setWorkerLimits(const StepWorkerLimits& limits);
    // Runs first in every worker from now on (nullptr: nothing); a test hangs a
    // worker with it.
    static void setWorkerEntry(void (*entry)());

    // Waits for every checked body, in index order. progress receives 0..100 while
    // it waits; a cancellation ends the workers and gives an empty list.
    std::vector<StepVolume> results(const ProgressCallback& progress, const CancelCheck& cancelled);

private:
    struct Worker {
        pid_t pid = -1;
        int pipe = -1;
        QByteArray received;
        qint64 heardMs = 0; // last result
        qint64 busyMs = 0; // last change of its processor time
        qint64 cpuMicros = -1;
    };
    struct Result;

    void startWorkers(int count);
    // Reads what the workers send until all have ended; false when cancelled.
    bool collect(std::vector<Result>& results, const std::function<void()>& report,
                 const CancelCheck& cancelled);
    // Ends a worker that went quiet for longer than the limits allow.
    void endIfHung(Worker& worker, qint64 nowMs);
    void stopWorkers();

    std::vector<TopoDS_Shape> shapes_;
    std::vector<int> indices_;
    int facesForWorkers_;
    bool unreadable_ = false;
    Handle(XSControl_WorkSession) session_;
    Handle(StepData_StepModel) model_;
    std::vector<StepTask> tasks_;
    // The next task to take, shared with the workers.
    void* shared_ = nullptr;
    std::vector<Worker> workers_;
    StepWorkerLimits limits_;
    bool workerEnded_ = false; // for not answering
};

// The kernel's "write.surfacecurve.mode" for the next STEP writes: true writes
// the curves of edges on surfaces (the kernel's default), false leaves them out.
void setStepSurfaceCurves(bool on);

// The shape with every closed face (the whole round of a cylinder, a sphere's
// face that crosses its seam) split in two along its parameter range: no face
// then needs the reader to find the right side of a seam.
TopoDS_Shape splitClosedFaces(const TopoDS_Shape& shape);

// The shape with every face converted to a B-spline surface.
TopoDS_Shape asBSplineFaces(const TopoDS_Shape& shape);

} // namespace qor::io
