// Exports one file through every mesh format and reads each file back with the
// tests' own readers. Prints one tab-separated line:
//   file, bodies, then per format (STL, OBJ, PLY, GLB, 3MF): open edges the file
//   holds by position (corners joined within 0.001 mm, and only where their
//   coordinates are equal), open edges the note names, export CPU ms; then the notes,
//   "|" between formats.
// scripts/mesh-sweep.sh runs it over KiCad's inductor and transformer models.

#include "io/Export.h"
#include "io/Import.h"
#include "io/KernelMessage.h"
#include "tests/fixtures/MeshSoup.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>

namespace {

double cpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 + usage.ru_stime.tv_sec * 1e3
           + usage.ru_stime.tv_usec / 1e3;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qor::io::keepOnlyKernelFailures();
    if (argc < 2) {
        std::fprintf(stderr, "usage: MeshSweep FILE\n");
        return 2;
    }
    const QString input = QString::fromLocal8Bit(argv[1]);
    const qor::io::ImportResult imported = qor::io::importFile(input, {});
    QTemporaryDir dir;
    QStringList notes;
    std::printf("%s\t%zu", argv[1], imported.bodies.size());
    for (const char* suffix : {"stl", "obj", "ply", "glb", "3mf"}) {
        // Fresh shapes for each format: a mesh left on them would be kept.
        const qor::io::ImportResult fresh = qor::io::importFile(input, {});
        std::vector<qor::io::ExportBody> bodies;
        for (const qor::io::ImportedBody& body : fresh.bodies)
            bodies.push_back({body.name, body.shape, body.r, body.g, body.b});
        const QString path = dir.filePath(QStringLiteral("mesh.") + suffix);
        QString note;
        QString error;
        const double before = cpuMs();
        const bool written
            = !bodies.empty()
              && qor::io::exportFile(path, bodies, qor::io::ExportOptions(), &error, &note);
        const double spent = cpuMs() - before;
        const qor::fixtures::Soup soup = qor::fixtures::soupOfFile(path);
        const int open = written ? qor::fixtures::openEdges(soup) : -1;
        const int exact = written ? qor::fixtures::openEdges(soup, 0.0) : -1;
        static const QRegularExpression named(QStringLiteral("hat (\\d+) offene Kanten?,"));
        int noted = 0;
        for (auto it = named.globalMatch(note); it.hasNext();)
            noted += it.next().captured(1).toInt();
        std::printf("\t%d\t%d\t%d\t%.0f", open, exact, noted, spent);
        notes << QString::fromLatin1(suffix) + QLatin1Char('=') + (written ? note : error);
    }
    std::printf("\t%s\n", notes.join(QLatin1Char('|')).toUtf8().constData());
    return 0;
}
