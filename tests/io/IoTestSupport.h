#pragma once

// Helpers the reader and writer tests share: little-endian fields, test data,
// files and volumes.

#include "io/Import.h"
#include "tests/common/ShapeChecks.h"

#include <BRepGProp.hxx>
#include <GProp_GProps.hxx>

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cmath>
#include <cstdint>
#include <random>

namespace qor::test {

inline std::uint16_t u16(const QByteArray& bytes, qint64 at)
{
    return std::uint16_t(std::uint8_t(bytes[at]) | (std::uint8_t(bytes[at + 1]) << 8));
}

inline std::uint32_t u32(const QByteArray& bytes, qint64 at)
{
    return std::uint32_t(u16(bytes, at)) | (std::uint32_t(u16(bytes, at + 2)) << 16);
}

inline void setU16(QByteArray& bytes, qint64 at, std::uint16_t v)
{
    bytes[at] = char(v & 0xFF);
    bytes[at + 1] = char(v >> 8);
}

inline void setU32(QByteArray& bytes, qint64 at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char((v >> (8 * i)) & 0xFF);
}

inline void appendU16(QByteArray& out, std::uint16_t v)
{
    out.append(char(v & 0xFF));
    out.append(char(v >> 8));
}

inline void appendU32(QByteArray& out, std::uint32_t v)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.append(char((v >> shift) & 0xFF));
}

inline void appendU64(QByteArray& out, std::uint64_t v)
{
    appendU32(out, std::uint32_t(v));
    appendU32(out, std::uint32_t(v >> 32));
}

inline QByteArray randomBytes(qsizetype n, unsigned seed)
{
    std::mt19937 gen(seed);
    QByteArray bytes(n, '\0');
    for (char& c : bytes)
        c = char(gen() & 0xFF);
    return bytes;
}

// Unsigned: mesh bodies read back may face either way.
inline double volumeOf(const TopoDS_Shape& shape)
{
    GProp_GProps props;
    BRepGProp::VolumeProperties(shape, props);
    return std::abs(props.Mass());
}

inline const io::ImportedBody* findBody(const io::ImportResult& result, const QString& name)
{
    for (const io::ImportedBody& body : result.bodies) {
        if (body.name == name)
            return &body;
    }
    return nullptr;
}

} // namespace qor::test
