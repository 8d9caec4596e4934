// Plain sample-by-sample models of the shared kernels (smoother, mix law,
// half-band oversampler, tone filter pair), and a driver that plays a plug-in
// and the model of its effect side by side through the plug-in interface and
// compares every output bit.
#pragma once

#include "tests/support/test_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace quor::test::model {

class Smoother {
  public:
    void configure(float seconds, float rate) {
        coefficient = 1.0f - std::pow(0.01f, 1.0f / (seconds * rate));
        length = std::floor(-4.6051702f / std::log(1.0f - coefficient)) + 1.0f;
    }
    void setTarget(float* dest, float value) {
        auto r = std::find_if(ramps.begin(), ramps.end(), [&](const Ramp& x) { return x.dest == dest; });
        if (!active || length == 0.0f || *dest == value) {
            *dest = value;
            if (r != ramps.end()) ramps.erase(r);
        } else if (r == ramps.end()) {
            ramps.push_back({dest, value, length});
        } else if (r->target != value) {
            *r = {dest, value, length};
        }
    }
    void advance() {
        active = true;
        for (auto r = ramps.begin(); r != ramps.end();) {
            *r->dest = *r->dest + (r->target - *r->dest) * coefficient;
            r->remaining = r->remaining - 1.0f;
            if (r->remaining > 0.0f)
                ++r;
            else
                *r->dest = r->target, r = ramps.erase(r);
        }
    }
    void flush() {
        for (const Ramp& r : ramps)
            *r.dest = r.target;
        ramps.clear();
    }
    // Channel-by-channel owners replay the block's trajectory for every channel.
    void beginBlock() {
        saved = ramps;
        for (Ramp& r : saved)
            r.start = *r.dest;
    }
    void beginChannel() {
        ramps = saved;
        for (const Ramp& r : ramps)
            *r.dest = r.start;
    }

  private:
    struct Ramp {
        float* dest;
        float target, remaining, start = 0.0f;
    };
    std::vector<Ramp> ramps, saved;
    float coefficient = 0.0f, length = 0.0f;
    bool active = false;
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

inline float tangentPolynomial(float w) {
    return ((0.2033f * w * w + 0.31755f) * w * w + 1.0f) * w;
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

// A model of an effect: its stored values, how a change acts, its audio.
class Effect {
  public:
    virtual ~Effect() = default;
    virtual void changed(int index) = 0;
    virtual void start(float /*rate*/) {}
    // in: the two main channels, then the side-chain channels (null when withheld).
    virtual void process(const float* const* in, float* const* out, int frames, bool replacing) = 0;
    void set(int index, float normalised) {
        values[index] = highs[index] * normalised; // every range starts at 0
        changed(index);
    }
    std::vector<float> values, highs;
};

// One block of the session: parameter changes before it, then the audio.
struct Block {
    int frames;
    bool replacing;
    std::vector<std::pair<int, float>> changes = {};
    int sideChain = 3; // bit c set: side-chain channel c handed over, else a null pointer
};

inline std::vector<float> testSignal(std::size_t frames, std::uint32_t seed) {
    std::vector<float> x(frames);
    std::uint32_t state = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < frames; ++i) {
        state = state * 1664525u + 1013904223u;
        const float noise = static_cast<float>(state >> 8) * (1.0f / 16777216.0f) - 0.5f;
        x[i] = 0.6f * std::sin(0.013f * static_cast<float>(seed + 1) * static_cast<float>(i)) + 0.4f * noise;
    }
    return x;
}

// Sets `settings` on a fresh plug-in and on `reference`, starts both at
// `rate`, plays `blocks` through both and fails at the first output sample
// whose bits differ.
inline void expectSameAudio(const std::string& effect, Effect& reference, float rate,
                            const std::vector<std::pair<int, float>>& settings,
                            const std::vector<Block>& blocks) {
    const std::string what = effect + " at " + std::to_string(rate) + " Hz, setting " +
                             (settings.empty() ? "defaults" : std::to_string(settings[0].first));
    TestHost host(effect);
    ASSERT_TRUE(host.loaded());
    for (auto [index, value] : settings) {
        host.setParam(index, value);
        reference.set(index, value);
    }
    host.start(rate);
    reference.start(rate);
    AEffect* fx = host.effect();
    std::uint32_t seed = 0;
    int at = 0;
    for (const Block& b : blocks) {
        for (auto [index, value] : b.changes) {
            host.setParam(index, value);
            reference.set(index, value);
        }
        const auto n = static_cast<std::size_t>(b.frames);
        std::vector<std::vector<float>> in;
        std::vector<float*> inputs;
        for (int c = 0; c < fx->numInputs; ++c) {
            in.push_back(testSignal(n, ++seed));
            inputs.push_back(c < 2 || (b.sideChain >> (c - 2) & 1) ? in.back().data() : nullptr);
        }
        std::vector<std::vector<float>> out(2, std::vector<float>(n, 0.25f)), expected = out;
        float* outputs[2] = {out[0].data(), out[1].data()};
        float* expectedOut[2] = {expected[0].data(), expected[1].data()};
        (b.replacing ? fx->processReplacing : fx->process)(fx, inputs.data(), outputs, b.frames);
        reference.process(inputs.data(), expectedOut, b.frames, b.replacing);
        for (int c = 0; c < 2; ++c)
            for (std::size_t i = 0; i < n; ++i)
                if (std::memcmp(&out[c][i], &expected[c][i], sizeof(float)) != 0) {
                    ADD_FAILURE() << what << ": channel " << c << ", frame " << at + static_cast<int>(i)
                                  << " gives " << out[c][i] << ", expected " << expected[c][i];
                    return;
                }
        at += b.frames;
    }
}

// Each row: a parameter set to a normalised value shows the text.
struct TextRow {
    int index;
    float value;
    const char* text;
};
inline void expectTexts(const std::string& effect, const std::vector<TextRow>& rows) {
    TestHost host(effect);
    ASSERT_TRUE(host.loaded());
    for (const TextRow& r : rows) {
        host.setParam(r.index, r.value);
        EXPECT_EQ(host.paramDisplay(r.index), r.text)
            << effect << " parameter " << r.index << " at " << r.value;
    }
}

} // namespace quor::test::model
