// Plain frame-by-frame models of the shared kernels (glide, mix law, half-band
// oversampler, tone filter pair, octave curve), and a harness that plays a
// plug-in and the model of its effect through the same blocks, calls and
// parameter changes and compares every output bit.
#pragma once

#include "host/fp_mode.h"
#include "tests/support/test_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace quor::test::model {

// One-pole steps over a fixed length that end exactly on the target; a value
// set before the effect has processed audio is taken at once.
struct Glide {
    float value = 0.0f, target = 0.0f, remaining = 0.0f;
};
struct GlideClock {
    GlideClock(float seconds, float stepsPerSecond)
        : k(1.0f - std::pow(0.01f, 1.0f / (seconds * stepsPerSecond))),
          length(std::floor(-4.6051702f / std::log(1.0f - k)) + 1.0f) {}
    void set(Glide& g, float v) const {
        if (!live || g.value == v)
            g = {v, v, 0.0f};
        else if (g.remaining <= 0.0f || g.target != v)
            g = {g.value, v, length};
    }
    void step(Glide& g) const {
        if (g.remaining <= 0.0f) return;
        g.value = g.value + (g.target - g.value) * k;
        g.remaining = g.remaining - 1.0f;
        if (g.remaining <= 0.0f) g.value = g.target;
    }
    float k, length;
    bool live = false;
};

struct Mix {
    float dry, wet;
};
inline Mix dryWet(float mix) {
    const float m = std::fabs(mix), t = 2.0f * m - 1.0f, k = m < 0.5f ? 0.5f : -2.0f;
    const float s = (k + 1.0f) * (t / (std::fabs(t) + k)) * 0.5f + 0.5f;
    const float a = (1.0f - s) * (s + 1.0f), b = (2.0f - s) * s;
    return {a * a * 0.224f + 0.776f * a, b * b * 0.224f + 0.776f * b};
}

// Sections 0-2 branch A, 3-5 branch B of the up-sampler; 6 and 7 the down-sampler.
struct Halfband {
    float z[8] = {};
    float section(int k, float u) {
        static const float c[8] = {0.0266328f, 0.22867f, 0.59637f,        0.10458f,
                                   0.3932f,    0.84751f, 0.150634765625f, -0.3925628662109375f};
        const float d = (u - z[k]) * c[k], y = z[k] + d;
        z[k] = u + d;
        return y;
    }
    void up(float x, float& a, float& b) {
        a = section(2, section(1, section(0, x)));
        b = section(5, section(4, section(3, x)));
    }
    float down(float p, float q) { return 0.5f * (section(6, p) + section(7, q)); }
};

// tan(w) for the trapezoidal one-poles.
inline float tangentPolynomial(float w) {
    const float w2 = w * w;
    return ((0.2033f * w2 + 0.31755f) * w2 + 1.0f) * w;
}

struct TonePair {
    float rate = 0.0f, highCut = 0.0f, lowCut = 0.0f, lp[2] = {}, hp[2] = {};
    float gain(float f) const {
        return tangentPolynomial(3.1415927f * std::clamp(f, 1.0f, 0.5f * rate) / rate);
    }
    float operator()(int c, float x) {
        const float gl = gain(highCut), gh = gain(lowCut);
        const float v = (gl * x + lp[c]) * (1.0f / (1.0f + gl));
        lp[c] = (x - v) * gl + v;
        const float l = (gh * v + hp[c]) * (1.0f / (1.0f + gh));
        hp[c] = (v - l) * gh + l;
        return v - l;
    }
};

// 2^((x - 1) / 128) interpolated between 129 entries; the last is the
// slightly low value the pitch curves were tuned with.
inline float octave(float x) {
    const auto entry = [](int i) {
        return i == 128 ? 1.9892578125f : static_cast<float>(std::exp2((i - 1) / 128.0));
    };
    const auto n = static_cast<int>(std::floor(x));
    const float a = entry(n & 127), b = entry((n & 127) + 1);
    return (a + (b - a) * (x - static_cast<float>(n))) * std::ldexp(1.0f, std::clamp(n >> 7, -126, 127));
}

// A model of an effect: its values in natural units (defaults first), what a
// change does, its audio. in: the two main channels, then the side-chain
// channels (null when withheld).
struct Effect {
    virtual ~Effect() = default;
    virtual void changed(int /*index*/) {}
    virtual void reset() {}
    virtual void process(const float* const* in, float* const* out, int frames, bool replacing) = 0;
    void set(int index, float normalised) {
        const auto i = static_cast<std::size_t>(index);
        const float low = i < lows.size() ? lows[i] : 0.0f, high = i < highs.size() ? highs[i] : 1.0f;
        values[i] = low + (high - low) * normalised;
        changed(index);
    }
    std::vector<float> values, lows, highs; // ranges 0..1 unless given
    int inputs = 2;                         // 4 with a side-chain
};

using Settings = std::vector<std::pair<int, float>>; // normalised, as the host sends them
// A parameter change before a block; index kSuspend suspends and resumes.
struct Change {
    int block, index;
    float value;
};
constexpr int kSuspend = -1;

// Noise whose level jumps now and then between silence and +8 dBFS.
struct Noise {
    std::uint32_t state;
    float level = 0.5f;
    float operator()() {
        static const float levels[] = {0.0f, 0.003f, 0.05f, 0.2f, 0.5f, 1.0f, 2.5f};
        state = state * 1664525u + 1013904223u;
        if (state >> 22 == 0) level = levels[(state >> 8) % 7];
        return level * (static_cast<float>(state >> 8) * (2.0f / 16777216.0f) - 1.0f);
    }
};

// Odd sizes, replacing and accumulating calls in turn; bit c of sideChain set:
// side-chain channel c handed over, else a null pointer.
const struct {
    int frames, sideChain;
} kBlocks[] = {{1, 3},   {333, 3},  {512, 0},  {64, 3},  {7, 1},
               {700, 2}, {2048, 3}, {3001, 0}, {100, 3}, {1500, 3}};

// Every case at every rate: its settings on a fresh plug-in and model, then the
// blocks with the changes between them; fails at the first bit that differs.
template <class Model>
void expectSameAudio(const char* effect, const std::vector<float>& rates, const std::vector<Settings>& cases,
                     const std::vector<Change>& changes) {
    for (const float rate : rates)
        for (std::size_t n = 0; n < cases.size(); ++n) {
            const std::string what =
                std::string(effect) + " at " + std::to_string(rate) + " Hz, case " + std::to_string(n);
            TestHost host(effect);
            ASSERT_TRUE(host.loaded());
            AEffect* fx = host.effect();
            Model model(rate);
            ASSERT_EQ(fx->numInputs, model.inputs);
            for (auto [index, value] : cases[n])
                host.setParam(index, value), model.set(index, value);
            host.start(rate);
            std::vector<Noise> noise;
            for (int c = 0; c < fx->numInputs; ++c)
                noise.push_back({static_cast<std::uint32_t>(8 * n + static_cast<std::size_t>(c))});
            for (int b = 0, at = 0; b < 10; at += kBlocks[b++].frames) {
                for (const Change& c : changes)
                    if (c.block == b && c.index == kSuspend)
                        host.suspend(), host.resume(), model.reset();
                    else if (c.block == b)
                        host.setParam(c.index, c.value), model.set(c.index, c.value);
                const int frames = kBlocks[b].frames;
                const auto size = static_cast<std::size_t>(frames);
                const bool replacing = b % 2 == 0;
                std::vector<std::vector<float>> in(noise.size(), std::vector<float>(size));
                std::vector<float*> inputs;
                for (std::size_t c = 0; c < in.size(); ++c) {
                    for (float& x : in[c])
                        x = noise[c]();
                    inputs.push_back(c < 2 || (kBlocks[b].sideChain >> (c - 2) & 1) ? in[c].data() : nullptr);
                }
                std::vector<float> out[2] = {std::vector<float>(size, 0.25f),
                                             std::vector<float>(size, -0.5f)};
                std::vector<float> expected[2] = {out[0], out[1]};
                float* outputs[2] = {out[0].data(), out[1].data()};
                float* modelOutputs[2] = {expected[0].data(), expected[1].data()};
                (replacing ? fx->processReplacing : fx->process)(fx, inputs.data(), outputs, frames);
                {
                    FlushToZeroScope flushToZero; // as the plug-in processes
                    model.process(inputs.data(), modelOutputs, frames, replacing);
                }
                for (int c = 0; c < 2; ++c)
                    for (std::size_t i = 0; i < size; ++i)
                        if (std::memcmp(&out[c][i], &expected[c][i], sizeof(float)) != 0)
                            FAIL() << what << ": channel " << c << ", frame " << at + static_cast<int>(i)
                                   << " gives " << out[c][i] << ", expected " << expected[c][i];
            }
        }
}

// Rows set one parameter after another on one instance, each then read back as text.
struct TextRow {
    int index;
    float value;
    std::string text;
};
inline void expectTexts(const char* effect, const std::vector<TextRow>& rows) {
    TestHost host(effect);
    ASSERT_TRUE(host.loaded());
    for (const TextRow& r : rows) {
        host.setParam(r.index, r.value);
        EXPECT_EQ(host.paramDisplay(r.index), r.text)
            << effect << " parameter " << r.index << " at " << r.value;
    }
}

} // namespace quor::test::model
