#pragma once

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

namespace qor::io {

// The one exception of the ACIS binary reader; its text is German UTF-8. It is
// thrown and caught inside the reader only.
class SabError : public std::runtime_error {
public:
    explicit SabError(const QString& message);
};

// Ends the whole read rather than the face or body being built: a number that is not
// finite or lies far outside any model means the data cannot be trusted (a body with the
// face left out would pass for sound), and a cancelled read must stop at once.
class SabAbort : public SabError {
public:
    using SabError::SabError;
};

// The message of a number that is not finite or far outside any model.
inline QString sabInvalidNumberMessage()
{
    return QStringLiteral("Ungültige Zahl in den SAB-Geometriedaten");
}

// The kind of one tagged value, in tag-table order.
enum class SabValueKind {
    Integer,
    Real,
    String,
    True,
    False,
    Pointer,
    Ident,
    SubIdent,
    BlockOpen,
    BlockClose,
    Terminator,
    Position,
    Vector,
    Enum,
    Vector2,
};

// One decoded value. Members that its tag does not fill keep their defaults.
struct SabValue {
    SabValueKind kind = SabValueKind::Integer;
    std::int64_t integer = 0;
    std::array<double, 3> reals{0.0, 0.0, 0.0};
    std::string text; // bytes as stored, not recoded

    // Integer kinds as double, every other kind reals[0].
    double number() const;
};

// One entity: the values after its type name, without the terminator.
struct SabRecord {
    std::int64_t index = 0; // the number pointers name it by
    std::string type; // "body", "plane-surface", "End-of-ACIS-data", ...
    std::vector<SabValue> fields;
};

// Pointer index to record, built once after reading; the records are not owned.
using SabIndex = std::unordered_map<std::int64_t, const SabRecord*>;

// Values one read may decode. Even a one-byte value costs a full SabValue, so
// this bounds the memory of hostile input long before the bytes do.
constexpr std::int64_t sabValueBudget = 50'000'000;

// The state of one read of ACIS/ShapeManager binary data (little-endian).
struct SabReader {
    std::vector<SabRecord> records; // file order
    double unitScale = 1.0; // millimetres per file unit
    const QByteArray* data = nullptr;
    std::int64_t pos = 0;
    int intWidth = 4; // bytes of tags 4, 12 and 21
    std::int64_t valuesLeft = sabValueBudget;

    // Magic, header integers and the six header values, then every record up
    // to the end marker or the end of the data. Throws SabError.
    void read(const QByteArray& bytes);
    void readHeader();
    void readRecords();

    // Throws "SAB-Daten enden vorzeitig" unless n more bytes remain.
    void require(std::int64_t n) const;
    double readDouble();
    std::int64_t readInteger(); // intWidth bytes, sign-extended
    std::string readString(int lengthWidth); // length of 1, 2 or 4 bytes first
    SabValue readValue(); // one tag byte and its payload
};

// Every record with an index of 0 or more; a later record wins a shared index.
SabIndex buildSabIndex(const std::vector<SabRecord>& records);

// Hands out the fields of one record in order; running past the last field
// throws "Datensatz <type> zu kurz".
struct SabFieldCursor {
    const SabRecord* record = nullptr;
    int next = 0;

    const SabValue& take();
    void skip(int count = 1) { next += count; }
};

} // namespace qor::io
