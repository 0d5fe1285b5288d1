#include "io/Import.h"

#include "expr/Format.h"
#include "io/CountTexts.h"
#include "io/FileAccess.h"
#include "io/FileReadWatch.h"
#include "io/FusionArchive.h"
#include "io/IgesSolids.h"
#include "io/KernelMessage.h"
#include "io/NestingCheck.h"
#include "io/ReadBudget.h"
#include "io/ReaderProcess.h"
#include "io/ReaderThread.h"
#include "io/SolidEdgePart.h"
#include "io/StepPlacementActor.h"
#include "io/StlSections.h"
#include "io/TextShapeCheck.h"
#include "io/XcafBodies.h"
#include "io/xt/ParasolidReader.h"

#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <IFSelect_ReturnStatus.hxx>
#include <IGESCAFControl_Reader.hxx>
#include <IGESControl_Controller.hxx>
#include <IGESData_GlobalSection.hxx>
#include <IGESData_IGESModel.hxx>
#include <Message_ProgressIndicator.hxx>
#include <Poly_Triangulation.hxx>
#include <Precision.hxx>
#include <RWGltf_CafReader.hxx>
#include <RWObj_CafReader.hxx>
#include <STEPCAFControl_Reader.hxx>
#include <STEPControl_Controller.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <Standard_OutOfMemory.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Face.hxx>

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace qor::io {

namespace {

// What the reader thread hands to the caller's thread: the latest percentage and label,
// and the caller's wish to stop. The caller's callback only ever runs on its own thread.
class ProgressRelay {
public:
    // A callback for the reader thread that leaves its reports here.
    ProgressCallback poster()
    {
        return [this](int percent, const QString& label) {
            const std::lock_guard<std::mutex> lock(mutex_);
            percent_ = percent;
            if (!label.isEmpty()) {
                label_ = label;
                labelChanged_ = true;
            }
        };
    }

    // From the reader thread, around a kernel parse that reports nothing: meanwhile each
    // delivery reads how far the parser has come through the file.
    void watchParse(const QString& path)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        parse_.emplace(path);
    }
    void endParse()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        takeParsePosition();
        parse_.reset();
    }

    // On the caller's thread: the latest report, also when nothing changed, so that a
    // window showing it keeps repainting while the kernel parses without reporting.
    void deliver(const ProgressCallback& callback)
    {
        int percent = 0;
        QString label;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            takeParsePosition();
            percent = percent_;
            if (labelChanged_)
                label = label_;
            labelChanged_ = false;
        }
        callback(percent, label);
    }

    void requestStop() { stop_ = true; }
    bool stopRequested() const { return stop_; }

private:
    void takeParsePosition()
    {
        if (parse_)
            percent_ = std::max(percent_, parsePercent(parse_->share()));
    }

    std::mutex mutex_;
    std::optional<FileReadWatch> parse_;
    int percent_ = 0;
    QString label_;
    bool labelChanged_ = false;
    std::atomic<bool> stop_ = false;
};

// Hands OpenCASCADE's progress on as a whole percentage and stops the reader where it
// asks for a break, when the caller asks to stop or once the reader has spent its budget
// of processor time: a file that keeps a reader going round must not keep the program
// busy for minutes, while a machine busy with other work only makes a read take longer.
// Made on the reader thread, whose processor time it counts. The kernel asks for a break
// hundreds of thousands of times in a large file; reading the thread's processor clock
// each time costs several percent of the read, the coarse wall clock almost nothing, so
// the processor clock is read only when the wall clock has moved on by a tick.
class ProgressBridge : public Message_ProgressIndicator {
public:
    ProgressBridge(ProgressCallback callback, ProgressRelay& relay, qint64 budgetMs)
        : callback_(std::move(callback))
        , relay_(relay)
        , budgetMs_(budgetMs)
    {
    }

    void Show(const Message_ProgressScope&, const Standard_Boolean) override
    {
        if (callback_)
            callback_(transferAfterParse_ ? transferPercent(0.5 * GetPosition())
                                          : int(GetPosition() * 100.0),
                      QString());
    }

    // The collection of the transferred bodies, which ends the transfer's stage: finding
    // their colours takes as long as the kernel's transfer in a large file.
    std::function<void(double)> collection()
    {
        if (!callback_)
            return {};
        return [this](double share) { callback_(transferPercent(0.5 + 0.5 * share), QString()); };
    }

    // The kernel's ReadFile of the file at path, which reports nothing itself: the parse
    // fills the first half of the bar by how far it has read the file, the transfer after it
    // (see collection) the second half.
    template <typename Reader>
    IFSelect_ReturnStatus parseWatched(Reader& reader, const QString& path,
                                       const QByteArray& fileName)
    {
        relay_.watchParse(path);
        const IFSelect_ReturnStatus status = reader.ReadFile(fileName.constData());
        relay_.endParse();
        transferAfterParse_ = true;
        return status;
    }

    Standard_Boolean UserBreak() override
    {
        // Parallel readers ask from several threads.
        if (!timedOut_) {
            const qint64 tick = coarseWallTick();
            if (tick != lastTick_.exchange(tick, std::memory_order_relaxed)
                && clock_.elapsedMs() > budgetMs_)
                timedOut_ = true;
        }
        return timedOut_ || relay_.stopRequested();
    }

    bool timedOut() const { return timedOut_; }
    bool stopRequested() const { return relay_.stopRequested(); }
    // The callback for readers that report progress themselves.
    const ProgressCallback& callback() const { return callback_; }

private:
    ProgressCallback callback_;
    ProgressRelay& relay_;
    qint64 budgetMs_;
    std::atomic<bool> transferAfterParse_ = false;
    ThreadCpuClock clock_;
    std::atomic<qint64> lastTick_ = -1;
    std::atomic<bool> timedOut_ = false;
};

// Refusals of damaged files read like the reader's own failures.
QString readError(const QString& reason)
{
    return QStringLiteral("Fehler beim Lesen: ") + reason;
}

QString nonFiniteError(const QString& format)
{
    return readError(format
                     + QStringLiteral("-Datei enthält ungültige Koordinaten (NaN oder unendlich)"));
}

bool hasNonFiniteNode(const TopoDS_Shape& shape)
{
    for (TopExp_Explorer it(shape, TopAbs_FACE); it.More(); it.Next()) {
        TopLoc_Location location;
        const Handle(Poly_Triangulation) mesh
            = BRep_Tool::Triangulation(TopoDS::Face(it.Current()), location);
        for (int i = 1; !mesh.IsNull() && i <= mesh->NbNodes(); ++i) {
            const gp_Pnt node = mesh->Node(i);
            if (!std::isfinite(node.X()) || !std::isfinite(node.Y()) || !std::isfinite(node.Z()))
                return true;
        }
    }
    return false;
}

bool isEmptyMeshFace(const TopoDS_Face& face)
{
    TopLoc_Location location;
    const Handle(Poly_Triangulation) mesh = BRep_Tool::Triangulation(face, location);
    return !mesh.IsNull() && (mesh->NbNodes() == 0 || mesh->NbTriangles() == 0)
           && BRep_Tool::Surface(face, location).IsNull();
}

// A mesh reader keeps a face whose triangles all named nodes the file lacks, with an empty
// triangulation: it shows nothing, and the kernel's binary shape reader refuses it. Such
// faces are left out, and a body of nothing else with them.
void dropEmptyMeshFaces(ImportResult& result)
{
    std::vector<ImportedBody> kept;
    for (ImportedBody& body : result.bodies) {
        bool empty = false;
        for (TopExp_Explorer it(body.shape, TopAbs_FACE); it.More() && !empty; it.Next())
            empty = isEmptyMeshFace(TopoDS::Face(it.Current()));
        if (empty) {
            BRep_Builder builder;
            TopoDS_Compound faces;
            builder.MakeCompound(faces);
            bool any = false;
            for (TopExp_Explorer it(body.shape, TopAbs_FACE); it.More(); it.Next()) {
                if (!isEmptyMeshFace(TopoDS::Face(it.Current()))) {
                    builder.Add(faces, it.Current());
                    any = true;
                }
            }
            if (!any)
                continue;
            body.shape = faces;
        }
        kept.push_back(std::move(body));
    }
    result.bodies = std::move(kept);
    result.ok = !result.bodies.empty();
    if (!result.ok && result.error.isEmpty())
        result.error = QStringLiteral("Die Datei enthält keine Geometrie");
}

// A file is read as binary STL when it is sized as one or, as the kernel guesses,
// when a byte above '~' is among its first 134; the kernel reserves memory for the
// triangle count in the header, so such a file must be exactly as long as the count
// says (84 + 50 bytes per triangle) and hold only finite corners. Returns the error,
// or nothing for a sound or text file.
QString binaryStlFault(const QString& path)
{
    constexpr qint64 headerBytes = 84;
    constexpr qint64 triangleBytes = 50;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray head = file.read(134);
    const bool binary = sizedAsBinaryStl(head, file.size())
                        || (head.size() == 134 && std::any_of(head.begin(), head.end(), [](char c) {
                                return static_cast<unsigned char>(c) > '~';
                            }));
    if (!binary)
        return {};
    const quint32 declared = qFromLittleEndian<quint32>(head.constData() + 80);
    if (file.size() != headerBytes + triangleBytes * qint64(declared)) {
        return readError(
            QStringLiteral("STL-Datei ist beschädigt: %1 angegeben, Platz für %2")
                .arg(countText(declared, QStringLiteral("Dreieck"), QStringLiteral("Dreiecke")))
                .arg(germanCount(std::uint64_t((file.size() - headerBytes) / triangleBytes))));
    }
    file.seek(headerBytes);
    while (!file.atEnd()) {
        const QByteArray chunk = file.read(triangleBytes * 4096);
        for (qsizetype at = 0; at + triangleBytes <= chunk.size(); at += triangleBytes) {
            // Three corners after the normal, which the reader ignores.
            for (int c = 3; c < 12; ++c) {
                if (!std::isfinite(qFromLittleEndian<float>(chunk.constData() + at + 4 * c)))
                    return nonFiniteError(QStringLiteral("STL"));
            }
        }
    }
    return {};
}

// A NaN or infinite number anywhere: the kernel loops for ever on a trimmed curve
// with a NaN bound, and no sound shape holds one. Only words with the letters of
// "nan", "inf" or an exponent can be one.
bool hasNonFiniteNumber(const QByteArray& text)
{
    const char* const data = text.constData();
    const auto isSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    for (qsizetype at = 0; at < text.size();) {
        while (at < text.size() && isSpace(data[at]))
            ++at;
        const qsizetype start = at;
        bool suspect = false;
        for (; at < text.size() && !isSpace(data[at]); ++at)
            suspect = suspect || std::strchr("nNiIeE", data[at]) != nullptr;
        if (!suspect)
            continue;
        const char* first = data + start + (data[start] == '+' ? 1 : 0);
        double value = 0;
        const auto [stop, fault] = std::from_chars(first, data + at, value);
        // Out of range is an overflow unless the exponent is negative.
        const std::string_view number(first, std::size_t(stop - first));
        const bool overflow = fault == std::errc::result_out_of_range
                              && number.find("e-") == std::string_view::npos
                              && number.find("E-") == std::string_view::npos;
        if ((fault == std::errc() && !std::isfinite(value)) || overflow)
            return true;
    }
    return false;
}

// The kernel reads text BREP by the counts it declares; refuse what it cannot read safely.
QString brepTextFault(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = file.readAll();
    if (hasNonFiniteNumber(text))
        return readError(
            QStringLiteral("BREP-Datei enthält ungültige Zahlen (NaN oder unendlich)"));
    if (!isSoundTextShape(std::string_view(text.constData(), std::size_t(text.size()))))
        return QStringLiteral("BREP-Datei konnte nicht gelesen werden");
    return {};
}

// What a kernel reader builds (its model, the XCAF document): freed when the read ends, or,
// in a process that ends right after the read, left to the end of the process, which is
// quicker than freeing it piece by piece.
template <typename T> class Scratch {
public:
    Scratch()
        : object_(new T)
    {
    }
    ~Scratch()
    {
        if (!readDataDiesWithProcess())
            delete object_;
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    T& operator*() { return *object_; }
    T* operator->() { return object_; }

private:
    T* object_;
};

void readStep(const QString& path, const QByteArray& fileName, ProgressBridge& progress,
              ImportResult& result)
{
    if (const QString fault = stepNestingFault(path); !fault.isEmpty()) {
        result.error = readError(fault);
        return;
    }
    STEPControl_Controller::Init();
    Scratch<XcafDocumentScope> scope;
    Scratch<STEPCAFControl_Reader> reader;
    reader->SetColorMode(true);
    reader->SetNameMode(true);
    reader->SetLayerMode(true);
    if (progress.parseWatched(*reader, path, fileName) != IFSelect_RetDone) {
        result.error = QStringLiteral("STEP-Datei konnte nicht gelesen werden");
        return;
    }
    placeByIndex(*reader);
    Message_ProgressRange range = progress.Start();
    const bool transferred = reader->Transfer(scope->document(), range);
    range.Close();
    if (!transferred) {
        result.error = QStringLiteral("STEP-Daten konnten nicht übertragen werden");
        return;
    }
    collectXcafBodies(scope->document(), result, progress.collection());
}

// The file's own resolution, the distance below which its points are one, in the
// millimetres the reader gives the shapes; the kernel's confusion at least.
double igesResolution(IGESCAFControl_Reader& reader)
{
    const auto model = Handle(IGESData_IGESModel)::DownCast(reader.Model());
    if (model.IsNull())
        return Precision::Confusion();
    // The unit value is the file's unit in the reader's unit (millimetres).
    const IGESData_GlobalSection& section = model->GlobalSection();
    const double resolution = section.Resolution() * section.UnitValue();
    return std::isfinite(resolution) ? std::max(resolution, Precision::Confusion())
                                     : Precision::Confusion();
}

void readIges(const QString& path, const QByteArray& fileName, ProgressBridge& progress,
              ImportResult& result)
{
    if (const QString fault = igesPlacementsFault(path); !fault.isEmpty()) {
        result.error = readError(fault);
        return;
    }
    IGESControl_Controller::Init();
    Scratch<XcafDocumentScope> scope;
    Scratch<IGESCAFControl_Reader> reader;
    if (progress.parseWatched(*reader, path, fileName) != IFSelect_RetDone) {
        result.error = QStringLiteral("IGES-Datei konnte nicht gelesen werden");
        return;
    }
    // An empty transfer is reported by the collection as a file without geometry.
    Message_ProgressRange range = progress.Start();
    reader->Transfer(scope->document(), range);
    range.Close();
    collectXcafBodies(scope->document(), result, progress.collection());
    const OpenBodies open = closeFaceBodies(result.bodies, igesResolution(*reader));
    for (const QString& note : openBodiesNotes(open, (long long)(result.bodies.size()))) {
        result.warning += (result.warning.isEmpty() ? QString() : QStringLiteral("; ")) + note;
        result.notes << note;
    }
}

void readStl(const QString& path, const QByteArray& fileName, ProgressBridge& progress,
             ImportResult& result)
{
    const QString fault = binaryStlFault(path);
    if (!fault.isEmpty()) {
        result.error = fault;
        return;
    }
    constexpr double mergeAngle = 1.5707963267948966;
    Message_ProgressRange range = progress.Start();
    const Handle(Poly_Triangulation) mesh = readStlFile(fileName, mergeAngle, range);
    range.Close();
    if (mesh.IsNull() || mesh->NbTriangles() == 0) {
        result.error = QStringLiteral("STL-Datei enthält keine Dreiecke");
        return;
    }
    TopoDS_Face face;
    BRep_Builder().MakeFace(face, mesh);
    result.bodies.push_back({QFileInfo(path).completeBaseName(), face});
    result.ok = true;
}

void readMesh(RWMesh_CafReader& reader, const QByteArray& fileName, ProgressBridge& progress,
              ImportResult& result)
{
    XcafDocumentScope scope;
    reader.SetDocument(scope.document());
    Message_ProgressRange range = progress.Start();
    const bool done = reader.Perform(TCollection_AsciiString(fileName.constData()), range);
    range.Close();
    if (!done) {
        result.error = result.format + QStringLiteral("-Datei konnte nicht gelesen werden");
        return;
    }
    collectXcafBodies(scope.document(), result);
}

void readObj(const QByteArray& fileName, ProgressBridge& progress, ImportResult& result)
{
    RWObj_CafReader reader;
    // OBJ has no unit; the files met in practice are in millimetres.
    reader.SetFileLengthUnit(0.001);
    reader.SetSystemLengthUnit(0.001);
    readMesh(reader, fileName, progress, result);
}

void readGltf(const QString& path, const QByteArray& fileName, ProgressBridge& progress,
              ImportResult& result)
{
    if (const QString fault = gltfNestingFault(path); !fault.isEmpty()) {
        result.error = readError(fault);
        return;
    }
    RWGltf_CafReader reader;
    reader.SetSystemLengthUnit(0.001);
    reader.SetSystemCoordinateSystem(RWMesh_CoordinateSystem_Zup);
    readMesh(reader, fileName, progress, result);
}

void readBrep(const QString& path, const QByteArray& fileName, ProgressBridge& progress,
              ImportResult& result)
{
    const QString fault = brepTextFault(path);
    if (!fault.isEmpty()) {
        result.error = fault;
        return;
    }
    TopoDS_Shape shape;
    Message_ProgressRange range = progress.Start();
    const bool read = BRepTools::Read(shape, fileName.constData(), BRep_Builder(), range);
    range.Close();
    if (!read || shape.IsNull()) {
        result.error = QStringLiteral("BREP-Datei konnte nicht gelesen werden");
        return;
    }
    result.bodies.push_back({QFileInfo(path).completeBaseName(), shape});
    result.ok = true;
}

void readParasolidFile(const QString& path, const CancelCheck& cancelled, ImportResult& result)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = file.errorString();
        return;
    }
    QString message;
    for (ImportedBody& body : readParasolid(file.readAll(), &message, cancelled)) {
        if (body.name.isEmpty())
            body.name = QFileInfo(path).completeBaseName();
        result.bodies.push_back(std::move(body));
    }
    result.ok = !result.bodies.empty();
    if (result.ok)
        result.warning = message;
    else
        result.error = message.isEmpty() ? QStringLiteral("Keine Körper gefunden") : message;
}

// What one reader is handed: the path, its local 8-bit form for the kernel's
// readers, the lower-case suffix, the progress bridge (whose callback serves the
// readers that report their steps themselves) and the cancellation the own
// readers poll, which the bridge answers.
struct ReadRequest {
    const QString& path;
    const QString& suffix;
    QByteArray fileName;
    ProgressBridge& progress;
    CancelCheck cancelled;
};

using Reader = void (*)(const ReadRequest&, ImportResult&);

// One importable format: the name it reports (empty: the reader sets it), the
// suffixes offered in the file dialog, further suffixes it reads without
// offering them, and the reader.
struct ImportFormat {
    QString format;
    QString filterLabel;
    QStringList suffixes;
    QStringList unlistedSuffixes;
    bool meshBodies;
    Reader read;
};

// Every format importFile reads, in the order of the file dialog's filter.
const std::vector<ImportFormat>& importFormats()
{
    static const std::vector<ImportFormat> formats = {
        {QStringLiteral("STEP"),
         QStringLiteral("STEP"),
         {QStringLiteral("step"), QStringLiteral("stp")},
         {},
         false,
         [](const ReadRequest& r, ImportResult& result) {
             readStep(r.path, r.fileName, r.progress, result);
         }},
        {QStringLiteral("IGES"),
         QStringLiteral("IGES"),
         {QStringLiteral("iges"), QStringLiteral("igs")},
         {},
         false,
         [](const ReadRequest& r, ImportResult& result) {
             readIges(r.path, r.fileName, r.progress, result);
         }},
        {QStringLiteral("STL"),
         QStringLiteral("STL"),
         {QStringLiteral("stl")},
         {},
         true,
         [](const ReadRequest& r, ImportResult& result) {
             readStl(r.path, r.fileName, r.progress, result);
         }},
        {QStringLiteral("OBJ"),
         QStringLiteral("OBJ"),
         {QStringLiteral("obj")},
         {},
         true,
         [](const ReadRequest& r, ImportResult& result) {
             readObj(r.fileName, r.progress, result);
         }},
        {QStringLiteral("glTF"),
         QStringLiteral("glTF"),
         {QStringLiteral("gltf"), QStringLiteral("glb")},
         {},
         true,
         [](const ReadRequest& r, ImportResult& result) {
             readGltf(r.path, r.fileName, r.progress, result);
         }},
        {QStringLiteral("BREP"),
         QStringLiteral("BREP"),
         {QStringLiteral("brep"), QStringLiteral("brp")},
         {},
         false,
         [](const ReadRequest& r, ImportResult& result) {
             readBrep(r.path, r.fileName, r.progress, result);
         }},
        {QStringLiteral("Parasolid"),
         QStringLiteral("Parasolid"),
         {QStringLiteral("x_b"), QStringLiteral("x_t")},
         {QStringLiteral("xmt_bin"), QStringLiteral("xmt_txt")},
         false,
         [](const ReadRequest& r, ImportResult& result) {
             readParasolidFile(r.path, r.cancelled, result);
         }},
        {QString(),
         QStringLiteral("Solid Edge"),
         {QStringLiteral("par"), QStringLiteral("psm"), QStringLiteral("asm")},
         {},
         false,
         [](const ReadRequest& r, ImportResult& result) {
             result = readSolidEdge(r.path, r.progress.callback(), r.cancelled);
         }},
        {QString(),
         QStringLiteral("Autodesk Fusion"),
         {QStringLiteral("f3d"), QStringLiteral("f3z")},
         {},
         false,
         [](const ReadRequest& r, ImportResult& result) {
             result = readFusion(r.path, r.progress.callback(), r.cancelled);
         }},
    };
    return formats;
}

const ImportFormat* importFormatOf(const QString& suffix)
{
    for (const ImportFormat& format : importFormats()) {
        if (format.suffixes.contains(suffix) || format.unlistedSuffixes.contains(suffix))
            return &format;
    }
    return nullptr;
}

// The checks before any reader runs: the format by the suffix and the file's status.
// Fills the format name and the mesh flag, or the error; the format to read, or none.
const ImportFormat* readableFormat(const QString& path, const QString& suffix, ImportResult& result)
{
    const ImportFormat* format = importFormatOf(suffix);
    if (!format) {
        // A folder is named as one, whatever its name looks like.
        const QString unreadable = unreadableFileMessage(path);
        result.error = QFileInfo(path).isDir()
                           ? unreadable
                           : QStringLiteral("Unbekanntes Dateiformat .") + suffix;
        return nullptr;
    }
    result.format = format->format;
    result.meshBodies = format->meshBodies;
    // The readers would report a missing file in the system's English words, and a
    // named pipe would block them.
    result.error = unreadableFileMessage(path);
    return result.error.isEmpty() ? format : nullptr;
}

void dispatch(const QString& path, const QString& suffix, ProgressBridge& progress,
              ImportResult& result, ReadStop& stop)
{
    const ImportFormat* format = readableFormat(path, suffix, result);
    if (!format)
        return;
    if (progress.stopRequested()) {
        result.error = readCancelledMessage();
        stop = ReadStop::cancelled;
        return;
    }
    const CancelCheck cancelled = [&progress] { return progress.UserBreak(); };
    format->read({path, suffix, path.toLocal8Bit(), progress, cancelled}, result);
    if (progress.stopRequested()) {
        result.error = readCancelledMessage();
        stop = ReadStop::cancelled;
    } else if (progress.timedOut()) {
        // A slow machine does not spend processor time, so only a reader that does not come
        // to an end gets here; the file may well be sound.
        result.error = readStopMessage(path, ReadStop::time);
        stop = ReadStop::time;
    } else if (result.meshBodies && result.ok) {
        dropEmptyMeshFaces(result);
        const bool nonFinite
            = std::any_of(result.bodies.begin(), result.bodies.end(),
                          [](const ImportedBody& body) { return hasNonFiniteNode(body.shape); });
        if (nonFinite)
            result.error = nonFiniteError(result.format);
    }
    if (!result.error.isEmpty()) {
        result.ok = false;
        result.bodies.clear();
    }
}

// A kernel failure in words for the user: its message, unless it is empty or only the
// name of a kernel class, which tells the user nothing.
QString kernelFailureText(const Standard_Failure& failure)
{
    const QString message = QString::fromUtf8(failure.GetMessageString()).trimmed();
    static const QRegularExpression className(QStringLiteral("^[A-Za-z0-9]+_[A-Za-z0-9_]+$"));
    if (message.isEmpty() || className.match(message).hasMatch())
        return QStringLiteral("Fehler im Geometriekern");
    return message;
}

QString filterPatterns(const QStringList& suffixes)
{
    QStringList patterns;
    for (const QString& suffix : suffixes)
        patterns.append(QStringLiteral("*.") + suffix);
    return patterns.join(QLatin1Char(' '));
}

} // namespace

QString readStopMessage(const QString& path, ReadStop stop)
{
    switch (stop) {
    case ReadStop::none: break;
    case ReadStop::memory:
        return QStringLiteral("Zu wenig Arbeitsspeicher: „%1“ ließ sich nicht lesen")
            .arg(QFileInfo(path).fileName());
    case ReadStop::time:
        return readError(QStringLiteral("nach %1 s Rechenzeit ohne Ergebnis angehalten")
                             .arg(importBudgetMs(path) / 1000));
    case ReadStop::cancelled: return readCancelledMessage();
    }
    return {};
}

qint64 importBudgetMs(const QString& path)
{
    return 10000 + dataBytes(path) / 25;
}

ImportResult readInThisProcess(const QString& path, const ProgressCallback& progress,
                               const CancelCheck& cancelled, ReadStop* stopped)
{
    ImportResult result;
    ReadStop stop = ReadStop::none;
    ProgressRelay relay;
    const QString suffix = QFileInfo(path).suffix().toLower();
    // Everything the kernel builds while reading is also freed on the reader thread's large
    // stack: only the result's own shapes come back.
    const auto read = [&] {
        Handle(ProgressBridge) bridge = new ProgressBridge(
            progress ? relay.poster() : ProgressCallback(), relay, importBudgetMs(path));
        try {
            // A fault inside a reader becomes a Standard_Failure here instead of ending the
            // process.
            OCC_CATCH_SIGNALS
            dispatch(path, suffix, *bridge, result, stop);
        } catch (const Standard_OutOfMemory&) {
            stop = ReadStop::memory;
        } catch (const std::bad_alloc&) {
            stop = ReadStop::memory;
        } catch (const std::length_error&) {
            // A container asked for more elements than memory can hold.
            stop = ReadStop::memory;
        } catch (const Standard_Failure& failure) {
            result.ok = false;
            result.error = readError(kernelFailureText(failure));
        } catch (const std::exception&) {
            // The standard library's texts name its own classes and functions.
            result.ok = false;
            result.error = readError(QStringLiteral("unerwarteter Fehler im Leser"));
        }
        if (stop == ReadStop::memory) {
            result.ok = false;
            result.error = readStopMessage(path, stop);
        }
        if (!result.ok)
            result.bodies.clear();
    };
    if (cancelRequested(cancelled))
        relay.requestStop();
    std::function<void()> whileWaiting;
    if (progress || cancelled) {
        whileWaiting = [&] {
            if (cancelRequested(cancelled))
                relay.requestStop();
            if (progress)
                relay.deliver(progress);
        };
    }
    // The caller hears of the start and of the last step also when the read is quicker
    // than the first report in between.
    if (progress)
        relay.deliver(progress);
    runOnReaderThread(read, whileWaiting);
    if (progress)
        relay.deliver(progress);
    result.error = withoutKernelSignal(result.error);
    if (stopped)
        *stopped = stop;
    return result;
}

ImportResult importFile(const QString& path, const ProgressCallback& progress,
                        const CancelCheck& cancelled)
{
    ImportResult result;
    if (!readableFormat(path, QFileInfo(path).suffix().toLower(), result))
        return result;
    if (cancelRequested(cancelled)) {
        result.error = readCancelledMessage();
        return result;
    }
    const QString program = readerProgram();
    if (program.isEmpty())
        return readInThisProcess(path, progress, cancelled);
    readInReaderProcess(program, path, progress, cancelled, result);
    return result;
}

bool isImportable(const QString& path)
{
    return importFormatOf(QFileInfo(path).suffix().toLower()) != nullptr;
}

QString importFilter()
{
    QStringList all = {QStringLiteral("qcpart"), QStringLiteral("qcasm")};
    QStringList groups = {QStringLiteral("QorCAD (*.qcpart *.qcasm)")};
    for (const ImportFormat& format : importFormats()) {
        all.append(format.suffixes);
        groups.append(format.filterLabel + QStringLiteral(" (") + filterPatterns(format.suffixes)
                      + u')');
    }
    return QStringLiteral("Alle unterstützten Dateien (") + filterPatterns(all)
           + QStringLiteral(");;") + groups.join(QStringLiteral(";;"))
           + QStringLiteral(";;Alle Dateien (*)");
}

QString exportFilter()
{
    return QStringLiteral(
        "STEP AP242 (*.step *.stp);;IGES (*.iges *.igs);;STL binär (*.stl);;"
        "3MF für 3D-Druck (*.3mf);;OBJ (*.obj);;glTF binär (*.glb);;glTF (*.gltf);;PLY (*.ply);;"
        "OpenCASCADE BREP (*.brep)");
}

} // namespace qor::io
