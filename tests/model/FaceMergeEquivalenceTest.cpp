#include "model/Document.h"
#include "model/ExecContext.h"
#include "tests/common/Seeds.h"
#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/CutMergeFiles.h"
#include "tests/fixtures/MergingSteps.h"
#include "tests/fixtures/MixedHistory.h"

#include <BRepAdaptor_Surface.hxx>
#include <BRepBuilderAPI_Copy.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRep_Builder.hxx>
#include <ShapeUpgrade_UnifySameDomain.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <string>
#include <vector>

using namespace qor::model;
using qor::test::countOf;

namespace {

// What the kernel's same-domain merge of a whole body gives.
struct PlainMerge {
    bool ended = false; // within the processor time allowed
    bool valid = false; // the kernel's checks pass the result
    int faces = 0;
    // Whether it changed faces sharing a vertex with a face curved both ways
    // (a sphere, a torus), which the model's merge keeps as they are, and
    // whether it changed other faces.
    bool besideCurved = false;
    bool elsewhere = false;
    // Whether the merge with every edge of those faces kept, as the model's merge
    // keeps them, gives faces the kernel's checks reject: the model then keeps
    // the faces it would join apart.
    bool unsoundWhenKept = false;
};

bool curvedBothWays(const TopoDS_Shape& face)
{
    const GeomAbs_SurfaceType type = BRepAdaptor_Surface(TopoDS::Face(face), false).GetType();
    return type != GeomAbs_Plane && type != GeomAbs_Cylinder && type != GeomAbs_Cone;
}

PlainMerge mergeWholeBody(const TopoDS_Shape& body)
{
    ShapeUpgrade_UnifySameDomain unify(body, Standard_True, Standard_True, Standard_False);
    unify.AllowInternalEdges(Standard_False);
    unify.Build();
    PlainMerge merge{true, BRepCheck_Analyzer(unify.Shape()).IsValid(),
                     countOf(unify.Shape(), TopAbs_FACE)};
    TopTools_IndexedDataMapOfShapeListOfShape facesAtVertex;
    TopExp::MapShapesAndAncestors(body, TopAbs_VERTEX, TopAbs_FACE, facesAtVertex);
    const auto beside = [&](const TopoDS_Shape& face) {
        for (TopExp_Explorer v(face, TopAbs_VERTEX); v.More(); v.Next()) {
            for (const TopoDS_Shape& other : facesAtVertex.FindFromKey(v.Current())) {
                if (curvedBothWays(other))
                    return true;
            }
        }
        return false;
    };
    // The faces of the body each merged face came from: the model's merge
    // keeps a group apart when one of them lies beside a face curved both ways.
    TopTools_IndexedDataMapOfShapeListOfShape groups;
    for (TopExp_Explorer f(body, TopAbs_FACE); f.More(); f.Next()) {
        for (const TopoDS_Shape& made : unify.History()->Modified(f.Current())) {
            if (!groups.Contains(made))
                groups.Add(made, TopTools_ListOfShape());
            groups.ChangeFromKey(made).Append(f.Current());
        }
    }
    for (int i = 1; i <= groups.Extent(); ++i) {
        const TopTools_ListOfShape& from = groups(i);
        if (from.Extent() < 2)
            continue;
        (std::any_of(from.begin(), from.end(), beside) ? merge.besideCurved : merge.elsewhere)
            = true;
    }
    if (merge.elsewhere) {
        ShapeUpgrade_UnifySameDomain kept(body, Standard_True, Standard_True, Standard_False);
        kept.AllowInternalEdges(Standard_False);
        bool keeps = false;
        for (TopExp_Explorer f(body, TopAbs_FACE); f.More(); f.Next()) {
            if (!beside(f.Current()))
                continue;
            keeps = true;
            for (TopExp_Explorer e(f.Current(), TopAbs_EDGE); e.More(); e.Next())
                kept.KeepShape(e.Current());
        }
        if (keeps) {
            kept.Build();
            merge.unsoundWhenKept = !BRepCheck_Analyzer(kept.Shape()).IsValid();
        }
    }
    return merge;
}

// The merge runs in a child process bounded in processor time: on faces
// beside spheres and tori the kernel's merge can run without end.
PlainMerge plainMerge(const TopoDS_Shape& body)
{
    int channel[2];
    if (pipe(channel) != 0)
        return {};
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        const rlimit limit{1, 1};
        setrlimit(RLIMIT_CPU, &limit);
        int answer[6] = {};
        try {
            const PlainMerge merge = mergeWholeBody(body);
            answer[0] = 1;
            answer[1] = merge.valid;
            answer[2] = merge.faces;
            answer[3] = merge.besideCurved;
            answer[4] = merge.elsewhere;
            answer[5] = merge.unsoundWhenKept;
        } catch (const Standard_Failure&) {
        }
        const ssize_t written = write(channel[1], answer, sizeof answer);
        _exit(written == ssize_t(sizeof answer) ? 0 : 1);
    }
    close(channel[1]);
    int answer[6] = {};
    std::size_t got = 0;
    while (child > 0 && got < sizeof answer) {
        const ssize_t n
            = read(channel[0], reinterpret_cast<char*>(answer) + got, sizeof answer - got);
        if (n <= 0)
            break;
        got += std::size_t(n);
    }
    close(channel[0]);
    int status = 0;
    if (child > 0)
        waitpid(child, &status, 0);
    if (got != sizeof answer || answer[0] == 0)
        return {};
    return {true, answer[1] != 0, answer[2], answer[3] != 0, answer[4] != 0, answer[5] != 0};
}

struct Tally {
    int bodies = 0; // bodies compared
    int valid = 0; // of them, bodies whose plain merge ended with a valid body
    int unended = 0; // of them, bodies whose plain merge did not end
    int besideCurved = 0; // bodies whose plain merge only joins faces beside spheres and tori
    int unsoundWhenKept = 0; // bodies the merge keeping those faces apart would break
    std::string differences; // bodies whose plain merge joins other faces
    int differing = 0;
};

// Compares each body with its plain merge, once per shape: consecutive states
// share most bodies.
class Comparison {
public:
    void compare(const ModelState& state, const std::string& where)
    {
        for (const auto& [id, body] : state.bodies) {
            if (!seen_.emplace(body.shape.TShape().get(), true).second)
                continue;
            ++tally.bodies;
            const PlainMerge plain = plainMerge(body.shape);
            tally.unended += plain.ended ? 0 : 1;
            const int faces = countOf(body.shape, TopAbs_FACE);
            if (!plain.ended || !plain.valid)
                continue;
            ++tally.valid;
            if (plain.faces == faces)
                continue;
            if (!plain.elsewhere) {
                ++tally.besideCurved;
                continue;
            }
            if (plain.unsoundWhenKept) {
                ++tally.unsoundWhenKept;
                continue;
            }
            ++tally.differing;
            tally.differences += where + ", body " + std::to_string(id) + ": "
                                 + std::to_string(faces) + " faces, the plain merge "
                                 + std::to_string(plain.faces) + "\n";
        }
    }

    Tally tally;

private:
    std::map<const void*, bool> seen_;
};

std::string counts(const Tally& tally)
{
    return std::to_string(tally.differing) + " of " + std::to_string(tally.bodies)
           + " bodies differ from a valid plain merge (" + std::to_string(tally.valid) + "), "
           + std::to_string(tally.besideCurved) + " more only in faces beside spheres and tori, "
           + std::to_string(tally.unsoundWhenKept)
           + " more where the merge keeping those apart breaks faces elsewhere; "
           + std::to_string(tally.unended) + " plain merges did not end";
}

// Plane faces of the shape facing up at the height z.
int floorsAt(const TopoDS_Shape& shape, double z)
{
    int count = 0;
    for (TopExp_Explorer f(shape, TopAbs_FACE); f.More(); f.Next()) {
        const BRepAdaptor_Surface surface(TopoDS::Face(f.Current()));
        if (surface.GetType() == GeomAbs_Plane
            && surface.Plane().Axis().Direction().IsParallel(gp::DZ(), 1e-9)
            && std::abs(surface.Plane().Location().Z() - z) < 1e-7)
            ++count;
    }
    return count;
}

int fromEnvironment(const char* name, int fallback)
{
    return qEnvironmentVariableIsSet(name) ? qEnvironmentVariableIntValue(name) : fallback;
}

struct SeedGroup {
    int first;
    int count;
};

// QOR_MERGE_FIRST and QOR_MERGE_SEEDS choose the seeds, in groups of four that
// each take well under a minute of processor time.
std::vector<SeedGroup> seedGroups()
{
    constexpr int perGroup = 4;
    const int first = fromEnvironment("QOR_MERGE_FIRST", 1);
    const int seeds = fromEnvironment("QOR_MERGE_SEEDS", 16);
    std::vector<SeedGroup> groups;
    for (int seed = first; seed < first + seeds; seed += perGroup)
        groups.push_back({seed, std::min(perGroup, first + seeds - seed)});
    return groups;
}

class FaceMergeSteps : public testing::TestWithParam<SeedGroup> { };

} // namespace

// After every join and cut of planes, cylinders, cones, spheres and tori, the
// body has the faces the kernel's merge of the whole body gives, wherever that
// merge gives a valid body. Only faces that meet a sphere or a torus at a
// vertex may stay apart, which the model's merge keeps as they are (there the
// kernel's merge can run without end), and faces elsewhere where the merge
// that keeps those apart would join them into faces the kernel's checks
// reject (the model's merge keeps them apart then); such bodies are counted.
// QOR_MERGE_STEPS chooses the steps of each seed.
TEST_P(FaceMergeSteps, JoinsAndCutsKeepNoFacesThePlainMergeJoins)
{
    const int first = GetParam().first;
    const int seeds = GetParam().count;
    const int steps = fromEnvironment("QOR_MERGE_STEPS", 20);
    Comparison comparison;
    int refused = 0;
    for (int seed = first; seed < first + seeds; ++seed) {
        qor::test::MergingSteps generator{qor::test::seed(unsigned(seed))};
        Document doc;
        Feature feature;
        ModelState state;
        ExecContext context{doc, feature, state};
        feature.id = 1;
        addNewBody(context, qor::test::MergingSteps::plate());
        for (int k = 0; k < steps; ++k) {
            const qor::test::MergingStep step = generator.next();
            feature.id = k + 2;
            const ModelState before = state;
            try {
                applyBoolean(context, step.tool, step.cut ? "cut" : "join", {});
            } catch (const FeatureError&) {
                state = before;
                ++refused;
            }
            comparison.compare(state, "seed " + std::to_string(seed) + " step "
                                          + std::to_string(k + 1) + " (" + step.kind + ")");
        }
    }
    const Tally& tally = comparison.tally;
    EXPECT_EQ(tally.differences, "") << counts(tally);
    std::cout << counts(tally) << "\n";
    // Bodies whose plain merge breaks them or runs on compare nothing.
    EXPECT_GE(tally.valid, tally.bodies / 2);
    // Steps the kernel refuses compare nothing.
    EXPECT_LE(refused, seeds * steps / 10);
}

INSTANTIATE_TEST_SUITE_P(Seeds, FaceMergeSteps, testing::ValuesIn(seedGroups()),
                         [](const testing::TestParamInfo<SeedGroup>& info) {
                             return "From" + std::to_string(info.param.first) + "To"
                                    + std::to_string(info.param.first + info.param.count - 1);
                         });

// The same over the states of random feature histories as the recompute
// builds them, booleans waiting in groups among them. QOR_MERGE_HISTORY_FIRST
// and QOR_MERGE_HISTORIES choose the seeds.
TEST(FaceMergeEquivalence, HistoriesKeepNoFacesThePlainMergeJoins)
{
    const int first = fromEnvironment("QOR_MERGE_HISTORY_FIRST", 300);
    const int seeds = fromEnvironment("QOR_MERGE_HISTORIES", 4);
    Comparison comparison;
    for (int seed = first; seed < first + seeds; ++seed) {
        Document doc;
        qor::fixtures::MixedHistory(qor::test::seed(unsigned(seed))).build(doc, 40);
        doc.recompute();
        for (std::size_t i = 1; i <= doc.features.size(); ++i)
            comparison.compare(i < doc.features.size() ? doc.stateBefore(i) : doc.current,
                               "seed " + std::to_string(seed) + " feature "
                                   + std::to_string(i - 1));
    }
    const Tally& tally = comparison.tally;
    EXPECT_EQ(tally.differences, "") << counts(tally);
    std::cout << counts(tally) << "\n";
    EXPECT_GE(tally.valid, tally.bodies / 2);
}

// The cut of the plate by the cylinder makes faces whose merge would break the
// body. Cut together with two pockets side by side, only those faces stay
// apart: the pockets' floors join into one face. Once the end of the plate
// with the cylinder's groove is cut off, which makes no faces a merge joins,
// the body has the faces the kernel's merge of the whole body gives.
TEST(FaceMergeEquivalence, AMergeRefusedInOnePlaceJoinsTheFacesElsewhere)
{
    const std::optional<qor::test::CutMergePair> files = qor::test::readCutMergePair();
    if (!files)
        GTEST_SKIP() << "no cut-merge files in " << qor::test::cutMergeFolder().toStdString();
    Document doc;
    Feature feature;
    ModelState state;
    ExecContext context{doc, feature, state};
    feature.id = 3;
    addNewBody(context, files->plate);
    const double floor = 6.3;
    BRep_Builder builder;
    TopoDS_Compound tools;
    builder.MakeCompound(tools);
    builder.Add(tools, files->cylinder);
    builder.Add(tools, BRepPrimAPI_MakeBox(gp_Pnt(100, 50, floor), 10, 20, 20).Shape());
    builder.Add(tools, BRepPrimAPI_MakeBox(gp_Pnt(110, 50, floor), 10, 20, 20).Shape());
    feature.id = 9;
    applyBoolean(context, tools, QStringLiteral("cut"), {});
    const TopoDS_Shape& cut = state.bodies.at(300).shape;
    EXPECT_TRUE(BRepCheck_Analyzer(cut).IsValid());
    EXPECT_EQ(floorsAt(cut, floor), 1);
    EXPECT_FALSE(plainMerge(cut).valid); // the merge refused is still needed
    // Not marked as merged: the next boolean merges the body whole again
    // rather than only the faces it makes.
    EXPECT_TRUE(state.bodies.at(300).unified.IsNull());

    feature.id = 10;
    applyBoolean(context, BRepPrimAPI_MakeBox(gp_Pnt(-20, -100, -5), 50, 230, 25).Shape(),
                 QStringLiteral("cut"), {});
    const TopoDS_Shape& end = state.bodies.at(300).shape;
    const PlainMerge plain = plainMerge(end);
    ASSERT_TRUE(plain.ended && plain.valid);
    EXPECT_EQ(countOf(end, TopAbs_FACE), plain.faces);
    EXPECT_EQ(floorsAt(end, floor), 1);
}
