#include "model/Document.h"
#include "model/ExecContext.h"
#include "tests/common/CpuTime.h"
#include "tests/common/Seeds.h"
#include "tests/common/ShapeChecks.h"

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepBndLib.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <Bnd_Box.hxx>

#include <QJsonArray>
#include <QJsonObject>
#include <QLocale>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

using namespace qor::model;

using qor::test::totalVolume;

namespace {

QJsonObject originAxis(int id)
{
    return {{"kind", "origin"}, {"id", id}};
}

Feature* box(Document& doc, const QString& size, const QString& op = QStringLiteral("new"),
             double x = 0.0, const QJsonArray& targets = {})
{
    return doc.addFeature(QStringLiteral("box"), {{"length", size},
                                                  {"width", size},
                                                  {"height", size},
                                                  {"x", QString::number(x, 'g', 17)},
                                                  {"op", op},
                                                  {"targets", targets}});
}

Feature* pattern(Document& doc, const QString& source, const QJsonArray& items, int count,
                 const QString& spacing, bool join = false, int axis = -11)
{
    return doc.addFeature(QStringLiteral("pattern_rect"),
                          {{"source", source},
                           {source == QLatin1String("bodies") ? "bodies" : "features", items},
                           {"direction1", originAxis(axis)},
                           {"count1", QString::number(count)},
                           {"spacing1", spacing},
                           {"count2", "1"},
                           {"join", join}});
}

QJsonArray bodyIds(const ModelState& state)
{
    QJsonArray ids;
    for (const auto& [id, body] : state.bodies)
        ids.append(id);
    return ids;
}

Bnd_Box boxOf(const TopoDS_Shape& shape)
{
    Bnd_Box box;
    BRepBndLib::Add(shape, box);
    box.Enlarge(1e-6);
    return box;
}

// What the bound says: bodies for copies that make them, copies for cuts.
QString tooMany(const char* what, int copies)
{
    return QStringLiteral("%1: mit diesem Muster entstünden %2 Kopien im Dokument (max. 10.000)")
        .arg(QString::fromUtf8(what), QLocale(QLocale::German).toString(qulonglong(copies)));
}

} // namespace

// A pattern of a pattern multiplies the copies; the document's bound stops the
// one that passes it, with the earlier features' results kept.
TEST(RecomputeBounds, PatternsOfPatternsStopAtTheDocumentsBound)
{
    struct Case {
        const char* name;
        // Builds the history up to the first pattern; returns its items for the second.
        std::function<QJsonArray(Document&)> first;
        QString source;
        int count;
        int copies; // in all, the second pattern's included; 0 when it passes
        std::size_t bodies; // after the recompute
        const char* refusal = "Zu viele Körper";
    };
    const Case cases[] = {
        {"bodies added as bodies of their own",
         [](Document& doc) {
             box(doc, "10 mm");
             pattern(doc, "bodies", {100}, 2000, "20 mm");
             doc.recompute();
             return bodyIds(doc.current);
         },
         "bodies", 2000, 1999 + 2000 * 1999, 2000},
        {"joined bodies count their solids",
         [](Document& doc) {
             box(doc, "10 mm");
             pattern(doc, "bodies", {100}, 200, "20 mm", true);
             return QJsonArray{100};
         },
         "bodies", 60, 199 + 200 * 59, 1},
        {"cut features far off",
         [](Document& doc) {
             box(doc, "10 mm");
             Feature* cut = box(doc, "2 mm", "cut", 0.0, {100});
             Feature* first
                 = pattern(doc, "features", {QJsonObject{{"id", cut->id}}}, 100, "1e6 mm");
             return QJsonArray{QJsonObject{{"id", first->id}}};
         },
         "features", 150, 99 + 99 * 149, 1, "Zu viele Kopien"},
        {"within the bound",
         [](Document& doc) {
             box(doc, "10 mm");
             Feature* cut = box(doc, "2 mm", "cut", 0.0, {100});
             Feature* first
                 = pattern(doc, "features", {QJsonObject{{"id", cut->id}}}, 100, "1e6 mm");
             return QJsonArray{QJsonObject{{"id", first->id}}};
         },
         "features", 50, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Document doc;
        const QJsonArray items = c.first(doc);
        Feature* second = pattern(doc, c.source, items, c.count, "1e7 mm", false, -12);
        for (int round = 0; round < 2; ++round) {
            EXPECT_EQ(doc.recompute(), c.copies ? 1 : 0);
            EXPECT_EQ(second->error, c.copies ? tooMany(c.refusal, c.copies) : QString());
            EXPECT_EQ(doc.current.bodies.size(), c.bodies);
            for (const auto& f : doc.features) {
                if (f.get() != second)
                    EXPECT_TRUE(f->error.isEmpty()) << f->name.toStdString();
            }
        }
    }
}

// Cuts near and far, touching, repeated, alone and in groups: the body is what
// the kernel's cuts one by one make of it, and every cut whose box keeps off
// the body warns.
TEST(RecomputeBounds, CutsOutOfReachGiveWhatTheBooleanGives)
{
    std::mt19937 random(qor::test::seed(49));
    const double places[] = {0.0, 4.0, 5.5, 6.0 + 1e-3, 6.5, 30.0, 1e6};
    std::uniform_int_distribution<std::size_t> place(0, std::size(places) - 1);
    for (int round = 0; round < 12; ++round) {
        for (const bool grouped : {true, false}) {
            SCOPED_TRACE(round * 2 + grouped);
            Document doc;
            doc.groupBooleans = grouped;
            box(doc, "10 mm");
            std::vector<std::pair<Feature*, double>> cuts;
            for (int k = 0; k < 4; ++k) {
                const double x = places[place(random)];
                cuts.emplace_back(
                    box(doc, "2 mm", "cut", x, k % 2 ? QJsonArray{100} : QJsonArray{}), x);
            }
            EXPECT_EQ(doc.recompute(), 0);

            // The same cuts one by one with the kernel.
            TopoDS_Shape body = BRepPrimAPI_MakeBox(gp_Pnt(-5, -5, 0), 10, 10, 10).Shape();
            for (const auto& [feature, x] : cuts) {
                const TopoDS_Shape tool = BRepPrimAPI_MakeBox(gp_Pnt(x - 1, -1, 0), 2, 2, 2);
                const double before = shapeVolume(body);
                const bool apart = boxOf(body).IsOut(boxOf(tool));
                body = BRepAlgoAPI_Cut(body, tool).Shape();
                // Apart, the kernel takes nothing away and the feature warns.
                if (apart) {
                    EXPECT_NEAR(shapeVolume(body), before, 1e-9) << x;
                    EXPECT_EQ(feature->warning, "Kein Körper im Wirkbereich") << x;
                }
                EXPECT_TRUE(feature->error.isEmpty()) << feature->error.toStdString();
            }
            EXPECT_NEAR(totalVolume(doc.current), shapeVolume(body), 1e-6);
        }
    }
}

// Two thousand copies of a cut at a spacing of 1e300 mm all miss the body, and
// an intersection far off has nothing in common with it.
TEST(RecomputeBounds, PatternOfCutsBeyondReach)
{
    for (const QString op : {QStringLiteral("cut"), QStringLiteral("intersect")}) {
        SCOPED_TRACE(op.toStdString());
        Document doc;
        box(doc, "50 mm");
        Feature* cut = box(doc, "5 mm", "cut", 10.0, {100});
        Feature* far = pattern(doc, "features", {QJsonObject{{"id", cut->id}}}, 2000, "1e300 mm");
        Feature* common = nullptr;
        if (op == QLatin1String("intersect"))
            common = box(doc, "5 mm", "intersect", 1e6, {100});
        EXPECT_EQ(doc.recompute(), common ? 1 : 0);
        EXPECT_EQ(far->warning, "Kein Körper im Wirkbereich");
        EXPECT_NEAR(totalVolume(doc.current), 50.0 * 50 * 50 - 5 * 5 * 5, 1e-6);
        if (common)
            EXPECT_EQ(common->error, "Kein gemeinsamer Bereich – das Ergebnis wäre leer");
    }
}

// Two thousand copies of a cut far off cost a box test each, grouped or not,
// whether the source cut named its body or searched for one (and found none,
// lying far off itself): every copy out of reach warns as one, and where a
// second row of copies comes back onto the body only those copies cut.
TEST(RecomputeBounds, FarPatternCopiesCostBoxTests)
{
    const struct {
        const char* name;
        const char* spacing;
        double sourceX; // 10: the source cut reaches the body, 1e4: it does not
        bool named; // the source cut names its body rather than searching
        int rows; // of copies 20 mm apart along y, each of 2000 / rows copies
        int cuts; // boxes cut out of the body in all
    } cases[] = {
        {"searched far off, 1e300", "1e300 mm", 1e4, false, 1, 0},
        {"searched far off, 1e30", "1e30 mm", 1e4, false, 1, 0},
        {"named, 1e300", "1e300 mm", 10.0, true, 1, 1},
        {"named, 1e30", "1e30 mm", 10.0, true, 1, 1},
        {"rows back on the body, 1e30", "1e30 mm", 10.0, false, 50, 2},
        {"rows back on the body, 1e300", "1e300 mm", 10.0, true, 50, 2},
    };
    for (const auto& c : cases) {
        for (const bool grouped : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (grouped ? ", grouped" : ""));
            Document doc;
            doc.groupBooleans = grouped;
            box(doc, "50 mm");
            Feature* cut
                = box(doc, "5 mm", "cut", c.sourceX, c.named ? QJsonArray{100} : QJsonArray{});
            Feature* far = doc.addFeature(QStringLiteral("pattern_rect"),
                                          {{"features", QJsonArray{QJsonObject{{"id", cut->id}}}},
                                           {"direction1", originAxis(-11)},
                                           {"count1", QString::number(2000 / c.rows)},
                                           {"spacing1", c.spacing},
                                           {"direction2", originAxis(-12)},
                                           {"count2", QString::number(c.rows)},
                                           {"spacing2", "20 mm"}});
            const double start = qor::test::cpuSeconds();
            EXPECT_EQ(doc.recompute(), 0);
            EXPECT_LT(qor::test::cpuSeconds() - start, 1.0);
            EXPECT_TRUE(far->error.isEmpty()) << far->error.toStdString();
            EXPECT_EQ(far->warning, c.cuts > 1 ? QString() : noBodyWarning());
            EXPECT_NEAR(totalVolume(doc.current), 50.0 * 50 * 50 - c.cuts * 5.0 * 5 * 5, 1e-6);
        }
    }
}

// Sizes the kernel cannot hold fail with a German reason; its own failures
// never leave an empty text.
TEST(RecomputeBounds, SizesBeyondTheKernelsRange)
{
    const struct {
        const char* size;
        const char* error;
    } cases[] = {
        {"1e300 mm", "Maß außerhalb des darstellbaren Bereichs"},
        {"1e-300 mm", "Maß außerhalb des darstellbaren Bereichs"},
        {"1e-9 mm", "Maß außerhalb des darstellbaren Bereichs"},
        {"10 mm", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        Document doc;
        Feature* f = box(doc, QString::fromUtf8(c.size));
        doc.recompute();
        EXPECT_EQ(f->error, QString::fromUtf8(c.error));
    }
}
