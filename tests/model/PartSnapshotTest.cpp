#include "model/PartSnapshot.h"
#include "tests/common/ShapeChecks.h"

#include <BRep_Builder.hxx>
#include <BRep_TEdge.hxx>
#include <BRep_TFace.hxx>
#include <BRep_TVertex.hxx>
#include <BRep_Tool.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <gp_Trsf.hxx>

#include <gtest/gtest.h>

#include <functional>
#include <string>

using qor::model::PartSnapshot;

namespace {

// The largest tolerance of the parts of one kind, as the kernel reads it.
double largestTolerance(const TopoDS_Shape& shape, TopAbs_ShapeEnum kind)
{
    double largest = 0.0;
    for (TopExp_Explorer it(shape, kind); it.More(); it.Next()) {
        if (kind == TopAbs_VERTEX)
            largest = std::max(largest, BRep_Tool::Tolerance(TopoDS::Vertex(it.Current())));
        else if (kind == TopAbs_EDGE)
            largest = std::max(largest, BRep_Tool::Tolerance(TopoDS::Edge(it.Current())));
        else
            largest = std::max(largest, BRep_Tool::Tolerance(TopoDS::Face(it.Current())));
    }
    return largest;
}

// How many of the shape's parts of one kind the other shape holds too.
int sharedParts(const TopoDS_Shape& a, const TopoDS_Shape& b, TopAbs_ShapeEnum kind)
{
    TopTools_IndexedMapOfShape inA;
    TopExp::MapShapes(a, kind, inA);
    TopTools_IndexedMapOfShape inB;
    TopExp::MapShapes(b, kind, inB);
    int shared = 0;
    for (int i = 1; i <= inB.Extent(); ++i)
        shared += inA.Contains(inB(i)) ? 1 : 0;
    return shared;
}

struct Write {
    const char* name;
    TopAbs_ShapeEnum kind;
    std::function<void(const TopoDS_Shape&)> write; // into the first part of that kind
};

} // namespace

// A step writes into one part of a box, which stands once or at two places
// (one part placed twice): the snapshot puts the part back as it was taken and
// hands out the result with a copy holding the write at every place, sharing
// the parts nothing wrote into.
TEST(PartSnapshot, MovesWritesOntoCopiesAtEveryPlace)
{
    const Write writes[] = {
        {"edge tolerance", TopAbs_EDGE,
         [](const TopoDS_Shape& edge) {
             Handle(BRep_TEdge)::DownCast(edge.TShape())->Tolerance(0.5);
         }},
        {"vertex tolerance", TopAbs_VERTEX,
         [](const TopoDS_Shape& vertex) {
             Handle(BRep_TVertex)::DownCast(vertex.TShape())->Tolerance(0.5);
         }},
        {"face tolerance", TopAbs_FACE,
         [](const TopoDS_Shape& face) {
             Handle(BRep_TFace)::DownCast(face.TShape())->Tolerance(0.5);
         }},
    };
    for (const Write& w : writes) {
        for (const bool twice : {false, true}) {
            SCOPED_TRACE(std::string(w.name) + (twice ? ", placed twice" : ", placed once"));
            const TopoDS_Shape box = qor::test::box(10, 20, 30);
            TopoDS_Shape shape = box;
            if (twice) {
                gp_Trsf shift;
                shift.SetTranslation(gp_Vec(100, 0, 0));
                BRep_Builder builder;
                TopoDS_Compound both;
                builder.MakeCompound(both);
                builder.Add(both, box);
                builder.Add(both, box.Moved(TopLoc_Location(shift)));
                shape = both;
            }
            const int places = twice ? 2 : 1;
            const int parts = qor::test::countOf(shape, w.kind);

            PartSnapshot taken(shape);
            w.write(TopExp_Explorer(shape, w.kind).Current());
            ASSERT_EQ(largestTolerance(shape, w.kind), 0.5);
            const TopoDS_Shape result = taken.putBack(shape);

            EXPECT_EQ(taken.written(), 1u);
            EXPECT_LT(largestTolerance(shape, w.kind), 0.01);
            EXPECT_EQ(largestTolerance(result, w.kind), 0.5);
            // Every place holds the copy; every other part stays shared.
            EXPECT_EQ(sharedParts(shape, result, w.kind), parts - places);
            EXPECT_EQ(qor::test::countOf(result, w.kind), parts);
        }
    }
}
