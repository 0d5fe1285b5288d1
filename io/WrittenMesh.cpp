#include "io/WrittenMesh.h"

#include <BRepAdaptor_Surface.hxx>
#include <BRepLProp_SLProps.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Poly_Triangulation.hxx>
#include <Precision.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Shell.hxx>

#include <algorithm>
#include <array>
#include <utility>

namespace qor::io {

namespace {

// The normals of the face's surface at its nodes in world coordinates, a node
// where the surface has none (a pole) taking its triangles' mean; all turned
// round where they disagree with the way the triangles run.
std::vector<gp_Dir> nodeNormals(const TopoDS_Face& face, const Handle(Poly_Triangulation)& tri,
                                const FaceTriangles& mesh)
{
    const std::vector<gp_Dir> facets = facetNormals(mesh);
    std::vector<gp_Dir> normals = facets;
    if (tri->HasUVNodes()) {
        BRepAdaptor_Surface surface(face, false);
        BRepLProp_SLProps props(surface, 1, Precision::Confusion());
        for (std::size_t i = 0; i < normals.size(); ++i) {
            const gp_Pnt2d uv = tri->UVNode(int(i) + 1);
            props.SetParameters(uv.X(), uv.Y());
            if (props.IsNormalDefined())
                normals[i] = props.Normal();
        }
    }
    double agreement = 0.0;
    for (std::size_t i = 0; i < normals.size(); ++i)
        agreement += normals[i].Dot(facets[i]);
    if (agreement < 0.0) {
        for (gp_Dir& normal : normals)
            normal.Reverse();
    }
    return normals;
}

// A copy of the face as FaceTriangles gives it, its parameters and, where the
// face has a surface, its normals kept for the writers that carry them.
TopoDS_Face placedCopy(const TopoDS_Face& face, const FaceWinding& winding)
{
    const std::vector<FaceTriangles> faces = triangulatedFaces(face, winding);
    if (faces.empty() || faces.front().triangles.empty())
        return {};
    const FaceTriangles& mesh = faces.front();
    TopLoc_Location location;
    const Handle(Poly_Triangulation) tri = BRep_Tool::Triangulation(face, location);
    const bool withNormals = !BRep_Tool::Surface(face, location).IsNull();
    Handle(Poly_Triangulation) copy = new Poly_Triangulation(
        int(mesh.nodes.size()), int(mesh.triangles.size()), tri->HasUVNodes(), withNormals);
    for (std::size_t i = 0; i < mesh.nodes.size(); ++i) {
        copy->SetNode(int(i) + 1, mesh.nodes[i]);
        if (tri->HasUVNodes())
            copy->SetUVNode(int(i) + 1, tri->UVNode(int(i) + 1));
    }
    if (withNormals) {
        const std::vector<gp_Dir> normals = nodeNormals(face, tri, mesh);
        for (std::size_t i = 0; i < normals.size(); ++i)
            copy->SetNormal(int(i) + 1, normals[i]);
    }
    for (std::size_t t = 0; t < mesh.triangles.size(); ++t) {
        const auto& corners = mesh.triangles[t];
        copy->SetTriangle(int(t) + 1,
                          Poly_Triangle(corners[0] + 1, corners[1] + 1, corners[2] + 1));
    }
    copy->Deflection(tri->Deflection());
    TopoDS_Face placed;
    BRep_Builder().MakeFace(placed, copy);
    return placed;
}

} // namespace

TopoDS_Shape writtenMesh(const TopoDS_Shape& shape)
{
    const FaceWinding winding(shape);
    BRep_Builder builder;
    TopoDS_Compound written;
    builder.MakeCompound(written);
    // Solids that touch keep their own corners in the writers that merge by
    // shell: the shells stay shells.
    for (const TopoDS_Shape& piece : shellsAndLooseFaces(shape)) {
        if (piece.ShapeType() == TopAbs_FACE) {
            if (const TopoDS_Face copy = placedCopy(TopoDS::Face(piece), winding); !copy.IsNull())
                builder.Add(written, copy);
            continue;
        }
        TopoDS_Shell shell;
        builder.MakeShell(shell);
        for (TopExp_Explorer face(piece, TopAbs_FACE); face.More(); face.Next()) {
            if (const TopoDS_Face copy = placedCopy(TopoDS::Face(face.Current()), winding);
                !copy.IsNull())
                builder.Add(shell, copy);
        }
        builder.Add(written, shell);
    }
    // Every face is now placed alike, so a weld moves each node onto its group's
    // first exactly.
    weldGridVertices(written);
    return written;
}

IndexedMesh meshAsWritten(const TopoDS_Shape& written)
{
    const std::vector<FaceTriangles> faces = triangulatedFaces(written);
    std::vector<std::pair<std::array<double, 3>, std::size_t>> keyed;
    for (const FaceTriangles& face : faces) {
        for (const gp_Pnt& node : face.nodes)
            keyed.push_back({{node.X(), node.Y(), node.Z()}, keyed.size()});
    }
    // Sorted rather than mapped: far less memory on large meshes.
    std::sort(keyed.begin(), keyed.end());
    IndexedMesh mesh;
    std::vector<int> vertexOf(keyed.size());
    for (std::size_t i = 0; i < keyed.size(); ++i) {
        if (i == 0 || keyed[i].first != keyed[i - 1].first) {
            const auto& [x, y, z] = keyed[i].first;
            mesh.vertices.emplace_back(x, y, z);
        }
        vertexOf[keyed[i].second] = int(mesh.vertices.size()) - 1;
    }
    addMergedTriangles(faces, vertexOf, mesh);
    return mesh;
}

} // namespace qor::io
