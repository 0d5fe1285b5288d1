#include "io/xt/XtStream.h"

#include <QString>
#include <QStringList>

#include <bit>

namespace qor::io {

void XtStream::require(qint64 n) const
{
    // pos never exceeds the size, so size - pos cannot overflow; n is compared against it
    // rather than added to pos, which a huge n could overflow.
    if (n < 0 || n > data->size() - pos)
        throw XtError(std::string("Datenstrom endet vorzeitig"));
}

std::string XtStream::readBytes(qint64 n)
{
    require(n);
    std::string bytes(data->constData() + pos, static_cast<std::size_t>(n));
    pos += n;
    return bytes;
}

std::string XtStream::readShortString()
{
    return readBytes(readU8());
}

quint8 XtStream::readU8()
{
    require(1);
    return static_cast<quint8>(data->at(pos++));
}

int XtStream::peekU8() const
{
    return pos < data->size() ? static_cast<quint8>(data->at(pos)) : -1;
}

quint16 XtStream::readU16()
{
    require(2);
    const auto* p = reinterpret_cast<const uchar*>(data->constData() + pos);
    pos += 2;
    return static_cast<quint16>((p[0] << 8) | p[1]);
}

qint16 XtStream::readI16()
{
    return static_cast<qint16>(readU16());
}

quint32 XtStream::readU32()
{
    const quint32 high = readU16();
    return (high << 16) | readU16();
}

qint32 XtStream::readI32()
{
    return static_cast<qint32>(readU32());
}

double XtStream::readReal()
{
    const quint64 high = readU32();
    return std::bit_cast<double>((high << 32) | readU32());
}

qint64 XtStream::readInt()
{
    const qint64 s = readI16();
    if (s >= 0)
        return s - 1;
    // The low part counts to 32767, not 32768: that is how the format splits large values.
    const qint64 t = readI16();
    return t * 32767 + (-s) - 1;
}

void XtNodeType::reindex()
{
    fieldIndex.clear();
    for (int i = 0; i < static_cast<int>(fields.size()); ++i)
        fieldIndex[fields[i].name] = i;
    variableTail = !fields.empty() && fields.back().count == -1;
}

XtFieldDesc readXtFieldDesc(XtStream& stream)
{
    XtFieldDesc desc;
    desc.name = stream.readShortString();
    const bool pointer = stream.readU16() != 0;
    const qint64 n = stream.readInt();
    if (pointer) {
        desc.type = 'p';
    } else {
        const std::string typeText = stream.readShortString();
        desc.type = typeText.empty() ? 'd' : typeText.back();
    }
    if (n == 1) {
        stream.readU8(); // a byte that belongs to the variable marker and carries nothing
        desc.count = -1;
    } else {
        desc.count = n != 0 ? static_cast<int>(n) : 1;
    }
    return desc;
}

std::string readXtHeader(XtStream& stream)
{
    // A negative length reads as a stream that ends early: require() refuses it.
    stream.readBytes(stream.readI16());
    const std::string key = stream.readBytes(stream.readI32());

    const QString keyText = QString::fromUtf8(key.data(), qsizetype(key.size()));
    const QStringList parts = keyText.split(u'_');
    if (parts.size() == 3 && parts[2] != QStringLiteral("13006")) {
        throw XtError(QStringLiteral("Parasolid-Schema ") + keyText
                      + QStringLiteral(" ohne eingebettete Beschreibung wird nicht unterstützt"));
    }
    if (parts.size() >= 4)
        stream.readU16();

    if (stream.readU32() != 0)
        throw XtError(QStringLiteral("Parasolid-Benutzerfelder werden nicht unterstützt"));
    return key;
}

} // namespace qor::io
