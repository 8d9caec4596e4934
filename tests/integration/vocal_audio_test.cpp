// The Vocal bit for bit against a frame-by-frame model: gliding targets
// stepped once per control block of 16 samples, a vowel blend, and five
// resonant state-variable filters per channel.
#include "tests/support/effect_model.h"

namespace quor::test {
namespace {

// Per vowel and formant: frequency Hz, bandwidth Hz, level dB.
const float kVowels[5][5][3] = {
    {{650, 80, 0}, {1080, 90, -6}, {2650, 90, -7}, {2900, 130, -8}, {3250, 140, -22}},
    {{400, 70, 0}, {1700, 80, -6}, {2600, 90, -12}, {3200, 120, -14}, {3580, 120, -20}},
    {{290, 40, 0}, {1870, 80, -18}, {2800, 90, -12}, {3250, 120, -20}, {3540, 120, -30}},
    {{400, 40, 0}, {800, 80, -10}, {2600, 90, -12}, {2800, 120, -12}, {3000, 120, -26}},
    {{350, 120, 0}, {600, 60, -10}, {2000, 150, -30}, {2700, 120, -18}, {3300, 120, -24}},
};

struct VocalModel : model::Effect {
    explicit VocalModel(float sampleRate) : fs(sampleRate), clock(0.5f, sampleRate / 16.0f) {
        values = {0.0f, 0.5f, 0.0f};
        lows = {-1.0f};
        for (int i = 0; i < 3; ++i)
            changed(i);
    }
    void changed(int i) override {
        const float v = values[static_cast<std::size_t>(i)];
        clock.set(glides[i], i == 0 ? std::fabs(v) * (0.28125f * v) : v);
    }
    void process(const float* const* in, float* const* out, int frames, bool replacing) override {
        for (int at = 0; at < frames; at += 16) {
            const float key = glides[0].value, r = glides[1].value, position = glides[2].value;
            const float pitch = model::octave(key * 128.0f / 12.0f * 128.0f + 1.0f);
            // Each formant of the two neighbouring vowels: frequency, q = frequency /
            // bandwidth and amplitude, each blended.
            const float x = position * 4.0f * 0.999f, f = x - std::floor(x);
            const auto blend = [f](float p, float q) { return p + (q - p) * f; };
            const auto linear = [](float db) { return static_cast<float>(std::pow(10.0, db / 20.0)); };
            for (int k = 0; k < 5; ++k) {
                const float *a = kVowels[static_cast<int>(x)][k], *b = kVowels[static_cast<int>(x) + 1][k];
                const float hz = blend(a[0], b[0]) * pitch;
                const float n = 1.0f - 1.0f / (blend(a[0] / a[1], b[0] / b[1]) + 1.0f);
                const float fc = hz < 20.0f ? 20.0f : std::min(0.499f * fs, hz);
                g[k] = model::tangentPolynomial(fc * (3.1415927f / fs));
                const float d = r < 0.5f ? (2.0f * r / (std::fabs(2.0f * r) + 0.1f)) * 1.1f * n
                                         : (1.0f - n) * (2.0f * r - 1.0f) + n;
                damping[k] = d < 0.0f ? 1.0f : std::min(1.0f, d) * -0.98f + 1.0f;
                amplitude[k] = blend(linear(a[2]), linear(b[2]));
            }
            for (int i = at; i < std::min(at + 16, frames); ++i)
                for (int c = 0; c < 2; ++c) {
                    float y = 0.0f;
                    for (int k = 0; k < 5; ++k) {
                        float& s1 = state[c][k][0];
                        float& s2 = state[c][k][1];
                        const float h = (in[c][i] - s1 * damping[k] - s1 * g[k] - s2) /
                                        (g[k] * g[k] + (damping[k] * g[k] + 1.0f));
                        s2 = (g[k] * h + s1) * (g[k] + g[k]) + s2;
                        s1 = h * (g[k] + g[k]) + s1;
                        y = y + s1 * amplitude[k];
                    }
                    out[c][i] = replacing ? y : out[c][i] + y;
                }
            clock.live = true;
            for (model::Glide& gl : glides)
                clock.step(gl);
        }
    }

    float fs;
    model::GlideClock clock;
    model::Glide glides[3]; // key, resonance and vowel position
    float g[5] = {}, damping[5] = {}, amplitude[5] = {};
    float state[2][5][2] = {};
};

TEST(VocalAudio, MatchesTheModelBitForBit) {
    // Odd blocks that split control blocks unevenly and glides of every
    // parameter to its ends (Frequency 1 pushes formants past 0.499 of the
    // rate at 8 kHz), one restarted halfway.
    model::expectSameAudio<VocalModel>(
        "Vocal", {8000.0f, 48000.0f}, {{}, {{1, 1.0f}, {2, 0.37f}}},
        {{2, 2, 1.0f}, {3, 0, 1.0f}, {5, 1, 1.0f}, {6, 0, 0.0f}, {7, 2, 0.37f}, {8, 1, 0.0f}, {9, 0, 0.8f}});
}

} // namespace
} // namespace quor::test
