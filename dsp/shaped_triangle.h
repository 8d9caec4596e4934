// The modulation oscillators' waveform: a triangle over the phase p in
// [0, 1), 1 at p = 0 and 0 at p = 0.5, bent by the shape s in [-1, 1]:
// 0 keeps the triangle, 1 rounds it towards a sine, -1 sharpens its peaks
// and flattens the crossing between them.
#pragma once

#include <cmath>

namespace quor {

inline float shapedTriangle(float p, float s) {
    const float tri = 2.0f * std::fabs(2.0f * p - 1.0f) - 1.0f;
    return (1.0f + s - std::fabs(tri) * s) * tri * 0.5f + 0.5f;
}

} // namespace quor
