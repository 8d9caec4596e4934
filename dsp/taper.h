// The rational parameter curve shared by several effects.
#pragma once

#include <cmath>

namespace quor {

// Taper(x, k) = x (1 + k) / (|x| + k): maps 0 to 0 and 1 to 1. A k between -2
// and -1 bends the curve towards the end of the range (slow start, steep
// finish), a positive k towards the start. The factor 1 + k is rounded to
// single precision before it multiplies (for k = -1.1 it is -0.100000024).
inline float Taper(float x, float k) {
    const float scale = 1.0f + k;
    return x * scale / (std::fabs(x) + k);
}

} // namespace quor
