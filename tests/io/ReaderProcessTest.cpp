#include "io/Import.h"
#include "io/ReaderProcess.h"
#include "tests/common/TempFiles.h"

#include "tests/fixtures/HostileAssemblies.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace qor;

using qor::test::writeFile;

namespace {

struct HostileCase {
    const char* name;
    QByteArray (*bytes)();
    // The German line begins with this; the file's name comes first in all of them.
    const char* errorStart;
};

const HostileCase hostileCases[] = {
    {"selbst.step", [] { return fixtures::stepSelfPlacedAssembly(); },
     "„selbst.step“ ließ sich nicht lesen: der Leseprozess wurde beendet (Absturz)"},
    {"verdoppelt.step", [] { return fixtures::stepDoublingAssembly(40); },
     "Fehler beim Lesen: Die Datei platziert 1.099.511.627.776 Körper; mehr als 50.000 werden nicht gelesen"},
    {"verdoppelt.igs", [] { return fixtures::igesDoublingSubfigures(40); },
     "Fehler beim Lesen: Die Datei platziert 1.099.511.627.776 Körper; mehr als 50.000 werden nicht gelesen"},
    {"verdoppelt.gltf", [] { return fixtures::gltfDoublingNodes(40); },
     "Fehler beim Lesen: Die Datei platziert 1.099.511.627.776 Körper; mehr als 50.000 werden nicht gelesen"},
};

} // namespace

// Files that crash the kernel's readers or keep them busy for ever end the reader process
// only: the caller gets one German line within seconds.
TEST(ReaderProcess, HostileFilesEndInOneGermanLine)
{
    ASSERT_FALSE(io::readerProgram().isEmpty());
    QTemporaryDir dir;
    for (const HostileCase& c : hostileCases) {
        SCOPED_TRACE(c.name);
        const QString path = writeFile(dir, QString::fromUtf8(c.name), c.bytes());
        QElapsedTimer clock;
        clock.start();
        const io::ImportResult result = io::importFile(path, {});
        EXPECT_LT(clock.elapsed(), 30000);
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(result.bodies.empty());
        EXPECT_TRUE(result.error.startsWith(QString::fromUtf8(c.errorStart)))
            << result.error.toStdString();
        EXPECT_FALSE(result.error.contains(u'\n'));
    }
}
