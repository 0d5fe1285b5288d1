#include "model/Document.h"
#include "model/ExecContext.h"
#include "tests/common/CpuBudget.h"
#include "tests/common/Seeds.h"
#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/CutMergeFiles.h"
#include "tests/fixtures/MixedHistory.h"

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepAlgoAPI_Fuse.hxx>
#include <BRepBuilderAPI_Copy.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRep_CurveRepresentation.hxx>
#include <BRep_GCurve.hxx>
#include <BRep_TEdge.hxx>
#include <BRep_TFace.hxx>
#include <BRep_TVertex.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS_Iterator.hxx>

#include <QDir>

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

using namespace qor::model;
using qor::test::countOf;

using qor::test::CutMergePair;
using qor::test::readCutMergePair;

namespace {

// What the merge could write into a part of a shape: a vertex's place,
// tolerance and parameters, an edge's tolerance, flags and curves with their
// ranges, a face's surface and tolerance, and which parts any part holds.
struct PartRecord {
    std::vector<const void*> handles;
    std::vector<double> numbers;
    bool operator==(const PartRecord& other) const
    {
        return handles == other.handles && numbers == other.numbers;
    }
};

using Fingerprint = std::map<const void*, PartRecord>;

PartRecord recordOf(const TopoDS_Shape& part)
{
    PartRecord r;
    for (TopoDS_Iterator it(part, false, false); it.More(); it.Next()) {
        r.handles.push_back(it.Value().TShape().get());
        r.numbers.push_back(double(it.Value().Orientation()));
    }
    if (const auto vertex = Handle(BRep_TVertex)::DownCast(part.TShape())) {
        r.numbers.insert(r.numbers.end(), {vertex->Tolerance(), vertex->Pnt().X(),
                                           vertex->Pnt().Y(), vertex->Pnt().Z()});
        for (const Handle(BRep_PointRepresentation)& point : vertex->Points()) {
            r.handles.push_back(point.get());
            r.numbers.push_back(point->Parameter());
        }
    } else if (const auto edge = Handle(BRep_TEdge)::DownCast(part.TShape())) {
        r.numbers.insert(r.numbers.end(), {edge->Tolerance(), double(edge->SameParameter()),
                                           double(edge->SameRange()), double(edge->Degenerated())});
        for (const Handle(BRep_CurveRepresentation)& curve : edge->Curves()) {
            r.handles.push_back(curve.get());
            if (const auto g = Handle(BRep_GCurve)::DownCast(curve)) {
                r.numbers.insert(r.numbers.end(), {g->First(), g->Last()});
                if (curve->IsCurve3D())
                    r.handles.push_back(curve->Curve3D().get());
                if (curve->IsCurveOnSurface()) {
                    r.handles.push_back(curve->Surface().get());
                    r.handles.push_back(curve->PCurve().get());
                }
                if (curve->IsCurveOnClosedSurface())
                    r.handles.push_back(curve->PCurve2().get());
            }
        }
    } else if (const auto face = Handle(BRep_TFace)::DownCast(part.TShape())) {
        r.handles.push_back(face->Surface().get());
        r.numbers.push_back(face->Tolerance());
    }
    return r;
}

Fingerprint fingerprint(const TopoDS_Shape& shape)
{
    TopTools_IndexedMapOfShape parts;
    TopExp::MapShapes(shape, parts);
    Fingerprint result;
    for (int i = 1; i <= parts.Extent(); ++i)
        result[parts(i).TShape().get()] = recordOf(parts(i));
    return result;
}

// How many parts of the shape changed since the fingerprint was taken.
int changedParts(const Fingerprint& before, const TopoDS_Shape& shape)
{
    const Fingerprint after = fingerprint(shape);
    int changed = 0;
    for (const auto& [part, record] : before) {
        const auto now = after.find(part);
        changed += now == after.end() || !(now->second == record) ? 1 : 0;
    }
    return changed;
}

// The body's volume, parts and validity, to compare merges by.
struct Measured {
    bool present = false;
    double volume = 0.0;
    int faces = 0;
    int edges = 0;
    int vertices = 0;
    bool valid = false;
};

Measured measure(const std::optional<TopoDS_Shape>& shape)
{
    if (!shape)
        return {};
    return {true,
            shapeVolume(*shape),
            countOf(*shape, TopAbs_FACE),
            countOf(*shape, TopAbs_EDGE),
            countOf(*shape, TopAbs_VERTEX),
            BRepCheck_Analyzer(*shape).IsValid()};
}

struct Checked {
    int merges = 0; // booleans whose merge changed the body
    std::string problems; // one line for each
};

// The raw boolean as a feature runs it, sharing the body's untouched parts,
// then the merge on it and on a copy whose every part is its own: both must
// give the same body, and neither the body nor the boolean's result may change.
void checkMerge(const TopoDS_Shape& body, const TopoDS_Shape& tool, bool cut,
                const std::string& name, Checked& checked)
{
    std::optional<TopoDS_Shape> raw;
    if (cut) {
        BRepAlgoAPI_Cut op;
        buildKeepingInputs(op, body, tool);
        if (op.IsDone())
            raw = op.Shape();
    } else {
        BRepAlgoAPI_Fuse op;
        buildKeepingInputs(op, body, tool);
        if (op.IsDone())
            raw = op.Shape();
    }
    if (!raw || isEmptyShape(*raw))
        return;
    const Fingerprint bodyBefore = fingerprint(body);
    const Fingerprint rawBefore = fingerprint(*raw);
    const auto shapeOf = [](const std::optional<SameDomainMerge>& merge) {
        return merge ? std::optional<TopoDS_Shape>(merge->shape) : std::nullopt;
    };
    const std::optional<TopoDS_Shape> merged = shapeOf(mergedSameDomain(*raw));
    const int bodyChanged = changedParts(bodyBefore, body);
    const int rawChanged = changedParts(rawBefore, *raw);
    const std::optional<TopoDS_Shape> plain = shapeOf(
        mergedSameDomain(BRepBuilderAPI_Copy(*raw, Standard_False, Standard_False).Shape()));

    const Measured a = measure(merged);
    const Measured b = measure(plain);
    const double slack = 1e-9 * std::max(1.0, std::abs(b.volume));
    std::string problem;
    if (bodyChanged != 0 || rawChanged != 0)
        problem += " wrote into " + std::to_string(bodyChanged) + " parts of the body and "
                   + std::to_string(rawChanged) + " of the boolean's result;";
    if (a.present != b.present || a.faces != b.faces || a.edges != b.edges
        || a.vertices != b.vertices || a.valid != b.valid || std::abs(a.volume - b.volume) > slack)
        problem += " merged " + std::to_string(a.faces) + " faces, " + std::to_string(a.volume)
                   + " mm³, valid " + std::to_string(a.valid) + "; on its own copy "
                   + std::to_string(b.faces) + " faces, " + std::to_string(b.volume)
                   + " mm³, valid " + std::to_string(b.valid) + ";";
    if (!problem.empty())
        checked.problems += name + ":" + problem + "\n";
    if (merged && countOf(*merged, TopAbs_FACE) != countOf(*raw, TopAbs_FACE))
        ++checked.merges;
}

const ModelState& stateAfter(Document& doc, std::size_t index)
{
    return index + 1 < doc.features.size() ? doc.stateBefore(index + 1) : doc.current;
}

} // namespace

// The merge after a boolean moves what it writes onto copies of the parts it
// writes into, so that it changes nothing the bodies of earlier states hold.
// Every join and cut of random histories (rings, spheres, tori, patterns,
// fillets among them) and the cut of the plate the merge once broke are run
// again on the body before them, and the merge compared with the merge on a
// copy of the boolean's result that shares nothing.
TEST(SameDomainMerge, LeavesItsInputAloneAndGivesWhatAWholeCopyGives)
{
    // Seeds never seen took 59 s of processor time.
    qor::test::allowCpuSeconds(180);
    struct History {
        unsigned seed;
        int features;
    };
    // 1008 holds the revolved cut whose merge once rewrote a curve of an edge
    // the body before it shares.
    const History histories[]
        = {{8, 60}, {1008, 96}, {42, 70}, {1009, 42}, {21, 50}, {1010, 49}, {1013, 70}, {2023, 68}};
    // The first five always, the others only while the merges reached are too few to
    // prove anything: some seeds draw histories with few joins and cuts that merge.
    constexpr std::size_t always = 5;
    constexpr int enoughMerges = 15;
    Checked checked;
    for (std::size_t k = 0; k < std::size(histories); ++k) {
        if (k >= always && checked.merges >= enoughMerges)
            break;
        if (k >= always)
            qor::test::allowCpuSeconds(60 + 25 * int(k + 1 - always));
        const History& h = histories[k];
        Document doc;
        qor::fixtures::MixedHistory(qor::test::seed(h.seed)).build(doc, h.features);
        doc.groupBooleans = false;
        doc.recompute();
        for (std::size_t i = 0; i < doc.features.size(); ++i) {
            const Feature& f = *doc.features[i];
            const auto& tools = stateAfter(doc, i).tools.get();
            const auto tool = tools.find(f.id);
            if (!f.error.isEmpty() || tool == tools.end()
                || (tool->second.op != QLatin1String("cut")
                    && tool->second.op != QLatin1String("join")))
                continue;
            const ModelState& before = doc.stateBefore(i);
            for (const int id : tool->second.targets) {
                const auto body = before.bodies.find(id);
                if (body == before.bodies.end())
                    continue;
                checkMerge(
                    body->second.shape, tool->second.shape, tool->second.op == QLatin1String("cut"),
                    "seed " + std::to_string(h.seed) + " feature " + std::to_string(i), checked);
            }
        }
    }
    if (const std::optional<CutMergePair> files = readCutMergePair())
        checkMerge(files->plate, files->cylinder, true, "cut-merge plate", checked);
    EXPECT_EQ(checked.problems, "");
    // The histories must reach the merge, or the comparison proves nothing.
    EXPECT_GE(checked.merges, enoughMerges);
}
