#pragma once

#include <TopoDS_Shape.hxx>
#include <gp_Pnt.hxx>
#include <gp_Vec.hxx>

#include <array>
#include <utility>
#include <vector>

namespace qor::app {

// The triangles of a body read from a mesh file, made ready to be shown as the part they
// describe. Such a file shares a node between all the triangles around it, and lit with one
// normal per node the shading runs across the part's sharp edges: holes blur into trenches
// and flat faces show the fans of their triangles. Here a node gets one normal for each side
// of a sharp edge through it, as mesh viewers do: the triangles around the node whose normals
// lie within the crease angle of a triangle's own are averaged (weighted by area) for that
// triangle's corner, and corners that come out alike share a node.
struct CreasedMesh {
    std::vector<gp_Pnt> nodes;
    std::vector<gp_Vec> normals; // one unit vector per node
    std::vector<std::array<int, 3>> triangles; // indices into nodes, from 0, facing out
    // The sharp edges (triangles meeting at more than the crease angle) and the rims (edges
    // of one triangle, or of more than two): the lines a picture of the part draws.
    std::vector<std::pair<gp_Pnt, gp_Pnt>> creases;
};

// The shape's triangles with nodes that lie within 0.00001 mm of each other joined, creased
// at creaseAngle (radians).
CreasedMesh creasedMesh(const TopoDS_Shape& shape, double creaseAngle);

} // namespace qor::app
