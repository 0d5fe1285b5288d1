#include "app/BatchConversion.h"

#include "app/CommandLine.h"
#include "io/ClosedVolume.h"
#include "io/Export.h"
#include "io/Import.h"
#include "io/KernelMessage.h"

#include <BRep_Tool.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopoDS.hxx>

#include <QFileInfo>

#include <charconv>
#include <exception>

namespace qor::app {

namespace {

struct BodyFacts {
    int faces = 0;
    int shells = 0;
    int solids = 0;
    int openEdges = 0;
    double volume = 0.0;
};

int countOf(const TopoDS_Shape& shape, TopAbs_ShapeEnum type)
{
    int count = 0;
    for (TopExp_Explorer it(shape, type); it.More(); it.Next())
        ++count;
    return count;
}

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

BodyFacts factsOf(const TopoDS_Shape& shape)
{
    return {countOf(shape, TopAbs_FACE), countOf(shape, TopAbs_SHELL), countOf(shape, TopAbs_SOLID),
            openEdgeCount(shape), io::closedVolume(shape)};
}

// The kernel refuses to measure some damaged bodies (a triangulation naming
// nodes it does not have); that is reported like any other reading failure,
// before anything is written or printed.
bool measureAll(const std::vector<io::ImportedBody>& bodies, std::vector<BodyFacts>& facts,
                QString& error)
{
    try {
        OCC_CATCH_SIGNALS
        for (const io::ImportedBody& body : bodies)
            facts.push_back(factsOf(body.shape));
        return true;
    } catch (const Standard_Failure& failure) {
        error = QStringLiteral("Fehler beim Lesen: %1")
                    .arg(QString::fromUtf8(failure.GetMessageString()));
    } catch (const std::exception& failure) {
        error = QStringLiteral("Fehler beim Lesen: %1").arg(QString::fromUtf8(failure.what()));
    }
    return false;
}

QString oneDecimal(double value)
{
    char text[400];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 1);
    return QString::fromLatin1(text, end.ptr - text);
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

int fail(std::FILE* err, const QString& message)
{
    print(err, QStringLiteral("Fehler: %1\n").arg(oneLine(message)));
    return 1;
}

// A value without colon, or with nothing on one side of it, names no separate
// output; writing anyway would overwrite the input.
QString refusal(const QString& argument, const ConvertPaths& paths)
{
    if (!paths.hasSeparator || paths.input.isEmpty() || paths.output.isEmpty())
        return QStringLiteral("„%1“ nennt keine Ausgabedatei (EINGABE:AUSGABE)").arg(argument);
    const QFileInfo input(paths.input);
    const QFileInfo output(paths.output);
    if (input.absoluteFilePath() == output.absoluteFilePath()
        || (input.exists() && input.canonicalFilePath() == output.canonicalFilePath()))
        return QStringLiteral("Eingabe und Ausgabe sind dieselbe Datei „%1“").arg(paths.input);
    return {};
}

} // namespace

int runConversion(const QString& argument, std::FILE* out, std::FILE* err)
{
    const ConvertPaths paths = splitConvertArgument(argument);
    if (const QString refused = refusal(argument, paths); !refused.isEmpty())
        return fail(err, refused);

    // An assembly names its parts by path and places them; the window opens it
    // with its components, a single import cannot.
    if (QFileInfo(paths.input).suffix().toLower() == u"asm")
        return fail(err, QStringLiteral("„%1“ ist eine Solid-Edge-Baugruppe; Baugruppen werden "
                                        "im Fenster geöffnet (qorcad „%1“), die Umwandlung "
                                        "liest nur Einzelteile")
                             .arg(QFileInfo(paths.input).fileName()));

    // The summary is the only thing on standard output and a failure one German
    // line on standard error; the kernel's own English reports would come first.
    io::silenceKernelMessages();
    const io::ImportResult imported = io::importFile(paths.input, {});
    if (!imported.ok)
        return fail(err, imported.error);
    std::vector<BodyFacts> facts;
    if (QString measureError; !measureAll(imported.bodies, facts, measureError))
        return fail(err, measureError);

    std::vector<io::ExportBody> bodies;
    bodies.reserve(imported.bodies.size());
    for (const io::ImportedBody& body : imported.bodies) {
        io::ExportBody exported;
        exported.name = body.name;
        exported.shape = body.shape;
        exported.r = body.r;
        exported.g = body.g;
        exported.b = body.b;
        bodies.push_back(std::move(exported));
    }
    // The batch settings are the export defaults: 0.02 mm and 0.3 rad, binary STL,
    // AP242, no author; the user's mesh quality setting does not apply here.
    QString exportError;
    QString exportNote;
    if (!io::exportFile(paths.output, bodies, io::ExportOptions(), &exportError, &exportNote))
        return fail(err, exportError);

    print(out, QStringLiteral("%1: %2 Körper → %3\n")
                   .arg(imported.format, QString::number(imported.bodies.size()), paths.output));
    for (std::size_t i = 0; i < facts.size(); ++i) {
        const BodyFacts& f = facts[i];
        print(out, QStringLiteral("  %1: %2 Flächen, %3 Schalen, %4 Volumen, %5 offene Kanten, "
                                  "Volumen %6 mm³\n")
                       .arg(imported.bodies[i].name, QString::number(f.faces),
                            QString::number(f.shells), QString::number(f.solids),
                            QString::number(f.openEdges), oneDecimal(f.volume)));
    }
    if (!imported.warning.isEmpty())
        print(out, QStringLiteral("Hinweis: %1\n").arg(oneLine(imported.warning)));
    if (!exportNote.isEmpty())
        print(out, QStringLiteral("Hinweis: %1\n").arg(oneLine(exportNote)));
    return 0;
}

} // namespace qor::app
