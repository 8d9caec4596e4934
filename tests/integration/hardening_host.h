// Shared tools of the hostile-host tests: deterministic noise, stereo blocks
// with explicit channel pointers (so a test can hand the plug-in in-place,
// null or side-chain arrays), value tables for parameter and chunk abuse, and
// a few checks on what comes out.
#pragma once

#include "tests/support/test_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace quor::test::hardening {

// Parameterised suites over every built effect get test names like
// "Effects/Suite.Case/RC_Filter".
inline std::string effectTestName(const ::testing::TestParamInfo<std::string>& info) {
    std::string name;
    for (char c : info.param)
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

// xorshift32: the same sequence on every machine and every run.
class Noise {
  public:
    explicit Noise(std::uint32_t seed = 0x2545F491u) : state(seed ? seed : 1u) {}
    std::uint32_t bits() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    // Uniform in [-1, 1).
    float sample() { return static_cast<float>(static_cast<std::int32_t>(bits())) * (1.0f / 2147483648.0f); }
    // Uniform in [0, 1).
    float unit() { return static_cast<float>(bits() >> 8) * (1.0f / 16777216.0f); }
    std::uint32_t below(std::uint32_t n) { return n ? bits() % n : 0; }

  private:
    std::uint32_t state;
};

inline std::uint32_t seedFor(const std::string& text, std::uint32_t salt = 0) {
    std::uint32_t h = 2166136261u ^ salt;
    for (unsigned char c : text)
        h = (h ^ c) * 16777619u;
    return h ? h : 1u;
}

// One block of audio for an effect with `inputs` input channels (2, or 4 with
// a side-chain) and two outputs, each channel its own vector.
struct Block {
    Block(int inputCount, int frameCount)
        : frames(frameCount), in(static_cast<std::size_t>(inputCount), std::vector<float>(frameCount, 0.0f)),
          out(2, std::vector<float>(static_cast<std::size_t>(frameCount), 0.0f)) {
        for (auto& c : in)
            inPtrs.push_back(c.data());
        for (auto& c : out)
            outPtrs.push_back(c.data());
    }

    void fillNoise(Noise& noise, float amplitude) {
        for (auto& c : in)
            for (float& x : c)
                x = noise.sample() * amplitude;
    }
    void fillSilence() {
        for (auto& c : in)
            std::fill(c.begin(), c.end(), 0.0f);
    }
    void fillOutputs(float value) {
        for (auto& c : out)
            std::fill(c.begin(), c.end(), value);
    }

    void processReplacing(AEffect* fx) { fx->processReplacing(fx, inPtrs.data(), outPtrs.data(), frames); }
    void processAccumulating(AEffect* fx) { fx->process(fx, inPtrs.data(), outPtrs.data(), frames); }

    int frames;
    std::vector<std::vector<float>> in;
    std::vector<std::vector<float>> out;
    std::vector<float*> inPtrs;
    std::vector<float*> outPtrs;
};

// Index of the first non-finite sample of the outputs, or -1.
inline long firstNonFinite(const Block& block) {
    for (const auto& c : block.out)
        for (std::size_t k = 0; k < c.size(); ++k)
            if (!std::isfinite(c[k])) return static_cast<long>(k);
    return -1;
}

inline float outputPeak(const Block& block) {
    float peak = 0.0f;
    for (const auto& c : block.out)
        for (float y : c)
            peak = std::max(peak, std::fabs(y));
    return peak;
}

inline bool hasSubnormalOutput(const Block& block) {
    for (const auto& c : block.out)
        for (float y : c)
            if (std::fpclassify(y) == FP_SUBNORMAL) return true;
    return false;
}

// Values a careless or broken host may send as a normalised parameter.
inline std::vector<float> extremeValues() {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    return {nan,
            -nan,
            inf,
            -inf,
            -1e30f,
            1e30f,
            std::numeric_limits<float>::max(),
            -std::numeric_limits<float>::max(),
            std::numeric_limits<float>::denorm_min(),
            -std::numeric_limits<float>::denorm_min(),
            1e-40f,
            std::numeric_limits<float>::min(),
            0.0f,
            -0.0f,
            1.0f,
            0.5f,
            std::nextafter(1.0f, 2.0f),
            std::nextafter(0.0f, -1.0f),
            2.0f,
            -1.0f};
}

// Parameter indexes no host should send.
inline std::vector<VstInt32> badIndexes(VstInt32 numParams) {
    return {-1,
            numParams,
            numParams + 1,
            numParams + 1000,
            std::numeric_limits<VstInt32>::min(),
            std::numeric_limits<VstInt32>::max(),
            -numParams - 1};
}

// Little-endian field access into a saved chunk.
inline std::uint32_t readU32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | bytes[at + static_cast<std::size_t>(i)];
    return v;
}
inline void writeU32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void writeFloat(std::vector<std::uint8_t>& bytes, std::size_t at, float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    writeU32(bytes, at, bits);
}
inline float readFloat(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    const std::uint32_t bits = readU32(bytes, at);
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// Where the "pars" record of a chunk written by the plug-in starts.
inline std::size_t parsOffset(const std::vector<std::uint8_t>& chunk) {
    return 8 + readU32(chunk, 12);
}

// Sets every parameter to a normalised value.
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

// A parameter setting at a corner of the parameter space or in between:
// `kind` 0 gives all minima, 1 all maxima, 2 alternating, larger values a
// random mix of minima, maxima and inner points.
inline std::vector<float> cornerSetting(VstInt32 numParams, int kind, Noise& noise) {
    std::vector<float> v(static_cast<std::size_t>(numParams));
    for (std::size_t i = 0; i < v.size(); ++i) {
        switch (kind) {
        case 0:
            v[i] = 0.0f;
            break;
        case 1:
            v[i] = 1.0f;
            break;
        case 2:
            v[i] = (i & 1) ? 1.0f : 0.0f;
            break;
        case 3:
            v[i] = (i & 1) ? 0.0f : 1.0f;
            break;
        default: {
            const std::uint32_t pick = noise.below(3);
            v[i] = pick == 0 ? 0.0f : pick == 1 ? 1.0f : noise.unit();
        }
        }
    }
    return v;
}

// Whether two fresh instances given the same input produce the same output:
// false for effects with a process-wide random source, whose exact-output
// comparisons the tests then skip.
bool isDeterministic(const std::string& effectName);

} // namespace quor::test::hardening
