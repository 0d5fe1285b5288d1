#pragma once

#include "io/Import.h"
#include "io/sab/SabStream.h"

#include <Geom_Curve.hxx>
#include <Geom_Surface.hxx>
#include <QStringList>
#include <TopoDS_Edge.hxx>
#include <TopoDS_Shape.hxx>
#include <TopoDS_Vertex.hxx>

#include <unordered_map>

namespace qor::io {

// Appends text unless the list holds it already (case-sensitive).
void addWarningOnce(QStringList& list, const QString& text);

// A converted surface; null for a type without exact conversion, whose faces
// are rebuilt from their boundary. reversed: the surface's natural normal
// points into the material (negative radius, cone opening backwards).
struct SabSurface {
    Handle(Geom_Surface) surface;
    bool reversed = false;
};

// The state of converting one file's records to OpenCASCADE objects. Curve,
// vertex and edge records shared by several users become one shared object, so
// that neighbouring faces meet without sewing. Every conversion throws SabError
// or lets OpenCASCADE failures through; callers guard each face.
struct SabBuilder {
    QStringList warnings; // German notes, each once, in order of occurrence
    int filledFaces = 0;
    int skippedFaces = 0;
    int totalFaces = 0;
    SabReader* reader = nullptr;
    double unitScale = 1.0;
    SabIndex byIndex;
    std::unordered_map<const SabRecord*, Handle(Geom_Curve)> curves;
    std::unordered_map<const SabRecord*, TopoDS_Shape> vertices;
    std::unordered_map<const SabRecord*, TopoDS_Shape> edges;
    // Asked before every face and body; may be empty.
    CancelCheck cancelled;

    // Takes the unit factor and builds the index table of the read records.
    explicit SabBuilder(SabReader& source);

    // The record a pointer field names; null for a negative or unknown index.
    const SabRecord* resolve(const SabValue& field) const;

    TopoDS_Vertex vertexFor(const SabRecord& vertex);
    Handle(Geom_Curve) curveFor(const SabRecord& curve); // never null
    TopoDS_Edge edgeFor(const SabRecord& edge); // oriented forward
    SabSurface surfaceFor(const SabRecord& surface) const;

    // Throws SabAbort once the read is cancelled.
    void checkCancelled() const;
};

} // namespace qor::io
