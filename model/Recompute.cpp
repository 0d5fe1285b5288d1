#include "io/KernelMessage.h"
#include "model/BooleanGroup.h"
#include "model/Document.h"
#include "model/ExecContext.h"
#include "model/FeatureDef.h"
#include "model/RecomputeStop.h"

#include <QCborValue>

#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>

#include <algorithm>
#include <charconv>
#include <exception>
#include <functional>
#include <limits>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace qor::model {
namespace {

constexpr std::uint64_t initialChainKey = 0x51ED270B;
constexpr std::uint64_t chainAddend = 0x9e3779b97f4a7c15ULL;
constexpr std::uint64_t regionAddend = 0x9e3779b9;
constexpr std::size_t cacheCapacity = 400;

// The standard library's string hash: a well-mixed 64-bit hash of the bytes.
std::uint64_t byteHash(const char* data, std::size_t size)
{
    return std::hash<std::string_view>{}(std::string_view(data, size));
}

std::uint64_t byteHash(const QByteArray& bytes)
{
    return byteHash(bytes.constData(), std::size_t(bytes.size()));
}

// Six fixed decimals like printf's "%f", whatever the process locale.
QByteArray fixedSix(double value)
{
    char buffer[400];
    const auto result
        = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
    return QByteArray(buffer, int(result.ptr - buffer));
}

QString messageOf(const char* text)
{
    const QString message = QString::fromUtf8(text ? text : "");
    // An empty message would read as success and keep a half-changed state.
    return message.isEmpty() ? QStringLiteral("Unbekannter Fehler") : message;
}

// The feature's error text, empty when the executor ran through. `broken`
// tells that one of its booleans could not wait in the group (groupIndex, as
// in ExecContext); the state is then half-changed and the text empty.
QString runGuarded(Document& document, Feature& feature, ModelState& state, int groupIndex,
                   bool& broken)
{
    broken = false;
    try {
        OCC_CATCH_SIGNALS
        document.executeFeature(feature, state, groupIndex);
        return {};
    } catch (const GroupBreak&) {
        broken = true;
        return {};
    } catch (const FeatureError& e) {
        return messageOf(e.what());
    } catch (const Standard_Failure& e) {
        return geometryErrorText(e);
    } catch (const std::exception& e) {
        return messageOf(e.what());
    } catch (...) {
        return QStringLiteral("Unbekannter Fehler");
    }
}

bool isSketchType(const Feature& feature)
{
    return feature.type == QLatin1String("sketch");
}

using SketchOwners = std::unordered_map<int, qor::sketch::Sketch*>;

SketchOwners sketchOwners(const Document& document)
{
    SketchOwners owners;
    for (const auto& f : document.features) {
        if (f->sketch)
            owners.emplace(f->id, f->sketch.get());
    }
    return owners;
}

// Writes only when a pointer is wrong or a sketch is gone: a state shared with
// the cache stays shared when nothing changed.
void pointAtOwners(ModelState& state, const SketchOwners& owners)
{
    const auto owner = [&](int id) {
        const auto it = owners.find(id);
        return it == owners.end() ? nullptr : it->second;
    };
    const auto& placed = std::as_const(state).sketches;
    const auto pointsRight = [&](const auto& entry) {
        return entry.second.sketch && entry.second.sketch == owner(entry.first);
    };
    if (std::all_of(placed.begin(), placed.end(), pointsRight))
        return;
    for (auto it = state.sketches.begin(); it != state.sketches.end();) {
        if (qor::sketch::Sketch* sketch = owner(it->first)) {
            it->second.sketch = sketch;
            ++it;
        } else {
            it = state.sketches.erase(it);
        }
    }
}

// What the sketch's driving dimensions evaluate to now. A dimension may name
// one of a later sketch, which the chain of keys before it does not cover.
QByteArray drivingValues(const Document& document, const qor::sketch::Sketch& sketch)
{
    QByteArray values;
    for (const qor::sketch::Constraint& c : sketch.constraints) {
        if (!qor::sketch::isDimensional(c.type) || c.expression.empty() || c.driven)
            continue;
        const EvalResult result = document.tryEval(QString::fromStdString(c.expression));
        const double value = result.ok ? result.value : std::numeric_limits<double>::quiet_NaN();
        values.append(reinterpret_cast<const char*>(&value), sizeof value);
    }
    return values;
}

// What the feature's expressions evaluate to now. An expression may name a
// dimension of a later sketch, which the chain of keys before it does not cover.
QByteArray expressionValues(const Document& document, const Feature& feature)
{
    const FeatureDef* def = findFeatureDef(feature.type);
    if (!def)
        return {};
    QByteArray values;
    for (const ParamDef& param : def->params) {
        const QJsonValue stored = feature.params.value(param.key);
        if (param.kind > ParamKind::Integer || !stored.isString())
            continue;
        const EvalResult result = document.tryEval(stored.toString().trimmed());
        const double value = result.ok ? result.value : std::numeric_limits<double>::quiet_NaN();
        values.append(reinterpret_cast<const char*>(&value), sizeof value);
    }
    return values;
}

} // namespace

QString geometryErrorText(const Standard_Failure& failure)
{
    const char* text = failure.GetMessageString();
    if (!text || !*text)
        return QStringLiteral("Geometriefehler: Der Geometriekern meldet %1 ohne Begründung")
            .arg(QString::fromLatin1(failure.DynamicType()->Name()));
    return qor::io::withoutKernelSignal(
        QStringLiteral("Geometriefehler: %1").arg(QString::fromUtf8(text)));
}

int Document::recompute(RecomputeWatch* progress)
{
    evaluateParameters();
    for (const auto& f : features) {
        if (f->sketch && !f->sketch->dimensionNamer)
            installDimensionNamer(*f->sketch);
    }
    const SketchOwners owners = sketchOwners(*this);

    ModelState state;
    int failed = 0;
    snapshots.clear();
    snapshots.reserve(features.size());
    const int count = int(features.size());
    const int stop = rollback < 0 ? count : std::min(count, rollback);
    if (progress)
        progress->total = stop;
    std::uint64_t key = initialChainKey;
    const std::uint64_t parameters = parametersKey();
    std::vector<std::pair<std::uint64_t, RecomputeCacheEntry>> thisRun(features.size());

    // The last feature to run works on settled bodies: the state before it is
    // then the one an edit of it starts from, and it is cached settled.
    int lastActive = -1;
    for (int i = 0; i < stop; ++i) {
        if (!features[std::size_t(i)]->suppressed)
            lastActive = i;
    }
    // Chain key and failure count before each position, for running a group again.
    std::vector<std::uint64_t> keyBefore(features.size());
    std::vector<int> failedBefore(features.size());
    // Features whose booleans run on their own: their group failed its check.
    std::vector<char> alone(features.size(), 0);
    // Back to where the state's group failed its check; returns that position.
    const auto runAgainAfter = [&](const SettleOutcome& outcome, int upTo) {
        const BooleanGroup& group = *state.group;
        int from = group.ops.front().featureIndex;
        if (outcome.blamed) {
            from = group.ops[*outcome.blamed].featureIndex;
            alone[std::size_t(from)] = 1;
        } else {
            std::fill(alone.begin() + from, alone.begin() + upTo, 1);
        }
        state = snapshots[std::size_t(from)];
        key = keyBefore[std::size_t(from)];
        failed = failedBefore[std::size_t(from)];
        snapshots.resize(std::size_t(from));
        return from;
    };
    // A cached state whose group failed its check before reaching it is stale.
    const auto usable = [](const RecomputeCacheEntry* hit) {
        return hit && (!hit->state.group || hit->state.groupOps <= hit->state.group->sound);
    };

    int i = 0;
    for (;;) {
        for (; i < count; ++i) {
            if (recomputeStopped()) {
                abandonResults();
                return failed;
            }
            if (progress) {
                progress->booleanShare = 0.0;
                progress->done = std::min(i, stop);
            }
            Feature& f = *features[std::size_t(i)];
            snapshots.push_back(state);
            keyBefore[std::size_t(i)] = key;
            failedBefore[std::size_t(i)] = failed;
            if (i >= stop) {
                f.error.clear();
                continue;
            }
            if (f.suppressed) {
                f.error.clear();
                f.warning.clear();
                continue;
            }
            const std::uint64_t previous = key;
            key = featureKey(f, previous, parameters);
            const RecomputeCacheEntry* hit = isSketchType(f) ? lastResult(key, std::size_t(i))
                                                             : cachedResult(key, std::size_t(i));
            if (usable(hit)) {
                state = hit->state;
                pointAtOwners(state, owners);
                f.error = hit->error;
                f.warning = hit->warning;
                if (!f.error.isEmpty())
                    ++failed;
                thisRun[std::size_t(i)] = {key, *hit};
                continue;
            }

            bool grouped
                = groupBooleans && !alone[std::size_t(i)] && i != lastActive && mayRunGrouped(f);
            SettleOutcome settled;
            for (int attempt = 0;; ++attempt) {
                // A feature that reads the bodies, or one whose boolean could
                // not wait, finds the group's booleans done.
                if (state.group && (!grouped || attempt > 0)) {
                    settled = settleChecked(state);
                    if (!settled.settled)
                        break;
                }
                f.error.clear();
                f.warning.clear();
                ModelState backup = state;
                bool broken = false;
                f.error = runGuarded(*this, f, state, grouped ? i : -1, broken);
                if (broken) {
                    // Without a group to wait in, the boolean cannot wait at all.
                    grouped = grouped && backup.group;
                    state = std::move(backup);
                    continue;
                }
                if (!f.error.isEmpty()) {
                    state = std::move(backup);
                    ++failed;
                }
                break;
            }
            if (!settled.settled) {
                i = runAgainAfter(settled, i) - 1;
                continue;
            }
            thisRun[std::size_t(i)] = {key, RecomputeCacheEntry{state, f.error, f.warning}};
            if (!isSketchType(f)) {
                storeResult(key, thisRun[std::size_t(i)].second);
                continue;
            }
            // A sketch writes its solution back: the features after it chain to the
            // sketch as solved, and the next recompute that finds it so takes its
            // result from this run instead of solving it again. Sketches stay out
            // of the shared cache, which keeps the results of the bodies.
            key = featureKey(f, previous, parameters);
            thisRun[std::size_t(i)].first = key;
        }
        // Rolled back inside a group, or its last feature from the cache.
        if (state.group) {
            const SettleOutcome settled = settleChecked(state);
            if (!settled.settled) {
                i = runAgainAfter(settled, count);
                continue;
            }
        }
        break;
    }
    lastRun_ = std::move(thisRun);

    if (!components.empty())
        runAssemblyPass(state);
    if (recomputeStopped()) {
        abandonResults();
        return failed;
    }
    current = std::move(state);
    pointAtOwners(current, owners);
    if (progress) {
        progress->booleanShare = 0.0;
        progress->done = stop;
    }
    return failed;
}

void Document::abandonResults()
{
    current = ModelState();
    snapshots.clear();
    clearRecomputeCache();
}

const RecomputeCacheEntry* Document::cachedResult(std::uint64_t key, std::size_t position)
{
    if (const auto hit = cache.find(key); hit != cache.end()) {
        const auto used = std::find(cacheOrder.begin(), cacheOrder.end(), key);
        if (used != cacheOrder.end())
            std::rotate(used, used + 1, cacheOrder.end());
        return &hit->second;
    }
    return lastResult(key, position);
}

const RecomputeCacheEntry* Document::lastResult(std::uint64_t key, std::size_t position) const
{
    if (position < lastRun_.size() && lastRun_[position].first == key)
        return &lastRun_[position].second;
    return nullptr;
}

void Document::storeResult(std::uint64_t key, const RecomputeCacheEntry& entry)
{
    if (!cache.insert_or_assign(key, entry).second)
        return; // already listed
    cacheOrder.push_back(key);
    if (cacheOrder.size() > cacheCapacity) {
        cache.erase(cacheOrder.front());
        cacheOrder.erase(cacheOrder.begin());
    }
}

void Document::runAssemblyPass(ModelState& state)
{
    assemblyError.clear();
    if (!assemblyPass)
        return;
    // The features' results are already in the state; a failing assembly step
    // must not take them down with it, so its bodies are added only when it
    // ran through.
    ModelState placed = state;
    try {
        OCC_CATCH_SIGNALS
        assemblyPass(*this, placed);
        state = std::move(placed);
        return;
    } catch (const Standard_Failure& e) {
        assemblyError = geometryErrorText(e);
    } catch (const std::exception& e) {
        assemblyError = messageOf(e.what());
    } catch (...) {
        assemblyError = QStringLiteral("Unbekannter Fehler");
    }
}

std::uint64_t Document::featureKey(const Feature& feature, std::uint64_t previous) const
{
    return featureKey(feature, previous, parametersKey());
}

std::uint64_t Document::parametersKey() const
{
    QByteArray text;
    for (const Parameter& p : parameters) {
        text += p.name.toUtf8();
        text += '=';
        text += fixedSix(p.value);
        text += ';';
    }
    return byteHash(text);
}

std::uint64_t Document::featureKey(const Feature& feature, std::uint64_t previous,
                                   std::uint64_t parameters) const
{
    // Binary: writing every number of a sketch as text took a third of a key.
    QByteArray text = QCborValue::fromJsonValue(feature.toJson()).toCbor();
    text += expressionValues(*this, feature);
    if (feature.sketch)
        text += drivingValues(*this, *feature.sketch);
    const std::uint64_t own = byteHash(text);
    const std::uint64_t h = own ^ (parameters + chainAddend + (own << 6) + (own >> 2));
    return previous ^ (h + chainAddend + (previous << 6) + (previous >> 2));
}

void Document::executeFeature(Feature& feature, ModelState& state)
{
    executeFeature(feature, state, -1);
}

void Document::executeFeature(Feature& feature, ModelState& state, int groupIndex)
{
    const FeatureDef* def = findFeatureDef(feature.type);
    if (!def)
        throw FeatureError(QStringLiteral("Unbekannter Feature-Typ ") + feature.type);
    // Executors that read bodies read them settled.
    if (groupIndex < 0)
        settleState(*this, state);
    ExecContext context{*this, feature, state, groupIndex};
    try {
        def->exec(context);
    } catch (const Standard_Failure&) {
        // The kernel's own words ("Infinite parameter", or none) would not tell why.
        if (context.beyondKernelRange)
            throw FeatureError(QStringLiteral("Maß außerhalb des darstellbaren Bereichs"));
        throw;
    }
}

const ModelState& Document::stateBefore(std::size_t index)
{
    ModelState& snapshot = snapshots.at(index);
    settleState(*this, snapshot);
    return snapshot;
}

void Document::pruneSketchResults(ModelState& state) const
{
    pointAtOwners(state, sketchOwners(*this));
}

void Document::refreshSketchPointers()
{
    const SketchOwners owners = sketchOwners(*this);
    pointAtOwners(current, owners);
    for (ModelState& snapshot : snapshots)
        pointAtOwners(snapshot, owners);
    // Cached results keep their sketch results: undoing a removal brings the
    // feature back under its id and the entries are valid again. Only the
    // pointers are cleared; handing an entry out points them anew.
    const auto clearGone = [&](ModelState& state) {
        for (auto& [id, result] : state.sketches) {
            const auto it = owners.find(id);
            result.sketch = it == owners.end() ? nullptr : it->second;
        }
    };
    for (auto& [key, entry] : cache)
        clearGone(entry.state);
    for (auto& [key, entry] : lastRun_)
        clearGone(entry.state);
}

std::vector<qor::sketch::ProfileRegion>& Document::sketchRegions(Feature& feature,
                                                                 const gp_Ax3& plane) const
{
    if (!feature.sketch) {
        feature.regions.clear();
        feature.regionsKey = 0;
        return feature.regions;
    }
    // Regions depend on the curves and the parameter values only; hashing those directly keeps
    // the check cheap enough for the sketch editor, which asks on every painted frame.
    const qor::sketch::Sketch& sketch = *feature.sketch;
    std::vector<std::int64_t> curves;
    curves.reserve(sketch.entities.size() * 8);
    for (const qor::sketch::Entity& e : sketch.entities)
        curves.insert(curves.end(), {std::int64_t(e.id), std::int64_t(e.type),
                                     std::int64_t(e.construction), e.a, e.b, e.c, e.p0, e.p1});
    const std::uint64_t h1 = byteHash(reinterpret_cast<const char*>(sketch.params.data()),
                                      sketch.params.size() * sizeof(double))
                             ^ (byteHash(reinterpret_cast<const char*>(curves.data()),
                                         curves.size() * sizeof(std::int64_t))
                                << 1);
    // Every coordinate of the frame goes into the key: a weighted sum of them
    // collides for different planes (and ignores a flipped Y direction), which
    // would hand out regions lying on the old plane.
    const gp_Pnt& p = plane.Location();
    const gp_Dir& d = plane.Direction();
    const gp_Dir& u = plane.XDirection();
    const gp_Dir& v = plane.YDirection();
    double frame[]
        = {p.X(), p.Y(), p.Z(), d.X(), d.Y(), d.Z(), u.X(), u.Y(), u.Z(), v.X(), v.Y(), v.Z()};
    for (double& c : frame)
        c += 0.0; // -0 and +0 give one key
    const std::uint64_t h2 = byteHash(reinterpret_cast<const char*>(frame), sizeof frame);
    const std::uint64_t key = ((h1 << 6) + regionAddend + h2) ^ h1;
    if (key == feature.regionsKey && !feature.regions.empty())
        return feature.regions;
    feature.regions = qor::sketch::buildRegions(*feature.sketch, plane);
    feature.regionsKey = key;
    return feature.regions;
}

} // namespace qor::model
