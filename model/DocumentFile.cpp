#include "model/Document.h"

#include "io/BrepFile.h"
#include "io/FileAccess.h"
#include "io/FileReplace.h"
#include "io/NameLinks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocale>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <new>
#include <optional>
#include <set>

namespace qor::model {

namespace {

const QString formatName = QStringLiteral("QorCAD-Bauteil");
constexpr int formatVersion = 1;
// Written beside "hidden" since the entries of features (sketches, work planes, axes) are keyed
// by the negative feature id; files without it used the feature id, which body ids can equal
// from 100 features on. A member instead of a new version keeps the files readable by every
// reader of this version.
const QString signedHiddenKeys = QStringLiteral("hiddenKeys");
// Highest id a file may hold. New ids count up from the largest stored one, and a
// feature's bodies are numbered feature id × 100 + k below the component bodies, so
// a larger id would overflow the counter or collide with component body ids.
constexpr int maxStoredId = assemblyBodyBase / 100 - 1;
// Far beyond any real document (100,000 components take 11 MB), and small
// enough that reading and parsing one stays within a desktop's memory.
constexpr qint64 maxDocumentBytes = 1000LL * 1000 * 1000;

QString keyOf(int bodyId)
{
    return QString::number(bodyId);
}

// A body id key as written by keyOf; 0 for anything else, including numbers
// beyond 32 bits.
int bodyIdOf(const QString& key)
{
    const QByteArray bytes = key.toLatin1();
    int id = 0;
    const auto res = std::from_chars(bytes.data(), bytes.data() + bytes.size(), id);
    if (res.ec != std::errc() || res.ptr != bytes.data() + bytes.size())
        return 0;
    return id;
}

// Files without the marker keyed the hidden entries of features by the positive feature id. A key
// that names a feature moves to its negative key; where it can also name a body (a body of
// feature key / 100) the old entry stays as well, since it hid both.
void moveFeatureKeys(DocumentContent& read)
{
    std::set<int> featureIds;
    for (const auto& f : read.features)
        featureIds.insert(f->id);
    std::map<int, bool> moved;
    for (const auto& [key, isHidden] : read.hidden) {
        if (key <= 0 || !featureIds.count(key)) {
            moved[key] = isHidden;
            continue;
        }
        moved[-key] = isHidden;
        if (featureIds.count(key / 100))
            moved[key] = isHidden;
    }
    read.hidden = std::move(moved);
}

QJsonObject parameterToJson(const Parameter& p)
{
    return QJsonObject{
        {QStringLiteral("name"), p.name},
        {QStringLiteral("expr"), p.expr},
        {QStringLiteral("unit"), p.unit},
        {QStringLiteral("comment"), p.comment},
    };
}

Parameter parameterFromJson(const QJsonObject& json)
{
    Parameter p;
    p.name = json.value(QStringLiteral("name")).toString();
    p.expr = expressionText(json.value(QStringLiteral("expr")), QString());
    p.unit = json.value(QStringLiteral("unit")).toString();
    p.comment = json.value(QStringLiteral("comment")).toString();
    return p;
}

QJsonObject appearanceToJson(int bodyId, const BodyAppearance& a)
{
    return QJsonObject{
        {QStringLiteral("body"), bodyId},
        {QStringLiteral("material"), a.material},
        {QStringLiteral("density"), a.density},
        {QStringLiteral("color"), QJsonArray{a.r, a.g, a.b}},
    };
}

BodyAppearance appearanceFromJson(const QJsonObject& json)
{
    BodyAppearance a;
    a.density = json.value(QStringLiteral("density")).toDouble(7.85);
    a.material = json.value(QStringLiteral("material")).toString();
    const QJsonArray color = json.value(QStringLiteral("color")).toArray();
    a.r = color.at(0).toDouble(0.0);
    a.g = color.at(1).toDouble(0.0);
    a.b = color.at(2).toDouble(0.0);
    return a;
}

// The parser's error kinds in German, with where in the file it stopped.
QString parseErrorText(const QJsonParseError& error)
{
    QString kind;
    switch (error.error) {
    case QJsonParseError::UnterminatedObject:
        kind = QStringLiteral("Objekt nicht abgeschlossen");
        break;
    case QJsonParseError::MissingNameSeparator:
        kind = QStringLiteral("Doppelpunkt nach einem Namen fehlt");
        break;
    case QJsonParseError::UnterminatedArray:
        kind = QStringLiteral("Liste nicht abgeschlossen");
        break;
    case QJsonParseError::MissingValueSeparator:
        kind = QStringLiteral("Komma zwischen zwei Werten fehlt");
        break;
    case QJsonParseError::IllegalValue: kind = QStringLiteral("ungültiger Wert"); break;
    case QJsonParseError::TerminationByNumber:
        kind = QStringLiteral("Datei endet mitten in einer Zahl");
        break;
    case QJsonParseError::IllegalNumber: kind = QStringLiteral("ungültige Zahl"); break;
    case QJsonParseError::IllegalEscapeSequence:
        kind = QStringLiteral("ungültige Escape-Folge in einem Text");
        break;
    case QJsonParseError::IllegalUTF8String:
        kind = QStringLiteral("ungültige UTF-8-Zeichen in einem Text");
        break;
    case QJsonParseError::UnterminatedString:
        kind = QStringLiteral("Text nicht abgeschlossen");
        break;
    case QJsonParseError::MissingObject:
        kind = QStringLiteral("Wert nach einem Komma fehlt");
        break;
    case QJsonParseError::DeepNesting: kind = QStringLiteral("zu tief verschachtelt"); break;
    case QJsonParseError::DocumentTooLarge: kind = QStringLiteral("Dokument zu groß"); break;
    case QJsonParseError::GarbageAtEnd:
        kind = QStringLiteral("weitere Zeichen nach dem Ende des Dokuments");
        break;
    case QJsonParseError::NoError: break;
    }
    if (kind.isEmpty())
        kind = QStringLiteral("Syntaxfehler");
    return QStringLiteral("%1 (bei Byte %2)").arg(kind).arg(error.offset);
}

// Checks "format" and "version"; the error text when the object is not a
// document this version can read.
QString headerProblem(const QJsonObject& json)
{
    if (json.value(QStringLiteral("format")).toString() != formatName)
        return QStringLiteral("Keine QorCAD-Bauteildatei");
    // Compared as a number, so that 2.5 or 1e300 count as newer as well; other
    // JSON types read as version 0.
    const QJsonValue version = json.value(QStringLiteral("version"));
    if (version.isDouble() && version.toDouble() > formatVersion)
        return QStringLiteral("Die Datei stammt aus einer neueren QorCAD-Version");
    return {};
}

enum class Access { Read, Write };

// A German text for why the file cannot be read or written. Qt names the cause
// only in English ("Permission denied", "Existing file … is not writable") and
// some causes only as "Unknown error", so its text is not passed on.
// The texts name the file as the user knows it, not the link a name that is not text is
// reached by.
QString fileProblem(const QFileDevice& file, const QString& path, Access access)
{
    const QFileInfo info(path);
    const QString shown = qor::io::shownPath(path);
    if (info.isDir())
        return QStringLiteral("„%1“ ist ein Ordner, keine Datei").arg(shown);
    if (!info.absoluteDir().exists())
        return QStringLiteral("Der Ordner „%1“ existiert nicht")
            .arg(qor::io::shownPath(info.absolutePath()));
    if (access == Access::Read && !info.exists())
        return QStringLiteral("Die Datei „%1“ existiert nicht").arg(shown);
    if (access == Access::Write && info.exists() && !info.isWritable())
        return QStringLiteral("Die Datei „%1“ ist schreibgeschützt").arg(shown);
    if (file.error() == QFileDevice::PermissionsError
        || (access == Access::Read && !info.isReadable())
        || (access == Access::Write && !QFileInfo(info.absolutePath()).isWritable()))
        return QStringLiteral("Keine Berechtigung für „%1“").arg(shown);
    return access == Access::Read
               ? QStringLiteral("Die Datei „%1“ kann nicht gelesen werden").arg(shown)
               : QStringLiteral("Die Datei „%1“ kann nicht geschrieben werden").arg(shown);
}

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

} // namespace

QJsonObject Feature::toJson() const
{
    QJsonObject json{
        {QStringLiteral("id"), id},
        {QStringLiteral("type"), type},
        {QStringLiteral("name"), name},
        {QStringLiteral("params"), params},
    };
    if (suppressed)
        json.insert(QStringLiteral("suppressed"), true);
    if (sketch)
        json.insert(QStringLiteral("sketch"), sketch->toJson());
    return json;
}

std::unique_ptr<Feature> Feature::fromJson(const QJsonObject& json)
{
    auto f = std::make_unique<Feature>();
    f->id = json.value(QStringLiteral("id")).toInt(0);
    f->type = json.value(QStringLiteral("type")).toString();
    f->name = json.value(QStringLiteral("name")).toString();
    f->suppressed = json.value(QStringLiteral("suppressed")).toBool(false);
    f->params = json.value(QStringLiteral("params")).toObject();
    if (f->type == QLatin1String("sketch")) {
        f->sketch = std::make_unique<qor::sketch::Sketch>();
        f->sketch->fromJson(json.value(QStringLiteral("sketch")).toObject());
    }
    return f;
}

QJsonObject Document::toJson() const
{
    QJsonArray featureArray;
    for (const auto& f : features)
        featureArray.append(f->toJson());
    QJsonArray parameterArray;
    for (const Parameter& p : parameters)
        parameterArray.append(parameterToJson(p));
    QJsonArray appearanceArray;
    for (const auto& [bodyId, a] : appearance)
        appearanceArray.append(appearanceToJson(bodyId, a));
    QJsonObject names;
    for (const auto& [bodyId, text] : bodyNames)
        names.insert(keyOf(bodyId), text);
    // False entries of sketches are kept too: a sketch that a feature consumed is hidden unless
    // the user showed it.
    QJsonObject hiddenEntries;
    for (const auto& [key, isHidden] : hidden) {
        const Feature* f = key < 0 ? feature(-key) : nullptr;
        if (isHidden || (f != nullptr && f->type == QLatin1String("sketch")))
            hiddenEntries.insert(keyOf(key), isHidden);
    }

    QJsonObject json{
        {QStringLiteral("format"), formatName},
        {QStringLiteral("version"), formatVersion},
        {QStringLiteral("units"), QStringLiteral("mm")},
        {QStringLiteral("features"), featureArray},
        {QStringLiteral("parameters"), parameterArray},
        {QStringLiteral("appearance"), appearanceArray},
        {QStringLiteral("bodyNames"), names},
        {QStringLiteral("hidden"), hiddenEntries},
        {signedHiddenKeys, QStringLiteral("signed")},
        {QStringLiteral("rollback"), rollback},
        {QStringLiteral("nextId"), nextId},
        {QStringLiteral("meta"), meta},
    };
    if (!drawings.empty()) {
        QJsonArray sheets;
        for (const qor::app::Drawing& d : drawings)
            sheets.append(qor::app::drawingToJson(d));
        json.insert(QStringLiteral("drawings"), sheets);
    }
    if (!views.isEmpty())
        json.insert(QStringLiteral("views"), views);
    if (!components.empty()) {
        QJsonArray componentArray;
        for (const Component& c : components)
            componentArray.append(c.toJson());
        QJsonArray mateArray;
        for (const Mate& m : mates)
            mateArray.append(m.toJson());
        json.insert(QStringLiteral("components"), componentArray);
        json.insert(QStringLiteral("mates"), mateArray);
    }
    return json;
}

bool Document::fromJson(const QJsonObject& json, QString* error)
{
    if (const QString problem = headerProblem(json); !problem.isEmpty()) {
        setError(error, problem);
        return false;
    }

    // Read into a fresh document and take its stored members over at the end, so
    // that nothing here can leave this document half replaced.
    DocumentContent read;
    for (const QJsonValue& v : json.value(QStringLiteral("features")).toArray())
        read.features.push_back(Feature::fromJson(v.toObject()));
    for (const QJsonValue& v : json.value(QStringLiteral("parameters")).toArray())
        read.parameters.push_back(parameterFromJson(v.toObject()));
    for (const QJsonValue& v : json.value(QStringLiteral("appearance")).toArray()) {
        const QJsonObject o = v.toObject();
        read.appearance[o.value(QStringLiteral("body")).toInt(0)] = appearanceFromJson(o);
    }
    const QJsonObject names = json.value(QStringLiteral("bodyNames")).toObject();
    for (auto it = names.begin(); it != names.end(); ++it)
        read.bodyNames[bodyIdOf(it.key())] = it.value().toString();
    const QJsonObject hiddenEntries = json.value(QStringLiteral("hidden")).toObject();
    for (auto it = hiddenEntries.begin(); it != hiddenEntries.end(); ++it)
        read.hidden[bodyIdOf(it.key())] = it.value().toBool(false);
    if (json.value(signedHiddenKeys).toString() != QLatin1String("signed"))
        moveFeatureKeys(read);
    read.rollback = json.value(QStringLiteral("rollback")).toInt(-1);
    // A negative counter would hand out the ids of the origin planes and axes.
    read.nextId = std::max(0, json.value(QStringLiteral("nextId")).toInt(0));
    read.views = json.value(QStringLiteral("views")).toArray();
    for (const QJsonValue& v : json.value(QStringLiteral("drawings")).toArray())
        read.drawings.push_back(qor::app::drawingFromJson(v.toObject()));
    for (const QJsonValue& v : json.value(QStringLiteral("components")).toArray()) {
        read.components.push_back(Component::fromJson(v.toObject()));
        read.nextId = std::max(read.nextId, read.components.back().id);
    }
    for (const QJsonValue& v : json.value(QStringLiteral("mates")).toArray()) {
        read.mates.push_back(Mate::fromJson(v.toObject()));
        read.nextId = std::max(read.nextId, read.mates.back().id);
    }
    for (const auto& f : read.features)
        read.nextId = std::max(read.nextId, f->id);
    if (read.nextId > maxStoredId) {
        setError(error, QStringLiteral("Datei beschädigt: Nummer %1 außerhalb des zulässigen "
                                       "Bereichs")
                            .arg(read.nextId));
        return false;
    }
    read.meta = json.value(QStringLiteral("meta")).toObject();

    DocumentContent::operator=(std::move(read));
    rebindDimensionNamers();
    refreshSketchPointers();
    return true;
}

namespace {

// Writes the bytes into a save file at writtenPath, which replaces what is there only when
// complete; a failure is told by problem.
bool writeWhole(const QString& writtenPath, const QByteArray& bytes,
                const qor::io::WriteProblem& problem, QString* error)
{
    const QString failure = qor::io::replaceFile(writtenPath, bytes, problem);
    if (failure.isEmpty())
        return true;
    setError(error, failure);
    return false;
}

QString incompleteWrite(const QString& shownPath)
{
    return QStringLiteral("Die Datei „%1“ konnte nicht vollständig geschrieben werden")
        .arg(shownPath);
}

// A file whose name is not text is open through a link, and the save file would follow
// that link by its decoded name and write another file. The document is written beside it
// under a text name, which then takes the real one; a write-protected file stays, as the
// save file leaves it. Messages name the real file, never the link.
bool writeThroughLink(const qor::io::LinkedFile& linked, const QString& path,
                      const QByteArray& bytes, QString* error)
{
    const QString shown = qor::io::shownPath(path);
    if (!QFileInfo(linked.folder).isDir()) {
        setError(error, QStringLiteral("Der Ordner „%1“ existiert nicht")
                            .arg(qor::io::shownPath(linked.folder)));
        return false;
    }
    const QFileInfo target(path);
    if (target.exists() && !target.isWritable()) {
        setError(error, QStringLiteral("Die Datei „%1“ ist schreibgeschützt").arg(shown));
        return false;
    }
    errno = 0;
    qor::io::NameStage stage(linked.folder, linked.name);
    if (stage.path().isEmpty()) {
        const int reason = errno;
        setError(error,
                 reason == EACCES || reason == EPERM || reason == EROFS
                     ? QStringLiteral("Keine Berechtigung für „%1“").arg(shown)
                     : stage.failureText(
                         QStringLiteral("Die Datei „%1“ kann nicht geschrieben werden").arg(shown),
                         reason));
        return false;
    }
    const auto problem = [&shown](const QFileDevice&) { return incompleteWrite(shown); };
    if (!writeWhole(stage.path(), bytes, problem, error))
        return false;
    errno = 0;
    if (!stage.finish()) {
        const int reason = errno;
        setError(
            error,
            stage.failureText(
                QStringLiteral("Die Datei „%1“ kann nicht geschrieben werden").arg(shown), reason));
        return false;
    }
    return true;
}

} // namespace

bool Document::save(const QString& path, QString* error) const
{
    // A save file commits by renaming over the target: a device or pipe there would become
    // a regular file.
    if (const QString refused = qor::io::unreplaceableFileMessage(path); !refused.isEmpty()) {
        setError(error, refused);
        return false;
    }
    const QByteArray bytes = QJsonDocument(toJson()).toJson(QJsonDocument::Indented);
    if (const auto linked = qor::io::linkedFile(path))
        return writeThroughLink(*linked, path, bytes, error);
    const auto problem = [&path](const QFileDevice& file) {
        return file.error() != QFileDevice::NoError ? fileProblem(file, path, Access::Write)
                                                    : incompleteWrite(qor::io::shownPath(path));
    };
    return writeWhole(path, bytes, problem, error);
}

bool Document::load(const QString& path, QString* error)
{
    const QFileInfo info(path);
    // A link that leads nowhere or in a circle gets its own reason below.
    if ((!info.exists() && !info.isSymLink()) || info.isDir()) {
        setError(error, fileProblem(QFile(path), path, Access::Read));
        return false;
    }
    // The status is checked before anything is opened (a named pipe would block)
    // and the size before anything is read.
    const qor::io::FileContent content = qor::io::readWholeFile(path, maxDocumentBytes);
    if (!content.error.isEmpty()) {
        setError(error, content.error);
        return false;
    }
    try {
        QJsonParseError parseError;
        const QJsonDocument parsed = QJsonDocument::fromJson(content.bytes, &parseError);
        if (parseError.error != QJsonParseError::NoError) {
            setError(error, QStringLiteral("Datei beschädigt: ") + parseErrorText(parseError));
            return false;
        }
        // A top level that is not an object reads as an empty one and fails the
        // format check. The cache and folder change only after a successful read,
        // so that a foreign or refused file leaves the open document as it was.
        if (!fromJson(parsed.object(), error))
            return false;
    } catch (const std::bad_alloc&) {
        setError(error,
                 QStringLiteral("Zu wenig Arbeitsspeicher, um „%1“ zu lesen").arg(info.fileName()));
        return false;
    }
    clearRecomputeCache();
    // Relative component paths lead from the real file, not from a link that stands in for
    // a name that is not text.
    const std::optional<qor::io::LinkedFile> linked = qor::io::linkedFile(path);
    folder = linked ? linked->folder : info.absolutePath();
    file = path;
    return true;
}

QString expressionText(const QJsonValue& value, const QString& fallback)
{
    if (value.isString())
        return value.toString();
    if (value.isDouble())
        return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    return fallback;
}

} // namespace qor::model
