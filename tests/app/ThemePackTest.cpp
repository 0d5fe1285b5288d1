#include "ui/theme/ThemePack.h"

#include "tests/common/ShapeChecks.h"
#include "tests/fixtures/ThemePackArchive.h"

#include <QCryptographicHash>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace qor::app;
using qor::test::readFile;
using qor::test::themeJson;
using qor::test::themePackArchive;
using qor::test::writeFile;
using qor::test::zipOf;

namespace {

const QByteArray pngBytes = QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(40, 'i');

ThemeOffer offerFor(const QByteArray& archive, int version)
{
    return {
        version, QStringLiteral("https://firma.example/theme.zip"),
        QString::fromLatin1(QCryptographicHash::hash(archive, QCryptographicHash::Sha256).toHex()),
        archive.size()};
}

std::optional<ThemePack> packOf(int version)
{
    ThemePack pack;
    pack.version = version;
    return pack;
}

} // namespace

TEST(ThemePackTest, ParsesNameColoursAndIcon)
{
    const QJsonObject colors{{"AccentColor", "#ff0000"},
                             {"Unbekannt", "#00ff00"},
                             {"TextColor", "keine Farbe"},
                             {"Bg0Color", 12},
                             {"Bg1Color", "darkorange"}};
    const std::optional<ThemePack> pack
        = parseThemePack(themePackArchive(themeJson(3, colors), pngBytes));
    ASSERT_TRUE(pack);
    EXPECT_EQ(pack->version, 3);
    EXPECT_EQ(pack->companyName, "Firma 3");
    EXPECT_EQ(pack->icon, pngBytes);
    EXPECT_EQ(pack->colors.keys(), QStringList({"AccentColor", "Bg1Color", "Unbekannt"}));
    EXPECT_EQ(pack->colors["AccentColor"], QColor(255, 0, 0));
    EXPECT_EQ(pack->colors["Bg1Color"], QColor(255, 140, 0));

    // A named icon that is missing or above 8 MiB leaves the pack valid without an icon.
    const QByteArray noIcon = themePackArchive(themeJson(1));
    const QByteArray hugeIcon = zipOf({{"theme.json", QJsonDocument(themeJson(1)).toJson()},
                                       {"logo.png", QByteArray(8 * 1024 * 1024 + 1, 'x')}});
    for (const QByteArray& archive : {noIcon, hugeIcon}) {
        const std::optional<ThemePack> withoutIcon = parseThemePack(archive);
        ASSERT_TRUE(withoutIcon);
        EXPECT_TRUE(withoutIcon->icon.isEmpty());
    }
}

TEST(ThemePackTest, RefusesDamagedAndHostileArchives)
{
    QJsonObject schema2 = themeJson(1);
    schema2["schema"] = 2;
    QJsonObject noSchema = themeJson(1);
    noSchema.remove("schema");
    const QByteArray good = themePackArchive(themeJson(1));
    // Deflates to a few kilobytes, inflates beyond the 1 MiB cap of "theme.json".
    const QByteArray bomb = zipOf(
        {{"theme.json", QJsonDocument(themeJson(1)).toJson() + QByteArray(2 * 1024 * 1024, ' ')}});
    const QList<QPair<const char*, QByteArray>> cases = {
        {"not a zip", QByteArray("PK\x03\x04 kaputt")},
        {"truncated", good.left(good.size() / 2)},
        {"no theme.json", zipOf({{"Theme.json", QJsonDocument(themeJson(1)).toJson()}})},
        {"schema 2", themePackArchive(schema2)},
        {"no schema", themePackArchive(noSchema)},
        {"unparsable json", zipOf({{"theme.json", "{\"schema\": 1,"}})},
        {"oversized theme.json", bomb},
    };
    for (const auto& [name, archive] : cases)
        EXPECT_FALSE(parseThemePack(archive)) << name;
}

TEST(ThemePackTest, ChoosesPacksAndOffers)
{
    // Equal versions keep the compiled-in pack; only a strictly newer cache wins.
    EXPECT_EQ(chooseThemePack(packOf(3), packOf(3))->version, 3);
    EXPECT_EQ(chooseThemePack(packOf(3), packOf(4))->version, 4);
    EXPECT_EQ(chooseThemePack(std::nullopt, packOf(1))->version, 1);
    EXPECT_FALSE(chooseThemePack(std::nullopt, std::nullopt));

    // The running program applied version 2.
    const auto offered = [](int version, const char* pack, const QString& sha, qint64 size) {
        const QJsonObject manifest{
            {"version", version}, {"pack", pack}, {"sha256", sha}, {"size", size}};
        return isAcceptableOffer(parseThemeOffer(QJsonDocument(manifest).toJson()), 2);
    };
    const QString sha(64, u'A'); // lower-cased before the check
    EXPECT_TRUE(offered(3, "https://x/t.zip", sha, 41943040));
    EXPECT_FALSE(offered(3, "https://x/t.zip", sha, 41943041));
    EXPECT_FALSE(offered(3, "https://x/t.zip", sha, 0));
    EXPECT_FALSE(offered(2, "https://x/t.zip", sha, 100));
    EXPECT_FALSE(offered(3, "http://x/t.zip", sha, 100));
    EXPECT_FALSE(offered(3, "https://x/t.zip", QString(63, u'a'), 100));
}

TEST(ThemePackTest, CachesOnlyVerifiedDownloads)
{
    QTemporaryDir dir;
    const QString cache = dir.filePath("cache/QorCAD/theme.zip");
    const QByteArray good = themePackArchive(themeJson(6), pngBytes);
    ASSERT_TRUE(cacheThemePack(good, offerFor(good, 6), cache)); // creates the missing folders
    EXPECT_EQ(readFile(cache), good);

    ThemeOffer wrongSize = offerFor(good, 6);
    wrongSize.size += 1;
    ThemeOffer wrongHash = offerFor(good, 6);
    wrongHash.sha256[0] = wrongHash.sha256[0] == u'0' ? u'1' : u'0';
    ThemeOffer notHex = offerFor(good, 6);
    notHex.sha256 = QString(64, u'z');
    const QByteArray older = themePackArchive(themeJson(5));
    const QByteArray noManifest = zipOf({{"logo.png", pngBytes}});
    const QByteArray hostile = QByteArray("PK\x05\x06", 4) + QByteArray(18, '\xff');
    const QList<QPair<QByteArray, ThemeOffer>> refused = {
        {good, wrongSize},
        {good, wrongHash},
        {good, notHex},
        {older, offerFor(older, 6)},
        {noManifest, offerFor(noManifest, 1)},
        {hostile, offerFor(hostile, 0)},
    };
    for (const auto& [archive, offer] : refused) {
        EXPECT_FALSE(cacheThemePack(archive, offer, cache));
        EXPECT_EQ(readFile(cache), good); // the previous pack stays
    }
}
