#include "io/Import.h"
#include "io/KernelMessage.h"
#include "tests/common/CpuTime.h"
#include "tests/fixtures/SpecialFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

using qor::io::importFile;
using qor::io::withoutKernelSignal;

// A fault the kernel caught reaches the user as one German line; every other
// message keeps its words.
TEST(KernelMessage, SignalTextsBecomeOneGermanLine)
{
    const struct {
        const char* message;
        const char* shown;
    } cases[] = {
        {"Geometriefehler: SIGSEGV 'segmentation violation' detected. Address 38.",
         "Geometriefehler im Kern"},
        {"Fehler beim Lesen: SIGSEGV 'segmentation violation' detected. Address 0.",
         "Fehler beim Lesen: Geometriefehler im Kern"},
        {"Export fehlgeschlagen: SIGFPE Arithmetic exception detected",
         "Export fehlgeschlagen: Geometriefehler im Kern"},
        {"Geometriefehler: SIGBUS 'bus error' detected.\nAddress 7", "Geometriefehler im Kern"},
        {"SIGILL 'illegal instruction' detected.", "Geometriefehler im Kern"},
        {"Geometriefehler: Kein Schnitt", "Geometriefehler: Kein Schnitt"},
        {"Fehler beim Lesen: SIGNAL steht im Namen", "Fehler beim Lesen: SIGNAL steht im Namen"},
        {"Datei „SIGMA.step“ fehlt", "Datei „SIGMA.step“ fehlt"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(withoutKernelSignal(QString::fromUtf8(c.message)), QString::fromUtf8(c.shown))
            << c.message;
}

// Files that are missing or not regular files are refused by the front end in
// German, for the kernel's readers and the own ones alike, and a named pipe is
// never opened.
TEST(ImportMessages, MissingAndIrregularFilesAreRefusedInGerman)
{
    QTemporaryDir dir;
    ASSERT_TRUE(qor::test::makePipe(dir.filePath("rohr.x_b")));
    ASSERT_TRUE(QDir(dir.path()).mkdir("ordner.step"));
    const struct {
        const char* file;
        const char* error;
    } cases[] = {
        {"fehlt.step", "Datei nicht gefunden: „fehlt.step“"},
        {"fehlt.stl", "Datei nicht gefunden: „fehlt.stl“"},
        {"fehlt.x_b", "Datei nicht gefunden: „fehlt.x_b“"},
        {"fehlt.par", "Datei nicht gefunden: „fehlt.par“"},
        {"fehlt.asm", "Datei nicht gefunden: „fehlt.asm“"},
        {"fehlt.f3d", "Datei nicht gefunden: „fehlt.f3d“"},
        {"rohr.x_b", "„rohr.x_b“ ist eine benannte Pipe und wird nicht gelesen"},
        {"ordner.step", "„ordner.step“ ist ein Ordner und wird nicht gelesen"},
        {"fehlt.xyz", "Unbekanntes Dateiformat .xyz"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const double before = qor::test::workCpuSeconds();
        const qor::io::ImportResult result = importFile(dir.filePath(c.file), {});
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, QString::fromUtf8(c.error));
        EXPECT_LT(qor::test::workCpuSeconds() - before, 1.0);
    }
}
