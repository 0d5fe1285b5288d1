#include "io/FusionArchive.h"

#include "expr/Format.h"
#include "io/CountTexts.h"
#include "io/Zip.h"
#include "io/sab/SabReader.h"

#include <TopExp_Explorer.hxx>

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <functional>

namespace qor::io {

namespace {

constexpr qsizetype previewLimit = 0x1000000; // 16 MiB
constexpr qsizetype entryLimit = 0x20000000; // 512 MiB, body data or nested archive
constexpr qint64 inflateBudget = qint64(1) << 30; // all entries of one file together
constexpr int maxNestedArchives = 64;
constexpr int maxNestingDepth = 2; // archives at this depth still open theirs

// What one scan gathers from an archive and the archives nested in it.
struct Scan {
    QByteArray preview;
    std::vector<QByteArray> bodyData;
    qint64 budgetLeft = inflateBudget;
    int nestedArchives = 0;
    bool overBudget = false;
};

// Many directory entries may point at one small stream that inflates hugely,
// and every entry is held until the scan ends, so the whole scan shares one
// budget of inflated bytes. The recorded size is what readEntry delivers at most.
QByteArray readWithinBudget(const ZipReader& zip, const ZipEntry& entry, qsizetype limit,
                            Scan& scan)
{
    if (qint64(entry.size) > limit)
        return {};
    if (qint64(entry.size) > scan.budgetLeft) {
        scan.overBudget = true;
        return {};
    }
    scan.budgetLeft -= entry.size;
    return zip.readEntry(entry, limit);
}

void scanArchive(const ZipReader& zip, int depth, Scan& scan)
{
    for (const ZipEntry& entry : zip.entries) {
        const QString lower = entry.name.toLower();
        if (lower.endsWith(QStringLiteral(".png")) && scan.preview.isEmpty())
            scan.preview = readWithinBudget(zip, entry, previewLimit, scan);
        if (lower.endsWith(QStringLiteral(".smb")))
            scan.bodyData.push_back(readWithinBudget(zip, entry, entryLimit, scan));
        if (depth <= maxNestingDepth && lower.endsWith(QStringLiteral(".f3d"))
            && scan.nestedArchives < maxNestedArchives) {
            ++scan.nestedArchives;
            ZipReader nested;
            if (nested.open(readWithinBudget(zip, entry, entryLimit, scan)))
                scanArchive(nested, depth + 1, scan);
        }
    }
}

bool hasSolid(const ImportedBody& body)
{
    return TopExp_Explorer(body.shape, TopAbs_SOLID).More();
}

// Sheet bodies count only when the file has no solid at all.
void keepSolids(std::vector<ImportedBody>& bodies)
{
    if (std::any_of(bodies.begin(), bodies.end(), hasSolid))
        std::erase_if(bodies, [](const ImportedBody& body) { return !hasSolid(body); });
}

void nameBodies(std::vector<ImportedBody>& bodies, const QString& path)
{
    const QString base = QFileInfo(path).completeBaseName();
    for (std::size_t k = 0; k < bodies.size(); ++k) {
        bodies[k].name
            = bodies.size() == 1 ? base : QStringLiteral("%1 – Körper %2").arg(base).arg(k + 1);
    }
}

// The notes of every stream of a design, each text once: a design holds one stream
// per component, and each stream names what it filled or left out in its own
// message, joined by "; ". The counts of left-out faces add up to one count over
// the design. The design's notes are joined the same way, so that the window
// shows them on one line like any other reader's.
class DesignNotes {
public:
    void add(const QString& message)
    {
        // The streams' counts carry the thousands dot.
        static const QRegularExpression skipped(
            QStringLiteral("^([\\d.]+) von ([\\d.]+) Flächen? ausgelassen$"));
        const auto number = [](const QString& digits) {
            return QString(digits).remove(QLatin1Char('.')).toLongLong();
        };
        for (const QString& part : message.split(QStringLiteral("; "), Qt::SkipEmptyParts)) {
            const QRegularExpressionMatch count = skipped.match(part);
            if (count.hasMatch()) {
                skippedFaces_ += number(count.captured(1));
                totalFaces_ += number(count.captured(2));
            } else if (!texts_.contains(part)) {
                texts_.append(part);
            }
        }
    }

    void remove(const QString& text) { texts_.removeAll(text); }

    QString joined() const { return texts().join(QStringLiteral("; ")); }

private:
    QStringList texts() const
    {
        QStringList all = texts_;
        if (skippedFaces_ > 0)
            all.append(skippedFacesText(skippedFaces_, totalFaces_));
        return all;
    }

    QStringList texts_;
    qint64 skippedFaces_ = 0;
    qint64 totalFaces_ = 0;
};

} // namespace

ImportResult readFusion(const QString& path, const ProgressCallback& progress,
                        const CancelCheck& cancelled)
{
    ImportResult result;
    result.format = QStringLiteral("Autodesk Fusion");
    ZipReader zip;
    if (!zip.openFile(path)) {
        result.error = QStringLiteral("Keine gültige Fusion-Datei (ZIP-Archiv erwartet)");
        return result;
    }
    if (progress)
        progress(10, QStringLiteral("Archiv lesen"));
    Scan scan;
    scanArchive(zip, 0, scan);
    result.preview = scan.preview;
    result.notes.append(QStringLiteral("Archiv-Einträge: %1").arg(germanCount(zip.entries.size())));
    if (progress)
        progress(40, QStringLiteral("Geometrie übersetzen"));

    // Every stream's notes count, each once; one stream without bodies is no
    // news when another had some.
    DesignNotes notes;
    if (scan.overBudget)
        notes.add(QStringLiteral("Einige Körperdaten wurden wegen ihrer Größe übersprungen"));
    for (const QByteArray& data : scan.bodyData) {
        if (cancelRequested(cancelled))
            break;
        QString message;
        for (ImportedBody& body : readSab(data, &message, cancelled))
            result.bodies.push_back(std::move(body));
        notes.add(message);
    }
    if (cancelRequested(cancelled)) {
        result.bodies.clear();
        result.error = readCancelledMessage();
        return result;
    }
    keepSolids(result.bodies);
    nameBodies(result.bodies, path);

    if (!result.bodies.empty()) {
        notes.remove(sabNoBodyMessage());
        result.ok = true;
        result.warning = notes.joined();
        return result;
    }
    result.error = scan.bodyData.empty()
                       ? QStringLiteral("Die Fusion-Datei enthält keine Körperdaten.")
                       : QStringLiteral("Die Körper dieser Fusion-Datei liegen im geschlossenen "
                                        "Autodesk-ShapeManager-Format vor: ")
                             + notes.joined();
    result.error += QStringLiteral("\n\nIn Fusion „Datei → Exportieren → STEP“ wählen und die "
                                   "STEP-Datei in QorCAD öffnen – Komponenten, Namen und Farben "
                                   "bleiben erhalten.");
    return result;
}

} // namespace qor::io
