// The Reverb through the plug-in interface: identity, parameter texts, and
// audio properties that follow from the signal structure.
#include "tests/support/test_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace quor::test {
namespace {

enum : VstInt32 {
    kMix = 0,
    kFeedback = 5,
    kWidth = 7,
    kAlgorithm = 13,
    kTailDensity = 14,
    kSize = 15,
    kDecay = 16,
    kTailDiffuse = 18,
    kTailSpread = 20,
    kDepth = 3
};

struct Stereo {
    std::vector<float> left, right;
    explicit Stereo(std::size_t frames = 0) : left(frames, 0.0f), right(frames, 0.0f) {}
};

Stereo noise(std::size_t frames, unsigned seed = 3) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-0.5f, 0.5f);
    Stereo s(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        s.left[i] = dist(rng);
        s.right[i] = dist(rng);
    }
    return s;
}

Stereo impulse(std::size_t frames) {
    Stereo s(frames);
    s.left[0] = 1.0f;
    s.right[0] = 1.0f;
    return s;
}

// Processes in place, in blocks of 512 as a host would.
void run(const TestHost& host, Stereo& s) {
    for (std::size_t at = 0; at < s.left.size(); at += 512) {
        const std::size_t n = std::min<std::size_t>(512, s.left.size() - at);
        std::vector<float> l(s.left.begin() + at, s.left.begin() + at + n);
        std::vector<float> r(s.right.begin() + at, s.right.begin() + at + n);
        host.processReplacing(l, r);
        std::copy(l.begin(), l.end(), s.left.begin() + at);
        std::copy(r.begin(), r.end(), s.right.begin() + at);
    }
}

float peak(const std::vector<float>& v, std::size_t from, std::size_t to) {
    float p = 0.0f;
    for (std::size_t i = from; i < to; ++i)
        p = std::max(p, std::fabs(v[i]));
    return p;
}

TEST(ReverbPlugin, PresentsItsParameters) {
    TestHost host("Reverb");
    ASSERT_TRUE(host.loaded());
    EXPECT_EQ(host.text(effGetEffectName), "Quor Reverb");
    EXPECT_EQ(host.text(effGetProductString), "Reverb");
    ASSERT_EQ(host.effect()->numParams, 24);
    const char* const names[24] = {"Mix",      "Gain",         "Rate",         "Depth",     "Delay",
                                   "Feedback", "Frequency",    "Width",        "Delay",     "Direction",
                                   "Density",  "Spread",       "Distribution", "Algorithm", "Density",
                                   "Size",     "Decay",        "Stereo",       "Diffuse",   "Direction",
                                   "Spread",   "Distribution", "Low-cut",      "High-cut"};
    const char* const displays[24] = {"12%", "0%",   "0.71 Hz", "12%", "0%",  "100%", "40%",  "70%",
                                      "0%",  "On",   "50%",     "50%", "50%", "On",   "6",    "40%",
                                      "60%", "100%", "90%",     "On",  "50%", "50%",  "100%", "100%"};
    for (VstInt32 i = 0; i < 24; ++i) {
        EXPECT_EQ(host.paramName(i), names[i]) << i;
        EXPECT_EQ(host.paramDisplay(i), displays[i]) << i;
    }
    EXPECT_EQ(host.chunk().size(), 135u);
}

TEST(ReverbPlugin, MixZeroIsTheOffsetInputMixOneIsWetOnly) {
    TestHost host("Reverb");
    host.setParam(kMix, 0.0f);
    host.start(44100.0f);
    const Stereo in = noise(4096);
    Stereo out = in;
    run(host, out);
    for (std::size_t i = 0; i < in.left.size(); ++i) {
        ASSERT_EQ(out.left[i], in.left[i] + 1e-10f) << i;
        ASSERT_EQ(out.right[i], in.right[i] + 1e-10f) << i;
    }
    // Accumulating processing adds the same output to what is there.
    std::vector<float> l(512, 1.0f), r(512, 1.0f);
    const std::vector<float> inL(in.left.begin(), in.left.begin() + 512),
        inR(in.right.begin(), in.right.begin() + 512);
    host.processAccumulating(inL, inR, l, r);
    EXPECT_EQ(l[100], 1.0f + (inL[100] + 1e-10f));

    TestHost wet("Reverb");
    wet.setParam(kMix, 1.0f);
    wet.start(44100.0f);
    Stereo ir = impulse(1024);
    run(wet, ir);
    EXPECT_LT(std::fabs(ir.left[0]), 1e-6f); // the impulse itself is gone
}

// With no modulation, no loop gain, no feedback, no diffusion and an open
// band-pass, each tap of the early reflections appears once, delayed by the
// first tail line: at 44100 Hz 1117 samples on the left, 1054 on the right.
TEST(ReverbPlugin, ImpulseArrivesAtTheTapDelays) {
    TestHost host("Reverb");
    for (auto [index, value] : {std::pair<VstInt32, float>{kMix, 1.0f},
                                {kDepth, 0.0f},
                                {kFeedback, 0.0f},
                                {kDecay, 0.0f},
                                {kTailDiffuse, 0.0f},
                                {kWidth, 1.0f},
                                {kTailDensity, 0.0f}})
        host.setParam(index, value);
    host.start(44100.0f);
    Stereo ir = impulse(4096);
    run(host, ir);

    const float ratio = 0.68377f; // tap weight ratio for four taps
    const struct {
        const std::vector<float>& out;
        int line;
        float taps[4];
    } channels[2] = {{ir.left, 1117, {190.70f, 366.28f, 735.13f, 1474.33f}},
                     {ir.right, 1054, {164.04f, 307.70f, 609.49f, 1214.29f}}};
    for (const auto& ch : channels) {
        const auto first = static_cast<std::size_t>(ch.line + static_cast<int>(ch.taps[0]));
        EXPECT_LT(peak(ch.out, 0, first), 1e-6f);
        float weight = 1.0f;
        for (float tap : ch.taps) {
            const auto at = static_cast<std::size_t>(ch.line + static_cast<int>(tap));
            const float fraction = tap - std::floor(tap);
            EXPECT_NEAR(ch.out[at], weight * (1.0f - fraction), 0.02f) << ch.line << " " << tap;
            EXPECT_NEAR(ch.out[at + 1], weight * fraction, 0.02f) << ch.line << " " << tap;
            EXPECT_LT(std::fabs(ch.out[at + 8]), 0.02f) << ch.line << " " << tap;
            weight *= ratio;
        }
    }
}

TEST(ReverbPlugin, DecayZeroTailEnds) {
    for (float algorithm : {1.0f, 0.0f}) {
        for (float decay : {0.0f, 0.6f}) {
            TestHost host("Reverb");
            host.setParam(kMix, 1.0f);
            host.setParam(kAlgorithm, algorithm);
            host.setParam(kDecay, decay);
            host.start(44100.0f);
            Stereo ir = impulse(44100);
            run(host, ir);
            const float late = peak(ir.left, 30870, 35280); // 0.7 s to 0.8 s
            EXPECT_GT(peak(ir.left, 0, 8820), 1e-3f);
            if (decay == 0.0f)
                EXPECT_LT(late, 1e-6f) << "algorithm " << algorithm;
            else
                EXPECT_GT(late, 1e-5f) << "algorithm " << algorithm;
        }
    }
}

TEST(ReverbPlugin, AlgorithmSwitchSilencesEverything) {
    TestHost host("Reverb");
    host.setParam(kMix, 1.0f);
    host.start(44100.0f);
    for (float algorithm : {0.0f, 1.0f}) {
        Stereo ringing = noise(22050);
        run(host, ringing);
        host.setParam(kAlgorithm, algorithm);
        Stereo after(512);
        run(host, after);
        EXPECT_LT(peak(after.left, 0, 512), 1e-6f) << algorithm;
        EXPECT_LT(peak(after.right, 0, 512), 1e-6f) << algorithm;
    }
}

// A new rate rebuilds every line for it and starts from silence: without
// modulation the impulse response equals that of an instance that never ran
// at the old rate.
TEST(ReverbPlugin, SampleRateChangeRebuildsAndClears) {
    TestHost moved("Reverb"), fresh("Reverb");
    for (const TestHost* host : {&moved, &fresh}) {
        host->setParam(kMix, 0.8f);
        host->setParam(kDepth, 0.0f);
    }
    moved.start(44100.0f);
    Stereo before = noise(30000);
    run(moved, before);
    moved.suspend();
    moved.dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    moved.resume();
    fresh.start(48000.0f);

    Stereo a = impulse(48000), b = impulse(48000);
    run(moved, a);
    run(fresh, b);
    EXPECT_EQ(a.left, b.left);
    EXPECT_EQ(a.right, b.right);
}

// Every parameter at either end of its range, and the shortest possible tail
// lines: nothing is ever non-finite, and with Decay below 1 the tail dies away.
TEST(ReverbPlugin, ExtremesStayFiniteAndDecay) {
    struct Case {
        std::vector<std::pair<VstInt32, float>> settings;
        float rate;
    };
    std::vector<Case> cases;
    for (VstInt32 i = 0; i < 24; ++i)
        for (float v : {0.0f, 1.0f})
            cases.push_back({{{i, v}}, 44100.0f});
    for (float algorithm : {0.0f, 1.0f}) {
        cases.push_back({{{kSize, 0.0f}, {kTailSpread, 1.0f}, {kAlgorithm, algorithm}}, 22050.0f});
        cases.push_back(
            {{{kTailDensity, 1.0f}, {kSize, 1.0f}, {10, 1.0f}, {kAlgorithm, algorithm}}, 96000.0f});
    }
    for (const Case& c : cases) {
        TestHost host("Reverb");
        bool decays = true;
        for (auto [index, value] : c.settings) {
            host.setParam(index, value);
            if (index == kDecay && value == 1.0f) decays = false;
        }
        host.start(c.rate);
        const auto second = static_cast<std::size_t>(c.rate);
        Stereo s = noise(second / 2);
        s.left.resize(5 * second, 0.0f);
        s.right.resize(5 * second, 0.0f);
        run(host, s);
        const std::string what = "parameter " + std::to_string(c.settings[0].first) + " = " +
                                 std::to_string(c.settings[0].second) + " at " + std::to_string(c.rate);
        for (const auto* ch : {&s.left, &s.right})
            ASSERT_TRUE(std::all_of(ch->begin(), ch->end(), [](float x) { return std::isfinite(x); }))
                << what;
        if (!decays) continue;
        const float early = peak(s.left, second / 2, second + second / 2);
        const float late = peak(s.left, 4 * second, 5 * second);
        EXPECT_TRUE(late < 0.5f * early || late < 1e-6f) << what << ": " << early << " then " << late;
    }
}

} // namespace
} // namespace quor::test
