#include "io/Import.h"
#include "io/ReaderProcess.h"
#include "io/ReaderServer.h"
#include "tests/common/ShapeChecks.h"
#include "tests/common/TempFiles.h"
#include "tests/io/IoTestSupport.h"

#include "tests/common/CpuTime.h"
#include "tests/fixtures/HostileAssemblies.h"
#include "tests/fixtures/NestedFiles.h"
#include "tests/fixtures/XcafModel.h"
#include "tests/fixtures/XtDamagedFixtures.h"
#include "tests/common/Seeds.h"

#include <BRepMesh_IncrementalMesh.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRep_Builder.hxx>
#include <TopoDS_Compound.hxx>

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include <signal.h>
#include <unistd.h>

using namespace qor;

using qor::test::writeFile;

namespace {

io::ImportResult readBy(io::ReaderStart start, const QString& path)
{
    io::ImportResult result;
    io::readInReaderProcess(io::readerProgram(), path, {}, {}, result, start);
    return result;
}

// Two reads of one file hand back the same: the line, notes, names, colours, and shapes
// measured and byte for byte in the kernel's binary form.
void expectSameResult(const io::ImportResult& served, const io::ImportResult& fresh)
{
    EXPECT_EQ(served.ok, fresh.ok);
    EXPECT_EQ(served.error.toStdString(), fresh.error.toStdString());
    EXPECT_EQ(served.warning.toStdString(), fresh.warning.toStdString());
    EXPECT_EQ(served.notes, fresh.notes);
    EXPECT_EQ(served.format, fresh.format);
    EXPECT_EQ(served.meshBodies, fresh.meshBodies);
    ASSERT_EQ(served.bodies.size(), fresh.bodies.size());
    for (std::size_t i = 0; i < served.bodies.size(); ++i) {
        const io::ImportedBody& a = served.bodies[i];
        const io::ImportedBody& b = fresh.bodies[i];
        EXPECT_EQ(a.name.toStdString(), b.name.toStdString()) << i;
        EXPECT_EQ(a.hasColor, b.hasColor) << i;
        EXPECT_EQ(a.r, b.r) << i;
        EXPECT_EQ(a.g, b.g) << i;
        EXPECT_EQ(a.b, b.b) << i;
        EXPECT_EQ(test::countOf(a.shape, TopAbs_FACE), test::countOf(b.shape, TopAbs_FACE)) << i;
        EXPECT_EQ(test::volumeOf(a.shape), test::volumeOf(b.shape)) << i;
    }
    EXPECT_TRUE(io::encodeResult(served, io::ReadStop::none)
                == io::encodeResult(fresh, io::ReadStop::none));
}

// A read through the server hands back what a reader started afresh does.
void expectSameRead(const QString& path)
{
    SCOPED_TRACE(path.toStdString());
    expectSameResult(readBy(io::ReaderStart::served, path), readBy(io::ReaderStart::fresh, path));
}

// The running server's environment. The system hands it out only once the server's program
// has been loaded, which may be a moment after its start returned.
QList<QByteArray> serverEnvironment()
{
    QElapsedTimer clock;
    clock.start();
    QByteArray entries;
    while (entries.isEmpty() && clock.elapsed() < 5000) {
        QFile file(QStringLiteral("/proc/%1/environ").arg(io::readerServerPid()));
        if (file.open(QIODevice::ReadOnly))
            entries = file.readAll();
        if (entries.isEmpty())
            QThread::msleep(10);
    }
    return entries.split('\0');
}

// The real files at hand that the program imports.
QStringList readerFiles()
{
    QStringList paths;
    QDirIterator it(QStringLiteral(QOR_READER_FILES), QDir::Files);
    while (it.hasNext()) {
        const QString path = it.next();
        if (io::isImportable(path))
            paths.append(path);
    }
    return paths;
}

// Parts of random size, place, name and colour, some sharing one shape, written in the
// format the suffix names.
QString randomModelFile(const QTemporaryDir& dir, std::mt19937& random, int index)
{
    static const char* const suffixes[] = {"step", "igs", "glb", "obj", "brep", "stl"};
    std::uniform_real_distribution<double> size(0.5, 40.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    test::XcafModel model;
    const int parts = 1 + int(random() % 4);
    TopoDS_Shape shared;
    for (int p = 0; p < parts; ++p) {
        gp_Trsf place;
        place.SetTranslation(gp_Vec(100.0 * p, size(random), -size(random)));
        TopoDS_Shape shape;
        if (p > 0 && random() % 3 == 0)
            shape = shared.Moved(TopLoc_Location(place));
        else if (random() % 2 == 0)
            shape = BRepPrimAPI_MakeBox(size(random), size(random), size(random)).Shape();
        else
            shape = BRepPrimAPI_MakeCylinder(size(random) / 2, size(random)).Shape();
        if (shared.IsNull()) {
            BRepMesh_IncrementalMesh(shape, 0.1);
            shared = shape;
        }
        BRepMesh_IncrementalMesh(shape, 0.1);
        const QByteArray name = QStringLiteral("Teil Ä%1-%2").arg(index).arg(p).toUtf8();
        const TDF_Label label
            = model.addPart(shape.Moved(TopLoc_Location(place)), name.constData());
        if (random() % 3 != 0) {
            model.colors->SetColor(label, test::srgb(unit(random), unit(random), unit(random)),
                                   XCAFDoc_ColorSurf);
        }
    }
    const QString path = dir.filePath(
        QStringLiteral("zufall%1.%2").arg(index).arg(QString::fromLatin1(suffixes[random() % 6])));
    EXPECT_TRUE(model.write(path)) << path.toStdString();
    return path;
}

// Real STEP files of every size band below a few megabytes, the same ones on every run.
QStringList kicadSample()
{
    QStringList files;
    QDirIterator it(QStringLiteral(QOR_KICAD_MODELS), {QStringLiteral("*.step")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    files.sort();
    QStringList sample;
    for (const qint64 limit : {20'000, 200'000, 2'000'000}) {
        for (const QString& file : files) {
            if (QFileInfo(file).size() > limit / 4 && QFileInfo(file).size() <= limit) {
                sample.append(file);
                break;
            }
        }
    }
    return sample;
}

// The processes whose parent is parent.
std::vector<pid_t> childrenOf(pid_t parent)
{
    std::vector<pid_t> children;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = pid_t(entry.toInt(&number));
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!number || !stat.open(QIODevice::ReadOnly))
            continue;
        // The name in parentheses may hold blanks; the state and the parent follow it.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toInt() == parent)
            children.push_back(pid);
    }
    return children;
}

// The reader reading for this process now: a child of its own, or the worker a keeper of
// the server started; -1 when there is none yet.
pid_t runningReader(io::ReaderStart start)
{
    const pid_t server = io::readerServerPid();
    if (start == io::ReaderStart::fresh) {
        for (const pid_t child : childrenOf(getpid())) {
            if (child != server)
                return child;
        }
        return -1;
    }
    for (const pid_t keeper : childrenOf(server)) {
        for (const pid_t worker : childrenOf(keeper))
            return worker;
    }
    return -1;
}

} // namespace

// A reader that someone else kills (a user, the system's shutdown) is said to be ended from
// outside, not taken for one that ran out of memory or time; the server lives on.
TEST(ReaderServer, AReaderKilledFromOutsideIsSaidSo)
{
    io::startReaderServer(io::readerProgram());
    const pid_t server = io::readerServerPid();
    ASSERT_GT(server, 0);
    QTemporaryDir dir;
    const QString slow
        = writeFile(dir, QStringLiteral("gross.step"), fixtures::stepLoosePoints(400000));
    for (const io::ReaderStart start : {io::ReaderStart::served, io::ReaderStart::fresh}) {
        SCOPED_TRACE(int(start));
        pid_t killed = -1;
        io::ImportResult result;
        io::readInReaderProcess(
            io::readerProgram(), slow, {},
            [&] {
                if (killed < 0 && (killed = runningReader(start)) > 0)
                    ::kill(killed, SIGKILL);
                return false;
            },
            result, start);
        EXPECT_GT(killed, 0);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error.toStdString(),
                  "„gross.step“ ließ sich nicht lesen: der Leseprozess wurde von außen beendet");
    }
    EXPECT_EQ(io::readerServerPid(), server);
}

// Generated files of every format, with names, colours, shared parts and notes, refusals and
// a crash: the server's reader gives what a fresh one gives.
TEST(ReaderServer, GeneratedFilesReadAsByAFreshReader)
{
    QTemporaryDir dir;
    QStringList paths;
    test::TwoBodyModel model;
    for (const char* suffix : {"step", "igs", "glb", "gltf", "obj", "stl", "brep"}) {
        const QString path = dir.filePath(QStringLiteral("zwei.") + QString::fromLatin1(suffix));
        ASSERT_TRUE(model.write(path)) << suffix;
        paths.append(path);
    }
    std::mt19937 random(qor::test::seed(47));
    for (int i = 0; i < 6; ++i)
        paths.append(randomModelFile(dir, random, i));
    BRep_Builder builder;
    TopoDS_Compound pair;
    builder.MakeCompound(pair);
    builder.Add(pair, BRepPrimAPI_MakeBox(0.01, 0.01, 0.01).Shape());
    builder.Add(pair, BRepPrimAPI_MakeBox(gp_Pnt(0.05, 0, 0), 0.01, 0.01, 0.01).Shape());
    paths.append(writeFile(dir, QStringLiteral("beschaedigt.x_b"),
                           fixtures::xtShapeWithReal(pair, fixtures::XtRealKind::PlaneNormal,
                                                     std::nan(""))));
    paths.append(writeFile(dir, QStringLiteral("acht.step"), fixtures::stepDoublingAssembly(3)));
    paths.append(writeFile(dir, QStringLiteral("acht.igs"), fixtures::igesDoublingSubfigures(3)));
    paths.append(writeFile(dir, QStringLiteral("acht.gltf"), fixtures::gltfDoublingNodes(3)));
    paths.append(writeFile(dir, QStringLiteral("selbst.step"), fixtures::stepSelfPlacedAssembly()));
    paths.append(
        writeFile(dir, QStringLiteral("verdoppelt.step"), fixtures::stepDoublingAssembly(40)));
    paths.append(writeFile(dir, QStringLiteral("tief.step"), fixtures::stepReferenceChain(30000)));
    for (const QString& path : paths)
        expectSameRead(path);
}

// The real files at hand, and a KiCad sample of small to large STEP models.
TEST(ReaderServer, RealFilesReadAsByAFreshReader)
{
    QStringList paths = readerFiles();
    paths.append(kicadSample());
    if (paths.isEmpty())
        GTEST_SKIP() << "no real files here";
    paths.sort();
    for (const QString& path : paths)
        expectSameRead(path);
}

// Readers run with the kernel's pooled allocator unless the environment names one: the
// server's readers read generated files of every format and the real files as readers with
// the system's allocator do.
TEST(ReaderServer, ReadersWithThePooledAllocatorReadAsWithTheSystemsOne)
{
    if (qEnvironmentVariableIsSet("MMGT_OPT"))
        GTEST_SKIP() << "the environment chooses the kernel's allocator";
    io::startReaderServer(io::readerProgram());
    ASSERT_TRUE(serverEnvironment().contains("MMGT_OPT=2"));

    QTemporaryDir dir;
    QStringList paths = readerFiles();
    paths.append(kicadSample());
    std::mt19937 random(qor::test::seed(4711));
    for (int i = 0; i < 8; ++i)
        paths.append(randomModelFile(dir, random, i));
    for (const QString& path : paths) {
        SCOPED_TRACE(path.toStdString());
        const io::ImportResult pooled = readBy(io::ReaderStart::served, path);
        qputenv("MMGT_OPT", "0");
        const io::ImportResult system = readBy(io::ReaderStart::fresh, path);
        qunsetenv("MMGT_OPT");
        expectSameResult(pooled, system);
    }
}

// The server started in one folder reads a file named relative to the folder the program is
// in now.
TEST(ReaderServer, RelativePathsMeanTheCallersFolder)
{
    io::startReaderServer(io::readerProgram());
    QTemporaryDir dir;
    test::TwoBodyModel model;
    ASSERT_TRUE(model.write(dir.filePath(QStringLiteral("zwei.step"))));
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    const io::ImportResult served = readBy(io::ReaderStart::served, QStringLiteral("zwei.step"));
    QDir::setCurrent(before);
    ASSERT_TRUE(served.ok) << served.error.toStdString();
    EXPECT_EQ(served.bodies.size(), 2u);
}

// A worker that crashes ends alone: the server stays, one thread that forks the next
// worker, and the next read is sound. "Abbrechen" ends a served worker at once.
TEST(ReaderServer, OutlivesItsWorkersAndEndsThemWhenCancelled)
{
    io::startReaderServer(io::readerProgram());
    const pid_t server = io::readerServerPid();
    ASSERT_GT(server, 0);
    QTemporaryDir dir;
    const QString crash
        = writeFile(dir, QStringLiteral("selbst.step"), fixtures::stepSelfPlacedAssembly());
    const QString sound = writeFile(dir, QStringLiteral("quader.step"), fixtures::stepOneBox());
    for (int round = 0; round < 2; ++round) {
        const io::ImportResult crashed = io::importFile(crash, {});
        EXPECT_TRUE(crashed.error.contains(QStringLiteral("der Leseprozess wurde beendet")))
            << crashed.error.toStdString();
        const io::ImportResult read = io::importFile(sound, {});
        EXPECT_TRUE(read.ok) << read.error.toStdString();
        EXPECT_EQ(read.bodies.size(), 1u);
    }
    EXPECT_EQ(io::readerServerPid(), server);
    EXPECT_EQ(QDir(QStringLiteral("/proc/%1/task").arg(server))
                  .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                  .size(),
              1);

    const QString slow
        = writeFile(dir, QStringLiteral("gross.step"), fixtures::stepLoosePoints(400000));
    // Cancelled half a second in. The whole read costs over two seconds of processor time;
    // ended at once, the worker has had half a second of it at most, however busy the machine.
    QElapsedTimer clock;
    clock.start();
    const double before = test::workCpuSeconds();
    const io::ImportResult cancelled
        = io::importFile(slow, {}, [&] { return clock.elapsed() >= 500; });
    const double work = test::workCpuSeconds() - before;
    EXPECT_FALSE(cancelled.ok);
    EXPECT_EQ(cancelled.error, io::readerProcessStopMessage(slow, io::ReadStop::cancelled));
    EXPECT_LT(work, 1.5);
    EXPECT_EQ(io::readerServerPid(), server);
}
