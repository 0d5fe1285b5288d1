#pragma once

#include "expr/Expression.h"
#include "model/Assembly.h"
#include "model/ComponentGeometry.h"
#include "model/CopyOnWrite.h"
#include "model/DrawingRecord.h"
#include "sketch/Regions.h"
#include "sketch/Sketch.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <Bnd_Box.hxx>
#include <TopoDS_Shape.hxx>
#include <gp_Ax1.hxx>
#include <gp_Ax3.hxx>
#include <gp_Dir.hxx>
#include <gp_Pnt.hxx>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class Standard_Failure;

namespace qor::model {

struct BooleanGroup;
struct MateSide;
struct MateSolveStats;
struct MateSolverContext;
struct RecomputeWatch;

// Thrown by feature executors and the document; the message (UTF-8, German)
// becomes the feature's error text.
class FeatureError : public std::runtime_error {
public:
    explicit FeatureError(const std::string& message);
    explicit FeatureError(const QString& message);
    ~FeatureError() override;
};

// A named document value that expressions can use.
struct Parameter {
    QString name;
    QString expr; // as typed
    QString unit = QStringLiteral("mm");
    QString comment;
    double value = 0.0; // derived: last evaluation
    QString error; // derived: empty when valid
};

// An expression member as read from a file: a string as typed; a plain number
// (hand-written files) as its shortest digits; anything else gives the fallback.
QString expressionText(const QJsonValue& value, const QString& fallback);

// Material, colour and density of one body. Default-constructed it is the
// appearance of every body without an entry.
struct BodyAppearance {
    QString material = QStringLiteral("Stahl");
    double r = 0.72;
    double g = 0.76;
    double b = 0.82;
    double density = 7.85; // g/cm³

    bool operator==(const BodyAppearance&) const = default;
};

// One row of the material table.
struct Material {
    QString name;
    double density; // g/cm³
    double r;
    double g;
    double b;
    double metallic;
    double roughness;
};

// The 13 materials in the order choice lists show them; built once.
const std::vector<Material>& materials();
// Exact, case-sensitive lookup; null when no row has that name.
const Material* findMaterial(const QString& name);

struct Body {
    int id = 0;
    QString name;
    TopoDS_Shape shape;
    int featureId = 0;
    bool sheetMetal = false;
    // Carried with the sheet-metal flag; nothing in the modelling core sets them.
    double sheetThickness = 0.0;
    double bendRadius = 0.0;
    double kFactor = 0.44;
    // The shape when it was known to hold no faces or edges that merging
    // same-domain geometry would join; null when not known.
    TopoDS_Shape unified;
    // The shape's bounding box as last measured and the shape it was measured
    // of: copies of the state carry it, so an untouched body is measured once.
    mutable Bnd_Box box;
    mutable TopoDS_Shape boxShape;
};

// A placed sketch of one sketch feature.
struct SketchResult {
    gp_Ax3 plane; // with the feature's offset applied
    qor::sketch::Sketch* sketch = nullptr; // not owned; refreshed whenever a state is reused
    int featureId = 0;
};

// A cosmetic or modelled thread, for the drawings.
struct ThreadMark {
    gp_Pnt position; // entry point of the thread
    gp_Dir direction; // drilling direction
    double majorDiameter = 0.0;
    double minorDiameter = 0.0;
    double pitch = 0.0;
    double length = 0.0;
    bool internal = false;
    bool modelled = false;
    bool leftHand = false;
    QString designation;
    int featureId = 0;
};

// The tool body of one body-making feature with what it did, for re-use by patterns.
struct ToolRecord {
    TopoDS_Shape shape;
    QString op;
    std::vector<int> targets;
};

// The modelling result at one point of the history. A value: copies share each
// member until it is written, and shapes share their geometry.
struct ModelState {
    CopyOnWrite<std::map<int, Body>> bodies;
    CopyOnWrite<std::map<int, gp_Ax3>> planes;
    CopyOnWrite<std::map<int, gp_Ax1>> axes;
    CopyOnWrite<std::map<int, std::array<double, 3>>> points;
    CopyOnWrite<std::map<int, SketchResult>> sketches;
    CopyOnWrite<std::map<int, ToolRecord>> tools;
    CopyOnWrite<std::vector<ThreadMark>> threads;
    int bodyCounter = 0;
    // Solids copied by patterns and mirrors so far in this recompute.
    std::size_t copies = 0;
    // Joins and cuts on one body that wait to be evaluated together; until
    // then that body's shape in `bodies` is the one before them. Only the
    // recompute's running state, its cache and its snapshots carry them
    // (settleState evaluates them); `current` never does.
    std::shared_ptr<BooleanGroup> group;
    std::size_t groupOps = 0; // how many of the group's booleans this state has
};

struct RecomputeCacheEntry {
    ModelState state; // after the feature
    QString error;
    QString warning;
};

// One step of the history.
class Feature {
public:
    int id = 0;
    QString type;
    QString name;
    bool suppressed = false;
    QJsonObject params; // as the user entered them
    std::unique_ptr<qor::sketch::Sketch> sketch; // exactly when type is "sketch"
    QString error;
    QString warning;
    std::vector<qor::sketch::ProfileRegion> regions; // built on demand from the sketch
    std::uint64_t regionsKey = 0; // what the cached regions were built for; 0 = none

    QJsonObject toJson() const;
    static std::unique_ptr<Feature> fromJson(const QJsonObject& json);
};

// What a document file holds: the reader fills one of these and hands it over
// whole, and moving a document moves it as one piece.
struct DocumentContent {
    std::vector<std::unique_ptr<Feature>> features;
    std::vector<Parameter> parameters;
    std::map<int, BodyAppearance> appearance;
    std::map<int, QString> bodyNames;
    // true = hidden; bodies by their id, sketches, work planes and axes by minus their id
    std::map<int, bool> hidden;
    int rollback = -1; // first feature not executed; -1 = all run
    std::vector<Component> components;
    std::vector<Mate> mates;
    std::vector<qor::app::Drawing> drawings;
    QJsonArray views;
    QJsonObject meta;
    int nextId = 0; // last id handed out
};

// One open part or assembly: the saved content plus where it came from and what
// recompute made of it. Not copyable: copies go through toJson/fromJson.
class Document : public DocumentContent {
public:
    QString folder; // absolute directory of the loaded file
    // The file the document was loaded from or last saved to; empty without one.
    // Its assembly never loads that file again as one of its own components.
    QString file;
    QString name; // display name of a document without a file
    ModelState current;
    // Entry i: the state before feature i; inside a group its body may still wait
    // for booleans, so read bodies through stateBefore.
    std::vector<ModelState> snapshots;
    std::map<std::uint64_t, RecomputeCacheEntry> cache;
    std::vector<std::uint64_t> cacheOrder; // least recently used first
    // Run after the history when the document has components: by default the
    // mate solve and the placed component bodies; empty runs nothing.
    std::function<void(Document&, ModelState&)> assemblyPass = assembleComponents;
    QString assemblyError; // why the last assembly pass failed; empty when it ran through
    // Off: every boolean runs on its own right after its feature's tool is
    // built (slower on long histories, same result; tests compare the two).
    bool groupBooleans = true;

    Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;
    // Moving re-binds the dimension namers of the sketches to the new object.
    Document(Document&& other) noexcept;
    Document& operator=(Document&& other) noexcept;
    ~Document();

    Feature* feature(int id) const;
    int featureIndex(int id) const;
    BodyAppearance bodyAppearance(int bodyId) const;
    QString bodyName(int bodyId) const;
    static double modelSize(const ModelState& state);

    // Runs the history into `current`; returns the number of failed features. `progress`,
    // when given, learns how many features there are to run and how many ran.
    int recompute(RecomputeWatch* progress = nullptr);
    // snapshots[index] with its waiting booleans evaluated: the state before
    // feature `index` as the last recompute left it. Where the booleans have
    // to run one by one there, a feature whose boolean is then refused or
    // warns gets that error or warning (see settleState).
    const ModelState& stateBefore(std::size_t index);
    // Cache key of a feature chained to the key of the features before it.
    std::uint64_t featureKey(const Feature& feature, std::uint64_t previous) const;
    // Runs the feature's executor on the state; throws on failure.
    void executeFeature(Feature& feature, ModelState& state);
    // With groupIndex >= 0 (the feature's position) its joins and cuts may
    // wait in the state's group (see ExecContext::groupIndex).
    void executeFeature(Feature& feature, ModelState& state, int groupIndex);
    // Points the sketch results at the sketches the document owns now and drops
    // those whose feature is gone.
    void pruneSketchResults(ModelState& state) const;
    // Closed regions of a sketch feature on the plane, built once per change of
    // sketch or plane and kept in the feature.
    std::vector<qor::sketch::ProfileRegion>& sketchRegions(Feature& feature,
                                                           const gp_Ax3& plane) const;
    // Empties the recompute result cache; load does it for a new history.
    void clearRecomputeCache();

    // Name for a new sketch dimension, unique across all sketches: "d" + (largest n + 1).
    std::string nextDimensionName() const;

    // Parameter evaluation: user parameters first, then sketch dimensions by name.
    EvalResult tryEval(const QString& text, QString* error = nullptr) const;
    void evaluateParameters();
    bool dependsOnItself(const QString& expression, const QString& ownName) const;

    // Editing the history; none of these recomputes.
    Feature* addFeature(const QString& type, const QJsonObject& params = {}, int position = -1);
    Feature* addSketch(const QJsonObject& planeReference, int position = -1);
    void removeFeature(int id);
    QString uniqueFeatureName(const QString& prefix) const;

    // The fixed origin elements: planes -1 XY, -2 XZ, -3 YZ, axes -11 X, -12 Y, -13 Z.
    // Other ids give the XY plane, the X axis and the name "Ursprung".
    static gp_Ax3 datumPlane(int id);
    static gp_Ax1 datumAxis(int id);
    static QString datumName(int id);
    // One-line German text of a selection reference for the feature panel.
    QString describeReference(const QJsonObject& reference) const;

    // Assembly lookups.
    Component* component(int id);
    const Component* component(int id) const;
    QString resolvePath(const QString& storedPath) const;

    // Component geometry in the component's own coordinates; message gets why
    // there is none.
    std::vector<ComponentBody> componentShape(const Component& component,
                                              QString* message = nullptr) const;
    // Puts the placed bodies of the visible components into the state and sets
    // every component's status.
    void buildAssemblyBodies(ModelState& state);

    // Mate solving: moves the free components so that the active mates hold.
    bool resolveMateReference(const MateRef& reference, MateSide& side, QString& error);
    static gp_Trsf solverTransform(const MateSolverContext& context, const Component& component,
                                   const std::vector<double>& x);
    // True when every active, resolved mate holds; message gets the reason otherwise,
    // stats the number of steps and the residual the solve ended with.
    bool solveMates(QString* message = nullptr, MateSolveStats* stats = nullptr);

    // File format.
    QJsonObject toJson() const;
    bool fromJson(const QJsonObject& json, QString* error = nullptr);
    bool save(const QString& path, QString* error = nullptr) const;
    bool load(const QString& path, QString* error = nullptr);

private:
    void installDimensionNamer(qor::sketch::Sketch& sketch);
    void rebindDimensionNamers();
    // After features were destroyed: no state may point at a sketch that is gone.
    void refreshSketchPointers();
    void runAssemblyPass(ModelState& state);
    // After a recompute was told to stop: what it ran may have failed only for the stop, so
    // neither its states nor its cached results are kept.
    void abandonResults();
    // The user parameters' values as one hash, formed once per recompute.
    std::uint64_t parametersKey() const;
    std::uint64_t featureKey(const Feature& feature, std::uint64_t previous,
                             std::uint64_t parameters) const;
    // The cached result of the feature at the history position: from the cache,
    // refreshed as most recently used, or else from the last recompute.
    const RecomputeCacheEntry* cachedResult(std::uint64_t key, std::size_t position);
    // The last recompute's result at the position when it was formed under the key.
    const RecomputeCacheEntry* lastResult(std::uint64_t key, std::size_t position) const;
    void storeResult(std::uint64_t key, const RecomputeCacheEntry& entry);

    // The last recompute's result of each feature by history position, key 0
    // for none: the cache may evict them, but the history as it stands never
    // has to run again.
    std::vector<std::pair<std::uint64_t, RecomputeCacheEntry>> lastRun_;
};

// "Geometriefehler: " and the kernel's message.
QString geometryErrorText(const Standard_Failure& failure);

// True when the shape is null or holds no face.
bool isEmptyShape(const TopoDS_Shape& shape);

} // namespace qor::model
