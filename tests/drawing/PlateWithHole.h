#pragma once

#include "model/Document.h"
#include "tests/common/ShapeChecks.h"

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>

namespace qor::test {

// A document with one body: a 100 × 50 × 20 plate centred on the z axis with a
// 10 mm hole through it at x = 20.
inline qor::model::Document plateWithHole()
{
    const TopoDS_Shape plate = box(100, 50, 20, gp_Pnt(-50, -25, 0));
    const TopoDS_Shape hole = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(20, 0, -1), gp::DZ()), 5, 22);
    qor::model::Document doc;
    doc.current.bodies[1]
        = qor::model::Body{.id = 1, .shape = BRepAlgoAPI_Cut(plate, hole).Shape()};
    return doc;
}

} // namespace qor::test
