#include "io/SolidEdgePart.h"

#include "io/Zip.h"
#include "io/cfb/CompoundFile.h"
#include "io/xt/ParasolidReader.h"
#include "io/xt/XtModel.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <map>
#include <vector>

namespace qor::io {

namespace {

constexpr qint64 minCandidateSize = 64;
constexpr qint64 zlibSearchWindow = 64;
constexpr qsizetype maxInflatedStream = 256 * 1024 * 1024;
// All inflated streams together: a file of many compressed streams must not hold
// gigabytes at once. Half a gigabyte leaves room for translating what was found (a model
// may take another 256 MB) within 1.5 GB, also in the window.
constexpr qint64 maxInflatedTotal = qint64(512) << 20;

const std::map<int, QString>& propertyLabels()
{
    static const std::map<int, QString> labels{
        {2, QStringLiteral("Titel")},        {3, QStringLiteral("Thema")},
        {4, QStringLiteral("Autor")},        {5, QStringLiteral("Stichwörter")},
        {6, QStringLiteral("Kommentar")},    {8, QStringLiteral("Zuletzt gespeichert von")},
        {9, QStringLiteral("Revision")},     {12, QStringLiteral("Erstellt")},
        {13, QStringLiteral("Gespeichert")}, {18, QStringLiteral("Anwendung")},
    };
    return labels;
}

QString formatFor(const QString& suffix)
{
    if (suffix == QStringLiteral("asm"))
        return QStringLiteral("Solid Edge Baugruppe");
    if (suffix == QStringLiteral("psm"))
        return QStringLiteral("Solid Edge Blechteil");
    return QStringLiteral("Solid Edge Bauteil");
}

void readSummary(const CompoundFile& container, ImportResult& result)
{
    const QString streamName = QChar(5) + QStringLiteral("SummaryInformation");
    for (int i = 0; i < int(container.entries.size()); ++i) {
        const CompoundFile::DirEntry& entry = container.entries[std::size_t(i)];
        if (entry.type != 2 || entry.name != streamName)
            continue;
        const auto properties
            = CompoundFile::readPropertySet(container.readStream(i), &result.preview);
        for (auto it = properties.constBegin(); it != properties.constEnd(); ++it) {
            const auto label = propertyLabels().find(it.key());
            if (label == propertyLabels().end() || it.value().toString().isEmpty())
                continue;
            // Stored times are UTC; they are shown as stored, not in local time.
            const QString text
                = it.value().typeId() == QMetaType::QDateTime
                      ? it.value().toDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm"))
                      : it.value().toString();
            result.notes << label->second + QStringLiteral(": ") + text;
        }
    }
}

// Streams outside the PARASOLID storage are always examined; inside it the whole
// transmissions (".X_B") and partitions (".P_B"), not the deltas (".D_B") that only make
// sense on top of a partition.
bool examined(const CompoundFile& container, int index)
{
    const QString path = container.entryPath(index).toUpper();
    if (!path.startsWith(QStringLiteral("PARASOLID/")))
        return true;
    return path.contains(QStringLiteral("STREAM"))
           && (path.endsWith(QStringLiteral(".X_B")) || path.endsWith(QStringLiteral(".P_B")));
}

// The first zlib header within the first 64 bytes, or -1.
qsizetype zlibStart(const QByteArray& stream)
{
    const qsizetype last = std::min<qsizetype>(zlibSearchWindow - 1, stream.size() - 3);
    for (qsizetype p = 0; p <= last; ++p) {
        const auto flags = quint8(stream[p + 1]);
        if (quint8(stream[p]) == 0x78 && (flags == 0x9C || flags == 0xDA || flags == 0x01))
            return p;
    }
    return -1;
}

// The candidates found so far and what they may still take. Directory entries of a
// hostile file can share one sector chain, so that every entry reads the same bytes
// again: a sound file stores each sector once, so a stream is read only when it fits
// into what is left of the file and its chain reaches no sector an earlier stream took,
// and inflating stops once maxInflatedTotal bytes came out.
struct CandidateSearch {
    std::vector<QByteArray> candidates;
    CompoundFile::SectorClaims claims;
    qint64 plainLeft = 0;
    qint64 inflatedLeft = maxInflatedTotal;
    bool plainSkipped = false;
    bool inflatedSkipped = false;

    // A copy equal to an earlier one (a plain and a compressed copy of one transmission)
    // would give its bodies twice.
    bool isNewCandidate(const QByteArray& bytes) const
    {
        return !bytes.isEmpty() && looksLikeParasolid(bytes)
               && std::find(candidates.begin(), candidates.end(), bytes) == candidates.end();
    }

    // The stream of entry index, or nothing when it cannot be a stream of its own. Both
    // checks come before any byte is copied.
    QByteArray readUnshared(const CompoundFile& container, int index)
    {
        bool shared = false;
        QByteArray stream;
        if (container.entries[std::size_t(index)].size <= quint64(plainLeft))
            stream = container.readStream(index, &claims, &shared);
        else
            shared = true;
        plainSkipped = plainSkipped || shared;
        plainLeft -= stream.size();
        return stream;
    }

    void addPlain(const QByteArray& stream)
    {
        if (isNewCandidate(stream))
            candidates.push_back(stream);
    }

    void addInflated(const QByteArray& stream, qsizetype start)
    {
        if (inflatedLeft <= 0) {
            inflatedSkipped = true;
            return;
        }
        const QByteArray inflated
            = inflateZlib(stream.constData() + start, stream.size() - start, maxInflatedStream);
        inflatedLeft -= inflated.size();
        if (isNewCandidate(inflated))
            candidates.push_back(inflated);
    }
};

CandidateSearch findCandidates(const CompoundFile& container, const CancelCheck& cancelled)
{
    CandidateSearch search;
    search.plainLeft = container.data.size();
    for (int i = 0; i < int(container.entries.size()); ++i) {
        if (cancelRequested(cancelled))
            break;
        const CompoundFile::DirEntry& entry = container.entries[std::size_t(i)];
        if (entry.type != 2 || entry.size < quint64(minCandidateSize) || !examined(container, i))
            continue;
        const QByteArray stream = search.readUnshared(container, i);
        search.addPlain(stream);
        if (stream.size() <= 2)
            continue;
        const qsizetype start = zlibStart(stream);
        if (start >= 0)
            search.addInflated(stream, start);
    }
    return search;
}

// The notes on streams the budgets left out.
QStringList skippedNotes(const CandidateSearch& search)
{
    QStringList notes;
    if (search.plainSkipped)
        notes << QStringLiteral("Weitere Datenströme übersprungen (sie teilen sich Sektoren)");
    if (search.inflatedSkipped)
        notes << QStringLiteral("Weitere komprimierte Datenströme übersprungen (mehr als 512 MiB "
                                "entpackt)");
    return notes;
}

void report(const ProgressCallback& progress, int percent, const QString& label)
{
    if (progress)
        progress(percent, label);
}

} // namespace

ImportResult readSolidEdge(const QString& path, const ProgressCallback& progress,
                           const CancelCheck& cancelled)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ImportResult result;
        result.format = formatFor(QFileInfo(path).suffix().toLower());
        result.error = file.errorString();
        return result;
    }
    return readSolidEdgeData(file.readAll(), path, progress, cancelled);
}

ImportResult readSolidEdgeData(const QByteArray& bytes, const QString& path,
                               const ProgressCallback& progress, const CancelCheck& cancelled)
{
    ImportResult result;
    result.format = formatFor(QFileInfo(path).suffix().toLower());
    CompoundFile container;
    QString containerError;
    if (!container.open(bytes, &containerError)) {
        result.error = QStringLiteral("Keine gültige Solid-Edge-Datei: ") + containerError;
        return result;
    }
    report(progress, 10, QStringLiteral("Eigenschaften"));
    readSummary(container, result);

    report(progress, 30, QStringLiteral("Geometrie suchen"));
    const CandidateSearch search = findCandidates(container, cancelled);

    report(progress, 60, QStringLiteral("Geometrie übersetzen"));
    QString message;
    const QString baseName = QFileInfo(path).completeBaseName();
    for (const QByteArray& candidate : search.candidates) {
        if (cancelRequested(cancelled))
            break;
        for (ImportedBody& body : readParasolid(candidate, &message, cancelled)) {
            if (body.name.isEmpty())
                body.name = baseName;
            result.bodies.push_back(std::move(body));
        }
    }
    if (cancelRequested(cancelled)) {
        result.bodies.clear();
        result.error = readCancelledMessage();
        return result;
    }
    QStringList notes = skippedNotes(search);
    if (!notes.isEmpty()) {
        if (!message.isEmpty())
            notes.prepend(message);
        message = notes.join(QStringLiteral("; "));
    }

    if (!result.bodies.empty()) {
        result.ok = true;
        result.warning = message;
    } else if (search.candidates.empty()) {
        result.error = QStringLiteral(
            "Diese Solid-Edge-Datei enthält keine lesbaren Parasolid-Geometriedaten (Siemens "
            "verschlüsselt bzw. komprimiert sie proprietär). Eigenschaften und Vorschaubild "
            "wurden gelesen.\n\nFür die Geometrie in Solid Edge „Speichern unter → STEP "
            "(*.stp)“ wählen und die STEP-Datei in QorCAD öffnen – Namen, Farben und "
            "Baugruppenstruktur bleiben dabei erhalten.");
    } else {
        result.error = QStringLiteral("Die Parasolid-Daten dieser Datei konnten nicht übersetzt "
                                      "werden: ")
                       + message
                       + QStringLiteral("\n\nBitte in Solid Edge als STEP speichern und die "
                                        "STEP-Datei öffnen.");
    }
    return result;
}

} // namespace qor::io
