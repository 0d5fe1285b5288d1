#pragma once

#include <QString>
#include <QStringList>

#include <TopoDS_Shape.hxx>

#include <vector>

namespace qor::io {

// The indices of the shapes whose closed volume the STEP file at file does not
// give back within 0.01 %, reading the file's top-level shapes in order. volumes
// holds the shapes' own closed volumes; a shape with volume 0 is not compared.
// A file that does not read back, or holds another number of shapes, changes
// every compared shape.
std::vector<int> stepVolumeChanges(const QByteArray& file, const std::vector<double>& volumes);

// The kernel's "write.surfacecurve.mode" for the next STEP writes: true writes
// the curves of edges on surfaces (the kernel's default), false leaves them out.
void setStepSurfaceCurves(bool on);

} // namespace qor::io
