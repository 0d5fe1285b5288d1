#pragma once

#include "io/xt/XtStream.h"

namespace qor::io {

// The base schema of key "13006" (65 node types), parsed from its text table.
XtSchema buildXtBaseSchema();
// The process-wide base schema, built once on first use and never changed.
const XtSchema& xtBaseSchema();

// The layout of a node type met for the first time in a file, read right after the type
// code of its first record: the base type as it is, an edit of it, or a new type.
XtNodeType readXtNodeTypeDefinition(XtStream& stream, int code);

} // namespace qor::io
