#pragma once

#include <QString>

#include <TopoDS_Edge.hxx>

#include <map>
#include <vector>

namespace qor::model {

class ExecContext;

// The edges of a fillet or chamfer selection by body id (ascending), in the order
// the selection yields them; a picked face stands for all its edges. Duplicates
// stay: the executors skip an edge they already added. Throws FeatureError
// "Keine Kanten ausgewählt" when nothing yields an edge.
std::map<int, std::vector<TopoDS_Edge>> resolveFilletEdges(const ExecContext& context,
                                                           const QString& key);

} // namespace qor::model
