#include "app/RenderIcon.h"

#include <QPixmap>

namespace qor::app {

namespace {

// Larger images only cost memory: a size of a million pixels would ask for terabytes.
constexpr int maxIconSize = 4096;

struct IconFile {
    int size = 0;
    QString path;
};

// The size before the first colon (unreadable counts as 0), the path after it, colons included.
IconFile iconFileOf(const QString& value)
{
    const qsizetype colon = value.indexOf(u':');
    if (colon < 0)
        return {value.toInt(), QString()};
    return {value.left(colon).toInt(), value.mid(colon + 1)};
}

} // namespace

int renderIcons(const QIcon& icon, const QStringList& values)
{
    // In the order given: a bad value or a failed save ends the export there, and the files
    // written before it stay.
    for (const QString& value : values) {
        const IconFile file = iconFileOf(value);
        if (file.size < 1 || file.size > maxIconSize || file.path.isEmpty())
            return 1;
        const QPixmap pixmap
            = icon.pixmap(QSize(file.size, file.size), 1.0)
                  .scaled(file.size, file.size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        if (!pixmap.save(file.path))
            return 1;
    }
    return 0;
}

} // namespace qor::app
