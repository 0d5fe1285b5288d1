#include "sketch/LooseEdges.h"

#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <ShapeUpgrade_UnifySameDomain.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_DataMapOfShapeInteger.hxx>
#include <TopTools_MapOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Wire.hxx>

#include <algorithm>

namespace qor::sketch {

std::vector<char> boundingEdges(const TopoDS_Face& face)
{
    TopTools_DataMapOfShapeInteger uses;
    for (TopExp_Explorer x(face, TopAbs_EDGE); x.More(); x.Next()) {
        if (int* count = uses.ChangeSeek(x.Current()))
            ++*count;
        else
            uses.Bind(x.Current(), 1);
    }
    std::vector<char> bounding;
    for (TopExp_Explorer x(face, TopAbs_EDGE); x.More(); x.Next()) {
        const TopAbs_Orientation o = x.Current().Orientation();
        bounding.push_back((o == TopAbs_FORWARD || o == TopAbs_REVERSED)
                           && uses.Find(x.Current()) == 1);
    }
    return bounding;
}

TopoDS_Face withoutLooseEdges(const TopoDS_Face& face)
{
    // Built on the face's own frame, then placed and turned as the face is.
    TopoDS_Face bare = face;
    bare.Location(TopLoc_Location());
    bare.Orientation(TopAbs_FORWARD);
    const std::vector<char> bounding = boundingEdges(bare);
    if (std::all_of(bounding.begin(), bounding.end(), [](char b) { return b != 0; }))
        return face;

    BRep_Builder builder;
    TopoDS_Face stripped = TopoDS::Face(bare.EmptyCopied());
    TopTools_MapOfShape kept; // vertices where no loose edge ended
    TopTools_MapOfShape freed;
    std::size_t k = 0;
    for (TopExp_Explorer w(bare, TopAbs_WIRE); w.More(); w.Next()) {
        TopoDS_Wire wire;
        builder.MakeWire(wire);
        bool any = false;
        for (TopExp_Explorer e(w.Current(), TopAbs_EDGE); e.More(); e.Next(), ++k) {
            TopTools_MapOfShape& ends = bounding[k] ? kept : freed;
            for (TopExp_Explorer v(e.Current(), TopAbs_VERTEX); v.More(); v.Next())
                ends.Add(v.Current());
            if (!bounding[k])
                continue;
            builder.Add(wire, e.Current());
            any = true;
        }
        if (!any)
            continue;
        wire.Closed(BRep_Tool::IsClosed(wire));
        builder.Add(stripped, wire);
    }

    TopoDS_Shape result = stripped;
    bool joinable = false;
    for (TopTools_MapOfShape::Iterator v(freed); v.More(); v.Next())
        joinable = joinable || kept.Contains(v.Key());
    if (joinable) {
        ShapeUpgrade_UnifySameDomain unify(stripped, true, false, false);
        TopTools_MapOfShape fixed;
        for (TopTools_MapOfShape::Iterator v(kept); v.More(); v.Next()) {
            if (!freed.Contains(v.Key()))
                fixed.Add(v.Key());
        }
        unify.KeepShapes(fixed);
        unify.Build();
        result = TopExp_Explorer(unify.Shape(), TopAbs_FACE).Current();
    }
    result.Location(face.Location());
    result.Orientation(face.Orientation());
    return TopoDS::Face(result);
}

} // namespace qor::sketch
