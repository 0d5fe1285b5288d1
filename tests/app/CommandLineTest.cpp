#include "app/CommandLine.h"
#include "app/BatchConversion.h"
#include "app/SoftwareGl.h"
#include "io/Export.h"
#include "io/Import.h"
#include "io/ReaderProcess.h"
#include "io/ReaderServer.h"
#include "io/XcafBodies.h"
#include "io/Zip.h"
#include "tests/common/ChildGuard.h"
#include "tests/common/Seeds.h"

#include <BRepBuilderAPI_Copy.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepGProp.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRepTools.hxx>
#include <BRep_Builder.hxx>
#include <GProp_GProps.hxx>
#include <Quantity_Color.hxx>
#include <STEPCAFControl_Writer.hxx>
#include <STEPControl_Controller.hxx>
#include <TDataStd_Name.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Shell.hxx>
#include <XCAFDoc_ColorTool.hxx>
#include <XCAFDoc_DocumentTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>
#include <gp_Pln.hxx>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "tests/common/CpuTime.h"
#include "tests/common/ProcessMemory.h"
#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/DamagedFaces.h"
#include "tests/fixtures/HostileAssemblies.h"
#include "tests/fixtures/MeshSoup.h"
#include "tests/fixtures/NestedFiles.h"
#include "tests/fixtures/SpecialFiles.h"
#include "tests/fixtures/StagingThief.h"
#include "tests/fixtures/StlFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <set>
#include <string>
#include <sys/resource.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace qor::app;
using qor::test::readFile;
using qor::test::writeFile;

void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

bool parse(CommandLine& commandLine, const QStringList& arguments)
{
    return commandLine.parser.parse(QStringList{QStringLiteral("qorcad")} + arguments);
}

struct ProgramRun {
    int status = -1;
    QString out;
    QString err;
};

// Runs the built program with its settings in a private folder. Environment entries are
// "NAME=value", or "NAME" to remove the variable.
ProgramRun runProgram(const QStringList& arguments, const QTemporaryDir& home,
                      const QStringList& environment = {},
                      const QString& program = QStringLiteral(QORCAD_BINARY))
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    env.insert("XDG_CACHE_HOME", home.filePath("cache"));
    env.remove("QORCAD_GL");
    for (const QString& entry : environment) {
        if (entry.contains('='))
            env.insert(entry.section('=', 0, 0), entry.section('=', 1));
        else
            env.remove(entry);
    }
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    process.waitForFinished(qor::test::childGuardMs);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

QString settingsFile(const QTemporaryDir& home)
{
    return home.filePath("config/Tarnwick/QorCAD.conf");
}

// A red box "Quader" and a cylinder "Zylinder" as a STEP file.
void writeStep(const QString& path)
{
    Handle(TDocStd_Document) doc = qor::io::newXcafDocument();
    const Handle(XCAFDoc_ShapeTool) shapes = XCAFDoc_DocumentTool::ShapeTool(doc->Main());
    const TDF_Label box = shapes->AddShape(BRepPrimAPI_MakeBox(10, 20, 30).Shape(), false);
    TDataStd_Name::Set(box, "Quader");
    const TDF_Label cylinder = shapes->AddShape(
        BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(40, 0, 0), gp::DZ()), 5, 10).Shape(), false);
    TDataStd_Name::Set(cylinder, "Zylinder");
    XCAFDoc_DocumentTool::ColorTool(doc->Main())
        ->SetColor(box, Quantity_Color(1, 0, 0, Quantity_TOC_sRGB), XCAFDoc_ColorSurf);
    STEPControl_Controller::Init();
    STEPCAFControl_Writer writer;
    writer.Transfer(doc, STEPControl_AsIs);
    writer.Write(path.toLocal8Bit().constData());
    qor::io::closeXcafDocument(doc);
}

// Placements of a red box and an uncoloured cylinder, in turn, each turned about a random
// axis and moved to its cell of a grid, named "Teil 1", "Teil 2", ...; every third one
// places a part of its own. With ownParts, every placement places a copy of its own.
void writePlacements(const QString& path, int count, bool ownParts)
{
    std::mt19937 random(qor::test::seed(57));
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    Handle(TDocStd_Document) doc = qor::io::newXcafDocument();
    const Handle(XCAFDoc_ShapeTool) shapes = XCAFDoc_DocumentTool::ShapeTool(doc->Main());
    const Handle(XCAFDoc_ColorTool) colours = XCAFDoc_DocumentTool::ColorTool(doc->Main());
    const TopoDS_Shape parts[]
        = {BRepPrimAPI_MakeBox(10, 20, 30).Shape(), BRepPrimAPI_MakeCylinder(5, 12).Shape()};
    const auto addPart = [&](const TopoDS_Shape& shape, int kind) {
        const TDF_Label label = shapes->AddShape(shape, false);
        if (kind == 0)
            colours->SetColor(label, Quantity_Color(0.9, 0.1, 0.1, Quantity_TOC_sRGB),
                              XCAFDoc_ColorSurf);
        return label;
    };
    TDF_Label shared[2];
    if (!ownParts)
        shared[0] = addPart(parts[0], 0), shared[1] = addPart(parts[1], 1);
    const TDF_Label assembly = shapes->NewShape();
    for (int i = 0; i < count; ++i) {
        const int kind = i % 2;
        const gp_Dir axis(unit(random), unit(random), unit(random) + 2.0);
        gp_Trsf at;
        at.SetRotation(gp_Ax1(gp::Origin(), axis), 3.0 * unit(random));
        at.SetTranslationPart(gp_Vec(60.0 * (i % 5), 60.0 * (i / 5), 0.0));
        const TDF_Label part = ownParts || i % 3 == 0
                                   ? addPart(BRepBuilderAPI_Copy(parts[kind]).Shape(), kind)
                                   : shared[kind];
        const TDF_Label placed = shapes->AddComponent(assembly, part, TopLoc_Location(at));
        const QByteArray name = QStringLiteral("Teil %1").arg(i + 1).toUtf8();
        TDataStd_Name::Set(placed, TCollection_ExtendedString(name.constData(), true));
    }
    shapes->UpdateAssemblies();
    STEPControl_Controller::Init();
    STEPCAFControl_Writer writer;
    writer.Transfer(doc, STEPControl_AsIs);
    writer.Write(path.toLocal8Bit().constData());
    qor::io::closeXcafDocument(doc);
}

struct StlFacts {
    std::uint32_t triangles = 0;
    double volume = 0.0;
};

// Read by hand: the count after the 80-byte header, then normal, three corners and two
// attribute bytes per triangle; the volume by the divergence theorem.
StlFacts binaryStlFacts(const QByteArray& bytes)
{
    StlFacts facts;
    if (bytes.size() < 84)
        return facts;
    std::memcpy(&facts.triangles, bytes.constData() + 80, 4);
    if (bytes.size() != 84 + 50 * qsizetype(facts.triangles))
        return {};
    for (std::uint32_t t = 0; t < facts.triangles; ++t) {
        float c[9];
        std::memcpy(c, bytes.constData() + 84 + 50 * qsizetype(t) + 12, sizeof c);
        const gp_Vec a(c[0], c[1], c[2]), b(c[3], c[4], c[5]), d(c[6], c[7], c[8]);
        facts.volume += a.Dot(b.Crossed(d)) / 6.0;
    }
    return facts;
}

} // namespace

TEST(CommandLineTest, OptionsAndValues)
{
    CommandLine commandLine;
    ASSERT_TRUE(parse(commandLine, {"--convert", "a.step:b.stl", "--render-icon", "16:a.png",
                                    "--render-icon=32:b.png", "--drawing", "teil.qcpart"}));
    EXPECT_EQ(commandLine.parser.value(commandLine.convert), "a.step:b.stl");
    EXPECT_EQ(commandLine.parser.values(commandLine.renderIcon),
              QStringList({"16:a.png", "32:b.png"}));
    EXPECT_TRUE(commandLine.parser.isSet(commandLine.drawing));
    EXPECT_EQ(commandLine.parser.positionalArguments(), QStringList{"teil.qcpart"});
    EXPECT_EQ(commandLine.parser.value(commandLine.size), "1600x980");

    // Long options only, and unknown ones or missing values are refused.
    for (const QStringList& arguments :
         {QStringList{"--gibtsnicht"}, QStringList{"-d", "flange"}, QStringList{"--convert"}}) {
        CommandLine refused;
        EXPECT_FALSE(parse(refused, arguments)) << arguments.join(' ').toStdString();
        EXPECT_FALSE(refused.parser.errorText().isEmpty());
    }

    // Options in the order the help lists them.
    const QString help = commandLine.parser.helpText();
    qsizetype last = -1;
    for (const char* option :
         {"--demo <name>", "--screenshot <png>", "--size <size>", "--edit-sketch <n>",
          "--command <typ>", "--sketch-tool <n>", "--render-icon <spec>", "--convert <spec>",
          "--drawing", "--render <spec>"}) {
        const qsizetype at = help.indexOf(QLatin1String(option));
        EXPECT_GT(at, last) << option;
        last = at;
    }
}

// An option that takes a value never takes another option as it: "--demo --screenshot x.png"
// lacks the example's name instead of loading an example called "--screenshot".
TEST(CommandLineTest, AnOptionIsNeverTheValueOfAnother)
{
    const QStringList valued
        = {"--demo",        "--screenshot",  "--size",    "--edit-sketch", "--command",
           "--sketch-tool", "--render-icon", "--convert", "--render"};
    const QList<QStringList> followers = {{"--screenshot", "x.png"},
                                          {"--drawing"},
                                          {"--demo=bracket"},
                                          {"-h"},
                                          {"--gibtsnicht"},
                                          {"--", "teil.qcpart"},
                                          {}};
    for (const QString& option : valued) {
        for (const QStringList& after : followers) {
            const QStringList arguments = QStringList{option} + after;
            SCOPED_TRACE(arguments.join(' ').toStdString());
            CommandLine refused;
            EXPECT_FALSE(refused.parse(QStringList{"qorcad"} + arguments));
            EXPECT_EQ(refused.errorText(), QStringLiteral("Nach „%1“ fehlt der Wert.").arg(option));
        }
        // A value that only looks like an option is given joined by "="; "-" is a value.
        for (const QString& value : {QStringLiteral("--drawing"), QStringLiteral("-")}) {
            CommandLine taken;
            const QStringList arguments = value == QStringLiteral("-")
                                              ? QStringList{option, value}
                                              : QStringList{option + QLatin1Char('=') + value};
            ASSERT_TRUE(taken.parse(QStringList{"qorcad"} + arguments))
                << arguments.join(' ').toStdString() << taken.errorText().toStdString();
            EXPECT_EQ(taken.parser.value(option.mid(2)), value);
        }
    }
    // Values in their place, an option after them, and a file after "--" that starts like one.
    CommandLine good;
    ASSERT_TRUE(good.parse({"qorcad", "--demo", "flange", "--screenshot", "x.png", "--drawing",
                            "--", "--teil.qcpart"}))
        << good.errorText().toStdString();
    EXPECT_EQ(good.parser.value(good.demo), "flange");
    EXPECT_EQ(good.parser.value(good.screenshot), "x.png");
    EXPECT_EQ(good.parser.positionalArguments(), QStringList{"--teil.qcpart"});
    // The parser's own refusals come through unchanged.
    CommandLine unknown;
    EXPECT_FALSE(unknown.parse({"qorcad", "--gibtsnicht"}));
    EXPECT_TRUE(unknown.errorText().contains("gibtsnicht"));
}

TEST(CommandLineTest, BatchPrescanAndConvertSplit)
{
    const std::pair<std::vector<const char*>, bool> runs[] = {
        {{"qorcad", "--convert", "a:b"}, true},
        {{"qorcad", "--convert=a:b"}, true},
        {{"qorcad", "teil.qcpart", "--help"}, true},
        {{"qorcad", "-h"}, true},
        {{"qorcad", "-v"}, true},
        {{"qorcad", "--help-all"}, true},
        {{"qorcad", "--render-icon", "16:a.png"}, true},
        {{"qorcad", "--demo", "flange", "--convertx", "-convert", "--version2"}, false},
        {{"--version"}, false}, // the program name itself is not an option
        {{"qorcad", "--", "--help"}, false}, // a file named like an option
    };
    for (const auto& [arguments, batch] : runs)
        EXPECT_EQ(isBatchRun(int(arguments.size()), arguments.data()), batch) << arguments.back();

    // The conversion's value as the bytes given: separate or joined, the last one
    // counting, nothing after "--".
    const std::pair<std::vector<const char*>, QByteArray> values[] = {
        {{"qorcad", "--convert", "lat\xe9in.step:b.stl"}, "lat\xe9in.step:b.stl"},
        {{"qorcad", "--convert=a.step:\xff.stl"}, "a.step:\xff.stl"},
        {{"qorcad", "--convert", "a:b", "--convert=c:d"}, "c:d"},
        {{"qorcad", "--", "--convert", "a:b"}, ""},
        {{"qorcad", "--convert"}, ""},
    };
    for (const auto& [arguments, value] : values)
        EXPECT_EQ(convertArgument(int(arguments.size()), arguments.data()), value)
            << arguments.back();

    const std::tuple<QByteArray, QByteArray, QByteArray, bool> splits[] = {
        {"C:x.step:y.stl", "C:x.step", "y.stl", true},
        {"teil.step", "teil.step", "teil.step", false},
        {"teil.step:", "teil.step", "", true},
    };
    for (const auto& [argument, input, output, separated] : splits) {
        const ConvertPaths paths = splitConvertArgument(argument);
        EXPECT_EQ(paths.input, input);
        EXPECT_EQ(paths.output, output);
        EXPECT_EQ(paths.hasSeparator, separated);
    }
}

TEST(CommandLineTest, OpenGlModeDecision)
{
    const auto dmi = [](const char* machine) {
        return QStringLiteral(QOR_TEST_FIXTURES "/dmi/%1").arg(QLatin1String(machine));
    };
    const std::optional<QString> unset;
    struct Case {
        std::optional<QString> environment;
        const char* setting;
        bool pending;
        const char* machine;
        const char* reason;
    };
    const Case cases[] = {
        {unset, "software", false, "none", "Einstellung"},
        {QString("software"), "hardware", true, "qemu", "Einstellung"},
        // "hardware" ignores the crash marker and the firmware.
        {QString("hardware"), "auto", true, "virtualbox", ""},
        {unset, "hardware", false, "vmware", ""},
        // Set even to an empty text, the environment wins, and any other text is "auto".
        {QString(""), "software", false, "qemu", "virtuelle Maschine (QEMU)"},
        {QString("Software"), "software", true, "vmware", "Absturz beim letzten Start"},
        {unset, "auto", false, "virtualbox", "virtuelle Maschine (VirtualBox)"},
        {unset, "auto", false, "vmware", "virtuelle Maschine (VMware)"},
        {unset, "automatisch", false, "none", ""},
        {unset, "auto", false, "fehlt", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(softwareGlReason(c.environment, c.setting, c.pending, dmi(c.machine)), c.reason)
            << c.setting << " " << c.machine;
}

TEST(ProgramTest, VersionHelpAndTheWindowStart)
{
    QTemporaryDir home;
    const ProgramRun version = runProgram({"--version"}, home);
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "QorCAD 1.2.0\n");

    const ProgramRun help = runProgram({"--help"}, home);
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.contains("QorCAD – parametrisches 3D-CAD"));
    EXPECT_TRUE(help.out.contains("--convert <spec>"));
    // Batch runs leave the settings alone.
    EXPECT_FALSE(QFile::exists(settingsFile(home)));

    // A window start says how it draws; the screenshot ends it. The 3D view needs X.
    const QString shot = home.filePath("fenster.png");
    const ProgramRun window = runProgram({"--screenshot", shot, "--size", "640x400"}, home,
                                         {"QORCAD_GL=software", "QT_QPA_PLATFORM=xcb"});
    EXPECT_EQ(window.status, 0) << window.err.toStdString();
    EXPECT_TRUE(
        window.err.startsWith("QorCAD: Software-Rendering (Mesa llvmpipe) – Einstellung\n"));
    EXPECT_EQ(QImage(shot).size(), QSize(640, 400));

    // Without an X display the window cannot exist: one line, and nothing decided or stored.
    QTemporaryDir fresh;
    const ProgramRun headless = runProgram({}, fresh, {"DISPLAY", "WAYLAND_DISPLAY"});
    EXPECT_EQ(headless.status, 1);
    EXPECT_TRUE(headless.err.startsWith("QorCAD: Keine X-Anzeige erreichbar"))
        << headless.err.toStdString();
    EXPECT_EQ(headless.err.count('\n'), 1);
    EXPECT_FALSE(QFile::exists(settingsFile(fresh)));
}

// A refused command line ends at once with "Fehler: …" and status 1; before, the run took the
// option after "--demo" as the example's name and never wrote its picture.
TEST(ProgramTest, MissingValueEndsTheRunWithAnError)
{
    QTemporaryDir home;
    const QString shot = home.filePath("x.png");
    const ProgramRun run = runProgram({"--demo", "--screenshot", shot}, home,
                                      {"QORCAD_GL=software", "QT_QPA_PLATFORM=xcb"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.endsWith("Fehler: Nach „--demo“ fehlt der Wert.\n"))
        << run.err.toStdString();
    EXPECT_FALSE(QFile::exists(shot));
    const ProgramRun unknown = runProgram({"--gibtsnicht"}, home, {"QORCAD_GL=hardware"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_TRUE(unknown.err.startsWith("Fehler: ")) << unknown.err.toStdString();
}

// Only a start that tried to draw and died may leave "glStartPending" behind; every other exit
// leaves the marker as it found it.
TEST(ProgramTest, CrashMarkerSurvivesNoOtherExit)
{
    const QList<QStringList> exits = {{"-h"},
                                      {"-?"},
                                      {"--help-all"},
                                      {"-v"},
                                      {"--gibtsnicht"},
                                      {"--demo"},
                                      {"--convert=fehlt.step:b.stl"},
                                      {"--render-icon=0:b.png"}};
    for (const QStringList& arguments : exits) {
        for (const bool crashedBefore : {false, true}) {
            QTemporaryDir home;
            if (crashedBefore) {
                QDir().mkpath(home.filePath("config/Tarnwick"));
                writeFile(settingsFile(home), "[General]\nglStartPending=true\n");
            }
            const ProgramRun run = runProgram(arguments, home, {"QORCAD_GL=software"});
            EXPECT_NE(run.status, -1) << arguments.join(' ').toStdString();
            EXPECT_EQ(readFile(settingsFile(home)).contains("glStartPending=true"), crashedBefore)
                << arguments.join(' ').toStdString() << " " << crashedBefore;
        }
    }
    // The runs the pre-scan lets through really wrote the marker before they ended.
    QTemporaryDir home;
    EXPECT_TRUE(runProgram({"--gibtsnicht"}, home, {"QORCAD_GL=software"})
                    .err.startsWith("QorCAD: Software-Rendering (Mesa llvmpipe) – Einstellung\n"));
}

TEST(ProgramTest, CrashMarkerDecidesInAutoMode)
{
    QTemporaryDir home;
    QDir().mkpath(home.filePath("config/Tarnwick"));
    writeFile(settingsFile(home), "[General]\ngl=auto\nglStartPending=true\n");

    const ProgramRun crashed = runProgram({}, home, {"QORCAD_GL="});
    EXPECT_TRUE(crashed.err.startsWith(
        "QorCAD: Software-Rendering (Mesa llvmpipe) – Absturz beim letzten Start\n"))
        << crashed.err.toStdString();
    const ProgramRun hardware = runProgram({}, home, {"QORCAD_GL=hardware"});
    EXPECT_FALSE(hardware.err.contains("Software-Rendering"));
}

TEST(ProgramTest, RenderIconWritesEachSize)
{
    QTemporaryDir home;
    // Without any display: a batch run needs none.
    const ProgramRun run = runProgram({"--render-icon", "16:" + home.filePath("a.png"),
                                       "--render-icon", "256:" + home.filePath("b.png")},
                                      home, {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    for (const auto& [file, size] : {std::pair{"a.png", 16}, std::pair{"b.png", 256}}) {
        const QImage image(home.filePath(file));
        EXPECT_EQ(image.size(), QSize(size, size)) << file;
        EXPECT_TRUE(image.hasAlphaChannel());
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << file; // transparent corner
        EXPECT_EQ(qAlpha(image.pixel(size / 2, size / 2)), 255) << file;
    }
    EXPECT_FALSE(QFile::exists(settingsFile(home)));

    // Values are written in the order given: a bad value or a failed save ends the export
    // there, what came before it stays written and nothing after it is.
    for (const QString& bad :
         {"0:%1/c.png", "16:", "abc:%1/c.png", "99999:%1/c.png", "16:%1/c.unbekannt"}) {
        QTemporaryDir out;
        const ProgramRun failed
            = runProgram({"--render-icon", "48:" + out.filePath("a.png"), "--render-icon",
                          QString(bad).replace("%1", out.path()), "--render-icon",
                          "16:" + out.filePath("d.png")},
                         out);
        EXPECT_EQ(failed.status, 1) << bad.toStdString();
        EXPECT_TRUE(failed.err.isEmpty()) << failed.err.toStdString();
        EXPECT_EQ(QImage(out.filePath("a.png")).size(), QSize(48, 48)) << bad.toStdString();
        const QStringList written
            = QDir(out.path()).entryList({"*.png", "*.unbekannt"}, QDir::Files);
        EXPECT_EQ(written, QStringList{"a.png"}) << bad.toStdString();
    }
}

// A foreign file placing parts several times converts as a file whose every placement is a
// part of its own: the same bodies with their names, faces and volumes in the summary, the
// same colours read, the same triangles written. A file placing one box 4,096 times converts
// in a few seconds of processor time.
TEST(ProgramTest, ConvertOfRepeatedPlacementsMatchesPartsOfTheirOwn)
{
    QTemporaryDir home;
    constexpr int count = 40;
    struct Converted {
        QStringList summary;
        StlFacts stl;
        qor::io::ImportResult read;
    };
    const auto convert = [&](bool ownParts) {
        const QString name = ownParts ? QStringLiteral("eigen") : QStringLiteral("geteilt");
        const QString input = home.filePath(name + ".step");
        writePlacements(input, count, ownParts);
        const QString output = home.filePath(name + ".stl");
        const ProgramRun run = runProgram({"--convert", input + ":" + output}, home);
        EXPECT_EQ(run.status, 0) << run.err.toStdString();
        return Converted{run.out.split('\n').mid(1), binaryStlFacts(readFile(output)),
                         qor::io::importFile(input, {})};
    };
    const Converted shared = convert(false);
    const Converted own = convert(true);
    ASSERT_EQ(shared.summary.size(), count + 1) << shared.summary.join('\n').toStdString();
    EXPECT_EQ(shared.summary, own.summary);
    EXPECT_TRUE(shared.summary.contains(
        "  Teil 2: 3 Flächen, 1 Schale, 1 Volumenkörper, 0 offene Kanten, Volumen 942,5 mm³"));
    EXPECT_GT(shared.stl.triangles, std::uint32_t(count * 12));
    EXPECT_EQ(shared.stl.triangles, own.stl.triangles);
    EXPECT_NEAR(shared.stl.volume, own.stl.volume, 1e-6 * own.stl.volume);
    ASSERT_EQ(shared.read.bodies.size(), std::size_t(count));
    ASSERT_EQ(own.read.bodies.size(), std::size_t(count));
    for (int i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        const qor::io::ImportedBody& a = shared.read.bodies[std::size_t(i)];
        const qor::io::ImportedBody& b = own.read.bodies[std::size_t(i)];
        EXPECT_EQ(a.name, b.name);
        EXPECT_EQ(a.hasColor, i % 2 == 0);
        EXPECT_EQ(a.hasColor, b.hasColor);
        EXPECT_NEAR(a.r, b.r, 1e-9);
        EXPECT_NEAR(a.g, b.g, 1e-9);
    }

    const QString grid = home.filePath("raster.step");
    ASSERT_TRUE(writeFile(grid, qor::fixtures::stepBoxGrid(4, 8)));
    const double before = qor::test::cpuSeconds(RUSAGE_CHILDREN);
    const ProgramRun big
        = runProgram({"--convert", grid + ":" + home.filePath("raster.stl")}, home);
    ASSERT_EQ(big.status, 0) << big.err.toStdString();
    EXPECT_TRUE(big.out.startsWith("STEP: 4.096 Körper")) << big.out.left(80).toStdString();
    EXPECT_EQ(binaryStlFacts(readFile(home.filePath("raster.stl"))).triangles, 4096u * 12u);
    EXPECT_LT(qor::test::cpuSeconds(RUSAGE_CHILDREN) - before, 6.0);
}

TEST(ProgramTest, ConvertWritesTheOutputAndSummarises)
{
    QTemporaryDir home;
    const QString input = home.filePath("C:teil.step"); // a colon inside the input path
    const QString output = home.filePath("teil.stl");
    writeStep(input);

    const ProgramRun run = runProgram({"--convert", input + ":" + output}, home);
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    // Only the summary reaches standard output.
    EXPECT_EQ(
        run.out,
        QStringLiteral(
            "STEP: 2 Körper → %1\n"
            "  Quader: 6 Flächen, 1 Schale, 1 Volumenkörper, 0 offene Kanten, Volumen 6.000,0 mm³\n"
            "  Zylinder: 3 Flächen, 1 Schale, 1 Volumenkörper, 0 offene Kanten, Volumen 785,4 "
            "mm³\n")
            .arg(output));
    const qor::io::ImportResult back = qor::io::importFile(output, {});
    ASSERT_TRUE(back.ok);
    GProp_GProps props;
    BRepGProp::VolumeProperties(back.bodies[0].shape, props);
    EXPECT_NEAR(props.Mass(), 6000.0 + std::numbers::pi * 250.0, 5.0);

    // Solids and open edges: a compound of two boxes and a lone square face.
    TopoDS_Compound compound;
    BRep_Builder builder;
    builder.MakeCompound(compound);
    builder.Add(compound, BRepPrimAPI_MakeBox(1, 1, 1).Shape());
    builder.Add(compound, BRepPrimAPI_MakeBox(gp_Pnt(5, 0, 0), 1, 2, 3).Shape());
    BRepTools::Write(compound, home.filePath("zwei.brep").toLocal8Bit().constData());
    BRepTools::Write(BRepBuilderAPI_MakeFace(gp_Pln(), 0, 1, 0, 1).Shape(),
                     home.filePath("flaeche.brep").toLocal8Bit().constData());
    const ProgramRun two = runProgram(
        {"--convert", home.filePath("zwei.brep") + ":" + home.filePath("zwei.step")}, home);
    EXPECT_EQ(two.status, 0);
    EXPECT_TRUE(two.out.endsWith(
        "  zwei: 12 Flächen, 2 Schalen, 2 Volumenkörper, 0 offene Kanten, Volumen 7,0 mm³\n"))
        << two.out.toStdString();
    const ProgramRun face = runProgram(
        {"--convert=" + home.filePath("flaeche.brep") + ":" + home.filePath("flaeche.obj")}, home);
    EXPECT_EQ(face.status, 0);
    EXPECT_TRUE(face.out.endsWith(
        "  flaeche: 1 Fläche, 0 Schalen, 0 Volumenkörper, 4 offene Kanten, Volumen 0,0 mm³\n"))
        << face.out.toStdString();
    // A box far from the origin with its top missing encloses nothing.
    TopoDS_Shell open;
    builder.MakeShell(open);
    TopExp_Explorer faces(BRepPrimAPI_MakeBox(gp_Pnt(50, 60, 70), 10, 10, 10).Shape(), TopAbs_FACE);
    for (int i = 0; i < 5; faces.Next(), ++i)
        builder.Add(open, faces.Current());
    BRepTools::Write(open, home.filePath("offen.brep").toLocal8Bit().constData());
    const ProgramRun shell = runProgram(
        {"--convert", home.filePath("offen.brep") + ":" + home.filePath("offen.stl")}, home);
    EXPECT_EQ(shell.status, 0);
    EXPECT_TRUE(shell.out.endsWith(
        "  offen: 5 Flächen, 1 Schale, 0 Volumenkörper, 4 offene Kanten, Volumen 0,0 mm³\n"))
        << shell.out.toStdString();
    EXPECT_FALSE(QFile::exists(settingsFile(home)));
}

// An IGES file of a red box and a green ball converts to OBJ with both colours in
// its material file: the ball, which IGES places by a transformation, keeps its
// colour as the box does.
TEST(ProgramTest, ConvertOfIgesKeepsTheColoursOfBoxAndBall)
{
    QTemporaryDir home;
    const QString input = home.filePath("farbig.igs");
    ASSERT_TRUE(qor::io::exportFile(
        input,
        {{QStringLiteral("Quader"), BRepPrimAPI_MakeBox(10, 10, 10).Shape(), 0.9, 0.1, 0.1},
         {QStringLiteral("Kugel"), BRepPrimAPI_MakeSphere(gp_Pnt(30, 0, 0), 6).Shape(), 0.1, 0.8,
          0.2}},
        qor::io::ExportOptions()));
    const ProgramRun run
        = runProgram({"--convert", input + ":" + home.filePath("farbig.obj")}, home);
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    // The diffuse colours of the materials, as the file gives them.
    std::vector<std::array<double, 3>> colours;
    for (const QByteArray& line : readFile(home.filePath("farbig.mtl")).split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() == 4 && words[0] == "Kd")
            colours.push_back({words[1].toDouble(), words[2].toDouble(), words[3].toDouble()});
    }
    const auto has = [&](double r, double g, double b) {
        return std::any_of(colours.begin(), colours.end(), [&](const std::array<double, 3>& c) {
            return std::abs(c[0] - r) < 0.01 && std::abs(c[1] - g) < 0.01
                   && std::abs(c[2] - b) < 0.01;
        });
    };
    EXPECT_EQ(colours.size(), 2u);
    EXPECT_TRUE(has(0.9, 0.1, 0.1)) << "red";
    EXPECT_TRUE(has(0.1, 0.8, 0.2)) << "green";
}

// Bodies the file leaves unnamed are written and summed up under the names the
// window gives them on import, and two conversions give the same file.
TEST(ProgramTest, ConvertNamesUnnamedBodiesAsTheWindowDoes)
{
    QTemporaryDir home;
    const QString named = home.filePath("benannt.step");
    writeStep(named);
    QFile in(named);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QString text = QString::fromLatin1(in.readAll());
    static const QRegularExpression product(QStringLiteral("PRODUCT\\('[^']*',\\s*'[^']*'"));
    const QString unnamed = home.filePath("namenlos.step");
    QFile out(unnamed);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(QString(text).replace(product, QStringLiteral("PRODUCT('',''")).toLatin1());
    out.close();

    QByteArray first;
    for (int run = 0; run < 2; ++run) {
        const QString output = home.filePath(QStringLiteral("aus%1.step").arg(run));
        const ProgramRun converted = runProgram({"--convert", unnamed + ":" + output}, home);
        ASSERT_EQ(converted.status, 0) << converted.err.toStdString();
        EXPECT_TRUE(converted.out.contains("\n  Körper 1: 6 Flächen"))
            << converted.out.toStdString();
        EXPECT_TRUE(converted.out.contains("\n  Körper 2: 3 Flächen"))
            << converted.out.toStdString();
        const qor::io::ImportResult back = qor::io::importFile(output, {});
        ASSERT_EQ(back.bodies.size(), 2u);
        EXPECT_EQ(back.bodies[0].name, "Körper 1");
        EXPECT_EQ(back.bodies[1].name, "Körper 2");
        QFile written(output);
        ASSERT_TRUE(written.open(QIODevice::ReadOnly));
        static const QRegularExpression stamp(QStringLiteral("FILE_NAME\\([^;]*;"));
        const QByteArray stable = QString::fromLatin1(written.readAll()).remove(stamp).toLatin1();
        if (run == 0)
            first = stable;
        else
            EXPECT_TRUE(stable == first) << "the second conversion wrote another file";
    }
}

TEST(ProgramTest, ConvertRefusalsAndFailures)
{
    QTemporaryDir home;
    const QString input = home.filePath("teil.step");
    writeStep(input);
    const QByteArray original = readFile(input);
    writeFile(home.filePath("kaputt.step"), "keine STEP-Datei\n");
    writeFile(home.filePath("gruppe.asm"), "egal\n");
    // A Fusion archive without bodies: the reader's text runs over paragraphs.
    qor::ZipWriter zip;
    zip.add(QStringLiteral("Manifest.dat"), "leer", false);
    writeFile(home.filePath("leer.f3d"), zip.finish());
    // An output that is no ordinary file would be replaced by the staged file's move.
    ASSERT_TRUE(qor::test::makePipe(home.filePath("rohr.stl")));

    const std::pair<QString, QString> cases[] = {
        // Without a colon, or with both sides naming one file, the input would be
        // overwritten.
        {input, ""},
        {input + ":" + home.filePath("./teil.step"), ""},
        {input + ":", ""},
        {home.filePath("teil.xyz") + ":" + home.filePath("b.stl"),
         "Fehler: Unbekanntes Dateiformat .xyz\n"},
        {input + ":" + home.filePath("b.xyz"), ""},
        {home.filePath("kaputt.step") + ":" + home.filePath("b.stl"),
         "Fehler: STEP-Datei konnte nicht gelesen werden\n"},
        {home.filePath("fehlt.par") + ":" + home.filePath("b.stl"),
         "Fehler: Datei nicht gefunden: „fehlt.par“\n"},
        {home.filePath("gruppe.asm") + ":" + home.filePath("b.step"),
         "Fehler: „gruppe.asm“ ist eine Solid-Edge-Baugruppe; Baugruppen werden im Fenster "
         "geöffnet (qorcad „gruppe.asm“), die Umwandlung liest nur Einzelteile\n"},
        {home.filePath("teil.qcpart") + ":" + home.filePath("b.step"),
         "Fehler: „teil.qcpart“ ist eine QorCAD-Datei; sie wird im Fenster geöffnet (qorcad "
         "„teil.qcpart“), die Umwandlung liest nur fremde Formate\n"},
        {home.filePath("gruppe.QCASM") + ":" + home.filePath("b.step"),
         "Fehler: „gruppe.QCASM“ ist eine QorCAD-Datei; sie wird im Fenster geöffnet (qorcad "
         "„gruppe.QCASM“), die Umwandlung liest nur fremde Formate\n"},
        {home.filePath("leer.f3d") + ":" + home.filePath("b.step"),
         "Fehler: Die Fusion-Datei enthält keine Körperdaten. In Fusion „Datei → Exportieren → "
         "STEP“ wählen und die STEP-Datei in QorCAD öffnen – Komponenten, Namen und Farben "
         "bleiben erhalten.\n"},
        {input + ":" + home.filePath("rohr.stl"),
         "Fehler: „rohr.stl“ ist eine benannte Pipe und wird nicht überschrieben\n"},
    };
    for (const auto& [argument, message] : cases) {
        const ProgramRun run = runProgram({"--convert", argument}, home);
        EXPECT_EQ(run.status, 1) << argument.toStdString();
        // The kernel may print its own diagnostics before a reading failure.
        EXPECT_TRUE(message.isEmpty() ? run.err.startsWith("Fehler: ") : run.err.endsWith(message))
            << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty());
    }
    EXPECT_EQ(readFile(input), original);
    // Nothing was written by any of the failed runs, not even a staging folder.
    EXPECT_EQ(QDir(home.path())
                  .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"gruppe.asm", "kaputt.step", "leer.f3d", "rohr.stl", "teil.step"}));
    EXPECT_EQ(qor::test::nodeOf(home.filePath("rohr.stl")).first, mode_t(S_IFIFO));
}

// File names are used as the bytes given: a Latin-1 input name and an output
// name with the byte 0xFF are read and written under exactly those names, and the
// lines name them as the user wrote them (a byte that is not UTF-8 as its Latin-1
// letter), never as the links that reach them.
TEST(ProgramTest, ConvertKeepsFileNamesThatAreNotUtf8)
{
    QTemporaryDir home;
    writeStep(home.filePath("teil.step"));
    const std::string folder = QFile::encodeName(home.path()).toStdString();
    const std::string latin = folder + "/lat\xe9in.step";
    ASSERT_EQ(std::rename((folder + "/teil.step").c_str(), latin.c_str()), 0);
    ASSERT_TRUE(std::filesystem::create_directory(folder + "/ordner\xe9"));
    writeStep(home.filePath("gut.step"));
    const auto convert = [&](const char* printfArgument, const QStringList& environment) {
        // The shell passes the bytes on unchanged; a QString argument would not.
        return runProgram({"-c",
                           QStringLiteral("exec \"$0\" --convert \"$(printf '%1' \"$1\" \"$1\")\"")
                               .arg(QLatin1String(printfArgument)),
                           QStringLiteral(QORCAD_BINARY), home.path()},
                          home, environment, QStringLiteral("/bin/sh"));
    };

    // A temporary folder that cannot hold the links is named, not the file.
    const QString missing = home.filePath("fehlt");
    const QString noFolder = home.filePath("gut.step");
    const struct {
        const char* argument;
        int status;
        QString out;
        QString err;
        QStringList environment;
    } cases[] = {
        {"%s/lat\\351in.step:%s/aus\\377.stl",
         0,
         QStringLiteral("STEP: 2 Körper → %1/aus\u00FF.stl\n").arg(home.path()),
         {}},
        {"%s/lat\\351in.step:%s/ordner\\351/aus.brep",
         0,
         QStringLiteral("STEP: 2 Körper → %1/ordner\u00E9/aus.brep\n").arg(home.path()),
         {}},
        {"%s/fehlt\\351.step:%s/b.stl",
         1,
         {},
         QStringLiteral("Fehler: Datei nicht gefunden: „fehlt\u00E9.step“\n")},
        {"%s/lat\\351in.step:%s/aus.stl",
         1,
         {},
         QStringLiteral("Fehler: Der temporäre Ordner „%1“ (TMPDIR) fehlt oder ist kein Ordner\n")
             .arg(missing),
         {"TMPDIR=" + missing}},
        {"%s/gut.step:%s/aus\\377.stl",
         1,
         {},
         QStringLiteral("Fehler: Der temporäre Ordner „%1“ (TMPDIR) fehlt oder ist kein Ordner\n")
             .arg(noFolder),
         {"TMPDIR=" + noFolder}},
        // Not even the system's administrator writes there.
        {"%s/lat\\351in.step:%s/aus.stl",
         1,
         {},
         QStringLiteral("Fehler: Im temporären Ordner „/proc“ (TMPDIR) kann nicht geschrieben "
                        "werden\n"),
         {"TMPDIR=/proc"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argument);
        const ProgramRun run = convert(c.argument, c.environment);
        EXPECT_EQ(run.status, c.status) << run.err.toStdString();
        EXPECT_TRUE(run.out.startsWith(c.out)) << run.out.toStdString();
        EXPECT_EQ(run.err, c.err);
    }

    // Exactly the two names, byte for byte: no stand-in was left behind and
    // nothing was written under a decoded name.
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names,
              (std::set<std::string>{"aus\xff.stl", "gut.step", "lat\xe9in.step", "ordner\xe9"}));
    std::set<std::string> inFolder;
    for (const auto& entry : std::filesystem::directory_iterator(folder + "/ordner\xe9"))
        inFolder.insert(entry.path().filename().string());
    EXPECT_EQ(inFolder, std::set<std::string>{"aus.brep"});
    // A binary STL: 80 bytes of header, the triangle count, 50 bytes a triangle.
    std::ifstream stl(folder + "/aus\xff.stl", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(stl)),
                            std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 84u);
    std::uint32_t triangles = 0;
    std::memcpy(&triangles, bytes.data() + 80, 4);
    EXPECT_GT(triangles, 0u);
    EXPECT_EQ(bytes.size(), 84 + 50 * std::size_t(triangles));
    // The toolkit cannot name these files to remove them with the folder.
    std::filesystem::remove_all(folder);
}

// An output whose name is not UTF-8 is looked at by its bytes: a named pipe or a link to a
// device under such a name is refused as under any other, and stays.
TEST(ProgramTest, ConvertRefusesNodesWhoseNamesAreNotUtf8)
{
    QTemporaryDir home;
    writeStep(home.filePath("teil.step"));
    const QByteArray folder = QFile::encodeName(home.path());
    const QByteArray pipe = folder + "/rohr\xe9.stl";
    const QByteArray device = folder + "/ger\xe4t.stl";
    ASSERT_EQ(::mkfifo(pipe.constData(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/null", device.constData()), 0);
    const struct {
        const char* printfArgument;
        const QByteArray* node;
        mode_t type;
        QString err;
    } cases[] = {
        {"%s/teil.step:%s/rohr\\351.stl", &pipe, S_IFIFO,
         QStringLiteral("Fehler: „rohr\u00E9.stl“ ist eine benannte Pipe und wird nicht "
                        "überschrieben\n")},
        {"%s/teil.step:%s/ger\\344t.stl", &device, S_IFLNK,
         QStringLiteral("Fehler: „ger\u00E4t.stl“ ist eine Gerätedatei und wird nicht "
                        "überschrieben\n")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.printfArgument);
        const ProgramRun run
            = runProgram({"-c",
                          QStringLiteral("exec \"$0\" --convert \"$(printf '%1' \"$1\" \"$1\")\"")
                              .arg(QLatin1String(c.printfArgument)),
                          QStringLiteral(QORCAD_BINARY), home.path()},
                         home, {}, QStringLiteral("/bin/sh"));
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, c.err);
        EXPECT_TRUE(run.out.isEmpty());
        struct stat status { };
        ASSERT_EQ(::lstat(c.node->constData(), &status), 0);
        EXPECT_EQ(status.st_mode & S_IFMT, c.type);
    }
    // Nothing else was left in the folder either.
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.toStdString()))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"ger\xe4t.stl", "rohr\xe9.stl", "teil.step"}));
    std::filesystem::remove_all(folder.toStdString());
}

// A damaged file may hold a triangulation that names nodes it does not have. An
// open face has no volume to measure, and the mesh export leaves the bad triangle out.
TEST(ProgramTest, ConvertSkipsTrianglesWithoutNodes)
{
    QTemporaryDir home;
    BRepTools::Write(qor::fixtures::triangleNamingAMissingNode(),
                     home.filePath("netz.brep").toLocal8Bit().constData());

    const ProgramRun run = runProgram(
        {"--convert", home.filePath("netz.brep") + ":" + home.filePath("netz.ply")}, home);
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    // The one triangle left is open all round.
    EXPECT_TRUE(run.out.contains("  netz: 1 Fläche, 0 Schalen, 0 Volumenkörper, 3 offene Kanten, "
                                 "Volumen nicht messbar (Netz "
                                 "nicht geschlossen)\n"))
        << run.out.toStdString();
    EXPECT_TRUE(readFile(home.filePath("netz.ply")).contains("\nelement face 1\n"));
}

// A cube of 10 mm read from STL, whole and with the faults a mesh file can have:
// the summary counts the open edges of its triangles and gives the volume they
// enclose with its sign, as the written file holds them (three edges round a
// missing triangle, 10³ mm³ whole and −10³ inside out, from the cube's size);
// every fault is named in a note.
TEST(ProgramTest, ConvertOfMeshBodiesCountsTheirTriangles)
{
    using namespace qor::fixtures;
    const auto [whole, missing, sideTurned, insideOut] = faultyCubes();
    // Beside the cube, apart from it, a 5 mm cube turned inside out.
    std::vector<Triangle> besideTurned = whole;
    for (const Triangle& t : cube(5.0f, 20.0f))
        besideTurned.push_back(turned(t));
    const struct {
        const char* what;
        std::vector<Triangle> triangles;
        int open;
        double volume; // 0 where the directed edges do not all pair
        const char* parts; // what the summary line says of parts turned inside out
    } cases[] = {
        {"whole", whole, 0, 1000.0, ""},
        {"one triangle missing", missing, 3, 0.0, ""},
        {"one side turned", sideTurned, 0, 0.0, ""},
        {"inside out", insideOut, 0, -1000.0,
         ", 1 von 1 geschlossenem Teil nach innen gekehrt (-1.000,0 mm³)"},
        {"beside a cube turned inside out", besideTurned, 0, 875.0,
         ", 1 von 2 geschlossenen Teilen nach innen gekehrt (-125,0 mm³)"},
    };
    QTemporaryDir home;
    static const QRegularExpression line(
        QStringLiteral("  wuerfel: 1 Fläche, 0 Schalen, 0 Volumenkörper, (\\d+) offene Kanten?, "
                       "Volumen (?:(-?[\\d.]+,\\d) mm³|nicht messbar \\(Netz nicht geschlossen\\))"
                       "([^\n]*)\n"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QString input = home.filePath("wuerfel.stl");
        const QString output = home.filePath("aus.stl");
        writeFile(input, binaryStl(c.triangles, std::uint32_t(c.triangles.size())));
        const ProgramRun run = runProgram({"--convert", input + ":" + output}, home);
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        const QRegularExpressionMatch match = line.match(run.out);
        ASSERT_TRUE(match.hasMatch()) << run.out.toStdString();
        const Soup soup = soupOfFile(output);
        EXPECT_EQ(openEdges(soup, 0.0), c.open);
        EXPECT_EQ(match.captured(1).toInt(), openEdges(soup, 0.0));
        const double enclosed = unpairedDirectedEdges(soup, 0.0) == 0 ? signedVolume(soup) : 0.0;
        EXPECT_NEAR(enclosed, c.volume, 1e-3);
        // A mesh whose directed edges do not all pair encloses no volume to measure.
        EXPECT_EQ(match.captured(2).isEmpty(), unpairedDirectedEdges(soup, 0.0) > 0);
        EXPECT_NEAR(match.captured(2).remove(u'.').replace(u',', u'.').toDouble(), enclosed, 0.05);
        EXPECT_EQ(match.captured(3).toStdString(), c.parts);
        EXPECT_EQ(run.out.contains(QStringLiteral("Hinweis: ")), c.triangles != whole)
            << run.out.toStdString();
    }
}

// A damaged mesh file gives one German line on standard error, without the kernel's
// English reports before it; a flaw the reader skips over leaves standard error empty.
// A closed mesh has its volume in the summary.
TEST(ProgramTest, ConvertOfMeshFilesSpeaksGermanOnly)
{
    QTemporaryDir home;
    const QByteArray tetrahedron = "v 0 0 0\nv 6 0 0\nv 0 6 0\nv 0 0 6\n"
                                   "f 1 3 2\nf 1 2 4\nf 1 4 3\nf 2 3 4\n";
    const struct {
        const char* name;
        QByteArray content;
        int status;
        const char* out; // the body line of the summary
        const char* err;
    } cases[] = {
        {"kaputt.gltf", R"({"asset":{"version":"2.0"},"meshes":5})", 1, "",
         "Fehler: glTF-Datei konnte nicht gelesen werden\n"},
        {"kaputt.glb", "glTF\x02\x00\x00\x00", 1, "",
         "Fehler: glTF-Datei konnte nicht gelesen werden\n"},
        {"fehlecke.obj", tetrahedron + "f 1 2 99\n", 0,
         "  fehlecke.obj: 1 Fläche, 0 Schalen, 0 Volumenkörper, 0 offene Kanten, Volumen 36,0 "
         "mm³\n",
         ""},
        {"tetraeder.obj", tetrahedron, 0,
         "  tetraeder.obj: 1 Fläche, 0 Schalen, 0 Volumenkörper, 0 offene Kanten, Volumen 36,0 "
         "mm³\n",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(home.filePath(c.name), c.content);
        const ProgramRun run = runProgram(
            {"--convert", home.filePath(c.name) + ":" + home.filePath("aus.stl")}, home);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.err, QString::fromUtf8(c.err));
        const QString out = QString::fromUtf8(c.out);
        EXPECT_TRUE(out.isEmpty() ? run.out.isEmpty() : run.out.endsWith(out))
            << run.out.toStdString();
    }
    // A real file whose default scene has the wrong type.
    const QString real
        = QStringLiteral("/usr/share/assimp/models/glTF2/SchemaFailures/sceneWrongType.gltf");
    if (!QFile::exists(real))
        GTEST_SKIP() << "assimp test models not installed";
    const ProgramRun run = runProgram({"--convert", real + ":" + home.filePath("aus.stl")}, home);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, QStringLiteral("Fehler: glTF-Datei konnte nicht gelesen werden\n"));
}

// Files that crash the kernel's readers, keep them busy for ever or would walk a huge
// instance graph end the conversion within seconds with one German line on standard error
// and nothing written; a nested file's reason is not prefixed twice, and a folder is named
// as one.
TEST(ProgramTest, ConvertOfHostileFilesEndsInOneLine)
{
    QTemporaryDir home;
    const QString out = home.filePath("aus.step");
    struct Case {
        const char* name;
        QByteArray bytes;
        const char* error;
    };
    const Case cases[] = {
        {"selbst.step", qor::fixtures::stepSelfPlacedAssembly(),
         "Fehler: „selbst.step“ ließ sich nicht lesen: der Leseprozess wurde beendet (Absturz)\n"},
        {"verdoppelt.step", qor::fixtures::stepDoublingAssembly(40),
         "Fehler: Die Datei platziert 1.099.511.627.776 Körper; mehr als 50.000 werden nicht "
         "gelesen\n"},
        {"verdoppelt.igs", qor::fixtures::igesDoublingSubfigures(40),
         "Fehler: Die Datei platziert 1.099.511.627.776 Körper; mehr als 50.000 werden nicht "
         "gelesen\n"},
        {"verdoppelt.gltf", qor::fixtures::gltfDoublingNodes(40),
         "Fehler: Die Datei platziert 1.099.511.627.776 Körper; mehr als 50.000 werden nicht "
         "gelesen\n"},
        {"klammern.step", qor::fixtures::stepNestedParens(100000),
         "Fehler: STEP-Datei ist zu tief verschachtelt (mehr als 256 Klammerebenen)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString input = home.filePath(QString::fromUtf8(c.name));
        writeFile(input, c.bytes);
        const double before = qor::test::cpuSeconds(RUSAGE_CHILDREN);
        const ProgramRun run = runProgram({"--convert", input + ":" + out}, home);
        EXPECT_LT(qor::test::cpuSeconds(RUSAGE_CHILDREN) - before, 30.0);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err.toStdString(), std::string(c.error));
        EXPECT_TRUE(run.out.isEmpty());
        EXPECT_FALSE(QFileInfo::exists(out));
    }
    QDir(home.path()).mkdir("ordner");
    const ProgramRun folder = runProgram({"--convert", home.filePath("ordner") + ":" + out}, home);
    EXPECT_EQ(folder.status, 1);
    EXPECT_EQ(folder.err.toStdString(), "Fehler: „ordner“ ist ein Ordner und wird nicht gelesen\n");
}

namespace {

// The bytes of the file at path, whatever its name's bytes.
std::string bytesAt(const QByteArray& path)
{
    std::ifstream in(path.toStdString(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What a stream written by the conversion holds.
QString streamText(std::FILE* stream)
{
    std::fflush(stream);
    std::rewind(stream);
    QByteArray bytes;
    char buffer[4096];
    while (const std::size_t got = std::fread(buffer, 1, sizeof buffer, stream))
        bytes.append(buffer, qsizetype(got));
    return QString::fromUtf8(bytes);
}

} // namespace

// Someone who may write to the output's folder swaps the staging folder of a conversion to
// a Latin-1 name for a link to another folder the moment it appears: the conversion ends
// with a German error, the old output stays as it was and the linked folder keeps every
// file. Conversions are repeated until one was refused.
TEST(ProgramTest, ConvertingBesideSomeoneSwappingTheStagingFolderLeavesTheLinkedFolderAlone)
{
    QTemporaryDir home;
    const QByteArray base = QFile::encodeName(home.path());
    const auto [folder, victim, made] = qor::fixtures::makeSharedFolders(base);
    ASSERT_TRUE(made);
    BRepTools::Write(BRepPrimAPI_MakeBox(10, 20, 30).Shape(), (base + "/quader.brep").constData());
    const QByteArray output = folder + "/w\xfcrfel.step";
    writeFile(QFile::decodeName(folder) + QStringLiteral("/platziert"), "alt");
    ASSERT_EQ(::rename((folder + "/platziert").constData(), output.constData()), 0);
    qor::io::startReaderServer(qor::io::readerProgram());

    int refused = 0;
    {
        qor::fixtures::StagingThief thief(folder, victim);
        ASSERT_TRUE(thief.watching());
        for (int attempt = 0; attempt < 40 && refused == 0; ++attempt) {
            SCOPED_TRACE(attempt);
            const std::string before = bytesAt(output);
            std::FILE* out = std::tmpfile();
            std::FILE* err = std::tmpfile();
            const int status = runConversion(base + "/quader.brep:" + output, out, err);
            const QString said = streamText(err);
            std::fclose(out);
            std::fclose(err);
            if (status != 0) {
                ++refused;
                EXPECT_TRUE(said.startsWith(
                    QStringLiteral("Fehler: „%1/würfel.step“ kann nicht geschrieben werden: Der "
                                   "Zwischenordner „")
                        .arg(QString::fromUtf8(folder))))
                    << said.toStdString();
                EXPECT_EQ(bytesAt(output), before);
            } else {
                EXPECT_EQ(bytesAt(output).rfind("ISO-10303-21;", 0), 0u);
            }
            ASSERT_TRUE(qor::fixtures::victimFolderWhole(victim));
        }
        EXPECT_GT(thief.finish(), 0);
    }
    EXPECT_GT(refused, 0);
    EXPECT_TRUE(qor::fixtures::victimFolderWhole(victim));
    std::filesystem::remove_all(base.toStdString());
}

namespace {

// The conversion in a child of this process whose address space is capped at what it uses
// now plus extraBytes, as when a limit is put on the running program: the reader server
// started before, without the cap. Returns the child's standard error.
QString convertWithCappedMemory(const QByteArray& argument, qint64 extraBytes,
                                const QTemporaryDir& home)
{
    const QByteArray errPath = QFile::encodeName(home.filePath("fehler.txt"));
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        std::FILE* err = std::fopen(errPath.constData(), "w");
        std::FILE* out = std::fopen("/dev/null", "w");
        const rlimit cap{rlim_t(qor::test::statusKilobytes("VmSize:") * 1024 + extraBytes),
                         RLIM_INFINITY};
        ::setrlimit(RLIMIT_AS, &cap);
        int status = 1;
        try {
            status = runConversion(argument, out, err);
        } catch (const std::exception& e) {
            std::fprintf(err, "nicht abgefangen: %s\n", e.what());
        }
        std::fflush(nullptr);
        ::_exit(status);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    return QString::fromUtf8(readFile(home.filePath("fehler.txt")));
}

} // namespace

// A conversion that runs short of memory in this process, wherever that happens (taking
// the reader's answer, measuring, meshing for the export), says so in German: never a
// library's own text, a damaged answer or a failed step.
TEST(ProgramTest, ConvertShortOfMemorySaysSoInGerman)
{
    QTemporaryDir home;
    // Triangles that share no corner: the measuring needs more memory than the answer.
    std::vector<qor::fixtures::Triangle> triangles;
    constexpr int count = 600000;
    triangles.reserve(count);
    for (int i = 0; i < count; ++i) {
        const float x = float(i % 1000) * 3;
        const float y = float(i / 1000) * 3;
        triangles.push_back({{{x, y, 0}, {x + 1, y, 0}, {x, y + 1, 0}}});
    }
    const QString input = home.filePath("suppe.stl");
    writeFile(input, qor::fixtures::binaryStl(triangles, count));
    triangles = {};
    qor::io::startReaderServer(qor::io::readerProgram());
    const QByteArray argument = QFile::encodeName(input + ":" + home.filePath("aus.stl"));
    // From too little to enough; on the machine this was written on, taking the answer ran
    // short below about 280 MB and the export's meshing up to about 320 MB.
    const qint64 extras[] = {32, 96, 160, 224, 272, 304, 336, 768};
    int failed = 0;
    for (const qint64 extraMegabytes : extras) {
        SCOPED_TRACE(extraMegabytes);
        const QString err = convertWithCappedMemory(argument, extraMegabytes << 20, home);
        if (err.isEmpty())
            continue;
        ++failed;
        EXPECT_TRUE(err.startsWith("Fehler: Zu wenig Arbeitsspeicher: „suppe.stl“")
                    || err.startsWith("Fehler: Zu wenig Arbeitsspeicher: Export an „suppe“"))
            << err.toStdString();
        EXPECT_EQ(err.count('\n'), 1);
    }
    EXPECT_GT(failed, 0);
    EXPECT_LT(failed, int(std::size(extras)));
}
