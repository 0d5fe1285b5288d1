#include "io/IgesSolids.h"

#include "io/SharedFaces.h"

#include "expr/Format.h"
#include "sketch/Plane.h"

#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_Sewing.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepCheck_Shell.hxx>
#include <BRepClass3d_SolidClassifier.hxx>
#include <BRepGProp.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_BoundSortBox.hxx>
#include <Bnd_Box.hxx>
#include <Bnd_HArray1OfBox.hxx>
#include <GProp_GProps.hxx>
#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_DataMapOfShapeInteger.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Iterator.hxx>
#include <TopoDS_Shell.hxx>
#include <TopoDS_Solid.hxx>

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <optional>

namespace qor::io {

namespace {

// Sewing changes the faces' edges, not their surfaces: the area of the faces moves by a few
// parts in a hundred thousand (a hammer of 45 faces: 2.5e-5).
constexpr double areaSlack = 1e-4;

double area(const TopoDS_Shape& shape)
{
    GProp_GProps props;
    BRepGProp::SurfaceProperties(shape, props);
    return props.Mass();
}

// The volume the faces enclose with their orientation: negative for faces turned inward.
double signedVolume(const TopoDS_Shape& shape)
{
    GProp_GProps props;
    BRepGProp::VolumeProperties(shape, props);
    return props.Mass();
}

bool closedShell(const TopoDS_Shell& shell)
{
    return BRepCheck_Shell(shell).Closed() == BRepCheck_NoError;
}

TopoDS_Shell shellOfFace(const TopoDS_Shape& face)
{
    BRep_Builder builder;
    TopoDS_Shell shell;
    builder.MakeShell(shell);
    builder.Add(shell, face);
    return shell;
}

// The faces at the positions, measured together: the kernel measures the volume under faces
// from one corner of the shape, so that faces measured one by one do not add up.
TopoDS_Compound compoundOf(const std::vector<TopoDS_Face>& faces, const std::vector<int>& at)
{
    BRep_Builder builder;
    TopoDS_Compound compound;
    builder.MakeCompound(compound);
    for (const int face : at)
        builder.Add(compound, faces[std::size_t(face)]);
    return compound;
}

// One shell the sewing made and the faces of the set in it.
struct SewnShell {
    TopoDS_Shell shell;
    std::vector<int> faces;
};

// The shells the faces sew into. A face the sewing left alone (a ball's one face, closed by
// its seam once the sewing joined the seam's two edges) is a shell of its own.
std::vector<SewnShell> sewnShells(const std::vector<TopoDS_Face>& faces, double tolerance)
{
    BRepBuilderAPI_Sewing sewing(tolerance);
    for (const TopoDS_Face& face : faces)
        sewing.Add(face);
    sewing.Perform();
    std::vector<SewnShell> shells;
    TopTools_DataMapOfShapeInteger shellOf;
    for (TopExp_Explorer it(sewing.SewedShape(), TopAbs_SHELL); it.More(); it.Next()) {
        for (TopExp_Explorer face(it.Current(), TopAbs_FACE); face.More(); face.Next())
            shellOf.Bind(face.Current(), int(shells.size()));
        shells.push_back({TopoDS::Shell(it.Current()), {}});
    }
    for (int i = 0; i < int(faces.size()); ++i) {
        const TopoDS_Shape sewn = sewing.Modified(faces[i]);
        if (const int* shell = shellOf.Seek(sewn)) {
            shells[*shell].faces.push_back(i);
        } else if (!sewn.IsNull() && sewn.ShapeType() == TopAbs_FACE) {
            shellOf.Bind(sewn, int(shells.size()));
            shells.push_back({shellOfFace(sewn), {i}});
        } else {
            // Left out by the sewing (a face without area): its shell cannot hold it.
            shells.push_back({TopoDS_Shell(), {i}});
        }
    }
    return shells;
}

// A closed shell turned outward, with the volume it encloses and the orientation of the
// faces as read.
struct ClosedShell {
    TopoDS_Shell shell;
    std::vector<int> faces;
    double volume = 0.0;
    bool turnedInward = false;
};

// True when the inner shell lies inside the solid of the outer: its first corner that is not
// on the outer's boundary tells.
bool encloses(BRepClass3d_SolidClassifier& outer, const TopoDS_Shell& inner, double tolerance)
{
    TopTools_IndexedMapOfShape corners;
    TopExp::MapShapes(inner, TopAbs_VERTEX, corners);
    for (int i = 1; i <= corners.Extent(); ++i) {
        outer.Perform(BRep_Tool::Pnt(TopoDS::Vertex(corners(i))), tolerance);
        if (outer.State() == TopAbs_IN)
            return true;
        if (outer.State() == TopAbs_OUT)
            return false;
    }
    return false;
}

bool holds(const Bnd_Box& outer, const Bnd_Box& inner, double tolerance)
{
    double x0, y0, z0, x1, y1, z1, u0, v0, w0, u1, v1, w1;
    outer.Get(x0, y0, z0, x1, y1, z1);
    inner.Get(u0, v0, w0, u1, v1, w1);
    return u0 >= x0 - tolerance && v0 >= y0 - tolerance && w0 >= z0 - tolerance
           && u1 <= x1 + tolerance && v1 <= y1 + tolerance && w1 <= z1 + tolerance;
}

TopoDS_Solid solidOf(const TopoDS_Shell& shell)
{
    BRep_Builder builder;
    TopoDS_Solid solid;
    builder.MakeSolid(solid);
    builder.Add(solid, shell);
    return solid;
}

// For each shell turned inward, the index of the smallest shell turned outward that
// encloses it, or -1. Only shells whose box holds the inner one's are asked.
std::vector<int> hostsOfVoids(const std::vector<ClosedShell>& shells, double tolerance)
{
    std::vector<int> hosts(shells.size(), -1);
    if (std::none_of(shells.begin(), shells.end(),
                     [](const ClosedShell& shell) { return shell.turnedInward; }))
        return hosts;
    // Tight boxes: the box of a surface's control points may reach beyond the shell around.
    std::vector<Bnd_Box> boxes(shells.size());
    for (std::size_t i = 0; i < shells.size(); ++i)
        BRepBndLib::AddOptimal(shells[i].shell, boxes[i], false, false);
    for (std::size_t h = 0; h < shells.size(); ++h) {
        if (shells[h].turnedInward)
            continue;
        std::optional<BRepClass3d_SolidClassifier> classifier;
        for (std::size_t v = 0; v < shells.size(); ++v) {
            if (!shells[v].turnedInward || shells[v].volume >= shells[h].volume
                || !holds(boxes[h], boxes[v], tolerance))
                continue;
            const int host = hosts[v];
            if (host >= 0 && shells[std::size_t(host)].volume <= shells[h].volume)
                continue;
            if (!classifier)
                classifier.emplace(solidOf(shells[h].shell));
            if (encloses(*classifier, shells[v].shell, tolerance))
                hosts[v] = int(h);
        }
    }
    return hosts;
}

// The solid of an outer shell and its voids, or a null shape when it is not valid, encloses
// nothing or does not hold its faces' area.
TopoDS_Shape validSolid(const TopoDS_Shell& outer, const std::vector<TopoDS_Shell>& voids,
                        double facesArea)
{
    BRep_Builder builder;
    TopoDS_Solid solid = solidOf(outer);
    for (const TopoDS_Shell& inner : voids)
        builder.Add(solid, inner.Reversed());
    if (!BRepCheck_Analyzer(solid).IsValid() || !(signedVolume(solid) > 0.0))
        return {};
    if (std::abs(area(solid) - facesArea) > areaSlack * facesArea)
        return {};
    return solid;
}

void leaveOpen(FaceClosure& closure, const std::vector<int>& faces, OpenReason reason)
{
    closure.open.insert(closure.open.end(), faces.begin(), faces.end());
    if (closure.reason != OpenReason::NotClosed)
        closure.reason = reason;
}

// A shell turned inward that no shell encloses is a body read inside out (a body under a
// mirroring placement): the shells inside it are read inside out as well and are judged
// with the same turn, so that its voids stay voids. Larger shells first, so that a shell
// inside one so turned is turned once.
void turnBodiesReadInsideOut(std::vector<ClosedShell>& shells, double tolerance)
{
    const std::vector<int> hosts = hostsOfVoids(shells, tolerance);
    std::vector<std::size_t> order(shells.size());
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return shells[a].volume > shells[b].volume; });
    std::vector<Bnd_Box> boxes(shells.size());
    std::vector<bool> turned(shells.size(), false);
    for (const std::size_t outer : order) {
        if (!shells[outer].turnedInward || hosts[outer] >= 0 || turned[outer])
            continue;
        std::optional<BRepClass3d_SolidClassifier> classifier;
        for (std::size_t inner = 0; inner < shells.size(); ++inner) {
            if (inner == outer || turned[inner] || shells[inner].volume >= shells[outer].volume)
                continue;
            if (boxes[outer].IsVoid())
                BRepBndLib::AddOptimal(shells[outer].shell, boxes[outer], false, false);
            if (boxes[inner].IsVoid())
                BRepBndLib::AddOptimal(shells[inner].shell, boxes[inner], false, false);
            if (!holds(boxes[outer], boxes[inner], tolerance))
                continue;
            if (!classifier)
                classifier.emplace(solidOf(shells[outer].shell));
            if (encloses(*classifier, shells[inner].shell, tolerance)) {
                shells[inner].turnedInward = !shells[inner].turnedInward;
                turned[inner] = true;
            }
        }
        shells[outer].turnedInward = false;
    }
}

void solidsOfClosedShells(const std::vector<TopoDS_Face>& faces, std::vector<ClosedShell> shells,
                          double tolerance, FaceClosure& closure)
{
    turnBodiesReadInsideOut(shells, tolerance);
    const std::vector<int> hosts = hostsOfVoids(shells, tolerance);
    std::map<int, std::vector<int>> voidsOf;
    for (std::size_t i = 0; i < shells.size(); ++i) {
        if (hosts[i] >= 0)
            voidsOf[hosts[i]].push_back(int(i));
    }
    // A shell turned inward that no other encloses is a body read inside out: a solid of its
    // own like every shell turned outward.
    for (std::size_t i = 0; i < shells.size(); ++i) {
        if (hosts[i] >= 0)
            continue;
        std::vector<TopoDS_Shell> voids;
        std::vector<int> members = shells[i].faces;
        for (const int v : voidsOf[int(i)]) {
            voids.push_back(shells[std::size_t(v)].shell);
            members.insert(members.end(), shells[std::size_t(v)].faces.begin(),
                           shells[std::size_t(v)].faces.end());
        }
        double facesArea = 0.0;
        for (const int face : members)
            facesArea += area(faces[std::size_t(face)]);
        const TopoDS_Shape solid = validSolid(shells[i].shell, voids, facesArea);
        if (solid.IsNull()) {
            leaveOpen(closure, members, OpenReason::NoValidSolid);
            continue;
        }
        closure.solids.push_back(solid);
        closure.solidFaces.push_back(std::move(members));
    }
}

// The closed shells of some faces, turned outward, and the positions of the faces left open.
struct Shells {
    std::vector<ClosedShell> closed;
    std::vector<int> open;
};

Shells closedShells(const std::vector<TopoDS_Face>& faces, double tolerance)
{
    Shells shells;
    for (SewnShell& sewn : sewnShells(faces, tolerance)) {
        if (sewn.shell.IsNull() || !closedShell(sewn.shell)) {
            shells.open.insert(shells.open.end(), sewn.faces.begin(), sewn.faces.end());
            continue;
        }
        ClosedShell shell{sewn.shell, sewn.faces, signedVolume(sewn.shell),
                          signedVolume(compoundOf(faces, sewn.faces)) < 0.0};
        if (shell.volume < 0.0) {
            shell.shell.Reverse();
            shell.volume = -shell.volume;
        }
        shell.shell.Closed(true);
        shells.closed.push_back(std::move(shell));
    }
    return shells;
}

// Adds the shells of some faces to those of others: number[i] is the position there of face i.
void addShells(Shells& into, Shells&& part, const std::vector<int>& number)
{
    for (ClosedShell& shell : part.closed) {
        for (int& face : shell.faces)
            face = number[std::size_t(face)];
        into.closed.push_back(std::move(shell));
    }
    for (const int face : part.open)
        into.open.push_back(number[std::size_t(face)]);
}

// The closed shells of the faces sewn group by group, then the faces of the groups' open
// shells sewn together: a shell may close only with faces of another group.
Shells shellsOfGroups(const std::vector<TopoDS_Face>& faces,
                      const std::vector<std::vector<int>>& groups, double tolerance)
{
    Shells shells;
    std::vector<TopoDS_Face> leftFaces;
    std::vector<int> leftNumbers;
    for (const std::vector<int>& group : groups) {
        std::vector<TopoDS_Face> own;
        for (const int face : group)
            own.push_back(faces[std::size_t(face)]);
        Shells part = closedShells(own, tolerance);
        for (const int face : part.open) {
            leftFaces.push_back(own[std::size_t(face)]);
            leftNumbers.push_back(group[std::size_t(face)]);
        }
        part.open.clear();
        addShells(shells, std::move(part), group);
    }
    if (!leftFaces.empty())
        addShells(shells, closedShells(leftFaces, tolerance), leftNumbers);
    return shells;
}

// The closed shells of faces without groups: split into the shells they share first where
// the sewing would join faces across solids.
Shells shellsOfFaces(const std::vector<TopoDS_Face>& faces, double tolerance)
{
    const std::vector<std::vector<int>> shells = shellsOfSharedFaces(faces, tolerance);
    return shells.size() < 2 ? closedShells(faces, tolerance)
                             : shellsOfGroups(faces, shells, tolerance);
}

FaceClosure solidsOfShells(const std::vector<TopoDS_Face>& faces, Shells&& shells, double tolerance)
{
    FaceClosure closure;
    if (!shells.open.empty())
        leaveOpen(closure, shells.open, OpenReason::NotClosed);
    solidsOfClosedShells(faces, std::move(shells.closed), tolerance, closure);
    return closure;
}

// The closure a step makes of the faces, or all of them left open where the kernel fails.
template <typename Step> FaceClosure guarded(std::size_t faces, const Step& step)
{
    if (faces == 0)
        return {};
    try {
        OCC_CATCH_SIGNALS
        return step();
    } catch (const Standard_Failure&) {
        FaceClosure closure;
        for (std::size_t i = 0; i < faces; ++i)
            closure.open.push_back(int(i));
        closure.reason = OpenReason::NoValidSolid;
        return closure;
    }
}

// The faces in the groups the file keeps them in: the faces directly under one compound form
// a group, and each compound inside it groups its own. The kernel's writer and the program's
// export keep the faces of each shell in a group of their own.
void collectGroups(const TopoDS_Shape& shape, std::vector<std::vector<TopoDS_Face>>& groups)
{
    if (shape.ShapeType() == TopAbs_FACE) {
        groups.push_back({TopoDS::Face(shape)});
        return;
    }
    if (shape.ShapeType() > TopAbs_SHELL)
        return;
    const std::size_t at = groups.size();
    std::vector<TopoDS_Face> own;
    for (TopoDS_Iterator it(shape); it.More(); it.Next()) {
        if (it.Value().ShapeType() == TopAbs_FACE)
            own.push_back(TopoDS::Face(it.Value()));
        else
            collectGroups(it.Value(), groups);
    }
    if (!own.empty())
        groups.insert(groups.begin() + std::ptrdiff_t(at), std::move(own));
}

// The largest tolerance of the shape's edges and corners: the reader widens them where the
// file's curves meet only that closely, and sewing at less leaves such edges apart (a box with
// a hole written by the kernel at a resolution of 1e-7 mm reads back with corners of 1e-5 mm).
double largestTolerance(const TopoDS_Shape& shape)
{
    double largest = 0.0;
    for (TopExp_Explorer it(shape, TopAbs_EDGE); it.More(); it.Next())
        largest = std::max(largest, BRep_Tool::Tolerance(TopoDS::Edge(it.Current())));
    for (TopExp_Explorer it(shape, TopAbs_VERTEX); it.More(); it.Next())
        largest = std::max(largest, BRep_Tool::Tolerance(TopoDS::Vertex(it.Current())));
    return largest;
}

TopoDS_Shape solidsShape(const std::vector<TopoDS_Shape>& solids)
{
    if (solids.size() == 1)
        return solids.front();
    BRep_Builder builder;
    TopoDS_Compound compound;
    builder.MakeCompound(compound);
    for (const TopoDS_Shape& solid : solids)
        builder.Add(compound, solid);
    return compound;
}

bool openFaceBody(const ImportedBody& body)
{
    return !body.shape.IsNull() && !TopExp_Explorer(body.shape, TopAbs_SOLID).More()
           && TopExp_Explorer(body.shape, TopAbs_FACE).More();
}

void countOpen(OpenBodies& open, OpenReason reason)
{
    if (reason == OpenReason::NoValidSolid)
        ++open.noValidSolid;
    else
        ++open.notClosed;
}

// The faces in sets that reach one another, each face as far as its own tolerance: a gap is
// closed only within the tolerance of the faces at it, so that one sloppy face does not let
// the sewing close the gaps of solids it never touches.
std::vector<std::vector<int>> facesWithinReach(const std::vector<TopoDS_Face>& faces,
                                               const std::vector<double>& tolerances)
{
    Handle(Bnd_HArray1OfBox) boxes = new Bnd_HArray1OfBox(1, int(faces.size()));
    for (std::size_t i = 0; i < faces.size(); ++i) {
        Bnd_Box box;
        BRepBndLib::Add(faces[i], box, false);
        box.Enlarge(tolerances[i]);
        boxes->SetValue(int(i) + 1, box);
    }
    Bnd_BoundSortBox near;
    near.Initialize(boxes);
    std::vector<int> root(faces.size());
    std::iota(root.begin(), root.end(), 0);
    const auto find = [&](int x) {
        while (root[std::size_t(x)] != x)
            x = root[std::size_t(x)] = root[std::size_t(root[std::size_t(x)])];
        return x;
    };
    for (std::size_t i = 0; i < faces.size(); ++i) {
        for (const int other : near.Compare(boxes->Value(int(i) + 1)))
            root[std::size_t(find(other - 1))] = find(int(i));
    }
    std::map<int, std::vector<int>> byRoot;
    for (int i = 0; i < int(faces.size()); ++i)
        byRoot[find(i)].push_back(i);
    std::vector<std::vector<int>> sets;
    for (auto& [first, members] : byRoot)
        sets.push_back(std::move(members));
    return sets;
}

// The closure of the faces, their shells sewn set by set of faces within reach of one
// another, each set at the largest tolerance among its faces; the solids are made of the
// shells of all sets, since a face closed by itself may be the void of another set's shell.
FaceClosure closeNearFaces(const std::vector<TopoDS_Face>& faces,
                           const std::vector<double>& tolerances)
{
    return guarded(faces.size(), [&] {
        Shells shells;
        double largest = 0.0;
        for (const std::vector<int>& set : facesWithinReach(faces, tolerances)) {
            std::vector<TopoDS_Face> own;
            double tolerance = 0.0;
            for (const int face : set) {
                own.push_back(faces[std::size_t(face)]);
                tolerance = std::max(tolerance, tolerances[std::size_t(face)]);
            }
            addShells(shells, shellsOfFaces(own, tolerance), set);
            largest = std::max(largest, tolerance);
        }
        return solidsOfShells(faces, std::move(shells), largest);
    });
}

// Sews the faces of the bodies of one face each together; every solid they close into
// replaces its bodies by one in the place of the first. The reasons of the bodies left open,
// by their position after the change.
std::map<std::size_t, OpenReason> closeOneFaceBodies(std::vector<ImportedBody>& bodies,
                                                     std::map<std::size_t, OpenReason> open,
                                                     double resolution)
{
    std::vector<std::size_t> gathered;
    std::vector<TopoDS_Face> faces;
    std::vector<double> tolerances;
    for (const auto& [index, reason] : open) {
        const TopoDS_Shape& shape = bodies[index].shape;
        if (countOf(shape, TopAbs_FACE) != 1)
            continue;
        gathered.push_back(index);
        faces.push_back(TopoDS::Face(TopExp_Explorer(shape, TopAbs_FACE).Current()));
        tolerances.push_back(std::max(resolution, largestTolerance(shape)));
    }
    if (gathered.empty())
        return open;
    const FaceClosure closure = closeNearFaces(faces, tolerances);
    for (const int face : closure.open)
        open[gathered[std::size_t(face)]] = closure.reason;
    std::vector<bool> removed(bodies.size(), false);
    for (std::size_t s = 0; s < closure.solids.size(); ++s) {
        const std::vector<int>& members = closure.solidFaces[s];
        const int first = *std::min_element(members.begin(), members.end());
        for (const int face : members) {
            removed[gathered[std::size_t(face)]] = true;
            open.erase(gathered[std::size_t(face)]);
        }
        const std::size_t kept = gathered[std::size_t(first)];
        removed[kept] = false;
        bodies[kept].shape = closure.solids[s];
    }
    std::vector<ImportedBody> left;
    std::map<std::size_t, OpenReason> stillOpen;
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        if (removed[i])
            continue;
        if (const auto it = open.find(i); it != open.end())
            stillOpen[left.size()] = it->second;
        left.push_back(std::move(bodies[i]));
    }
    bodies = std::move(left);
    return stillOpen;
}

} // namespace

FaceClosure closeFaces(const std::vector<TopoDS_Face>& faces, double tolerance)
{
    return guarded(faces.size(), [&] {
        return solidsOfShells(faces, shellsOfFaces(faces, tolerance), tolerance);
    });
}

FaceClosure closeBody(const TopoDS_Shape& body, double tolerance)
{
    std::vector<std::vector<TopoDS_Face>> groups;
    collectGroups(body, groups);
    if (groups.size() == 1)
        return closeFaces(groups.front(), tolerance);
    std::vector<TopoDS_Face> faces;
    std::vector<std::vector<int>> numbers;
    for (const std::vector<TopoDS_Face>& group : groups) {
        numbers.emplace_back();
        for (const TopoDS_Face& face : group) {
            numbers.back().push_back(int(faces.size()));
            faces.push_back(face);
        }
    }
    // A void may lie in another group than the shell around it (the kernel's writer groups a
    // solid's faces by shell): the solids are made of the shells of all groups.
    return guarded(faces.size(), [&] {
        return solidsOfShells(faces, shellsOfGroups(faces, numbers, tolerance), tolerance);
    });
}

OpenBodies closeFaceBodies(std::vector<ImportedBody>& bodies, double resolution)
{
    std::map<std::size_t, OpenReason> open;
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        ImportedBody& body = bodies[i];
        if (!openFaceBody(body))
            continue;
        // A face closed by itself (a ball's, a ring's) may be the void of a shell of other
        // faces: bodies of one face are closed all together.
        if (countOf(body.shape, TopAbs_FACE) == 1) {
            open[i] = OpenReason::NotClosed;
            continue;
        }
        const FaceClosure closure
            = closeBody(body.shape, std::max(resolution, largestTolerance(body.shape)));
        if (closure.open.empty() && !closure.solids.empty())
            body.shape = solidsShape(closure.solids);
        else
            open[i] = closure.open.empty() ? OpenReason::NotClosed : closure.reason;
    }
    OpenBodies left;
    for (const auto& [index, reason] : closeOneFaceBodies(bodies, std::move(open), resolution))
        countOpen(left, reason);
    return left;
}

QStringList openBodiesNotes(const OpenBodies& open, long long total)
{
    const auto note = [total](long long count, const char* reason) {
        const QString text
            = QStringLiteral("kein geschlossenes Volumen: %1 ") + QString::fromUtf8(reason);
        if (total == 1)
            return QStringLiteral("Der Körper hat ") + text.arg(QStringLiteral("seine"));
        return QStringLiteral("%1 von %2 Körpern %3 ")
                   .arg(germanCount(std::uint64_t(count)), germanCount(std::uint64_t(total)),
                        count == 1 ? QStringLiteral("hat") : QStringLiteral("haben"))
               + text.arg(count == 1 ? QStringLiteral("seine") : QStringLiteral("ihre"));
    };
    QStringList notes;
    if (open.notClosed > 0)
        notes << note(open.notClosed, "Flächen schließen sich nicht zu einer Hülle");
    if (open.noValidSolid > 0)
        notes << note(open.noValidSolid,
                      "Flächen schließen sich zu Hüllen, die keinen gültigen Körper ergeben");
    return notes;
}

} // namespace qor::io
