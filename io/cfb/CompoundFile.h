#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <vector>

namespace qor::io {

// Read-only access to an OLE2 compound file held whole in memory (512- and
// 4096-byte sectors). The bytes are untrusted: every chain ends at the end of
// the file, at the end of its table or at its first repeated sector, and the
// directory tree is walked without recursion, so damaged or hostile files cost
// time and memory in proportion to their size.
class CompoundFile {
public:
    struct DirEntry {
        QString name; // empty when the stored name length is out of range
        int type = 0; // 0 unused, 1 storage, 2 stream, 5 root storage
        std::uint32_t left = 0xFFFFFFFF;
        std::uint32_t right = 0xFFFFFFFF;
        std::uint32_t child = 0xFFFFFFFF;
        std::uint32_t startSector = 0;
        std::uint64_t size = 0;
        QByteArray clsid; // 16 bytes as stored
        // Enclosing storage from the tree walk: 0 directly under the root,
        // -2 for the root itself, -1 when the walk never reached the entry.
        int parent = -1;
    };

    QByteArray data;
    std::uint32_t sectorSize = 512;
    std::uint32_t miniSectorSize = 64;
    std::uint32_t miniStreamCutoff = 4096;
    std::vector<std::uint32_t> fat;
    std::vector<std::uint32_t> miniFat;
    std::vector<DirEntry> entries; // directory order; index 0 is the root
    QByteArray miniStream;

    // Writes a German message to error (when given) and answers false when the
    // bytes are no usable compound file. After a failed open the object is
    // only destroyed.
    bool open(const QByteArray& bytes, QString* error = nullptr);

    // The sectors and mini sectors that earlier reads passed. In a sound file no two
    // streams share a sector; a reader that takes every stream hands the same claims to
    // each read, so that a hostile directory of many entries on one chain costs the
    // chain once, not once per entry.
    struct SectorClaims {
        std::vector<bool> sectors;
        std::vector<bool> miniSectors;
    };

    // The FAT entry of sector; end of chain for sectors outside the table.
    std::uint32_t nextSector(std::uint32_t sector) const;
    // The sectors of a chain concatenated, cut to maxBytes when that is not 0.
    // A chain that leaves the file or its table, or comes back to a sector it
    // already passed, simply ends there. With claims, a chain that reaches a
    // claimed sector gives nothing and sets shared; otherwise its sectors are
    // claimed.
    QByteArray readChain(std::uint32_t start, std::uint64_t maxBytes, bool mini,
                         SectorClaims* claims = nullptr, bool* shared = nullptr) const;
    // The bytes of a stream entry; empty for a bad index or a non-stream. Claims
    // as for readChain.
    QByteArray readStream(int index, SectorClaims* claims = nullptr, bool* shared = nullptr) const;
    // Names from the top-level storage down to the entry, joined by "/";
    // empty for the root. At most the innermost 64 names.
    QString entryPath(int index) const;
    // First index whose entryPath equals path exactly, or -1. The root for "".
    int findEntry(const QString& path) const;

    // The first section of a property-set stream, keyed by property id. A
    // clipboard thumbnail (device-independent bitmap) is stored as a BMP file
    // through thumbnail when that is given.
    static QMap<int, QVariant> readPropertySet(const QByteArray& stream,
                                               QByteArray* thumbnail = nullptr);

private:
    std::vector<std::uint32_t> chainSectors(std::uint32_t start, std::uint64_t maxBytes,
                                            bool mini) const;
    bool sectorInFile(std::uint32_t sector) const;
    qint64 sectorOffset(std::uint32_t sector) const;
    qint64 sectorsInFile() const;
    bool readFatSectorList(std::vector<std::uint32_t>& list, QString* error) const;
    bool readFat(const std::vector<std::uint32_t>& list, QString* error);
    void readDirectory(std::uint32_t firstSector);
    void walkTree();
};

// The root entry's class id as upper-case GUID text; empty without entries.
QString formatGuid(const CompoundFile& file);

} // namespace qor::io
