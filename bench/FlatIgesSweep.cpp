// Reads a STEP model, writes its solids' faces to IGES flat (every face an entity of its own,
// nothing grouped, as the kernel's writer does for loose faces) and reads that back with the
// program's own import, in this process, so that a sweep measures the reader it was built
// with. Prints the solids and their volumes before and after, and with -v
// which solid of the model each face of every shell found in the flat file came from.

#include "io/IgesSolids.h"
#include "io/Import.h"
#include "io/KernelMessage.h"
#include "io/SharedFaces.h"
#include "tests/fixtures/IgesFaceBodies.h"

#include <BRepAdaptor_Curve.hxx>
#include <BRepAdaptor_Surface.hxx>
#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_Sewing.hxx>
#include <BRepGProp.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <GProp_GProps.hxx>
#include <IGESControl_Controller.hxx>
#include <IGESControl_Reader.hxx>
#include <IGESData_GlobalSection.hxx>
#include <IGESData_IGESModel.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_DataMapOfShapeInteger.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopoDS.hxx>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include <sys/resource.h>

namespace {

double volumeOf(const TopoDS_Shape& shape)
{
    GProp_GProps props;
    BRepGProp::VolumeProperties(shape, props);
    return props.Mass();
}

std::vector<TopoDS_Shape> solidsOf(const std::vector<qor::io::ImportedBody>& bodies)
{
    std::vector<TopoDS_Shape> solids;
    for (const qor::io::ImportedBody& body : bodies) {
        for (TopExp_Explorer it(body.shape, TopAbs_SOLID); it.More(); it.Next())
            solids.push_back(it.Current());
    }
    return solids;
}

void printSolids(const char* what, const std::vector<TopoDS_Shape>& solids)
{
    std::vector<double> volumes;
    for (const TopoDS_Shape& solid : solids)
        volumes.push_back(volumeOf(solid));
    std::sort(volumes.begin(), volumes.end());
    std::printf("%s: %zu solids:", what, solids.size());
    for (const double v : volumes)
        std::printf(" %.6g", v);
    std::printf("\n");
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + 1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

// The faces of the flat file as the kernel reads them, one per entity, in the file's order.
std::vector<TopoDS_Face> plainFaces(const QString& path, double& resolution)
{
    IGESControl_Controller::Init();
    IGESControl_Reader reader;
    reader.ReadFile(QFile::encodeName(path).constData());
    reader.TransferRoots();
    resolution = reader.IGESModel()->GlobalSection().Resolution();
    std::vector<TopoDS_Face> faces;
    for (int i = 1; i <= reader.NbShapes(); ++i) {
        for (TopExp_Explorer it(reader.Shape(i), TopAbs_FACE); it.More(); it.Next())
            faces.push_back(TopoDS::Face(it.Current()));
    }
    return faces;
}

// The edges of the sewn faces where faces of more than one solid of the model meet.
void printMixedEdges(const std::vector<TopoDS_Face>& faces, const std::vector<int>& solidOfFace,
                     double tolerance)
{
    BRepBuilderAPI_Sewing sewing(tolerance);
    for (const TopoDS_Face& face : faces)
        sewing.Add(face);
    sewing.Perform();
    TopTools_DataMapOfShapeInteger from;
    for (std::size_t i = 0; i < faces.size(); ++i)
        from.Bind(sewing.Modified(faces[i]), int(i));
    int shells = 0;
    for (TopExp_Explorer it(sewing.SewedShape(), TopAbs_SHELL); it.More(); it.Next())
        ++shells;
    std::printf("sewn at %g: %d shells\n", tolerance, shells);
    TopTools_IndexedDataMapOfShapeListOfShape edgeFaces;
    TopExp::MapShapesAndAncestors(sewing.SewedShape(), TopAbs_EDGE, TopAbs_FACE, edgeFaces);
    for (int e = 1; e <= edgeFaces.Extent(); ++e) {
        std::map<int, int> solids;
        std::vector<int> idx;
        for (const TopoDS_Shape& face : edgeFaces(e)) {
            const int* i = from.Seek(face);
            idx.push_back(i ? *i : -1);
            if (i)
                ++solids[solidOfFace[std::size_t(*i)]];
        }
        if (solids.size() < 2)
            continue;
        BRepAdaptor_Curve curve(TopoDS::Edge(edgeFaces.FindKey(e)));
        const gp_Pnt a = curve.Value(curve.FirstParameter());
        const gp_Pnt b = curve.Value(curve.LastParameter());
        std::printf("edge (%.4f %.4f %.4f)-(%.4f %.4f %.4f) type %d faces", a.X(), a.Y(), a.Z(),
                    b.X(), b.Y(), b.Z(), int(curve.GetType()));
        for (const int i : idx)
            std::printf(" %d(s%d)", i, i >= 0 ? solidOfFace[std::size_t(i)] : -1);
        std::printf("\n");
    }
}

// The faces of the model's solids that lie in the box, with their edges.
void printFacesNear(const std::vector<TopoDS_Face>& faces, const std::vector<int>& solidOfFace,
                    const Bnd_Box& near)
{
    for (std::size_t i = 0; i < faces.size(); ++i) {
        Bnd_Box box;
        BRepBndLib::Add(faces[i], box);
        if (box.IsOut(near))
            continue;
        BRepAdaptor_Surface surface(faces[i]);
        std::printf("face %zu (s%d) surface %d %s\n", i, solidOfFace[i], int(surface.GetType()),
                    faces[i].Orientation() == TopAbs_REVERSED ? "reversed" : "forward");
        for (TopExp_Explorer it(faces[i], TopAbs_EDGE); it.More(); it.Next()) {
            const TopoDS_Edge& edge = TopoDS::Edge(it.Current());
            BRepAdaptor_Curve curve(edge);
            const gp_Pnt a = curve.Value(curve.FirstParameter());
            const gp_Pnt b = curve.Value(curve.LastParameter());
            const gp_Pnt m = curve.Value(0.5 * (curve.FirstParameter() + curve.LastParameter()));
            std::printf("   edge %s type %d (%.4f %.4f %.4f)-(%.4f %.4f %.4f) mid (%.4f %.4f %.4f) "
                        "tol %g\n",
                        edge.Orientation() == TopAbs_REVERSED ? "rev" : "fwd", int(curve.GetType()),
                        a.X(), a.Y(), a.Z(), b.X(), b.Y(), b.Z(), m.X(), m.Y(), m.Z(),
                        BRep_Tool::Tolerance(edge));
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qor::io::keepOnlyKernelFailures();
    const bool verbose = argc > 2 && std::strcmp(argv[2], "-v") == 0;
    if (argc < 2) {
        std::fprintf(stderr, "usage: FlatIgesSweep FILE.step [-v]\n");
        return 2;
    }
    const std::vector<TopoDS_Shape> solids
        = solidsOf(qor::io::readInThisProcess(QString::fromLocal8Bit(argv[1]), {}, {}).bodies);
    printSolids("step", solids);
    std::vector<int> solidOfFace;
    for (std::size_t s = 0; s < solids.size(); ++s) {
        for (TopExp_Explorer it(solids[s], TopAbs_FACE); it.More(); it.Next())
            solidOfFace.push_back(int(s));
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("flach.igs"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(qor::fixtures::igesLooseFaces(solids)) <= 0)
        return 1;
    file.close();
    const double beforeRead = cpuSeconds();
    const qor::io::ImportResult back = qor::io::readInThisProcess(path, {}, {});
    const double flatRead = cpuSeconds() - beforeRead;
    printSolids("flat iges", solidsOf(back.bodies));
    if (!back.warning.isEmpty())
        std::printf("warning: %s\n", back.warning.toUtf8().constData());
    // The program's read against the kernel's bare read of the faces and one sewing of them all.
    double resolution = 0.0;
    const double beforeBare = cpuSeconds();
    const std::vector<TopoDS_Face> faces = plainFaces(path, resolution);
    const double bareRead = cpuSeconds() - beforeBare;
    BRepBuilderAPI_Sewing sewing(resolution);
    for (const TopoDS_Face& face : faces)
        sewing.Add(face);
    sewing.Perform();
    std::printf("cpu: flat read %.3f s, bare read %.3f s, sewing %.3f s\n", flatRead, bareRead,
                cpuSeconds() - beforeBare - bareRead);
    if (!verbose)
        return 0;
    std::printf("faces: %zu of %zu written, resolution %g\n", faces.size(), solidOfFace.size(),
                resolution);
    if (faces.size() != solidOfFace.size())
        return 0;
    printMixedEdges(faces, solidOfFace, resolution);
    if (argc > 5) {
        Bnd_Box near;
        near.Add(gp_Pnt(std::atof(argv[3]), std::atof(argv[4]), std::atof(argv[5])));
        near.Enlarge(argc > 6 ? std::atof(argv[6]) : 0.01);
        printFacesNear(faces, solidOfFace, near);
    }
    const auto groups = qor::io::shellsOfSharedFaces(faces, resolution);
    for (std::size_t g = 0; g < groups.size(); ++g) {
        std::map<int, int> from;
        for (const int f : groups[g])
            ++from[solidOfFace[std::size_t(f)]];
        std::printf("shell %zu: %zu faces from", g, groups[g].size());
        for (const auto& [s, n] : from)
            std::printf(" solid %d x%d", s, n);
        std::printf("\n");
    }
    return 0;
}
