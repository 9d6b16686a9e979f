// The running worst error of a numerical check.
#pragma once

#include <cmath>

namespace ovx_test {

// The larger of two errors, NaN when either is NaN: std::max drops a NaN that
// comes second, and an output full of NaN would then pass as no error.
inline double worse(double worst, double e) { return (e > worst || std::isnan(e)) ? e : worst; }

}  // namespace ovx_test
