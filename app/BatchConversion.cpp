#include "app/BatchConversion.h"

#include "app/CommandLine.h"
#include "expr/Format.h"
#include "io/ClosedVolume.h"
#include "io/CountTexts.h"
#include "io/Export.h"
#include "io/FileAccess.h"
#include "io/Import.h"
#include "io/KernelMessage.h"
#include "io/MeshFaces.h"
#include "io/MeshParts.h"
#include "io/NameLinks.h"
#include "model/ExecContext.h"
#include "sketch/Plane.h"

#include <BRep_Tool.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <Standard_OutOfMemory.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopoDS.hxx>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <exception>
#include <filesystem>
#include <map>
#include <optional>
#include <system_error>

#include <stdio.h>
#include <unistd.h>

namespace qor::app {

namespace {

struct BodyFacts {
    int faces = 0;
    int shells = 0;
    int solids = 0;
    int openEdges = 0;
    double volume = 0.0;
    bool measured = true; // false for a mesh body that does not close
    std::vector<double> insideOut; // volumes of a mesh body's closed parts turned inside out
    long long closedParts = 0;
};

// An edge bounding at most one face is open; a seam is listed twice by its face
// and so counts as closed.
int openEdgeCount(const TopoDS_Shape& shape)
{
    TopTools_IndexedDataMapOfShapeListOfShape facesOfEdge;
    TopExp::MapShapesAndAncestors(shape, TopAbs_EDGE, TopAbs_FACE, facesOfEdge);
    int count = 0;
    for (int i = 1; i <= facesOfEdge.Extent(); ++i) {
        if (facesOfEdge(i).Extent() <= 1
            && !BRep_Tool::Degenerated(TopoDS::Edge(facesOfEdge.FindKey(i))))
            ++count;
    }
    return count;
}

// A mesh body has no edges of its own: its triangles tell where it is open, and
// the winding of each closed part whether that part is inside out, which its
// volume shows by its sign.
BodyFacts factsOf(const TopoDS_Shape& shape)
{
    BodyFacts facts{countOf(shape, TopAbs_FACE), countOf(shape, TopAbs_SHELL),
                    countOf(shape, TopAbs_SOLID)};
    if (!io::isMeshOnly(shape)) {
        facts.openEdges = openEdgeCount(shape);
        facts.volume = io::closedVolume(shape);
        return facts;
    }
    const io::IndexedMesh mesh = io::mergedMesh(shape);
    const io::MeshParts parts = io::meshParts(mesh);
    facts.openEdges = io::openEdgeCount(mesh);
    facts.measured = parts.measurable();
    facts.volume = parts.volume();
    facts.insideOut = parts.insideOut();
    facts.closedParts = (long long)(parts.closedVolumes.size());
    return facts;
}

// "Volumen 1.000,0 mm³", with a mesh body's inside-out parts named after it.
QString volumeText(const BodyFacts& facts)
{
    if (!facts.measured)
        return QStringLiteral("Volumen nicht messbar (Netz nicht geschlossen)");
    QString text = QStringLiteral("Volumen %1 mm³").arg(germanNumber(facts.volume, 1));
    if (!facts.insideOut.empty())
        text += QStringLiteral(", ") + io::insideOutPartsClause(facts.insideOut, facts.closedParts);
    return text;
}

// The kernel refuses to measure some damaged bodies (a triangulation naming
// nodes it does not have); that is reported like any other reading failure,
// before anything is written or printed.
// Placements of one part (its shape moved rigidly) have the part's facts: each part is
// measured once.
bool measureAll(const QString& input, const std::vector<io::ImportedBody>& bodies,
                std::vector<BodyFacts>& facts, QString& error)
{
    try {
        OCC_CATCH_SIGNALS
        std::map<std::pair<const void*, int>, BodyFacts> parts;
        for (const io::ImportedBody& body : bodies) {
            const std::pair<const void*, int> part{body.shape.TShape().get(),
                                                   int(body.shape.Orientation())};
            auto found = parts.find(part);
            if (found == parts.end())
                found = parts.emplace(part, factsOf(body.shape)).first;
            facts.push_back(found->second);
        }
        return true;
    } catch (const Standard_OutOfMemory&) {
        error = io::readStopMessage(input, io::ReadStop::memory);
    } catch (const std::bad_alloc&) {
        error = io::readStopMessage(input, io::ReadStop::memory);
    } catch (const Standard_Failure& failure) {
        error = QStringLiteral("Fehler beim Lesen: %1")
                    .arg(QString::fromUtf8(failure.GetMessageString()));
    } catch (const std::exception& failure) {
        error = QStringLiteral("Fehler beim Lesen: %1").arg(QString::fromUtf8(failure.what()));
    }
    return false;
}

void print(std::FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    std::fflush(stream);
}

// The readers' longer texts run over several lines: sentences and paragraphs, or
// lists of findings. The conversion reports each as one line (sentences joined by
// a blank, findings by a semicolon), and a fault the kernel caught without its
// signal name and address.
QString oneLine(const QString& message)
{
    QString text;
    for (const QString& part : io::withoutKernelSignal(message).split(QLatin1Char('\n'))) {
        const QString line = part.trimmed();
        if (line.isEmpty())
            continue;
        if (!text.isEmpty()) {
            const QChar last = text.back();
            const bool sentence = last == u'.' || last == u'!' || last == u'?' || last == u':';
            text += sentence ? QStringLiteral(" ") : QStringLiteral("; ");
        }
        text += line;
    }
    return text;
}

// The line already says it is an error: a reader's own "Fehler beim Lesen: " after it
// would say so twice.
int fail(std::FILE* err, const QString& message)
{
    static const QString readerPrefix = QStringLiteral("Fehler beim Lesen: ");
    const QString text = oneLine(message);
    print(err, QStringLiteral("Fehler: %1\n")
                   .arg(text.startsWith(readerPrefix) ? text.mid(readerPrefix.size()) : text));
    return 1;
}

QByteArray folderBytes(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
}

QByteArray nameBytes(const QByteArray& path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

// A file name whose bytes are not valid UTF-8 would decode to replacement
// characters and name a file that does not exist. Such an input is read through
// a link; such an output is written under a valid temporary name in the target
// folder (reached through a link, as the folder's name may be the invalid part)
// and then renamed to the bytes given.
class ConversionFiles {
public:
    ConversionFiles(const QByteArray& input, const QByteArray& output)
        : inputBytes_(input)
        , outputBytes_(output)
    {
    }

    // Where the readers find the input; empty with error set when that fails.
    QString input(QString& error) { return links_.reach(inputBytes_, shownInput(), error); }

    // Where the writers put the output.
    QString output(QString& error)
    {
        if (io::isTextName(outputBytes_))
            return QFile::decodeName(outputBytes_);
        const QByteArray target = io::absolutePathBytes(folderBytes(outputBytes_));
        const QString folder = links_.link(target, QStringLiteral("ziel"), shownOutput(), error);
        if (folder.isEmpty())
            return {};
        errno = 0;
        stage_.emplace(folder, nameBytes(outputBytes_));
        if (stage_->path().isEmpty())
            error = stage_->failureText(
                QStringLiteral("„%1“ kann nicht geschrieben werden").arg(shownOutput()), errno);
        return stage_->path();
    }

    // Gives a staged output its own name; false with error set when that fails.
    bool finish(QString& error)
    {
        errno = 0;
        if (!stage_ || stage_->finish())
            return true;
        error = stage_->failureText(
            QStringLiteral("„%1“ kann nicht geschrieben werden").arg(shownOutput()), errno);
        return false;
    }

    // The names as the user wrote them, never as the links that reach them.
    QString shownInput() const { return io::shownName(inputBytes_); }
    QString shownOutput() const { return io::shownName(outputBytes_); }

private:
    QByteArray inputBytes_;
    QByteArray outputBytes_;
    io::NameLinks links_;
    std::optional<io::NameStage> stage_; // the temporary output until it takes its name
};

// A value without colon, or with nothing on one side of it, names no separate
// output; writing anyway would overwrite the input.
QString refusal(const QByteArray& argument, const ConvertPaths& paths)
{
    if (!paths.hasSeparator || paths.input.isEmpty() || paths.output.isEmpty())
        return QStringLiteral("„%1“ nennt keine Ausgabedatei (EINGABE:AUSGABE)")
            .arg(io::shownName(argument));
    const std::filesystem::path input(paths.input.toStdString());
    const std::filesystem::path output(paths.output.toStdString());
    std::error_code ec;
    if (std::filesystem::absolute(input, ec).lexically_normal()
            == std::filesystem::absolute(output, ec).lexically_normal()
        || std::filesystem::equivalent(input, output, ec))
        return QStringLiteral("Eingabe und Ausgabe sind dieselbe Datei „%1“")
            .arg(io::shownName(paths.input));
    // The export goes to a staged file renamed over the output at the end. The output is
    // looked at by its bytes: its decoded name may name nothing.
    return io::unreplaceableFileMessage(paths.output);
}

// The program's own documents and Solid Edge assemblies place parts by path;
// the window opens them with their components, a single import cannot.
QString openedInTheWindow(const QString& input)
{
    const QString name = QFileInfo(input).fileName();
    const QString suffix = QFileInfo(input).suffix().toLower();
    QString text;
    if (suffix == u"asm")
        text = QStringLiteral("„%1“ ist eine Solid-Edge-Baugruppe; Baugruppen werden im Fenster "
                              "geöffnet (qorcad „%1“), die Umwandlung liest nur Einzelteile");
    else if (suffix == u"qcpart" || suffix == u"qcasm")
        text = QStringLiteral("„%1“ ist eine QorCAD-Datei; sie wird im Fenster geöffnet "
                              "(qorcad „%1“), die Umwandlung liest nur fremde Formate");
    return text.isEmpty() ? text : text.arg(name);
}

} // namespace

int runConversion(const QByteArray& argument, std::FILE* out, std::FILE* err)
{
    const ConvertPaths paths = splitConvertArgument(argument);
    if (const QString refused = refusal(argument, paths); !refused.isEmpty())
        return fail(err, refused);
    ConversionFiles files(paths.input, paths.output);
    if (const QString window = openedInTheWindow(files.shownInput()); !window.isEmpty())
        return fail(err, window);
    QString fileError;
    const QString input = files.input(fileError);
    if (input.isEmpty())
        return fail(err, fileError);

    // The summary is the only thing on standard output and a failure one German
    // line on standard error; the kernel's own English reports would come first.
    io::silenceKernelMessages();
    const io::ImportResult imported = io::importFile(input, {});
    if (!imported.ok)
        return fail(err, imported.error);
    std::vector<BodyFacts> facts;
    if (QString measureError; !measureAll(input, imported.bodies, facts, measureError))
        return fail(err, measureError);

    // Bodies the file leaves unnamed take the names the window gives them on
    // import, so that the file and the summary name them as the window does.
    std::vector<io::ExportBody> bodies;
    bodies.reserve(imported.bodies.size());
    int unnamed = 0;
    for (const io::ImportedBody& body : imported.bodies)
        bodies.push_back({body.name.isEmpty() ? model::numberedBodyName(++unnamed) : body.name,
                          body.shape, body.r, body.g, body.b});
    // The batch settings are the export defaults: 0.02 mm and 0.3 rad, binary STL,
    // AP242, no author; the user's mesh quality setting does not apply here.
    QString exportError;
    QString exportNote;
    const QString output = files.output(fileError);
    if (output.isEmpty())
        return fail(err, fileError);
    if (!io::exportFile(output, bodies, io::ExportOptions(), &exportError, &exportNote))
        return fail(err, exportError);
    if (!files.finish(fileError))
        return fail(err, fileError);

    print(out, QStringLiteral("%1: %2 Körper → %3\n")
                   .arg(imported.format, germanCount(imported.bodies.size()), files.shownOutput()));
    for (std::size_t i = 0; i < facts.size(); ++i) {
        const BodyFacts& f = facts[i];
        print(out,
              QStringLiteral("  %1: %2, %3, %4, %5, %6\n")
                  .arg(bodies[i].name,
                       io::countText(f.faces, QStringLiteral("Fläche"), QStringLiteral("Flächen")),
                       io::countText(f.shells, QStringLiteral("Schale"), QStringLiteral("Schalen")),
                       io::countText(f.solids, QStringLiteral("Volumenkörper"),
                                     QStringLiteral("Volumenkörper")),
                       io::countText(f.openEdges, QStringLiteral("offene Kante"),
                                     QStringLiteral("offene Kanten")),
                       volumeText(f)));
    }
    if (!imported.warning.isEmpty())
        print(out, QStringLiteral("Hinweis: %1\n").arg(oneLine(imported.warning)));
    if (!exportNote.isEmpty())
        print(out, QStringLiteral("Hinweis: %1\n").arg(oneLine(exportNote)));
    return 0;
}

} // namespace qor::app
