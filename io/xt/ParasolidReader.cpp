#include "io/xt/ParasolidReader.h"

#include "expr/Format.h"
#include "io/CancelIndicator.h"
#include "io/CountTexts.h"
#include "io/xt/XtTopology.h"

#include <BRepBuilderAPI_Sewing.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepLib.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <ShapeFix_Shape.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Shell.hxx>
#include <TopoDS_Solid.hxx>

#include <algorithm>
#include <exception>
#include <unordered_set>

namespace qor::io {

namespace {

constexpr std::size_t maxFrontChain = 10'000'000;
constexpr int wireBody = 2;
constexpr int solidBody = 1;

struct ShellBuild {
    TopoDS_Shell shell;
    std::unordered_set<quint32> seenFaces;
    int faceCount = 0;
};

void checkCancelled(const XtReadContext& context)
{
    if (cancelRequested(context.cancelled))
        throw XtAbort(readCancelledMessage());
}

// One face into the shell being built; a face that fails is counted and left out.
void addXtFace(XtReadContext& context, ShellBuild& build, const XtNode& faceNode, bool frontSide)
{
    if (!build.seenFaces.insert(faceNode.index).second)
        return;
    checkCancelled(context);
    ++context.attemptedFaces;
    try {
        OCC_CATCH_SIGNALS
        const TopoDS_Face face = makeXtFace(context, faceNode, frontSide);
        BRep_Builder().Add(build.shell, face);
        ++build.faceCount;
    } catch (const XtAbort&) {
        throw;
    } catch (const Standard_Failure& failure) {
        ++context.failedFaces;
        ++context.failureReasons[std::string("OCCT: ") + failure.GetMessageString()];
    } catch (const std::exception& error) {
        ++context.failedFaces;
        ++context.failureReasons[error.what()];
    }
}

// The faces of one shell: its "face" chain, then its "front_face" chain along "next_front".
ShellBuild buildShell(XtReadContext& context, const XtNode& shellNode)
{
    const XtModel& model = *context.model;
    ShellBuild build;
    BRep_Builder().MakeShell(build.shell);
    for (const XtNode* face : xtNextChain(model, xtPointer(model, &shellNode, "face")))
        addXtFace(context, build, *face, false);
    std::unordered_set<quint32> walked;
    for (const XtNode* face = xtPointer(model, &shellNode, "front_face");
         face && walked.size() < maxFrontChain; face = xtPointer(model, face, "next_front")) {
        if (!walked.insert(face->index).second)
            break;
        addXtFace(context, build, *face, true);
    }
    return build;
}

// The shapes of one body: a solid per solid region, every shell of a sheet body. The void
// regions of a solid body are left out.
std::vector<TopoDS_Shape> bodyShapes(XtReadContext& context, const XtNode& body, int bodyType)
{
    const XtModel& model = *context.model;
    BRep_Builder builder;
    std::vector<TopoDS_Shape> shapes;
    for (const XtNode* region : xtNextChain(model, xtPointer(model, &body, "region"))) {
        const int regionType = xtCharCode(*region, "type", 0);
        std::vector<TopoDS_Shell> shells;
        for (const XtNode* shell : xtNextChain(model, xtPointer(model, region, "shell"))) {
            ShellBuild build = buildShell(context, *shell);
            if (build.faceCount >= 1)
                shells.push_back(build.shell);
        }
        if (shells.empty())
            continue;
        if (bodyType != solidBody) {
            shapes.insert(shapes.end(), shells.begin(), shells.end());
        } else if (regionType == 'S') {
            TopoDS_Solid solid;
            builder.MakeSolid(solid);
            for (TopoDS_Shell& shell : shells) {
                shell.Closed(BRep_Tool::IsClosed(shell));
                builder.Add(solid, shell);
            }
            shapes.push_back(solid);
        }
    }
    return shapes;
}

// Heals the body in the file's metres, sews it when faces of its own were left out, and
// scales it to millimetres. A body that lost nothing is not sewn: sewing makes a solid a
// shell, and a sound body must not pay for a damaged one beside it.
TopoDS_Shape healedBody(const XtReadContext& context, const std::vector<TopoDS_Shape>& shapes,
                        bool facesLeftOut)
{
    BRep_Builder builder;
    TopoDS_Compound compound;
    builder.MakeCompound(compound);
    for (const TopoDS_Shape& shape : shapes)
        builder.Add(compound, shape);
    BRepLib::BuildCurves3d(compound);

    const Handle(CancelIndicator) indicator = new CancelIndicator(context.cancelled);
    ShapeFix_Shape fix(compound);
    fix.SetPrecision(1e-7);
    fix.SetMaxTolerance(1e-3);
    fix.Perform(indicator->Start());
    checkCancelled(context);
    TopoDS_Shape shape = fix.Shape();
    if (facesLeftOut) {
        BRepBuilderAPI_Sewing sewing(1e-5, true, true, true, false);
        sewing.Add(shape);
        sewing.Perform(indicator->Start());
        checkCancelled(context);
        ShapeFix_Shape refix(sewing.SewedShape());
        refix.Perform(indicator->Start());
        checkCancelled(context);
        shape = refix.Shape();
    }
    gp_Trsf toMillimetres;
    toMillimetres.SetScaleFactor(1000);
    return BRepBuilderAPI_Transform(shape, toMillimetres, true).Shape();
}

// BODY nodes in ascending node index, so body names do not depend on the node table's
// hashing.
std::vector<const XtNode*> bodyNodes(const XtModel& model)
{
    std::vector<const XtNode*> bodies;
    for (const auto& [index, node] : model.nodes) {
        if (node.type == 12)
            bodies.push_back(&node);
    }
    std::sort(bodies.begin(), bodies.end(),
              [](const XtNode* a, const XtNode* b) { return a->index < b->index; });
    return bodies;
}

QString failureSummary(const XtReadContext& context)
{
    QStringList reasons;
    for (const auto& [text, count] : context.failureReasons)
        reasons << QStringLiteral("%1× %2")
                       .arg(germanCount(std::uint64_t(count)))
                       .arg(QString::fromUtf8(text.c_str()));
    return QStringLiteral("%1 (%2)").arg(
        skippedFacesText(context.failedFaces, context.attemptedFaces),
        reasons.join(QStringLiteral(", ")));
}

std::vector<ImportedBody> convertBodies(XtReadContext& context, QString* message)
{
    std::vector<ImportedBody> bodies;
    bool wireBodies = false;
    for (const XtNode* body : bodyNodes(*context.model)) {
        checkCancelled(context);
        const int bodyType = xtCharCode(*body, "body_type", 0);
        if (bodyType == wireBody) {
            wireBodies = true;
            continue;
        }
        const int failedBefore = context.failedFaces;
        const std::vector<TopoDS_Shape> shapes = bodyShapes(context, *body, bodyType);
        if (shapes.empty())
            continue;
        ImportedBody imported;
        imported.shape = healedBody(context, shapes, context.failedFaces > failedBefore);
        if (!bodies.empty())
            imported.name = QStringLiteral("Körper %1").arg(bodies.size() + 1);
        bodies.push_back(std::move(imported));
    }
    if (bodies.empty() && message) {
        *message = wireBodies ? QStringLiteral("Die Datei enthält nur Kurven (Drahtkörper), keinen "
                                               "Volumen- oder Flächenkörper")
                              : QStringLiteral("Die Parasolid-Daten enthalten keinen Volumen- oder "
                                               "Flächenkörper");
    }
    if (context.failedFaces != 0)
        context.warnings << failureSummary(context);
    if (!bodies.empty() && !context.warnings.isEmpty() && message)
        *message = context.warnings.join(QStringLiteral("; "));
    return bodies;
}

// The machine-dependent binary form: the line after the text preamble starts with 'B'
// where the text form has 'T'. Calling it text would send the user the wrong way.
bool isBareBinary(const QByteArray& data)
{
    const qsizetype header = data.indexOf("**END_OF_HEADER");
    const qsizetype lineEnd = header < 0 ? -1 : data.indexOf('\n', header);
    return lineEnd >= 0 && lineEnd + 1 < data.size() && data[lineEnd + 1] == 'B';
}

} // namespace

std::vector<ImportedBody> readParasolid(const QByteArray& data, QString* message,
                                        const CancelCheck& cancelled)
{
    if (!data.contains(QByteArray("PS\0\0", 4))) {
        if (message && isBareBinary(data)) {
            *message = QStringLiteral("Parasolid-Binärformat ohne neutrale Kodierung wird nicht "
                                      "gelesen – bitte als neutrales .x_b oder STEP speichern");
        } else if (message) {
            *message = QStringLiteral("Parasolid-Textformat (.x_t) wird noch nicht gelesen – "
                                      "bitte als .x_b oder STEP speichern");
        }
        return {};
    }
    try {
        OCC_CATCH_SIGNALS
        const XtModel model = parseXtBinary(data);
        XtReadContext context;
        context.model = &model;
        context.cancelled = cancelled;
        return convertBodies(context, message);
    } catch (const Standard_Failure& failure) {
        if (message) {
            *message = QStringLiteral("Geometriefehler: %1")
                           .arg(QString::fromUtf8(failure.GetMessageString()));
        }
    } catch (const std::exception& error) {
        if (message)
            *message = QString::fromUtf8(error.what());
    }
    return {};
}

} // namespace qor::io
