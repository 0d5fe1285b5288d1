#include "io/StepRoundTrip.h"

#include "io/ClosedVolume.h"

#include <IFSelect_ReturnStatus.hxx>
#include <Interface_Static.hxx>
#include <STEPControl_Reader.hxx>

#include <cmath>

namespace qor::io {

namespace {

constexpr double volumeTolerance = 1e-4;

// The transferred top-level shapes in file order; empty when the file does not read.
std::vector<TopoDS_Shape> stepRoots(const QByteArray& file)
{
    STEPControl_Reader reader;
    if (reader.ReadFile(file.constData()) != IFSelect_RetDone)
        return {};
    std::vector<TopoDS_Shape> roots;
    for (int i = 1; i <= reader.NbRootsForTransfer(); ++i) {
        const int before = reader.NbShapes();
        reader.TransferRoot(i);
        roots.push_back(reader.NbShapes() > before ? reader.Shape(reader.NbShapes())
                                                   : TopoDS_Shape());
    }
    return roots;
}

} // namespace

std::vector<int> stepVolumeChanges(const QByteArray& file, const std::vector<double>& volumes)
{
    const std::vector<TopoDS_Shape> roots = stepRoots(file);
    std::vector<int> changed;
    for (std::size_t i = 0; i < volumes.size(); ++i) {
        if (volumes[i] <= 0.0)
            continue;
        const double read = roots.size() == volumes.size() ? closedVolume(roots[i]) : 0.0;
        if (!(std::abs(read - volumes[i]) <= volumeTolerance * volumes[i]))
            changed.push_back(int(i));
    }
    return changed;
}

void setStepSurfaceCurves(bool on)
{
    Interface_Static::SetIVal("write.surfacecurve.mode", on ? 1 : 0);
}

} // namespace qor::io
