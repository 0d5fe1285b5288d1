#include "io/ReaderProcess.h"
#include "io/BinaryShapeCheck.h"

#include <BRep_Builder.hxx>
#include <BinTools.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <Standard_OutOfMemory.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Iterator.hxx>

#include <QDataStream>
#include <QIODevice>

#include <algorithm>
#include <cstring>
#include <exception>
#include <istream>
#include <limits>
#include <new>
#include <sstream>
#include <streambuf>
#include <string_view>
#include <vector>

namespace qor::io {

namespace {

// A read-only stream over bytes in memory that the kernel's binary reader can seek in.
class MemoryBuffer : public std::streambuf {
public:
    MemoryBuffer(const char* data, std::size_t size)
    {
        char* begin = const_cast<char*>(data);
        setg(begin, begin, begin + size);
    }

protected:
    pos_type seekoff(off_type offset, std::ios_base::seekdir dir,
                     std::ios_base::openmode) override
    {
        char* base = dir == std::ios_base::beg   ? eback()
                     : dir == std::ios_base::cur ? gptr()
                                                 : egptr();
        char* target = base + offset;
        if (target < eback() || target > egptr())
            return pos_type(off_type(-1));
        setg(eback(), target, egptr());
        return pos_type(target - eback());
    }

    pos_type seekpos(pos_type position, std::ios_base::openmode mode) override
    {
        return seekoff(off_type(position), std::ios_base::beg, mode);
    }
};

// Up to `most` bytes of the stream, taken a piece at a time, so that a size that claims
// more than comes costs no memory.
QByteArray readUpTo(std::istream& in, quint64 most)
{
    QByteArray data;
    constexpr quint64 piece = quint64(1) << 20;
    while (quint64(data.size()) < most) {
        const qsizetype wanted = qsizetype(std::min(piece, most - quint64(data.size())));
        const qsizetype at = data.size();
        data.resize(at + wanted);
        in.read(data.data() + at, wanted);
        data.resize(at + qsizetype(in.gcount()));
        if (in.gcount() < wanted)
            break;
    }
    return data;
}

// The shapes, from the rest of the answer. The kernel's binary reader sizes its arrays by
// the counts in the data before it reads what they count, so a damaged answer could make
// the program reserve and fill gigabytes: the data is taken whole and checked before the
// kernel reads it. The check costs a few milliseconds on the largest answers; the answer
// is held once more while it is unpacked.
bool readShapes(std::istream& in, TopoDS_Shape& shapes)
{
    const QByteArray data = readUpTo(in, std::numeric_limits<quint64>::max());
    const std::string_view view(data.constData(), std::size_t(data.size()));
    if (!isSoundBinaryShape(view, TriangleCorners::any))
        return false;
    MemoryBuffer buffer(data.constData(), std::size_t(data.size()));
    std::istream bytes(&buffer);
    try {
        OCC_CATCH_SIGNALS
        BinTools::Read(shapes, bytes);
    } catch (const Standard_OutOfMemory&) {
        // Sound data this process has no room for is no damaged answer.
        throw;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const Standard_Failure& failure) {
        // The binary reader hands a failure inside it on as one of its own whose text names
        // the first; that it ran short of memory is known from nothing else.
        if (std::strstr(failure.GetMessageString(), "Standard_OutOfMemory") != nullptr)
            throw std::bad_alloc();
        return false;
    } catch (const std::exception&) {
        return false;
    }
    return !shapes.IsNull();
}

} // namespace

QByteArray encodeProgress(int percent, const QString& label)
{
    const QByteArray text = label.toUtf8();
    const qint32 p = percent;
    const qint32 length = qint32(text.size());
    QByteArray frame(1, progressFrame);
    frame.append(reinterpret_cast<const char*>(&p), 4);
    frame.append(reinterpret_cast<const char*>(&length), 4);
    return frame + text;
}

void writeResult(std::ostream& out, const ImportResult& result, ReadStop stop)
{
    QByteArray record;
    QDataStream fields(&record, QIODevice::WriteOnly);
    fields.setVersion(QDataStream::Qt_6_4);
    fields << quint8(stop) << result.ok << result.error << result.warning << result.meshBodies
           << result.format << result.preview << result.notes << quint64(result.bodies.size());
    BRep_Builder builder;
    TopoDS_Compound shapes;
    builder.MakeCompound(shapes);
    for (const ImportedBody& body : result.bodies) {
        fields << body.name << body.hasColor << body.r << body.g << body.b << !body.shape.IsNull();
        if (!body.shape.IsNull())
            builder.Add(shapes, body.shape);
    }
    const quint64 recordSize = quint64(record.size());
    out.write(reinterpret_cast<const char*>(&recordSize), 8);
    out.write(record.constData(), record.size());
    // One compound keeps what the bodies share (the parts of an assembly placed many
    // times) stored once.
    BinTools::Write(shapes, out, true, true, BinTools_FormatVersion_VERSION_4);
    out.flush();
}

QByteArray encodeResult(const ImportResult& result, ReadStop stop)
{
    std::ostringstream out;
    writeResult(out, result, stop);
    const std::string bytes = out.str();
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

bool readResult(std::istream& in, ImportResult& result, ReadStop& stop)
{
    quint64 recordSize = 0;
    if (!in.read(reinterpret_cast<char*>(&recordSize), 8))
        return false;
    const QByteArray record = readUpTo(in, recordSize);
    if (quint64(record.size()) != recordSize)
        return false;
    QDataStream fields(record);
    fields.setVersion(QDataStream::Qt_6_4);
    quint8 stopValue = 0;
    quint32 noteCount = 0;
    fields >> stopValue >> result.ok >> result.error >> result.warning >> result.meshBodies
        >> result.format >> result.preview >> noteCount;
    // The stream's own list reading would reserve room for any count first.
    if (fields.status() != QDataStream::Ok || noteCount > recordSize)
        return false;
    result.notes.clear();
    for (quint32 i = 0; i < noteCount && fields.status() == QDataStream::Ok; ++i) {
        QString note;
        fields >> note;
        result.notes.append(note);
    }
    quint64 count = 0;
    fields >> count;
    if (fields.status() != QDataStream::Ok || stopValue > quint8(ReadStop::cancelled)
        || count > recordSize)
        return false;
    stop = ReadStop(stopValue);
    std::vector<bool> hasShape;
    result.bodies.resize(count);
    for (ImportedBody& body : result.bodies) {
        bool shape = false;
        fields >> body.name >> body.hasColor >> body.r >> body.g >> body.b >> shape;
        hasShape.push_back(shape);
    }
    if (fields.status() != QDataStream::Ok)
        return false;
    TopoDS_Shape shapes;
    if (!readShapes(in, shapes))
        return false;
    TopoDS_Iterator it(shapes);
    for (std::size_t i = 0; i < result.bodies.size(); ++i) {
        if (!hasShape[i])
            continue;
        if (!it.More())
            return false;
        result.bodies[i].shape = it.Value();
        it.Next();
    }
    return !it.More();
}

bool decodeResult(const QByteArray& data, ImportResult& result, ReadStop& stop)
{
    MemoryBuffer buffer(data.constData(), std::size_t(data.size()));
    std::istream in(&buffer);
    return readResult(in, result, stop);
}

} // namespace qor::io
