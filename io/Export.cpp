#include "io/Export.h"

#include "io/BrepFile.h"
#include "io/CancelIndicator.h"
#include "io/ClosedVolume.h"
#include "io/IgesCheck.h"
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
#include <QLocale>
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
#include <Message_ProgressScope.hxx>
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
#include <numeric>
#include <optional>

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

// With a check, the check starts on the writer's model before the text is
// written, so that both run at once. Without a file name, nothing is written.
QString writeStep(const Handle(TDocStd_Document)& document, const QByteArray& file,
                  const ExportOptions& options, StepCheck* check,
                  const Message_ProgressRange& range)
{
    STEPControl_Controller::Init();
    const char* schema = options.stepSchema == u"AP203"   ? "AP203"
                         : options.stepSchema == u"AP214" ? "AP214IS"
                                                          : "AP242DIS";
    Interface_Static::SetCVal("write.step.schema", schema);
    Interface_Static::SetCVal("write.step.unit", "MM");
    STEPCAFControl_Writer writer;
    if (!writer.Transfer(document, STEPControl_AsIs, nullptr, range) || range.UserBreak())
        return QStringLiteral("STEP-Übertragung fehlgeschlagen");
    const StepBodyColours bodyColours(writer, document);
    if (check)
        check->start(writer.ChangeWriter().WS());
    if (!file.isEmpty()
        && (writer.Write(file.constData()) != IFSelect_RetDone || !bodyColours.link(file)))
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
                         const std::vector<ExportBody>& bodies, const ExportOptions& options,
                         StepCheck* check = nullptr,
                         const Message_ProgressRange& range = Message_ProgressRange())
{
    XcafDocumentScope scope;
    fillXcafDocument(scope.document(), bodies, info.format);
    switch (info.format) {
    case Format::Step: return writeStep(scope.document(), file, options, check, range);
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
    if (info.format == Format::Step || info.format == Format::Iges) {
        if (const QString failure = sewMeshBodies(bodies); !failure.isEmpty())
            return failure;
    }
    if (info.format == Format::Iges) {
        for (ExportBody& body : bodies)
            body.shape = igesShape(body.shape);
    }
    return {};
}

// Puts the kernel's default back however the rewrite ends.
struct WithoutSurfaceCurves {
    WithoutSurfaceCurves() { setStepSurfaceCurves(false); }
    ~WithoutSurfaceCurves() { setStepSurfaceCurves(true); }
    WithoutSurfaceCurves(const WithoutSurfaceCurves&) = delete;
    WithoutSurfaceCurves& operator=(const WithoutSurfaceCurves&) = delete;
};

// The caller's progress and cancellation; a stage maps its 0..100 into a part of
// the whole.
struct ExportControl {
    ProgressCallback progress;
    CancelCheck cancelled;

    void report(int percent, const QString& label) const
    {
        if (progress)
            progress(percent, label);
    }

    ProgressCallback stage(int from, int to, const QString& label) const
    {
        if (!progress)
            return {};
        report(from, label);
        return [this, from, to](int percent, const QString&) {
            report(from + (to - from) * std::clamp(percent, 0, 100) / 100, QString());
        };
    }
};

QString exportCancelledMessage()
{
    return QStringLiteral("Export abgebrochen");
}

// Writes the bodies as STEP to file while the listed ones are read back from the
// writer's model. Returns the failure; volumes receives the checked bodies.
QString writeAndCheckStep(const FormatInfo& info, const QByteArray& file,
                          const std::vector<ExportBody>& bodies, const ExportOptions& options,
                          const std::vector<int>& indices, const ExportControl& control,
                          std::vector<StepVolume>& volumes,
                          StepCheck::ReadBack readBack = StepCheck::ReadBack::Faces)
{
    std::vector<TopoDS_Shape> shapes;
    for (const ExportBody& body : bodies)
        shapes.push_back(body.shape);
    StepCheck check(std::move(shapes), indices, StepCheck::defaultFacesForWorkers, readBack);
    const Handle(CancelIndicator) indicator = new CancelIndicator(
        control.cancelled, control.stage(10, 70, QStringLiteral("STEP-Daten übertragen")));
    Message_ProgressScope scope(indicator->Start(), nullptr, 1);
    QString failure = writeThroughXcaf(info, file, bodies, options, &check, scope.Next());
    if (cancelRequested(control.cancelled))
        return exportCancelledMessage();
    if (!failure.isEmpty())
        return failure;
    volumes = check.results(control.stage(80, 100, QStringLiteral("Körper prüfen")),
                            control.cancelled);
    if (cancelRequested(control.cancelled))
        return exportCancelledMessage();
    return {};
}

// The bodies whose volume the file does not give back, measured against the
// volume each had before any repair.
std::vector<StepVolume> changedVolumes(std::vector<StepVolume> volumes,
                                       const std::vector<double>& original)
{
    std::vector<StepVolume> changed;
    for (StepVolume& volume : volumes) {
        // A body whose faces all came back is not measured: it is whole.
        if (volume.unchecked || volume.model == 0.0)
            continue;
        // A repaired body is measured against the body as it was.
        if (original[std::size_t(volume.index)] > 0.0)
            volume.model = original[std::size_t(volume.index)];
        if (volume.changed())
            changed.push_back(volume);
    }
    return changed;
}

QString percentText(double percent)
{
    const QString digits = QLocale(QLocale::German).toString(std::abs(percent), 'f', 2);
    return (percent < 0.0 ? QStringLiteral("−") : QStringLiteral("+")) + digits
           + QStringLiteral(" %");
}

// The listed bodies read back from a STEP model of their own, which is not
// written out; the answers carry the bodies' indices in bodies.
std::vector<StepVolume> probeStep(const FormatInfo& info, const std::vector<ExportBody>& bodies,
                                  const std::vector<int>& which, const ExportOptions& options,
                                  const ExportControl& control, QString& failure)
{
    std::vector<ExportBody> subset;
    for (const int index : which)
        subset.push_back(bodies[std::size_t(index)]);
    std::vector<int> local(which.size());
    std::iota(local.begin(), local.end(), 0);
    std::vector<StepVolume> volumes;
    try {
        // A repaired shape the writer cannot take ends this attempt, not the export.
        OCC_CATCH_SIGNALS
        // A repair is judged by the volume it gives back: its faces may all come
        // back and the body still not.
        failure = writeAndCheckStep(info, {}, subset, options, local, control, volumes,
                                    StepCheck::ReadBack::Bodies);
    } catch (const Standard_Failure&) {
        failure = QString::fromUtf8(info.failure);
    }
    for (StepVolume& volume : volumes) {
        volume.index = which[std::size_t(volume.index)];
        // A repair that could not be checked is no repair.
        if (volume.unchecked) {
            volume.unchecked = false;
            volume.file = 0.0;
        }
    }
    return volumes;
}

std::vector<int> indicesOf(const std::vector<StepVolume>& volumes)
{
    std::vector<int> indices;
    for (const StepVolume& volume : volumes)
        indices.push_back(volume.index);
    return indices;
}

// Writes the whole file again beside staged and moves it over staged; with
// `checked`, only when fewer bodies change than in `changed`, which then
// receives the bodies that change in the file now. True when the file was moved.
bool rewriteStep(const FormatInfo& info, const QString& staged,
                 const std::vector<ExportBody>& bodies, const ExportOptions& options,
                 const std::vector<int>& checked, const std::vector<double>& original,
                 std::vector<StepVolume>& changed, const ExportControl& control, QString& failure)
{
    // Under the same name in a folder of its own, so that the file names itself
    // alike and the move into place never sees it.
    const QFileInfo target(staged);
    QDir(target.absolutePath()).mkdir(QStringLiteral("retry"));
    const QString retry
        = target.absoluteDir().filePath(QStringLiteral("retry/") + target.fileName());
    std::vector<StepVolume> volumes;
    failure = writeAndCheckStep(info, QFile::encodeName(retry), bodies, options, checked, control,
                                volumes);
    std::vector<StepVolume> still = changedVolumes(volumes, original);
    bool moved = false;
    if (failure.isEmpty() && (checked.empty() || still.size() < changed.size())) {
        std::error_code ec;
        std::filesystem::rename(QFile::encodeName(retry).toStdString(),
                                QFile::encodeName(staged).toStdString(), ec);
        moved = !ec;
        if (moved && !checked.empty())
            changed = std::move(still);
    }
    QFile::remove(retry);
    return moved;
}

// Bodies whose check did not answer are written as they are, and said to be.
void noteUnchecked(const std::vector<ExportBody>& bodies, const std::vector<StepVolume>& volumes,
                   QStringList& notes)
{
    QStringList names;
    for (const StepVolume& volume : volumes) {
        if (volume.unchecked)
            names << bodyLabel(bodies, volume.index);
    }
    if (!names.isEmpty())
        notes << QStringLiteral("STEP-Rücklesen von %1 nicht geprüft: der Prüfprozess antwortete "
                                "nicht und wurde beendet")
                     .arg(names.join(QStringLiteral(", ")));
}

// A way of writing a damaged body again.
struct StepRepair {
    const char* what;
    TopoDS_Shape (*change)(const TopoDS_Shape&);
};

// Some solids come back from STEP with part of their volume lost (a face that
// crosses the seam of a sphere is read back trimmed the wrong way, a cylinder
// is split by the reader's healing). The faces of closed bodies that may come
// back otherwise are read back from the writer's model, and a body whose faces
// changed is read back whole and its volume compared. A body that changed is tried on
// its own with its closed faces split at their seams, then as B-spline faces,
// then written without curves on surfaces (which changes every body, so that one
// is checked on the whole file); the file is written again once with what
// repaired. A repaired body keeps its name and colour; what none repairs is noted
// with its loss and what was tried.
QString writeCheckedStep(const FormatInfo& info, const QString& staged,
                         const std::vector<ExportBody>& bodies, const ExportOptions& options,
                         QStringList& notes, const ExportControl& control)
{
    std::vector<int> checked;
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        if (stepMayChange(bodies[i].shape))
            checked.push_back(int(i));
    }
    // Curves of edges on planes add nothing a reader cannot find exactly, and they
    // more than double the entities of a mesh body sewn into triangles (its file
    // and the writer's memory): a file of planar bodies goes without them.
    std::optional<WithoutSurfaceCurves> planar;
    if (std::none_of(bodies.begin(), bodies.end(),
                     [](const ExportBody& body) { return hasCurvedFace(body.shape); }))
        planar.emplace();
    std::vector<StepVolume> volumes;
    if (const QString failure = writeAndCheckStep(info, QFile::encodeName(staged), bodies,
                                                  options, checked, control, volumes);
        !failure.isEmpty())
        return failure;
    planar.reset();
    noteUnchecked(bodies, volumes, notes);
    std::vector<double> original(bodies.size(), 0.0);
    for (const StepVolume& volume : volumes)
        original[std::size_t(volume.index)] = volume.model;
    std::vector<StepVolume> changed = changedVolumes(volumes, original);
    if (changed.empty())
        return {};

    static const StepRepair repairs[] = {
        {"Flächen an ihren Nähten geteilt", splitClosedFaces},
        {"Flächen als B-Splines", asBSplineFaces},
    };
    std::vector<ExportBody> repaired = bodies;
    bool anyRepaired = false;
    QStringList tried;
    QString failure;
    for (const StepRepair& repair : repairs) {
        if (changed.empty())
            break;
        tried << QString::fromUtf8(repair.what);
        std::vector<ExportBody> attempt = repaired;
        for (const StepVolume& volume : changed) {
            ExportBody& body = attempt[std::size_t(volume.index)];
            body.shape = repair.change(bodies[std::size_t(volume.index)].shape);
        }
        const std::vector<StepVolume> probed = changedVolumes(
            probeStep(info, attempt, indicesOf(changed), options, control, failure), original);
        if (failure == exportCancelledMessage())
            return failure;
        if (!failure.isEmpty())
            continue;
        const std::vector<int> still = indicesOf(probed);
        std::erase_if(changed, [&](const StepVolume& volume) {
            if (std::find(still.begin(), still.end(), volume.index) != still.end())
                return false;
            repaired[std::size_t(volume.index)] = attempt[std::size_t(volume.index)];
            anyRepaired = true;
            return true;
        });
    }
    bool rewritten = false;
    if (!changed.empty()) {
        tried << QStringLiteral("ohne Kurven auf Flächen");
        const WithoutSurfaceCurves noCurves;
        const std::vector<StepVolume> probed = changedVolumes(
            probeStep(info, repaired, indicesOf(changed), options, control, failure), original);
        if (failure == exportCancelledMessage())
            return failure;
        if (failure.isEmpty() && probed.size() < changed.size())
            rewritten = rewriteStep(info, staged, repaired, options, checked, original, changed,
                                    control, failure);
        if (failure == exportCancelledMessage())
            return failure;
    }
    if (anyRepaired && !rewritten) {
        // The repairs were checked body by body; the file takes them as they were.
        if (!rewriteStep(info, staged, repaired, options, {}, original, changed, control,
                         failure))
            return failure.isEmpty() ? QString::fromUtf8(info.failure) : failure;
    }
    if (changed.empty())
        return {};
    QStringList losses;
    for (const StepVolume& volume : changed)
        losses << QStringLiteral("%1 (%2)").arg(bodyLabel(bodies, volume.index),
                                                percentText(volume.percent()));
    notes << QStringLiteral("STEP gibt das Volumen von %1 nicht genau wieder (versucht: %2); die "
                            "Datei weicht dort vom Modell ab")
                 .arg(losses.join(QStringLiteral(", ")), tried.join(QStringLiteral(", ")));
    return {};
}

// IGES holds faces only: each body's face area, box and colour are compared with
// the file read back, and what differs is noted by body.
void noteIgesChanges(const QString& staged, const std::vector<ExportBody>& bodies,
                     QStringList& notes)
{
    std::vector<IgesBody> written;
    for (const ExportBody& body : bodies)
        written.push_back({body.shape, body.r, body.g, body.b});
    int count = 0;
    const std::vector<IgesChange> changes = igesChanges(staged, written, &count);
    if (count < 0) {
        notes << QStringLiteral("Die IGES-Datei ließ sich zur Prüfung nicht wieder lesen");
        return;
    }
    if (count != int(bodies.size())) {
        notes << QStringLiteral("Die IGES-Datei gibt %1 statt %2 Körper wieder")
                     .arg(count)
                     .arg(bodies.size());
        return;
    }
    for (const IgesChange& change : changes) {
        QStringList what;
        if (change.areaPercent != 0.0)
            what << QStringLiteral("Fläche %1").arg(percentText(change.areaPercent));
        if (change.boxShift != 0.0)
            what << QStringLiteral("Umriss um %1 mm verschoben")
                        .arg(QLocale(QLocale::German).toString(change.boxShift, 'g', 3));
        if (change.colourLost)
            what << QStringLiteral("Farbe fehlt");
        notes << QStringLiteral("IGES gibt %1 nicht genau wieder: %2")
                     .arg(bodyLabel(bodies, change.index), what.join(QStringLiteral(", ")));
    }
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
                    QStringList& notes, const ExportControl& control)
{
    const QFileInfo target(path);
    // The writers leave the system's reason in errno; a full disk is worth saying.
    errno = 0;
    QTemporaryDir staging(target.absoluteDir().filePath(QStringLiteral(".qorcad-export-XXXXXX")));
    if (!staging.isValid())
        return writeFailureText(QString::fromUtf8(info.failure), errno);
    const QString staged = staging.filePath(target.fileName());
    const QString failure = info.format == Format::Step
                                ? writeCheckedStep(info, staged, bodies, options, notes, control)
                                : writeFormat(info, staged, bodies, options, notes);
    if (!failure.isEmpty())
        return writeFailureText(failure, errno);
    if (info.format == Format::Iges) {
        control.report(80, QStringLiteral("Datei prüfen"));
        noteIgesChanges(staged, bodies, notes);
    }
    if (cancelRequested(control.cancelled))
        return exportCancelledMessage();
    if (!moveIntoPlace(staging.path(), target.absoluteFilePath()))
        return QString::fromUtf8(info.failure);
    return {};
}

} // namespace

bool exportFile(const QString& path, const std::vector<ExportBody>& bodies,
                const ExportOptions& options, QString* error, QString* note,
                const ProgressCallback& progress, const CancelCheck& cancelled)
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
    keepOnlyKernelFailures();

    std::vector<ExportBody> prepared = bodies;
    QStringList notes;
    QString failure;
    try {
        OCC_CATCH_SIGNALS
        // Meshing, the long part, runs before the staging folder exists, so an
        // export stopped meanwhile leaves nothing behind.
        const ExportControl control{progress, cancelled};
        control.report(0, QStringLiteral("Körper vorbereiten"));
        failure = prepareBodies(*info, prepared, options, notes);
        if (failure.isEmpty() && cancelRequested(cancelled))
            failure = exportCancelledMessage();
        if (failure.isEmpty()) {
            control.report(10, QStringLiteral("Datei schreiben"));
            failure = writeStaged(*info, path, prepared, options, notes, control);
        }
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
