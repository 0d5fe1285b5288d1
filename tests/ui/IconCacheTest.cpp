#include "app/shell/Browser.h"
#include "model/DocumentController.h"
#include "ui/theme/Theme.h"

#include <QImage>
#include <QSet>
#include <QTreeWidgetItemIterator>

#include <gtest/gtest.h>

using qor::app::Theme;

namespace {

// The colour most pixels of the icon are drawn in (mostly transparent ones left out).
QRgb strokeColour(const QPixmap& pixmap)
{
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qAlpha(p) >= 128)
                ++counts[p & 0xFFFFFF];
        }
    }
    QRgb best = 0;
    for (auto it = counts.begin(); it != counts.end(); ++it) {
        if (it.value() > counts.value(best))
            best = it.key();
    }
    return best;
}

} // namespace

// One rendering per name, size and colour: asking again gives the same pixmap, and
// another size or colour a rendering of its own in that size and colour.
TEST(IconCache, KeyedByNameSizeAndColour)
{
    const Theme& theme = Theme::instance();
    const QColor red(255, 0, 0);
    const QColor blue(0, 0, 255);
    const struct {
        const char* name;
        int px;
        QColor colour;
    } cases[] = {{"body", 16, red}, {"body", 32, red}, {"body", 16, blue}, {"eye", 16, red}};
    QSet<qint64> keys;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QPixmap first = theme.iconPixmap(QString::fromLatin1(c.name), c.px, c.colour);
        const QPixmap again = theme.iconPixmap(QString::fromLatin1(c.name), c.px, c.colour);
        EXPECT_EQ(first.cacheKey(), again.cacheKey());
        EXPECT_EQ(first.deviceIndependentSize().toSize(), QSize(c.px, c.px));
        EXPECT_EQ(strokeColour(first), c.colour.rgb() & 0xFFFFFF);
        keys.insert(first.cacheKey());

        const QIcon icon = theme.icon(QString::fromLatin1(c.name), c.colour);
        EXPECT_EQ(icon.cacheKey(), theme.icon(QString::fromLatin1(c.name), c.colour).cacheKey());
        EXPECT_EQ(strokeColour(icon.pixmap(c.px)), c.colour.rgb() & 0xFFFFFF);
    }
    EXPECT_EQ(keys.size(), 4);
}

// Thousands of components share the few icons of the tree instead of each item rendering
// its own set.
TEST(IconCache, BrowserItemsShareTheirIcons)
{
    qor::app::DocumentController controller;
    for (int i = 0; i < 2000; ++i) {
        qor::model::Component c;
        c.id = i + 1;
        c.name = QStringLiteral("Teil %1").arg(i + 1);
        c.hidden = i % 2 == 1;
        controller.document->components.push_back(c);
    }
    qor::app::Browser browser(&controller);
    browser.rebuild();
    QSet<qint64> nameIcons;
    QSet<qint64> eyeIcons;
    int components = 0;
    for (QTreeWidgetItemIterator it(&browser); *it; ++it) {
        if ((*it)->data(0, Qt::UserRole).toInt() != qor::app::browserKind::component)
            continue;
        ++components;
        nameIcons.insert((*it)->icon(0).cacheKey());
        eyeIcons.insert((*it)->icon(1).cacheKey());
    }
    EXPECT_EQ(components, 2000);
    // Shown and hidden: one icon each for the name and the eye.
    EXPECT_EQ(nameIcons.size(), 2);
    EXPECT_EQ(eyeIcons.size(), 2);
}
