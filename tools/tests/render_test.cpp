#include "tests/support/test_host.h"
#include "tools/quor/commands.h"
#include "tools/quor/error.h"
#include "tools/quor/plugin.h"
#include "tools/quor/render.h"
#include "tools/quor/signal_stats.h"
#include "tools/tests/test_support.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <limits>
#include <sstream>

namespace quor::cli {
namespace {

constexpr double kRate = 44100.0;

// Feeds the gate a signal in chunks and collects what it lets through.
struct GateRun {
    std::vector<float> written;
    bool ended = false;
    std::int64_t tail = 0;
    bool limited = false;
};

GateRun runGate(const std::vector<float>& signal, int chunk, std::int64_t hold, std::int64_t limit) {
    TailGate gate(1, hold, limit, chunk);
    MemorySink sink(1);
    GateRun run;
    for (std::size_t start = 0; start < signal.size() && !run.ended;
         start += static_cast<std::size_t>(chunk)) {
        const int n =
            static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(chunk), signal.size() - start));
        const float* channels[1] = {signal.data() + start};
        run.ended = gate.push(channels, n, sink);
    }
    run.written = sink.data[0];
    run.tail = gate.tailFrames();
    run.limited = gate.reachedLimit();
    return run;
}

TEST(TailGate, EndsOnTheLastAudibleSampleOnceTheOutputStaysQuiet) {
    std::vector<float> decay(1000, 0.0f);
    for (int i = 0; i < 300; ++i)
        decay[static_cast<std::size_t>(i)] = 0.5f * std::pow(0.97f, static_cast<float>(i));
    decay[450] = -2e-6f; // a late blip above -120 dBFS, after a quiet gap shorter than the hold
    for (int chunk : {1, 7, 64, 1000}) {
        const GateRun run = runGate(decay, chunk, 200, 100000);
        EXPECT_TRUE(run.ended) << chunk;
        EXPECT_FALSE(run.limited);
        ASSERT_EQ(run.tail, 451) << chunk;
        // Quiet frames inside the tail are kept as they were, not zeroed.
        EXPECT_EQ(std::vector<float>(run.written.begin(), run.written.end()),
                  std::vector<float>(decay.begin(), decay.begin() + 451));
    }
    // Silence from the start: no tail at all. At the threshold counts as audible.
    EXPECT_EQ(runGate(std::vector<float>(500, 9.9e-7f), 64, 200, 100000).tail, 0);
    EXPECT_EQ(runGate(std::vector<float>(500, 0.0f), 64, 200, 100000).written.size(), 0u);
    std::vector<float> edge(500, 0.0f);
    edge[10] = kSilenceThreshold;
    EXPECT_EQ(runGate(edge, 64, 200, 100000).tail, 11);
}

TEST(TailGate, StopsAtTheLimitWhenTheOutputNeverFallsQuiet) {
    const GateRun hum = runGate(std::vector<float>(5000, 0.1f), 64, 200, 3000);
    EXPECT_TRUE(hum.ended && hum.limited);
    EXPECT_EQ(hum.tail, 3000);
    EXPECT_EQ(hum.written.size(), 3000u);
    // NaN is not silence.
    const GateRun nan =
        runGate(std::vector<float>(5000, std::numeric_limits<float>::quiet_NaN()), 64, 200, 1000);
    EXPECT_TRUE(nan.limited);
    EXPECT_EQ(nan.tail, 1000);
}

TEST(TailSetting, AcceptsAutoOrSeconds) {
    EXPECT_TRUE(parseTail("auto").automatic);
    EXPECT_DOUBLE_EQ(parseTail("2.5").seconds, 2.5);
    for (const char* bad : {"", "Auto", "-1", "1s", "nan", "1e9"})
        EXPECT_THROW(parseTail(bad), Error) << bad;
}

struct Rendered {
    RenderResult result;
    std::vector<std::vector<float>> out;
};

Rendered renderDelay(const std::vector<float>& l, const std::vector<float>& r, int delayFrames, int block,
                     RenderSettings settings, float feedback = 0.0f, const std::vector<float>* side = nullptr,
                     float sideMix = 0.0f) {
    auto plugin = Plugin::load(test::testModule("delay"));
    plugin->configure(kRate, block);
    plugin->setParameter(0, static_cast<float>(delayFrames) / 8192.0f);
    plugin->setParameter(1, sideMix);
    plugin->setParameter(2, feedback);
    settings.blockSize = block;
    MemorySource input(l, r);
    std::unique_ptr<MemorySource> sidechain = side ? std::make_unique<MemorySource>(*side, *side) : nullptr;
    MemorySink sink(2);
    Rendered rendered;
    rendered.result = render(*plugin, input, sidechain.get(), sink, settings, nullptr, nullptr);
    rendered.out = sink.data;
    return rendered;
}

// The delay reports its latency only from inside its first processing call,
// as a look-ahead limiter does; 51 samples is a limiter's default look-ahead
// at 44.1 kHz, 4410 its 100 ms compensation mode, longer than several blocks.
TEST(LatencyCompensation, TrimsTheReportedDelayFromTheStart) {
    const std::vector<float> l = test::noise(10000, 1), r = test::noise(10000, 2);
    for (int delay : {51, 4410})
        for (int block : {1, 32, 512, 4096}) {
            if (block == 1 && delay > 100) continue;
            const Rendered x = renderDelay(l, r, delay, block, {});
            EXPECT_EQ(x.result.latency, delay);
            EXPECT_FALSE(x.result.latencyChanged);
            EXPECT_EQ(x.out[0], l) << "delay " << delay << " block " << block;
            EXPECT_EQ(x.out[1], r) << "delay " << delay << " block " << block;
        }
}

TEST(LatencyCompensation, CanBeSwitchedOff) {
    const std::vector<float> l = test::noise(3000, 3), r = test::noise(3000, 4);
    RenderSettings settings;
    settings.compensateLatency = false;
    const Rendered x = renderDelay(l, r, 51, 256, settings);
    EXPECT_EQ(x.result.reportedLatency, 51);
    ASSERT_EQ(x.out[0].size(), l.size());
    for (std::size_t i = 0; i < l.size(); ++i)
        ASSERT_EQ(x.out[0][i], i < 51 ? 0.0f : l[i - 51]) << i;
    // The delayed end of the input is tail now: a fixed tail brings it back.
    settings.tail.seconds = 51 / kRate;
    const Rendered y = renderDelay(l, r, 51, 256, settings);
    ASSERT_EQ(y.out[1].size(), r.size() + 51);
    EXPECT_EQ(std::vector<float>(y.out[1].begin() + 51, y.out[1].end()), r);
}

TEST(Tail, FixedAndAutomaticTailsFollowTheEchoes) {
    // One click at the very end; echoes every 1000 samples, each 0.95 * 0.5 of
    // the one before: the 18th is the last at or above -120 dBFS.
    std::vector<float> l(2000, 0.0f);
    l.back() = 1.0f;
    RenderSettings settings;
    settings.tail.seconds = 0.5;
    const Rendered fixed = renderDelay(l, l, 1000, 512, settings, 0.5f);
    EXPECT_EQ(fixed.out[0].size(), 2000u + 22050u);
    EXPECT_EQ(fixed.result.tailFrames, 22050);

    settings.tail = parseTail("auto");
    const Rendered automatic = renderDelay(l, l, 1000, 512, settings, 0.5f);
    int lastEcho = 0;
    for (double level = 1.0; level * 0.475 >= kSilenceThreshold; level *= 0.475)
        ++lastEcho;
    EXPECT_EQ(lastEcho, 18);
    EXPECT_EQ(automatic.result.tailFrames, lastEcho * 1000);
    EXPECT_FALSE(automatic.result.tailLimited);
    ASSERT_EQ(automatic.out[0].size(), 2000u + static_cast<std::size_t>(lastEcho) * 1000);
    EXPECT_GE(std::fabs(automatic.out[0].back()), kSilenceThreshold);
    EXPECT_FLOAT_EQ(automatic.out[0][1999 + 1000], 0.475f);
}

TEST(Sidechain, ReachesInputsThreeAndFour) {
    const std::vector<float> l = test::noise(4000, 5), r = test::noise(4000, 6), side = test::noise(4000, 7);
    const Rendered x = renderDelay(l, r, 0, 512, {}, 0.0f, &side, 1.0f);
    for (std::size_t i = 0; i < l.size(); ++i) {
        ASSERT_EQ(x.out[0][i], l[i] + side[i]);
        ASSERT_EQ(x.out[1][i], r[i] + side[i]);
    }
}

// Reference: the same signal straight through a plug-in with the tests'
// own host, in blocks of the same size.
std::vector<std::vector<float>> processDirectly(const std::string& effect, const test::Audio& in, int block) {
    quor::test::TestHost host(effect);
    host.start(static_cast<float>(in.sampleRate), block);
    const std::vector<float>& l = in.channels[0];
    const std::vector<float>& r = in.channels.size() > 1 ? in.channels[1] : in.channels[0];
    std::vector<std::vector<float>> out(2);
    for (std::size_t start = 0; start < l.size(); start += static_cast<std::size_t>(block)) {
        std::vector<float> bl(static_cast<std::size_t>(block), 0.0f), br(bl);
        const std::size_t n = std::min(l.size() - start, bl.size());
        std::copy_n(l.begin() + static_cast<std::ptrdiff_t>(start), n, bl.begin());
        std::copy_n(r.begin() + static_cast<std::ptrdiff_t>(start), n, br.begin());
        host.processReplacing(bl, br);
        out[0].insert(out[0].end(), bl.begin(), bl.begin() + static_cast<std::ptrdiff_t>(n));
        out[1].insert(out[1].end(), br.begin(), br.begin() + static_cast<std::ptrdiff_t>(n));
    }
    return out;
}

void expectFileRenderMatchesDirectProcessing(const std::string& effect, int channels) {
    const std::string path = quor::test::pluginPath(effect);
    if (access(path.c_str(), R_OK) != 0) GTEST_SKIP() << path << " is not built";
    test::ScratchDir dir;
    test::Audio in;
    in.sampleRate = 48000;
    for (int c = 0; c < channels; ++c)
        in.channels.push_back(test::noise(30011, 10u + static_cast<unsigned>(c)));
    test::writeAudio(dir.file("in.wav"), in);

    RenderOptions options;
    options.input = dir.file("in.wav");
    options.output = dir.file("out.wav");
    options.plugin.path = path;
    options.progress = false;
    std::ostringstream summary;
    EXPECT_EQ(runRender(options, summary), 0);
    EXPECT_NE(summary.str().find("output"), std::string::npos);

    const test::Audio out = test::readAudio(dir.file("out.wav"));
    const auto expected = processDirectly(effect, in, options.blockSize);
    EXPECT_EQ(out.sampleRate, 48000);
    ASSERT_EQ(out.channels.size(), 2u);
    EXPECT_EQ(out.channels[0], expected[0]);
    EXPECT_EQ(out.channels[1], expected[1]);
}

TEST(FileRender, TremoloMatchesDirectProcessing) {
    expectFileRenderMatchesDirectProcessing("Tremolo", 2);
    expectFileRenderMatchesDirectProcessing("Tremolo", 1);
}

TEST(FileRender, ReverbMatchesDirectProcessing) {
    expectFileRenderMatchesDirectProcessing("Reverb", 2);
}

TEST(FileRender, KeepsTheInputFormatUnlessTheNameSaysOtherwise) {
    test::ScratchDir dir;
    test::Audio in;
    in.sampleRate = 22050;
    in.channels = {test::noise(5000, 20), test::noise(5000, 21)};
    test::writeAudio(dir.file("in.flac"), in, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    for (const auto& [name, format] :
         std::vector<std::pair<std::string, int>>{{"same.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
                                                  {"noextension", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
                                                  {"other.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
                                                  {"other.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS}}) {
        RenderOptions options;
        options.input = dir.file("in.flac");
        options.output = dir.file(name);
        options.plugin.path = test::testModule("delay");
        options.progress = false;
        std::ostringstream summary;
        runRender(options, summary);
        SF_INFO info{};
        SNDFILE* f = sf_open(options.output.c_str(), SFM_READ, &info);
        ASSERT_NE(f, nullptr) << name;
        sf_close(f);
        EXPECT_EQ(info.format, format) << name;
        EXPECT_EQ(info.samplerate, 22050);
        EXPECT_EQ(info.frames, 5000);
    }
}

TEST(SignalStats, MeasuresPeakRmsAndLoudness) {
    // A full-scale 997 Hz sine reads -3.0 dBFS RMS, and 0 LUFS on two
    // channels; a mono signal is measured as dual mono, so it reads the same.
    const int rate = 48000;
    std::vector<float> sine(static_cast<std::size_t>(rate) * 3);
    for (std::size_t i = 0; i < sine.size(); ++i)
        sine[i] = static_cast<float>(std::sin(2.0 * M_PI * 997.0 * static_cast<double>(i) / rate));
    SignalStats stereo(2, rate, 1000);
    const float* channels[2] = {sine.data(), sine.data()};
    stereo.add(channels, static_cast<int>(sine.size())); // more than its buffer holds at once
    EXPECT_NEAR(toDecibels(stereo.peak()), 0.0, 0.01);
    EXPECT_NEAR(toDecibels(stereo.rms()), -3.01, 0.01);
    EXPECT_NEAR(stereo.loudness(), 0.0, 0.1);
    SignalStats mono(1, rate, 1000);
    mono.add(channels, static_cast<int>(sine.size()));
    EXPECT_NEAR(mono.loudness(), stereo.loudness(), 0.01);

    // Non-finite samples are counted, not measured.
    std::vector<float> bad{0.5f, std::numeric_limits<float>::infinity(),
                           std::numeric_limits<float>::quiet_NaN()};
    SignalStats odd(1, rate, 16);
    const float* one[1] = {bad.data()};
    odd.add(one, 3);
    EXPECT_EQ(odd.nonFinite(), 2);
    EXPECT_EQ(odd.peak(), 0.5);
    EXPECT_TRUE(std::isinf(odd.loudness()));
}

} // namespace
} // namespace quor::cli
