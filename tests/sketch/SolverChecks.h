#pragma once

// Checks the solver's tests share.

#include "sketch/Constraints.h"
#include "sketch/Solver.h"

#include <Eigen/Core>

namespace qor::sketch::fixtures {

// The largest residual of all rows at the sketch's own parameters.
inline double maxRow(const Sketch& s)
{
    const System system = buildSystem(s);
    Eigen::VectorXd r;
    system.residuals(s.params, r);
    return r.size() ? r.cwiseAbs().maxCoeff() : 0.0;
}

} // namespace qor::sketch::fixtures
