// The residual of a minimum-phase band-limited step (a "minBLEP"): added to a
// signal after an instantaneous jump, it turns the jump into a band-limited
// transition. The table is oversampled 16 times and spans 16 output samples.
#pragma once

#include <cstdint>

namespace quor {

struct BlepTable {
    static constexpr std::int32_t kZeroCrossings = 8;
    static constexpr std::int32_t kOversampling = 16;
    static constexpr std::int32_t kLength = 2 * kZeroCrossings * kOversampling; // 256
    // Entries past the end repeat the last one, so that the interpolation of
    // the last tap at the highest phase (and a phase a rounding step above
    // it) reads valid data.
    static constexpr std::int32_t kGuardEntries = 8;

    // kLength + kGuardEntries entries, kOversampling per output sample. Entry n
    // is the residual n / 16 output samples after a jump of height -1: it
    // starts near 1 and rings down to 0.
    const float* data;

    // The process-wide "minblep" table; read-only, safe from any thread.
    static const BlepTable& minblep();
};

} // namespace quor
