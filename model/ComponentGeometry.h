#pragma once

#include <QDateTime>
#include <QSet>
#include <QString>

#include "io/Import.h"

#include <TopoDS_Shape.hxx>
#include <gp_Trsf.hxx>

#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <vector>

// Turning assembly components into shapes: component files of every kind the
// program reads, embedded geometry, and the placed bodies of an assembly.

namespace qor::model {

class Document;
struct ModelState;

// One shape of a component, in the component's own coordinates.
struct ComponentBody {
    QString name;
    TopoDS_Shape shape;
};

// What one read of a component file gave, with what identified the file then.
struct ComponentFileCacheEntry {
    QDateTime modified;
    std::int64_t size = 0;
    std::vector<ComponentBody> bodies;
    // Why there are no bodies; with bodies, what was left out of them (a circle
    // or the nesting limit met further down), else empty.
    QString message;
    QString note; // the circle or nesting limit met further down, to pass on
    // The result depends on the files loading this one (it left out a file that
    // was already being loaded around it): valid only within the same outermost load.
    bool contextual = false;
    std::uint64_t session = 0;
    QSet<QString> contains; // every file loaded to make the result, by canonical path
};

// Assembly body ids: body index of component componentId.
constexpr int assemblyBodyBase = 100000000;
constexpr int maxBodiesPerComponent = 999;
// Components with ids outside 0..maxComponentId get no bodies: their body ids
// would leave the integer range or fall below the component range.
constexpr int maxComponentId
    = (std::numeric_limits<int>::max() - assemblyBodyBase - (maxBodiesPerComponent - 1)) / 1000;
constexpr int assemblyBodyId(int componentId, int index)
{
    return assemblyBodyBase + componentId * 1000 + index;
}
constexpr bool isComponentBodyId(int bodyId)
{
    return bodyId >= assemblyBodyBase;
}
constexpr int componentOfBody(int bodyId)
{
    return (bodyId - assemblyBodyBase) / 1000;
}

// The bodies of a part or assembly document, a Solid Edge assembly or any
// importable file. Loads are cached for the life of the process by canonical path
// and re-read when the file's modification time or size changes. A file already
// being loaded further out (a circle) and nesting beyond a hundred levels are
// left out. message gets why there are no bodies, or what was left out of them;
// it is cleared otherwise.
std::vector<ComponentBody> loadComponentFile(const QString& path, QString* message = nullptr);

// Reads a component file of a foreign format. The default reads it with importFile and
// neither shows progress nor can be cancelled; a window puts its own in place, which
// shows the read and offers to cancel it. An empty reader brings the default back.
using ComponentFileReader = std::function<qor::io::ImportResult(const QString& path)>;
void setComponentFileReader(ComponentFileReader reader);

// Why a placement matrix (3 x 4, row by row) cannot be used because one of its
// numbers is not finite; empty when all are finite.
QString placementNumbersProblem(const std::array<double, 12>& m);

// A rotation-and-translation matrix (3 x 4, row by row) as a kernel transform;
// nothing, with the German reason, when a value is not finite or the 3 x 3 part
// is not a rotation (mirrored, scaled, sheared or singular). Rounding noise is
// squeezed out so that the kernel accepts the result as rigid.
std::optional<gp_Trsf> rigidTransform(const std::array<double, 12>& m, QString* error);

// The recompute's assembly step: mates solved, then the component bodies placed.
void assembleComponents(Document& document, ModelState& state);

} // namespace qor::model
