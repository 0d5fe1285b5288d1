#pragma once

#include <QString>

namespace qor::io {

// The text for the user of a message that may carry a fault the kernel caught
// as a signal ("SIGSEGV 'segmentation violation' detected. Address 38."): that
// part, with a "Geometriefehler: " before it, becomes "Geometriefehler im Kern".
// An address and a signal name tell the user nothing and read like a crash.
// Other messages are returned unchanged.
QString withoutKernelSignal(const QString& message);

// Takes every printer off the kernel's default messenger. Its readers report
// faults in English on the standard streams ("Error: invalid OBJ syntax at
// line 107", "File '…' defines invalid glTF!"), before and beside the
// program's own German message, which already says what failed.
void silenceKernelMessages();

// Lets the printers of the kernel's default messenger pass failures only: its
// data-exchange writers print statistics to standard output, which would end
// up in the batch conversion's output. Done once per process.
void keepOnlyKernelFailures();

} // namespace qor::io
