#include "model/ComponentGeometry.h"

#include "expr/Format.h"
#include "io/FileAccess.h"
#include "io/Import.h"
#include "io/ShapeText.h"
#include "io/SolidEdgeAssembly.h"
#include "model/Document.h"
#include "model/RecomputeStop.h"

#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>
#include <TopLoc_Location.hxx>
#include <gp_Vec.hxx>

#include <algorithm>
#include <cmath>
#include <exception>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_map>

namespace qor::model {

namespace {

// Deeper than any real assembly (a chain of a hundred sub-assemblies), and
// shallow enough that the nested loads, each a document recompute, fit the stack.
constexpr std::size_t maxNestingDepth = 100;
constexpr double rotationTolerance = 1e-6;
constexpr std::size_t independent = std::numeric_limits<std::size_t>::max();

// One file being loaded, by canonical path; the innermost is last. A load that
// meets a file already on this stack refuses it, so what a load gives can
// depend on the loads around it: such a result is reused only within the same
// outermost load.
struct LoadFrame {
    QString file;
    QString note; // a circle or the depth limit met below this load
    std::size_t dependsOn = independent; // lowest stack position the result depends on
    QSet<QString> contains; // every file loaded below this load
    std::uint64_t leftOut = 0; // bodies that components below this load left out
};

thread_local std::vector<LoadFrame> loadStack;
thread_local std::uint64_t loadSession = 0;
// A cached result that holds a file being loaded around it must be loaded again
// without that file. In a tangle of circles that could happen for every path
// through it, so an outermost load does it this often at most; beyond that,
// such a file is left out like the circle itself.
constexpr int maxCircleReloads = 200;
thread_local int circleReloads = 0;

// The caches below and the file reader are the process's, and a document may recompute
// on a worker thread while the window recomputes another: each is used under this lock,
// which is never held across a load.
std::mutex& cachesLock()
{
    static std::mutex lock;
    return lock;
}

std::map<QString, ComponentFileCacheEntry>& componentFileCache()
{
    static std::map<QString, ComponentFileCacheEntry> cache;
    return cache;
}

// Beside each cache entry: the bodies its file holds beyond those it gives, which
// components of nested assemblies left out.
std::map<QString, std::uint64_t>& leftOutCache()
{
    static std::map<QString, std::uint64_t> cache;
    return cache;
}

std::unordered_map<std::uint64_t, TopoDS_Shape>& embeddedGeometryCache()
{
    static std::unordered_map<std::uint64_t, TopoDS_Shape> cache;
    return cache;
}

// Puts a file on the load stack for its lifetime; the first one starts a new
// outermost load.
class LoadScope {
public:
    explicit LoadScope(const QString& file)
    {
        if (loadStack.empty()) {
            ++loadSession;
            circleReloads = 0;
        }
        loadStack.push_back({file, {}, independent, {}, 0});
    }
    ~LoadScope() { loadStack.pop_back(); }
    LoadScope(const LoadScope&) = delete;
    LoadScope& operator=(const LoadScope&) = delete;
};

// What a nested load met becomes part of the load around it, so that the
// outermost component shows it even when it has bodies.
void passUp(const QString& note, std::size_t dependsOn, const QString& file = {},
            const QSet<QString>& contains = {})
{
    if (loadStack.empty())
        return;
    LoadFrame& caller = loadStack.back();
    if (caller.note.isEmpty())
        caller.note = note;
    caller.dependsOn = std::min(caller.dependsOn, dependsOn);
    if (!file.isEmpty())
        caller.contains.insert(file);
    caller.contains.unite(contains);
}

// Bodies left out below count for the load around them: a component placing that
// file's bodies says how many there were in all.
void passUpLeftOut(std::uint64_t count)
{
    if (!loadStack.empty())
        loadStack.back().leftOut += count;
}

// The first file on the load stack that the cached result holds; empty when none.
QString heldFileBeingLoaded(const ComponentFileCacheEntry& entry)
{
    for (const LoadFrame& frame : loadStack) {
        if (entry.contains.contains(frame.file))
            return frame.file;
    }
    return {};
}

QString circleNote(const QString& file)
{
    return QStringLiteral("Kreisbezug: „%1“ enthält sich selbst; die innere Kopie wird weggelassen")
        .arg(QFileInfo(file).fileName());
}

QString depthNote()
{
    return QStringLiteral("Baugruppe zu tief verschachtelt: mehr als %1 Ebenen, tiefere werden "
                          "weggelassen")
        .arg(maxNestingDepth);
}

// Canonical paths by the path as given, for one assembly pass: resolving the
// links costs a system call per folder, and a pass asks for each component
// file many times (mates, pivots, the bodies).
thread_local QHash<QString, QString> canonicalKeys;

// The file's identity whatever way leads to it: links and "." or ".." in the
// path make one file look like many.
QString canonicalKey(const QString& path)
{
    if (const auto known = canonicalKeys.constFind(path); known != canonicalKeys.constEnd())
        return *known;
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return *canonicalKeys.insert(path, canonical.isEmpty() ? info.absoluteFilePath() : canonical);
}

// The kernel refuses to locate a shape by anything but a rigid motion.
bool isRigid(const gp_Trsf& trsf)
{
    return !trsf.IsNegative()
           && std::abs(std::abs(trsf.ScaleFactor()) - 1.0) <= TopLoc_Location::ScalePrec();
}

void setMessage(QString* message, const QString& text)
{
    if (message)
        *message = text;
}

// loadComponentFile, with how many bodies the file holds beyond those given.
std::vector<ComponentBody> loadCountingLeftOut(const QString& path, QString* message,
                                               std::uint64_t& leftOut);
// A component's geometry in its own coordinates, as Document::componentShape gives it;
// leftOut gets how many bodies nested assemblies left out of it.
std::vector<ComponentBody> componentBodies(const Document& document, const Component& component,
                                           QString* message, std::uint64_t& leftOut);

std::vector<ComponentBody> documentBodies(const QString& path, QString& msg)
{
    Document document;
    if (!document.load(path, &msg))
        return {};
    document.recompute();
    std::vector<ComponentBody> bodies;
    for (const auto& [id, body] : document.current.bodies) {
        const auto hidden = document.hidden.find(id);
        if (hidden != document.hidden.end() && hidden->second)
            continue;
        bodies.push_back({document.bodyName(id), body.shape});
    }
    // An assembly whose own components failed says why, rather than just that
    // nothing came out of it.
    if (bodies.empty()) {
        for (const Component& c : document.components) {
            if (!c.status.isEmpty()) {
                msg = c.status;
                break;
            }
        }
    }
    return bodies;
}

std::vector<ComponentBody> solidEdgeBodies(const QString& path, QString& msg)
{
    std::vector<ComponentBody> bodies;
    for (const qor::io::SolidEdgeOccurrence& occurrence :
         qor::io::readSolidEdgeAssembly(path, &msg)) {
        QString partMessage;
        // A mirrored or distorted occurrence costs only itself.
        if (const std::optional<gp_Trsf> placement
            = rigidTransform(occurrence.placement, &partMessage)) {
            const TopLoc_Location location(*placement);
            std::uint64_t partLeftOut = 0;
            for (const ComponentBody& part :
                 loadCountingLeftOut(occurrence.filePath, &partMessage, partLeftOut))
                bodies.push_back({occurrence.name, part.shape.Moved(location)});
            passUpLeftOut(partLeftOut);
        }
        if (!partMessage.isEmpty() && msg.isEmpty())
            msg = partMessage;
    }
    return bodies;
}

ComponentFileReader& componentFileReader()
{
    static ComponentFileReader reader
        = [](const QString& path) { return qor::io::importFile(path, {}); };
    return reader;
}

std::vector<ComponentBody> importedBodies(const QString& path, QString& msg)
{
    ComponentFileReader reader;
    {
        const std::lock_guard<std::mutex> lock(cachesLock());
        reader = componentFileReader();
    }
    qor::io::ImportResult result = reader(path);
    // What the reader left out (faces it could not read) belongs to the component as much
    // as a failure.
    msg = result.ok ? result.warning : result.error;
    std::vector<ComponentBody> bodies;
    bodies.reserve(result.bodies.size());
    for (qor::io::ImportedBody& body : result.bodies)
        bodies.push_back({body.name, body.shape});
    return bodies;
}

std::vector<ComponentBody> readComponentFile(const QString& path, QString& msg)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    // Whatever a file does to the readers, it costs this component its bodies
    // and nothing else.
    try {
        OCC_CATCH_SIGNALS
        if (suffix == QLatin1String("qcpart") || suffix == QLatin1String("qcasm"))
            return documentBodies(path, msg);
        if (suffix == QLatin1String("asm"))
            return solidEdgeBodies(path, msg);
        return importedBodies(path, msg);
    } catch (const Standard_Failure& e) {
        msg = geometryErrorText(e);
    } catch (const std::exception& e) {
        msg = QString::fromUtf8(e.what());
    } catch (...) {
        msg = QStringLiteral("Unbekannter Fehler");
    }
    return {};
}

std::uint64_t textHash(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    return std::hash<std::string_view>{}(
        std::string_view(bytes.constData(), std::size_t(bytes.size())));
}

// The status of a component that could not take all bodies of its file, with
// what else its load said.
QString keptBodiesStatus(std::size_t kept, std::uint64_t held, const QString& message)
{
    const QString text = QStringLiteral("%1 von %2 Körpern übernommen")
                             .arg(germanCount(kept), germanCount(held));
    return message.isEmpty() ? text : text + QStringLiteral("; ") + message;
}

// The bodies of one component, placed; throws what the kernel throws.
std::vector<Body> placedBodies(const Document& document, Component& component)
{
    if (component.id < 0 || component.id > maxComponentId) {
        component.status = QStringLiteral("Komponentennummer außerhalb des zulässigen Bereichs");
        return {};
    }
    QString message;
    std::uint64_t leftOutBelow = 0;
    const std::vector<ComponentBody> bodies
        = componentBodies(document, component, &message, leftOutBelow);
    component.status = message;
    if (bodies.empty())
        return {};
    if (const QString problem = placementNumbersProblem(component.m); !problem.isEmpty()) {
        component.status = problem;
        return {};
    }
    const gp_Trsf trsf = component.transform();
    if (!isRigid(trsf)) {
        component.status
            = QStringLiteral("Geometriefehler: Platzierung ist gespiegelt oder skaliert");
        return {};
    }
    const TopLoc_Location location(trsf);
    const std::size_t count = std::min<std::size_t>(bodies.size(), maxBodiesPerComponent);
    // The body ids of one component end where the next component's begin: what does not
    // fit is left out, and the status says so.
    const std::uint64_t held = bodies.size() + leftOutBelow;
    if (held > count) {
        component.status = keptBodiesStatus(count, held, message);
        passUpLeftOut(held - count);
    }
    std::vector<Body> placed;
    placed.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        Body body;
        body.id = assemblyBodyId(component.id, int(i));
        body.name = bodies.size() == 1 ? component.name
                                       : component.name + QStringLiteral(" / ") + bodies[i].name;
        body.shape = bodies[i].shape.Moved(location);
        body.featureId = -component.id;
        placed.push_back(std::move(body));
    }
    return placed;
}

} // namespace

void setComponentFileReader(ComponentFileReader reader)
{
    const std::lock_guard<std::mutex> lock(cachesLock());
    componentFileReader() = reader
                                ? std::move(reader)
                                : [](const QString& path) { return qor::io::importFile(path, {}); };
}

QString placementNumbersProblem(const std::array<double, 12>& m)
{
    if (std::all_of(m.begin(), m.end(), [](double v) { return std::isfinite(v); }))
        return {};
    return QStringLiteral("Geometriefehler: Platzierung enthält ungültige Zahlen");
}

std::optional<gp_Trsf> rigidTransform(const std::array<double, 12>& m, QString* error)
{
    if (const QString problem = placementNumbersProblem(m); !problem.isEmpty()) {
        setMessage(error, problem);
        return std::nullopt;
    }
    const gp_Vec c0(m[0], m[4], m[8]);
    const gp_Vec c1(m[1], m[5], m[9]);
    const gp_Vec c2(m[2], m[6], m[10]);
    const double deviation = std::max({std::abs(c0.Dot(c0) - 1.0), std::abs(c1.Dot(c1) - 1.0),
                                       std::abs(c2.Dot(c2) - 1.0), std::abs(c0.Dot(c1)),
                                       std::abs(c0.Dot(c2)), std::abs(c1.Dot(c2))});
    if (deviation > rotationTolerance || c0.Crossed(c1).Dot(c2) <= 0.0) {
        setMessage(error, QStringLiteral("Geometriefehler: Platzierung ist keine reine Drehung"));
        return std::nullopt;
    }
    const gp_Vec x = c0.Normalized();
    const gp_Vec y = (c1 - x * x.Dot(c1)).Normalized();
    const gp_Vec z = x.Crossed(y);
    gp_Trsf trsf;
    trsf.SetValues(x.X(), y.X(), z.X(), m[3], x.Y(), y.Y(), z.Y(), m[7], x.Z(), y.Z(), z.Z(),
                   m[11]);
    if (!isRigid(trsf)) {
        setMessage(error, QStringLiteral("Geometriefehler: Platzierung ist keine reine Drehung"));
        return std::nullopt;
    }
    return trsf;
}

namespace {

std::vector<ComponentBody> loadCountingLeftOut(const QString& path, QString* message,
                                               std::uint64_t& leftOut)
{
    leftOut = 0;
    // A missing file, a folder, a named pipe or a device is refused by its
    // status, never opened, and not cached.
    if (const QString refused = qor::io::unreadableFileMessage(path); !refused.isEmpty()) {
        setMessage(message, refused);
        return {};
    }
    const QFileInfo info(path);
    const QString key = canonicalKey(path);
    const auto open = std::find_if(loadStack.begin(), loadStack.end(),
                                   [&key](const LoadFrame& frame) { return frame.file == key; });
    if (open != loadStack.end()) {
        const QString note = circleNote(key);
        passUp(note, std::size_t(open - loadStack.begin()));
        setMessage(message, note);
        return {};
    }
    const QDateTime modified = info.lastModified();
    const std::int64_t size = info.size();
    std::optional<ComponentFileCacheEntry> cached;
    std::uint64_t cachedLeftOut = 0;
    {
        const std::lock_guard<std::mutex> lock(cachesLock());
        if (const auto hit = componentFileCache().find(key); hit != componentFileCache().end()) {
            cached = hit->second;
            cachedLeftOut = leftOutCache()[key];
        }
    }
    if (cached && cached->modified == modified && cached->size == size
        && (!cached->contextual || (!loadStack.empty() && cached->session == loadSession))) {
        const ComponentFileCacheEntry& entry = *cached;
        const QString held = heldFileBeingLoaded(entry);
        if (held.isEmpty()) {
            passUp(entry.note, entry.contextual ? 0 : independent, key, entry.contains);
            setMessage(message, entry.message);
            leftOut = cachedLeftOut;
            return entry.bodies;
        }
        if (++circleReloads > maxCircleReloads) {
            const QString note = circleNote(held);
            passUp(note, 0);
            setMessage(message, note);
            return {};
        }
    }
    if (loadStack.size() >= maxNestingDepth) {
        const QString note = depthNote();
        passUp(note, 0);
        setMessage(message, note);
        return {};
    }

    QString msg;
    std::vector<ComponentBody> bodies;
    const std::size_t position = loadStack.size();
    LoadFrame frame;
    {
        const LoadScope scope(key);
        bodies = readComponentFile(path, msg);
        frame = std::move(loadStack[position]);
    }
    if (!bodies.empty() && (!frame.note.isEmpty() || msg.isEmpty()))
        msg = frame.note;
    else if (msg.isEmpty())
        msg = frame.note.isEmpty() ? QStringLiteral("Keine Geometrie") : frame.note;
    const bool contextual = frame.dependsOn < position;
    // A load cut short by a stopped recompute lacks bodies it would have had.
    if (!recomputeStopped()) {
        const std::lock_guard<std::mutex> lock(cachesLock());
        componentFileCache()[key]
            = ComponentFileCacheEntry{modified,   size,       bodies,      msg,
                                      frame.note, contextual, loadSession, frame.contains};
        leftOutCache()[key] = frame.leftOut;
    }
    passUp(frame.note, contextual ? frame.dependsOn : independent, key, frame.contains);
    setMessage(message, msg);
    leftOut = frame.leftOut;
    return bodies;
}

std::vector<ComponentBody> componentBodies(const Document& document, const Component& component,
                                           QString* message, std::uint64_t& leftOut)
{
    leftOut = 0;
    if (component.embedded.isEmpty())
        return loadCountingLeftOut(document.resolvePath(component.path), message, leftOut);
    const std::uint64_t h = textHash(component.embedded);
    TopoDS_Shape shape;
    {
        const std::lock_guard<std::mutex> lock(cachesLock());
        auto& cache = embeddedGeometryCache();
        auto entry = cache.find(h);
        if (entry == cache.end())
            entry = cache.emplace(h, qor::io::shapeFromBase64(component.embedded)).first;
        shape = entry->second;
    }
    if (shape.IsNull()) {
        setMessage(message, QStringLiteral("Eingebettete Geometrie beschädigt"));
        return {};
    }
    return {ComponentBody{component.name, shape}};
}

} // namespace

std::vector<ComponentBody> loadComponentFile(const QString& path, QString* message)
{
    std::uint64_t leftOut = 0;
    return loadCountingLeftOut(path, message, leftOut);
}

std::vector<ComponentBody> Document::componentShape(const Component& component,
                                                    QString* message) const
{
    std::uint64_t leftOut = 0;
    return componentBodies(*this, component, message, leftOut);
}

void Document::buildAssemblyBodies(ModelState& state)
{
    for (Component& component : components) {
        component.status.clear();
        if (component.hidden)
            continue;
        try {
            OCC_CATCH_SIGNALS
            for (Body& body : placedBodies(*this, component))
                state.bodies[body.id] = std::move(body);
        } catch (const Standard_Failure& e) {
            component.status = geometryErrorText(e);
        }
    }
}

void assembleComponents(Document& document, ModelState& state)
{
    // A document opened on its own is the outermost load: its file is on the
    // stack, so that a component leading back to it closes a circle there.
    std::optional<LoadScope> own;
    if (loadStack.empty()) {
        // Links may have changed since the last pass.
        canonicalKeys.clear();
        if (!document.file.isEmpty())
            own.emplace(canonicalKey(document.file));
    }
    document.solveMates();
    document.buildAssemblyBodies(state);
}

} // namespace qor::model
