#include "io/Import.h"

#include "io/XcafBodies.h"

#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <IFSelect_ReturnStatus.hxx>
#include <IGESCAFControl_Reader.hxx>
#include <IGESControl_Controller.hxx>
#include <Message_ProgressIndicator.hxx>
#include <Poly_Triangulation.hxx>
#include <RWGltf_CafReader.hxx>
#include <RWObj_CafReader.hxx>
#include <RWStl.hxx>
#include <STEPCAFControl_Reader.hxx>
#include <STEPControl_Controller.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <TopoDS_Face.hxx>

#include <QFileInfo>

#include <exception>

namespace qor::io {

namespace {

// Hands OpenCASCADE's progress to the caller's callback as a whole percentage.
class ProgressBridge : public Message_ProgressIndicator {
public:
    explicit ProgressBridge(ProgressCallback callback) : callback_(std::move(callback)) {}

    void Show(const Message_ProgressScope&, const Standard_Boolean) override
    {
        if (callback_)
            callback_(int(GetPosition() * 100.0), QString());
    }

private:
    ProgressCallback callback_;
};

void readStep(const QByteArray& fileName, ProgressBridge& progress, ImportResult& result)
{
    STEPControl_Controller::Init();
    XcafDocumentScope scope;
    STEPCAFControl_Reader reader;
    reader.SetColorMode(true);
    reader.SetNameMode(true);
    reader.SetLayerMode(true);
    if (reader.ReadFile(fileName.constData()) != IFSelect_RetDone) {
        result.error = QStringLiteral("STEP-Datei konnte nicht gelesen werden");
        return;
    }
    Message_ProgressRange range = progress.Start();
    const bool transferred = reader.Transfer(scope.document(), range);
    range.Close();
    if (!transferred) {
        result.error = QStringLiteral("STEP-Daten konnten nicht übertragen werden");
        return;
    }
    collectXcafBodies(scope.document(), result);
}

void readIges(const QByteArray& fileName, ProgressBridge& progress, ImportResult& result)
{
    IGESControl_Controller::Init();
    XcafDocumentScope scope;
    IGESCAFControl_Reader reader;
    if (reader.ReadFile(fileName.constData()) != IFSelect_RetDone) {
        result.error = QStringLiteral("IGES-Datei konnte nicht gelesen werden");
        return;
    }
    // An empty transfer is reported by the collection as a file without geometry.
    Message_ProgressRange range = progress.Start();
    reader.Transfer(scope.document(), range);
    range.Close();
    collectXcafBodies(scope.document(), result);
}

void readStl(const QString& path, const QByteArray& fileName, ProgressBridge& progress,
             ImportResult& result)
{
    constexpr double mergeAngle = 1.5707963267948966;
    Message_ProgressRange range = progress.Start();
    const Handle(Poly_Triangulation) mesh = RWStl::ReadFile(fileName.constData(), mergeAngle, range);
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

void readGltf(const QByteArray& fileName, ProgressBridge& progress, ImportResult& result)
{
    RWGltf_CafReader reader;
    reader.SetSystemLengthUnit(0.001);
    reader.SetSystemCoordinateSystem(RWMesh_CoordinateSystem_Zup);
    readMesh(reader, fileName, progress, result);
}

void readBrep(const QString& path, const QByteArray& fileName, ImportResult& result)
{
    TopoDS_Shape shape;
    if (!BRepTools::Read(shape, fileName.constData(), BRep_Builder()) || shape.IsNull()) {
        result.error = QStringLiteral("BREP-Datei konnte nicht gelesen werden");
        return;
    }
    result.bodies.push_back({QFileInfo(path).completeBaseName(), shape});
    result.ok = true;
}

// Parasolid, Solid Edge and Fusion files have readers of their own that this
// build does not contain yet; the format is named so the caller can report it.
void refuseUnreadFormat(const QString& format, ImportResult& result)
{
    result.format = format;
    result.error = QStringLiteral("Das Format „%1“ kann diese Version noch nicht lesen").arg(format);
}

void dispatch(const QString& path, const QString& suffix, ProgressBridge& progress,
              ImportResult& result)
{
    const QByteArray fileName = path.toLocal8Bit();
    if (suffix == u"step" || suffix == u"stp") {
        result.format = QStringLiteral("STEP");
        readStep(fileName, progress, result);
    } else if (suffix == u"iges" || suffix == u"igs") {
        result.format = QStringLiteral("IGES");
        readIges(fileName, progress, result);
    } else if (suffix == u"stl") {
        result.format = QStringLiteral("STL");
        result.meshBodies = true;
        readStl(path, fileName, progress, result);
    } else if (suffix == u"obj") {
        result.format = QStringLiteral("OBJ");
        result.meshBodies = true;
        readObj(fileName, progress, result);
    } else if (suffix == u"gltf" || suffix == u"glb") {
        result.format = QStringLiteral("glTF");
        result.meshBodies = true;
        readGltf(fileName, progress, result);
    } else if (suffix == u"brep" || suffix == u"brp") {
        result.format = QStringLiteral("BREP");
        readBrep(path, fileName, result);
    } else if (suffix == u"x_b" || suffix == u"xmt_bin" || suffix == u"x_t"
               || suffix == u"xmt_txt") {
        refuseUnreadFormat(QStringLiteral("Parasolid"), result);
    } else if (suffix == u"asm") {
        refuseUnreadFormat(QStringLiteral("Solid Edge Baugruppe"), result);
    } else if (suffix == u"psm") {
        refuseUnreadFormat(QStringLiteral("Solid Edge Blechteil"), result);
    } else if (suffix == u"par") {
        refuseUnreadFormat(QStringLiteral("Solid Edge Bauteil"), result);
    } else if (suffix == u"f3d" || suffix == u"f3z") {
        refuseUnreadFormat(QStringLiteral("Autodesk Fusion"), result);
    } else {
        result.error = QStringLiteral("Unbekanntes Dateiformat .") + suffix;
    }
}

} // namespace

ImportResult importFile(const QString& path, const ProgressCallback& progress)
{
    ImportResult result;
    const QString suffix = QFileInfo(path).suffix().toLower();
    Handle(ProgressBridge) bridge = new ProgressBridge(progress);
    try {
        // A fault inside a reader becomes a Standard_Failure here instead of ending the process.
        OCC_CATCH_SIGNALS
        dispatch(path, suffix, *bridge, result);
    } catch (const Standard_Failure& failure) {
        result.ok = false;
        result.error = QStringLiteral("Fehler beim Lesen: %1")
                           .arg(QString::fromUtf8(failure.GetMessageString()));
    } catch (const std::exception& failure) {
        result.ok = false;
        result.error = QStringLiteral("Fehler beim Lesen: %1").arg(QString::fromUtf8(failure.what()));
    }
    return result;
}

bool isImportable(const QString& path)
{
    static const QStringList suffixes = {
        QStringLiteral("step"), QStringLiteral("stp"),     QStringLiteral("iges"),
        QStringLiteral("igs"),  QStringLiteral("stl"),     QStringLiteral("obj"),
        QStringLiteral("gltf"), QStringLiteral("glb"),     QStringLiteral("brep"),
        QStringLiteral("brp"),  QStringLiteral("x_b"),     QStringLiteral("x_t"),
        QStringLiteral("xmt_bin"), QStringLiteral("xmt_txt"), QStringLiteral("par"),
        QStringLiteral("psm"),  QStringLiteral("asm"),     QStringLiteral("f3d"),
        QStringLiteral("f3z")};
    return suffixes.contains(QFileInfo(path).suffix().toLower());
}

QString importFilter()
{
    return QStringLiteral(
        "Alle unterstützten Dateien (*.qcpart *.qcasm *.step *.stp *.iges *.igs *.stl *.obj "
        "*.gltf *.glb *.brep *.brp *.x_b *.x_t *.par *.psm *.asm *.f3d *.f3z);;"
        "QorCAD (*.qcpart *.qcasm);;STEP (*.step *.stp);;IGES (*.iges *.igs);;STL (*.stl);;"
        "OBJ (*.obj);;glTF (*.gltf *.glb);;BREP (*.brep *.brp);;Parasolid (*.x_b *.x_t);;"
        "Solid Edge (*.par *.psm *.asm);;Autodesk Fusion (*.f3d *.f3z);;Alle Dateien (*)");
}

QString exportFilter()
{
    return QStringLiteral(
        "STEP AP242 (*.step *.stp);;IGES (*.iges *.igs);;STL binär (*.stl);;"
        "3MF für 3D-Druck (*.3mf);;OBJ (*.obj);;glTF binär (*.glb);;glTF (*.gltf);;PLY (*.ply);;"
        "OpenCASCADE BREP (*.brep)");
}

} // namespace qor::io
