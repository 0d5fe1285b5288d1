#pragma once

// Lays out small OLE2 compound files for the reader tests: header, FAT (with
// DIFAT sectors when more than 109 FAT sectors are needed), directory, mini
// FAT, mini stream and regular streams, each chain in consecutive sectors.
// Tests that need damaged files build a valid one and patch its bytes, or
// rewrite the directory records before the layout.

#include "IoTestSupport.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace qor::test {

constexpr std::uint32_t cfbNoEntry = 0xFFFFFFFF;
constexpr std::uint32_t cfbFree = 0xFFFFFFFF;
constexpr std::uint32_t cfbEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t cfbFatSector = 0xFFFFFFFD;
constexpr std::uint32_t cfbDifatSector = 0xFFFFFFFC;

inline std::uint32_t cfbSectorSize(const QByteArray& file)
{
    return 1U << (std::uint8_t(file[0x1E]) % 32);
}

inline qint64 cfbSectorOffset(const QByteArray& file, std::uint32_t sector)
{
    return (qint64(sector) + 1) * cfbSectorSize(file);
}

// Where the FAT entry of sector lies; only for files whose FAT sectors are all
// listed in the header.
inline qint64 cfbFatEntryOffset(const QByteArray& file, std::uint32_t sector)
{
    const std::uint32_t perSector = cfbSectorSize(file) / 4;
    const std::uint32_t fatSector = u32(file, 0x4C + 4 * (sector / perSector));
    return cfbSectorOffset(file, fatSector) + 4 * (sector % perSector);
}

// Offset of directory entry index, for files whose directory lies in
// consecutive sectors (all files this writer makes).
inline qint64 cfbEntryOffset(const QByteArray& file, int index)
{
    return cfbSectorOffset(file, u32(file, 0x30)) + 128 * qint64(index);
}

// One directory entry as it will be written.
struct CfbRecord {
    QString name;
    int nameBytes = -1; // stored name length; -1 takes it from name
    std::uint8_t type = 0;
    std::uint32_t left = cfbNoEntry;
    std::uint32_t right = cfbNoEntry;
    std::uint32_t child = cfbNoEntry;
    QByteArray clsid = QByteArray(16, '\0');
    QByteArray data; // contents of a stream
};

class CompoundFileWriter {
public:
    explicit CompoundFileWriter(int sectorShift = 9, std::uint32_t miniStreamCutoff = 4096)
        : shift(sectorShift), cutoff(miniStreamCutoff)
    {
        nodes.push_back({QStringLiteral("Root Entry"), 5, -1, {}});
    }

    int addStorage(const QString& name, int parent = 0)
    {
        nodes.push_back({name, 1, parent, {}});
        return int(nodes.size()) - 1;
    }

    int addStream(const QString& name, const QByteArray& data, int parent = 0)
    {
        nodes.push_back({name, 2, parent, data});
        return int(nodes.size()) - 1;
    }

    // Entries in the order they were added (the root first), the children of
    // every storage linked as a balanced tree in the format's name order.
    std::vector<CfbRecord> records() const
    {
        std::vector<CfbRecord> out;
        for (const Node& node : nodes) {
            CfbRecord record;
            record.name = node.name;
            record.type = node.type;
            record.data = node.data;
            out.push_back(record);
        }
        for (std::size_t storage = 0; storage < nodes.size(); ++storage) {
            std::vector<int> children;
            for (std::size_t i = 1; i < nodes.size(); ++i) {
                if (nodes[i].parent == int(storage))
                    children.push_back(int(i));
            }
            std::sort(children.begin(), children.end(), [this](int a, int b) {
                const QString& x = nodes[a].name;
                const QString& y = nodes[b].name;
                if (x.size() != y.size())
                    return x.size() < y.size();
                return x.toUpper() < y.toUpper();
            });
            out[storage].child = linkBalanced(out, children, 0, children.size());
        }
        return out;
    }

    QByteArray build() const { return layout(records()); }

    // Writes the file for the given records: stream data below the cutoff goes
    // into the mini stream, the rest into regular sectors; start sectors and
    // sizes are filled in here.
    QByteArray layout(const std::vector<CfbRecord>& records) const
    {
        const std::uint32_t sectorSize = 1U << shift;
        const std::uint32_t perSector = sectorSize / 4;
        constexpr std::uint32_t miniSize = 64;

        std::vector<std::uint32_t> starts(records.size(), cfbEndOfChain);
        QByteArray miniStream;
        std::vector<std::uint32_t> miniFat;
        std::vector<const QByteArray*> regular;
        std::vector<std::size_t> regularOwners;
        for (std::size_t i = 0; i < records.size(); ++i) {
            const QByteArray& data = records[i].data;
            if (records[i].type != 2 || data.isEmpty())
                continue;
            if (std::uint32_t(data.size()) < cutoff) {
                const auto first = std::uint32_t(miniFat.size());
                const auto count = std::uint32_t((data.size() + miniSize - 1) / miniSize);
                for (std::uint32_t k = 0; k < count; ++k)
                    miniFat.push_back(k + 1 < count ? first + k + 1 : cfbEndOfChain);
                starts[i] = first;
                miniStream.append(data);
                miniStream.append(QByteArray(qsizetype(count) * miniSize - data.size(), '\0'));
            } else {
                regular.push_back(&data);
                regularOwners.push_back(i);
            }
        }

        const auto sectorsFor = [sectorSize](qint64 bytes) {
            return std::uint32_t((bytes + sectorSize - 1) / sectorSize);
        };
        const std::uint32_t dirSectors = sectorsFor(qint64(records.size()) * 128);
        const std::uint32_t miniFatSectors = sectorsFor(qint64(miniFat.size()) * 4);
        const std::uint32_t miniStreamSectors = sectorsFor(miniStream.size());
        std::vector<std::uint32_t> chainLengths{dirSectors, miniFatSectors, miniStreamSectors};
        for (const QByteArray* data : regular)
            chainLengths.push_back(sectorsFor(data->size()));
        std::uint32_t content = 0;
        for (std::uint32_t n : chainLengths)
            content += n;

        std::uint32_t fatCount = 1;
        std::uint32_t difatCount = 0;
        for (;;) {
            const std::uint32_t fatNeeded = sectorsFor(4 * qint64(content + fatCount + difatCount));
            const std::uint32_t difatNeeded =
                fatNeeded > 109 ? (fatNeeded - 109 + perSector - 2) / (perSector - 1) : 0;
            if (fatNeeded == fatCount && difatNeeded == difatCount)
                break;
            fatCount = fatNeeded;
            difatCount = difatNeeded;
        }

        std::vector<std::uint32_t> fat(std::size_t(fatCount) * perSector, cfbFree);
        for (std::uint32_t s = 0; s < fatCount; ++s)
            fat[s] = cfbFatSector;
        for (std::uint32_t s = 0; s < difatCount; ++s)
            fat[fatCount + s] = cfbDifatSector;
        std::vector<std::uint32_t> chainStarts;
        std::uint32_t next = fatCount + difatCount;
        for (std::uint32_t length : chainLengths) {
            chainStarts.push_back(length ? next : cfbEndOfChain);
            for (std::uint32_t k = 0; k < length; ++k, ++next)
                fat[next] = k + 1 < length ? next + 1 : cfbEndOfChain;
        }
        for (std::size_t r = 0; r < regular.size(); ++r)
            starts[regularOwners[r]] = chainStarts[3 + r];

        QByteArray directory;
        for (std::size_t i = 0; i < records.size(); ++i) {
            std::uint64_t size = records[i].type == 2 ? std::uint64_t(records[i].data.size()) : 0;
            std::uint32_t start = starts[i];
            if (i == 0) {
                size = std::uint64_t(miniStream.size());
                start = chainStarts[2];
            }
            directory.append(entryBytes(records[i], start, size));
        }
        CfbRecord unused;
        unused.nameBytes = 0;
        while (directory.size() % sectorSize != 0)
            directory.append(entryBytes(unused, 0, 0));

        QByteArray miniFatBytes;
        for (std::uint32_t v : miniFat)
            appendU32(miniFatBytes, v);

        QByteArray file = header(fatCount, difatCount, chainStarts[0], chainStarts[1],
                                 miniFatSectors, dirSectors);
        file.append(QByteArray(qsizetype(sectorSize) - file.size(), '\0'));
        for (std::uint32_t v : fat)
            appendU32(file, v);
        for (std::uint32_t d = 0; d < difatCount; ++d) {
            for (std::uint32_t k = 0; k + 1 < perSector; ++k) {
                const std::uint32_t index = 109 + d * (perSector - 1) + k;
                appendU32(file, index < fatCount ? index : cfbFree);
            }
            appendU32(file, d + 1 < difatCount ? fatCount + d + 1 : cfbEndOfChain);
        }
        const auto appendChain = [&file, sectorSize](const QByteArray& bytes) {
            file.append(bytes);
            const qint64 tail = bytes.size() % sectorSize;
            if (tail != 0)
                file.append(QByteArray(sectorSize - tail, '\0'));
        };
        appendChain(directory);
        appendChain(miniFatBytes);
        appendChain(miniStream);
        for (const QByteArray* data : regular)
            appendChain(*data);
        return file;
    }

private:
    struct Node {
        QString name;
        std::uint8_t type;
        int parent;
        QByteArray data;
    };

    static std::uint32_t linkBalanced(std::vector<CfbRecord>& out, const std::vector<int>& sorted,
                                      std::size_t begin, std::size_t end)
    {
        if (begin >= end)
            return cfbNoEntry;
        const std::size_t middle = begin + (end - begin) / 2;
        CfbRecord& record = out[std::size_t(sorted[middle])];
        record.left = linkBalanced(out, sorted, begin, middle);
        record.right = linkBalanced(out, sorted, middle + 1, end);
        return std::uint32_t(sorted[middle]);
    }

    static QByteArray entryBytes(const CfbRecord& record, std::uint32_t start, std::uint64_t size)
    {
        QByteArray out;
        const QString name = record.name.left(31);
        for (QChar c : name)
            appendU16(out, c.unicode());
        out.append(QByteArray(64 - out.size(), '\0'));
        appendU16(out, std::uint16_t(record.nameBytes >= 0 ? record.nameBytes
                                                          : 2 * (name.size() + 1)));
        out.append(char(record.type));
        out.append(char(1)); // black
        appendU32(out, record.left);
        appendU32(out, record.right);
        appendU32(out, record.child);
        out.append(record.clsid.leftJustified(16, '\0', true));
        out.append(QByteArray(20, '\0'));
        appendU32(out, start);
        appendU64(out, size);
        return out;
    }

    QByteArray header(std::uint32_t fatCount, std::uint32_t difatCount, std::uint32_t dirStart,
                      std::uint32_t miniFatStart, std::uint32_t miniFatSectors,
                      std::uint32_t dirSectors) const
    {
        QByteArray out = QByteArray::fromHex("D0CF11E0A1B11AE1");
        out.append(QByteArray(16, '\0'));
        appendU16(out, 0x3E);
        appendU16(out, shift == 12 ? 4 : 3);
        appendU16(out, 0xFFFE);
        appendU16(out, std::uint16_t(shift));
        appendU16(out, 6);
        out.append(QByteArray(6, '\0'));
        appendU32(out, shift == 12 ? dirSectors : 0);
        appendU32(out, fatCount);
        appendU32(out, dirStart);
        appendU32(out, 0);
        appendU32(out, cutoff);
        appendU32(out, miniFatStart);
        appendU32(out, miniFatSectors);
        appendU32(out, difatCount ? fatCount : cfbEndOfChain);
        appendU32(out, difatCount);
        for (std::uint32_t i = 0; i < 109; ++i)
            appendU32(out, i < fatCount ? i : cfbFree);
        return out;
    }

    int shift;
    std::uint32_t cutoff;
    std::vector<Node> nodes; // node 0 is the root
};

} // namespace qor::test
