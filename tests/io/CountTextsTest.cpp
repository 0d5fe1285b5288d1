// Every text that gives a count says the noun (and the verb) in the number the
// count needs.

#include "io/CountTexts.h"
#include "io/Import.h"

#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/StlFixtures.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

using namespace qor::io;

TEST(CountTexts, OneIsSingularEveryOtherCountPlural)
{
    const QString body = QStringLiteral("„Teil“");
    const struct {
        std::function<QString(long long)> text;
        const char* one;
        const char* two;
        const char* none;
        const char* thousands; // 12345, with the German thousands dot
    } cases[] = {
        {[](long long n) {
             return countText(n, QStringLiteral("Fläche"), QStringLiteral("Flächen"));
         },
         "1 Fläche", "2 Flächen", "0 Flächen", "12.345 Flächen"},
        {facesLeftOutText, "1 Fläche ließ sich nicht vernetzen und fehlt in der Datei",
         "2 Flächen ließen sich nicht vernetzen und fehlen in der Datei",
         "0 Flächen ließen sich nicht vernetzen und fehlen in der Datei",
         "12.345 Flächen ließen sich nicht vernetzen und fehlen in der Datei"},
        {[&body](long long n) { return nonManifoldEdgesText(body, n); },
         "„Teil“ hat 1 Kante, an der mehr als zwei Dreiecke liegen (nicht mannigfaltig); manche "
         "Slicer lehnen das Objekt ab oder reparieren es",
         "„Teil“ hat 2 Kanten, an denen mehr als zwei Dreiecke liegen (nicht mannigfaltig); manche "
         "Slicer lehnen das Objekt ab oder reparieren es",
         "„Teil“ hat 0 Kanten, an denen mehr als zwei Dreiecke liegen (nicht mannigfaltig); manche "
         "Slicer lehnen das Objekt ab oder reparieren es",
         "„Teil“ hat 12.345 Kanten, an denen mehr als zwei Dreiecke liegen (nicht mannigfaltig); "
         "manche Slicer lehnen das Objekt ab oder reparieren es"},
        {[&body](long long n) { return openEdgesText(body, n); },
         "„Teil“ hat 1 offene Kante, an der nur ein Dreieck liegt (Loch im Netz); manche Slicer "
         "lehnen das Objekt ab oder reparieren es",
         "„Teil“ hat 2 offene Kanten, an denen nur ein Dreieck liegt (Loch im Netz); manche Slicer "
         "lehnen das Objekt ab oder reparieren es",
         "„Teil“ hat 0 offene Kanten, an denen nur ein Dreieck liegt (Loch im Netz); manche Slicer "
         "lehnen das Objekt ab oder reparieren es",
         "„Teil“ hat 12.345 offene Kanten, an denen nur ein Dreieck liegt (Loch im Netz); manche "
         "Slicer lehnen das Objekt ab oder reparieren es"},
        {[&body](long long n) { return sameWayEdgesText(body, n); },
         "„Teil“ hat 1 Kante, an der zwei Dreiecke gleich herum laufen (Fläche im Netz nach innen "
         "gekehrt); manche Slicer lehnen das Objekt ab oder reparieren es",
         "„Teil“ hat 2 Kanten, an denen zwei Dreiecke gleich herum laufen (Fläche im Netz nach "
         "innen gekehrt); manche Slicer lehnen das Objekt ab oder reparieren es",
         "„Teil“ hat 0 Kanten, an denen zwei Dreiecke gleich herum laufen (Fläche im Netz nach "
         "innen gekehrt); manche Slicer lehnen das Objekt ab oder reparieren es",
         "„Teil“ hat 12.345 Kanten, an denen zwei Dreiecke gleich herum laufen (Fläche im Netz "
         "nach innen gekehrt); manche Slicer lehnen das Objekt ab oder reparieren es"},
        {[](long long n) { return skippedFacesText(1, n); }, "1 von 1 Fläche ausgelassen",
         "1 von 2 Flächen ausgelassen", "1 von 0 Flächen ausgelassen",
         "1 von 12.345 Flächen ausgelassen"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.one);
        EXPECT_EQ(c.text(1), QString::fromUtf8(c.one));
        EXPECT_EQ(c.text(2), QString::fromUtf8(c.two));
        EXPECT_EQ(c.text(0), QString::fromUtf8(c.none));
        EXPECT_EQ(c.text(12345), QString::fromUtf8(c.thousands));
    }
    // The batch conversion's lines write counts as the notes do.
    EXPECT_EQ(countText(12345, QStringLiteral("Schale"), QStringLiteral("Schalen")),
              QStringLiteral("12.345 Schalen"));
    EXPECT_EQ(countText(1, QStringLiteral("Schale"), QStringLiteral("Schalen")),
              QStringLiteral("1 Schale"));
}

// Through the reader: a binary STL that declares one triangle and holds four.
TEST(CountTexts, DamagedStlDeclaringOneTriangleSaysTheSingular)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("eins.stl"));
    ASSERT_TRUE(
        qor::test::writeFile(path, qor::fixtures::binaryStl(qor::fixtures::tetrahedron(6), 1)));
    const ImportResult imported = importFile(path, {});
    EXPECT_FALSE(imported.ok);
    EXPECT_TRUE(imported.error.contains(
        QStringLiteral("STL-Datei ist beschädigt: 1 Dreieck angegeben, Platz für 4")))
        << imported.error.toStdString();
}
