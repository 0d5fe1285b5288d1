#include "io/NameLinks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <cerrno>
#include <mutex>
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

// What the links of every living NameLinks lead to, by the link's path.
struct LinkRecord {
    QByteArray target; // the real path, bytes, absolute
    std::optional<LinkedFile> file; // for a link to a file whose name is not text
};

struct Registry {
    std::mutex mutex;
    QHash<QString, LinkRecord> links;
    QHash<NameLinks*, QString> folders; // each object's private folder
};

// Never destroyed: a NameLinks that is itself static may go after it at exit.
Registry& registry()
{
    static Registry* instance = new Registry;
    return *instance;
}

QString cleanAbsolute(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
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

NameLinks::~NameLinks()
{
    remove();
}

QString NameLinks::reach(const QByteArray& path, const QString& fileText, QString& error)
{
    if (isTextName(path))
        return QFile::decodeName(path);
    const QByteArray absolute = absolutePathBytes(path);
    const QByteArray name = nameBytes(absolute);
    const QByteArray folder = folderBytes(absolute);
    // Beside a document lie the files it names by relative paths, and its saved copy goes
    // there too: the folder is reached by a text path.
    const QString folderText
        = isTextName(folder) ? QFile::decodeName(folder)
                             : link(folder, QFile::decodeName(nameBytes(folder)), fileText, error);
    if (folderText.isEmpty())
        return {};
    if (isTextName(name))
        return folderText + u'/' + QFile::decodeName(name);
    const QString fileLink = link(absolute, QFile::decodeName(name), fileText, error);
    if (fileLink.isEmpty())
        return {};
    Registry& known = registry();
    const std::lock_guard lock(known.mutex);
    known.links[cleanAbsolute(fileLink)].file = LinkedFile{folderText, name};
    return fileLink;
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
    Registry& known = registry();
    const std::lock_guard lock(known.mutex);
    known.links.insert(cleanAbsolute(path), {target, std::nullopt});
    known.folders.insert(this, private_->path());
    made_.append(cleanAbsolute(path));
    return path;
}

void NameLinks::remove()
{
    {
        Registry& known = registry();
        const std::lock_guard lock(known.mutex);
        for (const QString& path : std::as_const(made_))
            known.links.remove(path);
        known.folders.remove(this);
    }
    made_.clear();
    private_.reset();
}

std::optional<LinkedFile> linkedFile(const QString& path)
{
    Registry& known = registry();
    const std::lock_guard lock(known.mutex);
    const auto found = known.links.constFind(cleanAbsolute(path));
    return found == known.links.constEnd() ? std::nullopt : found->file;
}

QByteArray realPathBytes(const QString& path)
{
    const QString clean = cleanAbsolute(path);
    Registry& known = registry();
    const std::lock_guard lock(known.mutex);
    for (auto it = known.links.constBegin(); it != known.links.constEnd(); ++it) {
        if (clean == it.key())
            return it->target;
        if (clean.startsWith(it.key() + u'/'))
            return it->target + QFile::encodeName(clean.mid(it.key().size()));
    }
    return QFile::encodeName(path);
}

namespace {

const QString fileScheme = QStringLiteral("file://");

} // namespace

QString lastingPath(const QString& path)
{
    const QByteArray real = realPathBytes(path);
    if (isTextName(real))
        return QFile::decodeName(real);
    return fileScheme + QString::fromLatin1(real.toPercentEncoding("/"));
}

QByteArray lastingPathBytes(const QString& text)
{
    if (text.startsWith(fileScheme))
        return QByteArray::fromPercentEncoding(text.mid(fileScheme.size()).toLatin1());
    return QFile::encodeName(text);
}

void removeNameLinks()
{
    Registry& known = registry();
    const std::lock_guard lock(known.mutex);
    for (const QString& folder : std::as_const(known.folders))
        QDir(folder).removeRecursively();
}

NameStage::NameStage(const QString& folder, const QByteArray& name)
    : stage_(folder)
    , targetName_(name)
{
    if (!stage_.isValid())
        return;
    const QString suffix = QFileInfo(QFile::decodeName(name)).suffix();
    const QString staged = QStringLiteral("datei") + (suffix.isEmpty() ? QString() : u'.' + suffix);
    stagedName_ = QFile::encodeName(staged);
    path_ = stage_.filePath(staged);
}

bool NameStage::finish()
{
    return stage_.isValid() && stage_.moveOut(stagedName_, targetName_);
}

namespace {

// The length of the valid UTF-8 sequence at bytes[at], 0 when none starts there.
int utf8SequenceAt(const QByteArray& bytes, qsizetype at)
{
    const auto lead = static_cast<unsigned char>(bytes[at]);
    if (lead < 0x80)
        return 1;
    int length = 0;
    char32_t smallest = 0;
    if ((lead & 0xe0) == 0xc0) {
        length = 2;
        smallest = 0x80;
    } else if ((lead & 0xf0) == 0xe0) {
        length = 3;
        smallest = 0x800;
    } else if ((lead & 0xf8) == 0xf0) {
        length = 4;
        smallest = 0x10000;
    } else {
        return 0;
    }
    if (at + length > bytes.size())
        return 0;
    char32_t code = lead & (0x7f >> length);
    for (int k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(bytes[at + k]);
        if ((next & 0xc0) != 0x80)
            return 0;
        code = (code << 6) | (next & 0x3f);
    }
    const bool surrogate = code >= 0xd800 && code <= 0xdfff;
    return code < smallest || code > 0x10ffff || surrogate ? 0 : length;
}

} // namespace

QString shownName(const QByteArray& bytes)
{
    QString text;
    qsizetype run = 0; // start of the valid bytes not yet decoded
    qsizetype at = 0;
    while (at < bytes.size()) {
        const int length = utf8SequenceAt(bytes, at);
        if (length > 0) {
            at += length;
            continue;
        }
        text += QString::fromUtf8(bytes.mid(run, at - run));
        text += QChar(static_cast<unsigned char>(bytes[at]));
        run = ++at;
    }
    return text + QString::fromUtf8(bytes.mid(run));
}

QString shownPath(const QString& path)
{
    return shownName(realPathBytes(path));
}

} // namespace qor::io
