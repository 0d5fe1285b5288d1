#include "io/ShapeMeshing.h"
#include "io/Import.h"
#include "model/Document.h"
#include "tests/common/CaseNames.h"
#include "tests/common/CpuBudget.h"
#include "tests/common/Seeds.h"
#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/PerforatedFaces.h"

#include <gtest/gtest.h>

#include <BRepAdaptor_Surface.hxx>
#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_Copy.hxx>
#include <BRepGProp.hxx>
#include <BRepMesh_Context.hxx>
#include <BRepMesh_DelabellaMeshAlgoFactory.hxx>
#include <BRepMesh_FaceDiscret.hxx>
#include <BRepMesh_IncrementalMesh.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <GProp_GProps.hxx>
#include <Poly_Triangulation.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <array>
#include <cmath>
#include <functional>
#include <iostream>
#include <map>
#include <numbers>
#include <vector>

namespace {

using qor::io::Triangulation;

constexpr double displayAngle = 6.0 * std::numbers::pi / 180.0;

// The triangles of one face in world coordinates, as a mesh file gets them.
struct FaceTriangles {
    std::vector<std::array<gp_Pnt, 3>> triangles;
    double area() const
    {
        double sum = 0.0;
        for (const auto& t : triangles)
            sum += 0.5 * gp_Vec(t[0], t[1]).Crossed(gp_Vec(t[0], t[2])).Magnitude();
        return sum;
    }
};

FaceTriangles trianglesOf(const TopoDS_Face& face)
{
    FaceTriangles out;
    TopLoc_Location location;
    const Handle(Poly_Triangulation) mesh = BRep_Tool::Triangulation(face, location);
    if (mesh.IsNull())
        return out;
    for (int t = 1; t <= mesh->NbTriangles(); ++t) {
        int a = 0, b = 0, c = 0;
        mesh->Triangle(t).Get(a, b, c);
        out.triangles.push_back({mesh->Node(a).Transformed(location.Transformation()),
                                 mesh->Node(b).Transformed(location.Transformation()),
                                 mesh->Node(c).Transformed(location.Transformation())});
    }
    return out;
}

std::vector<TopoDS_Face> facesOf(const TopoDS_Shape& shape)
{
    std::vector<TopoDS_Face> faces;
    for (TopExp_Explorer it(shape, TopAbs_FACE); it.More(); it.Next())
        faces.push_back(TopoDS::Face(it.Current()));
    return faces;
}

// How far a face's triangles may miss its area: every border chord within the
// deflection of its curve, and on a curved face the facets within it of the surface.
double areaBound(const TopoDS_Face& face, double deflection, double area)
{
    GProp_GProps border;
    BRepGProp::LinearProperties(face, border);
    double bound = deflection * border.Mass();
    const BRepAdaptor_Surface surface(face, false);
    if (surface.GetType() == GeomAbs_Cylinder)
        bound += area * deflection / surface.Cylinder().Radius();
    else if (surface.GetType() != GeomAbs_Plane)
        bound += area * 0.05;
    return bound;
}

double faceArea(const TopoDS_Face& face)
{
    GProp_GProps props;
    BRepGProp::SurfaceProperties(face, props);
    return props.Mass();
}

// Edges of triangles by their corners' exact coordinates, and how many triangles
// have each: a closed mesh has two on every edge.
int unpairedEdges(const TopoDS_Shape& shape)
{
    const auto less = [](const gp_Pnt& a, const gp_Pnt& b) {
        return std::array{a.X(), a.Y(), a.Z()} < std::array{b.X(), b.Y(), b.Z()};
    };
    using Key = std::array<double, 6>;
    std::map<Key, int> uses;
    for (const TopoDS_Face& face : facesOf(shape)) {
        for (const auto& t : trianglesOf(face).triangles) {
            for (int i = 0; i < 3; ++i) {
                gp_Pnt a = t[std::size_t(i)], b = t[std::size_t((i + 1) % 3)];
                if (less(b, a))
                    std::swap(a, b);
                ++uses[{a.X(), a.Y(), a.Z(), b.X(), b.Y(), b.Z()}];
            }
        }
    }
    int unpaired = 0;
    for (const auto& [edge, count] : uses)
        unpaired += count == 2 ? 0 : 1;
    return unpaired;
}

double sizeOf(const TopoDS_Shape& shape)
{
    Bnd_Box box;
    BRepBndLib::Add(shape, box, false);
    return box.IsVoid() ? 0.0 : std::sqrt(box.SquareExtent());
}

// A copy of the shape with geometry of its own and no mesh, for one way of meshing it.
TopoDS_Shape unmeshedCopy(const TopoDS_Shape& shape)
{
    const TopoDS_Shape copy = BRepBuilderAPI_Copy(shape, true, false).Shape();
    BRepTools::Clean(copy);
    return copy;
}

// The shape meshed both ways on copies of its own.
struct MeshedPair {
    TopoDS_Shape plain;
    TopoDS_Shape checked;
    qor::io::MeshOutcome outcome;
};

MeshedPair meshBothWays(const TopoDS_Shape& shape, double deflection, bool inParallel = true)
{
    IMeshTools_Parameters parameters;
    parameters.Deflection = deflection;
    parameters.Angle = displayAngle;
    parameters.InParallel = inParallel;
    MeshedPair pair{unmeshedCopy(shape), unmeshedCopy(shape), {}};
    qor::io::meshShape(pair.plain, parameters, {}, Triangulation::Plain);
    pair.outcome = qor::io::meshShape(pair.checked, parameters, {}, Triangulation::Checked);
    return pair;
}

// Every face of the checked mesh triangulated and within the deflection's bound of the
// reference area (the face's own unless given); plane faces with the very area of the
// plain mesh, whose borders they share. A face the plain mesh already misses only has
// to do no worse.
void expectEquivalent(const MeshedPair& pair, double deflection,
                      const std::function<double(const TopoDS_Face&)>& reference = faceArea)
{
    const std::vector<TopoDS_Face> plainFaces = facesOf(pair.plain);
    const std::vector<TopoDS_Face> checkedFaces = facesOf(pair.checked);
    ASSERT_EQ(plainFaces.size(), checkedFaces.size());
    for (std::size_t i = 0; i < checkedFaces.size(); ++i) {
        SCOPED_TRACE("face " + std::to_string(i));
        const double plainArea = trianglesOf(plainFaces[i]).area();
        const double checkedArea = trianglesOf(checkedFaces[i]).area();
        const double area = reference(checkedFaces[i]);
        const double bound = areaBound(checkedFaces[i], deflection, area);
        const bool plainSound = plainArea > 0.0 && std::abs(plainArea - area) <= bound;
        if (!plainSound) {
            EXPECT_LE(std::abs(checkedArea - area), std::abs(plainArea - area) + bound);
            continue;
        }
        EXPECT_GT(trianglesOf(checkedFaces[i]).triangles.size(), 0u);
        EXPECT_NEAR(checkedArea, area, bound);
        if (BRepAdaptor_Surface(checkedFaces[i], false).GetType() == GeomAbs_Plane)
            EXPECT_NEAR(checkedArea, plainArea, 1e-9 * area);
    }
}

std::vector<unsigned> seeds()
{
    std::vector<unsigned> out;
    const QString listed = qEnvironmentVariable("QOR_MESH_SEEDS");
    for (const QString& seed : listed.split(QLatin1Char(','), Qt::SkipEmptyParts))
        out.push_back(seed.trimmed().toUInt());
    if (out.empty()) {
        for (unsigned seed = 1; seed <= 10; ++seed)
            out.push_back(qor::test::seed(seed));
    }
    return out;
}

struct RandomCase {
    const char* name;
    std::function<TopoDS_Shape(std::mt19937&)> make;
    // A flawed hole most often fails the fast triangulation's check and the
    // face falls back to the plain one: the fast one was kept on 2 of 10
    // seeds, and on none of 10 seeds never seen.
    bool mostlyReplaced = false;
};

const RandomCase randomCases[] = {
    {"holes of every kind on a plane",
     [](std::mt19937& random) {
         return qor::test::perforatedFace(random, std::uniform_int_distribution(20, 120)(random),
                                          qor::test::HoleFlaw::None);
     }},
    {"holes nearly touching",
     [](std::mt19937& random) {
         return qor::test::crowdedFace(random, std::uniform_int_distribution(10, 80)(random),
                                       false);
     }},
    {"holes touching at a point",
     [](std::mt19937& random) {
         return qor::test::crowdedFace(random, std::uniform_int_distribution(10, 40)(random), true);
     }},
    {"one flawed hole among many",
     [](std::mt19937& random) {
         const auto flaw = qor::test::allHoleFlaws[std::uniform_int_distribution<std::size_t>(
             1, std::size(qor::test::allHoleFlaws) - 1)(random)];
         return qor::test::perforatedFace(random, std::uniform_int_distribution(20, 40)(random),
                                          flaw);
     },
     true},
    {"holes in a cylinder's wall",
     [](std::mt19937& random) {
         return qor::test::perforatedCylinderFace(random,
                                                  std::uniform_int_distribution(10, 60)(random));
     }},
    {"faces of every kind together",
     [](std::mt19937& random) {
         return qor::test::compoundOf(
             {qor::test::perforatedFace(random, 30, qor::test::HoleFlaw::None),
              qor::test::perforatedCylinderFace(random, 20),
              qor::test::crowdedFace(random, 20, false)});
     }},
};

class RandomHoledFaces : public testing::TestWithParam<RandomCase> { };

// The checked fast triangulation gives what the plain one gives on random holed faces,
// and it is the fast one that meshed the faces with many holes, or, with a flawed
// hole among them, the fast one that was tried and replaced.
TEST_P(RandomHoledFaces, MeshLikeThePlainTriangulation)
{
    // A flawed face is triangulated the plain way twice, as the reference and
    // as the fallback, and the kernel's plain way grows steeply with the holes:
    // with up to 80 of them one range of seeds took 160 s. With up to 40, five
    // ranges took 10 to 55 s, which leaves room for a machine twice as slow.
    if (GetParam().mostlyReplaced)
        qor::test::allowCpuSeconds(120);
    int fast = 0;
    int replaced = 0;
    for (const unsigned seed : seeds()) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        const TopoDS_Shape shape = GetParam().make(random);
        for (const double deflection : {0.0024 * sizeOf(shape), 0.05}) {
            SCOPED_TRACE("deflection " + std::to_string(deflection));
            const MeshedPair pair = meshBothWays(shape, deflection);
            expectEquivalent(pair, deflection);
            fast += pair.outcome.fastKept;
            replaced += pair.outcome.fastReplaced;
        }
    }
    if (GetParam().mostlyReplaced)
        EXPECT_GT(replaced, 0) << "the fast triangulation was never tried and replaced";
    else
        EXPECT_GT(fast, 0) << "the fast triangulation was never used";
}

INSTANTIATE_TEST_SUITE_P(ShapeMeshing, RandomHoledFaces, testing::ValuesIn(randomCases),
                         [](const auto& info) { return qor::test::caseName(info.param.name); });

// The same triangles, node for node, on every face of two meshes of one shape, or on
// those faces the filter names.
void expectSameTriangles(const TopoDS_Shape& a, const TopoDS_Shape& b,
                         const std::function<bool(const TopoDS_Face&)>& compared = {})
{
    const std::vector<TopoDS_Face> facesA = facesOf(a);
    const std::vector<TopoDS_Face> facesB = facesOf(b);
    ASSERT_EQ(facesA.size(), facesB.size());
    for (std::size_t i = 0; i < facesA.size(); ++i) {
        if (compared && !compared(facesA[i]))
            continue;
        SCOPED_TRACE("face " + std::to_string(i));
        const auto one = trianglesOf(facesA[i]).triangles;
        const auto other = trianglesOf(facesB[i]).triangles;
        ASSERT_EQ(one.size(), other.size());
        for (std::size_t t = 0; t < one.size(); ++t) {
            for (std::size_t k = 0; k < 3; ++k)
                ASSERT_EQ(one[t][k].Distance(other[t][k]), 0.0) << "triangle " << t;
        }
    }
}

// The shape meshed with the crossing search through the grid and with the kernel's own.
void expectGridSearchLikeTheKernels(const TopoDS_Shape& shape, double deflection)
{
    IMeshTools_Parameters parameters;
    parameters.Deflection = deflection;
    parameters.Angle = displayAngle;
    parameters.InParallel = true;
    const TopoDS_Shape grid = unmeshedCopy(shape);
    const TopoDS_Shape kernel = unmeshedCopy(shape);
    qor::io::meshShape(grid, parameters, {}, Triangulation::Checked, qor::io::WireCheck::Indexed);
    qor::io::meshShape(kernel, parameters, {}, Triangulation::Checked, qor::io::WireCheck::Kernel);
    expectSameTriangles(grid, kernel);
}

// Faces with many holes are searched for crossing borders through one grid instead of the
// kernel's pairing of every hole with every other; a face where borders may cross goes back
// to the kernel's search. Either way every face gets the very triangles the kernel's search
// gives: on holed faces sound, crowded, touching and with every flaw, on cylinders and on
// holed plates.
TEST(ShapeMeshing, GridSearchForCrossingBordersMeshesLikeTheKernels)
{
    qor::test::allowCpuSeconds(120);
    // A seed meshes thirteen faces four ways (ten seconds): four of them.
    std::vector<unsigned> drawn = seeds();
    drawn.resize(std::min<std::size_t>(drawn.size(), 4));
    for (const unsigned seed : drawn) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        std::vector<TopoDS_Face> faces;
        for (const qor::test::HoleFlaw flaw : qor::test::allHoleFlaws)
            faces.push_back(qor::test::perforatedFace(
                random, std::uniform_int_distribution(16, 60)(random), flaw));
        faces.push_back(qor::test::crowdedFace(random, 40, false));
        faces.push_back(qor::test::crowdedFace(random, 30, true));
        faces.push_back(qor::test::perforatedCylinderFace(random, 30));
        faces.push_back(qor::test::outlinedFace(random, 12, 16));
        const TopoDS_Shape shape = qor::test::compoundOf(faces);
        for (const double deflection : {0.0024 * sizeOf(shape), 0.05})
            expectGridSearchLikeTheKernels(shape, deflection);
    }
    for (const int holes : {100, 400}) {
        SCOPED_TRACE(holes);
        expectGridSearchLikeTheKernels(qor::test::holedPlate(holes, 200, 125, 1.5, 3), 0.48);
    }
}

// The shape meshed on a copy by the kernel's own fast triangulation, every step as the
// kernel has it.
TopoDS_Shape meshedByTheKernelsFastTriangulation(const TopoDS_Shape& shape,
                                                 const IMeshTools_Parameters& parameters)
{
    const TopoDS_Shape copy = unmeshedCopy(shape);
    const Handle(BRepMesh_Context) context = new BRepMesh_Context();
    context->SetFaceDiscret(new BRepMesh_FaceDiscret(new BRepMesh_DelabellaMeshAlgoFactory()));
    BRepMesh_IncrementalMesh mesher;
    mesher.SetShape(copy);
    mesher.ChangeParameters() = parameters;
    mesher.Perform(context);
    return copy;
}

// Plane faces with many holes are swept and their triangles entered in parts, so that the
// bar moves between them; the triangles are the very ones the kernel's fast triangulation
// makes in one step, on sound holed faces of every kind of loop, crowded and touching
// holes, cylinders beside them and holed plates.
TEST(ShapeMeshing, SweepInPartsTriangulatesAsTheKernelsFastTriangulation)
{
    qor::test::allowCpuSeconds(120);
    std::vector<unsigned> drawn = seeds();
    drawn.resize(std::min<std::size_t>(drawn.size(), 6));
    std::vector<TopoDS_Shape> shapes;
    for (const unsigned seed : drawn) {
        std::mt19937 random(seed);
        shapes.push_back(qor::test::compoundOf(
            {qor::test::perforatedFace(random, std::uniform_int_distribution(16, 90)(random),
                                       qor::test::HoleFlaw::None),
             qor::test::crowdedFace(random, 40, false), qor::test::crowdedFace(random, 30, true),
             qor::test::perforatedCylinderFace(random, 30),
             qor::test::outlinedFace(random, 12, 16)}));
    }
    shapes.push_back(qor::test::holedPlate(100, 200, 125, 1.5, 3));
    shapes.push_back(qor::test::holedPlate(1000, 400, 250, 1.5, 10));
    // The faces the sweep is tried on: plane, with many border points (a plane face has no
    // others). The kernel's fast way would also take the small ones, which the plain one meshes.
    int swept = 0;
    const auto sweptFace = [&swept](const TopoDS_Face& face) {
        TopLoc_Location location;
        const Handle(Poly_Triangulation) mesh = BRep_Tool::Triangulation(face, location);
        const bool large = BRepAdaptor_Surface(face).GetType() == GeomAbs_Plane && !mesh.IsNull()
                           && mesh->NbNodes() >= qor::io::fastTriangulationNodes;
        swept += large ? 1 : 0;
        return large;
    };
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        SCOPED_TRACE("shape " + std::to_string(i));
        for (const double deflection : {0.0024 * sizeOf(shapes[i]), 0.05}) {
            SCOPED_TRACE("deflection " + std::to_string(deflection));
            IMeshTools_Parameters parameters;
            parameters.Deflection = deflection;
            parameters.Angle = displayAngle;
            parameters.InParallel = true;
            const TopoDS_Shape ours = unmeshedCopy(shapes[i]);
            EXPECT_EQ(qor::io::meshShape(ours, parameters).fastReplaced, 0);
            expectSameTriangles(ours, meshedByTheKernelsFastTriangulation(shapes[i], parameters),
                                sweptFace);
        }
    }
    EXPECT_GT(swept, 2 * int(shapes.size())) << "too few faces were swept";
}

// A plate cut by many holes meshes closed: its faces meet edge to edge at the very same
// coordinates, and each holed face has the area of the rectangle less the holes.
TEST(ShapeMeshing, HoledPlatesMeshClosedWithTheirArea)
{
    struct Plate {
        int holes;
        double width, length, radius;
    };
    for (const Plate& p :
         {Plate{100, 100, 60, 1.5}, Plate{200, 200, 125, 1.5}, Plate{60, 80, 80, 4.0}}) {
        SCOPED_TRACE(p.holes);
        const TopoDS_Shape plate = qor::test::holedPlate(p.holes, p.width, p.length, p.radius, 3);
        const double deflection = 0.0024 * std::max(p.width, p.length);
        // One thread: the faces are the same, and the work is not inflated by threads
        // waiting on each other.
        const MeshedPair pair = meshBothWays(plate, deflection, false);
        EXPECT_GE(pair.outcome.fastKept, 1);
        EXPECT_EQ(unpairedEdges(pair.checked), 0);
        const double holedArea
            = qor::test::holedPlateFaceArea(p.holes, p.width, p.length, p.radius);
        int holedFaces = 0;
        expectEquivalent(pair, deflection, [&](const TopoDS_Face& face) {
            const bool holed = BRepAdaptor_Surface(face, false).GetType() == GeomAbs_Plane
                               && std::abs(faceArea(face) - holedArea) < 1e-3 * holedArea;
            holedFaces += holed ? 1 : 0;
            return holed ? holedArea : faceArea(face);
        });
        EXPECT_EQ(holedFaces, 2);
    }
}

// The real files: the bodies of each mesh the checked way as the plain way does, at
// the deflection the view takes for them.
TEST(ShapeMeshing, RealBodiesMeshLikeThePlainTriangulation)
{
    const QString shared = QStringLiteral(QOR_SHARED_FILES);
    const QStringList foreign = {
        "readers/Casing_v4.f3z",    "readers/MotorCam .f3z",
        "readers/Part5.par",        "readers/TripodLeg v20.par",
        "readers/L_Solid_2025.par", "readers/Tank_Bottom.par",
        "wave8/kugel50.igs",        "cut-merge/plate.brep",
        "cut-merge/cylinder.brep",  "wave9/ohne-zuwachs-body.brep",
    };
    int fast = 0;
    int files = 0;
    const auto check = [&](const QString& name, const TopoDS_Shape& shape) {
        SCOPED_TRACE(name.toStdString());
        const double deflection = 0.0024 * sizeOf(shape);
        if (deflection <= 0.0)
            return;
        const MeshedPair pair = meshBothWays(shape, deflection);
        expectEquivalent(pair, deflection);
        fast += pair.outcome.fastKept;
        std::cout << name.toStdString() << ": " << pair.outcome.fastKept << " faces kept the fast "
                  << "triangulation, " << pair.outcome.fastReplaced << " did not\n";
    };
    for (const QString& name : foreign) {
        const QString path = shared + QLatin1Char('/') + name;
        if (!QFileInfo::exists(path)) {
            std::cout << "skipped: " << name.toStdString() << " is not there\n";
            continue;
        }
        const qor::io::ImportResult result = qor::io::importFile(path, {});
        EXPECT_FALSE(result.bodies.empty())
            << name.toStdString() << " read no body: " << result.error.toStdString();
        ++files;
        for (const qor::io::ImportedBody& body : result.bodies)
            check(name, body.shape);
    }
    const QString plate = shared + QStringLiteral("/wave9/lochblech-100.qcpart");
    if (QFileInfo::exists(plate)) {
        qor::model::Document document;
        ASSERT_TRUE(document.load(plate));
        ASSERT_EQ(document.recompute(), 0);
        ++files;
        for (const auto& [id, body] : document.current.bodies)
            check(QStringLiteral("lochblech-100"), body.shape);
    }
    if (files > 0)
        EXPECT_GT(fast, 0) << "no real face took the fast triangulation";
}

} // namespace
