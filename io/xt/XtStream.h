#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

namespace qor::io {

// The one exception of the Parasolid reader. It carries a German message (UTF-8 in what())
// and never leaves the reader's entry point.
class XtError : public std::runtime_error {
public:
    explicit XtError(const std::string& message)
        : std::runtime_error(message)
    {
    }
    explicit XtError(const QString& message)
        : std::runtime_error(message.toStdString())
    {
    }
    QString message() const { return QString::fromUtf8(what()); }
};

// Ends the whole read rather than the face being built: a number that is not finite or
// lies far outside any model means the transmission cannot be trusted (leaving out the
// face that holds it would return a body with a hole as if it were sound), and a cancelled
// read must stop at once.
class XtAbort : public XtError {
public:
    using XtError::XtError;
};

// Bounds-checked big-endian cursor over untrusted bytes. Offsets and sizes are signed
// 64-bit, so no count read from the data can wrap a check.
struct XtStream {
    const QByteArray* data = nullptr; // not owned
    qint64 pos = 0;

    XtStream(const QByteArray& bytes, qint64 start)
        : data(&bytes)
        , pos(start)
    {
    }

    // Throws "Datenstrom endet vorzeitig" unless n more bytes are there; a negative n
    // fails the same way.
    void require(qint64 n) const;
    std::string readBytes(qint64 n);
    // One unsigned length byte, then that many bytes.
    std::string readShortString();
    quint8 readU8();
    // The next byte without consuming it; -1 at the end of the data.
    int peekU8() const;
    quint16 readU16();
    qint16 readI16();
    quint32 readU32();
    qint32 readI32();
    double readReal();
    // The XT integer: a 16-bit value s; s >= 0 gives s - 1, a negative s takes a second
    // 16-bit value t and gives t * 32767 + (-s) - 1.
    qint64 readInt();
};

// One field of a node type. type is a field type letter; count -1 marks a field whose
// length the node record gives (a variable field).
struct XtFieldDesc {
    std::string name;
    char type = 'd';
    int count = 1;
};

struct XtNodeType {
    std::vector<XtFieldDesc> fields;
    std::unordered_map<std::string, int> fieldIndex; // a repeated name maps to its last position
    bool variableTail = false; // the last field has count -1

    void reindex();
};

// The value of one field of one node; each field type fills exactly one member.
struct XtFieldValue {
    std::vector<double> reals;
    std::vector<qint64> ints;
    std::string text;
};

// Node-type code to layout.
using XtSchema = std::unordered_map<int, XtNodeType>;

// A field descriptor of a definition block embedded in the file.
XtFieldDesc readXtFieldDesc(XtStream& stream);

// The transmission header that follows the 'P', 'S', 0, 0 marker; answers the schema key.
std::string readXtHeader(XtStream& stream);

} // namespace qor::io
