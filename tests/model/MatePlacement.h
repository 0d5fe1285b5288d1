#pragma once

#include "model/Document.h"
#include "model/MateSolver.h"

#include <TopoDS_Shape.hxx>
#include <gtest/gtest.h>

namespace qor::test {

// A mated sub-shape's plane, axis or point where its component's placement puts it.
inline model::MateSide placed(const model::Document& doc, int componentId,
                              const TopoDS_Shape& subShape)
{
    model::MateSide side;
    EXPECT_TRUE(model::classifyReference(subShape, side));
    const gp_Trsf trsf = doc.component(componentId)->transform();
    side.point.Transform(trsf);
    side.direction.Transform(trsf);
    return side;
}

} // namespace qor::test
