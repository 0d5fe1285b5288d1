#include "TestPart.h"

#include "features/Text.h"
#include "model/References.h"
#include "model/ShapeSignature.h"

#include <QFile>
#include <QTemporaryDir>

#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>

#include <gtest/gtest.h>

using namespace qor::model;

namespace {

struct Extent {
    double x0 = 0, y0 = 0, z0 = 0, x1 = 0, y1 = 0, z1 = 0;
};

Extent extent(const Bnd_Box& box)
{
    Extent e;
    box.Get(e.x0, e.y0, e.z0, e.x1, e.y1, e.z1);
    return e;
}

// The outline of a text as a body of its own on an empty part.
struct Letters {
    QString error;
    double volume = 0.0;
    double signedVolume = 0.0;
    Extent box;
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
    l.volume = TestPart::preciseVolume(shape);
    l.signedVolume = signedVolume(shape);
    l.box = extent(TestPart::box(shape));
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
        EXPECT_GT(alone.signedVolume, 0.0);
        EXPECT_NEAR(alone.box.z0, -0.02, 1e-6);
        EXPECT_NEAR(alone.box.z1, 1.0, 1e-6);
        const double footprint = alone.volume / 1.02;
        footprints.push_back(footprint);
        EXPECT_GT(footprint, 100.0);

        for (const char* op : {"join", "cut", "new"}) {
            SCOPED_TRACE(op);
            TestPart part;
            Feature* base = nullptr;
            ASSERT_EQ(part.run("box", {{"length", "80 mm"}}, &base), QString());
            const int blockId = base->id * 100;
            const QJsonObject face = topFaceRef(part.state, blockId);
            ASSERT_FALSE(face.isEmpty());
            ASSERT_EQ(part.run("text", {{"plane", face}, {"font", font}, {"op", op}}), QString());
            const double after = TestPart::preciseVolume(part.state.bodies.at(blockId).shape);
            const Extent e = extent(part.box(blockId));
            if (QByteArray(op) == "join") {
                EXPECT_NEAR(after - block, footprint, 1e-3 * footprint);
                EXPECT_NEAR(e.z1, 21.0, 1e-6);
            } else if (QByteArray(op) == "cut") {
                EXPECT_NEAR(block - after, footprint, 1e-3 * footprint);
                EXPECT_NEAR(e.z1, 20.0, 1e-6);
            } else {
                ASSERT_EQ(part.state.bodies.size(), 2u);
                EXPECT_NEAR(after, block, 1e-6);
                const auto& letterBody = std::prev(part.state.bodies.end())->second;
                EXPECT_NEAR(TestPart::preciseVolume(letterBody.shape), alone.volume,
                            1e-6 * alone.volume);
                EXPECT_GT(signedVolume(letterBody.shape), 0.0);
                const Extent l = extent(TestPart::box(letterBody.shape));
                EXPECT_NEAR(l.z0, 19.98, 1e-6);
                EXPECT_NEAR(l.z1, 21.0, 1e-6);
            }
        }
    }
    // Three different typefaces.
    ASSERT_EQ(footprints.size(), 3u);
    EXPECT_GT(std::abs(footprints[0] - footprints[1]), 1.0);
    EXPECT_GT(std::abs(footprints[0] - footprints[2]), 1.0);
    EXPECT_GT(std::abs(footprints[1] - footprints[2]), 1.0);
}

TEST(Text, LayoutOnThePlane)
{
    // Capital letters are as tall as asked and centred on the anchor vertically.
    const Letters centred = letters({{"text", "H"}});
    ASSERT_EQ(centred.error, QString());
    EXPECT_NEAR(centred.box.y1 - centred.box.y0, 10.0, 0.05);
    EXPECT_LT(centred.box.y0, -4.0);
    EXPECT_GT(centred.box.y1, 4.0);
    EXPECT_NEAR(centred.box.x0, -centred.box.x1, 1e-6);

    const Letters tall = letters({{"text", "H"}, {"height", "20 mm"}});
    ASSERT_EQ(tall.error, QString());
    EXPECT_NEAR(tall.box.y1 - tall.box.y0, 2.0 * (centred.box.y1 - centred.box.y0), 1e-6);

    // Left starts at the anchor, right ends there (less the side bearings).
    const Letters left = letters({{"text", "H"}, {"align", "left"}});
    const Letters right = letters({{"text", "H"}, {"align", "right"}});
    ASSERT_EQ(left.error, QString());
    ASSERT_EQ(right.error, QString());
    EXPECT_GT(left.box.x0, 0.0);
    EXPECT_LT(left.box.x0, 2.0);
    EXPECT_LT(right.box.x1, 0.0);
    EXPECT_GT(right.box.x1, -2.0);
    EXPECT_NEAR(left.box.x0, -right.box.x1, 1e-6);
    EXPECT_NEAR(left.box.x1 - left.box.x0, centred.box.x1 - centred.box.x0, 1e-6);

    // Blanks around the text are not letters.
    const Letters padded = letters({{"text", "  H \t"}});
    ASSERT_EQ(padded.error, QString());
    EXPECT_NEAR(padded.box.x0, centred.box.x0, 1e-6);
    EXPECT_NEAR(padded.box.x1, centred.box.x1, 1e-6);

    // Bold letters are wider and heavier.
    const Letters bold = letters({});
    const Letters regular = letters({{"bold", false}});
    ASSERT_EQ(regular.error, QString());
    EXPECT_GT(bold.box.x1 - bold.box.x0, regular.box.x1 - regular.box.x0 + 2.0);
    EXPECT_GT(bold.volume, 1.3 * regular.volume);

    // Turned by 90°, the text runs along Y; the anchor moves it within the plane.
    const Letters turned = letters({{"angle", "90 deg"}});
    ASSERT_EQ(turned.error, QString());
    EXPECT_NEAR(turned.box.x0, -bold.box.y1, 1e-6);
    EXPECT_NEAR(turned.box.x1, -bold.box.y0, 1e-6);
    EXPECT_NEAR(turned.box.y0, bold.box.x0, 1e-6);
    EXPECT_NEAR(turned.box.y1, bold.box.x1, 1e-6);
    const Letters moved = letters({{"x", "15 mm"}, {"y", "-5 mm"}});
    ASSERT_EQ(moved.error, QString());
    EXPECT_NEAR(moved.box.x0, bold.box.x0 + 15.0, 1e-6);
    EXPECT_NEAR(moved.box.y1, bold.box.y1 - 5.0, 1e-6);
    EXPECT_NEAR(moved.volume, bold.volume, 1e-6 * bold.volume);

    // On XZ the normal is -Y: the letters stand towards -Y, flipped towards +Y.
    const QJsonObject xz{{"kind", "origin"}, {"id", -2}};
    const Letters standing = letters({{"plane", xz}});
    ASSERT_EQ(standing.error, QString());
    EXPECT_NEAR(standing.box.y0, -1.0, 1e-6);
    EXPECT_NEAR(standing.box.y1, 0.02, 1e-6);
    EXPECT_NEAR(standing.box.x0, bold.box.x0, 1e-6);
    EXPECT_NEAR(standing.box.z1, bold.box.y1, 1e-6);
    const Letters flipped = letters({{"plane", xz}, {"flip", true}});
    ASSERT_EQ(flipped.error, QString());
    EXPECT_NEAR(flipped.box.y0, -0.02, 1e-6);
    EXPECT_NEAR(flipped.box.y1, 1.0, 1e-6);
    EXPECT_GT(flipped.signedVolume, 0.0);
}

TEST(Text, FontFiles)
{
    const QString dir = QStringLiteral("/usr/share/fonts/truetype/dejavu/");
    EXPECT_EQ(fallbackFontPath("DejaVu Sans", false), dir + "DejaVuSans.ttf");
    EXPECT_EQ(fallbackFontPath("DejaVu Sans", true), dir + "DejaVuSans-Bold.ttf");
    EXPECT_EQ(fallbackFontPath("DejaVu Sans Mono", true), dir + "DejaVuSansMono-Bold.ttf");
    EXPECT_EQ(fallbackFontPath("DejaVu Serif", false), dir + "DejaVuSerif.ttf");
    EXPECT_EQ(fallbackFontPath("Free Mono Serif", false), dir + "DejaVuSansMono.ttf");
    EXPECT_EQ(fallbackFontPath("dejavu serif", true), dir + "DejaVuSans-Bold.ttf");

    // Whichever way the font is found, it is the DejaVu file of the family.
    const auto fileName = [](const QString& path) { return path.section('/', -1); };
    EXPECT_EQ(fileName(textFontPath("sans", false)), "DejaVuSans.ttf");
    EXPECT_EQ(fileName(textFontPath("sans", true)), "DejaVuSans-Bold.ttf");
    EXPECT_EQ(fileName(textFontPath("serif", false)), "DejaVuSerif.ttf");
    EXPECT_EQ(fileName(textFontPath("serif", true)), "DejaVuSerif-Bold.ttf");
    EXPECT_EQ(fileName(textFontPath("mono", false)), "DejaVuSansMono.ttf");
    EXPECT_EQ(fileName(textFontPath("mono", true)), "DejaVuSansMono-Bold.ttf");
    EXPECT_EQ(fileName(textFontPath("Serif", true)), "DejaVuSans-Bold.ttf");
    EXPECT_TRUE(QFile::exists(textFontPath("mono", true)));

    // A missing or unreadable font names the full path.
    const gp_Ax3 frame;
    const QString missing = dir + "DejaVuGibtEsNicht.ttf";
    try {
        textOutline(missing, 10.0, "H", frame, "center");
        ADD_FAILURE() << "no error for a missing font";
    } catch (const FeatureError& e) {
        EXPECT_EQ(QString::fromUtf8(e.what()), "Schriftart nicht gefunden: " + missing);
    }
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QString notAFont = temp.filePath("keine-schrift.ttf");
    QFile file(notAFont);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("Dies ist keine Schriftdatei.\n");
    file.close();
    try {
        textOutline(notAFont, 10.0, "H", frame, "center");
        ADD_FAILURE() << "no error for a file that is not a font";
    } catch (const FeatureError& e) {
        EXPECT_EQ(QString::fromUtf8(e.what()), "Schriftart nicht gefunden: " + notAFont);
    }
    const TopoDS_Shape outline = textOutline(textFontPath("mono", false), 10.0, "H", frame, "left");
    EXPECT_GT(countOf(outline, TopAbs_FACE), 0);
}

TEST(Text, BadInput)
{
    EXPECT_EQ(letters({{"text", ""}}).error, QStringLiteral("Text eingeben"));
    EXPECT_EQ(letters({{"text", "  \t "}}).error, QStringLiteral("Text eingeben"));
    EXPECT_EQ(letters({{"height", "0"}}).error,
              QStringLiteral("Schrifthöhe und Tiefe müssen größer als 0 sein"));
    EXPECT_EQ(letters({{"depth", "-1 mm"}}).error,
              QStringLiteral("Schrifthöhe und Tiefe müssen größer als 0 sein"));
    // Characters without an outline give no letters.
    EXPECT_EQ(letters({{"text", QString(QChar(0x200B))}}).error,
              QStringLiteral("Text konnte nicht in Kurven umgewandelt werden"));
    EXPECT_EQ(letters({{"plane", QJsonObject{{"kind", "feature"}, {"id", 999}}}}).error,
              QStringLiteral("Bezugsebene existiert nicht mehr"));

    // Engraving into nothing only warns.
    TestPart part;
    Feature* f = nullptr;
    ASSERT_EQ(part.run("text", {{"op", "cut"}}, &f), QString());
    EXPECT_EQ(f->warning, QStringLiteral("Kein Körper im Wirkbereich"));
    EXPECT_TRUE(part.state.bodies.empty());
}

TEST(Text, SurvivesSaveAndLoad)
{
    Document doc;
    doc.parameters.push_back(Parameter{"t", "1.5 mm"});
    Feature* base = doc.addFeature("box", {{"length", "80 mm"}});
    ASSERT_EQ(doc.recompute(), 0);
    const QJsonObject face = topFaceRef(doc.current, base->id * 100);
    ASSERT_FALSE(face.isEmpty());
    doc.addFeature("text", {{"plane", face},
                            {"text", "Prüf 42"},
                            {"font", "serif"},
                            {"depth", "t"},
                            {"angle", "30 deg"},
                            {"op", "cut"}});
    ASSERT_EQ(doc.recompute(), 0);
    ASSERT_EQ(doc.current.bodies.size(), 1u);
    EXPECT_LT(TestPart::preciseVolume(doc.current.bodies.begin()->second.shape),
              80.0 * 30.0 * 20.0 - 100.0);
    expectSameAfterReload(doc);
}
