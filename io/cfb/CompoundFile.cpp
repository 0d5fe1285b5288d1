#include "io/cfb/CompoundFile.h"

#include <QDateTime>
#include <QStringList>

#include <algorithm>
#include <array>
#include <utility>

namespace qor::io {

namespace {

constexpr std::array<unsigned char, 8> signature{0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr qint64 headerSize = 512;
constexpr int headerDifatEntries = 109;
constexpr std::uint32_t lastRegularSector = 0xFFFFFFFD;
constexpr std::uint32_t endOfChain = 0xFFFFFFFE;
constexpr std::uint32_t freeSector = 0xFFFFFFFF;
constexpr qint64 maxChainSectors = 10'000'000;
constexpr qint64 dirEntrySize = 128;
constexpr int maxPathNames = 64;
// Milliseconds from 1601-01-01, where file times count from, to 1970-01-01.
constexpr qint64 fileTimeEpochMs = 11'644'473'600'000LL;

std::uint16_t u16At(const char* p)
{
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return std::uint16_t(b[0] | (b[1] << 8));
}

std::uint32_t u32At(const char* p)
{
    return std::uint32_t(u16At(p)) | (std::uint32_t(u16At(p + 2)) << 16);
}

std::uint64_t u64At(const char* p)
{
    return std::uint64_t(u32At(p)) | (std::uint64_t(u32At(p + 4)) << 32);
}

// Sibling and child ids count as signed: every negative id means none.
bool isEntryId(std::uint32_t id, std::size_t count)
{
    return std::int32_t(id) >= 0 && id < count;
}

QString utf16At(const char* p, qint64 units)
{
    QString text(units, Qt::Uninitialized);
    for (qint64 i = 0; i < units; ++i)
        text[i] = QChar(u16At(p + 2 * i));
    return text;
}

CompoundFile::DirEntry decodeEntry(const char* p, bool wideSize)
{
    CompoundFile::DirEntry entry;
    const std::uint16_t nameBytes = u16At(p + 0x40);
    if (nameBytes >= 2 && nameBytes <= 64)
        entry.name = utf16At(p, nameBytes / 2 - 1);
    entry.type = static_cast<unsigned char>(p[0x42]);
    entry.left = u32At(p + 0x44);
    entry.right = u32At(p + 0x48);
    entry.child = u32At(p + 0x4C);
    entry.clsid = QByteArray(p + 0x50, 16);
    entry.startSector = u32At(p + 0x74);
    entry.size = wideSize ? u64At(p + 0x78) : u32At(p + 0x78);
    return entry;
}

void putU32(QByteArray& out, std::uint32_t v)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.append(char((v >> shift) & 0xFF));
}

// A BMP file around a device-independent bitmap of at least 40 bytes.
QByteArray bmpFromDib(const QByteArray& dib)
{
    const char* d = dib.constData();
    const std::uint64_t headerBytes = u32At(d);
    const std::uint32_t coloursUsed = u32At(d + 32);
    const std::uint16_t bitCount = u16At(d + 14);
    std::uint64_t palette = 0;
    if (coloursUsed != 0)
        palette = 4ULL * coloursUsed;
    else if (bitCount < 9)
        palette = 4ULL << bitCount;
    if (u32At(d + 16) == 3)
        palette += 12; // bit-field masks
    QByteArray bmp("BM");
    putU32(bmp, std::uint32_t(dib.size() + 14));
    putU32(bmp, 0);
    putU32(bmp, std::uint32_t(14 + headerBytes + palette));
    bmp.append(dib);
    return bmp;
}

// One property value of a section that ends limit bytes after its start.
struct PropertyReader {
    const char* section;
    qint64 limit;
    std::uint32_t codePage = 1252;

    bool fits(qint64 offset, qint64 length) const { return offset + length <= limit; }

    void read(std::uint32_t id, qint64 o, QMap<int, QVariant>& values, QByteArray* thumbnail)
    {
        const char* value = section + o + 4;
        switch (u16At(section + o)) {
        case 2: { // VT_I2
            values.insert(int(id), int(std::int16_t(u16At(value))));
            if (id == 1)
                codePage = u16At(value);
            break;
        }
        case 3: // VT_I4
            values.insert(int(id), int(std::int32_t(u32At(value))));
            break;
        case 30: { // VT_LPSTR
            const qint64 n = u32At(value);
            if (!fits(o + 8, n))
                return;
            QByteArray bytes(value + 4, n);
            while (bytes.endsWith('\0'))
                bytes.chop(1);
            values.insert(int(id), codePage == 65001 ? QString::fromUtf8(bytes)
                                                     : QString::fromLatin1(bytes));
            break;
        }
        case 31: { // VT_LPWSTR
            const qint64 n = u32At(value);
            if (!fits(o + 8, 2 * n))
                return;
            QString text = utf16At(value + 4, n);
            while (text.endsWith(QChar(0)))
                text.chop(1);
            values.insert(int(id), text);
            break;
        }
        case 64: { // VT_FILETIME
            if (!fits(o + 4, 8))
                return;
            const std::uint64_t ticks = u64At(value);
            if (ticks == 0)
                return;
            const qint64 ms = qint64(ticks / 10000) - fileTimeEpochMs;
            values.insert(int(id), QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC));
            break;
        }
        case 71: { // VT_CF
            const qint64 n = u32At(value);
            if (!thumbnail || n <= 7 || !fits(o + 8, n))
                return;
            if (std::int32_t(u32At(value + 4)) != -1 || u32At(value + 8) != 8) // CF_DIB
                return;
            if (n - 8 >= 40)
                *thumbnail = bmpFromDib(QByteArray(value + 12, n - 8));
            break;
        }
        default: break;
        }
    }
};

bool fail(QString* error, const QString& message)
{
    if (error)
        *error = message;
    return false;
}

} // namespace

qint64 CompoundFile::sectorsInFile() const
{
    return std::max<qint64>(0, data.size() / sectorSize - 1);
}

// In 64 bits, so that no sector number wraps around onto the header.
qint64 CompoundFile::sectorOffset(std::uint32_t sector) const
{
    return (qint64(sector) + 1) * sectorSize;
}

bool CompoundFile::sectorInFile(std::uint32_t sector) const
{
    return sectorOffset(sector) + sectorSize <= data.size();
}

bool CompoundFile::open(const QByteArray& bytes, QString* error)
{
    data = bytes;
    if (data.size() < headerSize
        || !std::equal(signature.begin(), signature.end(),
                       reinterpret_cast<const unsigned char*>(data.constData())))
        return fail(error, QStringLiteral("Kein OLE-Verbunddokument"));

    const char* header = data.constData();
    const std::uint16_t sectorShift = u16At(header + 0x1E);
    sectorSize = 1U << (sectorShift % 32);
    miniSectorSize = 1U << (u16At(header + 0x20) % 32);
    if (sectorShift != 9 && sectorShift != 12)
        return fail(error, QStringLiteral("Ungültige Sektorgröße"));
    miniStreamCutoff = u32At(header + 0x38);

    std::vector<std::uint32_t> fatSectors;
    if (!readFatSectorList(fatSectors, error) || !readFat(fatSectors, error))
        return false;

    readDirectory(u32At(header + 0x30));
    if (entries.empty() || entries[0].type != 5)
        return fail(error, QStringLiteral("Kein Wurzelverzeichnis"));
    walkTree();

    const std::uint64_t miniFatBytes = std::uint64_t(sectorSize) * u32At(header + 0x40);
    const QByteArray miniFatChain = readChain(u32At(header + 0x3C), miniFatBytes, false);
    miniFat.clear();
    miniFat.reserve(std::size_t(miniFatChain.size() / 4));
    for (qint64 at = 0; at + 4 <= miniFatChain.size(); at += 4)
        miniFat.push_back(u32At(miniFatChain.constData() + at));

    miniStream = readChain(entries[0].startSector, entries[0].size, false);
    return true;
}

// The header's 109 entries, then the DIFAT sector chain. A DIFAT chain that
// comes back to one of its sectors ends there instead of running for as many
// rounds as the header claims.
bool CompoundFile::readFatSectorList(std::vector<std::uint32_t>& list, QString* error) const
{
    const char* header = data.constData();
    const std::uint32_t fatSectorCount = u32At(header + 0x2C);
    for (int i = 0; i < headerDifatEntries && list.size() < fatSectorCount; ++i) {
        const std::uint32_t sector = u32At(header + 0x4C + 4 * i);
        if (sector == freeSector)
            break;
        list.push_back(sector);
    }

    std::uint32_t sector = u32At(header + 0x44);
    const std::uint32_t difatCount = u32At(header + 0x48);
    if (sector > lastRegularSector || difatCount == 0)
        return true;
    std::vector<bool> seen(std::size_t(sectorsInFile()), false);
    const std::uint32_t perSector = sectorSize / 4;
    for (std::uint32_t visited = 0; visited < difatCount && sector <= lastRegularSector;
         ++visited) {
        if (!sectorInFile(sector))
            return fail(error, QStringLiteral("Beschädigte DIFAT"));
        if (seen[sector])
            break;
        seen[sector] = true;
        const char* p = data.constData() + sectorOffset(sector);
        for (std::uint32_t i = 0; i + 1 < perSector && list.size() < fatSectorCount; ++i)
            list.push_back(u32At(p + 4 * i));
        sector = u32At(p + 4 * (perSector - 1));
    }
    return true;
}

// Every listed sector must lie in the file, but only as many FAT sectors are
// kept as it takes to describe the sectors the file has: later ones could only
// describe sectors that no chain can reach, and a header may claim billions.
bool CompoundFile::readFat(const std::vector<std::uint32_t>& list, QString* error)
{
    const std::uint32_t perSector = sectorSize / 4;
    const std::size_t needed = std::size_t((sectorsInFile() + perSector - 1) / perSector);
    fat.clear();
    fat.reserve(std::min(list.size(), needed) * perSector);
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (!sectorInFile(list[i]))
            return fail(error, QStringLiteral("Beschädigte FAT"));
        if (i >= needed)
            continue;
        const char* p = data.constData() + sectorOffset(list[i]);
        for (std::uint32_t k = 0; k < perSector; ++k)
            fat.push_back(u32At(p + 4 * k));
    }
    return true;
}

void CompoundFile::readDirectory(std::uint32_t firstSector)
{
    const QByteArray directory = readChain(firstSector, 0, false);
    entries.clear();
    entries.reserve(std::size_t(directory.size() / dirEntrySize));
    for (qint64 at = 0; at + dirEntrySize <= directory.size(); at += dirEntrySize)
        entries.push_back(decodeEntry(directory.constData() + at, sectorSize != 512));
}

// Depth-first: an entry, then its left subtree, its right subtree and, for a
// storage, its children. An explicit stack keeps that order without letting a
// degenerate tree (a long sibling chain) exhaust the call stack; the first
// visit of an entry fixes its parent.
void CompoundFile::walkTree()
{
    entries[0].parent = -2;
    std::vector<std::pair<std::uint32_t, int>> pending{{entries[0].child, 0}};
    while (!pending.empty()) {
        const auto [id, parent] = pending.back();
        pending.pop_back();
        if (!isEntryId(id, entries.size()) || entries[id].parent != -1)
            continue;
        DirEntry& entry = entries[id];
        entry.parent = parent;
        if (entry.type == 1 || entry.type == 5)
            pending.emplace_back(entry.child, int(id));
        pending.emplace_back(entry.right, parent);
        pending.emplace_back(entry.left, parent);
    }
}

std::uint32_t CompoundFile::nextSector(std::uint32_t sector) const
{
    return sector < fat.size() ? fat[sector] : endOfChain;
}

// The sectors of a chain in order, as many as maxBytes needs (all when it is 0).
std::vector<std::uint32_t> CompoundFile::chainSectors(std::uint32_t start, std::uint64_t maxBytes,
                                                      bool mini) const
{
    const std::uint64_t unit = mini ? miniSectorSize : sectorSize;
    const std::uint64_t wanted = std::min<std::uint64_t>(
        maxChainSectors, maxBytes == 0 ? maxChainSectors : (maxBytes + unit - 1) / unit);
    std::vector<std::uint32_t> sectors;
    if (mini) {
        std::vector<bool> seen(miniFat.size(), false);
        for (std::uint32_t m = start; sectors.size() < wanted && m < miniFat.size() && !seen[m];
             m = miniFat[m]) {
            if (qint64(m) * miniSectorSize + miniSectorSize > miniStream.size())
                break;
            seen[m] = true;
            sectors.push_back(m);
        }
        return sectors;
    }
    std::vector<bool> seen(std::size_t(sectorsInFile()), false);
    for (std::uint32_t sector = start; sectors.size() < wanted && sector <= lastRegularSector;
         sector = nextSector(sector)) {
        if (!sectorInFile(sector) || seen[sector])
            break;
        seen[sector] = true;
        sectors.push_back(sector);
    }
    return sectors;
}

QByteArray CompoundFile::readChain(std::uint32_t start, std::uint64_t maxBytes, bool mini,
                                   SectorClaims* claims, bool* shared) const
{
    if (mini && start > lastRegularSector)
        return {};
    const std::vector<std::uint32_t> sectors = chainSectors(start, maxBytes, mini);
    if (claims) {
        std::vector<bool>& claimed = mini ? claims->miniSectors : claims->sectors;
        claimed.resize(mini ? miniFat.size() : std::size_t(sectorsInFile()), false);
        for (const std::uint32_t sector : sectors) {
            if (claimed[sector]) {
                if (shared)
                    *shared = true;
                return {};
            }
        }
        for (const std::uint32_t sector : sectors)
            claimed[sector] = true;
    }
    const std::uint32_t unit = mini ? miniSectorSize : sectorSize;
    const char* base = mini ? miniStream.constData() : data.constData();
    QByteArray out;
    out.reserve(qsizetype(sectors.size()) * unit);
    for (const std::uint32_t sector : sectors)
        out.append(base + (mini ? qint64(sector) * unit : sectorOffset(sector)), unit);
    if (maxBytes != 0 && std::uint64_t(out.size()) > maxBytes)
        out.truncate(qsizetype(maxBytes));
    return out;
}

QByteArray CompoundFile::readStream(int index, SectorClaims* claims, bool* shared) const
{
    if (index < 0 || std::size_t(index) >= entries.size() || entries[index].type != 2)
        return {};
    const DirEntry& entry = entries[index];
    // A byte limit of 0 would read the whole chain: an empty stream is empty.
    if (entry.size == 0)
        return {};
    return readChain(entry.startSector, entry.size, entry.size < miniStreamCutoff, claims, shared);
}

QString CompoundFile::entryPath(int index) const
{
    if (index <= 0)
        return {};
    QStringList names;
    std::size_t i = std::size_t(index);
    while (i < entries.size() && names.size() < maxPathNames) {
        names.prepend(entries[i].name);
        if (entries[i].parent < 1)
            break;
        i = std::size_t(entries[i].parent);
    }
    return names.join(QLatin1Char('/'));
}

int CompoundFile::findEntry(const QString& path) const
{
    for (std::size_t i = 0; i < entries.size(); ++i) {
        // A path always ends with the entry's own name; checking that first
        // spares building the paths of a large directory.
        if (i > 0 && !path.endsWith(entries[i].name))
            continue;
        if (entryPath(int(i)) == path)
            return int(i);
    }
    return -1;
}

QMap<int, QVariant> CompoundFile::readPropertySet(const QByteArray& stream, QByteArray* thumbnail)
{
    QMap<int, QVariant> values;
    if (stream.size() < 48)
        return values;
    const qint64 start = u32At(stream.constData() + 44);
    if (stream.size() < start + 8)
        return values;
    const char* section = stream.constData() + start;
    qint64 limit = u32At(section);
    const std::uint32_t count = u32At(section + 4);
    if (start + limit > stream.size())
        limit = stream.size() - start;
    if (count == 0 || limit < 16)
        return values;

    PropertyReader reader{section, limit};
    for (qint64 i = 0; i < count && reader.fits(16 + 8 * i, 0); ++i) {
        const std::uint32_t id = u32At(section + 8 + 8 * i);
        const qint64 offset = u32At(section + 12 + 8 * i);
        if (reader.fits(offset, 8))
            reader.read(id, offset, values, thumbnail);
    }
    return values;
}

QString formatGuid(const CompoundFile& file)
{
    if (file.entries.empty())
        return {};
    const QByteArray& id = file.entries[0].clsid;
    const auto hex = [](std::uint32_t v, int digits) {
        return QString::number(v, 16).rightJustified(digits, QLatin1Char('0'));
    };
    const QString text
        = QStringLiteral("%1-%2-%3-%4-%5")
              .arg(hex(u32At(id.constData()), 8), hex(u16At(id.constData() + 4), 4),
                   hex(u16At(id.constData() + 6), 4), QString::fromLatin1(id.mid(8, 2).toHex()),
                   QString::fromLatin1(id.mid(10, 6).toHex()));
    return text.toUpper();
}

} // namespace qor::io
