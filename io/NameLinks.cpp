#include "io/NameLinks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <vector>

#include <unistd.h>

namespace qor::io {

namespace {

// The current folder as the system names it: its decoded text may name another folder.
QByteArray currentFolderBytes()
{
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return QFile::encodeName(QDir::currentPath());
        buffer.resize(buffer.size() * 2);
    }
    return QByteArray(buffer.data());
}

QByteArray folderBytes(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

QByteArray nameBytes(const QByteArray& path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

// The system's temporary folder as the environment names it. The toolkit's own answer is
// empty for a folder that does not exist, and a private folder would then be made in the
// current folder.
QString temporaryFolder()
{
    const QString named = qEnvironmentVariable("TMPDIR");
    return named.isEmpty() ? QStringLiteral("/tmp") : QDir::cleanPath(named);
}

} // namespace

bool isTextName(const QByteArray& bytes)
{
    return QFile::encodeName(QFile::decodeName(bytes)) == bytes;
}

QByteArray absolutePathBytes(const QByteArray& path)
{
    if (path.startsWith('/'))
        return path;
    return currentFolderBytes() + '/' + path;
}

QString NameLinks::reach(const QByteArray& path, const QString& fileText, QString& error)
{
    if (isTextName(path))
        return QFile::decodeName(path);
    const QByteArray absolute = absolutePathBytes(path);
    const QByteArray name = nameBytes(absolute);
    if (!isTextName(name))
        return link(absolute, QFile::decodeName(name), fileText, error);
    // Beside a document lie the files it names by relative paths, and its saved copy goes
    // there too: the link leads to its folder.
    const QByteArray folder = folderBytes(absolute);
    const QString folderLink = link(folder, QFile::decodeName(nameBytes(folder)), fileText, error);
    return folderLink.isEmpty() ? QString() : folderLink + u'/' + QFile::decodeName(name);
}

QString NameLinks::link(const QByteArray& target, const QString& name, const QString& fileText,
                        QString& error)
{
    if (!private_)
        private_.emplace(temporaryFolder() + QStringLiteral("/qorcad-XXXXXX"));
    if (!private_->isValid()) {
        const QString folder = temporaryFolder();
        error = QFileInfo(folder).isDir()
                    ? QStringLiteral("Im temporären Ordner „%1“ (TMPDIR) kann nicht geschrieben "
                                     "werden")
                          .arg(folder)
                    : QStringLiteral("Der temporäre Ordner „%1“ (TMPDIR) fehlt oder ist kein "
                                     "Ordner")
                          .arg(folder);
        return {};
    }
    // Two paths of one run may end in the same name; each gets a folder of its own.
    const QString folder = private_->filePath(QString::number(links_++));
    const QString path = folder + u'/' + (name.isEmpty() ? QStringLiteral("ordner") : name);
    if (!QDir().mkpath(folder)
        || ::symlink(target.constData(), QFile::encodeName(path).constData()) != 0) {
        error = QStringLiteral("„%1“ kann nicht erreicht werden").arg(fileText);
        return {};
    }
    return path;
}

} // namespace qor::io
