#include "io/Export.h"

#include "io/BrepFile.h"
#include "io/ClosedVolume.h"
#include "io/KernelMessage.h"
#include "io/MeshFaces.h"
#include "io/MeshSewing.h"
#include "io/PlyWriter.h"
#include "io/StepBodyColours.h"
#include "io/StepRoundTrip.h"
#include "io/ThreeMfWriter.h"
#include "io/XcafBodies.h"
#include "sketch/Plane.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_Copy.hxx>
#include <BRepMesh_IncrementalMesh.hxx>
#include <BRep_Builder.hxx>
#include <BRep_TEdge.hxx>
#include <BRep_TFace.hxx>
#include <BRep_TVertex.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <IGESCAFControl_Writer.hxx>
#include <IGESControl_Controller.hxx>
#include <Interface_Static.hxx>
#include <Message.hxx>
#include <Message_Messenger.hxx>
#include <Message_Printer.hxx>
#include <Poly_Triangulation.hxx>
#include <Quantity_Color.hxx>
#include <RWGltf_CafWriter.hxx>
#include <RWObj_CafWriter.hxx>
#include <STEPCAFControl_Writer.hxx>
#include <STEPControl_Controller.hxx>
#include <ShapeFix_Shape.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <StlAPI_Writer.hxx>
#include <TColStd_IndexedDataMapOfStringString.hxx>
#include <TDataStd_Name.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Face.hxx>
#include <XCAFDoc_ColorTool.hxx>
#include <XCAFDoc_DocumentTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <exception>
#include <filesystem>

namespace qor::io {

namespace {

enum class Format { Brep, ThreeMf, Stl, Step, Iges, Obj, Glb, Gltf, Ply };

struct FormatInfo {
    Format format;
    bool meshed; // tessellated before writing
    const char* failure; // the text when the file cannot be written
};

const FormatInfo* formatOf(const QString& suffix)
{
    static const std::vector<std::pair<QString, FormatInfo>> table = {
        {QStringLiteral("step"),
         {Format::Step, false, "STEP-Datei konnte nicht geschrieben werden"}},
        {QStringLiteral("stp"),
         {Format::Step, false, "STEP-Datei konnte nicht geschrieben werden"}},
        {QStringLiteral("iges"),
         {Format::Iges, false, "IGES-Datei konnte nicht geschrieben werden"}},
        {QStringLiteral("igs"),
         {Format::Iges, false, "IGES-Datei konnte nicht geschrieben werden"}},
        {QStringLiteral("stl"), {Format::Stl, true, "STL-Datei konnte nicht geschrieben werden"}},
        {QStringLiteral("obj"), {Format::Obj, true, "OBJ-Datei konnte nicht geschrieben werden"}},
        {QStringLiteral("glb"), {Format::Glb, true, "glTF-Datei konnte nicht geschrieben werden"}},
        {QStringLiteral("gltf"),
         {Format::Gltf, true, "glTF-Datei konnte nicht geschrieben werden"}},
        {QStringLiteral("ply"), {Format::Ply, true, "PLY-Datei konnte nicht geschrieben werden"}},
        {QStringLiteral("brep"),
         {Format::Brep, false, "BREP-Datei konnte nicht geschrieben werden"}},
        {QStringLiteral("brp"),
         {Format::Brep, false, "BREP-Datei konnte nicht geschrieben werden"}},
        {QStringLiteral("3mf"),
         {Format::ThreeMf, true, "3MF-Datei konnte nicht geschrieben werden"}},
    };
    for (const auto& [key, info] : table) {
        if (key == suffix)
            return &info;
    }
    return nullptr;
}

// The data-exchange writers print statistics to standard output, which would
// end up in the batch conversion's output.
void quietKernel()
{
    static const bool done = [] {
        for (const Handle(Message_Printer)& printer : Message::DefaultMessenger()->Printers())
            printer->SetTraceLevel(Message_Fail);
        return true;
    }();
    (void)done;
}

// IGES strings are byte strings: its writer keeps only the low byte of each
// character while its reader decodes UTF-8. Handing it the UTF-8 bytes as
// characters makes names such as "Gehäuse" survive.
TCollection_ExtendedString xcafName(const QString& name, Format format)
{
    const QString text = format == Format::Iges ? QString::fromLatin1(name.toUtf8()) : name;
    return TCollection_ExtendedString(text.toStdWString().c_str());
}

void fillXcafDocument(const Handle(TDocStd_Document)& document,
                      const std::vector<ExportBody>& bodies, Format format)
{
    const Handle(XCAFDoc_ShapeTool) shapes = XCAFDoc_DocumentTool::ShapeTool(document->Main());
    const Handle(XCAFDoc_ColorTool) colours = XCAFDoc_DocumentTool::ColorTool(document->Main());
    for (const ExportBody& body : bodies) {
        // A located shape is added as a reference to its unplaced part, and the
        // writers take name and colour from the part: a compound without a
        // location keeps them on the body itself.
        TopoDS_Shape shape = body.shape;
        if (!shape.Location().IsIdentity()) {
            TopoDS_Compound placed;
            BRep_Builder builder;
            builder.MakeCompound(placed);
            builder.Add(placed, shape);
            shape = placed;
        }
        const TDF_Label label = shapes->AddShape(shape, false, true);
        TDataStd_Name::Set(label, xcafName(body.name, format));
        colours->SetColor(label, Quantity_Color(body.r, body.g, body.b, Quantity_TOC_sRGB),
                          XCAFDoc_ColorSurf);
    }
}

QString writeStep(const Handle(TDocStd_Document)& document, const QByteArray& file,
                  const ExportOptions& options)
{
    STEPControl_Controller::Init();
    const char* schema = options.stepSchema == u"AP203"   ? "AP203"
                         : options.stepSchema == u"AP214" ? "AP214IS"
                                                          : "AP242DIS";
    Interface_Static::SetCVal("write.step.schema", schema);
    Interface_Static::SetCVal("write.step.unit", "MM");
    STEPCAFControl_Writer writer;
    if (!writer.Transfer(document, STEPControl_AsIs))
        return QStringLiteral("STEP-Übertragung fehlgeschlagen");
    const StepBodyColours bodyColours(writer, document);
    if (writer.Write(file.constData()) != IFSelect_RetDone || !bodyColours.link(file))
        return QStringLiteral("STEP-Datei konnte nicht geschrieben werden");
    return {};
}

QString writeIges(const Handle(TDocStd_Document)& document, const QByteArray& file)
{
    IGESControl_Controller::Init();
    IGESCAFControl_Writer writer;
    writer.SetColorMode(true);
    writer.SetNameMode(true);
    if (!writer.Transfer(document))
        return QStringLiteral("IGES-Übertragung fehlgeschlagen");
    if (!writer.Write(file.constData(), false))
        return QStringLiteral("IGES-Datei konnte nicht geschrieben werden");
    return {};
}

TColStd_IndexedDataMapOfStringString metadataOf(const ExportOptions& options)
{
    TColStd_IndexedDataMapOfStringString metadata;
    metadata.Add("Author", TCollection_AsciiString(options.author.toUtf8().constData()));
    metadata.Add("Software", "QorCAD");
    return metadata;
}

bool writeObj(const Handle(TDocStd_Document)& document, const QByteArray& file,
              const ExportOptions& options)
{
    RWObj_CafWriter writer(file.constData());
    // Millimetres in and out: no scaling, no change of axes.
    writer.ChangeCoordinateSystemConverter().SetInputLengthUnit(0.001);
    writer.ChangeCoordinateSystemConverter().SetOutputLengthUnit(0.001);
    return writer.Perform(document, metadataOf(options), Message_ProgressRange());
}

bool writeGltf(const Handle(TDocStd_Document)& document, const QByteArray& file,
               const ExportOptions& options, bool binary)
{
    RWGltf_CafWriter writer(file.constData(), binary);
    // The compact form writes rotations as quaternions whose length can come out
    // as 1.0000000000000002, which validators reject.
    writer.SetTransformationFormat(RWGltf_WriterTrsfFormat_Mat4);
    // The output side keeps glTF's own metres with Y up.
    writer.ChangeCoordinateSystemConverter().SetInputLengthUnit(0.001);
    writer.ChangeCoordinateSystemConverter().SetInputCoordinateSystem(RWMesh_CoordinateSystem_Zup);
    return writer.Perform(document, metadataOf(options), Message_ProgressRange());
}

QString writeThroughXcaf(const FormatInfo& info, const QByteArray& file,
                         const std::vector<ExportBody>& bodies, const ExportOptions& options)
{
    XcafDocumentScope scope;
    fillXcafDocument(scope.document(), bodies, info.format);
    switch (info.format) {
    case Format::Step: return writeStep(scope.document(), file, options);
    case Format::Iges: return writeIges(scope.document(), file);
    case Format::Obj:
        return writeObj(scope.document(), file, options) ? QString()
                                                         : QString::fromUtf8(info.failure);
    default:
        return writeGltf(scope.document(), file, options, info.format == Format::Glb)
                   ? QString()
                   : QString::fromUtf8(info.failure);
    }
}

QString bodyLabel(const std::vector<ExportBody>& bodies, int index)
{
    const QString& name = bodies[std::size_t(index)].name;
    return QStringLiteral("„%1“").arg(name.isEmpty() ? QStringLiteral("Körper %1").arg(index + 1)
                                                     : name);
}

// Every mesh writer says which bodies have edges that more than two triangles
// share; the file holds them as they are.
void noteNonManifold(const std::vector<ExportBody>& bodies, const std::vector<int>& nonManifold,
                     QStringList& notes)
{
    for (std::size_t i = 0; i < nonManifold.size(); ++i) {
        if (nonManifold[i] > 0)
            notes << QStringLiteral("%1 hat %2 Kanten, an denen mehr als zwei Dreiecke liegen "
                                    "(nicht mannigfaltig); manche Slicer lehnen das Objekt ab "
                                    "oder reparieren es")
                         .arg(bodyLabel(bodies, int(i)))
                         .arg(nonManifold[i]);
    }
}

bool write3mfFile(const QString& path, const std::vector<ExportBody>& bodies, QStringList& notes)
{
    // The writer counts the edges on the mesh it builds anyway.
    std::vector<int> nonManifold;
    const QByteArray package = write3mf(bodies, &nonManifold);
    noteNonManifold(bodies, nonManifold, notes);
    if (package.isEmpty())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool complete = file.write(package) == package.size();
    file.close();
    return complete && file.error() == QFileDevice::NoError;
}

// Writes the file at path; an empty answer means success, else the German text.
// May throw: the caller turns kernel and standard exceptions into a message.
QString writeFormat(const FormatInfo& info, const QString& path,
                    const std::vector<ExportBody>& bodies, const ExportOptions& options,
                    QStringList& notes)
{
    std::vector<TopoDS_Shape> shapes;
    for (const ExportBody& body : bodies)
        shapes.push_back(body.shape);
    const TopoDS_Compound compound = compoundOf(shapes);

    const QByteArray file = QFile::encodeName(path);
    const QString failure = QString::fromUtf8(info.failure);
    switch (info.format) {
    case Format::Brep: return writeBrepFile(compound, path) ? QString() : failure;
    case Format::ThreeMf: return write3mfFile(path, bodies, notes) ? QString() : failure;
    case Format::Stl: {
        StlAPI_Writer writer;
        writer.ASCIIMode() = !options.binary;
        return writer.Write(compound, file.constData()) ? QString() : failure;
    }
    case Format::Ply: return writePly(path, bodies, options.author) ? QString() : failure;
    default: return writeThroughXcaf(info, file, bodies, options);
    }
}

// One face meshed into many triangles costs the mesher far more memory than the
// triangles themselves, growing faster than their number (a sphere in 100,000
// triangles: 280 MB; in 250,000: 1 GB; in a million: 8.7 GB), and faces are
// meshed in parallel. No face is meshed finer than this.
constexpr long long faceTriangleCap = 100000;
// Triangles are taken to grow with (d / finer)^1.5 when the deflection goes from d
// to finer: faster than on smooth faces (exponent 1), about as fast as on rough
// terrain, so that a step never overshoots by much.
constexpr double growthExponent = 1.5;

// Triangles the mesher made for one body, its largest face, and the faces it
// left without.
struct MeshCount {
    long long triangles = 0;
    long long largestFace = 0;
    int emptyFaces = 0;
};

MeshCount countMesh(const TopoDS_Shape& shape)
{
    MeshCount count;
    for (TopExp_Explorer explorer(shape, TopAbs_FACE); explorer.More(); explorer.Next()) {
        TopLoc_Location location;
        const Handle(Poly_Triangulation) mesh
            = BRep_Tool::Triangulation(TopoDS::Face(explorer.Current()), location);
        if (mesh.IsNull() || mesh->NbTriangles() == 0) {
            ++count.emptyFaces;
            continue;
        }
        count.triangles += mesh->NbTriangles();
        count.largestFace = std::max<long long>(count.largestFace, mesh->NbTriangles());
    }
    return count;
}

double sizeOf(const TopoDS_Shape& shape)
{
    Bnd_Box box;
    BRepBndLib::Add(shape, box);
    return box.IsVoid() ? 0.0 : std::sqrt(box.SquareExtent());
}

// The next deflection of one body on the way to wanted: at most four times finer,
// and no finer than its largest face may get. faceCapped tells whether the cap
// on a face's triangles held it back.
double nextDeflection(double current, double wanted, const MeshCount& count, bool& faceCapped)
{
    double next = std::max(wanted, current / 4.0);
    faceCapped = false;
    if (count.largestFace > 0) {
        const double allowed
            = std::pow(double(faceTriangleCap) / double(count.largestFace), 1.0 / growthExponent);
        const double capped = current / std::max(1.0, allowed);
        faceCapped = capped > next;
        next = std::max(next, capped);
    }
    return next;
}

double predictedTriangles(const std::vector<MeshCount>& counts, const std::vector<double>& from,
                          const std::vector<double>& to)
{
    double total = 0.0;
    for (std::size_t i = 0; i < counts.size(); ++i)
        total += double(counts[i].triangles) * std::pow(from[i] / to[i], growthExponent);
    return total;
}

// Steps every body's deflection toward the next one by the same fraction (on a
// logarithmic scale) so that the predicted total stays within the budget.
std::vector<double> withinBudget(const std::vector<MeshCount>& counts,
                                 const std::vector<double>& current, std::vector<double> next,
                                 double budget)
{
    if (predictedTriangles(counts, current, next) <= budget)
        return next;
    double low = 0.0;
    double high = 1.0;
    std::vector<double> step = current;
    for (int i = 0; i < 30; ++i) {
        const double mid = 0.5 * (low + high);
        for (std::size_t k = 0; k < step.size(); ++k)
            step[k] = current[k] * std::pow(next[k] / current[k], mid);
        (predictedTriangles(counts, current, step) <= budget ? low : high) = mid;
    }
    for (std::size_t k = 0; k < step.size(); ++k)
        step[k] = current[k] * std::pow(next[k] / current[k], low);
    return step;
}

// What kept a body's mesh coarser than asked.
enum class Limit { None, FaceCap, Budget };

// Names the deflection reached and the bound that acted: the cap per face or the
// file's triangle budget, or both when they held back different bodies.
QString coarseningNote(double used, const std::vector<double>& deflections,
                       const std::vector<Limit>& limits, double wanted,
                       const ExportOptions& options)
{
    bool faceCap = false;
    bool budget = false;
    for (std::size_t i = 0; i < deflections.size(); ++i) {
        if (deflections[i] <= wanted)
            continue;
        faceCap = faceCap || limits[i] == Limit::FaceCap;
        budget = budget || limits[i] == Limit::Budget;
    }
    QStringList reasons;
    if (faceCap)
        reasons << QStringLiteral("keine Fläche mehr als %1 Dreiecke erhält").arg(faceTriangleCap);
    if (budget || !faceCap)
        reasons << QStringLiteral("die Datei nicht mehr als etwa %1 Dreiecke enthält")
                       .arg(std::max(1LL, options.triangleBudget));
    return QStringLiteral("Vernetzung auf %1 mm vergröbert, damit %2")
        .arg(QString::number(used, 'g', 3), reasons.join(QStringLiteral(" und ")));
}

// Meshes a body whose faces the mesher left partly empty once more, so that a
// closed solid gives a closed mesh: a healed copy of the whole body (a face whose
// edges lack their curves on it, or whose wire has gaps, meshes once repaired,
// and meshing the copy as a whole keeps the borders of its faces matched).
// Replaces the body's shape when that left fewer faces empty; the caller's shape
// is never changed by the healing.
MeshCount retryEmptyFaces(TopoDS_Shape& shape, double deflection, double angle, MeshCount count)
{
    BRepBuilderAPI_Copy copy(shape, true, false);
    ShapeFix_Shape fix(copy.Shape());
    fix.Perform();
    const TopoDS_Shape healed = fix.Shape();
    BRepMesh_IncrementalMesh(healed, deflection, false, angle, true);
    if (const MeshCount again = countMesh(healed); again.emptyFaces < count.emptyFaces) {
        shape = healed;
        count = again;
    }
    return count;
}

// Tessellates the bodies at the asked deflection, or coarser where that would
// exceed the triangle budget or the per-face cap. Meshing starts coarse, relative to
// each body's size, and refines in steps whose result is predicted from the mesh
// before, so that neither the file nor the mesher's memory grows beyond the
// bounds: a terrain-like face is coarsened before it is meshed finely, not after.
// Returns the failure; notes what the file will lack.
QString tessellate(std::vector<ExportBody>& bodies, const ExportOptions& options,
                   QStringList& notes)
{
    const double wanted = options.linearDeflection;
    const double budget = 0.9 * double(std::max(1LL, options.triangleBudget));
    // A mesh body keeps the triangles it has: it starts and stays at the deflection
    // asked for.
    std::vector<double> deflections;
    for (const ExportBody& body : bodies)
        deflections.push_back(isMeshOnly(body.shape) ? wanted
                                                     : std::max(wanted, 0.05 * sizeOf(body.shape)));
    std::vector<MeshCount> counts(bodies.size());
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        if (!isMeshOnly(bodies[i].shape))
            BRepMesh_IncrementalMesh(bodies[i].shape, deflections[i], false,
                                     options.angularDeflection, true);
        counts[i] = countMesh(bodies[i].shape);
    }

    // Each pass ends the steps of bodies that would hardly get finer. What held a
    // body back last is what the note names.
    std::vector<Limit> limits(bodies.size(), Limit::None);
    for (int pass = 0; pass < 16; ++pass) {
        std::vector<double> next;
        std::vector<Limit> held(bodies.size(), Limit::None);
        for (std::size_t i = 0; i < bodies.size(); ++i) {
            bool faceCapped = false;
            next.push_back(nextDeflection(deflections[i], wanted, counts[i], faceCapped));
            if (faceCapped)
                held[i] = Limit::FaceCap;
        }
        const std::vector<double> unbounded = next;
        next = withinBudget(counts, deflections, next, budget);
        bool refined = false;
        for (std::size_t i = 0; i < bodies.size(); ++i) {
            if (next[i] > unbounded[i])
                held[i] = Limit::Budget;
            limits[i] = held[i];
            if (next[i] > deflections[i] / 1.2 && next[i] > wanted)
                continue;
            if (next[i] >= deflections[i])
                continue;
            deflections[i] = next[i];
            BRepMesh_IncrementalMesh(bodies[i].shape, deflections[i], false,
                                     options.angularDeflection, true);
            counts[i] = countMesh(bodies[i].shape);
            refined = true;
        }
        if (!refined)
            break;
    }

    for (std::size_t i = 0; i < bodies.size(); ++i) {
        if (counts[i].emptyFaces > 0 && !isMeshOnly(bodies[i].shape))
            counts[i] = retryEmptyFaces(bodies[i].shape, deflections[i], options.angularDeflection,
                                        counts[i]);
    }

    MeshCount total;
    for (const MeshCount& count : counts) {
        total.triangles += count.triangles;
        total.emptyFaces += count.emptyFaces;
    }
    if (total.triangles == 0)
        return QStringLiteral("Die Körper haben keine Flächen, die sich vernetzen lassen; "
                              "die Datei bliebe leer");
    const double used = *std::max_element(deflections.begin(), deflections.end());
    if (used > wanted)
        notes << coarseningNote(used, deflections, limits, wanted, options);
    if (total.emptyFaces > 0) {
        notes << QStringLiteral("%1 Flächen ließen sich nicht vernetzen und fehlen in der Datei")
                     .arg(total.emptyFaces);
    }
    return {};
}

// STEP and IGES cannot carry a bare triangulation: mesh bodies become planar
// triangle faces.
QString sewMeshBodies(std::vector<ExportBody>& bodies)
{
    for (ExportBody& body : bodies) {
        if (!isMeshOnly(body.shape))
            continue;
        body.shape = sewnTriangleFaces(body.shape);
        if (body.shape.IsNull())
            return QStringLiteral("Der Netzkörper „%1“ hat zu viele Dreiecke für STEP und IGES "
                                  "(höchstens %2); bitte als STL, 3MF oder glTF exportieren")
                .arg(body.name)
                .arg(maxSewnTriangles);
    }
    return {};
}

bool finite(const gp_Pnt& p)
{
    return std::isfinite(p.X()) && std::isfinite(p.Y()) && std::isfinite(p.Z());
}

// A fault the kernel caught can leave a body with a tolerance that is infinite
// or not a number; writers copy it into the file, and no reader makes sense of
// the body after.
// The tolerance as stored: BRep_Tool reads one that is not a number as the
// smallest tolerance.
template <typename TShape> bool storedToleranceFinite(const TopoDS_Shape& shape)
{
    const Handle(TShape) stored = Handle(TShape)::DownCast(shape.TShape());
    return stored.IsNull() || std::isfinite(stored->Tolerance());
}

bool hasNonFiniteTolerance(const TopoDS_Shape& shape)
{
    for (TopExp_Explorer it(shape, TopAbs_VERTEX); it.More(); it.Next()) {
        if (!storedToleranceFinite<BRep_TVertex>(it.Current())
            || !finite(BRep_Tool::Pnt(TopoDS::Vertex(it.Current()))))
            return true;
    }
    for (TopExp_Explorer it(shape, TopAbs_EDGE); it.More(); it.Next()) {
        if (!storedToleranceFinite<BRep_TEdge>(it.Current()))
            return true;
    }
    for (TopExp_Explorer it(shape, TopAbs_FACE); it.More(); it.Next()) {
        if (!storedToleranceFinite<BRep_TFace>(it.Current()))
            return true;
    }
    return false;
}

QString damagedBody(const std::vector<ExportBody>& bodies)
{
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        if (hasNonFiniteTolerance(bodies[i].shape))
            return QStringLiteral("Der Körper %1 ist beschädigt (Toleranz nicht endlich) und "
                                  "wird nicht exportiert")
                .arg(bodyLabel(bodies, int(i)));
    }
    return {};
}

// Prepares the bodies for the format's writer; returns the failure.
QString prepareBodies(const FormatInfo& info, std::vector<ExportBody>& bodies,
                      const ExportOptions& options, QStringList& notes)
{
    if (const QString damaged = damagedBody(bodies); !damaged.isEmpty())
        return damaged;
    if (info.meshed) {
        if (QString failure = tessellate(bodies, options, notes); !failure.isEmpty())
            return failure;
        // One rule for every mesh format: no triangle without area, and edges
        // shared by more than two triangles named.
        std::vector<int> nonManifold;
        for (const ExportBody& body : bodies) {
            dropZeroAreaTriangles(body.shape);
            if (info.format != Format::ThreeMf)
                nonManifold.push_back(nonManifoldEdgeCount(bodyMesh(body.shape)));
        }
        noteNonManifold(bodies, nonManifold, notes);
        return {};
    }
    if (info.format == Format::Step || info.format == Format::Iges)
        return sewMeshBodies(bodies);
    return {};
}

// Puts the kernel's default back however the rewrite ends.
struct WithoutSurfaceCurves {
    WithoutSurfaceCurves() { setStepSurfaceCurves(false); }
    ~WithoutSurfaceCurves() { setStepSurfaceCurves(true); }
    WithoutSurfaceCurves(const WithoutSurfaceCurves&) = delete;
    WithoutSurfaceCurves& operator=(const WithoutSurfaceCurves&) = delete;
};

// Some solids come back from STEP with part of their volume lost (a face that
// crosses the seam of a sphere is read back trimmed the wrong way). The written
// file is read back and each body's volume compared; when any changed, the file
// is written once more without the curves on surfaces, which the reader then
// rebuilds, and the better file kept. What still differs is noted by name.
void verifyStep(const FormatInfo& info, const QString& staged,
                const std::vector<ExportBody>& bodies, const ExportOptions& options,
                QStringList& notes)
{
    std::vector<double> volumes;
    for (const ExportBody& body : bodies)
        volumes.push_back(closedVolume(body.shape));
    if (std::none_of(volumes.begin(), volumes.end(), [](double v) { return v > 0.0; }))
        return;
    std::vector<int> changed = stepVolumeChanges(QFile::encodeName(staged), volumes);
    if (changed.empty())
        return;

    // Under the same name in a folder of its own, so that the file names itself
    // alike and the move into place never sees it.
    const QFileInfo target(staged);
    QDir(target.absolutePath()).mkdir(QStringLiteral("retry"));
    const QString retry
        = target.absoluteDir().filePath(QStringLiteral("retry/") + target.fileName());
    QString failure;
    {
        const WithoutSurfaceCurves off;
        failure = writeThroughXcaf(info, QFile::encodeName(retry), bodies, options);
    }
    if (failure.isEmpty()) {
        const std::vector<int> again = stepVolumeChanges(QFile::encodeName(retry), volumes);
        if (again.size() < changed.size()) {
            std::error_code ec;
            std::filesystem::rename(QFile::encodeName(retry).toStdString(),
                                    QFile::encodeName(staged).toStdString(), ec);
            if (!ec)
                changed = again;
        }
    }
    if (changed.empty())
        return;
    QStringList names;
    for (int index : changed)
        names << bodyLabel(bodies, index);
    notes << QStringLiteral("STEP gibt das Volumen von %1 nicht genau wieder; die Datei weicht "
                            "dort vom Modell ab")
                 .arg(names.join(QStringLiteral(", ")));
}

// Moves every file the writer left in the staging folder beside the target, the
// target itself last, so that it never refers to side files not yet in place.
// A replaced file keeps its permissions.
bool moveIntoPlace(const QString& stagingDir, const QString& target)
{
    namespace fs = std::filesystem;
    const QFileInfo targetInfo(target);
    const QStringList written = QDir(stagingDir).entryList(QDir::Files | QDir::Hidden);
    if (!written.contains(targetInfo.fileName()))
        return false;
    if (targetInfo.exists())
        QFile::setPermissions(QDir(stagingDir).filePath(targetInfo.fileName()),
                              targetInfo.permissions());
    QStringList order = written;
    order.removeAll(targetInfo.fileName());
    order.append(targetInfo.fileName());
    for (const QString& name : order) {
        std::error_code ec;
        fs::rename(fs::path(QFile::encodeName(QDir(stagingDir).filePath(name)).toStdString()),
                   fs::path(QFile::encodeName(targetInfo.dir().filePath(name)).toStdString()), ec);
        if (ec)
            return false;
    }
    return true;
}

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

// The writers go to a folder beside the target under the target's own name, so
// that side files and names inside the file come out right and the final move
// stays on one file system. Returns the failure.
QString writeStaged(const FormatInfo& info, const QString& path,
                    const std::vector<ExportBody>& bodies, const ExportOptions& options,
                    QStringList& notes)
{
    const QFileInfo target(path);
    // The writers leave the system's reason in errno; a full disk is worth saying.
    errno = 0;
    QTemporaryDir staging(target.absoluteDir().filePath(QStringLiteral(".qorcad-export-XXXXXX")));
    if (!staging.isValid())
        return writeFailureText(QString::fromUtf8(info.failure), errno);
    const QString staged = staging.filePath(target.fileName());
    const QString failure = writeFormat(info, staged, bodies, options, notes);
    if (!failure.isEmpty())
        return writeFailureText(failure, errno);
    if (info.format == Format::Step)
        verifyStep(info, staged, bodies, options, notes);
    if (!moveIntoPlace(staging.path(), target.absoluteFilePath()))
        return QString::fromUtf8(info.failure);
    return {};
}

} // namespace

bool exportFile(const QString& path, const std::vector<ExportBody>& bodies,
                const ExportOptions& options, QString* error, QString* note)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (bodies.empty()) {
        setError(error, QStringLiteral("Keine Körper zum Exportieren"));
        return false;
    }
    const FormatInfo* info = formatOf(suffix);
    if (!info) {
        setError(error, QStringLiteral("Unbekanntes Exportformat .") + suffix);
        return false;
    }
    quietKernel();

    std::vector<ExportBody> prepared = bodies;
    QStringList notes;
    QString failure;
    try {
        OCC_CATCH_SIGNALS
        // Meshing, the long part, runs before the staging folder exists, so an
        // export stopped meanwhile leaves nothing behind.
        failure = prepareBodies(*info, prepared, options, notes);
        if (failure.isEmpty())
            failure = writeStaged(*info, path, prepared, options, notes);
    } catch (const Standard_Failure& f) {
        failure = QStringLiteral("Export fehlgeschlagen: %1")
                      .arg(withoutKernelSignal(QString::fromUtf8(f.GetMessageString())));
    } catch (const std::exception& e) {
        failure = QStringLiteral("Export fehlgeschlagen: %1").arg(QString::fromUtf8(e.what()));
    }
    if (!failure.isEmpty()) {
        setError(error, failure);
        return false;
    }
    if (note)
        *note = notes.join(QStringLiteral("; "));
    return true;
}

} // namespace qor::io
