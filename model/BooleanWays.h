#pragma once

// The results of a boolean as each of soundBoolean's ways runs it, before any check: what
// the kernel could give at all, for judging a refusal by other means than soundBoolean's.

#include <BOPAlgo_Operation.hxx>
#include <TopTools_ListOfShape.hxx>
#include <TopoDS_Shape.hxx>

#include <optional>
#include <vector>

namespace qor::model {

// One entry per way, in the order soundBoolean tries them; none where the kernel failed.
// Every way runs, however long the ones before took.
std::vector<std::optional<TopoDS_Shape>> resultsOfEveryWay(BOPAlgo_Operation operation,
                                                           const TopoDS_Shape& body,
                                                           const TopTools_ListOfShape& tools);

} // namespace qor::model
