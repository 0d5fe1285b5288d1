#include "io/Import.h"
#include "io/NestingCheck.h"
#include "io/ReaderThread.h"
#include "tests/common/TempFiles.h"

#include "tests/common/Seeds.h"
#include "tests/fixtures/NestedFiles.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <stdexcept>
#include <thread>

using namespace qor;

using qor::test::writeFile;

namespace {

io::StepNesting stepNesting(QByteArray text)
{
    QBuffer buffer(&text);
    buffer.open(QIODevice::ReadOnly);
    return io::scanStepNesting(buffer, io::maxStepParens);
}

int jsonNesting(QByteArray text)
{
    QBuffer buffer(&text);
    buffer.open(QIODevice::ReadOnly);
    return io::scanJsonNesting(buffer, io::maxJsonNesting);
}

// Each level keeps a buffer of its own on the stack, so that the recursion needs about
// levels × 1 KB of stack: far more than a main thread's 8 MB for 100,000 levels.
int recurse(int levels)
{
    volatile char frame[1024];
    frame[0] = char(levels);
    frame[sizeof frame - 1] = 1;
    return levels == 0 ? 0 : recurse(levels - 1) + frame[sizeof frame - 1];
}

// A random STEP text whose nesting is known by construction: entities that name only later
// ones (so the longest chain is a longest path), records nested to a chosen depth, strings
// and comments full of the characters the scan looks for, and assembly usages placing
// products in one another. Printed in a shuffled order, with names from 1 upward or far
// apart, and behind a comment that makes a read chunk end at a random place.
struct RandomStep {
    QByteArray text;
    int parens = 0;
    std::int64_t chain = 0;
    std::uint64_t placements = 0;
};

RandomStep randomStep(std::mt19937& random, bool farApart)
{
    static const char* const noise[] = {"'a((#9'", "'b''(#8;'", "'/* x'", "'=);'", "''", "'#'"};
    const int count = 5 + int(random() % 60);
    const std::size_t size = std::size_t(count);
    std::vector<std::vector<int>> refs(size);
    std::vector<int> depth(size);
    std::vector<bool> usage(size, false);
    RandomStep out;
    std::vector<std::vector<std::size_t>> placed;
    std::map<int, std::size_t> product;
    const auto productNode = [&](int entity) {
        const auto [at, added] = product.emplace(entity, placed.size());
        if (added)
            placed.emplace_back();
        return at->second;
    };
    for (int e = 0; e < count; ++e) {
        depth[std::size_t(e)] = 1 + int(random() % 6);
        out.parens = std::max(out.parens, depth[std::size_t(e)]);
        if (e + 2 < count && random() % 5 == 0) {
            // An assembly usage: the assembly and the placed product, both later entities.
            usage[std::size_t(e)] = true;
            const int parent = e + 1 + int(random() % std::uint32_t(count - e - 1));
            int child = e + 1 + int(random() % std::uint32_t(count - e - 1));
            if (child == parent)
                child = parent == count - 1 ? parent - 1 : parent + 1;
            refs[std::size_t(e)] = {parent, child};
            const std::size_t assembly = productNode(parent);
            const std::size_t part = productNode(child);
            placed[assembly].push_back(part);
            continue;
        }
        for (int r = int(random() % 4); r > 0 && e + 1 < count; --r)
            refs[std::size_t(e)].push_back(e + 1 + int(random() % std::uint32_t(count - e - 1)));
    }
    std::vector<std::int64_t> longest(size, 1);
    for (std::size_t e = size; e-- > 0;) {
        for (const int r : refs[e])
            longest[e] = std::max(longest[e], longest[std::size_t(r)] + 1);
        out.chain = std::max(out.chain, longest[e]);
    }
    out.placements = placed.empty() ? 0 : io::placedCount(placed);

    std::vector<std::uint64_t> names(size);
    for (int e = 0; e < count; ++e)
        names[std::size_t(e)]
            = farApart ? 1000003ULL * std::uint64_t(e + 1) + random() % 1000 : std::uint64_t(e + 1);
    std::vector<int> order(size);
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), random);
    out.text = "/*" + QByteArray((1 << 20) - 200 + int(random() % 400), ' ') + "*/";
    for (const int e : order) {
        QByteArray record;
        for (const int r : refs[std::size_t(e)])
            record += "#" + QByteArray::number(names[std::size_t(r)]) + ",";
        record += noise[random() % std::size(noise)];
        for (int d = 1; d < depth[std::size_t(e)]; ++d)
            record = "(" + record + ")";
        const QByteArray type
            = usage[std::size_t(e)] ? "NEXT_ASSEMBLY_USAGE_OCCURRENCE" : "SHAPE_ASPECT";
        out.text
            += "#" + QByteArray::number(names[std::size_t(e)]) + " = " + type + "(" + record + ");";
        if (random() % 4 == 0)
            out.text += " /* #7=X((#8)); ' */\n";
    }
    return out;
}
} // namespace

TEST(ReaderNesting, StepScanCountsParenthesesAndReferenceChains)
{
    // A "#123" that a read chunk of 1 MB cuts in two still counts as one reference.
    QByteArray straddling("#1=A(");
    straddling.append(QByteArray((1 << 20) - straddling.size() - 3, ' '));
    straddling.append("#123456);#123456=B(#7);#7=C();");
    struct Case {
        const char* name;
        QByteArray text;
        int parens;
        std::int64_t chain;
    };
    const Case cases[] = {
        {"one point", fixtures::stepFile("#1=CARTESIAN_POINT('',(0.,0.,0.));\n"), 2, 1},
        {"strings hide parentheses, references and quotes",
         "#1=PRODUCT('a((#9','b''(#8',#2);#2=X();", 1, 2},
        {"comments hide them too", "/* ((( #5=A(#6); */ #1=A(#2); #2=B(#3); #3=C();", 1, 3},
        {"complex entity", "#1=(A(#2)B(('x')));#2=C();", 3, 2},
        {"longest of several paths", "#1=A(#2,#3);#2=B(#4);#3=C(#2);#4=D();", 1, 4},
        {"a circle ends where it closes", "#1=A(#2);#2=A(#3);#3=A(#1);", 1, 3},
        {"a name no entity carries", "#1=A(#7);", 1, 1},
        {"ids out of order", "#30=A(#20);#10=B();#20=C(#10);", 1, 3},
        {"a name carried twice means its first entity", "#1=A(#2);#2=B(#3);#3=C();#2=D();", 1, 3},
        {"the same with names far apart",
         "#100000=A(#200000);#200000=B(#300000);#300000=C();#200000=D();", 1, 3},
        {"chain across a chunk", straddling, 1, 3},
        {"generated chain", fixtures::stepReferenceChain(999), 2, 1000},
        {"generated parentheses", fixtures::stepNestedParens(200), 201, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const io::StepNesting nesting = stepNesting(c.text);
        EXPECT_EQ(nesting.deepestParens, c.parens);
        EXPECT_EQ(nesting.longestChain, c.chain);
    }
    // Past the limit the scan stops without counting chains.
    const io::StepNesting deep = stepNesting(fixtures::stepNestedParens(100000));
    EXPECT_EQ(deep.deepestParens, io::maxStepParens + 1);
}

// Random files of known nesting give their depth, chain and placements whether their names
// are numbered from 1 (looked up in a table) or far apart (searched), whatever the strings
// and comments hold and wherever a read chunk ends.
TEST(ReaderNesting, StepScanOfRandomFilesFindsWhatTheyHold)
{
    std::mt19937 random(qor::test::seed(4711));
    for (int round = 0; round < 60; ++round) {
        const bool farApart = round % 2 == 1;
        SCOPED_TRACE(testing::Message() << "round " << round);
        const RandomStep file = randomStep(random, farApart);
        const io::StepNesting nesting = stepNesting(file.text);
        EXPECT_EQ(nesting.deepestParens, file.parens);
        EXPECT_EQ(nesting.longestChain, file.chain);
        EXPECT_EQ(nesting.placements, file.placements);
    }
}

TEST(ReaderNesting, JsonScanCountsArraysAndObjectsOutsideStrings)
{
    const std::pair<QByteArray, int> cases[] = {
        {"{}", 1},
        {R"({"a":[{}],"b":[]})", 3},
        {R"(["[[[{{", 1])", 1},
        {R"(["\"[[", [2]])", 2},
        {R"(["\\", [[3]]])", 3},
        {fixtures::gltfNestedArrays(40), 41},
    };
    for (const auto& [text, depth] : cases)
        EXPECT_EQ(jsonNesting(text), depth) << text.left(60).toStdString();
    EXPECT_EQ(jsonNesting(fixtures::gltfNestedArrays(150000)), io::maxJsonNesting + 1);
}

// Files that once ended the process in the kernel's recursion end in one German line; the
// same kinds nested within the limits reach the kernel, which reads them on the reader
// thread's stack.
TEST(ReaderNesting, DeeplyNestedFilesAreRefusedWithOneLine)
{
    struct Case {
        const char* name;
        QByteArray bytes;
        QString error;
    };
    const Case cases[] = {
        {"klammern.step", fixtures::stepNestedParens(100000),
         QStringLiteral("Fehler beim Lesen: STEP-Datei ist zu tief verschachtelt (mehr als 256 "
                        "Klammerebenen)")},
        {"kette.step", fixtures::stepReferenceChain(300000),
         QStringLiteral("Fehler beim Lesen: STEP-Datei enthält eine Kette von 300.001 aufeinander "
                        "verweisenden Einträgen (höchstens 20.000 werden gelesen)")},
        {"verschachtelt.gltf", fixtures::gltfNestedArrays(150000),
         QStringLiteral("Fehler beim Lesen: glTF-Datei ist zu tief verschachtelt (mehr als 512 "
                        "Ebenen)")},
        {"verschachtelt.glb", fixtures::glbNestedArrays(150000),
         QStringLiteral("Fehler beim Lesen: glTF-Datei ist zu tief verschachtelt (mehr als 512 "
                        "Ebenen)")},
        // Within the limits: the kernel reads them and finds nothing to transfer.
        {"kette-20000.step", fixtures::stepReferenceChain(19999),
         QStringLiteral("STEP-Daten konnten nicht übertragen werden")},
        {"klammern-250.step", fixtures::stepNestedParens(250),
         QStringLiteral("STEP-Daten konnten nicht übertragen werden")},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const io::ImportResult result
            = io::importFile(writeFile(dir, QString::fromLatin1(c.name), c.bytes), {});
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(result.bodies.empty());
        EXPECT_EQ(result.error.toStdString(), c.error.toStdString());
    }
}

TEST(ReaderThread, CarriesRecursionBeyondAMainThreadStack)
{
    int levels = 0;
    io::runOnReaderThread([&levels] { levels = recurse(100000); });
    EXPECT_EQ(levels, 100000);

    // An exception of the work reaches the caller.
    EXPECT_THROW(io::runOnReaderThread([] { throw std::runtime_error("Lesefehler"); }),
                 std::runtime_error);
}

// While the work runs, the caller's thread is called back again and again, never from the
// reader thread. The work lasts until the third call (or half a minute, should none come):
// on a busy machine the caller may be run late, which is no fault.
TEST(ReaderThread, CallsTheCallerBackOnItsOwnThreadWhileWorking)
{
    const auto caller = std::this_thread::get_id();
    std::atomic<int> calls = 0;
    bool onCaller = true;
    std::thread::id reader;
    io::runOnReaderThread(
        [&reader, &calls] {
            reader = std::this_thread::get_id();
            for (int waited = 0; calls < 3 && waited < 600; ++waited)
                QThread::msleep(50);
        },
        [&] {
            ++calls;
            onCaller = onCaller && std::this_thread::get_id() == caller;
        });
    EXPECT_NE(reader, caller);
    EXPECT_GE(calls, 3);
    EXPECT_TRUE(onCaller);
}

// Work the caller leaves runs to its end on its own, and what it throws then is dropped;
// work the caller waits for hands its exception on. The work waits for the caller's leave
// (or half a minute, should the caller be run late), so no case depends on timing.
TEST(ReaderThread, LeftWorkRunsToItsEndOnItsOwn)
{
    const struct {
        const char* name;
        bool leave;
        bool throws;
    } cases[] = {{"left", true, false},
                 {"left, then throws", true, true},
                 {"waited for", false, false},
                 {"waited for, throws", false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        struct Shared {
            std::atomic<bool> left = false;
            std::atomic<bool> ended = false;
        };
        const auto shared = std::make_shared<Shared>();
        const bool leave = c.leave;
        const bool throws = c.throws;
        bool finished = false;
        const auto run = [&] {
            finished = io::runOnReaderThreadUnlessLeft(
                [shared, leave, throws] {
                    for (int waited = 0; leave && !shared->left && waited < 600; ++waited)
                        QThread::msleep(50);
                    shared->ended = true;
                    if (throws)
                        throw std::runtime_error("Lesefehler");
                },
                {},
                [shared, leave] {
                    shared->left = leave;
                    return leave;
                });
        };
        if (c.throws && !c.leave) {
            EXPECT_THROW(run(), std::runtime_error);
        } else {
            EXPECT_NO_THROW(run());
            EXPECT_EQ(finished, !c.leave);
        }
        for (int waited = 0; !shared->ended && waited < 600; ++waited)
            QThread::msleep(50);
        EXPECT_TRUE(shared->ended);
    }
}

// Sleeping costs no processor time, so a reader waiting for a busy machine keeps its
// budget; spinning does. The clock is read from another thread than the one it counts.
TEST(ReaderThread, CpuClockCountsOnlyTheThreadsOwnWork)
{
    std::atomic<qint64> sleptMs = -1;
    std::atomic<bool> spun = false;
    std::atomic<bool> read = false;
    std::atomic<const io::ThreadCpuClock*> spinner = nullptr;
    std::thread sleeper([&] {
        const io::ThreadCpuClock clock;
        QThread::msleep(300);
        sleptMs = clock.elapsedMs();
    });
    std::thread worker([&] {
        const io::ThreadCpuClock clock;
        spinner = &clock;
        volatile double sink = 0;
        while (clock.elapsedMs() < 150)
            sink = sink + 1.0;
        spun = true;
        while (!read)
            QThread::msleep(1);
    });
    while (!spun)
        QThread::msleep(5);
    const qint64 spunMs = spinner.load()->elapsedMs();
    read = true;
    worker.join();
    sleeper.join();
    EXPECT_GE(spunMs, 150);
    EXPECT_LT(sleptMs, 50);
}

// Progress reaches the caller on its own thread; a cancellation that says yes ends the read
// with the reader's message instead of its bodies.
TEST(ReaderThread, ImportReportsOnTheCallersThreadAndCanBeCancelled)
{
    QTemporaryDir dir;
    const QString chain
        = writeFile(dir, QStringLiteral("kette.step"), fixtures::stepReferenceChain(19999));
    const auto caller = std::this_thread::get_id();
    bool onCaller = true;
    int reports = 0;
    const io::ImportResult read = io::importFile(chain, [&](int percent, const QString&) {
        ++reports;
        onCaller = onCaller && std::this_thread::get_id() == caller;
        EXPECT_GE(percent, 0);
        EXPECT_LE(percent, 100);
    });
    EXPECT_GE(reports, 1);
    EXPECT_TRUE(onCaller);
    EXPECT_EQ(read.error, QStringLiteral("STEP-Daten konnten nicht übertragen werden"));

    int asked = 0;
    const io::ImportResult cancelled = io::importFile(chain, {}, [&asked] {
        ++asked;
        return true;
    });
    EXPECT_GE(asked, 1);
    EXPECT_FALSE(cancelled.ok);
    EXPECT_EQ(cancelled.error, io::readCancelledMessage());
}
