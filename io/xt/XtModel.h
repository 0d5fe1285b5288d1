#pragma once

#include "io/Import.h"
#include "io/xt/XtStream.h"

#include <Geom_Surface.hxx>
#include <TopoDS_Shape.hxx>
#include <gp_XYZ.hxx>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace qor::io {

// One node of a transmission: a typed record of field values, one per field of its type.
struct XtNode {
    int type = 0; // node-type code, e.g. 12 BODY, 14 FACE, 50 PLANE
    quint32 index = 0; // the node's index in the file
    const XtNodeType* nodeType = nullptr; // in the owning model's schema
    std::vector<XtFieldValue> fields;

    // The value of the named field, or null when the node type has no such field.
    const XtFieldValue* field(const std::string& name) const;
};

// The node graph of one transmission. Nodes point into the schema, so a model is moved,
// never copied.
struct XtModel {
    std::unordered_map<quint32, XtNode> nodes;
    std::unordered_map<int, std::unique_ptr<XtNodeType>> schema; // the file's own node types
    std::string schemaKey;
};

// The state of one Parasolid read, handed to every conversion step.
struct XtReadContext {
    const XtModel* model = nullptr;
    QStringList warnings; // each text once, in order of first occurrence (addXtWarning)
    int failedFaces = 0;
    int attemptedFaces = 0;
    std::map<std::string, int> failureReasons; // failed faces per failure text
    std::unordered_map<quint32, TopoDS_Shape> vertexCache;
    std::unordered_map<quint32, TopoDS_Shape> edgeCache;
    std::unordered_map<quint32, Handle(Geom_Surface)> surfaceCache;
    // Nesting of the curve and surface construction under way: trimmed curves, offset and
    // swept surfaces refer to further geometry, and a damaged file may refer to itself.
    int geometryDepth = 0;
    // Asked before every face and body; may be empty.
    CancelCheck cancelled;
};

// Reads one neutral-binary transmission ('P', 'S', 0, 0 marker anywhere in the data) into
// its node graph. Throws XtError with a German message; nothing partial is returned.
XtModel parseXtBinary(const QByteArray& data);

// Upper bounds that keep damaged or hostile input within memory and time.
constexpr quint32 xtMaxVariableLength = 1u << 26; // elements of one variable field
// Values of eight bytes in all fields of one file, the bookkeeping of every node and field
// counted as values too: about 256 MB.
constexpr qint64 xtMaxFieldValues = 32'000'000;
constexpr std::size_t xtMaxChainLength = 10'000'000;

// Character code of a character field: its first character, else the low byte of its
// first integer, else fallback.
int xtCharCode(const XtNode& node, const std::string& name, int fallback);
// xtCharCode of the "sense" field, '+' when absent.
int xtSense(const XtNode& node);
// The first three reals of the field; (0, 0, 0) when absent or shorter.
gp_XYZ xtVector(const XtNode& node, const std::string& name);
// Real number i of the field; 0.0 when absent.
double xtReal(const XtNode& node, const std::string& name, int i = 0);
// The node the field's first integer refers to; null for a null node, an absent field,
// the null pointer 0 or an index the model does not hold.
const XtNode* xtPointer(const XtModel& model, const XtNode* node, const std::string& name);
// first, then the nodes along "next" until a node repeats, a pointer is null or the chain
// reaches xtMaxChainLength.
std::vector<const XtNode*> xtNextChain(const XtModel& model, const XtNode* first);
// Upper-case names of the node-type codes, for messages only.
const std::map<int, std::string>& xtNodeTypeName();
// True for data that begin with the 'P', 'S', 0, 0 marker or whose first 1024 bytes hold
// the Parasolid alphabet line or "TRANSMIT FILE".
bool looksLikeParasolid(const QByteArray& data);
// Appends text to the context's warnings unless it is there already.
void addXtWarning(XtReadContext& context, const QString& text);

} // namespace qor::io
