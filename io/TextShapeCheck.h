#pragma once

#include <string_view>

namespace qor::io {

// True when a text BREP file (format versions 1 to 3) can be handed to the
// kernel's reader: every record holds the numbers its counts declare, every
// index refers to an entry that exists, every number is finite and every word
// fits the reader's fixed buffers, and curves, surfaces, locations and shapes
// nest no deeper than the binary check allows. The kernel's reader sizes its
// arrays by the counts before reading the numbers, recurses through trimmed and
// offset geometry and loses its place after a degenerate direction, so a few
// hostile bytes could otherwise ask for gigabytes or hang it. Accepts everything
// the kernel's writer writes.
bool isSoundTextShape(std::string_view text);

} // namespace qor::io
