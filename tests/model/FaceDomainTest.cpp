#include "model/FaceDomain.h"

#include "model/Document.h"
#include "tests/common/CaseNames.h"
#include "tests/common/Seeds.h"
#include "tests/fixtures/MixedHistory.h"
#include "tests/fixtures/PerforatedFaces.h"

#include <BRepAdaptor_Curve2d.hxx>
#include <BRepAdaptor_Surface.hxx>
#include <BRepTools.hxx>
#include <BRepTopAdaptor_FClass2d.hxx>
#include <BRep_Builder.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Iterator.hxx>
#include <gp_Vec2d.hxx>

#include <QFileInfo>
#include <QString>

#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

using qor::model::FaceCurves;
using qor::model::FaceDomain;

namespace {

int wireCount(const TopoDS_Face& face)
{
    int wires = 0;
    for (TopoDS_Iterator child(face); child.More(); child.Next())
        ++wires;
    return wires;
}

bool isPlane(const TopoDS_Face& face)
{
    return BRepAdaptor_Surface(face, false).GetType() == GeomAbs_Plane;
}

bool isRound(const TopoDS_Face& face)
{
    const GeomAbs_SurfaceType type = BRepAdaptor_Surface(face, false).GetType();
    return type == GeomAbs_Cylinder || type == GeomAbs_Cone;
}

int edgeCount(const TopoDS_Face& face)
{
    int edges = 0;
    for (TopExp_Explorer edge(face, TopAbs_EDGE); edge.More(); edge.Next())
        ++edges;
    return edges;
}

// Parameters where a face's classifier has to decide with care: spread over
// the face's box and beyond it, and about every edge, on it and at distances
// from within the tolerances asked to well clear, to either side.
std::vector<gp_Pnt2d> probes(const TopoDS_Face& face, std::mt19937& random)
{
    double u0 = 0, u1 = 0, v0 = 0, v1 = 0;
    BRepTools::UVBounds(face, u0, u1, v0, v1);
    const double du = u1 - u0;
    const double dv = v1 - v0;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<gp_Pnt2d> points;
    // On a round surface also a turn before and after: the classifier moves them back.
    const BRepAdaptor_Surface surface(face, false);
    const double period = surface.IsUPeriodic() ? surface.UPeriod() : 0.0;
    for (int i = 0; i < 150; ++i) {
        const gp_Pnt2d at(u0 - 0.1 * du + 1.2 * du * unit(random),
                          v0 - 0.1 * dv + 1.2 * dv * unit(random));
        points.push_back(at);
        if (period > 0.0 && i % 3 == 0) {
            points.emplace_back(at.X() + period, at.Y());
            points.emplace_back(at.X() - period, at.Y());
        }
    }
    const double offsets[] = {0.0, 1e-10, 1e-5, 0.002, 0.006, 0.03, 0.05, 0.1, 0.2, 0.7};
    for (TopExp_Explorer edge(face, TopAbs_EDGE); edge.More(); edge.Next()) {
        const BRepAdaptor_Curve2d curve(TopoDS::Edge(edge.Current()), face);
        for (int k = 0; k < 2; ++k) {
            const double t = curve.FirstParameter()
                             + unit(random) * (curve.LastParameter() - curve.FirstParameter());
            gp_Pnt2d at;
            gp_Vec2d tangent;
            curve.D1(t, at, tangent);
            if (tangent.Magnitude() < 1e-12)
                continue;
            const gp_Vec2d across = gp_Vec2d(-tangent.Y(), tangent.X()).Normalized();
            for (const double offset : offsets) {
                points.push_back(at.Translated(offset * across));
                points.push_back(at.Translated(-offset * across));
            }
        }
    }
    return points;
}

// Parameters in line with the ends of edges, along u and along v, clear of
// the ends: a ray from them along that line passes an end, as a grid's row
// through holes in a row does through the circles' seams.
std::vector<gp_Pnt2d> inLineWithEnds(const TopoDS_Face& face, std::mt19937& random)
{
    double u0 = 0, u1 = 0, v0 = 0, v1 = 0;
    BRepTools::UVBounds(face, u0, u1, v0, v1);
    std::uniform_real_distribution<double> unit(0.05, 0.5);
    std::vector<gp_Pnt2d> points;
    for (TopExp_Explorer edge(face, TopAbs_EDGE); edge.More(); edge.Next()) {
        const BRepAdaptor_Curve2d curve(TopoDS::Edge(edge.Current()), face);
        const gp_Pnt2d end = curve.Value(curve.FirstParameter());
        const double sign = unit(random) < 0.275 ? -1.0 : 1.0;
        points.emplace_back(end.X() + sign * unit(random) * (u1 - u0), end.Y());
        points.emplace_back(end.X(), end.Y() + sign * unit(random) * (v1 - v0));
    }
    return points;
}

struct Tally {
    int narrowed = 0; // faces answered by the outer wire and the holes near
    int points = 0;
    int on = 0; // answers on the boundary: the probes reach the boundary band
    int faces = 0;
    int withCurves = 0; // faces whose curves tell points away from them
    int curvesAsked = 0;
    int curvesTold = 0;
    int inLineAsked = 0; // probes in line with edges' ends
    int inLineTold = 0;
};

// The domain answers every probe as the kernel's classifier of the whole face.
void expectAlike(const TopoDS_Face& face, std::mt19937& random, Tally& tally,
                 const std::string& where)
{
    std::vector<gp_Pnt2d> points = probes(face, random);
    const std::size_t firstInLine = points.size();
    for (const gp_Pnt2d& uv : inLineWithEnds(face, random))
        points.push_back(uv);
    // One domain answers at every tolerance, as the rule asks it.
    const FaceDomain domain(face);
    // The curves alone, where they answer, answer alike.
    const std::unique_ptr<FaceCurves> curves = FaceCurves::of(face);
    ++tally.faces;
    tally.withCurves += curves ? 1 : 0;
    for (const double tolerance : {1e-9, 0.0025, 0.01}) {
        const BRepTopAdaptor_FClass2d whole(face, tolerance);
        // Only plane faces of many wires are worth narrowing.
        if (domain.narrowed())
            EXPECT_TRUE(isPlane(face) && wireCount(face) >= 5) << where;
        tally.narrowed += domain.narrowed() ? 1 : 0;
        for (std::size_t k = 0; k < points.size(); ++k) {
            const gp_Pnt2d& uv = points[k];
            const TopAbs_State want = whole.Perform(uv);
            ++tally.points;
            tally.on += want == TopAbs_ON ? 1 : 0;
            ASSERT_EQ(int(domain.state(uv, tolerance)), int(want))
                << where << ", tolerance " << tolerance << ", at (" << uv.X() << ", " << uv.Y()
                << ") of a face of " << wireCount(face) << " wires";
            if (!curves)
                continue;
            ++tally.curvesAsked;
            const bool inLine = k >= firstInLine && isPlane(face);
            tally.inLineAsked += inLine ? 1 : 0;
            if (const std::optional<TopAbs_State> told = curves->state(uv, tolerance)) {
                ++tally.curvesTold;
                tally.inLineTold += inLine ? 1 : 0;
                ASSERT_EQ(int(*told), int(want))
                    << where << ", by the curves at tolerance " << tolerance << ", at (" << uv.X()
                    << ", " << uv.Y() << ")";
            }
        }
    }
}

// Whether some of a case's faces are narrowed, none, or either may happen.
enum class Narrowing { Some, None, Either };
// Whether every face is told by its curves away from them (and most probes
// are), none is, or either may happen (a flaw may leave a wire's turn unclear).
enum class Curves { Tell, Never, Either };

struct FaceCase {
    const char* name;
    std::function<TopoDS_Face(std::mt19937&)> make;
    Narrowing narrowing;
    Curves curves;
};

const FaceCase faceCases[] = {
    {"holes of every kind",
     [](std::mt19937& random) {
         return qor::test::perforatedFace(random, std::uniform_int_distribution(5, 60)(random),
                                          qor::test::HoleFlaw::None);
     },
     Narrowing::Some, Curves::Tell},
    {"one flawed hole among many",
     [](std::mt19937& random) {
         const auto flaw = qor::test::allHoleFlaws[std::uniform_int_distribution<std::size_t>(
             1, std::size(qor::test::allHoleFlaws) - 1)(random)];
         return qor::test::perforatedFace(random, std::uniform_int_distribution(5, 40)(random),
                                          flaw);
     },
     Narrowing::Some, Curves::Either},
    {"holes nearly touching",
     [](std::mt19937& random) {
         return qor::test::crowdedFace(random, std::uniform_int_distribution(5, 40)(random), false);
     },
     Narrowing::Some, Curves::Tell},
    {"holes touching at a point",
     [](std::mt19937& random) {
         return qor::test::crowdedFace(random, std::uniform_int_distribution(5, 30)(random), true);
     },
     Narrowing::Some, Curves::Tell},
    {"holes in a cylinder's wall",
     [](std::mt19937& random) {
         return qor::test::perforatedCylinderFace(random,
                                                  std::uniform_int_distribution(5, 30)(random));
     },
     Narrowing::None, Curves::Never},
    {"bands of cylinders and cones with windows",
     [](std::mt19937& random) {
         return qor::test::roundBandFace(random, std::uniform_int_distribution(0, 6)(random));
     },
     Narrowing::None, Curves::Tell},
    {"few holes",
     [](std::mt19937& random) {
         return qor::test::perforatedFace(random, std::uniform_int_distribution(1, 4)(random),
                                          qor::test::HoleFlaw::None);
     },
     Narrowing::Either, Curves::Tell},
    {"long outlines of lines and arcs",
     [](std::mt19937& random) {
         return qor::test::outlinedFace(random, std::uniform_int_distribution(12, 60)(random),
                                        std::uniform_int_distribution(0, 16)(random));
     },
     Narrowing::Either, Curves::Tell},
};

class FaceDomainCases : public testing::TestWithParam<FaceCase> { };

// On random faces of every kind of hole, sound or flawed, plane or curved, the
// domain tells each point as the classifier of the whole face does, at the
// tolerances the rule asks with; plane faces with many holes are narrowed.
TEST_P(FaceDomainCases, AnswerAsTheWholeFacesClassifier)
{
    Tally tally;
    for (unsigned own = 1; own <= 6; ++own) {
        const unsigned seed = qor::test::seed(own);
        std::mt19937 random(seed);
        const TopoDS_Face face = GetParam().make(random);
        expectAlike(face, random, tally, "seed " + std::to_string(seed));
        if (HasFatalFailure())
            return;
        // The same face turned round answers alike.
        expectAlike(TopoDS::Face(face.Reversed()), random, tally,
                    "seed " + std::to_string(seed) + " reversed");
        if (HasFatalFailure())
            return;
    }
    EXPECT_GT(tally.on, 0) << "no probe came within a tolerance of an edge";
    if (GetParam().narrowing == Narrowing::Some)
        EXPECT_GT(tally.narrowed, 0);
    if (GetParam().narrowing == Narrowing::None)
        EXPECT_EQ(tally.narrowed, 0);
    if (GetParam().curves == Curves::Tell) {
        EXPECT_EQ(tally.withCurves, tally.faces);
        // Most probes lie about edges, where the classifier is asked.
        EXPECT_GT(tally.curvesTold, tally.curvesAsked / 4)
            << tally.curvesTold << " of " << tally.curvesAsked;
        // In line with an end, a ray along the other axis or back tells:
        // on plane faces, where no seam lies in line with every end.
        if (tally.inLineAsked > 0)
            EXPECT_GT(tally.inLineTold, tally.inLineAsked * 3 / 4)
                << tally.inLineTold << " of " << tally.inLineAsked;
    }
    if (GetParam().curves == Curves::Never)
        EXPECT_EQ(tally.withCurves, 0);
}

INSTANTIATE_TEST_SUITE_P(Faces, FaceDomainCases, testing::ValuesIn(faceCases),
                         [](const auto& info) { return qor::test::caseName(info.param.name); });

// The faces of real bodies: holed plates as a cut of a sketch of circles makes
// them, the perforated plate part as it recomputes, and the bodies of the
// boolean reproducers; every plane face of five or more wires is narrowed, and
// those faces and the round walls answer as the whole face's classifier.
TEST(FaceDomain, RealHoledFacesAnswerAsTheWholeFacesClassifier)
{
    std::vector<std::pair<std::string, TopoDS_Shape>> bodies = {
        {"plate of 100 holes", qor::test::holedPlate(100, 100, 60, 1.5, 3)},
        {"plate of 12 big holes", qor::test::holedPlate(12, 80, 80, 6.0, 5)},
    };
    const QString shared = QStringLiteral(QOR_SHARED_FILES);
    for (const char* name : {"cut-merge/plate.brep", "wave9/ohne-zuwachs-body.brep"}) {
        const QString path = shared + QLatin1Char('/') + QLatin1String(name);
        if (!QFileInfo::exists(path)) {
            std::cout << "skipped: " << name << " is not there\n";
            continue;
        }
        TopoDS_Shape shape;
        BRep_Builder builder;
        ASSERT_TRUE(BRepTools::Read(shape, path.toLocal8Bit().constData(), builder)) << name;
        bodies.emplace_back(name, shape);
    }
    const QString plate = shared + QStringLiteral("/wave9/lochblech-100.qcpart");
    if (QFileInfo::exists(plate)) {
        qor::model::Document document;
        ASSERT_TRUE(document.load(plate));
        ASSERT_EQ(document.recompute(), 0);
        for (const auto& [id, body] : document.current.bodies)
            bodies.emplace_back("lochblech-100 body " + std::to_string(id), body.shape);
    } else {
        std::cout << "skipped: lochblech-100.qcpart is not there\n";
    }
    // The top of a part after many cuts, joins and patterns: a long outline.
    qor::model::Document history;
    qor::fixtures::MixedHistory(8).build(history, 60);
    history.recompute();
    for (const auto& [id, body] : history.current.bodies)
        bodies.emplace_back("mixed history body " + std::to_string(id), body.shape);
    std::mt19937 random(qor::test::seed(7));
    Tally tally;
    for (const auto& [name, body] : bodies) {
        for (TopExp_Explorer face(body, TopAbs_FACE); face.More(); face.Next()) {
            const TopoDS_Face& f = TopoDS::Face(face.Current());
            // Faces of many wires, plane faces of many edges and the walls of
            // holes and bosses.
            if (wireCount(f) < 5 && !(isPlane(f) && edgeCount(f) >= 8) && !isRound(f))
                continue;
            expectAlike(f, random, tally, name);
            if (HasFatalFailure())
                return;
        }
    }
    EXPECT_GT(tally.narrowed, 0);
    EXPECT_GT(tally.on, 0);
    EXPECT_GT(tally.withCurves, tally.faces / 2) << tally.withCurves << " of " << tally.faces;
    EXPECT_GT(tally.curvesTold, tally.curvesAsked / 4)
        << tally.curvesTold << " of " << tally.curvesAsked;
}

} // namespace
