#include "features/ShapeOps.h"

#include "io/MeshFaces.h"
#include "model/BooleanGroup.h"
#include "model/ExecContext.h"

#include <BRepAdaptor_Surface.hxx>
#include <BRepAlgoAPI_Fuse.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepPrimAPI_MakePrism.hxx>
#include <BRep_Tool.hxx>
#include <LocOpe_DPrism.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_ListOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Face.hxx>
#include <gp_GTrsf.hxx>
#include <gp_Pln.hxx>

#include <algorithm>
#include <cmath>

namespace qor::model {

TopoDS_Shape makePrism(const TopoDS_Shape& profile, const gp_Vec& vector)
{
    return BRepPrimAPI_MakePrism(profile, vector, true, true).Shape();
}

TopoDS_Shape transformShape(const TopoDS_Shape& shape, const gp_Trsf& trsf)
{
    if (io::isMeshOnly(shape))
        return io::transformedMesh(shape, gp_GTrsf(trsf));
    return BRepBuilderAPI_Transform(shape, trsf, true).Shape();
}

TopoDS_Shape fuseAll(const std::vector<TopoDS_Shape>& shapes)
{
    if (shapes.empty())
        return {};
    if (shapes.size() == 1)
        return shapes.front();

    TopTools_ListOfShape arguments;
    arguments.Append(shapes.front());
    TopTools_ListOfShape tools;
    for (std::size_t i = 1; i < shapes.size(); ++i)
        tools.Append(shapes[i]);
    BRepAlgoAPI_Fuse fuse;
    fuse.SetArguments(arguments);
    fuse.SetTools(tools);
    // The shapes are bodies of the state, whose edges earlier states share.
    fuse.SetNonDestructive(Standard_True);
    fuse.Build();
    if (!fuse.IsDone())
        throw FeatureError(QStringLiteral("Vereinigen der Teilkörper fehlgeschlagen"));
    return unifySameDomain(fuse.Shape());
}

TopoDS_Shape soundFuseAll(const std::vector<TopoDS_Shape>& shapes)
{
    if (shapes.size() < 2)
        return fuseAll(shapes);
    Body first;
    first.shape = shapes.front();
    TopTools_ListOfShape tools;
    for (std::size_t i = 1; i < shapes.size(); ++i)
        addCutTools(shapes[i], tools);
    return unifySameDomain(soundBoolean(BOPAlgo_FUSE, first, tools,
                                        QStringLiteral("Vereinigen der Teilkörper fehlgeschlagen"))
                               .shape);
}

namespace {

// The kernel's draft prism measures its height along the inclined wall and always
// rises along the geometric normal of the face's plane, whatever the face's
// orientation. The height is set so that the piece reaches the distance along the
// normal, and a piece that went away from dir is mirrored through the face's plane.
// A piece whose walls met before the distance is refused: the kernel returns a
// flat remnant for it instead of failing.
TopoDS_Shape draftPiece(const TopoDS_Face& face, double taperDeg, const gp_Dir& dir,
                        double distance)
{
    const double angle = taperDeg * 0.017453292519943295;
    const double cosine = std::cos(angle);
    const auto refuse
        = [] { return FeatureError(QStringLiteral("Verjüngung nicht möglich (Winkel zu groß?)")); };
    if (!(cosine > 1e-6))
        throw refuse();
    LocOpe_DPrism prism(face, distance / cosine, -angle);
    if (!prism.IsDone())
        throw refuse();
    TopoDS_Shape piece = prism.Shape();

    // Every vertex of a sound piece lies on its base or at the full distance.
    const gp_Pln plane = BRepAdaptor_Surface(face, true).Plane();
    gp_Dir side = plane.Axis().Direction();
    if (side.Dot(dir) < 0.0)
        side.Reverse();
    double low = 0.0;
    double high = 0.0;
    for (TopExp_Explorer it(piece, TopAbs_VERTEX); it.More(); it.Next()) {
        const gp_Pnt p = BRep_Tool::Pnt(TopoDS::Vertex(it.Current()));
        const double h = gp_Vec(plane.Location(), p).Dot(gp_Vec(side));
        low = std::min(low, h);
        high = std::max(high, h);
    }
    if (-low > high) {
        gp_Trsf mirror;
        mirror.SetMirror(plane.Position().Ax2());
        piece = transformShape(piece, mirror);
        const double mirroredLow = -high;
        high = -low;
        low = mirroredLow;
    }
    const double tolerance = 1e-6 * std::max(1.0, distance);
    if (std::abs(high - distance) > tolerance || low < -tolerance)
        throw refuse();
    return piece;
}

} // namespace

TopoDS_Shape taperedPrism(double taperDeg, const TopoDS_Shape& profile, gp_Dir dir, double distance)
{
    // Written so that NaN fails too.
    if (!(distance > 0.0))
        throw FeatureError(QStringLiteral("Abstand muss größer als 0 sein"));
    if (std::abs(taperDeg) < 1e-9)
        return makePrism(profile, gp_Vec(dir) * distance);

    std::vector<TopoDS_Shape> pieces;
    for (TopExp_Explorer it(profile, TopAbs_FACE); it.More(); it.Next())
        pieces.push_back(draftPiece(TopoDS::Face(it.Current()), taperDeg, dir, distance));
    return fuseAll(pieces);
}

} // namespace qor::model
