#include "io/FileAccess.h"

#include <QFile>
#include <QFileInfo>

#include <filesystem>
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

} // namespace

QString unreadableFileMessage(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    std::error_code ec;
    const std::filesystem::file_status status
        = std::filesystem::status(QFile::encodeName(path).toStdString(), ec);
    if (ec || status.type() == std::filesystem::file_type::not_found)
        return QStringLiteral("Datei nicht gefunden: ") + name;
    if (status.type() != std::filesystem::file_type::regular)
        return QStringLiteral("„%1“ ist %2 und wird nicht gelesen")
            .arg(name, kindOf(status.type()));
    if (!QFileInfo(path).isReadable())
        return QStringLiteral("Keine Leseberechtigung für „%1“").arg(name);
    return {};
}

} // namespace qor::io
