#include "model/BooleanGroup.h"
#include "model/BooleanWays.h"
#include "model/Document.h"
#include "tests/common/CpuBudget.h"
#include "tests/common/Seeds.h"
#include "tests/fixtures/TruthHistories.h"
#include "tests/fixtures/TruthTools.h"

#include <BRepAdaptor_Surface.hxx>
#include <BRepBndLib.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepClass3d.hxx>
#include <BRepClass3d_SolidClassifier.hxx>
#include <BRepExtrema_DistShapeShape.hxx>
#include <BRepGProp.hxx>
#include <BRepLProp_SLProps.hxx>
#include <BRepTools.hxx>
#include <BRepTopAdaptor_FClass2d.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <GProp_GProps.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Shell.hxx>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

using namespace qor::model;
using qor::fixtures::TruthBody;
using qor::fixtures::TruthHistory;
using qor::fixtures::truthSolid;
using qor::fixtures::TruthSolid;
using qor::fixtures::TruthStep;
using qor::fixtures::VolumeEstimate;

namespace {

constexpr int featureCount = 30;
// Cells sampled per boolean: the standard error of the estimate stays within
// about 0.2 % of the change for most tools, and the sampling costs a fraction
// of the kernel's time.
constexpr int sampleCells = 120000;

// Seeds from QOR_TRUTH_FIRST on, QOR_TRUTH_SEEDS of them; by default
// histories that once went wrong: joins that added their tool whole where it
// overlapped the body (2089, 3126), a cut of a turned sphere that took three
// times what it holds of the body (2146), a cut that emptied the body (4031),
// one that took nothing (4177, a turned sphere), a cut that kept a block of
// the body inside the tool (3183), a cone joined short of its tip (6009), a
// grouped box join whose state before the next feature lacked it (4154) and
// a cylinder join that left a fifth of the tool out behind a corner grown to
// 15 mm (15028), a half-sunk ball joined as a second, overlapping solid
// (16073), a cylinder joined wholly inside the body, refused for measuring
// 0.015 mm³ short (2210016), a box cut from the bottom face beside a
// turned ring, refused for measuring 0.33 mm³ more than the box holds (3200002),
// and two boxes cut on the plane of a face that the tip of a conical hollow
// touches, each from a body of two solids, which the usual way answered with
// the hollow filled, its walls left as faces turned INTERNAL (547200033,
// feature 27; 2000000021, feature 28).
std::vector<unsigned> seeds()
{
    std::vector<unsigned> list;
    const int first = qEnvironmentVariableIntValue("QOR_TRUTH_FIRST");
    const int count = qEnvironmentVariableIntValue("QOR_TRUTH_SEEDS");
    for (int k = 0; k < count; ++k)
        list.push_back(unsigned(first + k));
    if (list.empty()) {
        for (unsigned seed : {2089u, 2146u, 3126u, 3183u, 4031u, 4154u, 4177u, 6009u, 15028u,
                              16073u, 2210016u, 3200002u, 547200033u, 2000000021u})
            list.push_back(qor::test::seed(seed));
    }
    return list;
}

const ModelState& stateAfter(Document& doc, std::size_t index)
{
    return index + 1 < doc.features.size() ? doc.stateBefore(index + 1) : doc.current;
}

// The closed solids of a state as the mass properties measure them, with
// their signed volumes: a solid turned inside out measures negative. The
// quick rule the mass properties use misjudges bodies with tori and cones by
// up to about 1e-4 of their volume; a change not clearly right is measured
// again adaptively.
struct SolidMeasure {
    TopoDS_Shape solid;
    double volume = 0.0;
    bool closed = true;
};

class Measurer {
public:
    const SolidMeasure& of(const TopoDS_Shape& solid, bool precise)
    {
        const std::tuple key{solid.TShape().get(), int(solid.Orientation()), precise};
        if (const auto known = memo_.find(key); known != memo_.end())
            return known->second;
        SolidMeasure measure{solid};
        for (TopExp_Explorer shell(solid, TopAbs_SHELL); shell.More(); shell.Next())
            measure.closed = measure.closed && BRep_Tool::IsClosed(shell.Current());
        if (measure.closed) {
            GProp_GProps props;
            if (precise)
                BRepGProp::VolumeProperties(solid, props, 1e-8, Standard_True);
            else
                BRepGProp::VolumeProperties(solid, props, Standard_True);
            measure.volume = props.Mass();
        }
        return memo_.emplace(key, measure).first->second;
    }

    // Whether two solids of the state share inner points: a few points at
    // random in each pair's common box, classified in both.
    bool overlapping(const std::vector<SolidMeasure>& solids, unsigned seed)
    {
        std::mt19937 random(seed);
        for (std::size_t i = 0; i < solids.size(); ++i) {
            for (std::size_t j = i + 1; j < solids.size(); ++j) {
                if (overlap(solids[i].solid, solids[j].solid, random))
                    return true;
            }
        }
        return false;
    }

private:
    bool overlap(const TopoDS_Shape& first, const TopoDS_Shape& second, std::mt19937& random)
    {
        Bnd_Box a;
        Bnd_Box b;
        BRepBndLib::Add(first, a);
        BRepBndLib::Add(second, b);
        if (a.IsOut(b))
            return false;
        double ax0, ay0, az0, ax1, ay1, az1, bx0, by0, bz0, bx1, by1, bz1;
        a.Get(ax0, ay0, az0, ax1, ay1, az1);
        b.Get(bx0, by0, bz0, bx1, by1, bz1);
        const double lo[3] = {std::max(ax0, bx0), std::max(ay0, by0), std::max(az0, bz0)};
        const double hi[3] = {std::min(ax1, bx1), std::min(ay1, by1), std::min(az1, bz1)};
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        for (int k = 0; k < 64; ++k) {
            const gp_Pnt p(lo[0] + (hi[0] - lo[0]) * unit(random),
                           lo[1] + (hi[1] - lo[1]) * unit(random),
                           lo[2] + (hi[2] - lo[2]) * unit(random));
            if (BRepClass3d_SolidClassifier(first, p, 1e-7).State() == TopAbs_IN
                && BRepClass3d_SolidClassifier(second, p, 1e-7).State() == TopAbs_IN)
                return true;
        }
        return false;
    }

    std::map<std::tuple<const void*, int, bool>, SolidMeasure> memo_;
};

struct StateMeasure {
    double volume = 0.0;
    std::vector<SolidMeasure> solids;
    int insideOut = 0;
    int open = 0;
};

StateMeasure measure(const ModelState& state, Measurer& measurer, bool precise)
{
    StateMeasure result;
    for (const auto& [id, body] : state.bodies) {
        for (TopExp_Explorer solid(body.shape, TopAbs_SOLID); solid.More(); solid.Next()) {
            const SolidMeasure& m = measurer.of(solid.Current(), precise);
            result.solids.push_back(m);
            result.volume += m.volume;
            result.insideOut += m.volume < 0.0 ? 1 : 0;
            result.open += m.closed ? 0 : 1;
        }
    }
    return result;
}

struct Tally {
    int booleans = 0;
    int accepted = 0;
    int sound = 0;
    int refusedRight = 0; // sound and refused, though a way's result was right
    int kernelLimits = 0; // sound and refused, and no way's result was right
    std::map<std::string, int> limitKinds; // the best way's verdict of each kernel limit
    int wrong = 0;
    int misplaced = 0; // tools the program built other than the generator meant
    std::string failures;
};

std::string where(unsigned seed, std::size_t index, const TruthStep& step)
{
    return "seed " + std::to_string(seed) + " feature " + std::to_string(index) + " ("
           + step.solid.name() + (step.cut ? " cut" : " join") + ")";
}

// Whether the program built the tool the oracle judges by: its volume, centre
// and box (measured tightly), within what rounding explains.
bool sameTool(const TopoDS_Shape& tool, const TruthSolid& solid)
{
    GProp_GProps props;
    BRepGProp::VolumeProperties(tool, props);
    const gp_XYZ centre = props.CentreOfMass().XYZ();
    const double volume = solid.volume();
    Bnd_Box box;
    BRepBndLib::AddOptimal(tool, box, Standard_False, Standard_False);
    double got[6];
    box.Get(got[0], got[1], got[2], got[3], got[4], got[5]);
    const std::array<double, 6> want = solid.bounds();
    bool same = std::abs(std::abs(props.Mass()) - volume) <= 1e-6 * volume + 1e-6
                && (centre - solid.centroid()).Modulus() < 1e-5 * (1.0 + std::cbrt(volume));
    for (std::size_t i = 0; i < 6; ++i)
        same = same && std::abs(got[i] - want[i]) < 1e-3;
    return same;
}

std::string fixed(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

// A join or cut the oracle calls sound: the tool overlaps the body by a real
// volume, or, joined, meets it over a face or keeps clear of it.
bool soundBoolean(const TruthStep& step, const VolumeEstimate& estimate)
{
    const bool overlaps = estimate.overlap > 6.0 * estimate.overlapError + 0.01;
    const bool faceContact = estimate.contact > 0.5 * qor::fixtures::contactReach;
    return overlaps || (!step.cut && (faceContact || !estimate.near));
}

// With QOR_TRUTH_KEEP naming a folder, a history found wrong is saved there
// as truth-<seed>.qcpart, to be opened and recomputed by hand.
void keep(const Document& doc, unsigned seed)
{
    const QString folder = qEnvironmentVariable("QOR_TRUTH_KEEP");
    if (!folder.isEmpty())
        doc.save(folder + QStringLiteral("/truth-%1.qcpart").arg(seed));
}

// What is wrong with the body after an accepted boolean, empty when nothing:
// its volume changed by more than the estimate's error allows, or a solid of
// it is inside out, open, or overlaps another.
std::string faultOf(Document& doc, std::size_t index, const VolumeEstimate& estimate,
                    Measurer& measurer, unsigned seed)
{
    StateMeasure before = measure(doc.stateBefore(index), measurer, false);
    StateMeasure now = measure(stateAfter(doc, index), measurer, false);
    const double allowed = 6.0 * estimate.changeError + 4.0 * estimate.cellVolume + 0.05;
    if (std::abs(now.volume - before.volume - estimate.change) > allowed / 2.0) {
        before = measure(doc.stateBefore(index), measurer, true);
        now = measure(stateAfter(doc, index), measurer, true);
    }
    const double got = now.volume - before.volume;
    std::string fault;
    if (std::abs(got - estimate.change) > allowed)
        fault = "wrong volume";
    else if (now.insideOut > 0)
        fault = "a solid inside out";
    else if (now.open > 0)
        fault = "an open solid";
    else if (now.solids.size() > 1 && measurer.overlapping(now.solids, seed + unsigned(index)))
        fault = "overlapping solids";
    if (fault.empty())
        return fault;
    return fault + ", changed the volume by " + fixed(got) + " mm³, expected "
           + fixed(estimate.change) + " ± " + fixed(allowed);
}

// How far the best of a refused boolean's ways came, judged by the oracle: its checks in
// the order they are made, so that a later verdict means a result nearer the right body.
enum class WayVerdict {
    NoResult, // the kernel failed
    Invalid, // the kernel's checker finds a body broken
    OpenOrInsideOut, // a solid is open or turned inside out
    WrongVolume, // the volume changed other than the primitives say
    Loose, // an edge or corner is looser than 0.05 mm
    Overlapping, // two solids share material
    VoidAtSurface, // a void of a solid touches or crosses its outer shell
    StrayMaterial, // a solid, however small, lies where the primitives leave no material
    Right,
};

const char* verdictText(WayVerdict verdict)
{
    switch (verdict) {
    case WayVerdict::NoResult: return "the kernel failed in every way";
    case WayVerdict::Invalid: return "no way gave a valid body";
    case WayVerdict::OpenOrInsideOut: return "every valid body had an open or inverted solid";
    case WayVerdict::WrongVolume: return "every whole body changed the volume wrongly";
    case WayVerdict::Loose: return "every body of the right volume had edges looser than 0.05 mm";
    case WayVerdict::Overlapping: return "every body of the right volume had overlapping solids";
    case WayVerdict::VoidAtSurface:
        return "every body of the right volume had a void touching its outer shell";
    case WayVerdict::StrayMaterial:
        return "every body of the right volume had a solid where no material belongs";
    case WayVerdict::Right: return "a way's body was right";
    }
    return "";
}

// A point inside the solid, a step in from one of its faces along the inward normal:
// the largest of a few steps that the classifier still puts inside, from points on a
// grid over each face's parameters, so that a sliver of a thousandth of a millimetre
// yields one too.
std::optional<gp_Pnt> pointInside(const TopoDS_Shape& solid)
{
    BRepClass3d_SolidClassifier classifier(solid);
    for (TopExp_Explorer it(solid, TopAbs_FACE); it.More(); it.Next()) {
        const TopoDS_Face face = TopoDS::Face(it.Current());
        double u0 = 0, u1 = 0, v0 = 0, v1 = 0;
        BRepTools::UVBounds(face, u0, u1, v0, v1);
        const BRepAdaptor_Surface surface(face);
        BRepTopAdaptor_FClass2d onFace(face, 1e-9);
        for (int i = 0; i < 9; ++i) {
            const double u = u0 + (u1 - u0) * (0.5 + i % 3) / 3.0;
            const double v = v0 + (v1 - v0) * (0.5 + i / 3) / 3.0;
            if (onFace.Perform(gp_Pnt2d(u, v)) != TopAbs_IN)
                continue;
            BRepLProp_SLProps props(surface, u, v, 1, 1e-9);
            if (!props.IsNormalDefined())
                continue;
            gp_Vec inward(props.Normal());
            if (face.Orientation() != TopAbs_REVERSED)
                inward.Reverse();
            for (const double step : {0.1, 0.01, 1e-3, 1e-4}) {
                const gp_Pnt p = props.Value().Translated(step * inward);
                classifier.Perform(p, 1e-7);
                if (classifier.State() == TopAbs_IN)
                    return p;
            }
        }
    }
    return std::nullopt;
}

double loosest(const TopoDS_Shape& shape)
{
    double tolerance = 0.0;
    for (TopExp_Explorer it(shape, TopAbs_EDGE); it.More(); it.Next())
        tolerance = std::max(tolerance, BRep_Tool::Tolerance(TopoDS::Edge(it.Current())));
    for (TopExp_Explorer it(shape, TopAbs_VERTEX); it.More(); it.Next())
        tolerance = std::max(tolerance, BRep_Tool::Tolerance(TopoDS::Vertex(it.Current())));
    return tolerance;
}

// Whether a void of the solid touches or crosses its outer shell: the material between is
// then a line or nothing, which no solid with a void describes rightly.
bool voidAtSurface(const TopoDS_Shape& solid)
{
    const TopoDS_Shell outer = BRepClass3d::OuterShell(TopoDS::Solid(solid));
    for (TopExp_Explorer it(solid, TopAbs_SHELL); it.More(); it.Next()) {
        if (it.Current().IsSame(outer))
            continue;
        BRepExtrema_DistShapeShape distance(outer, it.Current());
        if (!distance.IsDone() || distance.Value() < 1e-4)
            return true;
    }
    return false;
}

struct Judged {
    double volumeBefore = 0.0;
    const VolumeEstimate& estimate;
    const TruthBody& after; // the oracle's body with the boolean done
    unsigned seed = 0;
};

// The bodies a way leaves, judged by the oracle alone, the kernel's checker aside.
WayVerdict verdictOf(const std::vector<TopoDS_Shape>& bodies, const Judged& judged)
{
    for (const TopoDS_Shape& body : bodies) {
        if (!BRepCheck_Analyzer(body).IsValid())
            return WayVerdict::Invalid;
    }
    Measurer measurer;
    StateMeasure now;
    for (const TopoDS_Shape& body : bodies) {
        for (TopExp_Explorer solid(body, TopAbs_SOLID); solid.More(); solid.Next()) {
            const SolidMeasure& m = measurer.of(solid.Current(), true);
            now.solids.push_back(m);
            now.volume += m.volume;
            now.insideOut += m.volume < 0.0 ? 1 : 0;
            now.open += m.closed ? 0 : 1;
        }
    }
    if (now.insideOut > 0 || now.open > 0)
        return WayVerdict::OpenOrInsideOut;
    const VolumeEstimate& estimate = judged.estimate;
    const double allowed = 6.0 * estimate.changeError + 4.0 * estimate.cellVolume + 0.05;
    if (std::abs(now.volume - judged.volumeBefore - estimate.change) > allowed)
        return WayVerdict::WrongVolume;
    for (const TopoDS_Shape& body : bodies) {
        if (loosest(body) > 0.05)
            return WayVerdict::Loose;
    }
    if (now.solids.size() > 1 && measurer.overlapping(now.solids, judged.seed))
        return WayVerdict::Overlapping;
    for (const SolidMeasure& m : now.solids) {
        if (voidAtSurface(m.solid))
            return WayVerdict::VoidAtSurface;
    }
    for (const SolidMeasure& m : now.solids) {
        const std::optional<gp_Pnt> inside = pointInside(m.solid);
        if (inside && !judged.after.contains(inside->XYZ()))
            return WayVerdict::StrayMaterial;
    }
    return WayVerdict::Right;
}

// What each of the program's ways gives for a refused boolean, run beside the program on
// the state before the feature with the kernel's primitive as the tool: a join of the
// first body the tool's box reaches with the tool and the others reached, a cut of each
// body reached; the bodies out of reach stay. The best verdict over the ways.
WayVerdict bestWay(Document& doc, std::size_t index, const TruthStep& step,
                   const VolumeEstimate& estimate, const TruthBody& after, unsigned seed)
{
    const ModelState& before = doc.stateBefore(index);
    const TopoDS_Shape tool = qor::fixtures::truthToolShape(step.solid);
    Bnd_Box toolBox;
    BRepBndLib::Add(tool, toolBox);
    std::vector<TopoDS_Shape> near;
    std::vector<TopoDS_Shape> apart;
    Measurer measurer;
    const Judged judged{measure(before, measurer, true).volume, estimate, after, seed};
    for (const auto& [id, body] : before.bodies) {
        Bnd_Box box;
        BRepBndLib::Add(body.shape, box);
        box.Enlarge(1e-6);
        (box.IsOut(toolBox) ? apart : near).push_back(body.shape);
    }
    if (near.empty()) {
        apart.push_back(tool);
        return step.cut ? WayVerdict::Right : verdictOf(apart, judged);
    }
    std::vector<std::vector<TopoDS_Shape>> candidates;
    std::vector<bool> failed;
    const auto take = [&](const std::vector<std::optional<TopoDS_Shape>>& results) {
        if (candidates.empty()) {
            candidates.assign(results.size(), apart);
            failed.assign(results.size(), false);
        }
        for (std::size_t k = 0; k < results.size(); ++k) {
            if (!results[k])
                failed[k] = true;
            else if (TopExp_Explorer(*results[k], TopAbs_SOLID).More())
                candidates[k].push_back(*results[k]);
        }
    };
    TopTools_ListOfShape tools;
    if (step.cut) {
        qor::model::addCutTools(tool, tools);
        for (const TopoDS_Shape& body : near)
            take(qor::model::resultsOfEveryWay(BOPAlgo_CUT, body, tools));
    } else {
        tools.Append(tool);
        for (std::size_t k = 1; k < near.size(); ++k)
            tools.Append(near[k]);
        take(qor::model::resultsOfEveryWay(BOPAlgo_FUSE, near.front(), tools));
    }
    WayVerdict best = WayVerdict::NoResult;
    for (std::size_t k = 0; k < candidates.size(); ++k) {
        if (!failed[k])
            best = std::max(best, verdictOf(candidates[k], judged));
    }
    return best;
}

// One history, feature by feature against the oracle; it stops at the first
// wrong body, on which every later change would be measured.
void judge(unsigned seed, Tally& tally)
{
    Document doc;
    doc.groupBooleans = seed % 2 == 0;
    TruthHistory history(seed);
    history.build(doc, featureCount);
    doc.recompute();
    Measurer measurer;
    TruthBody body;
    for (const TruthStep& step : history.steps()) {
        const auto index = std::size_t(step.featureIndex);
        const Feature& feature = *doc.features[index];
        const ModelState& after = stateAfter(doc, index);
        const auto tool = after.tools.find(feature.id);
        if (feature.error.isEmpty() && tool != after.tools.end()
            && !sameTool(tool->second.shape, step.solid)) {
            ++tally.misplaced;
            tally.failures += where(seed, index, step) + ": the tool is not the one drawn\n";
            return;
        }
        if (index == 0) {
            body.add(step.solid, false);
            continue;
        }
        ++tally.booleans;
        const VolumeEstimate estimate = qor::fixtures::estimateChange(
            body, step.solid, step.cut, seed * 1000u + index, sampleCells);
        const bool sound = soundBoolean(step, estimate);
        tally.sound += sound ? 1 : 0;
        if (!feature.error.isEmpty()) {
            if (sound) {
                TruthBody after = body;
                after.add(step.solid, step.cut);
                const WayVerdict best = bestWay(doc, index, step, estimate, after, seed);
                const bool fault = best == WayVerdict::Right;
                ++(fault ? tally.refusedRight : tally.kernelLimits);
                if (!fault)
                    ++tally.limitKinds[verdictText(best)];
                tally.failures += where(seed, index, step)
                                  + (fault ? ": refused though " : ": a kernel limit, ")
                                  + verdictText(best) + ", expected " + fixed(estimate.change)
                                  + " mm³: " + feature.error.toStdString() + "\n";
                keep(doc, seed);
            }
            continue;
        }
        ++tally.accepted;
        body.add(step.solid, step.cut);
        const std::string fault = faultOf(doc, index, estimate, measurer, seed);
        if (fault.empty())
            continue;
        ++tally.wrong;
        tally.failures += where(seed, index, step) + ": " + fault + "\n";
        keep(doc, seed);
        return;
    }
}

} // namespace

// Random histories of joins and cuts of boxes, cylinders, spheres, tori and
// cones on a plate's planes, grouped for even seeds and one by one for odd
// ones: each accepted boolean changes the volume as the primitives say, and a
// sound one is refused only where none of the program's ways gives the body the
// primitives say (a kernel limit), and that seldom.
TEST(TruthHistory, AcceptedBooleansChangeTheVolumeAsThePrimitivesSay)
{
    // Its own seeds take 57 s of processor time on a busy machine, seeds never seen 116 s.
    qor::test::allowCpuSeconds(300);
    Tally tally;
    const std::vector<unsigned> list = seeds();
    const std::clock_t start = std::clock();
    for (const unsigned seed : list)
        judge(seed, tally);
    std::printf("%zu histories, seeds %u to %u: %d booleans, %d accepted, %d sound, %d wrong, "
                "%d sound refused though a way was right, %d kernel limits, %.0f s of CPU\n%s",
                list.size(), list.front(), list.back(), tally.booleans, tally.accepted, tally.sound,
                tally.wrong, tally.refusedRight, tally.kernelLimits,
                double(std::clock() - start) / CLOCKS_PER_SEC, tally.failures.c_str());
    for (const auto& [kind, count] : tally.limitKinds)
        std::printf("kernel limit: %s: %d\n", kind.c_str(), count);
    EXPECT_EQ(tally.misplaced, 0);
    EXPECT_EQ(tally.wrong, 0);
    EXPECT_EQ(tally.refusedRight, 0);
    // The kernel's limits are its own, but a generator that ran into them often would
    // judge little.
    EXPECT_LE(100 * tally.kernelLimits, tally.sound);
    // The generator makes sound booleans most of the time, or it tests nothing.
    EXPECT_GT(tally.sound, tally.booleans / 2);
}

namespace {

// One history that once went wrong, judged alone: sound booleans, none of them
// wrong and none right refused.
Tally judgedAlone(unsigned seed)
{
    qor::test::allowCpuSeconds(60);
    Tally tally;
    judge(seed, tally);
    std::printf("%s", tally.failures.c_str());
    EXPECT_GT(tally.sound, 0);
    EXPECT_EQ(tally.wrong, 0);
    EXPECT_EQ(tally.refusedRight, 0);
    return tally;
}

} // namespace

// A cylinder cut whose side touches a hollow of the body leaves the hollow
// inside the body, as the primitives say: it was once refused as a hollow
// sticking out of the body (957338, feature 7).
TEST(TruthHistory, ACutTouchingAHollowLeavesItInside)
{
    const Tally tally = judgedAlone(957338u);
    EXPECT_EQ(tally.kernelLimits, 0);
    EXPECT_EQ(tally.accepted, tally.booleans);
}

// A ring joined to a plate round a boss in its hole: every way the kernel
// tried kept each point of the ring and dropped the plate's material inside
// the ring's hole, 3,632 mm³ short (2,040,000,001, feature 28). Such a join is
// refused, never accepted.
TEST(TruthHistory, AJoinThatDropsTheBodyInsideARingIsRefused)
{
    const Tally tally = judgedAlone(2040000001u);
    EXPECT_LE(tally.kernelLimits, 1);
}

namespace {

// The frame turned by 30 degrees about X, as a turned work plane carries it.
TruthSolid turned(TruthSolid s)
{
    const double angle = std::numbers::pi / 6.0;
    s.yAxis = {0, std::cos(angle), std::sin(angle)};
    s.normal = {0, -std::sin(angle), std::cos(angle)};
    return s;
}

struct OracleCase {
    const char* name;
    TruthSolid tool;
    bool cut;
    double exact; // the change of a 200 × 120 × 10 plate (or of nothing)
    bool onPlate = true;
};

std::vector<OracleCase> oracleCases()
{
    using K = TruthSolid::Kind;
    constexpr double pi = std::numbers::pi;
    const TruthSolid cone = truthSolid(K::Cone, {60, 40, 10}, 6, 2, 9);
    const TruthSolid frustum = turned(cone);
    return {
        {"box alone", turned(truthSolid(K::Box, {5, 5, 5}, 10, 20, 30)), false, 6000, false},
        {"cylinder alone", turned(truthSolid(K::Cylinder, {0, 0, 0}, 4, 12)), false, pi * 192,
         false},
        {"torus alone", turned(truthSolid(K::Torus, {0, 0, 0}, 10, 3)), false, 180 * pi * pi,
         false},
        {"frustum alone", frustum, false, frustum.volume(), false},
        {"sphere equator on the top face", truthSolid(K::Sphere, {50, 50, 10}, 7), true,
         -2.0 / 3.0 * pi * 343},
        {"torus touching both faces", truthSolid(K::Torus, {100, 60, 5}, 12, 5), true,
         -2.0 * pi * pi * 12 * 25},
        {"cone standing on the top face", cone, false, cone.volume()},
        {"box flush in a corner", truthSolid(K::Box, {10, 10, 0}, 20, 20, 10), true, -4000},
        {"cylinder half over the side", truthSolid(K::Cylinder, {200, 60, 0}, 5, 10), true,
         -125 * pi},
    };
}

} // namespace

// The oracle's estimates, checked where the answer is known exactly: each kind
// of primitive, turned or not, alone or against the plate on its faces, lies
// within a few of its stated standard errors, which are small; and repeated
// estimates scatter as much as the stated error says.
TEST(TruthOracle, EstimatesKnownChangesWithinTheirStatedError)
{
    TruthBody plate;
    plate.add(truthSolid(TruthSolid::Kind::Box, {100, 60, 0}, 200, 120, 10), false);
    const TruthBody nothing;
    for (const OracleCase& c : oracleCases()) {
        SCOPED_TRACE(c.name);
        const TruthBody& body = c.onPlate ? plate : nothing;
        const VolumeEstimate estimate
            = qor::fixtures::estimateChange(body, c.tool, c.cut, 7, sampleCells);
        EXPECT_NEAR(estimate.change, c.exact, 5.0 * estimate.changeError + 1e-9);
        EXPECT_LT(estimate.changeError, 2e-3 * std::abs(c.exact));
    }
    const OracleCase sphere = oracleCases()[4];
    double sum = 0.0;
    double squares = 0.0;
    double stated = 0.0;
    constexpr int runs = 24;
    for (int k = 0; k < runs; ++k) {
        const VolumeEstimate e
            = qor::fixtures::estimateChange(plate, sphere.tool, true, 100u + unsigned(k), 20000);
        sum += e.change;
        squares += e.change * e.change;
        stated += e.changeError / runs;
    }
    const double scatter = std::sqrt((squares - sum * sum / runs) / (runs - 1));
    EXPECT_GT(scatter, stated / 2.0);
    EXPECT_LT(scatter, stated * 2.0);
}
