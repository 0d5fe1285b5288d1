#pragma once

#include "model/ExecContext.h"

#include <QJsonObject>
#include <QString>

#include <TopoDS_Compound.hxx>
#include <TopoDS_Shape.hxx>
#include <TopoDS_Wire.hxx>
#include <gp_Ax1.hxx>
#include <gp_Ax3.hxx>

#include <vector>

// Resolvers that turn the selection references stored in a feature's parameters
// into geometry of the running modelling state. Every failure is a FeatureError
// whose German message tells the user what to select again.

namespace qor::model {

// The sub-shape of the referenced body that best matches the reference's "sig";
// the signature's kind decides between face, edge and vertex. bodyId gets the body.
TopoDS_Shape resolveReference(const ModelState& state, const QJsonObject& reference,
                              int* bodyId = nullptr);

// Every reference of the array under key resolved in array order; bodyId ends up
// with the body of the last one. A value that is not an array gives no shapes.
std::vector<TopoDS_Shape> resolveShapeList(const ExecContext& context, const QString& key,
                                           int* bodyId = nullptr);
std::vector<TopoDS_Shape> resolveEdgeList(const ExecContext& context, const QString& key,
                                          int* bodyId = nullptr);

// The bodies of a body list (bare ids or objects with "id") that still exist, in
// list order with duplicates kept.
std::vector<int> resolveTargetBodies(const ExecContext& context, const QString& key);

// One connected wire through the referenced sketches' curves and body edges.
TopoDS_Wire resolvePathWire(const ExecContext& context, const QString& key);

// The plane of a planar face with its outward normal, located at the foot of the
// perpendicular from the origin and with an x-direction that depends only on the
// normal, so a rebuilt face gives the same frame.
gp_Ax3 facePlane(const TopoDS_Shape& face);

// Refuses a face of a body read from a mesh file as a plane: FeatureError
// "<failure>: „<name>“ ist ein Netzkörper aus einem Import (nur Dreiecke) und hat
// keine Flächen, die sich als Ebene nehmen lassen". Other bodies pass.
void refuseMeshPlane(const ModelState& state, int bodyId, const QString& failure);

// The picked sketch regions (fused per sketch) and planar faces; plane gets the
// plane of the first usable element.
TopoDS_Compound resolveProfileFaces(const ExecContext& context, const QString& key,
                                    gp_Ax3* plane = nullptr);

// An origin plane (also when nothing is selected: XY), a construction plane or a
// planar face.
gp_Ax3 resolvePlaneRef(const ExecContext& context, const QString& key);

// An origin axis, a construction axis, a sketch line, a straight or circular edge,
// or the axis of a cylindrical, conical or planar face.
gp_Ax1 resolveAxisRef(const ExecContext& context, const QString& key);

} // namespace qor::model
