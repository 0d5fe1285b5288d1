#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// Zip archives held entirely in memory: stored and deflated entries, UTF-8
// names, 32-bit sizes. No Zip64, no encryption, no multi-disk archives.
namespace qor {

struct ZipEntry {
    QString name; // always decoded as UTF-8
    std::uint32_t compressedSize = 0;
    std::uint32_t size = 0; // after inflating
    std::uint16_t method = 0; // 0 stored, 8 deflated; others cannot be read
    std::uint32_t localHeaderOffset = 0;
    std::uint32_t crc32 = 0; // of the uncompressed data; checked on reading
};

// Indexes an archive held in a byte array and hands out single entries. Never
// throws: failures are a false answer or empty data. Callers do not use a
// reader after open answered false.
class ZipReader {
public:
    QByteArray data; // the whole archive
    std::vector<ZipEntry> entries; // central-directory order

    bool open(const QByteArray& bytes);
    bool openFile(const QString& path);
    bool contains(const QString& name) const;
    // The data of the first entry named exactly so; empty when there is none.
    QByteArray read(const QString& name, qsizetype maxSize) const;
    // Empty on any problem, also when the entry is larger than maxSize or its
    // data does not match the recorded size and CRC. A legitimately empty entry
    // reads as empty too: callers that must tell the two apart check size.
    QByteArray readEntry(const ZipEntry& entry, qsizetype maxSize) const;
    QStringList names() const;
};

// Builds an archive entry by entry. An archive must stay below 4 GiB and hold at
// most 65535 entries; an add that would break a limit answers false, and from
// then on finish answers an empty array instead of a damaged archive.
class ZipWriter {
public:
    // Stores the entry when compression does not make it smaller.
    bool add(const QString& name, const QByteArray& data, bool compress);
    // Appends the central directory; called once, after the last add.
    QByteArray finish();

private:
    struct Record {
        QByteArray nameUtf8;
        std::uint32_t crc32 = 0;
        std::uint32_t size = 0;
        std::uint32_t compressedSize = 0;
        std::uint32_t localHeaderOffset = 0;
        std::uint16_t method = 0;
    };

    QByteArray out;
    std::vector<Record> entries;
    qint64 directorySize = 0; // of the central directory finish will write
    bool failed = false;
};

// Inflate helpers shared with other readers; each answers an empty array on
// failure. A truncated stream yields what was decoded up to its end.
QByteArray inflateRaw(const char* data, qsizetype size, qsizetype expectedSize);
QByteArray inflateZlib(const char* data, qsizetype size, qsizetype maxSize);
// expectedSize < 1 means unknown; the result never grows beyond maxSize.
QByteArray inflateStream(const char* data, qsizetype size, int windowBits, qsizetype expectedSize,
                         qsizetype maxSize);

} // namespace qor
