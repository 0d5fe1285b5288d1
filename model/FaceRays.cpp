#include "model/FaceRays.h"

#include <BRepBndLib.hxx>
#include <NCollection_DataMap.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_OrientedShapeMapHasher.hxx>
#include <TopoDS.hxx>

namespace qor::model {
namespace {

// Faces kept per thread, at most; past it the store starts over, which
// keeps the faces of the bodies of a few booleans around the one at hand.
constexpr int keptFaces = 20000;

using FaceStore
    = NCollection_DataMap<TopoDS_Shape, std::shared_ptr<FaceRays>, TopTools_OrientedShapeMapHasher>;

// Per thread, so that recomputes in other threads neither wait nor share.
FaceStore& store()
{
    thread_local FaceStore faces;
    return faces;
}

} // namespace

FaceRays::FaceRays(const TopoDS_Face& face)
    : face_(face)
    , surface_(face, Standard_False)
{
    BRepBndLib::Add(face_, box_, Standard_False);
}

IntCurvesFace_Intersector& FaceRays::intersector(double tolerance)
{
    for (const auto& [known, intersector] : intersectors_) {
        if (known == tolerance)
            return *intersector;
    }
    intersectors_.emplace_back(tolerance,
                               std::make_unique<IntCurvesFace_Intersector>(face_, tolerance));
    return *intersectors_.back().second;
}

std::shared_ptr<FaceRays> faceRays(const TopoDS_Face& face)
{
    FaceStore& faces = store();
    if (const std::shared_ptr<FaceRays>* known = faces.Seek(face))
        return *known;
    if (faces.Extent() >= keptFaces)
        faces.Clear();
    auto made = std::make_shared<FaceRays>(face);
    faces.Bind(face, made);
    return made;
}

Bnd_Box shapeBox(const TopoDS_Shape& shape)
{
    Bnd_Box box;
    // Edges outside faces and corners outside edges add to the kernel's box.
    if (TopExp_Explorer(shape, TopAbs_EDGE, TopAbs_FACE).More()
        || TopExp_Explorer(shape, TopAbs_VERTEX, TopAbs_EDGE).More()) {
        BRepBndLib::Add(shape, box, Standard_False);
        return box;
    }
    for (TopExp_Explorer face(shape, TopAbs_FACE); face.More(); face.Next())
        box.Add(faceRays(TopoDS::Face(face.Current()))->box());
    return box;
}

void forgetFaceRays()
{
    store().Clear();
}

} // namespace qor::model
