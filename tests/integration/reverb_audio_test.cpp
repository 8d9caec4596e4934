// The Reverb through the plug-in interface: parameter texts, and audio
// properties that follow from the signal structure.
#include "tests/support/test_host.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <random>
#include <thread>

namespace quor::test {
namespace {

constexpr VstInt32 kMix = 0, kDepth = 3, kAlgorithm = 13, kTailDensity = 14, kSize = 15, kDecay = 16,
                   kTailSpread = 20;
using Settings = std::vector<std::pair<VstInt32, float>>;
using Stereo = std::array<std::vector<float>, 2>;

// `frames` of noise for the first `noiseFrames` (or an impulse), then
// silence, processed in blocks of 512 as a host would.
void run(const TestHost& host, Stereo& io, std::size_t frames, std::size_t noiseFrames,
         bool impulse = false) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> dist(-0.5f, 0.5f);
    for (auto& channel : io) {
        channel.assign(frames, 0.0f);
        for (std::size_t i = 0; i < noiseFrames; ++i)
            channel[i] = dist(rng);
        channel[0] = impulse ? 1.0f : channel[0];
    }
    host.processInBlocks(io[0], io[1], 512);
}

float peak(const Stereo& io, std::size_t from, std::size_t to) {
    float p = 0.0f;
    for (const auto& channel : io)
        for (std::size_t i = from; i < to; ++i)
            p = std::max(p, std::fabs(channel[i]));
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

TEST(ReverbPlugin, AlgorithmSwitchSilencesEverything) {
    TestHost host("Reverb");
    host.setParam(kMix, 1.0f);
    host.start(44100.0f);
    for (float algorithm : {0.0f, 1.0f}) {
        Stereo io;
        run(host, io, 22050, 22050);
        // The switch lands with zeroed lines prepared off the audio thread,
        // within a few blocks; from then on everything is silent.
        host.setParam(kAlgorithm, algorithm);
        float loudness = 1.0f;
        for (int blocks = 0; blocks < 2000 && loudness >= 1e-6f; ++blocks) {
            run(host, io, 64, 0);
            loudness = peak(io, 0, 64);
            if (loudness >= 1e-6f) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        run(host, io, 512, 0);
        EXPECT_LT(std::max(loudness, peak(io, 0, 512)), 1e-6f) << algorithm;
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
    Stereo a, b;
    run(moved, a, 30000, 30000);
    moved.suspend();
    moved.dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    moved.resume();
    fresh.start(48000.0f);
    run(moved, a, 48000, 0, true);
    run(fresh, b, 48000, 0, true);
    EXPECT_EQ(a, b);
}

// Every parameter at either end of its range, the shortest possible tail
// lines and the heaviest load: nothing is ever non-finite, with Decay below 1
// the tail dies away, and at Decay 0 it ends, in either algorithm.
TEST(ReverbPlugin, ExtremesStayFiniteAndDecay) {
    std::vector<std::pair<Settings, float>> cases;
    for (VstInt32 i = 0; i < 24; ++i)
        for (float v : {0.0f, 1.0f})
            cases.push_back({{{i, v}}, 44100.0f});
    cases.push_back({{{kDecay, 0.0f}, {kAlgorithm, 0.0f}}, 44100.0f});
    for (float algorithm : {0.0f, 1.0f}) {
        cases.push_back({{{kSize, 0.0f}, {kTailSpread, 1.0f}, {kAlgorithm, algorithm}}, 22050.0f});
        cases.push_back(
            {{{kTailDensity, 1.0f}, {kSize, 1.0f}, {10, 1.0f}, {kAlgorithm, algorithm}}, 96000.0f});
    }
    for (const auto& [settings, rate] : cases) {
        TestHost host("Reverb");
        host.setParam(kMix, 1.0f);
        for (auto [index, value] : settings)
            host.setParam(index, value);
        host.start(rate);
        const auto second = static_cast<std::size_t>(rate);
        Stereo io;
        run(host, io, 5 * second, second / 2);
        SCOPED_TRACE("parameter " + std::to_string(settings[0].first) + " = " +
                     std::to_string(settings[0].second) + " at " + std::to_string(rate));
        for (const auto& channel : io)
            ASSERT_TRUE(
                std::all_of(channel.begin(), channel.end(), [](float x) { return std::isfinite(x); }));
        const float early = peak(io, second / 2, 3 * second / 2), late = peak(io, 4 * second, 5 * second);
        EXPECT_TRUE(settings[0] == std::pair(kDecay, 1.0f) || late < 0.5f * early || late < 1e-6f)
            << early << " then " << late;
        EXPECT_TRUE(settings[0] != std::pair(kDecay, 0.0f) ||
                    (early > 1e-3f && peak(io, 3 * second / 2, 2 * second) < 1e-6f))
            << "the tail goes on after " << early;
    }
}

} // namespace
} // namespace quor::test
