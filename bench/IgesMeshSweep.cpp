// Sends one file through the program's own IGES (read, write IGES, read that
// back) and writes the bodies read back in every mesh format. Each file is read
// back with the tests' own readers and its directed edges paired at exactly the
// coordinates written. Prints one tab-separated line:
//   file, bodies read back, then per format (STL, PLY, GLB, OBJ, 3MF) the directed
//   edges without a partner (-1: not written).
// scripts/iges-mesh-sweep.sh runs it over an even sample of KiCad's models.

#include "io/Export.h"
#include "io/Import.h"
#include "io/KernelMessage.h"
#include "tests/fixtures/MeshSoup.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qor::io::keepOnlyKernelFailures();
    if (argc < 2) {
        std::fprintf(stderr, "usage: IgesMeshSweep FILE\n");
        return 2;
    }
    QTemporaryDir dir;
    std::vector<qor::io::ExportBody> bodies;
    for (const qor::io::ImportedBody& body :
         qor::io::importFile(QString::fromLocal8Bit(argv[1]), {}).bodies)
        bodies.push_back({body.name, body.shape, body.r, body.g, body.b});
    const QString iges = dir.filePath(QStringLiteral("weg.igs"));
    std::vector<qor::io::ExportBody> back;
    if (!bodies.empty() && qor::io::exportFile(iges, bodies, qor::io::ExportOptions())) {
        for (const qor::io::ImportedBody& body : qor::io::importFile(iges, {}).bodies)
            back.push_back({body.name, body.shape, body.r, body.g, body.b});
    }
    std::printf("%s\t%zu", argv[1], back.size());
    for (const char* suffix : {"stl", "ply", "glb", "obj", "3mf"}) {
        const QString path = dir.filePath(QStringLiteral("netz.") + suffix);
        const bool written
            = !back.empty() && qor::io::exportFile(path, back, qor::io::ExportOptions());
        std::printf("\t%d", written ? qor::fixtures::unpairedDirectedEdges(
                                qor::fixtures::soupOfFile(path), 0.0)
                                    : -1);
    }
    std::printf("\n");
    return 0;
}
