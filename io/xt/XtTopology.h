#pragma once

// XT faces, edges and vertices to OpenCASCADE topology. Edges and vertices are cached per
// node index in the read context, so faces that share an XT edge share one TopoDS_Edge.

#include "io/xt/XtModel.h"

#include <TopoDS_Edge.hxx>
#include <TopoDS_Face.hxx>
#include <TopoDS_Vertex.hxx>

namespace qor::io {

// frontSide: the face was reached through its shell's "front_face" chain.
TopoDS_Face makeXtFace(XtReadContext& context, const XtNode& faceNode, bool frontSide);
// The edge in its own direction.
TopoDS_Edge makeXtEdge(XtReadContext& context, const XtNode& edgeNode);
TopoDS_Vertex makeXtVertex(XtReadContext& context, const XtNode& vertexNode);

} // namespace qor::io
