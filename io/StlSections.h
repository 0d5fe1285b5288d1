#pragma once

#include <Message_ProgressRange.hxx>
#include <Poly_Triangulation.hxx>

#include <QByteArray>
#include <QtGlobal>

namespace qor::io {

// The triangulation of an STL file, every `solid` section of a text file
// included; nodes are merged within a section (mergeAngle as the kernel's
// reader takes it), not between sections. Null when the file cannot be read.
//
// The kernel's reader takes each section's lines from a buffer it fills ahead
// of the stream, but decides from the stream whether another section follows:
// when the rest of the file is already in the buffer (always so for a small
// file) the stream is at its end and the sections still in the buffer are
// dropped without a word, and a section that starts near a buffer's end is
// read from the wrong place. A file sized as binary STL is read as binary. A text file of several
// sections is therefore read section by section, each from its own place; a section cut short keeps
// the triangles before the cut.
// A file of 84 + 50 × n bytes whose count field (bytes 80 to 83 of head) says n is
// binary STL whatever its bytes are. The kernel guesses text when none of the
// first 134 bytes lies above 0x7F, as in a cube at 0 and 10 with zero normals.
bool sizedAsBinaryStl(const QByteArray& head, qint64 fileSize);

Handle(Poly_Triangulation) readStlFile(const QByteArray& fileName, double mergeAngle,
                                       const Message_ProgressRange& range);

} // namespace qor::io
