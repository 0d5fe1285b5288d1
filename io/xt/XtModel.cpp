#include "io/xt/XtModel.h"

#include "io/xt/XtSchema.h"

#include <unordered_set>

namespace qor::io {

namespace {

const QByteArray marker("PS\0\0", 4);

[[noreturn]] void failFieldLength()
{
    throw XtError(QStringLiteral("Ungültige Feldlänge"));
}

// Memory is charged in units of eight bytes: every field value costs its bookkeeping as
// well as its elements, so a small record of a type with many empty fields cannot allocate
// far more than the file holds.
class ValueBudget {
public:
    void charge(qint64 units)
    {
        left_ -= units;
        if (left_ < 0)
            failFieldLength();
    }

private:
    qint64 left_ = xtMaxFieldValues;
};

constexpr qint64 unitsPerFieldValue = qint64(sizeof(XtFieldValue) + 7) / 8;
constexpr qint64 unitsPerNode = 8; // hash-map entry and field vector

// Elements stored and bytes read per element of each field type; {0, 0} for a letter
// outside the table.
struct FieldLayout {
    int values = 0;
    int bytes = 0;
};

FieldLayout fieldLayout(char type)
{
    switch (type) {
    case 'b': return {6, 48};
    case 'c': return {1, 1};
    case 'd':
    case 't': return {1, 4};
    case 'f': return {1, 8};
    case 'h':
    case 'v': return {3, 24};
    case 'i': return {2, 16};
    case 'l':
    case 'u': return {1, 1};
    case 'n':
    case 'w': return {1, 2};
    case 'p': return {1, 2}; // an XT integer takes two bytes, sometimes four
    default: return {};
    }
}

XtFieldValue readFieldValue(XtStream& stream, char type, qint64 count, ValueBudget& budget)
{
    const FieldLayout layout = fieldLayout(type);
    if (layout.values == 0)
        throw XtError(QStringLiteral("Unbekannte Feldart ") + QChar::fromLatin1(type));
    XtFieldValue value;
    if (count < 1)
        return value;
    // Both checks come before any allocation: the bytes must be in the file and the values
    // within the budget. count is below 2^31, so the products fit easily in 64 bits.
    stream.require(count * layout.bytes);
    const qint64 elements = count * layout.values;
    budget.charge(elements);
    switch (type) {
    case 'c': value.text = stream.readBytes(count); break;
    case 'b':
    case 'f':
    case 'h':
    case 'v':
    case 'i':
        value.reals.reserve(std::size_t(elements));
        for (qint64 i = 0; i < elements; ++i)
            value.reals.push_back(stream.readReal());
        break;
    default:
        value.ints.reserve(std::size_t(count));
        for (qint64 i = 0; i < count; ++i) {
            switch (type) {
            case 'd':
            case 't': value.ints.push_back(stream.readI32()); break;
            case 'l':
            case 'u': value.ints.push_back(stream.readU8()); break;
            case 'n': value.ints.push_back(stream.readI16()); break;
            case 'w': value.ints.push_back(stream.readU16()); break;
            default: value.ints.push_back(stream.readInt()); break; // 'p'
            }
        }
    }
    return value;
}

const XtNodeType& nodeTypeFor(XtModel& model, XtStream& stream, int code)
{
    auto& slot = model.schema[code];
    if (!slot)
        slot = std::make_unique<XtNodeType>(readXtNodeTypeDefinition(stream, code));
    return *slot;
}

void readRecord(XtModel& model, XtStream& stream, int code, ValueBudget& budget)
{
    const XtNodeType& type = nodeTypeFor(model, stream, code);
    qint64 variableLength = 0;
    if (type.variableTail) {
        variableLength = stream.readU32();
        if (variableLength > xtMaxVariableLength)
            failFieldLength();
    }
    XtNode node;
    node.type = code;
    node.index = static_cast<quint32>(stream.readInt());
    node.nodeType = &type;
    budget.charge(unitsPerNode + qint64(type.fields.size()) * unitsPerFieldValue);
    node.fields.reserve(type.fields.size());
    for (const XtFieldDesc& desc : type.fields) {
        const qint64 count = desc.count == -1 ? variableLength : desc.count;
        node.fields.push_back(readFieldValue(stream, desc.type, count, budget));
    }
    model.nodes.try_emplace(node.index, std::move(node)); // the first of a repeated index stays
}

} // namespace

const XtFieldValue* XtNode::field(const std::string& name) const
{
    if (!nodeType)
        return nullptr;
    const auto it = nodeType->fieldIndex.find(name);
    if (it == nodeType->fieldIndex.end() || it->second >= static_cast<int>(fields.size()))
        return nullptr;
    return &fields[std::size_t(it->second)];
}

XtModel parseXtBinary(const QByteArray& data)
{
    const qsizetype start = data.indexOf(marker);
    if (start < 0)
        throw XtError(QStringLiteral("Kein Parasolid-Neutralbinärformat (PS-Kennung fehlt)"));
    XtStream stream(data, start + marker.size());
    XtModel model;
    model.schemaKey = readXtHeader(stream);
    ValueBudget budget;
    for (;;) {
        const int code = stream.readU16();
        if (code == 1) {
            stream.readU16(); // closes the end record; what follows is not part of the model
            return model;
        }
        readRecord(model, stream, code, budget);
    }
}

int xtCharCode(const XtNode& node, const std::string& name, int fallback)
{
    const XtFieldValue* value = node.field(name);
    if (value && !value->text.empty())
        return static_cast<unsigned char>(value->text.front());
    if (value && !value->ints.empty())
        return static_cast<int>(value->ints.front() & 0xFF);
    return fallback;
}

int xtSense(const XtNode& node)
{
    return xtCharCode(node, "sense", '+');
}

gp_XYZ xtVector(const XtNode& node, const std::string& name)
{
    const XtFieldValue* value = node.field(name);
    if (!value || value->reals.size() < 3)
        return gp_XYZ(0, 0, 0);
    return gp_XYZ(value->reals[0], value->reals[1], value->reals[2]);
}

double xtReal(const XtNode& node, const std::string& name, int i)
{
    const XtFieldValue* value = node.field(name);
    if (!value || i < 0 || std::size_t(i) >= value->reals.size())
        return 0.0;
    return value->reals[std::size_t(i)];
}

const XtNode* xtPointer(const XtModel& model, const XtNode* node, const std::string& name)
{
    if (!node)
        return nullptr;
    const XtFieldValue* value = node->field(name);
    if (!value || value->ints.empty())
        return nullptr;
    const auto index = static_cast<quint32>(value->ints.front());
    if (index == 0)
        return nullptr;
    const auto it = model.nodes.find(index);
    return it == model.nodes.end() ? nullptr : &it->second;
}

std::vector<const XtNode*> xtNextChain(const XtModel& model, const XtNode* first)
{
    std::vector<const XtNode*> chain;
    std::unordered_set<quint32> visited;
    for (const XtNode* node = first; node && chain.size() < xtMaxChainLength;
         node = xtPointer(model, node, "next")) {
        if (!visited.insert(node->index).second)
            break;
        chain.push_back(node);
    }
    return chain;
}

const std::map<int, std::string>& xtNodeTypeName()
{
    static const std::map<int, std::string> names{
        {10, "ASSEMBLY"},
        {11, "INSTANCE"},
        {12, "BODY"},
        {13, "SHELL"},
        {14, "FACE"},
        {15, "LOOP"},
        {16, "EDGE"},
        {17, "HALFEDGE"},
        {18, "VERTEX"},
        {19, "REGION"},
        {29, "POINT"},
        {30, "LINE"},
        {31, "CIRCLE"},
        {32, "ELLIPSE"},
        {38, "INTERSECTION"},
        {40, "CHART"},
        {41, "LIMIT"},
        {45, "BSPLINE_VERTICES"},
        {50, "PLANE"},
        {51, "CYLINDER"},
        {52, "CONE"},
        {53, "SPHERE"},
        {54, "TORUS"},
        {56, "BLENDED_EDGE"},
        {59, "BLEND_BOUND"},
        {60, "OFFSET_SURF"},
        {67, "SWEPT_SURF"},
        {68, "SPUN_SURF"},
        {70, "LIST"},
        {74, "POINTER_LIS_BLOCK"},
        {79, "ATT_DEF_ID"},
        {80, "ATTRIB_DEF"},
        {81, "ATTRIBUTE"},
        {82, "INT_VALUES"},
        {83, "REAL_VALUES"},
        {84, "CHAR_VALUES"},
        {85, "POINT_VALUES"},
        {86, "VECTOR_VALUES"},
        {87, "AXIS_VALUES"},
        {88, "TAG_VALUES"},
        {89, "DIRECTION_VALUES"},
        {90, "FEATURE"},
        {91, "MEMBER_OF_FEATURE"},
        {98, "UNICODE_VALUES"},
        {99, "FIELD_NAMES"},
        {100, "TRANSFORM"},
        {101, "WORLD"},
        {102, "KEY"},
        {120, "PE_SURF"},
        {121, "INT_PE_DATA"},
        {122, "EXT_PE_DATA"},
        {124, "B_SURFACE"},
        {125, "SURFACE_DATA"},
        {126, "NURBS_SURF"},
        {127, "KNOT_MULT"},
        {128, "KNOT_SET"},
        {130, "PE_CURVE"},
        {133, "TRIMMED_CURVE"},
        {134, "B_CURVE"},
        {135, "CURVE_DATA"},
        {136, "NURBS_CURVE"},
        {137, "SP_CURVE"},
        {141, "GEOMETRIC_OWNER"},
        {163, "HELIX_SU_FORM"},
        {176, "PART_XMT_BLOCK"},
        {184, "HELIX_CU_FORM"},
        {185, "POLYLINE_DATA"},
        {189, "PSM_MESH"},
        {190, "INTEGER_TOOTH"},
        {191, "INTEGER_COMB"},
        {192, "VECTOR_TOOTH"},
        {193, "VECTOR_COMB"},
        {200, "POLYLINE"},
        {201, "MESH"},
        {204, "INTERSECTION_DATA"},
        {205, "OFFSET_VALUES"},
        {206, "MESH_OFFSET_DATA"},
        {207, "SCHEMA_CHAR_VALUES"},
        {208, "NEW_NODE_MAP"},
        {209, "MOD_NODE_MAP"},
        {210, "NEW_FIELD_MAP"},
        {211, "SCHEMA_DATA"},
        {212, "OLD_NODE_MAP"},
        {213, "OLD_FIELD_MAP"},
        {220, "REAL_TOOTH"},
        {221, "REAL_COMB"},
        {222, "LATTICE"},
        {223, "LATTICE_DATA_IRREGULAR"},
        {224, "GRAPH_COMPACT"},
        {229, "TRANSFORM_PRECISION"},
    };
    return names;
}

bool looksLikeParasolid(const QByteArray& data)
{
    const QByteArray head = data.left(1024);
    return head.contains("**ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789")
           || head.contains("TRANSMIT FILE") || data.startsWith(marker);
}

void addXtWarning(XtReadContext& context, const QString& text)
{
    if (!context.warnings.contains(text))
        context.warnings.append(text);
}

} // namespace qor::io
