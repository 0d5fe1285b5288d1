#pragma once

// Volumes and bodies the reader and writer tests share.

#include "io/Import.h"

#include <BRepGProp.hxx>
#include <BRep_Builder.hxx>
#include <GProp_GProps.hxx>
#include <Poly_Triangulation.hxx>
#include <TopoDS_Face.hxx>

#include <QString>

#include <cmath>

namespace qor::test {

// Unsigned: mesh bodies read back may face either way.
inline double volumeOf(const TopoDS_Shape& shape)
{
    GProp_GProps props;
    BRepGProp::VolumeProperties(shape, props);
    return std::abs(props.Mass());
}

// A mesh body with a fin: three triangles on one edge, the simplest mesh that is not
// manifold.
inline TopoDS_Shape finMesh()
{
    Handle(Poly_Triangulation) fin = new Poly_Triangulation(5, 3, false);
    const gp_Pnt nodes[] = {{0, 0, 0}, {10, 0, 0}, {0, 10, 0}, {0, -10, 0}, {0, 0, 10}};
    for (int i = 0; i < 5; ++i)
        fin->SetNode(i + 1, nodes[i]);
    fin->SetTriangle(1, Poly_Triangle(1, 2, 3));
    fin->SetTriangle(2, Poly_Triangle(2, 1, 4));
    fin->SetTriangle(3, Poly_Triangle(1, 2, 5));
    TopoDS_Face face;
    BRep_Builder().MakeFace(face, fin);
    return face;
}

inline const io::ImportedBody* findBody(const io::ImportResult& result, const QString& name)
{
    for (const io::ImportedBody& body : result.bodies) {
        if (body.name == name)
            return &body;
    }
    return nullptr;
}

// The folder of real files from other programs, beside the source tree; the environment
// variable QOR_READER_FILES moves it (a worktree one level deeper has none beside it).
inline QString readerFilesFolder()
{
    const QString moved = qEnvironmentVariable("QOR_READER_FILES");
    return moved.isEmpty() ? QStringLiteral(QOR_READER_FILES) : moved;
}

// KiCad's published 3D models, unpacked from the distribution's package beside the
// source tree; QOR_KICAD_MODELS moves them.
inline QString kicadModelsFolder()
{
    const QString moved = qEnvironmentVariable("QOR_KICAD_MODELS");
    return moved.isEmpty() ? QStringLiteral(QOR_KICAD_MODELS) : moved;
}

} // namespace qor::test
