#pragma once

// Volumes and bodies the reader and writer tests share.

#include "io/Import.h"

#include <BRepGProp.hxx>
#include <GProp_GProps.hxx>

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

} // namespace qor::test
