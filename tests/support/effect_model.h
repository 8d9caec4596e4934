// Plain frame-by-frame models of the shared kernels (smoother, mix law,
// half-band oversampler, tone filter pair), and a driver that plays one
// plug-in and its model side by side through the plug-in interface, block by
// block, and compares every output bit.
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
        rateKnown = true;
    }
    void setTarget(float* dest, float value) {
        auto r = std::find_if(ramps.begin(), ramps.end(), [&](const Ramp& x) { return x.dest == dest; });
        if (!active || !rateKnown || *dest == value) {
            *dest = value;
            if (r != ramps.end()) ramps.erase(r);
        } else if (r == ramps.end()) {
            ramps.push_back({dest, value, length});
        } else if (r->target != value) {
            r->target = value;
            r->remaining = length;
        }
    }
    void advance() {
        active = true;
        for (auto r = ramps.begin(); r != ramps.end();) {
            *r->dest = *r->dest + (r->target - *r->dest) * coefficient;
            r->remaining = r->remaining - 1.0f;
            if (r->remaining <= 0.0f) {
                *r->dest = r->target;
                r = ramps.erase(r);
            } else {
                ++r;
            }
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
        savedValues.clear();
        for (const Ramp& r : ramps)
            savedValues.push_back(*r.dest);
    }
    void beginChannel() {
        ramps = saved;
        for (std::size_t i = 0; i < ramps.size(); ++i)
            *ramps[i].dest = savedValues[i];
    }

  private:
    struct Ramp {
        float* dest;
        float target, remaining;
    };
    std::vector<Ramp> ramps, saved;
    std::vector<float> savedValues;
    float coefficient = 0.0f, length = 0.0f;
    bool active = false, rateKnown = false;
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

struct Allpass {
    float z = 0.0f;
    float operator()(float u, float c) {
        const float d = (u - z) * c, y = z + d;
        z = u + d;
        return y;
    }
};

struct Upsampler {
    Allpass s[6];
    void operator()(float x, float& a, float& b) {
        a = s[2](s[1](s[0](x, 0.0266328f), 0.22867f), 0.59637f);
        b = s[5](s[4](s[3](x, 0.10458f), 0.3932f), 0.84751f);
    }
};

struct Oversampler {
    Upsampler up;
    Allpass downA, downB;
    float down(float p, float q) {
        return 0.5f * (downA(p, 0.150634765625f) + downB(q, -0.3925628662109375f));
    }
};

inline float tangentPolynomial(float w) {
    return ((0.2033f * w * w + 0.31755f) * w * w + 1.0f) * w;
}

struct TonePair {
    float rate = 0.0f, highCut = 0.0f, lowCut = 0.0f, lp[2] = {}, hp[2] = {};
    static float gain(float f, float rate) {
        f = f < 1.0f ? 1.0f : std::min(f, 0.5f * rate);
        return tangentPolynomial(3.1415927f * f / rate);
    }
    float operator()(int c, float x) {
        const float gl = gain(highCut, rate), gh = gain(lowCut, rate);
        const float v = (gl * x + lp[c]) * (1.0f / (1.0f + gl));
        lp[c] = (x - v) * gl + v;
        const float l = (gh * v + hp[c]) * (1.0f / (1.0f + gh));
        hp[c] = (v - l) * gh + l;
        return v - l;
    }
};

// An effect model: the plug-in's parameters as stored values, and its audio.
class Effect {
  public:
    virtual ~Effect() = default;
    virtual void changed(int index) = 0;
    // inputs: 2 main channels, then any side-chain channels (null for none).
    virtual void process(const float* const* in, float* const* out, int frames, bool replacing) = 0;
    std::vector<float> values;
    std::vector<float> lows, highs; // stored range of each parameter
    void set(int index, float normalised) {
        values[index] = lows[index] + (highs[index] - lows[index]) * normalised;
        changed(index);
    }
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

// Plays `blocks` through the plug-in and the model; fails at the first
// output sample whose bits differ.
inline void expectSameAudio(const TestHost& host, Effect& reference, const std::vector<Block>& blocks,
                            const std::string& what) {
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
        for (int c = 0; c < fx->numInputs; ++c)
            in.push_back(testSignal(n, ++seed));
        std::vector<float*> inputs;
        for (int c = 0; c < fx->numInputs; ++c)
            inputs.push_back(c < 2 || (b.sideChain >> (c - 2) & 1) ? in[static_cast<std::size_t>(c)].data()
                                                                   : nullptr);
        std::vector<std::vector<float>> out(2, std::vector<float>(n)), expected;
        for (std::size_t i = 0; i < n; ++i)
            out[0][i] = out[1][i] = 0.25f * static_cast<float>(i % 5);
        expected = out;
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

} // namespace quor::test::model
