#include "io/FileAccess.h"

#include "io/NameLinks.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <filesystem>
#include <new>
#include <system_error>

namespace qor::io {

namespace {

QString kindOf(std::filesystem::file_type type)
{
    using std::filesystem::file_type;
    switch (type) {
    case file_type::directory: return QStringLiteral("ein Ordner");
    case file_type::fifo: return QStringLiteral("eine benannte Pipe");
    case file_type::block:
    case file_type::character: return QStringLiteral("eine Gerätedatei");
    case file_type::socket: return QStringLiteral("ein Socket");
    default: return QStringLiteral("keine reguläre Datei");
    }
}

// A file may grow a little while it is read; a size this far off is no
// ordinary file.
constexpr qint64 growthAllowance = qint64(1) << 20;
constexpr qint64 chunkBytes = qint64(1) << 20;

// "64,0 GB", "512 MB", "12 KB": decimal units, as file managers show them.
QString sizeText(qint64 bytes)
{
    const QLocale german(QLocale::German, QLocale::Germany);
    if (bytes >= 1000LL * 1000 * 1000)
        return german.toString(double(bytes) / 1e9, 'f', 1) + QStringLiteral(" GB");
    if (bytes >= 1000LL * 1000)
        return german.toString(double(bytes) / 1e6, 'f', 0) + QStringLiteral(" MB");
    return german.toString(double(bytes) / 1e3, 'f', 0) + QStringLiteral(" KB");
}

// Through links: what a save would write into is what the link leads to.
std::filesystem::file_status statusOf(const QString& path, std::error_code& ec)
{
    return std::filesystem::status(QFile::encodeName(path).toStdString(), ec);
}

FileContent refused(const QString& text)
{
    return {{}, text};
}

} // namespace

QString unreadableFileMessage(const QString& path)
{
    // A file whose name is not text is read through a link: the message names the real one.
    const QString name = QFileInfo(shownPath(path)).fileName();
    std::error_code ec;
    const std::filesystem::file_status status = statusOf(path, ec);
    if (ec == std::errc::too_many_symbolic_link_levels)
        return QStringLiteral("„%1“ ist ein Verweis, der im Kreis auf sich selbst zeigt").arg(name);
    if (ec || status.type() == std::filesystem::file_type::not_found)
        return QStringLiteral("Datei nicht gefunden: „%1“").arg(name);
    if (status.type() != std::filesystem::file_type::regular)
        return QStringLiteral("„%1“ ist %2 und wird nicht gelesen")
            .arg(name, kindOf(status.type()));
    if (!QFileInfo(path).isReadable())
        return QStringLiteral("Keine Leseberechtigung für „%1“").arg(name);
    return {};
}

QString unreplaceableFileMessage(const QString& path)
{
    return unreplaceableFileMessage(QFile::encodeName(path));
}

QString unreplaceableFileMessage(const QByteArray& path)
{
    std::error_code ec;
    // Through links: what a save would write into is what the link leads to.
    const std::filesystem::file_status status = std::filesystem::status(path.toStdString(), ec);
    // What cannot be looked at is left to the writer, whose failure says more.
    if (ec || status.type() == std::filesystem::file_type::not_found
        || status.type() == std::filesystem::file_type::regular)
        return {};
    return QStringLiteral("„%1“ ist %2 und wird nicht überschrieben")
        .arg(QFileInfo(shownName(path)).fileName(), kindOf(status.type()));
}

FileContent readWholeFile(const QString& path, qint64 maxBytes)
{
    if (const QString problem = unreadableFileMessage(path); !problem.isEmpty())
        return refused(problem);
    const QString name = QFileInfo(path).fileName();
    QFile file(path);
    const qint64 size = file.size();
    if (size > maxBytes)
        return refused(QStringLiteral("„%1“ ist mit %2 zu groß (höchstens %3)")
                           .arg(name, sizeText(size), sizeText(maxBytes)));
    if (!file.open(QIODevice::ReadOnly))
        return refused(QStringLiteral("„%1“ kann nicht geöffnet werden").arg(name));
    const qint64 limit = std::min(maxBytes, size + growthAllowance);
    FileContent content;
    try {
        content.bytes.reserve(qsizetype(size));
        for (;;) {
            const qint64 had = content.bytes.size();
            const qint64 wanted = std::min(chunkBytes, limit + 1 - had);
            content.bytes.resize(qsizetype(had + wanted));
            const qint64 got = file.read(content.bytes.data() + had, wanted);
            if (got < 0)
                return refused(QStringLiteral("„%1“ kann nicht gelesen werden").arg(name));
            content.bytes.resize(qsizetype(had + got));
            if (got == 0)
                break;
            if (content.bytes.size() > limit)
                return refused(content.bytes.size() > maxBytes
                                   ? QStringLiteral("„%1“ ist zu groß (höchstens %2)")
                                         .arg(name, sizeText(maxBytes))
                                   : QStringLiteral("„%1“ liefert mehr Daten, als seine Größe "
                                                    "angibt, und wird nicht gelesen")
                                         .arg(name));
        }
    } catch (const std::bad_alloc&) {
        return refused(QStringLiteral("Zu wenig Arbeitsspeicher, um „%1“ (%2) zu lesen")
                           .arg(name, sizeText(size)));
    }
    return content;
}

} // namespace qor::io
