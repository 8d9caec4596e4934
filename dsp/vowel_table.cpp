#include "dsp/vowel_table.h"

#include <cmath>

namespace quor {

namespace {

struct FormantSpec {
    float frequencyHz;
    float bandwidthHz;
    float levelDb;
};

constexpr FormantSpec kVowelSpecs[VowelTable::kVowels][FormantSet::kCapacity] = {
    {{650, 80, 0}, {1080, 90, -6}, {2650, 90, -7}, {2900, 130, -8}, {3250, 140, -22}},
    {{400, 70, 0}, {1700, 80, -6}, {2600, 90, -12}, {3200, 120, -14}, {3580, 120, -20}},
    {{290, 40, 0}, {1870, 80, -18}, {2800, 90, -12}, {3250, 120, -20}, {3540, 120, -30}},
    {{400, 40, 0}, {800, 80, -10}, {2600, 90, -12}, {2800, 120, -12}, {3000, 120, -26}},
    {{350, 120, 0}, {600, 60, -10}, {2000, 150, -30}, {2700, 120, -18}, {3300, 120, -24}},
};

struct Vowels {
    FormantSet sets[VowelTable::kVowels];
    Vowels() {
        for (std::int32_t v = 0; v < VowelTable::kVowels; ++v)
            for (std::int32_t k = 0; k < FormantSet::kCapacity; ++k) {
                const FormantSpec& s = kVowelSpecs[v][k];
                const double amplitude = std::pow(10.0, static_cast<double>(s.levelDb) / 20.0);
                sets[v].formants[k] = {s.frequencyHz, s.frequencyHz / s.bandwidthHz,
                                       static_cast<float>(amplitude)};
            }
    }
};

// Built while the library loads, before any effect exists; read-only after.
const Vowels kVowelSets;

} // namespace

void VowelTable::blendVowel(float position, FormantSet& out) {
    if (!(position >= 0.0f)) position = 0.0f;
    if (position > 1.0f) position = 1.0f;
    // The 0.999 keeps x below 4, so the upper neighbour always exists.
    const float x = position * 4.0f * 0.999f;
    const auto i = static_cast<std::int32_t>(x);
    const float f = x - static_cast<float>(i);
    const FormantSet& a = kVowelSets.sets[i];
    const FormantSet& b = kVowelSets.sets[i + 1];
    for (std::int32_t k = 0; k < FormantSet::kCapacity; ++k) {
        const Formant& fa = a.formants[k];
        const Formant& fb = b.formants[k];
        out.formants[k].frequencyHz = fa.frequencyHz + (fb.frequencyHz - fa.frequencyHz) * f;
        out.formants[k].q = fa.q + (fb.q - fa.q) * f;
        out.formants[k].amplitude = fa.amplitude + (fb.amplitude - fa.amplitude) * f;
    }
}

} // namespace quor
