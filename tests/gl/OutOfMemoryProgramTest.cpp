// The real program, opening an assembly of many placements with its address space capped so
// that memory runs out while the document opens: the window must say so in one German line and
// go on to its screenshot and a normal exit, never abort.

#include "tests/fixtures/InstancedAssembly.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/resource.h>

namespace {

struct MemoryCase {
    const char* name;
    int placements;
    // The cap on the child's address space in MB, 0 for none.
    rlim_t limitMb;
    // What the window reports on standard error; empty: no shortage is reported.
    const char* report;
};

// With llvmpipe drawing on the main thread and a single malloc arena, the address space is
// close to what is used, so a cap stands for a machine's memory and does not depend on the
// number of cores. 700 MB runs out while the 38 MB file is parsed (the program itself needs
// about 250 MB); uncapped, 100,000 placements open in about 1.3 GB.
const MemoryCase memoryCases[] = {
    {"ReadingFailsAndTheEmptyDocumentStays", 100000, 700,
     "QorCAD: Zu wenig Arbeitsspeicher: „reihe.qcasm“ konnte nicht geöffnet werden"},
    {"SmallAssemblyOpensWithoutComplaint", 20, 700, ""},
};

class OutOfMemoryProgram : public testing::TestWithParam<MemoryCase> {};

TEST_P(OutOfMemoryProgram, ExitsNormallyAndSaysWhy)
{
    const MemoryCase& row = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString assembly = qor::test::writeInstancedAssembly(dir.path(), row.placements);
    ASSERT_FALSE(assembly.isEmpty());
    const QString image = dir.filePath(QStringLiteral("bild.png"));

    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("LP_NUM_THREADS"), QStringLiteral("0"));
    environment.insert(QStringLiteral("MALLOC_ARENA_MAX"), QStringLiteral("1"));
    program.setProcessEnvironment(environment);
    const rlim_t limit = row.limitMb * 1024 * 1024;
    program.setChildProcessModifier([limit] {
        if (limit == 0)
            return;
        const rlimit cap{limit, limit};
        setrlimit(RLIMIT_AS, &cap);
    });
    program.start(QStringLiteral(QOR_TEST_OUTPUT "/qorcad"),
                  {assembly, QStringLiteral("--screenshot"), image, QStringLiteral("--size"),
                   QStringLiteral("800x600")});
    ASSERT_TRUE(program.waitForFinished(180000));
    const QString errors = QString::fromLocal8Bit(program.readAllStandardError());

    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << errors.toStdString();
    EXPECT_EQ(program.exitCode(), 0) << errors.toStdString();
    EXPECT_FALSE(errors.contains(QStringLiteral("terminate called"))) << errors.toStdString();
    // The screenshot is taken seconds after the file opened: the window lived on.
    EXPECT_TRUE(QFileInfo(image).size() > 0);
    if (*row.report != '\0')
        EXPECT_TRUE(errors.contains(QString::fromUtf8(row.report))) << errors.toStdString();
    else
        EXPECT_FALSE(errors.contains(QStringLiteral("Arbeitsspeicher"))) << errors.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Cases, OutOfMemoryProgram, testing::ValuesIn(memoryCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
