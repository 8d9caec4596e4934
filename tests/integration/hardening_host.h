// Tools of the hostile-host tests: reproducible noise, blocks with explicit
// channel arrays, hostile values and settings, the fields of a saved chunk.
#pragma once

#include "tests/support/test_host.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace quor::test::hardening {

// Reproducible noise seeded by a text; minstd_rand is one fixed algorithm in
// every standard library, so the sequence is the same on every machine.
struct Noise : std::minstd_rand {
    explicit Noise(const std::string& seedText, std::uint32_t salt = 0) {
        for (unsigned char c : seedText)
            salt = salt * 31 + c;
        seed(salt);
    }
    std::uint32_t below(std::size_t n) { return n ? static_cast<std::uint32_t>((*this)() % n) : 0; }
    float unit() { return static_cast<float>((*this)() >> 7) * (1.0f / 16777216.0f); } // [0, 1)
    template <class T> T pick(const std::vector<T>& from) { return from[below(from.size())]; }
};

using Channels = std::vector<std::vector<float>>;

inline std::vector<float*> pointers(Channels& channels) {
    std::vector<float*> p;
    for (auto& c : channels)
        p.push_back(c.data());
    return p;
}

// One block: as many inputs as the plug-in has (side-chains included), two outputs.
struct Block {
    Block(const AEffect* fx, int frameCount, Noise& noise, float amplitude = 1.0f)
        : frames(frameCount), in(static_cast<std::size_t>(fx->numInputs), std::vector<float>(frameCount)),
          out(2, std::vector<float>(frameCount)) {
        for (auto& channel : in)
            for (float& x : channel)
                x = amplitude * (2.0f * noise.unit() - 1.0f);
    }
    void run(AEffectProcessProc call, AEffect* fx) {
        call(fx, pointers(in).data(), pointers(out).data(), frames);
    }
    // The largest output magnitude or, as `swing`, how far the second half of
    // the block still moves; infinite when any output is not finite.
    float peak(bool swing = false) const {
        float p = 0.0f;
        for (const auto& c : out) {
            if (!std::all_of(c.begin(), c.end(), [](float y) { return std::isfinite(y); }))
                return std::numeric_limits<float>::infinity();
            const auto [lo, hi] = std::minmax_element(c.begin() + (swing ? c.size() / 2 : 0), c.end());
            p = std::max(p, swing ? *hi - *lo : std::max(-*lo, *hi));
        }
        return p;
    }
    bool finite() const { return std::isfinite(peak()); }

    int frames;
    Channels in, out;
};

// One block of noise (silence at amplitude 0) through the replacing call.
inline Block play(const TestHost& host, Noise& noise, int frames, float amplitude = 1.0f) {
    Block block(host.effect(), frames, noise, amplitude);
    block.run(host.effect()->processReplacing, host.effect());
    return block;
}

// Normalised values a careless or broken host may send.
inline const std::vector<float>& hostileValues() {
    using L = std::numeric_limits<float>;
    const float nan = L::quiet_NaN(), inf = L::infinity(), big = L::max(), tiny = L::denorm_min();
    static const std::vector<float> values{nan,  -nan,  inf,    -inf,     1e30f, -1e30f,     big,  -big,
                                           tiny, -tiny, 1e-40f, L::min(), -0.0f, 1.0000001f, 2.0f, -1.0f};
    return values;
}

// A setting at a corner of the parameter space: kind 0 all minima, 1 all
// maxima, 2 alternating, any other a random mix of both edges and inner points.
inline std::vector<float> corner(VstInt32 numParams, int kind, Noise& noise) {
    std::vector<float> v(static_cast<std::size_t>(numParams));
    for (std::size_t i = 0; i < v.size(); ++i) {
        const std::uint32_t choice = kind == 2 ? i & 1 : kind < 2 ? kind : noise.below(3);
        v[i] = choice == 2 ? noise.unit() : static_cast<float>(choice);
    }
    return v;
}

inline void setAll(const TestHost& host, const std::vector<float>& normalised) {
    for (std::size_t i = 0; i < normalised.size(); ++i)
        host.setParam(static_cast<VstInt32>(i), normalised[i]);
}

inline std::vector<float> allParams(const TestHost& host) {
    std::vector<float> v;
    for (VstInt32 i = 0; i < host.effect()->numParams; ++i)
        v.push_back(host.getParam(i));
    return v;
}

// Fields of a saved chunk, which is little-endian like the machines the tests run on.
template <class T> T field(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    T v;
    std::memcpy(&v, bytes.data() + at, sizeof v);
    return v;
}
template <class T> void setField(std::vector<std::uint8_t>& bytes, std::size_t at, T v) {
    std::memcpy(bytes.data() + at, &v, sizeof v);
}
// The "pars" record of a chunk the plug-in wrote follows the header and the "name" record.
inline std::size_t parsOffset(const std::vector<std::uint8_t>& chunk) {
    return 8 + field<std::uint32_t>(chunk, 12);
}

class EffectTest : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override { ASSERT_TRUE(host.loaded()); }
    TestHost host{GetParam()};
    AEffect* fx = host.effect();
    Noise noise{GetParam()};
};

} // namespace quor::test::hardening
