#include "tools/quor/plugin.h"
#include "tools/quor/render.h"
#include "tools/tests/test_support.h"

#include <cmath>
#include <limits>

namespace quor::cli {
namespace {

constexpr double kRate = 44100.0;

// What a gate with a 200-frame hold lets through of a mono signal fed in chunks.
std::vector<float> gateThrough(const std::vector<float>& signal, std::size_t chunk, std::int64_t limit) {
    TailGate gate(1, 200, limit, static_cast<int>(chunk));
    MemorySink sink(1);
    bool ended = false;
    for (std::size_t start = 0; start < signal.size() && !ended; start += chunk) {
        const float* channels[1] = {signal.data() + start};
        ended = gate.push(channels, static_cast<int>(std::min(chunk, signal.size() - start)), sink);
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(gate.tailFrames(), static_cast<std::int64_t>(sink.data[0].size()));
    EXPECT_EQ(gate.reachedLimit(), gate.tailFrames() == limit);
    return sink.data[0];
}

TEST(TailGate, EndsOnTheLastAudibleSampleOrAtTheLimit) {
    std::vector<float> decay(1000, 0.0f), edge(500, 0.0f), pulses(5000, 0.0f);
    for (std::size_t i = 0; i < 300; ++i)
        decay[i] = 0.5f * std::pow(0.97f, static_cast<float>(i));
    decay[450] = -2e-6f; // a late blip after a quiet gap shorter than the hold, which stays as it was
    for (std::size_t chunk : {1, 7, 64, 1000})
        EXPECT_EQ(gateThrough(decay, chunk, 100000), std::vector<float>(decay.begin(), decay.begin() + 451))
            << chunk;
    // A sample at the threshold is audible; a signal that never falls quiet for
    // long stops at the limit, quiet frames held back included; NaN is not silence.
    EXPECT_TRUE(gateThrough(std::vector<float>(500, 9.9e-7f), 64, 100000).empty());
    edge[10] = kSilenceThreshold;
    EXPECT_EQ(gateThrough(edge, 64, 100000).size(), 11u);
    for (std::size_t i = 0; i < pulses.size(); i += 100)
        pulses[i] = 0.1f;
    EXPECT_EQ(gateThrough(pulses, 64, 3000), std::vector<float>(pulses.begin(), pulses.begin() + 3000));
    EXPECT_EQ(gateThrough(std::vector<float>(5000, std::numeric_limits<float>::quiet_NaN()), 64, 3000).size(),
              3000u);
}

std::pair<RenderResult, test::Channels> renderDelay(const std::vector<float>& l, const std::vector<float>& r,
                                                    int delay, int block, RenderSettings settings,
                                                    float feedback, const test::Channels* side = nullptr) {
    auto plugin = Plugin::load(test::testModule("delay"));
    plugin->configure(kRate, block);
    plugin->setParameter(0, static_cast<float>(delay) / 8192.0f);
    plugin->setParameter(1, side ? 1.0f : 0.0f);
    plugin->setParameter(2, feedback);
    settings.blockSize = block;
    MemorySource input(l, r);
    std::unique_ptr<MemorySource> sidechain =
        side ? std::make_unique<MemorySource>((*side)[0], (*side)[1]) : nullptr;
    MemorySink sink(2);
    const RenderResult result = render(*plugin, input, sidechain.get(), sink, settings, nullptr, nullptr);
    return {result, sink.data};
}

// The delay reports its latency only from inside its first processing call,
// as a look-ahead limiter does; 51 frames is less than a block, 4410 several.
// Uncompensated, the delay stays and the input's end moves into the tail.
TEST(Render, TrimsTheReportedLatencyFromTheStart) {
    const std::vector<float> l = test::noise(10000, 1), r = test::noise(10000, 2);
    const test::Channels side{test::noise(10000, 3), test::noise(10000, 4)};
    // {delay, block size, compensate, fixed tail frames, side-chain}
    const std::tuple<int, int, bool, int, bool> cases[] = {
        {51, 1, true, 0, false},       {51, 4096, true, 0, false}, {4410, 32, true, 0, false},
        {4410, 4096, true, 100, true}, {51, 256, false, 0, false}, {51, 256, false, 51, true}};
    for (const auto& [delay, block, compensate, tail, withSide] : cases) {
        RenderSettings settings;
        settings.compensateLatency = compensate;
        settings.tail.seconds = tail / kRate;
        const auto [result, out] =
            renderDelay(l, r, delay, block, settings, 0.0f, withSide ? &side : nullptr);
        SCOPED_TRACE(std::to_string(delay) + " in blocks of " + std::to_string(block));
        EXPECT_EQ(result.latency, compensate ? delay : 0);
        EXPECT_EQ(result.reportedLatency, delay);
        EXPECT_FALSE(result.latencyChanged);
        for (std::size_t ch = 0; ch < 2; ++ch) {
            std::vector<float> expected(compensate ? 0 : static_cast<std::size_t>(delay), 0.0f);
            for (std::size_t i = 0; i < l.size(); ++i)
                expected.push_back((ch ? r : l)[i] + (withSide ? side[ch][i] : 0.0f));
            expected.resize(l.size() + static_cast<std::size_t>(tail), 0.0f);
            EXPECT_EQ(out[ch], expected) << "channel " << ch;
        }
    }
}

TEST(Render, AutomaticTailEndsWithTheLastAudibleEcho) {
    // A click at the very end; echoes every 1000 frames, each 0.95 * 0.5 of
    // the one before: the 18th (1.5e-6) is the last at or above -120 dBFS.
    std::vector<float> l(2000, 0.0f);
    l.back() = 1.0f;
    RenderSettings settings;
    settings.tail.automatic = true;
    const auto [result, out] = renderDelay(l, l, 1000, 512, settings, 0.5f);
    EXPECT_EQ(result.tailFrames, 18000);
    EXPECT_FALSE(result.tailLimited);
    ASSERT_EQ(out[0].size(), 20000u);
    EXPECT_FLOAT_EQ(out[0][2999], 0.475f);
}

// The tool renders what the tests' own host gives for the same signal and 0.25 s
// (12000 frames) of silence, in whole blocks of the same size; mono feeds both sides.
TEST(FileRender, MatchesProcessingTheSameSignalDirectly) {
    const std::size_t block = 256, frames = 30011 + 12000;
    for (const auto& [effect, channels] : {std::pair{"Tremolo", 2}, {"Tremolo", 1}, {"Reverb", 2}}) {
        test::ScratchDir dir;
        test::Audio in{48000, {}};
        for (int c = 0; c < channels; ++c)
            in.channels.push_back(test::noise(30011, 10u + static_cast<unsigned>(c)));
        test::writeAudio(dir.file("in.wav"), in);
        const test::RunResult r = test::runQuor({"render", dir.file("in.wav"), dir.file("out.wav"),
                                                 "--effect", effect, "--block", "256", "--tail", "0.25"});
        EXPECT_EQ(r.status, 0) << r.err;
        quor::test::TestHost host(effect);
        host.start(48000.0f, block);
        test::Channels expected{in.channels.front(), in.channels.back()};
        for (std::vector<float>& channel : expected)
            channel.resize((frames + block - 1) / block * block, 0.0f);
        host.processInBlocks(expected[0], expected[1], block);
        for (std::vector<float>& channel : expected)
            channel.resize(frames);
        const test::Audio out = test::readAudio(dir.file("out.wav"));
        EXPECT_EQ(out.sampleRate, 48000);
        EXPECT_EQ(out.channels, expected) << effect << " " << channels;
    }
}

} // namespace
} // namespace quor::cli
