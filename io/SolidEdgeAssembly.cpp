#include "io/SolidEdgeAssembly.h"

#include "io/FileAccess.h"
#include "io/cfb/CompoundFile.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtEndian>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace qor::io {

namespace {

constexpr qint64 matrixBytes = 128;
// An assembly file holds the structure only, not the parts' geometry.
constexpr qint64 maxAssemblyBytes = 1000LL * 1000 * 1000;

struct StreamMatrix {
    qint64 offset = 0;
    std::array<double, 12> placement{};
};

double doubleAt(const char* p)
{
    quint64 bits = 0;
    std::memcpy(&bits, p, sizeof bits);
    return std::bit_cast<double>(qFromLittleEndian(bits));
}

double dot(const double* u, const double* v)
{
    return u[0] * v[0] + u[1] * v[1] + u[2] * v[2];
}

// Reads the column-major 4x4 matrix at p into m when its bottom row is
// (0 0 0 1) and its first three columns are orthonormal. The bottom row comes
// first so that most offsets cost four reads. A value that is not a number
// fails the length tests only; the translation is not looked at.
bool readRigidMatrix(const char* p, double* m)
{
    for (int i : {15, 3, 7, 11})
        m[i] = doubleAt(p + 8 * i);
    if (std::abs(m[15] - 1) > 1e-9 || std::abs(m[3]) > 1e-9 || std::abs(m[7]) > 1e-9
        || std::abs(m[11]) > 1e-9)
        return false;
    for (int i : {0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14})
        m[i] = doubleAt(p + 8 * i);
    const double* a = m;
    const double* b = m + 4;
    const double* c = m + 8;
    if (!(std::abs(dot(a, a) - 1) < 1e-6) || std::abs(dot(a, b)) > 1e-6
        || std::abs(dot(a, c)) > 1e-6)
        return false;
    if (!(std::abs(dot(b, b) - 1) < 1e-6) || std::abs(dot(b, c)) > 1e-6)
        return false;
    return std::abs(dot(c, c) - 1) < 1e-6;
}

// Row-major 3x4 from the column-major matrix, metres to millimetres.
std::array<double, 12> placementOf(const double* m)
{
    std::array<double, 12> placement{};
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col)
            placement[4 * row + col] = m[4 * col + row];
        placement[4 * row + 3] = 1000 * m[12 + row];
    }
    return placement;
}

std::vector<StreamMatrix> findMatrices(const QByteArray& stream)
{
    std::vector<StreamMatrix> found;
    double m[16];
    for (qint64 p = 0; p + matrixBytes <= stream.size();) {
        if (!readRigidMatrix(stream.constData() + p, m)) {
            ++p;
            continue;
        }
        found.push_back({p, placementOf(m)});
        p += matrixBytes;
    }
    return found;
}

std::uint16_t unitAt(const QByteArray& stream, qint64 at)
{
    return qFromLittleEndian<quint16>(stream.constData() + at);
}

bool isTextUnit(std::uint16_t unit)
{
    return unit >= 0x20 && unit <= 0x24F;
}

// Pairs each occurrence text with the last matrix recorded since the previous
// occurrence text and before it, and with the last path text seen so far.
class OccurrenceCollector {
public:
    OccurrenceCollector(std::vector<StreamMatrix> matrices, QDir folder)
        : matrices(std::move(matrices))
        , folder(std::move(folder))
    {
    }

    void text(qint64 offset, const QString& t)
    {
        static const QRegularExpression pathText(QStringLiteral(R"([\\/].*\.(par|psm|asm)$)"),
                                                 QRegularExpression::CaseInsensitiveOption);
        static const QRegularExpression occurrenceText(
            QStringLiteral(R"(^(.+\.(par|psm|asm)):(\d+)$)"),
            QRegularExpression::CaseInsensitiveOption);
        if (pathText.match(t).hasMatch())
            lastPath = t;
        if (!occurrenceText.match(t).hasMatch())
            return;
        const auto after
            = std::lower_bound(matrices.begin(), matrices.end(), offset,
                               [](const StreamMatrix& m, qint64 o) { return m.offset < o; });
        if (after != matrices.begin() && std::prev(after)->offset >= boundary
            && !lastPath.isEmpty())
            add(t, std::prev(after)->placement);
        boundary = offset;
    }

    std::vector<SolidEdgeOccurrence> occurrences;

private:
    void add(const QString& name, const std::array<double, 12>& placement)
    {
        // An unusable translation (not a number, or beyond the double range
        // once in millimetres) would place the part nowhere.
        if (!std::all_of(placement.begin(), placement.end(),
                         [](double v) { return std::isfinite(v); }))
            return;
        static const QRegularExpression separator(QStringLiteral(R"([\\/])"));
        SolidEdgeOccurrence occurrence;
        occurrence.filePath = folder.filePath(lastPath.section(separator, -1));
        occurrence.storedPath = lastPath;
        occurrence.name = name;
        occurrence.placement = placement;
        occurrences.push_back(std::move(occurrence));
    }

    std::vector<StreamMatrix> matrices;
    QDir folder;
    QString lastPath;
    qint64 boundary = 0;
};

// UTF-16LE runs of at least three units in U+0020..U+024F, at even and odd
// offsets alike; the bytes of a run are not scanned again.
void scanTexts(const QByteArray& stream, OccurrenceCollector& collector)
{
    for (qint64 o = 0; o < stream.size();) {
        qint64 f = o;
        while (f + 2 <= stream.size() && isTextUnit(unitAt(stream, f)))
            f += 2;
        const qint64 units = (f - o) / 2;
        if (units >= 3) {
            QString t(units, Qt::Uninitialized);
            for (qint64 i = 0; i < units; ++i)
                t[i] = QChar(unitAt(stream, o + 2 * i));
            collector.text(o, t);
        }
        o = f > o ? f : o + 1;
    }
}

std::vector<SolidEdgeOccurrence> failWith(QString* error, const QString& message)
{
    if (error)
        *error = message;
    return {};
}

} // namespace

std::vector<SolidEdgeOccurrence> readSolidEdgeAssembly(const QString& path, QString* error)
{
    // A named pipe or a device is refused by its status, a huge or endless file
    // before it fills the memory.
    FileContent content = readWholeFile(path, maxAssemblyBytes);
    if (!content.error.isEmpty())
        return failWith(error, content.error);
    CompoundFile container;
    QString message;
    if (!container.open(content.bytes, &message))
        return failWith(error, message);
    const int attachments = container.findEntry(QStringLiteral("Attachments"));
    if (attachments < 0)
        return failWith(error, QStringLiteral("Die Baugruppe enthält keine Verknüpfungsliste"));
    const QByteArray stream = container.readStream(attachments);

    OccurrenceCollector collector(findMatrices(stream), QFileInfo(path).absoluteDir());
    scanTexts(stream, collector);
    if (collector.occurrences.empty())
        return failWith(error, QStringLiteral("Keine Bauteil-Vorkommen in der Baugruppe gefunden"));
    return std::move(collector.occurrences);
}

} // namespace qor::io
