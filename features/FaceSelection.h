#pragma once

#include <QString>

#include <TopoDS_Shape.hxx>

#include <map>
#include <vector>

namespace qor::model {

class ExecContext;

// The picked faces of the array under key by body id (ascending), in pick order.
// Each reference is resolved on its own, so every face stays with the body it was
// picked on and an operation can run once per body. Failures as resolveReference.
std::map<int, std::vector<TopoDS_Shape>> resolveFacesByBody(const ExecContext& context,
                                                            const QString& key);

} // namespace qor::model
