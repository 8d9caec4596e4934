// floor for the sample loops: bit for bit std::floor (-0, NaN and infinities
// included) without SSE4.1's rounding instruction, so that a quantizer loop
// runs four lanes wide on the baseline x86-64 instruction set.
#pragma once

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quor {

// Adding 2^23 with the value's sign pushes the fraction out of the mantissa;
// subtracting it again leaves the value rounded to an integer, which is then
// stepped down when it rounded up. From 2^23 on every float is an integer.
inline float floorExact(float v) {
    const float magic = std::copysign(8388608.0f, v);
    float r = std::fabs(v) < 8388608.0f ? (v + magic) - magic : v;
    r = r > v ? r - 1.0f : r;
    return std::copysign(r, v);
}

#if defined(__SSE2__)
inline __m128 floorExact(__m128 v) {
    const __m128 signBit = _mm_set1_ps(-0.0f);
    const __m128 sign = _mm_and_ps(v, signBit);
    const __m128 magic = _mm_or_ps(sign, _mm_set1_ps(8388608.0f));
    const __m128 small = _mm_cmplt_ps(_mm_andnot_ps(signBit, v), _mm_set1_ps(8388608.0f));
    __m128 r = _mm_sub_ps(_mm_add_ps(v, magic), magic);
    r = _mm_or_ps(_mm_and_ps(small, r), _mm_andnot_ps(small, v));
    r = _mm_sub_ps(r, _mm_and_ps(_mm_cmpgt_ps(r, v), _mm_set1_ps(1.0f)));
    return _mm_or_ps(_mm_andnot_ps(signBit, r), sign);
}
#endif

} // namespace quor
