// Exports one file through every format and judges the STEP file with a bare
// reader of its own. Prints one tab-separated line:
//   file, bodies, bare write CPU ms (median of three after one untimed), checked
//   export CPU ms (median of three runs, check workers included), identical runs (1/0), bodies the
//   fresh read finds changed, bodies the note names, changed but not named, named but not changed,
//   failed mesh formats (format=message, separated by "|"), bodies that may change in STEP and
//   so are read back.
// The three STEP runs are compared byte for byte except the header's time stamp;
// where they differ, the first differing line goes to stderr.
// scripts/export-sweep.sh runs it over a list of files.

#include "bench/BareStepWrite.h"
#include "io/ClosedVolume.h"
#include "io/Export.h"
#include "io/Import.h"
#include "io/KernelMessage.h"
#include "io/StepRoundTrip.h"
#include "tests/fixtures/BareStepVerdict.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <set>

namespace {

using qor::io::ExportBody;
using namespace qor::fixtures;

double cpuMs()
{
    double total = 0.0;
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        getrusage(who, &usage);
        total += usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3
                 + usage.ru_stime.tv_sec * 1e3 + usage.ru_stime.tv_usec / 1e3;
    }
    return total;
}

double timed(const std::function<void()>& work)
{
    const double before = cpuMs();
    work();
    return cpuMs() - before;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::size_t countMissing(const std::multiset<QString>& from, const std::multiset<QString>& in)
{
    std::multiset<QString> rest = from;
    for (const QString& label : in) {
        if (const auto it = rest.find(label); it != rest.end())
            rest.erase(it);
    }
    return rest.size();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qor::io::keepOnlyKernelFailures();
    if (argc < 2) {
        std::fprintf(stderr, "usage: ExportSweep FILE\n");
        return 2;
    }
    const QString input = QString::fromLocal8Bit(argv[1]);
    const qor::io::ImportResult imported = qor::io::importFile(input, {});
    std::vector<ExportBody> bodies;
    for (const qor::io::ImportedBody& body : imported.bodies)
        bodies.push_back({body.name, body.shape, body.r, body.g, body.b});
    if (bodies.empty()) {
        std::printf("%s\t0\n", argv[1]);
        return 0;
    }
    QTemporaryDir dir;
    // The first write also starts the kernel's data exchange: it is not timed.
    const QByteArray bareFile = QFile::encodeName(dir.filePath(QStringLiteral("bare.step")));
    qor::bench::bareStepWrite(bodies, bareFile);
    std::vector<double> bareRuns;
    for (int run = 0; run < 3; ++run)
        bareRuns.push_back(timed([&] { qor::bench::bareStepWrite(bodies, bareFile); }));
    std::sort(bareRuns.begin(), bareRuns.end());
    const double bare = bareRuns[1];
    std::vector<double> checked;
    QString note;
    QString error;
    bool identical = true;
    QByteArray first;
    for (int run = 0; run < 3; ++run) {
        const QString path = dir.filePath(QStringLiteral("run%1.step").arg(run));
        QString runNote;
        checked.push_back(timed([&] {
            qor::io::exportFile(path, bodies, qor::io::ExportOptions(), &error, &runNote);
        }));
        const QByteArray text = withoutTimeStamp(contents(path));
        // QOR_SWEEP_KEEP names a folder that receives the three files.
        if (qEnvironmentVariableIsSet("QOR_SWEEP_KEEP"))
            QFile::copy(path, QDir(qEnvironmentVariable("QOR_SWEEP_KEEP"))
                                  .filePath(QStringLiteral("run%1.step").arg(run)));
        if (run == 0) {
            first = text;
            note = runNote;
        } else {
            if (text != first || runNote != note) {
                identical = false;
                const QList<QByteArray> a = first.split('\n');
                const QList<QByteArray> b = text.split('\n');
                for (qsizetype k = 0; k < std::min(a.size(), b.size()); ++k) {
                    if (a[k] != b[k]) {
                        std::fprintf(stderr, "run %d differs at line %lld:\n%s\n%s\n", run,
                                     static_cast<long long>(k + 1), a[k].constData(),
                                     b[k].constData());
                        break;
                    }
                }
                if (runNote != note)
                    std::fprintf(stderr, "notes differ:\n%s\n%s\n", note.toUtf8().constData(),
                                 runNote.toUtf8().constData());
            }
        }
    }
    std::sort(checked.begin(), checked.end());
    const std::multiset<QString> changed
        = changedInFile(dir.filePath(QStringLiteral("run0.step")), bodies);
    const std::multiset<QString> named = namedInNote(note);
    QStringList meshFailures;
    if (!error.isEmpty())
        meshFailures << QStringLiteral("step=") + error;
    for (const char* suffix : {"stl", "obj", "ply", "glb", "3mf"}) {
        QString failure;
        if (!qor::io::exportFile(dir.filePath(QStringLiteral("mesh.") + suffix), bodies,
                                 qor::io::ExportOptions(), &failure))
            meshFailures << QString::fromLatin1(suffix) + QLatin1Char('=') + failure;
    }
    const auto readBack = std::count_if(bodies.begin(), bodies.end(), [](const ExportBody& body) {
        return qor::io::stepMayChange(body.shape);
    });
    std::printf("%s\t%zu\t%.0f\t%.0f\t%d\t%zu\t%zu\t%zu\t%zu\t%s\t%ld\n", argv[1], bodies.size(),
                bare, checked[1], identical ? 1 : 0, changed.size(), named.size(),
                countMissing(changed, named), countMissing(named, changed),
                meshFailures.join(QLatin1Char('|')).toUtf8().constData(), long(readBack));
    return 0;
}
