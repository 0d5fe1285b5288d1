#include "io/Zip.h"
#include "io/sab/SabGeometry.h"
#include "tests/common/CpuTime.h"
#include "tests/fixtures/SabFixtures.h"
#include "tests/io/IoTestSupport.h"
#include "tests/common/Seeds.h"

#include <BRep_Tool.hxx>
#include <Geom_BSplineCurve.hxx>
#include <Geom_Circle.hxx>
#include <Geom_ConicalSurface.hxx>
#include <Geom_CylindricalSurface.hxx>
#include <Geom_Ellipse.hxx>
#include <Geom_Plane.hxx>
#include <Geom_SphericalSurface.hxx>
#include <Geom_ToroidalSurface.hxx>
#include <Standard_Failure.hxx>
#include <TopExp.hxx>
#include <TopoDS.hxx>

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <random>

using namespace qor::io;
using qor::test::SabWriter;

namespace {

const gp_XYZ origin(0, 0, 0);
const gp_XYZ xAxis(1, 0, 0);
const gp_XYZ zAxis(0, 0, 1);

// A read that owns its bytes, so the records stay valid for the builder.
struct Parsed {
    QByteArray bytes;
    SabReader reader;

    explicit Parsed(const QByteArray& data, std::int64_t budget = 0)
        : bytes(data)
    {
        if (budget != 0)
            reader.valuesLeft = budget;
        reader.read(bytes);
    }
    const SabRecord& last() const { return reader.records.back(); }
};

QString readError(const QByteArray& bytes, std::int64_t budget = 0)
{
    try {
        Parsed parsed(bytes, budget);
    } catch (const SabError& e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

// Converts a record the way the face builder would, by its kind.
void convert(SabBuilder& builder, const SabRecord& record)
{
    const std::string& type = record.type;
    if (type == "vertex")
        builder.vertexFor(record);
    else if (type == "edge")
        builder.edgeFor(record);
    else if (type.ends_with("-surface"))
        builder.surfaceFor(record);
    else
        builder.curveFor(record);
}

} // namespace

TEST(SabParse, HeaderWidthsAndUnitFactor)
{
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* magic;
        double factor;
        double unitScale;
        int intWidth;
    };
    for (const Case& c :
         {Case{"ACIS BinaryFile", 25.4, 25.4, 4}, Case{"ASM BinaryFile4", 0, 1, 4},
          Case{"ASM BinaryFile8", -1, 1, 8}, Case{"ASM BinaryFile4", inf, 1, 4},
          Case{"ACIS BinaryFile", std::nan(""), 1, 4}, Case{"ASM BinaryFile4", 1e300, 1, 4}}) {
        SabWriter w(c.magic, c.factor);
        w.begin("rec").integer(-2).pointer(300).tag(21);
        w.bytes.append(QByteArray(w.intWidth - 1, '\0')).append('\x05');
        w.tag(23).bytes.append(QByteArray("\xfe\xff\xff\xff\xff\xff\xff\xff", 8));
        Parsed parsed(w.end().bytes);
        SCOPED_TRACE(c.magic);
        EXPECT_EQ(parsed.reader.unitScale, c.unitScale);
        const auto& fields = parsed.last().fields;
        ASSERT_EQ(fields.size(), 7u);
        EXPECT_EQ(fields[3].integer, -2);
        EXPECT_EQ(fields[4].kind, SabValueKind::Pointer);
        EXPECT_EQ(fields[4].integer, 300);
        EXPECT_EQ(fields[5].kind, SabValueKind::Enum);
        EXPECT_EQ(fields[5].integer, std::int64_t(5) << (8 * (c.intWidth - 1)));
        EXPECT_EQ(fields[6].integer, -2);
    }
    SabWriter integerFactor;
    integerFactor.bytes.chop(27); // the three reals
    integerFactor.integer(10).real(1e-6).real(1e-10);
    EXPECT_EQ(Parsed(integerFactor.bytes).reader.unitScale, 1.0);
}

TEST(SabParse, ValuesDecodeByTag)
{
    SabWriter w;
    w.begin("v").tag(5).bytes.append(QByteArray("\x00\x00\xc0\x3f", 4));
    w.tag(2).bytes.append('\xff');
    w.tag(3).bytes.append("\xff\xff");
    w.tag(8).bytes.append(QByteArray("\x03\x00"
                                     "abc",
                                     5));
    w.tag(22).bytes.append(QByteArray(16, '\0'));
    w.tag(15).tag(16).flag(true).end();
    const auto& f = Parsed(w.bytes).last().fields;
    ASSERT_EQ(f.size(), 11u);
    EXPECT_EQ(f[3].kind, SabValueKind::Real);
    EXPECT_EQ(f[3].number(), 1.5);
    EXPECT_EQ(f[4].integer, 255);
    EXPECT_EQ(f[5].integer, -1);
    EXPECT_EQ(f[5].number(), -1.0);
    EXPECT_EQ(f[6].text, "abc");
    EXPECT_EQ(f[7].kind, SabValueKind::Vector2);
    EXPECT_EQ(f[10].kind, SabValueKind::True);
}

TEST(SabParse, RecordIndicesNamesAndEndMarkers)
{
    SabWriter w;
    w.integer(7).begin("plane-surface").end(); // ordinal 0, index 7
    w.begin("point").end(); // ordinal 1
    w.integer(1).begin("body").end(); // ordinal 2 takes index 1 over the point
    w.begin("End-of-mark").begin("x").end(); // not the final marker: reading goes on
    w.endOfData().begin("after").end();
    Parsed parsed(w.bytes);
    const auto& records = parsed.reader.records;
    ASSERT_EQ(records.size(), 6u);
    EXPECT_EQ(records[0].index, 7);
    EXPECT_EQ(records[0].type, "plane-surface");
    EXPECT_EQ(records[1].index, 1);
    EXPECT_EQ(records[3].type, "End-of-mark");
    EXPECT_TRUE(records[3].fields.empty());
    EXPECT_EQ(records[5].type, "End-of-ACIS-data");
    const SabIndex index = buildSabIndex(records);
    EXPECT_EQ(index.at(7), &records[0]);
    EXPECT_EQ(index.at(1)->type, "body");

    // Without a marker the last record runs to the final byte.
    SabWriter open;
    open.begin("tail").integer(3);
    EXPECT_EQ(Parsed(open.bytes).last().fields.size(), 4u);

    SabFieldCursor cursor{&records[0], 2};
    EXPECT_EQ(cursor.take().integer, -1);
    try {
        cursor.take();
        ADD_FAILURE() << "no error past the last field";
    } catch (const SabError& e) {
        EXPECT_STREQ(e.what(), "Datensatz plane-surface zu kurz");
    }
}

TEST(SabParse, EveryErrorHasItsMessage)
{
    for (const auto& fixture : qor::test::sabErrorFixtures()) {
        SCOPED_TRACE(fixture.name);
        if (!fixture.convertLast) {
            EXPECT_EQ(readError(fixture.bytes, fixture.budget), fixture.message);
            continue;
        }
        Parsed parsed(fixture.bytes);
        SabBuilder builder(parsed.reader);
        try {
            convert(builder, parsed.last());
            ADD_FAILURE() << "converted";
        } catch (const SabError& e) {
            EXPECT_EQ(QString::fromUtf8(e.what()), fixture.message);
        }
        EXPECT_TRUE(builder.edges.empty()); // nothing half-built is kept
    }
}

TEST(SabGeometry, EllipsesKeepTheirMajorAxis)
{
    struct Case {
        double ratio;
        double major;
        double minor;
        gp_Dir xDirection;
    };
    for (const Case& c :
         {Case{1.0, 10, 10, gp::DX()}, Case{0.5, 10, 5, gp::DX()}, Case{2.0, 20, 10, gp::DY()}}) {
        Parsed parsed(SabWriter().ellipseRecord(origin, zAxis, gp_XYZ(10, 0, 0), c.ratio).bytes);
        SabBuilder builder(parsed.reader);
        const Handle(Geom_Curve) curve = builder.curveFor(parsed.last());
        SCOPED_TRACE(c.ratio);
        EXPECT_EQ(curve, builder.curveFor(parsed.last()));
        const Handle(Geom_Conic) conic = Handle(Geom_Conic)::DownCast(curve);
        ASSERT_FALSE(conic.IsNull());
        EXPECT_EQ(curve->IsKind(STANDARD_TYPE(Geom_Circle)), c.ratio == 1.0);
        EXPECT_TRUE(conic->XAxis().Direction().IsParallel(c.xDirection, 1e-12));
        if (const auto ellipse = Handle(Geom_Ellipse)::DownCast(curve); !ellipse.IsNull()) {
            EXPECT_EQ(ellipse->MajorRadius(), c.major);
            EXPECT_EQ(ellipse->MinorRadius(), c.minor);
        } else {
            EXPECT_EQ(Handle(Geom_Circle)::DownCast(curve)->Radius(), c.major);
        }
    }
}

TEST(SabGeometry, AnalyticSurfacesAndTheirSense)
{
    SabWriter w;
    w.begin("plane-surface").position(gp_XYZ(0, 0, 2)).vector(zAxis).vector(gp_XYZ(1, 1, 5)).end();
    w.begin("cone-surface").position(origin).vector(zAxis).vector(gp_XYZ(3, 0, 0)).real(1);
    w.integer(0).integer(0).real(0).real(-1).end();
    w.begin("cone-surface").position(origin).vector(zAxis).vector(gp_XYZ(3, 0, 0)).real(1);
    w.integer(0).integer(0).real(0.5).real(std::sqrt(0.75)).end();
    w.begin("sphere-surface").position(origin).real(-5).vector(xAxis).vector(zAxis).end();
    w.begin("torus-surface").position(origin).vector(zAxis).real(10).real(-2).vector(xAxis).end();
    w.begin("spline-surface").end();
    Parsed parsed(w.bytes);
    SabBuilder builder(parsed.reader);
    std::vector<SabSurface> s;
    for (const SabRecord& record : parsed.reader.records)
        s.push_back(builder.surfaceFor(record));
    ASSERT_EQ(s.size(), 6u);

    const auto plane = Handle(Geom_Plane)::DownCast(s[0].surface);
    ASSERT_FALSE(plane.IsNull());
    EXPECT_TRUE(plane->Position().XDirection().IsEqual(gp_Dir(1, 1, 0), 1e-12));
    EXPECT_NEAR(plane->Location().Z(), 2, 1e-12);
    const auto cylinder = Handle(Geom_CylindricalSurface)::DownCast(s[1].surface);
    ASSERT_FALSE(cylinder.IsNull());
    EXPECT_NEAR(cylinder->Radius(), 3, 1e-12);
    EXPECT_TRUE(s[1].reversed);
    const auto cone = Handle(Geom_ConicalSurface)::DownCast(s[2].surface);
    ASSERT_FALSE(cone.IsNull());
    EXPECT_NEAR(cone->SemiAngle(), std::numbers::pi / 6, 1e-12);
    EXPECT_FALSE(s[2].reversed);
    const auto sphere = Handle(Geom_SphericalSurface)::DownCast(s[3].surface);
    ASSERT_FALSE(sphere.IsNull());
    EXPECT_EQ(sphere->Radius(), 5);
    EXPECT_TRUE(s[3].reversed);
    const auto torus = Handle(Geom_ToroidalSurface)::DownCast(s[4].surface);
    ASSERT_FALSE(torus.IsNull());
    EXPECT_EQ(torus->MinorRadius(), 2);
    EXPECT_EQ(torus->MajorRadius(), 10);
    EXPECT_TRUE(s[4].reversed);
    EXPECT_TRUE(s[5].surface.IsNull());
}

TEST(SabGeometry, IntcurveSplines)
{
    const std::vector<gp_XYZ> poles{origin, {1, 1, 0}, {2, 1, 0}, {3, 0, 0}, {4, 1, 0}, {5, 0, 0}};
    const std::vector<double> knots{0, 1, 2, 3};
    for (bool rational : {false, true}) {
        SabWriter w;
        w.splineCurveRecord(true, 3, knots, {3, 1, 1, 3}, poles,
                            rational ? std::vector<double>(6, 2.0) : std::vector<double>{});
        Parsed parsed(w.bytes);
        SabBuilder builder(parsed.reader);
        const auto spline = Handle(Geom_BSplineCurve)::DownCast(builder.curveFor(parsed.last()));
        ASSERT_FALSE(spline.IsNull());
        EXPECT_EQ(spline->NbPoles(), 6);
        EXPECT_EQ(spline->Multiplicity(1), 4);
        EXPECT_EQ(spline->Multiplicity(2), 1);
        EXPECT_EQ(spline->Multiplicity(4), 4);
        // Reversed by its sense: it starts at the last pole.
        EXPECT_TRUE(spline->StartPoint().IsEqual(gp_Pnt(5, 0, 0), 1e-12));
        // Without the fit tolerance the record ends with its last pole; one
        // number fewer and the curve fails before reading past the record.
        auto& fields = parsed.reader.records.back().fields;
        fields.pop_back();
        SabBuilder exact(parsed.reader);
        EXPECT_NO_THROW(exact.curveFor(parsed.last()));
        fields.pop_back();
        SabBuilder cut(parsed.reader);
        EXPECT_THROW(cut.curveFor(parsed.last()), SabError);
    }
}

TEST(SabGeometry, EdgesShareVerticesAndFallBackToProjection)
{
    SabWriter w;
    w.lineRecord(origin, xAxis); // 0
    w.pointRecord(origin).pointRecord(gp_XYZ(4, 0, 0)); // 1, 2
    w.vertexRecord(1).vertexRecord(2); // 3, 4
    w.edgeRecord(3, 4, 0, false); // 5
    w.edgeRecord(-1, 4, 0, false); // 6: over the whole line
    w.ellipseRecord(gp_XYZ(4, 3, 0), zAxis, gp_XYZ(0, -3, 0), 1); // 7: passes through vertex 4
    w.edgeRecord(4, 4, 7, false); // 8: closed circle
    w.pointRecord(gp_XYZ(8, 0.001, 0)).vertexRecord(9); // 9, 10: off the line
    w.edgeRecord(4, 10, 0, true); // 11
    Parsed parsed(w.bytes);
    SabBuilder builder(parsed.reader);
    const auto& r = parsed.reader.records;

    const TopoDS_Edge line = builder.edgeFor(r[5]);
    EXPECT_TRUE(line.IsSame(builder.edgeFor(r[5])));
    TopoDS_Vertex first, last;
    TopExp::Vertices(line, first, last);
    EXPECT_TRUE(last.IsSame(builder.vertexFor(r[4])));
    EXPECT_NEAR(BRep_Tool::Pnt(last).X(), 4, 1e-12);

    double f = 0, l = 0;
    const TopoDS_Edge whole = builder.edgeFor(r[6]);
    BRep_Tool::Range(whole, f, l);
    EXPECT_TRUE(Precision::IsNegativeInfinite(f) && Precision::IsPositiveInfinite(l));

    const TopoDS_Edge circle = builder.edgeFor(r[8]);
    BRep_Tool::Range(circle, f, l);
    EXPECT_NEAR(l - f, 2 * std::numbers::pi, 1e-9);
    EXPECT_TRUE(BRep_Tool::IsClosed(circle));

    // The reversed line runs towards -x, so the projected range ends at -4 and -8.
    const TopoDS_Edge skew = builder.edgeFor(r[11]);
    BRep_Tool::Range(skew, f, l);
    EXPECT_NEAR(f, -8, 1e-9);
    EXPECT_NEAR(l, -4, 1e-9);
    EXPECT_NEAR(BRep_Tool::Tolerance(builder.vertexFor(r[10])), 0.0015, 1e-9);
    EXPECT_EQ(builder.curves.size(), 2u);
    EXPECT_EQ(builder.vertices.size(), 3u);
}

namespace {

// Every record kind the geometry layer converts, with shared and self pointers.
QByteArray mutationSeed()
{
    SabWriter w("ASM BinaryFile4", 10);
    w.lineRecord(origin, xAxis).pointRecord(origin).pointRecord(gp_XYZ(4, 0, 0));
    w.vertexRecord(1).vertexRecord(2).edgeRecord(3, 4, 0, false);
    w.ellipseRecord(gp_XYZ(4, 3, 0), zAxis, gp_XYZ(0, -3, 0), 0.5).edgeRecord(4, 4, 6, true);
    w.splineCurveRecord(false, 2, {0, 1, 2}, {2, 1, 2}, {origin, {1, 1, 0}, {2, 0, 0}, {3, 1, 0}});
    w.edgeRecord(3, 4, 8, false).edgeRecord(9, 9, 9, false);
    w.begin("plane-surface").position(origin).vector(zAxis).vector(xAxis).end();
    w.begin("cone-surface").position(origin).vector(zAxis).vector(gp_XYZ(3, 0, 0)).real(1);
    w.integer(0).integer(0).real(0.5).real(-0.8).end();
    w.begin("torus-surface").position(origin).vector(zAxis).real(10).real(-2).vector(xAxis).end();
    return w.endOfData().bytes;
}

} // namespace

TEST(SabParse, MutatedFilesFailCleanly)
{
    std::vector<QByteArray> seeds{mutationSeed()};
    for (const auto& fixture : qor::test::sabErrorFixtures())
        seeds.push_back(fixture.bytes);
    std::mt19937 gen(qor::test::seed(2604));
    int converted = 0;
    for (int i = 0; i < 400; ++i) {
        const QByteArray bytes = qor::test::mutateSab(seeds[std::size_t(i) % seeds.size()], gen);
        const double before = qor::test::cpuSeconds();
        try {
            Parsed parsed(bytes);
            SabBuilder builder(parsed.reader);
            for (const SabRecord& record : parsed.reader.records) {
                try {
                    convert(builder, record);
                    ++converted;
                } catch (const SabError&) {
                } catch (const Standard_Failure&) {
                }
            }
        } catch (const SabError&) {
        }
        EXPECT_LT(qor::test::cpuSeconds() - before, 2.0) << "case " << i;
    }
    EXPECT_GT(converted, 100); // most mutants still carry convertible records
}

namespace {

// The body entries of a Fusion archive, also those of archives nested in it.
void collectSmb(const QByteArray& archive, const QString& name, int depth,
                std::vector<std::pair<QString, QByteArray>>& out)
{
    qor::ZipReader zip;
    if (depth > 2 || !zip.open(archive))
        return;
    for (const qor::ZipEntry& entry : zip.entries) {
        const QString lower = entry.name.toLower();
        const QString label = name + QLatin1Char('/') + entry.name;
        if (lower.endsWith(QStringLiteral(".smb")))
            out.emplace_back(label, zip.readEntry(entry, 64 << 20));
        else if (lower.endsWith(QStringLiteral(".f3d")))
            collectSmb(zip.readEntry(entry, 256 << 20), label, depth + 1, out);
    }
}

} // namespace

// Real ACIS data from other programs: every stream reads to its end marker, and
// in those with body records nearly every geometry record converts.
TEST(SabParse, RealFilesReadAndConvert)
{
    const QDir dir(qor::test::readerFilesFolder());
    if (!dir.exists())
        GTEST_SKIP() << "no folder of real files";
    std::vector<std::pair<QString, QByteArray>> streams;
    for (const QString& name : dir.entryList(QDir::Files)) {
        QFile file(dir.filePath(name));
        const QString lower = name.toLower();
        if (!lower.endsWith(QStringLiteral(".sab")) && !lower.endsWith(QStringLiteral(".f3d"))
            && !lower.endsWith(QStringLiteral(".f3z")))
            continue;
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        if (lower.endsWith(QStringLiteral(".sab")))
            streams.emplace_back(name, file.readAll());
        else
            collectSmb(file.readAll(), name, 0, streams);
    }
    EXPECT_GE(streams.size(), 4u);
    for (const auto& [name, bytes] : streams) {
        SCOPED_TRACE(name.toStdString());
        Parsed parsed(bytes);
        const auto& records = parsed.reader.records;
        ASSERT_FALSE(records.empty());
        EXPECT_TRUE(records.back().type.starts_with("End-of-"));
        EXPECT_GT(parsed.reader.unitScale, 0.0);
        SabBuilder builder(parsed.reader);
        int bodies = 0, geometry = 0, failed = 0, splineSurfaces = 0;
        QStringList errors;
        for (const SabRecord& record : records) {
            const std::string& type = record.type;
            bodies += type == "body";
            if (type != "vertex" && type != "edge" && !type.ends_with("-curve")
                && !type.ends_with("-surface"))
                continue;
            ++geometry;
            try {
                convert(builder, record);
                if (type.ends_with("-surface") && builder.surfaceFor(record).surface.IsNull())
                    ++splineSurfaces;
            } catch (const SabError& e) {
                ++failed;
                addWarningOnce(errors, QString::fromUtf8(e.what()));
            } catch (const Standard_Failure& e) {
                ++failed;
                addWarningOnce(errors, QString::fromUtf8(e.GetMessageString()));
            }
        }
        std::printf("%s: %zu records, unit %g, %d bodies, %d geometry records, %d spline "
                    "surfaces, %d failed %s\n",
                    qPrintable(name), records.size(), parsed.reader.unitScale, bodies, geometry,
                    splineSurfaces, failed, qPrintable(errors.join(QStringLiteral(" | "))));
        // ACIS 28 streams name repeated types by reference ("%" and a number),
        // so they hold no record named "body" and the reader finds no body.
        if (bodies == 0)
            continue;
        EXPECT_GT(geometry, 0);
        EXPECT_LE(failed * 20, geometry);
        for (const auto& [record, vertex] : builder.vertices) {
            const gp_Pnt p = BRep_Tool::Pnt(TopoDS::Vertex(vertex));
            EXPECT_LT(p.XYZ().Modulus(), 1e6);
        }
    }
}
