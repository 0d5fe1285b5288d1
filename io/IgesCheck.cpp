#include "io/IgesCheck.h"

#include "io/ClosedVolume.h"
#include "io/Import.h"

#include <QRegularExpression>

#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepGProp.hxx>
#include <BRep_Builder.hxx>
#include <Bnd_Box.hxx>
#include <GProp_GProps.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Iterator.hxx>

#include <algorithm>
#include <cmath>

namespace qor::io {

namespace {

constexpr double areaTolerance = 1e-3; // relative
constexpr double volumeTolerance = 1e-3; // relative
constexpr double boxTolerance = 1e-4; // relative to the box diagonal
constexpr double boxFloor = 1e-3; // millimetres
constexpr double colourTolerance = 0.01;

double faceArea(const TopoDS_Shape& shape)
{
    GProp_GProps props;
    BRepGProp::SurfaceProperties(shape, props);
    return props.Mass();
}

// The exact box of the shape's faces, or of its edges where it has none.
Bnd_Box exactBox(const TopoDS_Shape& shape)
{
    Bnd_Box box;
    BRepBndLib::AddOptimal(shape, box, false, false);
    return box;
}

// The exact box of the body's edges: the fast box grows with the control points
// of B-spline faces, which the file may hold differently, and the exact box of the
// faces costs many times the reading. A face that moved moves its edges.
Bnd_Box edgeBox(const TopoDS_Shape& shape)
{
    TopoDS_Compound edges;
    BRep_Builder builder;
    builder.MakeCompound(edges);
    for (TopExp_Explorer it(shape, TopAbs_EDGE); it.More(); it.Next())
        builder.Add(edges, it.Current());
    return exactBox(edges);
}

// The largest move of a box side, 0 when within the tolerance or either box is void.
double sideShift(const Bnd_Box& before, const Bnd_Box& after)
{
    if (before.IsVoid() || after.IsVoid())
        return 0.0;
    const gp_XYZ low = after.CornerMin().XYZ() - before.CornerMin().XYZ();
    const gp_XYZ high = after.CornerMax().XYZ() - before.CornerMax().XYZ();
    const double shift = std::max({std::abs(low.X()), std::abs(low.Y()), std::abs(low.Z()),
                                   std::abs(high.X()), std::abs(high.Y()), std::abs(high.Z())});
    const double tolerance = std::max(boxFloor, boxTolerance * std::sqrt(before.SquareExtent()));
    return shift > tolerance ? shift : 0.0;
}

// Without faces to place (edges only) the area check speaks for the body. Where the
// edges moved, the reader may only have begun a closed face elsewhere (a ball's seam
// turned round its axis): the faces themselves decide.
double boxShift(const TopoDS_Shape& written, const TopoDS_Shape& read)
{
    if (sideShift(edgeBox(written), edgeBox(read)) == 0.0)
        return 0.0;
    return sideShift(exactBox(written), exactBox(read));
}

// A body written closed against what the file gives back: its closed solids and their
// volume. Faces that no longer close give none and no volume.
void compareClosure(const TopoDS_Shape& written, const TopoDS_Shape& read, IgesChange& change)
{
    // Counting is cheap, integrating the volume is not.
    const int solids = closedSolidCount(written);
    const double before = solids > 0 ? closedVolume(written) : 0.0;
    if (!(before > 0.0))
        return;
    change.solids = solids;
    change.solidsBack = closedSolidCount(read);
    const double after = change.solidsBack > 0 ? closedVolume(read) : 0.0;
    if (std::abs(after - before) > volumeTolerance * before)
        change.volumePercent = 100.0 * (after - before) / before;
}

bool sameColour(const IgesBody& written, const ImportedBody& read)
{
    return read.hasColor && std::abs(read.r - written.r) <= colourTolerance
           && std::abs(read.g - written.g) <= colourTolerance
           && std::abs(read.b - written.b) <= colourTolerance;
}

} // namespace

TopoDS_Shape igesShape(const TopoDS_Shape& shape)
{
    TopoDS_Shape single = shape;
    // The iterator gives the child with the compound's placement applied.
    while (single.ShapeType() == TopAbs_COMPOUND && single.NbChildren() == 1)
        single = TopoDS_Iterator(single).Value();
    if (single.Location().IsIdentity())
        return single;
    return BRepBuilderAPI_Transform(single.Located(TopLoc_Location()),
                                    single.Location().Transformation(), true)
        .Shape();
}

std::vector<IgesChange> igesChanges(const QString& file, const std::vector<IgesBody>& bodies,
                                    int* count, QString* readError)
{
    const ImportResult read = importFile(file, {});
    if (count)
        *count = read.ok ? int(read.bodies.size()) : -1;
    if (readError)
        *readError = read.ok ? QString() : read.error;
    if (!read.ok || read.bodies.size() != bodies.size())
        return {};
    std::vector<IgesChange> changes;
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        IgesChange change;
        change.index = int(i);
        const double before = faceArea(bodies[i].shape);
        const double after = faceArea(read.bodies[i].shape);
        if (std::abs(after - before) > areaTolerance * before)
            change.areaPercent = before > 0.0 ? 100.0 * (after - before) / before : 100.0;
        change.boxShift = boxShift(bodies[i].shape, read.bodies[i].shape);
        change.colourLost = !sameColour(bodies[i], read.bodies[i]);
        // Readers trim a name and make its control characters blanks.
        change.nameLost = read.bodies[i].name.simplified() != bodies[i].name.simplified();
        compareClosure(bodies[i].shape, read.bodies[i].shape, change);
        if (change.areaPercent != 0.0 || change.boxShift != 0.0 || change.colourLost
            || change.nameLost || change.solidsLost() > 0 || change.volumePercent != 0.0)
            changes.push_back(change);
    }
    return changes;
}

QString igesUnreadNote(const QString& readError)
{
    // The reader's lines begin with the file, which the note names already, or with the
    // words every read error begins with.
    static const QRegularExpression opening(
        QStringLiteral("^(„[^“]*“ ließ sich nicht lesen|Fehler beim Lesen): "));
    QString reason = readError;
    reason.remove(opening);
    const QString note = QStringLiteral("Die IGES-Datei ließ sich zur Prüfung nicht wieder lesen");
    return reason.isEmpty() ? note : note + QStringLiteral(": ") + reason;
}

} // namespace qor::io
