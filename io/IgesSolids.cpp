#include "io/IgesSolids.h"

#include "expr/Format.h"
#include "sketch/Plane.h"

#include <BRepBuilderAPI_MakeSolid.hxx>
#include <BRepBuilderAPI_Sewing.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepCheck_Shell.hxx>
#include <BRepGProp.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <GProp_GProps.hxx>
#include <ShapeFix_Solid.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Shell.hxx>

#include <algorithm>
#include <cmath>

namespace qor::io {

namespace {

// Sewing changes the faces' edges, not their surfaces: the area of the faces moves by a few
// parts in a hundred thousand (a hammer of 45 faces: 2.5e-5).
constexpr double areaSlack = 1e-4;

double area(const TopoDS_Shape& shape)
{
    GProp_GProps props;
    BRepGProp::SurfaceProperties(shape, props);
    return props.Mass();
}

bool closedShell(const TopoDS_Shell& shell)
{
    return BRepCheck_Shell(shell).Closed() == BRepCheck_NoError;
}

// The shells of the sewn shape; a face the sewing left alone (a ball's one face, closed by
// its seam) counts as a shell of its own. None when a face stays outside every shell.
std::vector<TopoDS_Shell> shellsOf(const TopoDS_Shape& sewn)
{
    std::vector<TopoDS_Shell> shells;
    TopTools_IndexedMapOfShape inShells;
    for (TopExp_Explorer it(sewn, TopAbs_SHELL); it.More(); it.Next()) {
        shells.push_back(TopoDS::Shell(it.Current()));
        TopExp::MapShapes(it.Current(), TopAbs_FACE, inShells);
    }
    BRep_Builder builder;
    for (TopExp_Explorer it(sewn, TopAbs_FACE); it.More(); it.Next()) {
        if (inShells.Contains(it.Current()))
            continue;
        TopoDS_Shell shell;
        builder.MakeShell(shell);
        builder.Add(shell, it.Current());
        shells.push_back(shell);
    }
    return shells;
}

// The largest tolerance of the shape's edges and corners: the reader widens them where the
// file's curves meet only that closely, and sewing at less leaves such edges apart (a box with
// a hole written by the kernel at a resolution of 1e-7 mm reads back with corners of 1e-5 mm).
double largestTolerance(const TopoDS_Shape& shape)
{
    double largest = 0.0;
    for (TopExp_Explorer it(shape, TopAbs_EDGE); it.More(); it.Next())
        largest = std::max(largest, BRep_Tool::Tolerance(TopoDS::Edge(it.Current())));
    for (TopExp_Explorer it(shape, TopAbs_VERTEX); it.More(); it.Next())
        largest = std::max(largest, BRep_Tool::Tolerance(TopoDS::Vertex(it.Current())));
    return largest;
}

bool positiveVolumes(const TopoDS_Shape& shape)
{
    bool any = false;
    for (TopExp_Explorer it(shape, TopAbs_SOLID); it.More(); it.Next()) {
        GProp_GProps props;
        BRepGProp::VolumeProperties(it.Current(), props);
        if (!(props.Mass() > 0.0))
            return false;
        any = true;
    }
    return any;
}

TopoDS_Shape solidOfShells(const std::vector<TopoDS_Shell>& shells)
{
    BRepBuilderAPI_MakeSolid make;
    for (TopoDS_Shell shell : shells) {
        shell.Closed(true);
        make.Add(shell);
    }
    if (!make.IsDone())
        return {};
    // Orients the shells outward and parts shells that lie outside each other into
    // solids of their own.
    ShapeFix_Solid fix(make.Solid());
    fix.Perform();
    return fix.Solid();
}

} // namespace

TopoDS_Shape closedFaces(const TopoDS_Shape& faces, double tolerance)
{
    const int count = countOf(faces, TopAbs_FACE);
    if (count == 0)
        return {};
    try {
        OCC_CATCH_SIGNALS
        BRepBuilderAPI_Sewing sewing(tolerance);
        sewing.Add(faces);
        sewing.Perform();
        const std::vector<TopoDS_Shell> shells = shellsOf(sewing.SewedShape());
        if (shells.empty() || !std::all_of(shells.begin(), shells.end(), closedShell))
            return {};
        const TopoDS_Shape solid = solidOfShells(shells);
        if (solid.IsNull() || countOf(solid, TopAbs_FACE) != count
            || !BRepCheck_Analyzer(solid).IsValid() || !positiveVolumes(solid))
            return {};
        const double before = area(faces);
        if (std::abs(area(solid) - before) > areaSlack * before)
            return {};
        return solid;
    } catch (const Standard_Failure&) {
        return {};
    }
}

int closeFaceBodies(std::vector<ImportedBody>& bodies, double resolution)
{
    int open = 0;
    for (ImportedBody& body : bodies) {
        if (body.shape.IsNull() || TopExp_Explorer(body.shape, TopAbs_SOLID).More())
            continue;
        const TopoDS_Shape solid
            = closedFaces(body.shape, std::max(resolution, largestTolerance(body.shape)));
        if (solid.IsNull())
            ++open;
        else
            body.shape = solid;
    }
    return open;
}

QString openBodiesText(long long open, long long total)
{
    const QString reason = QStringLiteral("kein geschlossenes Volumen: %1 Flächen schließen sich "
                                          "nicht zu einer Hülle");
    if (total == 1)
        return QStringLiteral("Der Körper hat ") + reason.arg(QStringLiteral("seine"));
    return QStringLiteral("%1 von %2 Körpern %3 ")
               .arg(germanCount(std::uint64_t(open)), germanCount(std::uint64_t(total)),
                    open == 1 ? QStringLiteral("hat") : QStringLiteral("haben"))
           + reason.arg(open == 1 ? QStringLiteral("seine") : QStringLiteral("ihre"));
}

} // namespace qor::io
