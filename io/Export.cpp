#include "io/Export.h"

#include "expr/Format.h"
#include "io/FileAccess.h"

#include "io/BrepFile.h"
#include "io/CancelIndicator.h"
#include "io/ClosedVolume.h"
#include "io/CountTexts.h"
#include "io/IgesCheck.h"
#include "io/KernelMessage.h"
#include "io/MeshFaces.h"
#include "io/MeshParts.h"
#include "io/MeshRecord.h"
#include "io/MeshSewing.h"
#include "io/MeshStitching.h"
#include "io/PlyWriter.h"
#include "io/ShapeMeshing.h"
#include "io/StagingFolder.h"
#include "io/StepBodyColours.h"
#include "io/StepPlacements.h"
#include "io/StepRoundTrip.h"
#include "io/ThreeMfWriter.h"
#include "io/WrittenMesh.h"
#include "io/XcafBodies.h"
#include "sketch/Plane.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_Copy.hxx>
#include <BRepBuilderAPI_NurbsConvert.hxx>
#include <BRepTools.hxx>
#include <BRepTools_ReShape.hxx>
#include <BRep_Builder.hxx>
#include <BRep_TEdge.hxx>
#include <BRep_TFace.hxx>
#include <BRep_TVertex.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <IGESBasic_Name.hxx>
#include <IGESCAFControl_Writer.hxx>
#include <IGESControl_Controller.hxx>
#include <IGESData_GlobalSection.hxx>
#include <IGESData_IGESEntity.hxx>
#include <IGESData_IGESModel.hxx>
#include <IMeshTools_Parameters.hxx>
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
#include <Standard_OutOfMemory.hxx>
#include <StlAPI_Writer.hxx>
#include <TColStd_IndexedDataMapOfStringString.hxx>
#include <TDF_LabelSequence.hxx>
#include <TDataStd_Name.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_MapOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Face.hxx>
#include <TransferBRep.hxx>
#include <TransferBRep_ShapeMapper.hxx>
#include <Transfer_FinderProcess.hxx>
#include <XCAFDoc_ColorTool.hxx>
#include <XCAFDoc_DocumentTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>
#include <XSControl_WorkSession.hxx>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <new>
#include <numeric>
#include <optional>
#include <set>
#include <thread>

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

void describe(const Handle(XCAFDoc_ColorTool)& colours, const TDF_Label& label,
              const TCollection_ExtendedString& name, const ExportBody& body)
{
    TDataStd_Name::Set(label, name);
    colours->SetColor(label, Quantity_Color(body.r, body.g, body.b, Quantity_TOC_sRGB),
                      XCAFDoc_ColorSurf);
}

// One part for each body. For STEP, bodies that are placements of one part refer
// to it instead (see sharedParts). A body that shows a shape another body already
// shows at the same spot gets a copy of its own: every writer writes a shape once
// however many parts hold it (the body pasted where its original stands would
// vanish into it), and the STEP writer would style it once for each, so that the
// bodies read back in one of their colours.
void fillXcafDocument(const Handle(TDocStd_Document)& document,
                      const std::vector<ExportBody>& bodies, bool forStep)
{
    const Handle(XCAFDoc_ShapeTool) shapes = XCAFDoc_DocumentTool::ShapeTool(document->Main());
    const Handle(XCAFDoc_ColorTool) colours = XCAFDoc_DocumentTool::ColorTool(document->Main());
    const std::vector<int> partOf
        = forStep ? sharedParts(bodies) : std::vector<int>(bodies.size(), -1);
    // Each shared part is a copy of the unplaced shape, for the same reason: the
    // part of the same shape in another colour, or a body that shows the shape
    // where it was made, would share its solids.
    std::vector<TopoDS_Shape> parts;
    TopTools_MapOfShape shown; // with their locations
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        const ExportBody& body = bodies[i];
        const TCollection_ExtendedString name(writtenName(bodies, i).toStdWString().c_str());
        if (partOf[i] >= 0) {
            if (partOf[i] == int(parts.size())) {
                parts.push_back(BRepBuilderAPI_Copy(body.shape.Located(TopLoc_Location())).Shape());
                describe(colours, shapes->AddShape(parts.back(), false, false), name, body);
            }
            // A located shape is added as a reference to its part, a label of its
            // own however many stand at the same spot.
            const TopoDS_Shape& part = parts[std::size_t(partOf[i])];
            TDataStd_Name::Set(shapes->AddShape(part.Moved(body.shape.Location()), false, false),
                               name);
            continue;
        }
        // Mesh writers need the copy's triangles too.
        TopoDS_Shape shape = body.shape;
        if (!shown.Add(shape))
            shape = BRepBuilderAPI_Copy(shape, true, !forStep).Shape();
        // The writers would take name and colour of a located shape from the part
        // it refers to: a compound without a location keeps them on the body itself.
        if (!shape.Location().IsIdentity())
            shape = compoundOf({shape});
        describe(colours, shapes->AddShape(shape, false, true), name, body);
    }
}

// The writer is given the labels options.stepBatch at a time. False when it
// failed or was stopped.
bool transferInBatches(STEPCAFControl_Writer& writer, const Handle(TDocStd_Document)& document,
                       const ExportOptions& options, const Message_ProgressRange& range)
{
    const int size = std::max(1, options.stepBatch);
    TDF_LabelSequence free;
    XCAFDoc_DocumentTool::ShapeTool(document->Main())->GetFreeShapes(free);
    Message_ProgressScope scope(range, nullptr, (free.Length() + size - 1) / size);
    TDF_LabelSequence batch;
    int left = free.Length();
    for (TDF_LabelSequence::Iterator label(free); label.More(); label.Next()) {
        batch.Append(label.Value());
        if (--left > 0 && batch.Length() < size)
            continue;
        if (!writer.Transfer(batch, STEPControl_AsIs, nullptr, scope.Next()) || scope.UserBreak())
            return false;
        batch.Clear();
    }
    return !free.IsEmpty();
}

QString writeStep(const Handle(TDocStd_Document)& document, const QByteArray& file,
                  const ExportOptions& options, const Message_ProgressRange& range)
{
    STEPControl_Controller::Init();
    const char* schema = options.stepSchema == u"AP203"   ? "AP203"
                         : options.stepSchema == u"AP214" ? "AP214IS"
                                                          : "AP242DIS";
    Interface_Static::SetCVal("write.step.schema", schema);
    Interface_Static::SetCVal("write.step.unit", "MM");
    STEPCAFControl_Writer writer;
    if (!transferInBatches(writer, document, options, range))
        return QStringLiteral("STEP-Übertragung fehlgeschlagen");
    namePlacements(writer.ChangeWriter().WS()->Model());
    const StepBodyColours bodyColours(writer, document);
    if (writer.Write(file.constData()) != IFSelect_RetDone || !bodyColours.link(file))
        return QStringLiteral("STEP-Datei konnte nicht geschrieben werden");
    return {};
}

// Names each body's entity in the file, body by body: the writer's own names
// go in the order of a map keyed by the shapes' addresses, so that the name
// entities of several bodies swapped places from run to run. As the writer
// does, the entity's label holds the first eight bytes, right-aligned, and a
// name property the whole name. IGES strings are bytes, which readers decode as
// UTF-8.
void nameIgesBodies(IGESCAFControl_Writer& writer, const Handle(TDocStd_Document)& document,
                    const std::vector<ExportBody>& bodies)
{
    TDF_LabelSequence free;
    XCAFDoc_DocumentTool::ShapeTool(document->Main())->GetFreeShapes(free);
    const Handle(Transfer_FinderProcess) finder = writer.TransferProcess();
    for (int i = 1; i <= free.Length() && i <= int(bodies.size()); ++i) {
        Handle(IGESData_IGESEntity) entity;
        const TopoDS_Shape shape = XCAFDoc_ShapeTool::GetShape(free.Value(i));
        if (!finder->FindTypedTransient(TransferBRep::ShapeMapper(finder, shape),
                                        STANDARD_TYPE(IGESData_IGESEntity), entity))
            continue;
        const QByteArray name = writtenName(bodies, std::size_t(i - 1)).toUtf8();
        entity->SetLabel(new TCollection_HAsciiString(name.left(8).rightJustified(8).constData()));
        Handle(IGESBasic_Name) whole = new IGESBasic_Name;
        whole->Init(1, new TCollection_HAsciiString(name.constData()));
        entity->AddProperty(whole);
        writer.AddEntity(whole);
    }
}

// The writer gives the file's header the largest coordinate of boxes that take the
// faces' triangles where there are any, so a body meshed before (for the view, or by
// a mesh export of the same bodies) gave another file: the header takes the box of
// the geometry alone.
void setLargestCoordinate(IGESCAFControl_Writer& writer, const std::vector<ExportBody>& bodies)
{
    Bnd_Box box;
    for (const ExportBody& body : bodies)
        BRepBndLib::Add(body.shape, box, false);
    IGESData_GlobalSection section = writer.Model()->GlobalSection();
    section.SetMaxCoord();
    if (!box.IsVoid() && !box.IsOpen()) {
        const double unit = section.UnitValue();
        section.MaxMaxCoords(box.CornerMin().XYZ() / unit);
        section.MaxMaxCoords(box.CornerMax().XYZ() / unit);
    }
    writer.Model()->SetGlobalSection(section);
}

// IGES carries a body as trimmed faces one by one, which most programs read
// best, or as a B-rep of shells, which the kernel writes more faithfully where
// its face conversion loses pieces.
enum class IgesForm { Faces, Brep };

QString writeIges(const Handle(TDocStd_Document)& document, const QByteArray& file,
                  const std::vector<ExportBody>& bodies, IgesForm form)
{
    IGESControl_Controller::Init();
    // The writer takes the form from the setting when it is made.
    Interface_Static::SetIVal("write.iges.brep.mode", form == IgesForm::Brep ? 1 : 0);
    IGESCAFControl_Writer writer;
    writer.SetColorMode(true);
    writer.SetNameMode(false);
    if (!writer.Transfer(document))
        return QStringLiteral("IGES-Übertragung fehlgeschlagen");
    nameIgesBodies(writer, document, bodies);
    setLargestCoordinate(writer, bodies);
    writer.ComputeModel();
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
                         const Message_ProgressRange& range = Message_ProgressRange(),
                         IgesForm igesForm = IgesForm::Faces)
{
    XcafDocumentScope scope;
    fillXcafDocument(scope.document(), bodies, info.format == Format::Step);
    switch (info.format) {
    case Format::Step: return writeStep(scope.document(), file, options, range);
    case Format::Iges: return writeIges(scope.document(), file, bodies, igesForm);
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
    return QStringLiteral("„%1“").arg(writtenName(bodies, std::size_t(index)));
}

// Edges of a body's mesh, its nodes merged as a reader merges them, and the
// volume it encloses where that differs from the body's.
struct EdgeDefects {
    int nonManifold = 0; // shared by more than two triangles
    int open = 0; // of one triangle only
    int sameWay = 0; // of two triangles that run through it the same way
    double meshVolume = 0.0;
    double bodyVolume = 0.0;
    bool volumeDiffers = false;
    bool insideOut = false; // a mesh body whose closed mesh encloses a negative volume
    // A mesh body's closed parts turned inside out beside others, and its closed parts.
    std::vector<double> insideOutParts;
    long long closedParts = 0;

    bool edgesPair() const { return nonManifold == 0 && open == 0 && sameWay == 0; }
};

// Every mesh writer says which bodies have edges that more than two triangles
// share, and which closed bodies and mesh bodies have edges that only one has,
// edges where a face turns its inside out, or a mesh that encloses another
// volume (a mesh body: one turned inside out); the file holds them as they are.
void noteEdges(const std::vector<ExportBody>& bodies, const std::vector<EdgeDefects>& defects,
               QStringList& notes)
{
    for (std::size_t i = 0; i < defects.size(); ++i) {
        const QString body = bodyLabel(bodies, int(i));
        if (defects[i].nonManifold > 0)
            notes << nonManifoldEdgesText(body, defects[i].nonManifold);
        if (defects[i].open > 0)
            notes << openEdgesText(body, defects[i].open);
        if (defects[i].sameWay > 0)
            notes << sameWayEdgesText(body, defects[i].sameWay);
        if (defects[i].volumeDiffers)
            notes << enclosedVolumeText(body, defects[i].meshVolume, defects[i].bodyVolume);
        if (defects[i].insideOut)
            notes << insideOutText(body, defects[i].meshVolume);
        else if (!defects[i].insideOutParts.empty())
            notes << insideOutPartsText(body, defects[i].insideOutParts, defects[i].closedParts);
    }
}

// The volume of the body's solids, each counted whole however it is placed; measured
// once while the body keeps the mesh an export left on it.
double solidsVolume(const TopoDS_Shape& shape)
{
    return volumeMeasuredOnce(shape, [](const TopoDS_Shape& unplaced) {
        double volume = 0.0;
        for (TopExp_Explorer solid(unplaced, TopAbs_SOLID); solid.More(); solid.Next())
            volume += closedVolume(solid.Current());
        return volume;
    });
}

// The edges of a mesh that do not pair, and the volume it encloses where they all do
// (else it depends on the origin).
EdgeDefects edgeDefects(const IndexedMesh& mesh)
{
    EdgeDefects defects;
    defects.nonManifold = nonManifoldEdgeCount(mesh);
    defects.open = openEdgeCount(mesh);
    defects.sameWay = sameWayEdgeCount(mesh);
    if (defects.edgesPair())
        defects.meshVolume = sixfoldVolume(mesh) / 6.0;
    return defects;
}

// The defects of a closed body's mesh. The volume is compared only where every
// edge is run through once each way (else it depends on the origin, and the
// edges are named already); a mesh whose nodes lie on the surface and whose
// triangles stay within the deflection of it encloses the body's volume within
// its area times the deflection.
EdgeDefects closedMeshDefects(const TopoDS_Shape& shape, const IndexedMesh& mesh, double deflection)
{
    EdgeDefects defects = edgeDefects(mesh);
    if (!defects.edgesPair())
        return defects;
    defects.bodyVolume = solidsVolume(shape);
    const double bound
        = meshArea(mesh) * deflection + 1e-6 * std::max(1.0, std::abs(defects.bodyVolume));
    defects.volumeDiffers = !(std::abs(defects.meshVolume - defects.bodyVolume) <= bound);
    return defects;
}

// The defects of a mesh body's triangles as the file they came from holds them:
// it has no model to close or not, so every hole and every turned face is news,
// and each closed part encloses a positive volume unless it is inside out. A mesh
// that is one part inside out is named by the volume it encloses.
EdgeDefects meshBodyDefects(const IndexedMesh& mesh)
{
    EdgeDefects defects = edgeDefects(mesh);
    const MeshParts parts = meshParts(mesh);
    defects.insideOut = defects.edgesPair() && parts.count == 1 && defects.meshVolume < 0.0;
    if (!defects.insideOut)
        defects.insideOutParts = parts.insideOut();
    defects.closedParts = (long long)(parts.closedVolumes.size());
    return defects;
}

// The boundary-representation formats carry a mesh body sewn into faces as its
// triangles lie: its holes, turned faces and inside-out parts are named as in
// the mesh formats.
void noteMeshBodies(const std::vector<ExportBody>& bodies, QStringList& notes)
{
    std::vector<EdgeDefects> defects(bodies.size());
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        if (isMeshOnly(bodies[i].shape))
            defects[i] = meshBodyDefects(mergedMesh(bodies[i].shape));
    }
    noteEdges(bodies, defects, notes);
}

bool write3mfFile(const QString& path, const std::vector<ExportBody>& bodies)
{
    const QByteArray package = write3mf(bodies);
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
                    const std::vector<ExportBody>& bodies, const ExportOptions& options)
{
    std::vector<TopoDS_Shape> shapes;
    for (const ExportBody& body : bodies)
        shapes.push_back(body.shape);
    const TopoDS_Compound compound = compoundOf(shapes);

    const QByteArray file = QFile::encodeName(path);
    const QString failure = QString::fromUtf8(info.failure);
    switch (info.format) {
    case Format::Brep: return writeBrepFile(compound, path) ? QString() : failure;
    case Format::ThreeMf: return write3mfFile(path, bodies) ? QString() : failure;
    // The mesh formats get each body as the mesh it is written as (see
    // writtenMesh): placed, wound and welded alike for every writer.
    case Format::Stl: {
        StlAPI_Writer writer;
        writer.ASCIIMode() = !options.binary;
        return writer.Write(compound, file.constData()) ? QString() : failure;
    }
    case Format::Ply: return writePly(path, bodies, options.author) ? QString() : failure;
    default: return writeThroughXcaf(info, file, bodies, options);
    }
}

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

// Where the export was when the kernel failed: the step and the body (-1: the
// file as a whole), so that the user learns what failed in one German line.
struct ExportPlace {
    QString step;
    int body = -1;
};

QString failedAt(const std::vector<ExportBody>& bodies, const ExportPlace& place)
{
    if (place.body >= 0 && place.body < int(bodies.size()))
        return QStringLiteral("Export fehlgeschlagen: Fehler an %1 im Schritt „%2“")
            .arg(bodyLabel(bodies, place.body), place.step);
    return QStringLiteral("Export fehlgeschlagen: Fehler im Schritt „%1“").arg(place.step);
}

// An export that ran out of memory, with where.
QString outOfMemoryAt(const std::vector<ExportBody>& bodies, const ExportPlace& place)
{
    if (place.body >= 0 && place.body < int(bodies.size()))
        return QStringLiteral("Zu wenig Arbeitsspeicher: Export an %1 im Schritt „%2“ abgebrochen")
            .arg(bodyLabel(bodies, place.body), place.step);
    return QStringLiteral("Zu wenig Arbeitsspeicher: Export im Schritt „%1“ abgebrochen")
        .arg(place.step);
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
// left without a triangle that has area.
struct MeshCount {
    long long triangles = 0;
    long long largestFace = 0;
    int emptyFaces = 0;
};

MeshCount countMesh(const TopoDS_Shape& shape)
{
    MeshCount count;
    for (TopExp_Explorer explorer(shape, TopAbs_FACE); explorer.More(); explorer.Next()) {
        const TopoDS_Face& face = TopoDS::Face(explorer.Current());
        // A face whose triangles all collapse is as empty as one without any.
        if (!hasTriangleWithArea(face)) {
            ++count.emptyFaces;
            continue;
        }
        TopLoc_Location location;
        const int triangles = BRep_Tool::Triangulation(face, location)->NbTriangles();
        count.triangles += triangles;
        count.largestFace = std::max<long long>(count.largestFace, triangles);
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

// The triangles the file holds: in all, in its largest face, and the fewest the bodies
// allow. They are counted in the copies written, after the cleanup that drops
// triangles without area. Every loop of a face keeps three points however coarse the
// mesh, so that a face of w loops has at least 5w - 4 triangles; a mesh body keeps its
// own.
struct WrittenTriangles {
    long long total = 0;
    long long largestFace = 0;
    long long fewestOfLoops = 0;
    long long fewestInAFace = 0;
    long long ofMeshBodies = 0;
};

void addWrittenTriangles(const TopoDS_Shape& model, const TopoDS_Shape& written,
                         WrittenTriangles& count)
{
    const bool meshOnly = isMeshOnly(model);
    for (TopExp_Explorer face(written, TopAbs_FACE); face.More(); face.Next()) {
        TopLoc_Location location;
        const Handle(Poly_Triangulation) mesh
            = BRep_Tool::Triangulation(TopoDS::Face(face.Current()), location);
        const long long triangles = mesh.IsNull() ? 0 : mesh->NbTriangles();
        count.total += triangles;
        if (meshOnly)
            count.ofMeshBodies += triangles;
        else
            count.largestFace = std::max(count.largestFace, triangles);
    }
    if (meshOnly)
        return;
    for (TopExp_Explorer face(model, TopAbs_FACE); face.More(); face.Next()) {
        TopLoc_Location location;
        if (BRep_Tool::Triangulation(TopoDS::Face(face.Current()), location).IsNull())
            continue;
        long long loops = 0;
        for (TopExp_Explorer wire(face.Current(), TopAbs_WIRE); wire.More(); wire.Next())
            ++loops;
        const long long fewest = std::max(1LL, 5 * loops - 4);
        count.fewestOfLoops += fewest;
        count.fewestInAFace = std::max(count.fewestInAFace, fewest);
    }
}

// Why a bound cannot hold, when the fewest triangles the bodies allow exceed it.
QString whyBoundFails(long long fewest, long long bound, long long ofLoops, long long ofMeshBodies)
{
    if (fewest <= bound)
        return {};
    QStringList causes;
    if (ofLoops > 0)
        causes << QStringLiteral("jede Berandung einer Fläche, auch jedes Loch, behält "
                                 "mindestens drei Punkte");
    if (ofMeshBodies > 0)
        causes << QStringLiteral("Netzkörper behalten ihre Dreiecke");
    return QStringLiteral(", denn ") + causes.join(QStringLiteral(" und "));
}

// A length to three significant digits as German texts write numbers: "3,38",
// "0,05", "1.250".
QString threeDigits(double length)
{
    if (!(std::abs(length) > 0.0))
        return germanNumber(0.0, 0);
    const int decimals = std::clamp(2 - int(std::floor(std::log10(std::abs(length)))), 0, 9);
    QString text = germanNumber(length, decimals);
    if (decimals > 0) {
        while (text.endsWith(u'0'))
            text.chop(1);
        if (text.endsWith(u','))
            text.chop(1);
    }
    return text;
}

// Names the deflection reached and the bound that acted (the cap per face, the file's
// triangle budget, or both where they held back different bodies), judged by the
// triangles the file holds: a bound the file exceeds all the same is said to be missed,
// with its count, and why where the bodies allow no fewer.
QString boundsNote(const std::vector<MeshedBody>& meshed, const WrittenTriangles& written,
                   const ExportOptions& options)
{
    const double wanted = options.linearDeflection;
    double used = wanted;
    bool faceCap = false;
    bool budget = false;
    for (const MeshedBody& body : meshed) {
        used = std::max(used, body.deflection);
        if (body.deflection <= wanted)
            continue;
        faceCap = faceCap || body.limit == MeshLimit::FaceCap;
        budget = budget || body.limit == MeshLimit::Budget;
    }
    const bool coarsened = used > wanted;
    const long long bound = std::max(1LL, options.triangleBudget);
    // After a coarsening the file holds more all the same.
    const QString still = coarsened ? QStringLiteral(" dennoch") : QString();
    QStringList held;
    QStringList missed;
    if (coarsened && faceCap) {
        if (written.largestFace <= faceTriangleCap)
            held << QStringLiteral("keine Fläche mehr als %1 Dreiecke erhält")
                        .arg(germanCount(std::uint64_t(faceTriangleCap)));
        else
            missed << QStringLiteral("die größte Fläche erhält%1 %2 statt höchstens %3%4")
                          .arg(still,
                               countText(written.largestFace, QStringLiteral("Dreieck"),
                                         QStringLiteral("Dreiecke")),
                               germanCount(std::uint64_t(faceTriangleCap)),
                               whyBoundFails(written.fewestInAFace, faceTriangleCap,
                                             written.fewestInAFace, 0));
    }
    if (written.total > bound)
        missed << QStringLiteral("die Datei enthält%1 %2 statt höchstens etwa %3%4")
                      .arg(still,
                           countText(written.total, QStringLiteral("Dreieck"),
                                     QStringLiteral("Dreiecke")),
                           germanCount(std::uint64_t(bound)),
                           whyBoundFails(written.fewestOfLoops + written.ofMeshBodies, bound,
                                         written.fewestOfLoops, written.ofMeshBodies));
    else if (coarsened && (budget || !faceCap))
        held << QStringLiteral("die Datei nicht mehr als etwa %1 enthält")
                    .arg(countText(bound, QStringLiteral("Dreieck"), QStringLiteral("Dreiecke")));
    if (!coarsened) {
        if (missed.isEmpty())
            return {};
        QString text = missed.join(QStringLiteral("; "));
        text[0] = text[0].toUpper();
        return text;
    }
    QString text = QStringLiteral("Vernetzung auf %1 mm vergröbert").arg(threeDigits(used));
    if (!held.isEmpty())
        text += QStringLiteral(", damit ") + held.join(QStringLiteral(" und "));
    for (const QString& clause : missed)
        text += QStringLiteral("; ") + clause;
    return text;
}

// A face whose loops cross each other or its rim has no domain the triangles could
// keep: they run over some of its holes or beyond its border. The body is named.
void noteUncoveredFaces(const std::vector<ExportBody>& bodies,
                        const std::vector<MeshedBody>& meshed, QStringList& notes)
{
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        if (const int faces = meshed[i].uncoveredFaces; faces > 0)
            notes << QStringLiteral(
                         "%1 von %2: die Dreiecke decken die Fläche nicht genau ab "
                         "(Ränder, die sich kreuzen); Löcher darin können zugedeckt sein")
                         .arg(countText(faces, QStringLiteral("Fläche"), QStringLiteral("Flächen")),
                              bodyLabel(bodies, int(i)));
    }
}

// Placements of one part share its faces. Meshing the part again at the deflection the
// last meshing left it at changes nothing, yet costs as much as the first time and adds
// a record to every edge each time: bodies in a row that show one shape are meshed once.
class MeshOnce {
public:
    MeshCount mesh(const TopoDS_Shape& shape, double deflection, double angle,
                   CancelIndicator& stop)
    {
        if (shape.TShape() == last_ && deflection == deflection_ && angle == angle_)
            return count_;
        meshShape(shape, deflection, angle, stop.Start());
        last_ = shape.TShape();
        deflection_ = deflection;
        angle_ = angle;
        count_ = countMesh(shape);
        return count_;
    }

private:
    Handle(TopoDS_TShape) last_;
    double deflection_ = 0.0;
    double angle_ = 0.0;
    MeshCount count_;
};

// A copy of the shape healed, optionally without marking edges as collapsed: a
// face whose edges' curves on it lie a turn apart gets its circles marked as
// points by that fix and then meshes into triangles without area.
TopoDS_Shape healedCopy(const TopoDS_Shape& shape, bool fixCollapsedEdges, CancelIndicator& stop)
{
    ShapeFix_Shape fix(BRepBuilderAPI_Copy(shape, true, false).Shape());
    fix.FixWireTool()->FixDegeneratedMode() = fixCollapsedEdges ? -1 : 0;
    fix.Perform(stop.Start());
    return fix.Shape();
}

// The shape with every shell (or loose face) that holds a face without a
// triangle that has area replaced by a copy whose surfaces and curves are all
// B-splines: the mesher takes another path on them (a cone's tip, a revolved
// face's seam), and the other shells keep their mesh. A null shape when no
// piece needs it.
TopoDS_Shape withBsplinePieces(const TopoDS_Shape& shape)
{
    BRepTools_ReShape reshape;
    bool replaced = false;
    for (const TopoDS_Shape& piece : shellsAndLooseFaces(shape)) {
        if (countMesh(piece).emptyFaces == 0)
            continue;
        BRepBuilderAPI_NurbsConvert convert(piece, true);
        if (!convert.IsDone())
            continue;
        reshape.Replace(piece, convert.Shape());
        replaced = true;
    }
    return replaced ? reshape.Apply(shape) : TopoDS_Shape();
}

// How well a mesh covers its body: faces left without area, and edges of one
// triangle only (with the body's nodes merged by position).
struct Coverage {
    int emptyFaces = 0;
    int openEdges = 0;

    bool complete() const { return emptyFaces == 0 && openEdges == 0; }
    // Fewer holes of one kind and no more of the other.
    bool betterThan(const Coverage& other) const
    {
        return emptyFaces <= other.emptyFaces && openEdges <= other.openEdges
               && (emptyFaces < other.emptyFaces || openEdges < other.openEdges);
    }
};

Coverage coverageOf(const TopoDS_Shape& shape)
{
    return {countMesh(shape).emptyFaces, openEdgeCount(mergedMesh(shape))};
}

// Meshes a body whose faces the mesher left empty or collapsed another way, each
// time whole shells, so that the borders of its faces stay matched: healed
// copies, B-spline copies of the shells that need it, and the best of them at a
// finer deflection. Keeps the first way that covers every face without a hole,
// else the best one. The caller's shape is never changed by the repairs.
MeshCount meshOtherwise(TopoDS_Shape& shape, double deflection, double angle, MeshCount count,
                        CancelIndicator& stop)
{
    const TopoDS_Shape given = shape;
    Coverage best = coverageOf(shape);
    const std::function<TopoDS_Shape()> ways[] = {
        [&] { return healedCopy(given, true, stop); },
        [&] { return healedCopy(given, false, stop); },
        [&] { return withBsplinePieces(given); },
    };
    // A way the kernel refuses (a face without bounds has no B-spline copy) is
    // skipped.
    const auto tryWay = [&](const std::function<TopoDS_Shape()>& way, double at) {
        try {
            OCC_CATCH_SIGNALS
            const TopoDS_Shape candidate = way();
            if (candidate.IsNull() || stop.UserBreak())
                return;
            meshShape(candidate, at, angle, stop.Start());
            if (const Coverage coverage = coverageOf(candidate); coverage.betterThan(best)) {
                best = coverage;
                shape = candidate;
                count = countMesh(candidate);
            }
        } catch (const Standard_Failure&) {
        }
    };
    for (const auto& way : ways) {
        if (best.complete())
            return count;
        tryWay(way, deflection);
    }
    // A finer deflection gives the mesher another border to start from; a
    // coarser one would make the file coarser than asked without saying so. The
    // largest face stays within the cap on its triangles.
    const bool finerFits
        = double(count.largestFace) * std::pow(2.0, growthExponent) <= double(faceTriangleCap);
    if (!best.complete() && finerFits) {
        const TopoDS_Shape chosen = shape;
        tryWay([&] { return BRepBuilderAPI_Copy(chosen, true, false).Shape(); }, deflection / 2);
    }
    return count;
}

// Whether every face carries a triangulation made at least as finely as asked, with
// its edges' polygons on it. A triangulation an export's cleanup put in place has
// none: the mesher would keep it, with its stitches and welds, as if just made.
bool meshedAsFinely(const TopoDS_Shape& shape, double asked)
{
    bool any = false;
    for (TopExp_Explorer explorer(shape, TopAbs_FACE); explorer.More(); explorer.Next()) {
        TopLoc_Location location;
        const Handle(Poly_Triangulation) mesh
            = BRep_Tool::Triangulation(TopoDS::Face(explorer.Current()), location);
        if (mesh.IsNull() || mesh->Deflection() > asked)
            return false;
        for (TopExp_Explorer edge(explorer.Current(), TopAbs_EDGE); edge.More(); edge.Next()) {
            if (!BRep_Tool::Degenerated(TopoDS::Edge(edge.Current()))
                && BRep_Tool::PolygonOnTriangulation(TopoDS::Edge(edge.Current()), mesh, location)
                       .IsNull())
                return false;
        }
        any = true;
    }
    return any;
}

// Takes the triangulation off a body whose mesh meshing it now would not keep as it
// is: one an earlier export left, coarsened perhaps or finer than asked now, which
// would make the file depend on what ran before, and one made more coarsely than
// asked. A body someone else meshed at least as finely as asked keeps its
// triangulation, as the mesher would keep it.
void dropMeshesNotToKeep(const std::vector<ExportBody>& bodies, double asked)
{
    for (const ExportBody& body : bodies) {
        if (!body.shape.IsNull() && !isMeshOnly(body.shape)
            && (carriesMeshRecord(body.shape) || !meshedAsFinely(body.shape, asked)))
            BRepTools::Clean(body.shape);
    }
}

// Tessellates the bodies at the asked deflection, or coarser where that would
// exceed the triangle budget or the per-face cap. Meshing starts coarse, relative to
// each body's size, and refines in steps whose result is predicted from the mesh
// before, so that neither the file nor the mesher's memory grows beyond the
// bounds: a terrain-like face is coarsened before it is meshed finely, not after.
// Returns the failure; records for each body the deflection reached, the bound that
// held it back, whether a repaired copy was meshed in its place, and faces its
// triangles do not cover once.
QString tessellate(std::vector<ExportBody>& bodies, const ExportOptions& options,
                   CancelIndicator& stop, ExportPlace& place, MeshRecord& record)
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
    MeshOnce mesher;
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        place = {QStringLiteral("Vernetzen"), int(i)};
        counts[i] = isMeshOnly(bodies[i].shape) ? countMesh(bodies[i].shape)
                                                : mesher.mesh(bodies[i].shape, deflections[i],
                                                              options.angularDeflection, stop);
        if (stop.UserBreak())
            return exportCancelledMessage();
    }

    // Each pass ends the steps of bodies that would hardly get finer. What held a
    // body back last is what the note names.
    std::vector<MeshLimit> limits(bodies.size(), MeshLimit::None);
    for (int pass = 0; pass < 16; ++pass) {
        std::vector<double> next;
        std::vector<MeshLimit> held(bodies.size(), MeshLimit::None);
        for (std::size_t i = 0; i < bodies.size(); ++i) {
            bool faceCapped = false;
            next.push_back(nextDeflection(deflections[i], wanted, counts[i], faceCapped));
            if (faceCapped)
                held[i] = MeshLimit::FaceCap;
        }
        const std::vector<double> unbounded = next;
        next = withinBudget(counts, deflections, next, budget);
        bool refined = false;
        for (std::size_t i = 0; i < bodies.size(); ++i) {
            if (next[i] > unbounded[i])
                held[i] = MeshLimit::Budget;
            limits[i] = held[i];
            if (next[i] > deflections[i] / 1.2 && next[i] > wanted)
                continue;
            if (next[i] >= deflections[i])
                continue;
            deflections[i] = next[i];
            place = {QStringLiteral("Vernetzen"), int(i)};
            counts[i]
                = mesher.mesh(bodies[i].shape, deflections[i], options.angularDeflection, stop);
            if (stop.UserBreak())
                return exportCancelledMessage();
            refined = true;
        }
        if (!refined)
            break;
    }

    record.bodies.resize(bodies.size());
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        place = {QStringLiteral("Vernetzen"), int(i)};
        const TopoDS_Shape given = bodies[i].shape;
        if (counts[i].emptyFaces > 0 && !isMeshOnly(given))
            counts[i] = meshOtherwise(bodies[i].shape, deflections[i], options.angularDeflection,
                                      counts[i], stop);
        if (stop.UserBreak())
            return exportCancelledMessage();
        MeshedBody& meshed = record.bodies[i];
        meshed.deflection = deflections[i];
        meshed.limit = limits[i];
        meshed.repaired = !bodies[i].shape.IsSame(given);
        if (!isMeshOnly(given))
            meshed.uncoveredFaces = uncoveredFaces(bodies[i].shape);
    }

    long long triangles = 0;
    for (const MeshCount& count : counts)
        triangles += count.triangles;
    if (triangles == 0)
        return QStringLiteral("Die Körper haben keine Flächen, die sich vernetzen lassen; "
                              "die Datei bliebe leer");
    return {};
}

// STEP and IGES cannot carry a bare triangulation: mesh bodies become planar
// triangle faces.
QString sewMeshBodies(std::vector<ExportBody>& bodies, ExportPlace& place)
{
    for (ExportBody& body : bodies) {
        if (!isMeshOnly(body.shape))
            continue;
        place = {QStringLiteral("Netz zu Flächen vernähen"), int(&body - bodies.data())};
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

// Meshes the bodies anew and cleans the mesh up; returns the failure.
QString meshAfresh(std::vector<ExportBody>& bodies, const ExportOptions& options,
                   CancelIndicator& stop, ExportPlace& place, MeshRecord& record)
{
    dropMeshesNotToKeep(bodies, options.linearDeflection);
    if (QString failure = tessellate(bodies, options, stop, place, record); !failure.isEmpty())
        return failure;
    // One rule for every mesh format: no triangle without area, the seams between
    // faces closed where the mesher left them apart, the nodes the check takes as
    // one written as one, and edges shared by more or fewer than two triangles
    // named. Readers of every format join the corners of solids that touch, so the
    // edges are counted with all of the body's nodes merged where they meet. A mesh
    // body's triangles are the body itself, not a mesh made for the file: they are
    // left as they are and cleaned in the copy that is written.
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        if (isMeshOnly(bodies[i].shape))
            continue;
        place = {QStringLiteral("Netz bereinigen"), int(i)};
        dropZeroAreaTriangles(bodies[i].shape);
        stitchFaceSeams(bodies[i].shape, record.bodies[i].deflection);
        weldGridVertices(bodies[i].shape);
    }
    // Once every body is welded (bodies may show one triangulation), the filter takes
    // out what the welds collapsed, which empties a face whose every triangle collapsed.
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        if (isMeshOnly(bodies[i].shape))
            continue;
        place = {QStringLiteral("Netz bereinigen"), int(i)};
        dropZeroAreaTriangles(bodies[i].shape);
    }
    return {};
}

// The mesh the bodies carry from an export that asked for the same, which the cleanup
// has been through already, or a new one; the record of either. Returns the failure.
QString meshOnce(std::vector<ExportBody>& bodies, const ExportOptions& options,
                 CancelIndicator& stop, ExportPlace& place, Handle(MeshRecord)& record)
{
    std::vector<TopoDS_Shape> given;
    for (const ExportBody& body : bodies)
        given.push_back(body.shape);
    record = reusableRecord(given, options.linearDeflection, options.angularDeflection,
                            options.triangleBudget);
    if (record.IsNull()) {
        // A body's volume stays what it was while its shape does.
        const std::vector<double> volumes = recordedVolumes(given);
        record = new MeshRecord();
        record->deflection = options.linearDeflection;
        record->angle = options.angularDeflection;
        record->triangleBudget = options.triangleBudget;
        if (QString failure = meshAfresh(bodies, options, stop, place, *record); !failure.isEmpty())
            return failure;
        stampMeshes(given, record);
        for (std::size_t i = 0; i < bodies.size(); ++i)
            record->bodies[i].volume = volumes[i];
    }
    return {};
}

// Meshes the bodies and takes out what has no area; returns the failure.
QString meshBodies(std::vector<ExportBody>& bodies, const ExportOptions& options,
                   QStringList& notes, CancelIndicator& stop, ExportPlace& place)
{
    Handle(MeshRecord) record;
    if (QString failure = meshOnce(bodies, options, stop, place, record); !failure.isEmpty())
        return failure;
    // A face left out is named only when a user would miss it: one smaller than a
    // square of the asked deflection leaves a gap no larger than the deviation the
    // mesh is allowed anyway. Each body goes to the writer as the mesh it is written
    // as, and its edges are paired at the coordinates written.
    const double smallestMissed = options.linearDeflection * options.linearDeflection;
    std::vector<EdgeDefects> defects;
    WrittenTriangles written;
    int leftOut = 0;
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        place = {QStringLiteral("Netz bereinigen"), int(i)};
        const TopoDS_Shape model = bodies[i].shape;
        leftOut += facesLeftOut(model, smallestMissed);
        bodies[i].shape = writtenMesh(model);
        dropZeroAreaTriangles(bodies[i].shape);
        addWrittenTriangles(model, bodies[i].shape, written);
        const IndexedMesh mesh = meshAsWritten(bodies[i].shape);
        // Edges of one triangle are news only where the model is closed: an open
        // surface has its rim in the file as in the model.
        if (isMeshOnly(model))
            defects.push_back(meshBodyDefects(mesh));
        else if (closedInModel(model))
            defects.push_back(closedMeshDefects(model, mesh, record->bodies[i].deflection));
        else
            defects.push_back(EdgeDefects{.nonManifold = nonManifoldEdgeCount(mesh)});
    }
    // Every note tells of the triangles the file holds.
    if (const QString bounds = boundsNote(record->bodies, written, options); !bounds.isEmpty())
        notes << bounds;
    noteUncoveredFaces(bodies, record->bodies, notes);
    if (leftOut > 0)
        notes << facesLeftOutText(leftOut);
    noteEdges(bodies, defects, notes);
    return {};
}

// Meshing runs on a thread of its own: this one meanwhile keeps the caller's
// progress dialog answered and hands a cancellation to the mesher, which asks
// for it between faces and within a large face, so that it ends within moments.
QString meshBodiesCancellable(std::vector<ExportBody>& bodies, const ExportOptions& options,
                              QStringList& notes, const ExportControl& control, ExportPlace& place)
{
    std::atomic<bool> stopped{false};
    std::atomic<bool> done{false};
    const Handle(CancelIndicator) stop = new CancelIndicator([&stopped] { return stopped.load(); });
    QString failure;
    std::exception_ptr thrown;
    std::thread mesher([&] {
        try {
            OCC_CATCH_SIGNALS
            failure = meshBodies(bodies, options, notes, *stop, place);
        } catch (...) {
            thrown = std::current_exception();
        }
        done = true;
    });
    // A failure of the caller's own callbacks stops the mesher before it goes on.
    std::exception_ptr callerFailed;
    while (!done && !callerFailed) {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        try {
            control.report(5, QString());
            if (cancelRequested(control.cancelled))
                stopped = true;
        } catch (...) {
            callerFailed = std::current_exception();
            stopped = true;
        }
    }
    mesher.join();
    if (thrown)
        std::rethrow_exception(thrown);
    if (callerFailed)
        std::rethrow_exception(callerFailed);
    return stopped ? exportCancelledMessage() : failure;
}

// Prepares the bodies for the format's writer; returns the failure.
QString prepareBodies(const FormatInfo& info, std::vector<ExportBody>& bodies,
                      const ExportOptions& options, QStringList& notes,
                      const ExportControl& control, ExportPlace& place)
{
    if (const QString damaged = damagedBody(bodies); !damaged.isEmpty())
        return damaged;
    if (info.meshed)
        return meshBodiesCancellable(bodies, options, notes, control, place);
    place = {QStringLiteral("Netzkörper prüfen"), -1};
    noteMeshBodies(bodies, notes);
    if (info.format == Format::Step || info.format == Format::Iges) {
        if (const QString failure = sewMeshBodies(bodies, place); !failure.isEmpty())
            return failure;
    }
    if (info.format == Format::Iges) {
        for (ExportBody& body : bodies) {
            place = {QStringLiteral("Flächen für IGES vorbereiten"), int(&body - bodies.data())};
            body.shape = igesShape(body.shape);
        }
    }
    return {};
}

// Writes the bodies as STEP to file and reads the listed ones back whole from the
// file as written, by a reader of its own. Returns the failure; volumes receives
// the checked bodies.
QString writeAndCheckStep(const FormatInfo& info, const QByteArray& file,
                          const std::vector<ExportBody>& bodies, const ExportOptions& options,
                          const std::vector<int>& indices, const ExportControl& control,
                          std::vector<StepVolume>& volumes)
{
    std::vector<TopoDS_Shape> shapes;
    for (const ExportBody& body : bodies)
        shapes.push_back(body.shape);
    const Handle(CancelIndicator) indicator = new CancelIndicator(
        control.cancelled, control.stage(10, 70, QStringLiteral("STEP-Daten übertragen")));
    Message_ProgressScope scope(indicator->Start(), nullptr, 1);
    QString failure = writeThroughXcaf(info, file, bodies, options, scope.Next());
    if (cancelRequested(control.cancelled))
        return exportCancelledMessage();
    if (!failure.isEmpty())
        return failure;
    StepCheck check(std::move(shapes), indices);
    control.report(70, QStringLiteral("Datei lesen"));
    check.startOnFile(file);
    volumes
        = check.results(control.stage(80, 100, QStringLiteral("Körper prüfen")), control.cancelled);
    if (cancelRequested(control.cancelled))
        return exportCancelledMessage();
    return {};
}

QString percentText(double percent)
{
    const QString digits = germanNumber(std::abs(percent), 2);
    return (percent < 0.0 ? QStringLiteral("−") : QStringLiteral("+")) + digits
           + QStringLiteral(" %");
}

// A body's closed solids and their volume.
struct Measure {
    double volume = 0.0;
    int solids = 0;
};

Measure measureOf(const TopoDS_Shape& shape)
{
    return {closedVolume(shape), closedSolidCount(shape)};
}

// How a body came back from the file, against the body as it was before any
// repair: closed solids lost weigh more than any volume.
struct Deviation {
    int solidsLost = 0;
    int solids = 0; // of the body as it was
    double percent = 0.0;

    bool changed() const { return solidsLost > 0 || std::abs(percent) > 0.01; }
    bool betterThan(const Deviation& other) const
    {
        if (solidsLost != other.solidsLost)
            return solidsLost < other.solidsLost;
        return std::abs(percent) < std::abs(other.percent) && other.changed();
    }
};

// The body's measure as it was, computed when first asked: integrating the
// volume of every checked body would cost more than the check.
class OriginalMeasures {
public:
    explicit OriginalMeasures(const std::vector<ExportBody>& bodies)
        : bodies_(bodies)
    {
    }

    const Measure& of(int index)
    {
        auto found = measures_.find(index);
        if (found == measures_.end())
            found = measures_.emplace(index, measureOf(bodies_[std::size_t(index)].shape)).first;
        return found->second;
    }

private:
    const std::vector<ExportBody>& bodies_;
    std::map<int, Measure> measures_;
};

// A body whose faces all came back as written comes back as the shape written,
// which for a repaired body need not be the body as it was.
Deviation deviationOf(const StepVolume& volume, const TopoDS_Shape& written, bool repaired,
                      OriginalMeasures& originals)
{
    const bool measured = volume.model != 0.0 || volume.file != 0.0 || volume.modelSolids != 0
                          || volume.fileSolids != 0;
    if (!measured && !repaired)
        return {};
    const Measure& original = originals.of(volume.index);
    const Measure back = measured ? Measure{volume.file, volume.fileSolids} : measureOf(written);
    Deviation deviation;
    deviation.solids = original.solids;
    deviation.solidsLost = std::max(0, original.solids - back.solids);
    if (original.volume > 0.0)
        deviation.percent = 100.0 * (back.volume - original.volume) / original.volume;
    return deviation;
}

std::vector<int> keysOf(const std::map<int, Deviation>& deviations, bool changedOnly)
{
    std::vector<int> keys;
    for (const auto& [index, deviation] : deviations) {
        if (!changedOnly || deviation.changed())
            keys.push_back(index);
    }
    return keys;
}

// Puts the writer's curves on surfaces as asked for one write and back after it.
struct SurfaceCurvesFor {
    explicit SurfaceCurvesFor(bool without)
        : without_(without)
    {
        if (without_)
            setStepSurfaceCurves(false);
    }
    ~SurfaceCurvesFor()
    {
        if (without_)
            setStepSurfaceCurves(true);
    }
    SurfaceCurvesFor(const SurfaceCurvesFor&) = delete;
    SurfaceCurvesFor& operator=(const SurfaceCurvesFor&) = delete;

private:
    bool without_;
};

// The listed bodies written to a file of their own beside the export and read
// back whole from it; the answers carry the bodies' indices in bodies.
std::vector<StepVolume> probeStep(const FormatInfo& info, const QString& staged,
                                  const std::vector<ExportBody>& bodies,
                                  const std::vector<int>& which, const ExportOptions& options,
                                  bool withoutCurves, const ExportControl& control,
                                  QString& failure)
{
    std::vector<ExportBody> subset;
    for (const int index : which)
        subset.push_back(bodies[std::size_t(index)]);
    std::vector<int> local(which.size());
    std::iota(local.begin(), local.end(), 0);
    const QFileInfo target(staged);
    QDir(target.absolutePath()).mkdir(QStringLiteral("probe"));
    const QString probe
        = target.absoluteDir().filePath(QStringLiteral("probe/") + target.fileName());
    std::vector<StepVolume> volumes;
    try {
        // A repaired shape the writer cannot take ends this attempt, not the export.
        OCC_CATCH_SIGNALS
        const SurfaceCurvesFor curves(withoutCurves);
        failure = writeAndCheckStep(info, QFile::encodeName(probe), subset, options, local, control,
                                    volumes);
    } catch (const Standard_Failure&) {
        failure = QString::fromUtf8(info.failure);
    }
    QFile::remove(probe);
    for (StepVolume& volume : volumes)
        volume.index = which[std::size_t(volume.index)];
    // A repair that could not be checked is no repair.
    std::erase_if(volumes, [](const StepVolume& volume) { return volume.unchecked; });
    return volumes;
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

// What the writing of a STEP file settled on: the bodies as written, whether
// without curves on surfaces, and how each checked body came back.
struct StepAttempt {
    std::vector<ExportBody> bodies;
    std::set<int> repaired;
    bool withoutCurves = false;
    std::map<int, Deviation> deviations; // the checked bodies that came back otherwise
};

// Writes the attempt to path and reads it back from there. Returns the failure;
// `deviations` receives the checked bodies that came back otherwise.
QString writeAttempt(const FormatInfo& info, const QString& path, const StepAttempt& attempt,
                     const std::vector<int>& checked, const ExportOptions& options,
                     const ExportControl& control, OriginalMeasures& originals,
                     std::map<int, Deviation>& deviations, QStringList& notes)
{
    std::vector<StepVolume> volumes;
    const SurfaceCurvesFor curves(attempt.withoutCurves);
    const QString failure = writeAndCheckStep(info, QFile::encodeName(path), attempt.bodies,
                                              options, checked, control, volumes);
    if (!failure.isEmpty())
        return failure;
    noteUnchecked(attempt.bodies, volumes, notes);
    deviations.clear();
    for (const StepVolume& volume : volumes) {
        if (volume.unchecked)
            continue;
        const Deviation deviation
            = deviationOf(volume, attempt.bodies[std::size_t(volume.index)].shape,
                          attempt.repaired.count(volume.index) > 0, originals);
        if (deviation.changed())
            deviations[volume.index] = deviation;
    }
    return {};
}

// Some solids come back from STEP with part of their volume or closed solids
// lost (a face that crosses the seam of a sphere is read back trimmed the wrong
// way, a cylinder is split by the reader's healing). The file as written is read
// back by a reader of its own, every closed body with a face that may come back
// otherwise whole, as any reader of the file reads it. A body that changed is
// tried on its own with its closed faces split at their seams, then as B-spline
// faces, then without curves on surfaces (which changes every body); each
// attempt is written to a file of its own and read back whole. What came back
// better goes into the file, which is then read back again: a repair is kept
// only when the file holds the body's closed solids and volume better than the
// file without it, else the body is written as it was. Every attempt runs in
// a fixed order on its own reader, so the same bodies give the same file. What
// the file still changes is noted by body, with its loss and what was tried.
QString writeCheckedStep(const FormatInfo& info, const QString& staged,
                         const std::vector<ExportBody>& bodies, const ExportOptions& options,
                         QStringList& notes, const ExportControl& control)
{
    std::vector<int> checked;
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        if (stepMayChange(bodies[i].shape))
            checked.push_back(int(i));
    }
    OriginalMeasures originals(bodies);
    StepAttempt plain{bodies, {}, false, {}};
    // Curves of edges on planes add nothing a reader cannot find exactly, and they
    // more than double the entities of a mesh body sewn into triangles (its file
    // and the writer's memory): a file of planar bodies goes without them.
    const bool allPlanar = std::none_of(bodies.begin(), bodies.end(), [](const ExportBody& body) {
        return hasCurvedFace(body.shape);
    });
    plain.withoutCurves = allPlanar;
    if (const QString failure = writeAttempt(info, staged, plain, checked, options, control,
                                             originals, plain.deviations, notes);
        !failure.isEmpty())
        return failure;
    if (plain.deviations.empty())
        return {};

    static const StepRepair repairs[] = {
        {"Flächen an ihren Nähten geteilt", splitClosedFaces},
        {"Flächen als B-Splines", asBSplineFaces},
    };
    StepAttempt best = plain;
    QStringList tried;
    QString failure;
    // Takes from the probe what came back better than the best so far.
    const auto adopt = [&](const std::vector<ExportBody>& attempt,
                           const std::vector<StepVolume>& probed, bool withoutCurves) {
        bool any = false;
        for (const StepVolume& volume : probed) {
            const Deviation deviation
                = deviationOf(volume, attempt[std::size_t(volume.index)].shape, true, originals);
            const auto known = best.deviations.find(volume.index);
            if (known == best.deviations.end() || !deviation.betterThan(known->second))
                continue;
            if (withoutCurves) {
                any = true;
                continue;
            }
            best.bodies[std::size_t(volume.index)] = attempt[std::size_t(volume.index)];
            best.repaired.insert(volume.index);
            if (deviation.changed())
                known->second = deviation;
            else
                best.deviations.erase(known);
        }
        return any;
    };
    for (const StepRepair& repair : repairs) {
        const std::vector<int> open = keysOf(best.deviations, true);
        if (open.empty())
            break;
        tried << QString::fromUtf8(repair.what);
        std::vector<ExportBody> attempt = best.bodies;
        for (const int index : open)
            attempt[std::size_t(index)].shape = repair.change(bodies[std::size_t(index)].shape);
        const std::vector<StepVolume> probed
            = probeStep(info, staged, attempt, open, options, allPlanar, control, failure);
        if (failure == exportCancelledMessage())
            return failure;
        if (failure.isEmpty())
            adopt(attempt, probed, false);
    }
    if (!best.deviations.empty() && !allPlanar) {
        tried << QStringLiteral("ohne Kurven auf Flächen");
        const std::vector<int> open = keysOf(best.deviations, true);
        const std::vector<StepVolume> probed
            = probeStep(info, staged, best.bodies, open, options, true, control, failure);
        if (failure == exportCancelledMessage())
            return failure;
        best.withoutCurves = failure.isEmpty() && adopt(best.bodies, probed, true);
    }

    // The file with what came back better, read back again: a repair the whole
    // file does not bear out is undone, and the file written once more.
    const QFileInfo target(staged);
    QDir(target.absolutePath()).mkdir(QStringLiteral("retry"));
    const QString retry
        = target.absoluteDir().filePath(QStringLiteral("retry/") + target.fileName());
    StepAttempt final = plain;
    for (int round = 0;
         round < 3 && (!best.repaired.empty() || best.withoutCurves != plain.withoutCurves);
         ++round) {
        std::map<int, Deviation> deviations;
        // A body left unchecked here counts as back as written, which no repair
        // betters: its repair is undone, and the first write's note stands.
        QStringList unchecked;
        failure = writeAttempt(info, retry, best, checked, options, control, originals, deviations,
                               unchecked);
        if (failure == exportCancelledMessage())
            return failure;
        if (!failure.isEmpty())
            break;
        const auto in = [](const std::map<int, Deviation>& read, int index) {
            const auto found = read.find(index);
            return found == read.end() ? Deviation() : found->second;
        };
        std::vector<int> undo;
        for (const int index : best.repaired) {
            if (!in(deviations, index).betterThan(in(plain.deviations, index)))
                undo.push_back(index);
        }
        // Without curves every body is written otherwise: kept only when some
        // body comes back better and none worse than as first written.
        bool curvesBack = false;
        if (best.withoutCurves && !allPlanar) {
            bool anyBetter = false;
            for (const int index : checked) {
                const Deviation now = in(deviations, index);
                const Deviation before = in(plain.deviations, index);
                anyBetter = anyBetter || now.betterThan(before);
                curvesBack = curvesBack || before.betterThan(now);
            }
            curvesBack = curvesBack || !anyBetter;
        }
        if (undo.empty() && !curvesBack) {
            std::error_code ec;
            std::filesystem::rename(QFile::encodeName(retry).toStdString(),
                                    QFile::encodeName(staged).toStdString(), ec);
            if (ec)
                return QString::fromUtf8(info.failure);
            best.deviations = std::move(deviations);
            final = best;
            break;
        }
        for (const int index : undo) {
            best.bodies[std::size_t(index)] = bodies[std::size_t(index)];
            best.repaired.erase(index);
        }
        if (curvesBack)
            best.withoutCurves = allPlanar;
    }
    QFile::remove(retry);

    if (final.deviations.empty())
        return {};
    QStringList losses;
    for (const auto& [index, deviation] : final.deviations) {
        QString loss = percentText(deviation.percent);
        if (deviation.solidsLost > 0)
            loss += QStringLiteral(", %1 von %2 geschlossen")
                        .arg(deviation.solids - deviation.solidsLost)
                        .arg(countText(deviation.solids, QStringLiteral("Volumenkörper"),
                                       QStringLiteral("Volumenkörpern")));
        losses << QStringLiteral("%1 (%2)").arg(bodyLabel(bodies, index), loss);
    }
    notes << QStringLiteral("STEP gibt das Volumen von %1 nicht genau wieder (versucht: %2); die "
                            "Datei weicht dort vom Modell ab")
                 .arg(losses.join(QStringLiteral(", ")), tried.join(QStringLiteral(", ")));
    return {};
}

// What an IGES file gives back: IGES holds faces only, so each body's face
// area, box and colour are compared with the file read back, and a closed
// body's solids and volume with those its faces close into again.
struct IgesVerdict {
    int count = -1; // bodies read back, -1 when the file does not read
    QString readError; // the reader's line of a file that does not read
    std::vector<IgesChange> changes;

    double lostArea() const
    {
        double lost = 0.0;
        for (const IgesChange& change : changes)
            lost += std::abs(change.areaPercent);
        return lost;
    }
    int lostSolids() const
    {
        int lost = 0;
        for (const IgesChange& change : changes)
            lost += change.solidsLost();
        return lost;
    }
};

IgesVerdict igesVerdict(const QString& file, const std::vector<ExportBody>& bodies)
{
    std::vector<IgesBody> written;
    for (std::size_t i = 0; i < bodies.size(); ++i)
        written.push_back(
            {bodies[i].shape, writtenName(bodies, i), bodies[i].r, bodies[i].g, bodies[i].b});
    IgesVerdict verdict;
    verdict.changes = igesChanges(file, written, &verdict.count, &verdict.readError);
    return verdict;
}

// True when the second file gives every body back and changes less face area,
// without losing a colour or a closed solid the first kept.
bool losesLess(const IgesVerdict& retry, const IgesVerdict& first, std::size_t bodies)
{
    if (retry.count != int(bodies))
        return false;
    if (first.count != int(bodies))
        return true;
    const auto coloursLost = [](const IgesVerdict& verdict) {
        return std::count_if(verdict.changes.begin(), verdict.changes.end(),
                             [](const IgesChange& change) { return change.colourLost; });
    };
    return retry.lostArea() < first.lostArea() && coloursLost(retry) <= coloursLost(first)
           && retry.lostSolids() <= first.lostSolids();
}

// The kernel's face form loses pieces of some faces (coil windings above all):
// where it changes the area, the file is written again as a B-rep and the one
// that changes less is kept, as the STEP check retries.
QString writeCheckedIges(const FormatInfo& info, const QString& staged,
                         const std::vector<ExportBody>& bodies, const ExportOptions& options,
                         const ExportControl& control, IgesVerdict& verdict)
{
    if (const QString failure = writeFormat(info, staged, bodies, options); !failure.isEmpty())
        return failure;
    control.report(80, QStringLiteral("Datei prüfen"));
    verdict = igesVerdict(staged, bodies);
    if (verdict.count == int(bodies.size()) && verdict.lostArea() == 0.0)
        return {};
    // In a subfolder of the staging folder, whose every file is moved beside the target.
    const QFileInfo target(staged);
    QDir(target.absolutePath()).mkdir(QStringLiteral("brep"));
    const QString moved
        = target.absoluteDir().filePath(QStringLiteral("brep/") + target.fileName());
    const QString failure = writeThroughXcaf(info, QFile::encodeName(moved), bodies, options,
                                             Message_ProgressRange(), IgesForm::Brep);
    if (failure.isEmpty()) {
        IgesVerdict brep = igesVerdict(moved, bodies);
        if (losesLess(brep, verdict, bodies.size())) {
            std::error_code ec;
            std::filesystem::rename(QFile::encodeName(moved).toStdString(),
                                    QFile::encodeName(staged).toStdString(), ec);
            if (ec) {
                QFile::remove(moved);
                return QString::fromUtf8(info.failure);
            }
            verdict = std::move(brep);
        }
    }
    QFile::remove(moved);
    return {};
}

void noteIgesChanges(const IgesVerdict& verdict, const std::vector<ExportBody>& bodies,
                     QStringList& notes)
{
    if (verdict.count < 0) {
        notes << igesUnreadNote(verdict.readError);
        return;
    }
    if (verdict.count != int(bodies.size())) {
        notes << QStringLiteral("Die IGES-Datei gibt %1 statt %2 Körper wieder")
                     .arg(germanCount(std::uint64_t(verdict.count)))
                     .arg(germanCount(bodies.size()));
        return;
    }
    for (const IgesChange& change : verdict.changes) {
        QStringList what;
        // Faces that no longer close hold no volume: that says more than any area.
        if (change.solidsLost() > 0 && change.solidsBack == 0)
            what << QStringLiteral("nicht mehr geschlossen, nur Flächen");
        else if (change.solidsLost() > 0)
            what << QStringLiteral("%1 von %2 geschlossen")
                        .arg(change.solidsBack)
                        .arg(countText(change.solids, QStringLiteral("Volumenkörper"),
                                       QStringLiteral("Volumenkörpern")));
        if (change.volumePercent != 0.0 && change.solidsBack > 0)
            what << QStringLiteral("Volumen %1").arg(percentText(change.volumePercent));
        if (change.areaPercent != 0.0)
            what << QStringLiteral("Fläche %1").arg(percentText(change.areaPercent));
        if (change.boxShift != 0.0)
            what << QStringLiteral("Umriss um %1 mm verschoben").arg(threeDigits(change.boxShift));
        if (change.colourLost)
            what << QStringLiteral("Farbe fehlt");
        if (change.nameLost)
            what << QStringLiteral("Name fehlt");
        notes << QStringLiteral("IGES gibt %1 nicht genau wieder: %2")
                     .arg(bodyLabel(bodies, change.index), what.join(QStringLiteral(", ")));
    }
}

// Moves every file the writer left in the staging folder beside the target, the
// target itself last, so that it never refers to side files not yet in place.
// A replaced file hands on its read, write and execute rights (see StagingFolder::moveOut).
bool moveIntoPlace(StagingFolder& staging, const QByteArray& target)
{
    std::vector<QByteArray> order = staging.files();
    const auto written = std::find(order.begin(), order.end(), target);
    if (written == order.end())
        return false;
    std::rotate(written, written + 1, order.end());
    for (const QByteArray& name : order) {
        if (!staging.moveOut(name, name))
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
    StagingFolder staging(target.absolutePath());
    if (!staging.isValid())
        return staging.failureText(QString::fromUtf8(info.failure), errno);
    const QString staged = staging.filePath(target.fileName());
    IgesVerdict igesBack;
    const QString failure = info.format == Format::Step
                                ? writeCheckedStep(info, staged, bodies, options, notes, control)
                            : info.format == Format::Iges
                                ? writeCheckedIges(info, staged, bodies, options, control, igesBack)
                                : writeFormat(info, staged, bodies, options);
    if (!failure.isEmpty())
        return writeFailureText(failure, errno);
    if (info.format == Format::Iges)
        noteIgesChanges(igesBack, bodies, notes);
    if (cancelRequested(control.cancelled))
        return exportCancelledMessage();
    errno = 0;
    if (!moveIntoPlace(staging, QFile::encodeName(target.fileName())))
        return staging.failureText(QString::fromUtf8(info.failure), errno);
    return {};
}

} // namespace

// A writer handed no name makes one up (STEP's counts the writes of the
// process), so the same bodies would give another file each time.
QString writtenName(const std::vector<ExportBody>& bodies, std::size_t index)
{
    const QString& name = bodies[index].name;
    return name.isEmpty() ? QStringLiteral("Körper %1").arg(index + 1) : name;
}

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
    // Checked before the long meshing; the final move would put a regular file in its place.
    if (const QString refused = unreplaceableFileMessage(path); !refused.isEmpty()) {
        setError(error, refused);
        return false;
    }
    keepOnlyKernelFailures();

    std::vector<ExportBody> prepared = bodies;
    QStringList notes;
    QString failure;
    ExportPlace place{QStringLiteral("Körper vorbereiten"), -1};
    // The kernel's own words (class names, signals) mean nothing to the user: a
    // failure names the body and the step instead.
    try {
        OCC_CATCH_SIGNALS
        // Meshing, the long part, runs before the staging folder exists, so an
        // export stopped meanwhile leaves nothing behind.
        const ExportControl control{progress, cancelled};
        control.report(0, place.step);
        failure = prepareBodies(*info, prepared, options, notes, control, place);
        if (failure.isEmpty() && cancelRequested(cancelled))
            failure = exportCancelledMessage();
        if (failure.isEmpty()) {
            place = {QStringLiteral("Datei schreiben"), -1};
            control.report(10, place.step);
            failure = writeStaged(*info, path, prepared, options, notes, control);
        }
    } catch (const Standard_OutOfMemory&) {
        failure = outOfMemoryAt(prepared, place);
    } catch (const std::bad_alloc&) {
        failure = outOfMemoryAt(prepared, place);
    } catch (const Standard_Failure&) {
        failure = failedAt(prepared, place);
    } catch (const std::exception&) {
        failure = failedAt(prepared, place);
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
