#pragma once

#include <gp_Trsf.hxx>

#include <vector>

namespace qor::model {

class ExecContext;

// Repeats what "source" names at every transform (the original position is
// never in the list). "features": each listed feature's recorded tool is
// applied again, all copies in one boolean, and its thread marks are copied.
// "bodies": each listed body is copied, united with its original when "join"
// is set and added as new bodies otherwise.
void patternFeature(ExecContext& context, const std::vector<gp_Trsf>& transforms);

// Executor of "mirror": the source reflected in "plane".
void execMirror(ExecContext& context);

} // namespace qor::model
