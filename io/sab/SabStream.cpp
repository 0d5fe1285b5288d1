#include "io/sab/SabStream.h"

#include "io/SaneNumbers.h"

#include <cstring>

namespace qor::io {

namespace {

constexpr std::int64_t minimumSize = 32;
constexpr std::int64_t magicSize = 15;

std::int64_t signExtend(std::uint64_t raw, int bytes)
{
    if (bytes >= 8)
        return std::int64_t(raw);
    const std::uint64_t signBit = std::uint64_t(1) << (8 * bytes - 1);
    return std::int64_t((raw ^ signBit) - signBit);
}

bool isEndMarker(const std::string& type)
{
    return type == "End-of-ACIS-data" || type == "End-of-ASM-data";
}

} // namespace

SabError::SabError(const QString& message)
    : std::runtime_error(message.toStdString())
{
}

double SabValue::number() const
{
    return kind == SabValueKind::Integer ? double(integer) : reals[0];
}

void SabReader::require(std::int64_t n) const
{
    // n comes from the file: compare against what is left instead of adding.
    if (n < 0 || n > std::int64_t(data->size()) - pos)
        throw SabError(QStringLiteral("SAB-Daten enden vorzeitig"));
}

// Unsigned little-endian of `bytes` width; the caller has checked the range.
static std::uint64_t takeUnsigned(const QByteArray& data, std::int64_t& pos, int bytes)
{
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= std::uint64_t(std::uint8_t(data.at(qsizetype(pos + i)))) << (8 * i);
    pos += bytes;
    return value;
}

double SabReader::readDouble()
{
    require(8);
    const std::uint64_t raw = takeUnsigned(*data, pos, 8);
    double value;
    std::memcpy(&value, &raw, sizeof value);
    return value;
}

std::int64_t SabReader::readInteger()
{
    require(intWidth);
    return signExtend(takeUnsigned(*data, pos, intWidth), intWidth);
}

std::string SabReader::readString(int lengthWidth)
{
    require(lengthWidth);
    const auto length = std::int64_t(takeUnsigned(*data, pos, lengthWidth));
    require(length);
    std::string text(data->constData() + pos, std::size_t(length));
    pos += length;
    return text;
}

SabValue SabReader::readValue()
{
    if (--valuesLeft < 0)
        throw SabError(QStringLiteral("SAB-Daten enthalten zu viele Werte"));
    require(1);
    const int tag = std::uint8_t(data->at(qsizetype(pos)));
    ++pos;
    SabValue value;
    auto fixed = [&](SabValueKind kind, int bytes) {
        require(bytes);
        value.kind = kind;
        value.integer = signExtend(takeUnsigned(*data, pos, bytes), bytes);
    };
    auto text = [&](SabValueKind kind, int lengthWidth) {
        value.kind = kind;
        value.text = readString(lengthWidth);
    };
    auto reals = [&](SabValueKind kind, int count) {
        require(8 * count);
        value.kind = kind;
        for (int i = 0; i < count; ++i)
            value.reals[i] = readDouble();
    };
    switch (tag) {
    case 2:
        require(1);
        value.integer = std::int64_t(takeUnsigned(*data, pos, 1));
        break;
    case 3: fixed(SabValueKind::Integer, 2); break;
    case 4: fixed(SabValueKind::Integer, intWidth); break;
    case 5: {
        require(4);
        const auto raw = std::uint32_t(takeUnsigned(*data, pos, 4));
        float single;
        std::memcpy(&single, &raw, sizeof single);
        value.kind = SabValueKind::Real;
        value.reals[0] = single;
        break;
    }
    case 6: reals(SabValueKind::Real, 1); break;
    case 7: text(SabValueKind::String, 1); break;
    case 8: text(SabValueKind::String, 2); break;
    case 9: text(SabValueKind::String, 4); break;
    case 10: value.kind = SabValueKind::True; break;
    case 11: value.kind = SabValueKind::False; break;
    case 12: fixed(SabValueKind::Pointer, intWidth); break;
    case 13: text(SabValueKind::Ident, 1); break;
    case 14: text(SabValueKind::SubIdent, 1); break;
    case 15: value.kind = SabValueKind::BlockOpen; break;
    case 16: value.kind = SabValueKind::BlockClose; break;
    case 17: value.kind = SabValueKind::Terminator; break;
    case 18: text(SabValueKind::String, 4); break;
    case 19: reals(SabValueKind::Position, 3); break;
    case 20: reals(SabValueKind::Vector, 3); break;
    case 21: fixed(SabValueKind::Enum, intWidth); break;
    case 22: reals(SabValueKind::Vector2, 2); break;
    case 23: fixed(SabValueKind::Integer, 8); break;
    default: throw SabError(QStringLiteral("Unbekanntes SAB-Tag %1").arg(tag));
    }
    return value;
}

void SabReader::readHeader()
{
    if (data->size() < minimumSize)
        throw SabError(QStringLiteral("Zu kurz für SAB"));
    const QByteArray magic = data->left(magicSize);
    if (magic == "ASM BinaryFile8")
        intWidth = 8;
    else if (magic == "ASM BinaryFile4" || magic == "ACIS BinaryFile")
        intWidth = 4;
    else
        throw SabError(QStringLiteral("Kein ACIS/ShapeManager-Binärformat"));
    pos = magicSize;
    for (int i = 0; i < 4; ++i) {
        require(intWidth);
        pos += intWidth;
    }
    // Millimetres per file unit from micrometres to kilometres.
    constexpr double maxUnitFactor = 1e6;
    for (int i = 0; i < 6; ++i) {
        const SabValue value = readValue();
        // An infinite, NaN or absurd factor would turn every body into garbage: such a
        // header counts as having no factor, like zero or a negative one.
        const double factor = value.reals[0];
        if (i == 3 && value.kind == SabValueKind::Real && isSaneNumber(factor, maxUnitFactor)
            && factor >= 1 / maxUnitFactor)
            unitScale = factor;
    }
}

void SabReader::readRecords()
{
    const std::int64_t size = data->size();
    for (std::int64_t ordinal = 0; pos < size; ++ordinal) {
        SabRecord record;
        SabValue value = readValue();
        record.index = ordinal;
        if (value.kind != SabValueKind::Ident && value.kind != SabValueKind::SubIdent) {
            record.index = value.integer;
            value = readValue();
        }
        record.type = value.text;
        while (value.kind != SabValueKind::Ident) {
            value = readValue();
            record.type += '-';
            record.type += value.text;
        }
        if (record.type.size() >= 7 && record.type.compare(0, 7, "End-of-") == 0) {
            const bool last = isEndMarker(record.type);
            records.push_back(std::move(record));
            if (last)
                return;
            continue;
        }
        while (pos < size) {
            value = readValue();
            if (value.kind == SabValueKind::Terminator)
                break;
            record.fields.push_back(std::move(value));
        }
        records.push_back(std::move(record));
    }
}

void SabReader::read(const QByteArray& bytes)
{
    data = &bytes;
    pos = 0;
    readHeader();
    readRecords();
}

SabIndex buildSabIndex(const std::vector<SabRecord>& records)
{
    SabIndex index;
    for (const SabRecord& record : records) {
        if (record.index >= 0)
            index[record.index] = &record;
    }
    return index;
}

const SabValue& SabFieldCursor::take()
{
    if (next < 0 || std::size_t(next) >= record->fields.size())
        throw SabError(
            QStringLiteral("Datensatz %1 zu kurz").arg(QString::fromStdString(record->type)));
    return record->fields[std::size_t(next++)];
}

} // namespace qor::io
