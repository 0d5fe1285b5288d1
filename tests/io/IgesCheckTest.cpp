#include "io/IgesCheck.h"
#include "io/Export.h"
#include "io/Import.h"
#include "io/ReaderProcess.h"

#include "IoTestSupport.h"
#include "tests/common/ShapeChecks.h"
#include "tests/common/TempFiles.h"
#include "tests/fixtures/IgesFaceBodies.h"
#include "tests/fixtures/SeamSolids.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <BRepBuilderAPI_Sewing.hxx>
#include <IGESControl_Reader.hxx>
#include <iostream>

using qor::io::ExportBody;
using qor::io::exportFile;
using qor::io::ExportOptions;
using namespace qor::test;

namespace {

// Edges of the file's faces that no other face meets once the kernel has sewn them all
// at the tolerance of the files written here, read by the kernel's plain reader.
int freeEdgesOf(const QString& iges)
{
    IGESControl_Reader reader;
    if (reader.ReadFile(QFile::encodeName(iges).constData()) != IFSelect_RetDone)
        return -1;
    reader.TransferRoots();
    BRepBuilderAPI_Sewing sewing(1e-5);
    sewing.Add(reader.OneShape());
    sewing.Perform();
    return sewing.NbFreeEdges();
}

} // namespace

// A closed box against files whose faces close into it, into a lower box or into nothing:
// the check counts the solids and the volume the faces close into again, and the lower box's
// volume is off by the share of its height it lost.
TEST(IgesCheck, ClosedSolidsAndVolumeAreComparedWithWhatTheFileCloses)
{
    const double height = 20.0;
    const struct {
        const char* what;
        TopoDS_Shape faces;
        int solidsBack;
        double volumePercent;
    } cases[] = {
        {"whole", qor::fixtures::boxFacesTopLifted(0.0), 1, 0.0},
        {"top lifted by 3 µm", qor::fixtures::boxFacesTopLifted(0.003), 0, -100.0},
        {"top lifted by 0.1 mm", qor::fixtures::boxFacesTopLifted(0.1), 0, -100.0},
        {"lower", box(40.0, 30.0, 19.0), 1, 100.0 * (19.0 - height) / height},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const QString path = writeFile(dir, QStringLiteral("quader.igs"),
                                       qor::fixtures::igesFaceBodies({c.faces}));
        int count = 0;
        const std::vector<qor::io::IgesChange> changes = qor::io::igesChanges(
            path, {{box(40.0, 30.0, height), QStringLiteral("Quader")}}, &count);
        ASSERT_EQ(count, 1);
        // Name and colour are not in the file; the closure is what is asked here.
        ASSERT_EQ(changes.size(), 1u);
        EXPECT_EQ(changes[0].solids, 1);
        EXPECT_EQ(changes[0].solidsBack, c.solidsBack);
        EXPECT_NEAR(changes[0].volumePercent, c.volumePercent, 1e-6);
        EXPECT_EQ(changes[0].solidsLost(), 1 - c.solidsBack);
    }
}

// Bodies of one solid whose faces, written to IGES, come back with free edges once the
// kernel has sewn them: a ball drilled through its seam, and KiCad's axial inductors where
// they are unpacked. The export names each as no longer closed, and not the box written with
// it, whose faces close; the box alone gets no note.
TEST(IgesCheck, AnExportNamesTheBodyWhoseFacesNoLongerClose)
{
    std::vector<ExportBody> open = {{QStringLiteral("Kugel"), sphereDrilledThroughSeam()}};
    for (const char* model :
         {"Inductor_THT.3dshapes/L_Axial_L9.5mm_D4.0mm_P12.70mm_Horizontal_Fastron_SMCC.step",
          "Inductor_THT.3dshapes/L_Axial_L30.0mm_D8.0mm_P5.08mm_Vertical_Fastron_77A.step"}) {
        const QString file = QDir(kicadModelsFolder()).filePath(QString::fromLatin1(model));
        if (!QFile::exists(file))
            continue;
        const qor::io::ImportResult read = qor::io::importFile(file, {});
        ASSERT_TRUE(read.ok) << model << ": " << read.error.toStdString();
        ASSERT_EQ(read.bodies.size(), 1u) << model;
        const qor::io::ImportedBody& coil = read.bodies[0];
        open.push_back({coil.name, coil.shape, coil.r, coil.g, coil.b});
    }
    const ExportBody block{QStringLiteral("Block"), box(4.0, 4.0, 4.0, gp_Pnt(-100.0, 0.0, 0.0))};
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("teil.igs"));
    QString note;
    ASSERT_TRUE(exportFile(path, {block}, ExportOptions(), nullptr, &note));
    EXPECT_EQ(freeEdgesOf(path), 0);
    EXPECT_TRUE(note.isEmpty()) << note.toStdString();
    for (const ExportBody& body : open) {
        SCOPED_TRACE(body.name.toStdString());
        ASSERT_EQ(countOf(body.shape, TopAbs_SOLID), 1);
        ASSERT_TRUE(exportFile(path, {body, block}, ExportOptions(), nullptr, &note));
        ASSERT_GT(freeEdgesOf(path), 0);
        EXPECT_TRUE(note.contains(QStringLiteral("IGES gibt „%1“ nicht genau wieder: nicht mehr "
                                                 "geschlossen, nur Flächen")
                                      .arg(body.name)))
            << note.toStdString();
        EXPECT_FALSE(note.contains(QStringLiteral("„Block“"))) << note.toStdString();
    }
    if (open.size() == 1)
        std::cout << "KiCad's inductors are not unpacked: the drilled ball alone was checked\n";
}

// The export's note on an IGES file that does not read back gives the reader's reason, and a
// limit of processor time by its number of seconds: that of the file's size.
TEST(IgesCheck, TheNoteOnAFileThatDoesNotReadBackNamesTheLimit)
{
    QTemporaryDir dir;
    QFile large(dir.filePath(QStringLiteral("platte.igs")));
    ASSERT_TRUE(large.open(QIODevice::WriteOnly) && large.resize(7'400'000));
    const QString path = large.fileName();
    const struct {
        const char* what;
        QString readError;
        const char* note;
    } cases[] = {
        {"reader process at its limit",
         qor::io::readerProcessStopMessage(path, qor::io::ReadStop::time),
         "Die IGES-Datei ließ sich zur Prüfung nicht wieder lesen: der Leseprozess überschritt "
         "die Grenze von 306 s Rechenzeit"},
        {"read in this process at its limit",
         qor::io::readStopMessage(path, qor::io::ReadStop::time),
         "Die IGES-Datei ließ sich zur Prüfung nicht wieder lesen: nach 306 s Rechenzeit ohne "
         "Ergebnis angehalten"},
        {"reader out of memory", qor::io::readerProcessStopMessage(path, qor::io::ReadStop::memory),
         "Die IGES-Datei ließ sich zur Prüfung nicht wieder lesen: der Leseprozess brauchte zu "
         "viel Arbeitsspeicher"},
        {"no reason given", QString(), "Die IGES-Datei ließ sich zur Prüfung nicht wieder lesen"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(qor::io::igesUnreadNote(c.readError).toStdString(), c.note);
    }
}
