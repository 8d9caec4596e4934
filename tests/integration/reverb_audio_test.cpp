// The Reverb through the plug-in interface: parameter texts, and audio
// properties that follow from the signal structure.
#include "tests/support/test_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace quor::test {
namespace {

constexpr VstInt32 kMix = 0, kDepth = 3, kFeedback = 5, kWidth = 7, kAlgorithm = 13, kTailDensity = 14,
                   kSize = 15, kDecay = 16, kTailDiffuse = 18, kTailSpread = 20;
using Settings = std::vector<std::pair<VstInt32, float>>;

enum Fill { kSilence, kImpulse, kNoise };

struct Stereo {
    std::vector<float> left, right;
    explicit Stereo(std::size_t frames, Fill fill = kSilence) : left(frames, 0.0f), right(frames, 0.0f) {
        std::mt19937 rng(3);
        std::uniform_real_distribution<float> dist(-0.5f, 0.5f);
        for (std::size_t i = 0; fill == kNoise && i < frames; ++i)
            left[i] = dist(rng), right[i] = dist(rng);
        if (fill == kImpulse) left[0] = right[0] = 1.0f;
    }
};

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
    ASSERT_EQ(host.effect()->numParams, 24);
    // Both sections have a "Delay" and a "Density"; the Rate has its own
    // display, the tail density is a count.
    const std::pair<VstInt32, const char*> rows[] = {{2, "Rate 0.71 Hz"},  {8, "Delay 0%"},
                                                     {13, "Algorithm On"}, {14, "Density 6"},
                                                     {18, "Diffuse 90%"},  {23, "High-cut 100%"}};
    for (auto [index, text] : rows)
        EXPECT_EQ(host.paramName(index) + " " + host.paramDisplay(index), text);
    EXPECT_EQ(host.chunk().size(), 135u);
}

TEST(ReverbPlugin, MixZeroIsTheOffsetInput) {
    TestHost host("Reverb");
    host.setParam(kMix, 0.0f);
    host.start(44100.0f);
    const Stereo in(4096, kNoise);
    Stereo out = in;
    run(host, out);
    for (std::size_t i = 0; i < in.left.size(); ++i) {
        ASSERT_EQ(out.left[i], in.left[i] + 1e-10f) << i;
        ASSERT_EQ(out.right[i], in.right[i] + 1e-10f) << i;
    }
    // Accumulating processing adds the same output to what is there.
    std::vector<float> l(512, 1.0f), r(512, 1.0f);
    const std::vector<float> inL(in.left.begin(), in.left.begin() + 512), inR(512, 0.0f);
    host.processAccumulating(inL, inR, l, r);
    EXPECT_EQ(l[100], 1.0f + (inL[100] + 1e-10f));
}

// With no modulation, no loop gain, no feedback, no diffusion and an open
// band-pass, each tap of the early reflections appears once, delayed by the
// first tail line: at 44100 Hz 1117 samples on the left, 1054 on the right.
TEST(ReverbPlugin, ImpulseArrivesAtTheTapDelays) {
    TestHost host("Reverb");
    const std::pair<VstInt32, float> quiet[] = {{kMix, 1.0f},        {kDepth, 0.0f},       {kFeedback, 0.0f},
                                                {kDecay, 0.0f},      {kTailDiffuse, 0.0f}, {kWidth, 1.0f},
                                                {kTailDensity, 0.0f}};
    for (auto [index, value] : quiet)
        host.setParam(index, value);
    host.start(44100.0f);
    Stereo ir(4096, kImpulse);
    run(host, ir);

    const int line[2] = {1117, 1054};
    const float taps[2][4] = {{190.70f, 366.28f, 735.13f, 1474.33f}, {164.04f, 307.70f, 609.49f, 1214.29f}};
    for (int c = 0; c < 2; ++c) {
        const std::vector<float>& out = c ? ir.right : ir.left;
        EXPECT_LT(peak(out, 0, static_cast<std::size_t>(line[c] + static_cast<int>(taps[c][0]))), 1e-6f);
        float weight = 1.0f;
        for (float tap : taps[c]) {
            const auto at = static_cast<std::size_t>(line[c] + static_cast<int>(tap));
            const float fraction = tap - std::floor(tap);
            EXPECT_NEAR(out[at], weight * (1.0f - fraction), 0.02f) << c << " " << tap;
            EXPECT_NEAR(out[at + 1], weight * fraction, 0.02f) << c << " " << tap;
            EXPECT_LT(std::fabs(out[at + 8]), 0.02f) << c << " " << tap;
            weight *= 0.68377f; // the tap weight ratio for four taps
        }
    }
}

TEST(ReverbPlugin, DecayZeroTailEnds) {
    for (float algorithm : {1.0f, 0.0f}) {
        for (float decay : {0.0f, 0.6f}) {
            TestHost host("Reverb");
            for (auto [index, value] : {std::pair{kMix, 1.0f}, {kAlgorithm, algorithm}, {kDecay, decay}})
                host.setParam(index, value);
            host.start(44100.0f);
            Stereo ir(44100, kImpulse);
            run(host, ir);
            const float late = peak(ir.left, 30870, 35280); // 0.7 s to 0.8 s
            EXPECT_GT(peak(ir.left, 0, 8820), 1e-3f);
            EXPECT_TRUE(decay == 0.0f ? late < 1e-6f : late > 1e-5f)
                << algorithm << " " << decay << ": " << late;
        }
    }
}

TEST(ReverbPlugin, AlgorithmSwitchSilencesEverything) {
    TestHost host("Reverb");
    host.setParam(kMix, 1.0f);
    host.start(44100.0f);
    for (float algorithm : {0.0f, 1.0f}) {
        Stereo ringing(22050, kNoise);
        run(host, ringing);
        // The switch lands with zeroed lines prepared off the audio thread,
        // within a few blocks; from then on everything is silent.
        host.setParam(kAlgorithm, algorithm);
        float loudness = 1.0f;
        for (int blocks = 0; blocks < 2000 && loudness >= 1e-6f; ++blocks) {
            Stereo after(64);
            run(host, after);
            loudness = std::max(peak(after.left, 0, 64), peak(after.right, 0, 64));
            if (loudness >= 1e-6f) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        EXPECT_LT(loudness, 1e-6f) << algorithm;
        Stereo later(512);
        run(host, later);
        EXPECT_LT(std::max(peak(later.left, 0, 512), peak(later.right, 0, 512)), 1e-6f) << algorithm;
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
    Stereo before(30000, kNoise);
    run(moved, before);
    moved.suspend();
    moved.dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    moved.resume();
    fresh.start(48000.0f);

    Stereo a(48000, kImpulse), b(48000, kImpulse);
    run(moved, a);
    run(fresh, b);
    EXPECT_EQ(a.left, b.left);
    EXPECT_EQ(a.right, b.right);
}

// Every parameter at either end of its range, the shortest possible tail
// lines and the heaviest load: nothing is ever non-finite, and with Decay
// below 1 the tail dies away.
TEST(ReverbPlugin, ExtremesStayFiniteAndDecay) {
    std::vector<std::pair<Settings, float>> cases;
    for (VstInt32 i = 0; i < 24; ++i)
        for (float v : {0.0f, 1.0f})
            cases.push_back({{{i, v}}, 44100.0f});
    for (float algorithm : {0.0f, 1.0f}) {
        cases.push_back({{{kSize, 0.0f}, {kTailSpread, 1.0f}, {kAlgorithm, algorithm}}, 22050.0f});
        cases.push_back(
            {{{kTailDensity, 1.0f}, {kSize, 1.0f}, {10, 1.0f}, {kAlgorithm, algorithm}}, 96000.0f});
    }
    for (const auto& [settings, rate] : cases) {
        TestHost host("Reverb");
        for (auto [index, value] : settings)
            host.setParam(index, value);
        host.start(rate);
        const auto second = static_cast<std::size_t>(rate);
        Stereo s(second / 2, kNoise);
        s.left.resize(5 * second, 0.0f);
        s.right.resize(5 * second, 0.0f);
        run(host, s);
        const std::string what = "parameter " + std::to_string(settings[0].first) + " = " +
                                 std::to_string(settings[0].second) + " at " + std::to_string(rate);
        for (const auto* ch : {&s.left, &s.right})
            ASSERT_TRUE(std::all_of(ch->begin(), ch->end(), [](float x) { return std::isfinite(x); }))
                << what;
        if (settings[0] == std::pair<VstInt32, float>{kDecay, 1.0f}) continue; // never dies away
        const float early = peak(s.left, second / 2, second + second / 2);
        const float late = peak(s.left, 4 * second, 5 * second);
        EXPECT_TRUE(late < 0.5f * early || late < 1e-6f) << what << ": " << early << " then " << late;
    }
}

} // namespace
} // namespace quor::test
