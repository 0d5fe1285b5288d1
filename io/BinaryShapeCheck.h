#pragma once

#include <string_view>

namespace qor::io {

// True when binary shape data in the kernel's format (versions 1 to 4, with
// triangulations) can be handed to its reader: every section and record fits in
// the bytes that follow it, every index refers to an entry that exists, and
// curves, surfaces, locations and shapes nest no deeper than a small bound. The
// kernel's reader sizes its arrays by the counts in the data and recurses through
// trimmed and offset geometry, so a few hostile bytes could otherwise ask for
// gigabytes or exhaust the stack. Accepts everything the kernel's writer writes.
//
// Triangle corners that name a node the triangulation lacks do not trouble the
// reader, which stores them as they come. Stored documents never hold them; a
// reader process's answer may, as read from a damaged mesh file, whose exports
// leave such triangles out.
enum class TriangleCorners { withinNodes, any };
bool isSoundBinaryShape(std::string_view data,
                        TriangleCorners corners = TriangleCorners::withinNodes);

} // namespace qor::io
