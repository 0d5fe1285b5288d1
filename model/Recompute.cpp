#include "model/FeatureDef.h"
#include "model/Document.h"
#include "model/ExecContext.h"

#include <QJsonDocument>

#include <Standard_ErrorHandler.hxx>
#include <Standard_Failure.hxx>

#include <algorithm>
#include <charconv>
#include <exception>
#include <functional>
#include <string_view>
#include <unordered_map>

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
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                      std::chars_format::fixed, 6);
    return QByteArray(buffer, int(result.ptr - buffer));
}

QString messageOf(const char* text)
{
    const QString message = QString::fromUtf8(text ? text : "");
    // An empty message would read as success and keep a half-changed state.
    return message.isEmpty() ? QStringLiteral("Unbekannter Fehler") : message;
}

// The feature's error text, empty when the executor ran through.
QString runGuarded(Document& document, Feature& feature, ModelState& state)
{
    try {
        OCC_CATCH_SIGNALS
        document.executeFeature(feature, state);
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

} // namespace

QString geometryErrorText(const Standard_Failure& failure)
{
    const char* text = failure.GetMessageString();
    return QStringLiteral("Geometriefehler: %1").arg(QString::fromUtf8(text ? text : ""));
}

int Document::recompute()
{
    evaluateParameters();
    for (const auto& f : features) {
        if (f->sketch && !f->sketch->dimensionNamer)
            installDimensionNamer(*f->sketch);
    }

    ModelState state;
    int failed = 0;
    snapshots.clear();
    snapshots.reserve(features.size());
    const int count = int(features.size());
    const int stop = rollback < 0 ? count : std::min(count, rollback);
    std::uint64_t key = initialChainKey;

    for (int i = 0; i < count; ++i) {
        Feature& f = *features[std::size_t(i)];
        snapshots.push_back(state);
        if (i >= stop) {
            f.error.clear();
            continue;
        }
        if (f.suppressed) {
            f.error.clear();
            f.warning.clear();
            continue;
        }
        key = featureKey(f, key);
        // Sketches always run: they write solved geometry back into the document.
        const bool cacheable = !isSketchType(f);
        if (cacheable) {
            if (const auto hit = cache.find(key); hit != cache.end()) {
                state = hit->second.state;
                pruneSketchResults(state);
                f.error = hit->second.error;
                f.warning = hit->second.warning;
                if (!f.error.isEmpty())
                    ++failed;
                continue;
            }
        }

        f.error.clear();
        f.warning.clear();
        ModelState backup = state;
        f.error = runGuarded(*this, f, state);
        if (!f.error.isEmpty()) {
            state = std::move(backup);
            ++failed;
        }
        if (!cacheable)
            continue;
        cache[key] = RecomputeCacheEntry{state, f.error, f.warning};
        cacheOrder.push_back(key);
        if (cacheOrder.size() > cacheCapacity) {
            cache.erase(cacheOrder.front());
            cacheOrder.erase(cacheOrder.begin());
        }
    }

    if (!components.empty())
        runAssemblyPass(state);
    current = std::move(state);
    pruneSketchResults(current);
    return failed;
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
    QByteArray text = QJsonDocument(feature.toJson()).toJson(QJsonDocument::Compact);
    for (const Parameter& p : parameters) {
        text += p.name.toUtf8();
        text += '=';
        text += fixedSix(p.value);
        text += ';';
    }
    const std::uint64_t h = byteHash(text);
    return previous ^ (h + chainAddend + (previous << 6) + (previous >> 2));
}

void Document::executeFeature(Feature& feature, ModelState& state)
{
    const FeatureDef* def = findFeatureDef(feature.type);
    if (!def)
        throw FeatureError(QStringLiteral("Unbekannter Feature-Typ ") + feature.type);
    ExecContext context{*this, feature, state};
    def->exec(context);
}

void Document::pruneSketchResults(ModelState& state) const
{
    for (auto it = state.sketches.begin(); it != state.sketches.end();) {
        const Feature* owner = feature(it->first);
        if (owner && owner->sketch) {
            it->second.sketch = owner->sketch.get();
            ++it;
        } else {
            it = state.sketches.erase(it);
        }
    }
}

void Document::refreshSketchPointers()
{
    pruneSketchResults(current);
    for (ModelState& snapshot : snapshots)
        pruneSketchResults(snapshot);
    // Cache entries keep their sketch results: undoing a removal brings the
    // feature back under its id and the entries are valid again. Only the
    // pointers are cleared; handing an entry out points them anew.
    std::unordered_map<int, qor::sketch::Sketch*> owned;
    for (const auto& f : features) {
        if (f->sketch)
            owned[f->id] = f->sketch.get();
    }
    for (auto& [key, entry] : cache) {
        for (auto& [id, result] : entry.state.sketches) {
            const auto it = owned.find(id);
            result.sketch = it == owned.end() ? nullptr : it->second;
        }
    }
}

std::vector<qor::sketch::ProfileRegion>& Document::sketchRegions(Feature& feature,
                                                                 const gp_Ax3& plane) const
{
    if (!feature.sketch) {
        feature.regions.clear();
        feature.regionsKey = 0;
        return feature.regions;
    }
    const std::uint64_t h1 =
        byteHash(QJsonDocument(feature.sketch->toJson()).toJson(QJsonDocument::Compact));
    // Every coordinate of the frame goes into the key: a weighted sum of them
    // collides for different planes (and ignores a flipped Y direction), which
    // would hand out regions lying on the old plane.
    const gp_Pnt& p = plane.Location();
    const gp_Dir& d = plane.Direction();
    const gp_Dir& u = plane.XDirection();
    const gp_Dir& v = plane.YDirection();
    double frame[] = {p.X(), p.Y(), p.Z(), d.X(), d.Y(), d.Z(),
                      u.X(), u.Y(), u.Z(), v.X(), v.Y(), v.Z()};
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
