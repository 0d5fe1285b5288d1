#include "model/Document.h"
#include "model/ExecContext.h"

#include <BRepBndLib.hxx>
#include <Bnd_Box.hxx>
#include <TopExp_Explorer.hxx>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace qor::model {

FeatureError::FeatureError(const std::string& message)
    : std::runtime_error(message)
{
}

FeatureError::FeatureError(const QString& message)
    : std::runtime_error(message.toUtf8().toStdString())
{
}

FeatureError::~FeatureError() = default;

const std::vector<Material>& materials()
{
    static const std::vector<Material> table{
        {QStringLiteral("Stahl"), 7.85, 0.72, 0.76, 0.82, 0.9, 0.35},
        {QStringLiteral("Edelstahl"), 7.93, 0.80, 0.82, 0.85, 0.95, 0.25},
        {QStringLiteral("Aluminium"), 2.7, 0.82, 0.84, 0.88, 0.9, 0.3},
        {QStringLiteral("Messing"), 8.5, 0.86, 0.72, 0.38, 0.95, 0.3},
        {QStringLiteral("Kupfer"), 8.96, 0.86, 0.52, 0.36, 0.95, 0.3},
        {QStringLiteral("Titan"), 4.51, 0.62, 0.62, 0.64, 0.9, 0.4},
        {QStringLiteral("Gusseisen"), 7.2, 0.42, 0.43, 0.45, 0.7, 0.6},
        {QStringLiteral("ABS (Kunststoff)"), 1.05, 0.15, 0.16, 0.18, 0.0, 0.5},
        {QStringLiteral("PLA (Kunststoff)"), 1.24, 0.95, 0.95, 0.95, 0.0, 0.5},
        {QStringLiteral("PA (Nylon)"), 1.14, 0.92, 0.9, 0.86, 0.0, 0.6},
        {QStringLiteral("Holz (Buche)"), 0.72, 0.8, 0.62, 0.42, 0.0, 0.8},
        {QStringLiteral("Glas"), 2.5, 0.7, 0.85, 0.9, 0.0, 0.05},
        {QStringLiteral("Gummi"), 1.2, 0.08, 0.08, 0.09, 0.0, 0.9},
    };
    return table;
}

const Material* findMaterial(const QString& name)
{
    for (const Material& row : materials()) {
        if (row.name == name)
            return &row;
    }
    return nullptr;
}

bool isEmptyShape(const TopoDS_Shape& shape)
{
    return shape.IsNull() || !TopExp_Explorer(shape, TopAbs_FACE).More();
}

Document::Document() = default;

Document::Document(Document&& other) noexcept
{
    // One member list to keep: the assignment below moves every member and
    // re-points the sketches' dimension namers at this document.
    *this = std::move(other);
}

Document& Document::operator=(Document&& other) noexcept
{
    if (this == &other)
        return *this;
    DocumentContent::operator=(std::move(other));
    folder = std::move(other.folder);
    file = std::move(other.file);
    name = std::move(other.name);
    current = std::move(other.current);
    snapshots = std::move(other.snapshots);
    cache = std::move(other.cache);
    cacheOrder = std::move(other.cacheOrder);
    lastRun_ = std::move(other.lastRun_);
    assemblyPass = std::move(other.assemblyPass);
    assemblyError = std::move(other.assemblyError);
    groupBooleans = other.groupBooleans;
    rebindDimensionNamers();
    return *this;
}

Document::~Document() = default;

Feature* Document::feature(int id) const
{
    for (const auto& f : features) {
        if (f->id == id)
            return f.get();
    }
    return nullptr;
}

int Document::featureIndex(int id) const
{
    for (std::size_t i = 0; i < features.size(); ++i) {
        if (features[i]->id == id)
            return int(i);
    }
    return -1;
}

BodyAppearance Document::bodyAppearance(int bodyId) const
{
    const auto it = appearance.find(bodyId);
    return it == appearance.end() ? BodyAppearance{} : it->second;
}

QString Document::bodyName(int bodyId) const
{
    if (const auto it = bodyNames.find(bodyId); it != bodyNames.end())
        return it->second;
    if (const auto it = current.bodies.find(bodyId); it != current.bodies.end())
        return it->second.name;
    return numberedBodyName(bodyId);
}

double Document::modelSize(const ModelState& state)
{
    Bnd_Box box;
    for (const auto& [id, body] : state.bodies) {
        if (!body.shape.IsNull())
            BRepBndLib::Add(body.shape, box, true);
    }
    if (box.IsVoid())
        return 100.0;
    // The box's corners already include its gap on each side.
    return std::max(1.0, std::sqrt(box.SquareExtent()));
}

void Document::clearRecomputeCache()
{
    cache.clear();
    cacheOrder.clear();
    lastRun_.clear();
}

std::string Document::nextDimensionName() const
{
    long long highest = 0;
    for (const auto& f : features) {
        if (!f->sketch)
            continue;
        for (const auto& c : f->sketch->constraints) {
            const std::string& n = c.name;
            if (n.size() < 2 || n[0] != 'd')
                continue;
            const char* first = n.data() + 1;
            const char* last = n.data() + n.size();
            if (!std::all_of(first, last, [](char ch) { return ch >= '0' && ch <= '9'; }))
                continue;
            // A number beyond the 32-bit range cannot come from this rule; skipping
            // it keeps the next name from overflowing.
            int number = 0;
            const auto res = std::from_chars(first, last, number);
            if (res.ec == std::errc() && res.ptr == last)
                highest = std::max<long long>(highest, number);
        }
    }
    return "d" + std::to_string(highest + 1);
}

void Document::installDimensionNamer(qor::sketch::Sketch& sketch)
{
    sketch.dimensionNamer = [this] { return nextDimensionName(); };
}

void Document::rebindDimensionNamers()
{
    for (const auto& f : features) {
        if (f->sketch)
            installDimensionNamer(*f->sketch);
    }
}

} // namespace qor::model
