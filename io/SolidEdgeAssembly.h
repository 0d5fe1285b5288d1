#pragma once

#include <QString>

#include <array>
#include <vector>

namespace qor::io {

// One part placed by a Solid Edge assembly.
struct SolidEdgeOccurrence {
    // The part file in the assembly's own folder, whether or not it exists.
    QString filePath;
    // The part's path as the assembly stores it.
    QString storedPath;
    // A part file name, a colon and a number, for example Block.par:1.
    QString name;
    // Row-major 3x4 (r00 r01 r02 tx r10 ... r22 tz), translation in
    // millimetres: the argument order of gp_Trsf::SetValues.
    std::array<double, 12> placement{};
};

// The placed parts of an ".asm" file in stream order, found by scanning its
// "Attachments" stream for rigid 4x4 matrices and for part path and occurrence
// texts. An occurrence whose matrix does not give finite placement values is
// left out. Writes error (when given) only when the list is empty.
std::vector<SolidEdgeOccurrence> readSolidEdgeAssembly(const QString& path,
                                                       QString* error = nullptr);

} // namespace qor::io
