#include "io/cfb/CompoundFile.h"
#include "io/xt/XtGeometry.h"
#include "io/xt/XtSchema.h"
#include "tests/common/CpuTime.h"
#include "tests/fixtures/XtFixtures.h"
#include "tests/io/IoTestSupport.h"
#include "tests/common/Seeds.h"

#include <Standard_Failure.hxx>

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <iostream>
#include <random>

using namespace qor::io;
using qor::fixtures::XtBytes;
using qor::fixtures::XtFileWriter;

namespace {

// The message of the XtError that f throws, or "" when it throws none.
template <typename F> std::string xtFailure(F&& f)
{
    try {
        f();
    } catch (const XtError& e) {
        return e.what();
    }
    return {};
}

XtStream streamOver(const QByteArray& bytes)
{
    return XtStream(bytes, 0);
}

} // namespace

TEST(XtStreamTest, DecodesTheXtIntegerEncoding)
{
    const struct {
        QByteArray bytes;
        qint64 value;
    } cases[] = {
        {XtBytes().i16(1).bytes, 0},
        {XtBytes().i16(0).bytes, -1},
        {XtBytes().i16(6).bytes, 5},
        {XtBytes().i16(-5).i16(2).bytes, 65538},
        {XtBytes().xtInt(4'000'000).bytes, 4'000'000},
    };
    for (const auto& c : cases) {
        XtStream stream = streamOver(c.bytes);
        EXPECT_EQ(stream.readInt(), c.value);
        EXPECT_EQ(stream.pos, c.bytes.size());
    }
    XtStream halfInteger = streamOver(XtBytes().i16(-5).bytes);
    EXPECT_EQ(xtFailure([&] { halfInteger.readInt(); }), "Datenstrom endet vorzeitig");
}

TEST(XtStreamTest, ReadsEmbeddedFieldDescriptors)
{
    const struct {
        QByteArray bytes;
        char type;
        int count;
    } cases[] = {
        {XtBytes().shortString("a").i16(1).xtInt(2).bytes, 'p', 2},
        {XtBytes().shortString("a").i16(0).xtInt(0).shortString("").bytes, 'd', 1},
        {XtBytes().shortString("a").i16(0).xtInt(2).shortString("xyzf").bytes, 'f', 2},
        {XtBytes().shortString("a").i16(0).xtInt(1).shortString("v").u8(0).bytes, 'v', -1},
    };
    for (const auto& c : cases) {
        XtStream stream = streamOver(c.bytes);
        const XtFieldDesc desc = readXtFieldDesc(stream);
        EXPECT_EQ(desc.name, "a");
        EXPECT_EQ(desc.type, c.type);
        EXPECT_EQ(desc.count, c.count);
        EXPECT_EQ(stream.pos, c.bytes.size()); // the variable marker's extra byte is consumed
    }
}

TEST(XtSchemaTest, BaseSchemaHoldsTheLayoutsOfItsTable)
{
    const XtSchema& schema = xtBaseSchema();
    EXPECT_EQ(schema.size(), 65u);
    const struct {
        int code;
        const char* field;
        char type;
        int count;
    } cases[] = {
        {56, "range", 'f', 2},
        {41, "hvec", 'h', -1},
        {80, "legal_owners", 'l', 14},
        {80, "actions", 'u', 8},
        {14, "sense", 'c', 1},
        {38, "surface", 'p', 2},
        {100, "rotation_matrix", 'f', 9},
        {127, "mult", 'n', -1},
    };
    for (const auto& c : cases) {
        const XtNodeType& type = schema.at(c.code);
        const XtFieldDesc& desc = type.fields.at(std::size_t(type.fieldIndex.at(c.field)));
        EXPECT_EQ(desc.type, c.type) << c.field;
        EXPECT_EQ(desc.count, c.count) << c.field;
    }
    EXPECT_EQ(schema.at(12).fields.size(), 23u);
    EXPECT_TRUE(schema.at(45).variableTail);
    EXPECT_FALSE(schema.at(14).variableTail);
}

TEST(XtSchemaTest, HeaderChecksSchemaKeyAndUserFields)
{
    const struct {
        QByteArray bytes;
        std::string failure;
    } cases[] = {
        {qor::fixtures::xtHeader("SCH_1200000_13006"), ""},
        {qor::fixtures::xtHeader("SCH_1200000_12006"),
         "Parasolid-Schema SCH_1200000_12006 ohne eingebettete Beschreibung wird nicht "
         "unterstützt"},
        {qor::fixtures::xtHeader("SCH_3400153_34001_13006"), ""},
        {qor::fixtures::xtHeader("SCHEMA"), ""},
        {XtBytes().raw("PS").i16(0).i16(0).i32(0).i32(7).bytes,
         "Parasolid-Benutzerfelder werden nicht unterstützt"},
        {XtBytes().raw("PS").i16(0).i16(-2).i32(0).i32(0).bytes, "Datenstrom endet vorzeitig"},
        {XtBytes().raw("PS").i16(0).i16(0).i32(-1).i32(0).bytes, "Datenstrom endet vorzeitig"},
    };
    for (const auto& c : cases) {
        XtStream stream(c.bytes, 4);
        EXPECT_EQ(xtFailure([&] { readXtHeader(stream); }), c.failure);
        if (c.failure.empty())
            EXPECT_EQ(stream.pos, c.bytes.size());
    }
}

TEST(XtSchemaTest, DefinitionBlocksEditOrReplaceTheBaseType)
{
    // LIMIT (41) has the base fields type:c and hvec:hv; the cases add a third field.
    const QByteArray added = XtBytes().shortString("extra").i16(0).xtInt(2).shortString("f").bytes;
    const struct {
        int code;
        QByteArray bytes;
        std::vector<std::string> names;
        std::string failure;
    } cases[] = {
        {41, XtBytes().u8(2).raw("DX").bytes, {}, "Unbekannte Schema-Operation"},
        {41, XtBytes().u8(2).raw("DCA").raw(added).raw("Z").bytes, {"hvec", "extra"}, ""},
        {41,
         XtBytes().u8(3).raw("DCA").raw(added).raw("Z").bytes,
         {},
         "Schema-Bearbeitung ergibt falsche Feldzahl"},
        {41,
         XtBytes().u8(2).raw("DDC").bytes,
         {},
         "Schema-Bearbeitung kopiert über das Ende hinaus"},
        {41, XtBytes().u8(0).raw("DDDZ").bytes, {}, ""},
        {41, XtBytes().u8(255).bytes, {"type", "hvec"}, ""},
        {7, XtBytes().u8(255).bytes, {}, "Knotentyp 7 fehlt im Basisschema"},
        {7, XtBytes().u8(1).shortString("NEW").shortString("").raw(added).bytes, {"extra"}, ""},
    };
    for (const auto& c : cases) {
        XtStream stream = streamOver(c.bytes);
        XtNodeType type;
        EXPECT_EQ(xtFailure([&] { type = readXtNodeTypeDefinition(stream, c.code); }), c.failure);
        std::vector<std::string> names;
        for (const XtFieldDesc& desc : type.fields)
            names.push_back(desc.name);
        EXPECT_EQ(names, c.names);
    }
    EXPECT_EQ(xtBaseSchema().at(41).fields.size(), 2u); // edits never touch the base schema
}

TEST(XtParseTest, ReadsRecordsUpToTheEndRecord)
{
    const QByteArray file = XtFileWriter()
                                .node(29, 5, {{"pvec", {{}, {1, 2, 3}}}, {"next", {{6}}}})
                                .node(29, 6, {{"pvec", {{}, {4, 5, 6}}}, {"next", {{5}}}})
                                .node(29, 5, {{"pvec", {{}, {7, 8, 9}}}})
                                .node(41, 7, {{"type", {{}, {}, "L"}}, {"hvec", {{}, {1, 1, 1}}}})
                                .finish()
                            + "trailing bytes are never read";
    const XtModel model = parseXtBinary(file);
    EXPECT_EQ(model.schemaKey, "SCH_1200000_13006");
    ASSERT_EQ(model.nodes.size(), 3u);
    const XtNode& a = model.nodes.at(5);
    EXPECT_EQ(xtVector(a, "pvec").X(), 1.0); // the first record of a repeated index stays
    EXPECT_EQ(model.nodes.at(7).field("hvec")->reals.size(), 3u);

    const auto chain = xtNextChain(model, &a);
    ASSERT_EQ(chain.size(), 2u);
    EXPECT_EQ(chain[1]->index, 6u);
    EXPECT_EQ(xtPointer(model, chain[1], "next"), &a);
    EXPECT_EQ(xtPointer(model, &a, "previous"), nullptr);
    EXPECT_EQ(xtPointer(model, &a, "no_such_field"), nullptr);
    EXPECT_EQ(xtPointer(model, nullptr, "next"), nullptr);
}

TEST(XtParseTest, RefusesDamagedTransmissionsWithTheirMessages)
{
    // KNOT_SET (128) ends in a variable field: its length sits before the index.
    auto knotSet = [](qint64 length) {
        return XtBytes().raw(qor::fixtures::xtHeader()).i16(128).u8(255).i32(length).xtInt(3).bytes;
    };
    const QByteArray newTypeQ = XtBytes()
                                    .raw(qor::fixtures::xtHeader())
                                    .i16(7)
                                    .u8(1)
                                    .shortString("T")
                                    .shortString("")
                                    .shortString("a")
                                    .i16(0)
                                    .xtInt(2)
                                    .shortString("q")
                                    .xtInt(2)
                                    .bytes;
    const QByteArray complete = XtFileWriter().node(29, 2, {}).finish();
    const struct {
        QByteArray bytes;
        std::string failure;
    } cases[] = {
        {"no marker in here", "Kein Parasolid-Neutralbinärformat (PS-Kennung fehlt)"},
        {complete.chopped(2), "Datenstrom endet vorzeitig"},
        {complete.chopped(4), "Datenstrom endet vorzeitig"},
        {knotSet(qint64(1) << 26), "Datenstrom endet vorzeitig"},
        {knotSet((qint64(1) << 26) + 1), "Ungültige Feldlänge"},
        {knotSet(0xFFFFFFFF), "Ungültige Feldlänge"},
        {newTypeQ, "Unbekannte Feldart q"},
        // Fields of negative count read nothing, yet each costs memory: the budget stops
        // a few kilobytes from claiming gigabytes.
        {qor::fixtures::xtManyFieldRecords(-32767, 254, 20000), "Ungültige Feldlänge"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(xtFailure([&] { parseXtBinary(c.bytes); }), c.failure);

    const XtModel empty = parseXtBinary(knotSet(0).append(XtBytes().i16(1).i16(0).bytes));
    EXPECT_TRUE(empty.nodes.at(3).fields.at(0).reals.empty());
    EXPECT_EQ(parseXtBinary(qor::fixtures::xtManyFieldRecords(-32767, 254, 100)).nodes.size(),
              100u);
}

TEST(XtParseTest, AccessOperationsFallBackOnAbsentData)
{
    const XtModel model
        = parseXtBinary(XtFileWriter()
                            .node(30, 2, {{"sense", {{}, {}, "-"}}, {"next", {{2}}}})
                            .node(59, 3, {{"sense", {{}, {}, "-"}}})
                            .node(83, 4, {{"values", {{}, {1.5, 2.5}}}})
                            .finish());
    const XtNode& line = model.nodes.at(2);
    EXPECT_EQ(xtSense(line), '-');
    EXPECT_EQ(xtSense(model.nodes.at(4)), '+');
    EXPECT_EQ(xtVector(model.nodes.at(4), "values").X(), 0.0); // two reals are no vector
    EXPECT_EQ(xtReal(model.nodes.at(4), "values", 1), 2.5);
    EXPECT_EQ(xtReal(model.nodes.at(4), "values", 2), 0.0);
    EXPECT_EQ(xtNextChain(model, &line).size(), 1u); // a node whose next is itself
    EXPECT_EQ(xtNodeTypeName().size(), 90u);
    EXPECT_EQ(xtNodeTypeName().at(229), "TRANSFORM_PRECISION");

    const struct {
        QByteArray bytes;
        bool parasolid;
    } cases[] = {
        {QByteArray("PS\0\0xyz", 7), true},
        {QByteArray(100, ' ') + "TRANSMIT FILE", true},
        {QByteArray(2000, ' ') + "TRANSMIT FILE", false},
        {"**ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789**", true},
        {"ISO-10303-21;", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(looksLikeParasolid(c.bytes), c.parasolid);

    XtReadContext context;
    addXtWarning(context, QStringLiteral("Notiz"));
    addXtWarning(context, QStringLiteral("Notiz"));
    addXtWarning(context, QStringLiteral("notiz"));
    EXPECT_EQ(context.warnings.size(), 2);
}

TEST(XtGeometryTest, DecodesAndChecksBCurves)
{
    const struct {
        std::vector<qint64> mults;
        int vertexDim;
        std::string failure;
    } cases[] = {
        {{4, 4}, 3, ""},
        {{4, 4}, 4, ""},
        {{4, 3}, 3, "B-Kurve: Knotenvektor passt nicht"},
        {{8}, 3, "B-Kurve: Knotenvektor passt nicht"}, // one knot cannot carry a curve
        {{4, 2, 2}, 3, ""},
        {{4, 4, 0, 0}, 3, ""}, // padding entries of multiplicity 0, as real files have
        {{4, 4}, 5, "B-Kurve: zu wenige Kontrollpunkte"},
        {{4, 4}, 1, "B-Kurve: zu wenige Kontrollpunkte"},
    };
    for (const auto& c : cases) {
        const XtModel model = parseXtBinary(qor::fixtures::xtBCurveFile(c.mults, c.vertexDim));
        int dim = 0;
        Handle(Geom_BSplineCurve) curve;
        try {
            EXPECT_EQ(xtFailure([&] { curve = readXtNurbs(model, model.nodes.at(10), dim); }),
                      c.failure);
        } catch (const Standard_Failure& e) {
            ADD_FAILURE() << "the kernel saw data the decoding should have refused: "
                          << e.GetMessageString();
        }
        if (!c.failure.empty())
            continue;
        EXPECT_EQ(dim, 3);
        EXPECT_EQ(curve->IsRational(), c.vertexDim == 4);
        EXPECT_NEAR(curve->Pole(2).Distance(gp_Pnt(1, 1, 0.5)), 0.0, 1e-12);
    }

    // A multiplicity list shorter than the knot list and a missing knot node.
    XtModel model = parseXtBinary(qor::fixtures::xtBCurveFile({4, 4}, 3));
    model.nodes.at(14).fields.at(0).reals.push_back(2.0);
    int dim = 0;
    EXPECT_EQ(xtFailure([&] { readXtNurbs(model, model.nodes.at(10), dim); }),
              "B-Kurve: Knotenvektor passt nicht");
    model.nodes.erase(14);
    EXPECT_EQ(xtFailure([&] { readXtNurbs(model, model.nodes.at(10), dim); }),
              "B-Kurve unvollständig");
    model.nodes.erase(11);
    EXPECT_EQ(xtFailure([&] { readXtNurbs(model, model.nodes.at(10), dim); }),
              "B-Kurve ohne NURBS-Daten");
}

TEST(XtGeometryTest, DecodesAndChecksBSurfaces)
{
    // A bilinear patch of 2 x 2 control points, rational with weight 2 at one corner.
    auto file = [](int vertexDim, qint64 nu) {
        std::vector<double> vertices;
        for (int k = 0; k < 4; ++k) {
            const double w = k == 3 && vertexDim == 4 ? 2.0 : 1.0;
            const double point[] = {(k / 2) * w, (k % 2) * w, 0.0, w};
            vertices.insert(vertices.end(), point, point + vertexDim);
        }
        return XtFileWriter()
            .node(124, 20, {{"nurbs", {{21}}}})
            .node(126, 21,
                  {{"u_degree", {{1}}},
                   {"v_degree", {{1}}},
                   {"n_u_vertices", {{nu}}},
                   {"n_v_vertices", {{2}}},
                   {"vertex_dim", {{vertexDim}}},
                   {"rational", {{vertexDim == 4 ? 1 : 0}}},
                   {"bspline_vertices", {{22}}},
                   {"u_knot_mult", {{23}}},
                   {"v_knot_mult", {{23}}},
                   {"u_knots", {{24}}},
                   {"v_knots", {{24}}}})
            .node(45, 22, {{"vertices", {{}, vertices}}})
            .node(127, 23, {{"mult", {{2, 2}}}})
            .node(128, 24, {{"knots", {{}, {0.0, 1.0}}}})
            .finish();
    };
    const struct {
        int vertexDim;
        qint64 nu;
        std::string failure;
    } cases[] = {
        {3, 2, ""},
        {4, 2, ""},
        {2, 2, "B-Fläche: zu wenige Kontrollpunkte"},
        {3, 3, "B-Fläche: zu wenige Kontrollpunkte"},
        {3, 2'000'000'000, "B-Fläche: zu wenige Kontrollpunkte"},
        {3, 0, "B-Fläche: zu wenige Kontrollpunkte"},
    };
    for (const auto& c : cases) {
        const XtModel model = parseXtBinary(file(c.vertexDim, c.nu));
        Handle(Geom_BSplineSurface) surface;
        EXPECT_EQ(xtFailure([&] { surface = readXtNurbsSurface(model, model.nodes.at(20)); }),
                  c.failure);
        if (!c.failure.empty())
            continue;
        EXPECT_NEAR(surface->Pole(2, 2).Distance(gp_Pnt(1, 1, 0)), 0.0, 1e-12);
        EXPECT_EQ(surface->Weight(2, 2), c.vertexDim == 4 ? 2.0 : 1.0);
    }
    const XtModel model = parseXtBinary(file(3, 2));
    EXPECT_EQ(xtFailure([&] { readXtNurbsSurface(model, model.nodes.at(22)); }),
              "B-Fläche ohne NURBS-Daten");
}

TEST(XtGeometryTest, BuildsCurvesAxesAndLimitPoints)
{
    Handle(Geom_Curve) line = curveThroughXtPoints({gp_Pnt(0, 0, 0), gp_Pnt(0, 10, 0)});
    EXPECT_EQ(line->FirstParameter(), 0.0);
    EXPECT_NEAR(line->LastParameter(), 10.0, 1e-12);
    const std::vector<gp_Pnt> collinear{gp_Pnt(0, 0, 0), gp_Pnt(1, 0, 0), gp_Pnt(2, 0, 0)};
    EXPECT_NEAR(curveThroughXtPoints(collinear)
                    ->Value(curveThroughXtPoints(collinear)->LastParameter())
                    .X(),
                2.0, 1e-9);
    const std::vector<gp_Pnt> repeated{gp_Pnt(0, 0, 0), gp_Pnt(1, 0, 0), gp_Pnt(1, 0, 0),
                                       gp_Pnt(2, 1, 0)};
    EXPECT_FALSE(curveThroughXtPoints(repeated).IsNull());
    EXPECT_EQ(xtFailure([] { curveThroughXtPoints({gp_Pnt(1, 2, 3)}); }),
              "Schnittkurve nicht interpolierbar");

    EXPECT_TRUE(makeXtAxes(gp_XYZ(), gp_XYZ(0, 0, 1e-16), gp_XYZ(1, 0, 0))
                    .Direction()
                    .IsEqual(gp_Dir(0, 0, 1), 1e-12));
    EXPECT_TRUE(makeXtAxes(gp_XYZ(), gp_XYZ(0, 0, 2), gp_XYZ(1, 0, 3))
                    .XDirection()
                    .IsEqual(gp_Dir(1, 0, 0), 1e-12));
    EXPECT_NO_THROW(makeXtAxes(gp_XYZ(), gp_XYZ(0, 0, 2), gp_XYZ(0, 0, 5)));

    const XtModel model
        = parseXtBinary(XtFileWriter()
                            .node(41, 2, {{"type", {{}, {}, "L"}}, {"hvec", {{}, {1e-10, 0, 0}}}})
                            .node(41, 3, {{"type", {{}, {}, "T"}}, {"hvec", {{}, {1e-8, 0, 0}}}})
                            .node(41, 4, {{"type", {{}, {}, "X"}}, {"hvec", {{}, {5, 0, 0}}}})
                            .finish());
    std::vector<gp_Pnt> points{gp_Pnt(0, 0, 0)};
    addXtLimitPoint(points, &model.nodes.at(2), true);
    addXtLimitPoint(points, &model.nodes.at(4), true);
    EXPECT_EQ(points.size(), 1u);
    addXtLimitPoint(points, &model.nodes.at(3), true);
    addXtLimitPoint(points, &model.nodes.at(3), false);
    ASSERT_EQ(points.size(), 3u);
    EXPECT_EQ(points.front().X(), 1e-8);
}

namespace {

const QString readersFolder = qor::test::readerFilesFolder();

// The Parasolid streams of the real files: every .x_b, and the XT stream of every Solid Edge
// part that stores one without compression.
std::vector<std::pair<QString, QByteArray>> realTransmissions()
{
    std::vector<std::pair<QString, QByteArray>> streams;
    const QDir folder(readersFolder);
    for (const QString& name : folder.entryList({"*.x_b", "*.par"}, QDir::Files, QDir::Name)) {
        QFile file(folder.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = file.readAll();
        if (name.endsWith(QStringLiteral(".x_b"))) {
            streams.emplace_back(name, bytes);
            continue;
        }
        qor::io::CompoundFile compound;
        if (!compound.open(bytes))
            continue;
        const int entry = compound.findEntry(QStringLiteral("PARASOLID/STREAM0.X_B"));
        if (entry >= 0 && compound.readStream(entry).startsWith("**ABCDEF"))
            streams.emplace_back(name, compound.readStream(entry));
    }
    return streams;
}

} // namespace

TEST(XtParseTest, ReadsTheRealTransmissionsOrRefusesThem)
{
    if (!QDir(readersFolder).exists())
        GTEST_SKIP() << "the folder of real files is absent";
    const auto streams = realTransmissions();
    ASSERT_FALSE(streams.empty());
    for (const auto& [name, bytes] : streams) {
        const double before = qor::test::cpuSeconds();
        try {
            const XtModel model = parseXtBinary(bytes);
            std::size_t faces = 0, bodies = 0, splines = 0, refused = 0;
            for (const auto& [index, node] : model.nodes) {
                faces += node.type == 14;
                bodies += node.type == 12;
                int dim = 0;
                try {
                    if (node.type == 134)
                        splines += !readXtNurbs(model, node, dim).IsNull();
                    if (node.type == 124)
                        splines += !readXtNurbsSurface(model, node).IsNull();
                } catch (const Standard_Failure& e) {
                    // Knots closer than the kernel accepts: its own error, counted per face.
                    ++refused;
                    std::cout << "  node " << index << ": " << e.GetMessageString() << "\n";
                }
            }
            std::cout << name.toStdString() << ": " << model.schemaKey << ", " << model.nodes.size()
                      << " nodes, " << bodies << " bodies, " << faces << " faces, " << splines
                      << " B-splines (" << refused << " refused by the kernel), "
                      << (qor::test::cpuSeconds() - before) * 1e3 << " ms CPU\n";
            EXPECT_GE(bodies, 1u) << name.toStdString();
            EXPECT_GE(faces, 1u) << name.toStdString();
        } catch (const XtError& e) {
            std::cout << name.toStdString() << ": " << e.what() << "\n";
            // Only the bare binary form, which carries no neutral marker, may be refused.
            EXPECT_FALSE(bytes.contains(QByteArray("PS\0\0", 4))) << name.toStdString();
            EXPECT_EQ(std::string(e.what()),
                      "Kein Parasolid-Neutralbinärformat (PS-Kennung fehlt)");
        }
    }
}

// Truncations, bit flips and overwritten 16-bit values (pointers, counts, codes) of a
// generated transmission: each must parse or fail with XtError, quickly.
TEST(XtParseTest, SurvivesMutatedTransmissions)
{
    const QByteArray original = qor::fixtures::xtBCurveFile({4, 4}, 4);
    ASSERT_EQ(parseXtBinary(original).nodes.size(), 5u);
    std::mt19937 random(qor::test::seed(25));
    for (int run = 0; run < 400; ++run) {
        QByteArray bytes = original;
        switch (run % 3) {
        case 0: bytes.truncate(qsizetype(random() % std::uint32_t(bytes.size()))); break;
        case 1:
            for (int flip = 0; flip < 4; ++flip)
                bytes[qsizetype(random() % std::uint32_t(bytes.size()))]
                    ^= char(1 << (random() % 8));
            break;
        default: {
            const auto at = qsizetype(random() % std::uint32_t(bytes.size() - 1));
            bytes[at] = char(random());
            bytes[at + 1] = char(random());
        }
        }
        const double before = qor::test::cpuSeconds();
        try {
            const XtModel model = parseXtBinary(bytes);
            for (const auto& [index, node] : model.nodes) {
                xtNextChain(model, &node);
                int dim = 0;
                if (node.type == 134)
                    readXtNurbs(model, node, dim);
            }
        } catch (const XtError&) {
        } catch (const Standard_Failure&) {
            // Bad B-spline data the checks let through reach the kernel, which refuses them.
        }
        EXPECT_LT(qor::test::cpuSeconds() - before, 2.0) << "run " << run;
    }
}
