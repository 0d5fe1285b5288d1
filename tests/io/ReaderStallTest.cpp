#include "io/Import.h"
#include "io/ReaderProcess.h"
#include "tests/common/TempFiles.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace qor;

using qor::test::writeFile;

namespace {

// Limits far below the real ones, so that a stall shows within a second: a reader that
// works at a tenth of a core for three seconds outlasts the stall limit three times over.
io::ReaderLimits shortLimits()
{
    io::ReaderLimits limits;
    limits.cpuSeconds = 30;
    limits.stallMs = 1000;
    return limits;
}

// A file for the paced reader: its pace, then the answer it gives, which carries the
// warning as a token of the read.
QString pacedFile(const QTemporaryDir& dir, const QByteArray& pace)
{
    io::ImportResult sent;
    sent.ok = true;
    sent.warning = QStringLiteral("gelesen im Takt %1").arg(QString::fromLatin1(pace));
    return writeFile(dir, QStringLiteral("takt.step"),
                     pace + '\n' + io::encodeResult(sent, io::ReadStop::none));
}

io::ImportResult readPaced(const QString& path)
{
    io::ImportResult result;
    io::readInReaderProcess(QStringLiteral(QOR_PACED_READER), path, shortLimits(), {}, {}, result,
                            io::ReaderStart::fresh);
    return result;
}

struct StallCase {
    const char* pace;
    const char* what;
};

// A reader that sleeps or is stopped gains no processor time at all.
const StallCase stallCases[] = {
    {"sleeping 20000", "asleep"},
    {"stopped", "stopped by a signal"},
};

} // namespace

// On a busy machine a reader gets a core a tenth of the time: it reads on, however long
// that takes on the clock, and its answer arrives whole.
TEST(ReaderWatch, AReaderThatWaitsForACoreReadsOn)
{
    QTemporaryDir dir;
    for (const QByteArray pace : {QByteArray("slow 300 10"), QByteArray("slow 200 5")}) {
        SCOPED_TRACE(pace.toStdString());
        const io::ImportResult result = readPaced(pacedFile(dir, pace));
        EXPECT_TRUE(result.ok) << result.error.toStdString();
        EXPECT_EQ(result.warning.toStdString(), "gelesen im Takt " + pace.toStdString());
    }
}

// A reader that gains no processor time for the stall limit is ended, and the line says
// that it made no progress, not that it used up its processor time.
TEST(ReaderWatch, AReaderThatGainsNoProcessorTimeIsEndedAsStalled)
{
    QTemporaryDir dir;
    for (const StallCase& c : stallCases) {
        SCOPED_TRACE(c.what);
        const QString path = pacedFile(dir, c.pace);
        const io::ImportResult result = readPaced(path);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, io::readerStallMessage(path, shortLimits()));
        EXPECT_EQ(result.error.toStdString(), "„takt.step“ ließ sich nicht lesen: der Leseprozess "
                                              "kam 1 s lang nicht voran (keine Rechenzeit mehr) "
                                              "und wurde beendet");
    }
}

// The line of a reader ended at its processor limit names that limit.
TEST(ReaderWatch, TheProcessorLimitIsNamedAsSuch)
{
    const QString line
        = io::readerProcessStopMessage(QStringLiteral("/tmp/gross.step"), io::ReadStop::time);
    EXPECT_EQ(line.toStdString(), "„gross.step“ ließ sich nicht lesen: der Leseprozess "
                                  "überschritt die Grenze von 10 s Rechenzeit");
}

namespace {

// A file of the given size, its bytes never written (the budget looks at the size only).
QString fileOfSize(const QTemporaryDir& dir, const QString& name, qint64 bytes)
{
    QFile file(dir.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.resize(bytes));
    return file.fileName();
}

} // namespace

// The processor budget of a read covers, with room for a slower machine, what the kernel
// measurably needs for sound files the program writes itself: its IGES of a face of 101 x 101
// mm with 10,000 holes of radius 0.3 mm (7.4 MB) takes 148 s.
TEST(ReaderWatch, TheProcessorBudgetCoversTheProgramsOwnLargeFiles)
{
    const struct {
        const char* what;
        qint64 bytes;
        double neededSeconds;
    } cases[] = {
        {"IGES of a face with 10,000 holes", 7'400'000, 148.0},
        {"a small STEP file", 20'000, 2.0},
    };
    constexpr double slowerMachine = 1.5;
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = fileOfSize(dir, QStringLiteral("gross.igs"), c.bytes);
        EXPECT_GE(double(io::importBudgetMs(path)) / 1000.0, slowerMachine * c.neededSeconds);
        // The process limit lies beyond the budget the reader keeps itself.
        EXPECT_GT(double(io::readerLimits(path).cpuSeconds),
                  double(io::importBudgetMs(path)) / 1000.0);
    }
}
