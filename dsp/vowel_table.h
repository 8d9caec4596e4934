// The formants of five vowels, five formants each, and the blend between
// neighbouring vowels along a continuous position.
#pragma once

#include <cstdint>

namespace quor {

struct Formant {
    float frequencyHz;
    float q;         // frequency / bandwidth
    float amplitude; // linear
};

struct FormantSet {
    static constexpr std::int32_t kCapacity = 5;
    Formant formants[kCapacity];
};

class VowelTable {
  public:
    static constexpr std::int32_t kVowels = 5;

    // position 0..1 runs through the vowels in table order. The blend never
    // reaches the last vowel alone: 1 gives 99.6 % of it and 0.4 % of the one
    // before. A position outside 0..1 (or NaN) reads the nearest end pair.
    static void blendVowel(float position, FormantSet& out);
};

} // namespace quor
