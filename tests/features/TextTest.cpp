#include "TestPart.h"

#include "features/Text.h"
#include "model/References.h"

#include <QTemporaryDir>

#include <TopExp_Explorer.hxx>

#include <gtest/gtest.h>

using namespace qor::model;
using qor::test::extent;

namespace {

// The outline of a text as a body of its own on an empty part.
struct Letters {
    QString error;
    double volume = 0.0;
    std::array<double, 6> box{}; // xmin, ymin, zmin, xmax, ymax, zmax
};

Letters letters(QJsonObject params)
{
    params["op"] = "new";
    TestPart part;
    Letters l;
    l.error = part.run("text", params);
    if (!l.error.isEmpty() || part.state.bodies.size() != 1)
        return l;
    const TopoDS_Shape& shape = part.state.bodies.begin()->second.shape;
    // Inside-out letters would count as negative.
    l.volume = signedVolume(shape) > 0 ? TestPart::preciseVolume(shape) : -1.0;
    l.box = extent(shape);
    return l;
}

// The block's face at the top, whose outward normal is +Z.
QJsonObject topFaceRef(const ModelState& state, int bodyId)
{
    for (TopExp_Explorer it(state.bodies.at(bodyId).shape, TopAbs_FACE); it.More(); it.Next()) {
        if (facePlane(it.Current()).Direction().Z() > 0.5)
            return faceRef(bodyId, it.Current());
    }
    return {};
}

} // namespace

TEST(Text, EmbossAndEngraveInEachFont)
{
    // Letters standing on their own are depth + 0.02 tall, so their footprint is
    // volume / 1.02; embossing adds footprint × depth, engraving removes as much.
    const double block = 80.0 * 30.0 * 20.0;
    std::vector<double> footprints;
    for (const char* font : {"sans", "serif", "mono"}) {
        SCOPED_TRACE(font);
        const Letters alone = letters({{"font", font}});
        ASSERT_EQ(alone.error, QString());
        EXPECT_NEAR(alone.box[2], -0.02, 1e-6);
        EXPECT_NEAR(alone.box[5], 1.0, 1e-6);
        const double footprint = alone.volume / 1.02;
        footprints.push_back(footprint);
        EXPECT_GT(footprint, 100.0);

        for (const char* op : {"join", "cut"}) {
            SCOPED_TRACE(op);
            TestPart part;
            const int blockId = part.body("box", {{"length", "80 mm"}});
            const QJsonObject face = topFaceRef(part.state, blockId);
            ASSERT_EQ(part.run("text", {{"plane", face}, {"font", font}, {"op", op}}), QString());
            const double added = TestPart::preciseVolume(part.shape(blockId)) - block;
            const bool join = QByteArray(op) == "join";
            EXPECT_NEAR(added, join ? footprint : -footprint, 1e-3 * footprint);
            EXPECT_NEAR(extent(part.shape(blockId))[5], join ? 21.0 : 20.0, 1e-6);
        }
    }
    // Three different typefaces.
    EXPECT_GT(std::abs(footprints[0] - footprints[1]), 1.0);
    EXPECT_GT(std::abs(footprints[0] - footprints[2]), 1.0);
    EXPECT_GT(std::abs(footprints[1] - footprints[2]), 1.0);
}

TEST(Text, LayoutOnThePlane)
{
    // Capital letters are as tall as asked and centred on the anchor.
    const Letters centred = letters({{"text", "H"}});
    ASSERT_EQ(centred.error, QString());
    const auto& c = centred.box;
    EXPECT_NEAR(c[4] - c[1], 10.0, 0.05);
    EXPECT_LT(c[1], -4.0);
    EXPECT_GT(c[4], 4.0);
    EXPECT_NEAR(c[0], -c[3], 1e-6);
    EXPECT_NEAR(letters({{"text", "H"}, {"height", "20 mm"}}).box[4], 2 * c[4], 1e-6);
    // Blanks around the text are not letters.
    EXPECT_EQ(letters({{"text", "  H \t"}}).box, c);

    // Left starts at the anchor, right ends there (less the side bearings).
    const auto left = letters({{"text", "H"}, {"align", "left"}}).box;
    const auto right = letters({{"text", "H"}, {"align", "right"}}).box;
    EXPECT_GT(left[0], 0.0);
    EXPECT_LT(left[0], 2.0);
    EXPECT_NEAR(left[0], -right[3], 1e-6);
    EXPECT_NEAR(left[3] - left[0], c[3] - c[0], 1e-6);

    // Bold letters are wider and heavier.
    const Letters bold = letters({});
    const Letters regular = letters({{"bold", false}});
    const auto& b = bold.box;
    EXPECT_GT(b[3] - b[0], regular.box[3] - regular.box[0] + 2.0);
    EXPECT_GT(bold.volume, 1.3 * regular.volume);

    // Turned by 90°, the text runs along Y; the anchor moves it within the plane.
    const auto turned = letters({{"angle", "90 deg"}}).box;
    EXPECT_NEAR(turned[0], -b[4], 1e-6);
    EXPECT_NEAR(turned[1], b[0], 1e-6);
    EXPECT_NEAR(turned[4], b[3], 1e-6);
    const Letters moved = letters({{"x", "15 mm"}, {"y", "-5 mm"}});
    EXPECT_NEAR(moved.box[0], b[0] + 15.0, 1e-6);
    EXPECT_NEAR(moved.box[4], b[4] - 5.0, 1e-6);
    EXPECT_NEAR(moved.volume, bold.volume, 1e-6 * bold.volume);

    // On XZ the normal is -Y: the letters stand towards -Y, flipped towards +Y.
    const QJsonObject xz{{"kind", "origin"}, {"id", -2}};
    const auto standing = letters({{"plane", xz}}).box;
    EXPECT_NEAR(standing[1], -1.0, 1e-6);
    EXPECT_NEAR(standing[4], 0.02, 1e-6);
    EXPECT_NEAR(standing[5], b[4], 1e-6);
    const Letters flipped = letters({{"plane", xz}, {"flip", true}});
    EXPECT_NEAR(flipped.box[1], -0.02, 1e-6);
    EXPECT_GT(flipped.volume, 0.0);
}

TEST(Text, FontFiles)
{
    const QString dir = QStringLiteral("/usr/share/fonts/truetype/dejavu/");
    // Without the font manager: the family decides, Mono before Serif.
    EXPECT_EQ(fallbackFontPath("Free Mono Serif", true), dir + "DejaVuSansMono-Bold.ttf");
    // Whichever way the font is found, it is the DejaVu file of the family; the
    // family names are case-sensitive.
    EXPECT_EQ(textFontPath("serif", true).section('/', -1), "DejaVuSerif-Bold.ttf");
    EXPECT_EQ(textFontPath("mono", false).section('/', -1), "DejaVuSansMono.ttf");
    EXPECT_EQ(textFontPath("Serif", true).section('/', -1), "DejaVuSans-Bold.ttf");

    // A missing or unreadable font names the full path.
    QTemporaryDir temp;
    const QString notAFont = temp.filePath("keine-schrift.ttf");
    ASSERT_TRUE(qor::test::writeFile(notAFont, "Dies ist keine Schriftdatei.\n"));
    for (const QString& path : {dir + "DejaVuGibtEsNicht.ttf", notAFont})
        EXPECT_EQ(errorOf([&] { textOutline(path, 10.0, "H", gp_Ax3(), "center"); }),
                  "Schriftart nicht gefunden: " + path);
}

TEST(Text, BadInput)
{
    const QString size = QStringLiteral("Schrifthöhe und Tiefe müssen größer als 0 sein");
    const std::vector<std::pair<QJsonObject, QString>> cases = {
        {{{"text", ""}}, "Text eingeben"},
        {{{"text", "  \t "}}, "Text eingeben"},
        {{{"height", "0"}}, size},
        {{{"depth", "-1 mm"}}, size},
        // Characters without an outline give no letters.
        {{{"text", QString(QChar(0x200B))}}, "Text konnte nicht in Kurven umgewandelt werden"},
        {{{"plane", TestPart::featureRef(999)}}, "Bezugsebene existiert nicht mehr"},
    };
    for (const auto& [params, error] : cases)
        EXPECT_EQ(letters(params).error, error) << error.toStdString();

    // Engraving into nothing only warns.
    TestPart part;
    Feature* f = nullptr;
    ASSERT_EQ(part.run("text", {{"op", "cut"}}, &f), QString());
    EXPECT_EQ(f->warning, QStringLiteral("Kein Körper im Wirkbereich"));
    EXPECT_TRUE(part.state.bodies.empty());
}
