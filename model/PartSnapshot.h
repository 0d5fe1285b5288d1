#pragma once

#include <BRep_CurveRepresentation.hxx>
#include <BRep_PointRepresentation.hxx>
#include <Geom2d_Curve.hxx>
#include <Geom_Curve.hxx>
#include <Geom_Surface.hxx>
#include <TopoDS_Shape.hxx>
#include <gp_Pnt.hxx>

#include <unordered_set>
#include <vector>

namespace qor::model {

// What a kernel step may write into the vertices, edges and faces of a shape
// it is given, taken before the step, so that the step's writes can be moved
// onto copies of their own afterwards. The shapes of earlier states and of the
// undo history share those parts: a step that writes into them changes those
// bodies too. Copying every part before such a step costs the memory of a
// whole body for every state that keeps the result; the parts a step writes
// into are few and are copied here only when written.
class PartSnapshot {
public:
    explicit PartSnapshot(const TopoDS_Shape& shape);

    // Puts every written part back as it was taken and returns `result` with
    // copies of the written parts, as written, in their place.
    TopoDS_Shape putBack(const TopoDS_Shape& result);
    // Puts every written part back as it was taken.
    void putBack();

    // How many parts the last putBack found written.
    std::size_t written() const { return written_; }

private:
    struct Curve {
        Handle(BRep_CurveRepresentation) representation;
        double first = 0.0;
        double last = 0.0;
        Handle(Geom_Curve) curve;
        Handle(Geom2d_Curve) pcurve;
        Handle(Geom2d_Curve) pcurve2;
    };
    struct Edge {
        TopoDS_Shape edge;
        double tolerance = 0.0;
        bool sameParameter = false;
        bool sameRange = false;
        bool degenerated = false;
        std::vector<Curve> curves;
    };
    struct Point {
        Handle(BRep_PointRepresentation) representation;
        double parameter = 0.0;
        double parameter2 = 0.0;
    };
    struct Vertex {
        TopoDS_Shape vertex;
        double tolerance = 0.0;
        gp_Pnt point;
        std::vector<Point> points;
    };
    struct Face {
        TopoDS_Shape face;
        Handle(Geom_Surface) surface;
        TopLoc_Location location;
        double tolerance = 0.0;
        bool naturalRestriction = false;
    };

    void takeAll(const TopoDS_Shape& shape, std::unordered_set<const void*>& taken);
    static Edge take(const TopoDS_Shape& edge);
    static Vertex takeVertex(const TopoDS_Shape& vertex);
    static Face takeFace(const TopoDS_Shape& face);
    static Curve curveOf(const Handle(BRep_CurveRepresentation)& representation);
    static Point pointOf(const Handle(BRep_PointRepresentation)& representation);
    static bool same(const Curve& a, const Curve& b);
    static bool same(const Point& a, const Point& b);
    template <typename List, typename Record, typename Of>
    static bool sameAsTaken(const List& now, const std::vector<Record>& taken, Of of);
    static bool unchanged(const Edge& e);
    static bool unchanged(const Vertex& v);
    static bool unchanged(const Face& f);
    static void restore(const Edge& e);
    static void restore(const Vertex& v);
    static void restore(const Face& f);

    std::vector<Edge> edges_;
    std::vector<Vertex> vertices_;
    std::vector<Face> faces_;
    std::size_t written_ = 0;
};

} // namespace qor::model
