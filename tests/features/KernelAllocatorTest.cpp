#include "io/KernelAllocator.h"
#include "model/Document.h"
#include "model/ExecContext.h"
#include "tests/common/ChildGuard.h"
#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/MixedHistory.h"

#include <Standard.hxx>

#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <malloc.h>

using namespace qor::model;

namespace {

constexpr char childKey[] = "QOR_ALLOCATOR_CHILD";

// Whether the kernel's allocations bypass the system's heap: a few hundred
// blocks from the pool leave the heap's count of bytes in use as it was.
bool kernelAllocatesFromItsPool()
{
    constexpr std::size_t size = 1024;
    std::array<void*, 256> blocks{};
    const std::size_t before = mallinfo2().uordblks;
    for (void*& block : blocks)
        block = Standard::Allocate(size);
    const std::size_t grown = mallinfo2().uordblks - before;
    for (void* block : blocks)
        Standard::Free(block);
    return grown < blocks.size() * size / 2;
}

// The child's output: which allocator it ran with, then per feature of two
// random histories its error and warning and the bodies after it.
std::string runChild(const QString& allocator)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(childKey), allocator);
    environment.remove(QString::fromLatin1(qor::io::kernelAllocatorKey));
    if (allocator != QLatin1String("choose"))
        environment.insert(QString::fromLatin1(qor::io::kernelAllocatorKey), allocator);
    QProcess child;
    child.setProcessEnvironment(environment);
    child.start(QStringLiteral("/proc/self/exe"),
                {QStringLiteral("--gtest_filter=KernelAllocatorChild.*")});
    if (!child.waitForFinished(qor::test::childGuardMs) || child.exitCode() != 0)
        return "child failed: " + child.readAllStandardError().toStdString();
    const QByteArray out = child.readAllStandardOutput();
    const qsizetype from = out.indexOf("allocator ");
    const qsizetype to = out.indexOf("end of digest");
    return from < 0 || to < from ? "no digest" : out.mid(from, to - from).toStdString();
}

} // namespace

// The child half of the test below; it runs only there.
TEST(KernelAllocatorChild, PrintsTheRecomputedHistories)
{
    const QByteArray mode = qgetenv(childKey);
    if (mode.isEmpty())
        GTEST_SKIP() << "runs inside KernelAllocator.HistoriesRecomputeAlikeWithThePool";
    // As main does it: the process starts again with the pooled allocator.
    if (mode == "choose") {
        char program[] = "/proc/self/exe";
        char filter[] = "--gtest_filter=KernelAllocatorChild.*";
        char* const argv[] = {program, filter, nullptr};
        qor::io::usePooledKernelAllocator(argv);
    }
    std::printf("allocator %s\n", kernelAllocatesFromItsPool() ? "pooled" : "system");
    for (const unsigned seed : {11u, 5043u}) {
        Document doc;
        qor::fixtures::MixedHistory(seed).build(doc, 50);
        doc.recompute();
        for (std::size_t i = 0; i < doc.features.size(); ++i) {
            const Feature& f = *doc.features[i];
            std::printf("%u/%zu %s [%s] [%s]\n", seed, i, qPrintable(f.type), qPrintable(f.error),
                        qPrintable(f.warning));
            const ModelState& after
                = i + 1 < doc.features.size() ? doc.stateBefore(i + 1) : doc.current;
            for (const auto& [id, body] : after.bodies)
                std::printf("  %d %.9g %d\n", id, shapeVolume(body.shape),
                            qor::test::countOf(body.shape, TopAbs_FACE));
        }
    }
    std::printf("end of digest\n");
}

// The program window chooses the kernel's pooled allocator first thing in
// main; random histories recompute with it exactly as with the system's heap.
TEST(KernelAllocator, HistoriesRecomputeAlikeWithThePool)
{
    const std::string pooled = runChild(QStringLiteral("2"));
    const std::string system = runChild(QStringLiteral("0"));
    const std::string chosen = runChild(QStringLiteral("choose"));
    ASSERT_EQ(pooled.rfind("allocator pooled\n", 0), 0u) << pooled.substr(0, 200);
    ASSERT_EQ(system.rfind("allocator system\n", 0), 0u) << system.substr(0, 200);
    ASSERT_EQ(chosen.rfind("allocator pooled\n", 0), 0u) << chosen.substr(0, 200);
    EXPECT_GT(pooled.size(), 2000u);
    EXPECT_EQ(pooled.substr(pooled.find('\n')), system.substr(system.find('\n')));
    EXPECT_EQ(pooled, chosen);
}
