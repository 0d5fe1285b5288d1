#include "io/SolidEdgeAssembly.h"

#include "tests/common/CpuTime.h"
#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/CompoundFileBuilder.h"
#include "tests/fixtures/SolidEdgeAssemblyFile.h"
#include "tests/fixtures/SpecialFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <sys/stat.h>
#include <unistd.h>

using qor::io::readSolidEdgeAssembly;
using qor::io::SolidEdgeOccurrence;
using namespace qor::test;

namespace {

using Matrix = SolidEdgeMatrix;
const QByteArray& gap = solidEdgeGap;

Matrix moved(double x, double y, double z)
{
    return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1};
}

Matrix quarterTurnAboutZ(double x, double y, double z)
{
    return {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, x, y, z, 1};
}

class SolidEdgeAssemblyTest : public ::testing::Test {
protected:
    QTemporaryDir dir;

    QString write(const QByteArray& bytes, const QString& name = "Baugruppe.asm")
    {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(writeFile(path, bytes));
        return path;
    }

    QString assembly(const QByteArray& attachments)
    {
        return write(solidEdgeAttachmentsFile(attachments));
    }
};

void expectPlacement(const SolidEdgeOccurrence& occurrence, const std::array<double, 12>& expected)
{
    for (int i = 0; i < 12; ++i)
        EXPECT_NEAR(occurrence.placement[i], expected[i], 1e-9) << "value " << i;
}

} // namespace

TEST_F(SolidEdgeAssemblyTest, PairsPathsMatricesAndOccurrenceNames)
{
    QByteArray stream = QByteArray(10, char(0xFF)) + utf16Bytes("C:\\Daten\\Block.PAR") + gap
                        + matrixBytes(moved(0.01, 0, 0.5)) + gap + utf16Bytes("Block.par:1")
                        + gap
                        // A second name after the same matrix gets nothing.
                        + utf16Bytes("Block.par:2") + gap
                        + utf16Bytes("/home/konstrukteur/Welle.psm") + gap
                        + matrixBytes(quarterTurnAboutZ(0.1, 0.2, -0.3))
                        // An odd offset for the next name.
                        + gap.left(1) + utf16Bytes("Welle.psm:7") + gap;
    // A mirror matrix passes; the last path still serves.
    Matrix mirrored = moved(0, 0, 0);
    mirrored[10] = -1;
    stream += matrixBytes(mirrored) + gap + utf16Bytes("Unter.asm:3");

    QString error = "unverändert";
    const auto occurrences = readSolidEdgeAssembly(assembly(stream), &error);
    EXPECT_EQ(error, "unverändert");
    ASSERT_EQ(occurrences.size(), 3u);
    const QString folder = QDir(dir.path()).absolutePath();

    EXPECT_EQ(occurrences[0].name, "Block.par:1");
    EXPECT_EQ(occurrences[0].storedPath, "C:\\Daten\\Block.PAR");
    EXPECT_EQ(occurrences[0].filePath, folder + "/Block.PAR");
    expectPlacement(occurrences[0], {1, 0, 0, 10, 0, 1, 0, 0, 0, 0, 1, 500});

    EXPECT_EQ(occurrences[1].name, "Welle.psm:7");
    EXPECT_EQ(occurrences[1].storedPath, "/home/konstrukteur/Welle.psm");
    EXPECT_EQ(occurrences[1].filePath, folder + "/Welle.psm");
    expectPlacement(occurrences[1], {0, -1, 0, 100, 1, 0, 0, 200, 0, 0, 1, -300});

    EXPECT_EQ(occurrences[2].name, "Unter.asm:3");
    EXPECT_EQ(occurrences[2].filePath, folder + "/Welle.psm");
    expectPlacement(occurrences[2], {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0});
}

TEST_F(SolidEdgeAssemblyTest, OccurrencesWithoutPathOrSoundMatrixAreLeftOut)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    Matrix skewed = moved(0, 0, 0);
    skewed[4] = 0.1;
    Matrix brokenRotation = moved(0, 0, 0);
    brokenRotation[5] = nan;
    const QByteArray path = utf16Bytes("\\Teile\\A.par") + gap;
    const std::pair<const char*, QByteArray> cases[] = {
        // A name before any path text, then a matrix that comes only after the
        // name it would have to serve, then a skewed matrix.
        {"order", matrixBytes(moved(0, 0, 0)) + gap + utf16Bytes("A.par:1") + gap + path
                      + utf16Bytes("A.par:2") + gap + matrixBytes(moved(0, 0, 0)) + gap
                      + matrixBytes(skewed) + gap + utf16Bytes("Teil.par") + gap
                      + utf16Bytes("A.par:x")},
        {"shorter than a matrix", path + utf16Bytes("A.par:1")},
        // Not a number in the translation, one that overflows in millimetres,
        // and a rotation with a value that is not a number.
        {"not finite", path + matrixBytes(moved(nan, 0, 0)) + gap + utf16Bytes("A.par:1") + gap
                           + matrixBytes(moved(0, 0, 1e306)) + gap + utf16Bytes("A.par:2") + gap
                           + matrixBytes(brokenRotation) + gap + utf16Bytes("A.par:3")},
    };
    for (const auto& [name, stream] : cases) {
        SCOPED_TRACE(name);
        QString error;
        EXPECT_TRUE(readSolidEdgeAssembly(assembly(stream), &error).empty());
        EXPECT_EQ(error, "Keine Bauteil-Vorkommen in der Baugruppe gefunden");
        // A sound occurrence after the rejected ones is still found.
        const auto occurrences = readSolidEdgeAssembly(
            assembly(stream + gap + matrixBytes(moved(0.002, 0, 0)) + gap + utf16Bytes("A.par:4")));
        ASSERT_EQ(occurrences.size(), 1u);
        EXPECT_EQ(occurrences[0].name, "A.par:4");
        expectPlacement(occurrences[0], {1, 0, 0, 2, 0, 1, 0, 0, 0, 0, 1, 0});
    }
}

TEST_F(SolidEdgeAssemblyTest, ReportsWhatIsMissing)
{
    QString error;
    EXPECT_TRUE(readSolidEdgeAssembly(dir.filePath("fehlt.asm"), &error).empty());
    EXPECT_FALSE(error.isEmpty());

    EXPECT_TRUE(readSolidEdgeAssembly(write("Nur Text\n", "text.asm"), &error).empty());
    EXPECT_EQ(error, "Kein OLE-Verbunddokument");

    // The list must be a top-level stream of exactly that name.
    CompoundFileBuilder nested;
    const int storage = nested.addStorage("Daten");
    nested.addStream("Attachments", QByteArray(200, 'x'), storage);
    nested.addStream("attachments", QByteArray(200, 'x'));
    EXPECT_TRUE(readSolidEdgeAssembly(write(nested.build()), &error).empty());
    EXPECT_EQ(error, "Die Baugruppe enthält keine Verknüpfungsliste");

    CompoundFileBuilder storageOnly;
    storageOnly.addStorage("Attachments");
    EXPECT_TRUE(readSolidEdgeAssembly(write(storageOnly.build()), &error).empty());
    EXPECT_EQ(error, "Keine Bauteil-Vorkommen in der Baugruppe gefunden");

    EXPECT_TRUE(readSolidEdgeAssembly(write(storageOnly.build()), nullptr).empty());
}

// An assembly path that names no ordinary file is refused before it is opened
// or read whole: a named pipe would block, the process files never end.
TEST_F(SolidEdgeAssemblyTest, PathsThatAreNoOrdinaryFilesAreRefusedBeforeReading)
{
    const auto at = [&](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
    ASSERT_TRUE(qor::test::makePipe(at("rohr.asm")));
    ASSERT_TRUE(qor::test::makeLink(at("seiten.asm"), QStringLiteral("/proc/self/pagemap")));
    ASSERT_TRUE(qor::test::makeLink(at("null.asm"), QStringLiteral("/dev/zero")));
    ASSERT_TRUE(qor::test::makeSparseFile(at("riesig.asm"), qint64(8) << 30));
    const std::pair<const char*, const char*> cases[] = {
        {"rohr.asm", "„rohr.asm“ ist eine benannte Pipe und wird nicht gelesen"},
        {"seiten.asm", "„seiten.asm“ liefert mehr Daten, als seine Größe angibt, und wird nicht "
                       "gelesen"},
        {"null.asm", "„null.asm“ ist eine Gerätedatei und wird nicht gelesen"},
        {"riesig.asm", "„riesig.asm“ ist mit 8,6 GB zu groß (höchstens 1,0 GB)"},
        {"fehlt.asm", "Datei nicht gefunden: „fehlt.asm“"},
    };
    for (const auto& [name, text] : cases) {
        SCOPED_TRACE(name);
        const double before = qor::test::cpuSeconds();
        QString error;
        EXPECT_TRUE(readSolidEdgeAssembly(at(name), &error).empty());
        EXPECT_EQ(error, QString::fromUtf8(text));
        EXPECT_LT(qor::test::cpuSeconds() - before, 2.0);
    }
}

TEST_F(SolidEdgeAssemblyTest, LargeListsAreScannedInOnePass)
{
    // Four MiB of noise around one occurrence, read through regular sectors.
    const QByteArray noise = randomBytes(4 * 1024 * 1024, 11);
    const QByteArray stream = noise + gap + utf16Bytes("\\Teile\\Rad.par") + gap
                              + matrixBytes(moved(0, 0.25, 0)) + gap + utf16Bytes("Rad.par:12")
                              + gap + noise;
    const QString path = assembly(stream);
    const double before = qor::test::cpuSeconds();
    const auto occurrences = readSolidEdgeAssembly(path);
    EXPECT_LT(qor::test::cpuSeconds() - before, 1.0);
    ASSERT_EQ(occurrences.size(), 1u);
    EXPECT_EQ(occurrences[0].name, "Rad.par:12");
    expectPlacement(occurrences[0], {1, 0, 0, 0, 0, 1, 0, 250, 0, 0, 1, 0});
}
