// Each drawn line of a view is held to the body it shows: a point of a visible line must
// be seen by the viewer (a ray from it towards the viewer meets no face), a point of a
// hidden line must not. The test finds what a drawn point shows by itself, from the
// body's edges and curved faces, and asks the kernel's line intersector, never the
// projection, whether a face lies in front.

#include "app/Examples.h"
#include "drawing/Projection.h"
#include "model/DocumentController.h"
#include "tests/common/Seeds.h"
#include "tests/fixtures/DrilledBlocks.h"
#include "tests/fixtures/HoledPlatePart.h"

#include <BRepAdaptor_Curve.hxx>
#include <BRepAdaptor_Surface.hxx>
#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepClass3d_SolidClassifier.hxx>
#include <BRepClass_FaceClassifier.hxx>
#include <BRepTools.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <GeomAPI_ExtremaCurveSurface.hxx>
#include <GeomLProp_SLProps.hxx>
#include <Geom_Line.hxx>
#include <Geom_Surface.hxx>
#include <IntCurvesFace_ShapeIntersector.hxx>
#include <Standard_Failure.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopTools_ListOfShape.hxx>
#include <TopTools_MapOfShape.hxx>
#include <TopoDS.hxx>

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <sstream>

namespace {

using qor::app::LineKind;
using qor::app::ProjectedView;
using qor::app::ViewPrimitive;

constexpr int front = 0;
constexpr int top = 1;
constexpr int right = 4;
constexpr int isometric = 6;
constexpr int views[] = {isometric, front, top, right};

// A drawn point lies within this of the projection of what it shows (the drawing
// tessellates curves, but its points lie on them).
constexpr double drawnTolerance = 2e-3;
// A ray from a point on the body meets that point's own faces within this.
constexpr double ownFaces = 1e-3;
// Rays beside the first, this far to either side in the paper across the line, must say
// the same: a ray along a face or past a silhouette or an edge may say either.
constexpr double aside = 0.01;
// Lines shorter than this are not judged: their inner points lie at their ends.
constexpr double shortest = 0.05;
// A curve the drawing finds nearly straight is drawn as its chord, within this of it.
constexpr double chordDeflection = 0.05;

// A 3D point on the paper's frame of the view.
struct Frame {
    gp_XYZ x, y, n;

    explicit Frame(int kind)
    {
        const gp_Ax2 axes = qor::app::viewAxes(kind);
        n = axes.Direction().XYZ();
        x = axes.XDirection().XYZ();
        y = n.Crossed(x).Normalized();
    }
    gp_Pnt2d flat(const gp_XYZ& p) const { return {p * x, p * y}; }
    gp_XYZ lift(const gp_Pnt2d& p) const { return p.X() * x + p.Y() * y; }
};

struct Box2d {
    double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;

    void add(const gp_Pnt2d& p)
    {
        minX = std::min(minX, p.X());
        minY = std::min(minY, p.Y());
        maxX = std::max(maxX, p.X());
        maxY = std::max(maxY, p.Y());
    }
    bool holds(const gp_Pnt2d& p, double reach) const
    {
        return p.X() >= minX - reach && p.X() <= maxX + reach && p.Y() >= minY - reach
               && p.Y() <= maxY + reach;
    }
};

Box2d flatBox(const TopoDS_Shape& shape, const Frame& frame)
{
    Bnd_Box box;
    BRepBndLib::Add(shape, box, false);
    double x0, y0, z0, x1, y1, z1;
    box.Get(x0, y0, z0, x1, y1, z1);
    Box2d flat;
    for (int corner = 0; corner < 8; ++corner)
        flat.add(
            frame.flat(gp_XYZ(corner & 1 ? x1 : x0, corner & 2 ? y1 : y0, corner & 4 ? z1 : z0)));
    return flat;
}

// What a drawn point may show: a point of an edge of the body or of a silhouette of one
// of its curved faces, whose projection is the drawn point.
class Sources {
public:
    Sources(const TopoDS_Shape& body, const Frame& frame)
        : frame_(frame)
    {
        TopTools_MapOfShape seams;
        for (TopExp_Explorer f(body, TopAbs_FACE); f.More(); f.Next()) {
            const TopoDS_Face& face = TopoDS::Face(f.Current());
            for (TopExp_Explorer e(face, TopAbs_EDGE); e.More(); e.Next()) {
                if (BRep_Tool::IsClosed(TopoDS::Edge(e.Current()), face))
                    seams.Add(e.Current());
            }
            if (BRepAdaptor_Surface(face).GetType() != GeomAbs_Plane)
                faces_.push_back({face, flatBox(face, frame)});
        }
        TopTools_IndexedMapOfShape edges;
        TopExp::MapShapes(body, TopAbs_EDGE, edges);
        for (int i = 1; i <= edges.Extent(); ++i) {
            const TopoDS_Edge& edge = TopoDS::Edge(edges(i));
            if (!BRep_Tool::Degenerated(edge) && !seams.Contains(edge))
                edges_.push_back(edgeSamples(edge));
        }
        Bnd_Box box;
        BRepBndLib::Add(body, box, false);
        reach_ = std::sqrt(box.SquareExtent()) + gp_Pnt(0, 0, 0).Distance(box.CornerMin()) + 1;
    }

    // The points of the body that the drawn point p of a line running along d shows,
    // their projections within `reach` of it.
    std::vector<gp_Pnt> at(const gp_Pnt2d& p, const gp_Vec2d& d,
                           double reach = drawnTolerance) const
    {
        std::vector<gp_Pnt> found;
        for (const EdgeSamples& edge : edges_) {
            if (edge.box.holds(p, reach))
                onEdge(edge, p, d, reach, found);
        }
        for (const FaceRecord& face : faces_) {
            if (face.box.holds(p, reach))
                onSilhouette(face.face, p, reach, found);
        }
        return found;
    }

private:
    struct EdgeSamples {
        BRepAdaptor_Curve curve;
        std::vector<double> parameters;
        Box2d box;
    };
    struct FaceRecord {
        TopoDS_Face face;
        Box2d box;
    };

    EdgeSamples edgeSamples(const TopoDS_Edge& edge) const
    {
        EdgeSamples samples{BRepAdaptor_Curve(edge), {}, {}};
        const double first = samples.curve.FirstParameter();
        const double last = samples.curve.LastParameter();
        const int count = samples.curve.GetType() == GeomAbs_Line ? 2 : 97;
        for (int i = 0; i < count; ++i) {
            const double u = first + (last - first) * i / (count - 1);
            samples.parameters.push_back(u);
            samples.box.add(frame_.flat(samples.curve.Value(u).XYZ()));
        }
        return samples;
    }

    // Where the edge crosses the plane through p that stands across the drawn line.
    void onEdge(const EdgeSamples& edge, const gp_Pnt2d& p, const gp_Vec2d& d, double reach,
                std::vector<gp_Pnt>& found) const
    {
        const auto across
            = [&](double u) { return gp_Vec2d(p, frame_.flat(edge.curve.Value(u).XYZ())).Dot(d); };
        for (std::size_t i = 0; i + 1 < edge.parameters.size(); ++i) {
            double a = edge.parameters[i];
            double b = edge.parameters[i + 1];
            double fa = across(a);
            if ((fa > 0) == (across(b) > 0))
                continue;
            for (int step = 0; step < 60; ++step) {
                const double m = 0.5 * (a + b);
                const double fm = across(m);
                if ((fm > 0) == (fa > 0)) {
                    a = m;
                    fa = fm;
                } else {
                    b = m;
                }
            }
            const gp_Pnt q = edge.curve.Value(0.5 * (a + b));
            if (frame_.flat(q.XYZ()).Distance(p) < reach)
                found.push_back(q);
        }
    }

    // Where the line of sight through p touches the face's surface.
    void onSilhouette(const TopoDS_Face& face, const gp_Pnt2d& p, double reach,
                      std::vector<gp_Pnt>& found) const
    {
        const Handle(Geom_Surface) surface = BRep_Tool::Surface(face);
        double u0, u1, v0, v1;
        BRepTools::UVBounds(face, u0, u1, v0, v1);
        const Handle(Geom_Line) sight = new Geom_Line(gp_Pnt(frame_.lift(p)), gp_Dir(frame_.n));
        try {
            GeomAPI_ExtremaCurveSurface extrema(sight, surface, -reach_, reach_, u0, u1, v0, v1);
            if (extrema.Extrema().IsParallel())
                return;
            for (int i = 1; i <= extrema.NbExtrema(); ++i) {
                if (extrema.Distance(i) > reach)
                    continue;
                double w, u, v;
                extrema.Parameters(i, w, u, v);
                GeomLProp_SLProps props(surface, u, v, 1, 1e-9);
                if (!props.IsNormalDefined() || std::abs(props.Normal().XYZ() * frame_.n) > 0.05)
                    continue;
                if (BRepClass_FaceClassifier(face, gp_Pnt2d(u, v), 1e-6).State() != TopAbs_OUT)
                    found.push_back(surface->Value(u, v));
            }
        } catch (const Standard_Failure&) {
            // No extrema: the surface shows no silhouette here.
        }
    }

    Frame frame_;
    std::vector<EdgeSamples> edges_;
    std::vector<FaceRecord> faces_;
    double reach_ = 0.0;
};

// What the rays from a point of the body towards the viewer meet.
class Sight {
public:
    Sight(const TopoDS_Shape& body, const Frame& frame)
        : body_(body)
        , frame_(frame)
    {
        rays_.Load(body, 1e-7);
    }

    // Every ray, from the point and beside it across the line, meets a face inside it.
    bool surelyHidden(const gp_Pnt& q, const gp_XYZ& across)
    {
        for (const double side : {0.0, aside, -aside}) {
            if (!meets(q.XYZ() + side * across, true))
                return false;
        }
        return true;
    }
    // No ray meets a face: not the one from the point, nor those beside it, of which one
    // may start in the material beside an edge and then leaves it at once.
    bool surelySeen(const gp_Pnt& q, const gp_XYZ& across)
    {
        if (meets(q.XYZ(), false))
            return false;
        for (const double side : {aside, -aside}) {
            const gp_XYZ from = q.XYZ() + side * across;
            const bool inside
                = BRepClass3d_SolidClassifier(body_, gp_Pnt(from), 1e-7).State() == TopAbs_IN;
            if (meets(from, false, inside ? 10 * aside : 0.0))
                return false;
        }
        return true;
    }

private:
    // Whether the ray from the point meets a face (inside it, or also at its boundary),
    // after leaving the material within `exit` when it starts there.
    bool meets(const gp_XYZ& from, bool inside, double exit = 0.0)
    {
        rays_.Perform(gp_Lin(gp_Pnt(from), gp_Dir(frame_.n)), ownFaces, 1e7);
        rays_.SortResult();
        for (int i = 1; i <= rays_.NbPnt(); ++i) {
            if (i == 1 && rays_.WParameter(1) < exit)
                continue;
            if (!inside || rays_.State(i) == TopAbs_IN)
                return true;
        }
        return exit > 0.0 && rays_.NbPnt() == 0;
    }

    TopoDS_Shape body_;
    Frame frame_;
    IntCurvesFace_ShapeIntersector rays_;
};

// Inner points of a drawn line, each with the direction the line runs there: points of the
// polyline itself (they lie on the curve), away from its ends.
std::vector<std::pair<gp_Pnt2d, gp_Vec2d>> innerPoints(const ViewPrimitive& prim)
{
    const std::vector<gp_Pnt2d>& pts = prim.points;
    std::vector<std::pair<gp_Pnt2d, gp_Vec2d>> inner;
    if (pts.size() == 2) {
        const gp_Vec2d d(pts[0], pts[1]);
        for (const double t : {0.25, 0.5, 0.75})
            inner.emplace_back(gp_Pnt2d(pts[0].XY() + t * d.XY()), d.Normalized());
        return inner;
    }
    std::size_t last = 0;
    for (int quarter = 1; quarter <= 3; ++quarter) {
        const std::size_t i
            = std::clamp<std::size_t>(quarter * (pts.size() - 1) / 4, 1, pts.size() - 2);
        const gp_Vec2d d(pts[i - 1], pts[i + 1]);
        if (i != last && d.Magnitude() > 1e-12)
            inner.emplace_back(pts[i], d.Normalized());
        last = i;
    }
    return inner;
}

double length(const ViewPrimitive& prim)
{
    double sum = 0.0;
    for (std::size_t i = 0; i + 1 < prim.points.size(); ++i)
        sum += prim.points[i].Distance(prim.points[i + 1]);
    return sum;
}

struct Judgement {
    int lines = 0; // judged
    int wrong = 0; // visible but covered, or hidden but in plain sight
    int unexplained = 0; // a point that shows no edge nor silhouette of the body
    std::string examples;
};

// Whether a drawn point lies on a visible line of the view: a hidden line there is drawn
// under it and cannot be told on paper (an edge behind a face seen edge-on, in line with
// the face's near edge).
bool underVisibleLine(const ProjectedView& pv, const gp_Pnt2d& p)
{
    for (const ViewPrimitive& prim : pv.primitives) {
        if (prim.kind != LineKind::Visible && prim.kind != LineKind::Outline)
            continue;
        for (std::size_t i = 0; i + 1 < prim.points.size(); ++i) {
            const gp_XY a = prim.points[i].XY();
            const gp_XY ab = prim.points[i + 1].XY() - a;
            const double t
                = std::clamp((p.XY() - a) * ab / std::max(ab.SquareModulus(), 1e-300), 0.0, 1.0);
            if ((a + t * ab - p.XY()).Modulus() < drawnTolerance)
                return true;
        }
    }
    return false;
}

Judgement judge(const TopoDS_Shape& body, int kind, const ProjectedView& pv)
{
    const Frame frame(kind);
    const Sources sources(body, frame);
    Sight sight(body, frame);
    Judgement result;
    for (const ViewPrimitive& prim : pv.primitives) {
        const bool hidden = prim.kind == LineKind::Hidden;
        if ((!hidden && prim.kind != LineKind::Visible && prim.kind != LineKind::Outline)
            || length(prim) < shortest)
            continue;
        ++result.lines;
        bool wrong = false;
        bool unexplained = false;
        for (const auto& [p, d] : innerPoints(prim)) {
            if (hidden && underVisibleLine(pv, p))
                continue;
            const gp_XYZ across = frame.lift(gp_Pnt2d(-d.Y(), d.X()));
            std::vector<gp_Pnt> shown = sources.at(p, d);
            // A line of two points may be the chord of a nearly straight curve.
            if (shown.empty() && prim.points.size() == 2)
                shown = sources.at(p, d, chordDeflection);
            unexplained |= shown.empty();
            const bool allWrong = std::all_of(shown.begin(), shown.end(), [&](const gp_Pnt& q) {
                return hidden ? sight.surelySeen(q, across) : sight.surelyHidden(q, across);
            });
            wrong |= !shown.empty() && allWrong;
        }
        result.wrong += wrong;
        result.unexplained += unexplained;
        if ((wrong || unexplained) && result.examples.size() < 600) {
            std::ostringstream text;
            text << (unexplained ? " unexplained " : " wrong ") << (hidden ? "hidden" : "visible")
                 << " (" << prim.points.front().X() << ", " << prim.points.front().Y() << ")-("
                 << prim.points.back().X() << ", " << prim.points.back().Y() << ");";
            result.examples += text.str();
        }
    }
    return result;
}

struct Body {
    std::string name;
    std::function<TopoDS_Shape()> shape;
};

TopoDS_Shape openedPart(const QString& path)
{
    qor::app::DocumentController controller;
    QString error;
    if (!controller.open(path, &error)) {
        ADD_FAILURE() << path.toStdString() << ": " << error.toStdString();
        return {};
    }
    qor::app::ProjectionCache cache;
    return cache.modelCompound(*controller.document);
}

TopoDS_Shape examplePart(const char* kind)
{
    qor::app::DocumentController controller;
    qor::app::buildExample(controller, QString::fromLatin1(kind));
    qor::app::ProjectionCache cache;
    return cache.modelCompound(*controller.document);
}

// Every view of every body: no wrong line and no line that shows nothing of the body.
void expectDrawnAsHidden(const std::vector<Body>& bodies)
{
    for (const Body& body : bodies) {
        const TopoDS_Shape shape = body.shape();
        ASSERT_FALSE(shape.IsNull()) << body.name;
        for (const int kind : views) {
            SCOPED_TRACE(body.name + ", view " + std::to_string(kind));
            const ProjectedView pv = qor::app::projectView(shape, kind, true, true);
            const Judgement j = judge(shape, kind, pv);
            std::printf("%s view %d: %d lines, %d wrong, %d unexplained\n", body.name.c_str(), kind,
                        j.lines, j.wrong, j.unexplained);
            EXPECT_GT(j.lines, 0);
            EXPECT_EQ(j.wrong, 0) << j.examples;
            EXPECT_EQ(j.unexplained, 0) << j.examples;
        }
    }
}

TEST(HiddenLines, HoledPlatesShowOnlyWhatTheViewerSees)
{
    const QString nine = QStringLiteral(QOR_SHARED_FILES "/wave10/loecher-9.qcpart");
    if (!QFileInfo::exists(nine))
        GTEST_SKIP() << "missing " << nine.toStdString();
    QTemporaryDir folder;
    const QString hundred = qor::test::writeHoledPlatePart(folder.path(), 100);
    expectDrawnAsHidden({{"loecher-9", [&] { return openedPart(nine); }},
                         {"lochblech-100", [&] { return openedPart(hundred); }}});
}

TEST(HiddenLines, DrilledBlocksShowOnlyWhatTheViewerSees)
{
    std::vector<Body> bodies{{"grid block", [] { return qor::test::gridDrilledBlock(); }}};
    for (unsigned own = 1; own <= 3; ++own) {
        const unsigned seed = qor::test::seed(own);
        bodies.push_back({"random block " + std::to_string(seed), [seed] {
                              std::mt19937 random(seed);
                              return qor::test::randomDrilledBlock(random);
                          }});
    }
    expectDrawnAsHidden(bodies);
}

TEST(HiddenLines, ExamplePartsShowOnlyWhatTheViewerSees)
{
    std::vector<Body> bodies;
    for (const char* kind : {"bracket", "flange", "housing"})
        bodies.push_back({kind, [kind] { return examplePart(kind); }});
    expectDrawnAsHidden(bodies);
}

bool samePrimitives(const ProjectedView& a, const ProjectedView& b)
{
    const auto same = [](const ViewPrimitive& p, const ViewPrimitive& q) {
        return p.kind == q.kind && p.points.size() == q.points.size()
               && std::equal(p.points.begin(), p.points.end(), q.points.begin(),
                             [](const gp_Pnt2d& s, const gp_Pnt2d& t) {
                                 return s.X() == t.X() && s.Y() == t.Y();
                             });
    };
    return std::equal(a.primitives.begin(), a.primitives.end(), b.primitives.begin(),
                      b.primitives.end(), same);
}

// Whether two faces of the shape meet along an edge without a kink, as rounds meet the
// faces they round.
bool hasSmoothEdge(const TopoDS_Shape& shape)
{
    TopTools_IndexedDataMapOfShapeListOfShape faces;
    TopExp::MapShapesAndAncestors(shape, TopAbs_EDGE, TopAbs_FACE, faces);
    for (int i = 1; i <= faces.Extent(); ++i) {
        const TopTools_ListOfShape& two = faces(i);
        if (two.Extent() != 2 || two.First().IsSame(two.Last()))
            continue;
        const TopoDS_Edge& edge = TopoDS::Edge(faces.FindKey(i));
        const TopoDS_Face& a = TopoDS::Face(two.First());
        const TopoDS_Face& b = TopoDS::Face(two.Last());
        if (BRep_Tool::HasContinuity(edge, a, b) && BRep_Tool::Continuity(edge, a, b) != GeomAbs_C0)
            return true;
    }
    return false;
}

// The check after the kernel's removal changes nothing where the kernel drew every line
// right, and leaves no wrong line where it did not: random drilled and rounded blocks
// (straight, round and crossing edges, silhouettes, smooth edges), the grid block whose
// isometric view the kernel gets wrong, the plate file and the example parts.
TEST(HiddenLines, CheckKeepsTheKernelsLinesWhereTheyAreRight)
{
    std::vector<Body> bodies{{"grid block", [] { return qor::test::gridDrilledBlock(); }}};
    for (const char* kind : {"bracket", "flange", "housing"})
        bodies.push_back({kind, [kind] { return examplePart(kind); }});
    const QString nine = QStringLiteral(QOR_SHARED_FILES "/wave10/loecher-9.qcpart");
    if (QFileInfo::exists(nine))
        bodies.push_back({"loecher-9", [&] { return openedPart(nine); }});
    for (unsigned own = 101; own <= 116; ++own) {
        const unsigned seed = qor::test::seed(own);
        bodies.push_back({"random block " + std::to_string(seed), [seed] {
                              std::mt19937 random(seed);
                              return qor::test::randomDrilledBlock(random);
                          }});
    }
    int kept = 0;
    int mended = 0;
    int smooth = 0;
    for (const Body& body : bodies) {
        const TopoDS_Shape shape = body.shape();
        ASSERT_FALSE(shape.IsNull()) << body.name;
        smooth += body.name.rfind("random", 0) == 0 && hasSmoothEdge(shape);
        for (const int kind : views) {
            SCOPED_TRACE(body.name + ", view " + std::to_string(kind));
            const ProjectedView plain
                = qor::app::projectView(shape, kind, true, true, qor::app::ExactCheck::None);
            const ProjectedView checked = qor::app::projectView(shape, kind, true, true);
            if (judge(shape, kind, plain).wrong == 0) {
                ++kept;
                EXPECT_TRUE(samePrimitives(plain, checked));
            } else {
                ++mended;
                std::printf("mended: %s, view %d\n", body.name.c_str(), kind);
                const Judgement j = judge(shape, kind, checked);
                EXPECT_EQ(j.wrong, 0) << j.examples;
            }
        }
    }
    std::printf("%d views kept, %d mended, %d random blocks with rounds\n", kept, mended, smooth);
    EXPECT_GT(kept, 0);
    EXPECT_GT(mended, 0);
    EXPECT_GT(smooth, 0);
}

// The judgement itself tells a line drawn the wrong way: with visible and hidden swapped
// in views of the grid block turned askew, so that no two edges lie on one line of sight,
// every line is wrong.
TEST(HiddenLines, JudgementFindsLinesDrawnTheWrongWay)
{
    gp_Trsf askew;
    askew.SetRotation(gp_Ax1(gp::Origin(), gp_Dir(2, -1, 1)), 0.9);
    const TopoDS_Shape block
        = BRepBuilderAPI_Transform(qor::test::gridDrilledBlock(), askew, true).Shape();
    for (const int kind : {front, top, right}) {
        SCOPED_TRACE(kind);
        ProjectedView pv = qor::app::projectView(block, kind, true, true);
        for (ViewPrimitive& prim : pv.primitives) {
            if (prim.kind == LineKind::Hidden)
                prim.kind = LineKind::Visible;
            else if (prim.kind == LineKind::Visible || prim.kind == LineKind::Outline)
                prim.kind = LineKind::Hidden;
        }
        const Judgement j = judge(block, kind, pv);
        std::printf("swapped view %d: %d lines, %d wrong\n", kind, j.lines, j.wrong);
        EXPECT_GT(j.lines, 50);
        EXPECT_EQ(j.wrong, j.lines);
    }
}

} // namespace
