#pragma once

#include <cmath>
#include <cstdint>

namespace quor {

// float -> int32 by truncation toward zero, defined for every input: NaN gives
// 0 and values beyond the int32 range saturate, where a plain cast is undefined.
inline std::int32_t truncatedInt(float v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483520.0f) return INT32_MAX;
    if (v <= -2147483648.0f) return INT32_MIN;
    return static_cast<std::int32_t>(v);
}

// A subnormal parameter value means zero, but once it reaches a sample loop
// every multiplication by it costs a slow microcode assist: flush-to-zero
// only flushes results, not operands. Stored values are therefore never
// subnormal.
inline float withoutSubnormal(float v) { return std::fpclassify(v) == FP_SUBNORMAL ? 0.0f : v; }

} // namespace quor
