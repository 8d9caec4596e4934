// Exponential pitch curves in 1/128-octave steps, read by linear
// interpolation from a 129-entry table instead of calling exp2 per use.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

namespace quor {

class OctaveTable {
  public:
    static constexpr std::int32_t kSteps = 128; // table entries per octave

    // 2^((x - 1) / 128). The integer part of x picks the entry (low seven
    // bits) and the octave (the rest, shifted arithmetically, so a negative
    // x gives a negative power of two).
    static float lookup(float x) {
        const float* t = entries();
        const auto n = static_cast<std::int32_t>(std::floor(x));
        const std::int32_t k = n & (kSteps - 1);
        const float f = x - static_cast<float>(n);
        return (t[k] + (t[k + 1] - t[k]) * f) * powerOfTwo(n >> 7);
    }

    // Entry i is 2^((i - 1) / 128), correctly rounded; the last entry is the
    // slightly low 1.9892578 (bit pattern 0x3FFEA000) the curves were tuned with.
    static const float* entries() { return table.values; }

  private:
    struct Table {
        float values[kSteps + 1];
        Table() {
            for (std::int32_t i = 0; i < kSteps; ++i)
                values[i] = static_cast<float>(std::exp2(static_cast<double>(i - 1) / kSteps));
            const std::uint32_t lastBits = 0x3FFEA000u;
            std::memcpy(&values[kSteps], &lastBits, sizeof(float));
        }
    };
    // Filled when the library loads, so that no audio thread builds it or
    // waits for another one building it.
    static inline const Table table;

    // 2^e built directly in the exponent field; e is limited to the normal range.
    static float powerOfTwo(std::int32_t e) {
        if (e < -126) e = -126;
        if (e > 127) e = 127;
        const auto bits = static_cast<std::uint32_t>(e + 127) << 23;
        float p;
        std::memcpy(&p, &bits, sizeof p);
        return p;
    }
};

} // namespace quor
