#pragma once

#include <QString>
#include <QStringList>

#include <TopoDS_Shape.hxx>

#include <functional>
#include <optional>
#include <vector>

namespace qor::model {
class Document;
}

namespace qor::app {

// One body taking part in the check.
struct CheckedBody {
    QString name;
    TopoDS_Shape shape;
};

// The common volume of two shapes; nullopt when the kernel could not build it.
using CommonOperation
    = std::function<std::optional<TopoDS_Shape>(const TopoDS_Shape&, const TopoDS_Shape&)>;

struct InterferenceReport {
    // "%1 ↔ %2: %3 mm³" per colliding pair and "%1 ↔ %2: Prüfung fehlgeschlagen" per pair
    // that could not be checked, in pair order.
    QStringList lines;
    TopoDS_Shape overlaps; // compound of the overlap solids; null when there are none
    int failedPairs = 0;
};

// The kernel's common, run under the signal guard: a throwing or unfinished boolean gives
// nullopt.
std::optional<TopoDS_Shape> kernelCommon(const TopoDS_Shape& a, const TopoDS_Shape& b);

// Checks every pair whose bounding boxes meet for a common volume above 1e-6 mm³; touching
// bodies do not collide. A pair whose common fails is listed, never passed over, so an empty
// report really means that no pair collides.
InterferenceReport checkInterference(const std::vector<CheckedBody>& bodies,
                                     const CommonOperation& common = kernelCommon);
// Every body of the current model state, hidden ones included, in ascending id.
std::vector<CheckedBody> interferenceBodies(const qor::model::Document& document);

} // namespace qor::app
