// Sample rates from telephone to the highest studio rates and beyond, every
// block size a host may use, rate changes while suspended, and the long
// silence after loud material where recursive states decay towards zero.
#include "tests/integration/hardening_host.h"

namespace quor::test::hardening {
namespace {

class HardeningRates : public ::testing::TestWithParam<std::string> {};

const float kSupportedRates[] = {8000.0f,  11025.0f, 22050.0f,  44100.0f,  48000.0f,
                                 88200.0f, 96000.0f, 176400.0f, 192000.0f, 384000.0f};
const int kBlockSizes[] = {1, 2, 3, 64, 511, 4096, 8192};

void changeRate(const TestHost& host, float rate) {
    host.suspend();
    host.dispatch(effSetSampleRate, 0, 0, nullptr, rate);
    host.resume();
}

// One instance through every rate (changed while suspended) and every block
// size, loud and silent, at the default setting and at a random corner.
TEST_P(HardeningRates, EveryRateAndBlockSizeWorks) {
    TestHost host(GetParam());
    ASSERT_TRUE(host.loaded());
    AEffect* fx = host.effect();
    host.dispatch(effOpen);
    const std::vector<float> defaults = allParams(host);
    Noise noise(seedFor(GetParam(), 20));
    for (float rate : kSupportedRates) {
        changeRate(host, rate);
        for (int setting = 0; setting < 2; ++setting) {
            if (setting == 0)
                setAll(host, defaults);
            else
                setAll(host, cornerSetting(fx->numParams, 4 + static_cast<int>(noise.below(100)), noise));
            for (float amplitude : {1.0f, 0.0f}) {
                for (int frames : kBlockSizes) {
                    // Small blocks come in runs, as a host with a tiny buffer sends them.
                    const int repeats = frames < 64 ? 40 : 1;
                    for (int r = 0; r < repeats; ++r) {
                        Block block(fx->numInputs, frames);
                        block.fillNoise(noise, amplitude);
                        block.processReplacing(fx);
                        ASSERT_EQ(firstNonFinite(block), -1)
                            << "rate " << rate << ", setting " << setting << ", amplitude " << amplitude
                            << ", block " << frames;
                    }
                }
            }
        }
    }
}

// A rate change while suspended clears the signal state: what played before
// does not ring on at the new rate.
TEST_P(HardeningRates, RateChangeWhileSuspendedStartsClean) {
    TestHost host(GetParam());
    ASSERT_TRUE(host.loaded());
    AEffect* fx = host.effect();
    host.start(44100.0f);
    Noise noise(seedFor(GetParam(), 21));
    for (float rate : {96000.0f, 22050.0f, 384000.0f, 8000.0f}) {
        for (int b = 0; b < 8; ++b) {
            Block loud(fx->numInputs, 1024);
            loud.fillNoise(noise, 1.0f);
            loud.processReplacing(fx);
        }
        changeRate(host, rate);
        Block silent(fx->numInputs, 512);
        silent.processReplacing(fx);
        EXPECT_LT(outputPeak(silent), 1e-4f) << "tail survived the change to " << rate << " Hz";
    }
}

// Rates outside the supported band still run, as at the nearest edge of the
// band; rates that are not positive finite numbers are ignored.
TEST_P(HardeningRates, RatesOutsideTheBandRunAtTheNearestEdge) {
    const bool exact = isDeterministic(GetParam());
    struct Case {
        float hostRate;
        float runsAs;
    };
    const Case cases[] = {{1e-40f, 8000.0f},      {1.0f, 8000.0f},
                          {4000.0f, 8000.0f},     {7999.0f, 8000.0f},
                          {768000.0f, 768000.0f}, {1e6f, 768000.0f},
                          {1e9f, 768000.0f},      {std::numeric_limits<float>::max(), 768000.0f}};
    Noise settings(seedFor(GetParam(), 22));
    for (const Case& c : cases) {
        SCOPED_TRACE("host rate " + std::to_string(c.hostRate));
        TestHost odd(GetParam());
        TestHost edge(GetParam());
        ASSERT_TRUE(odd.loaded() && edge.loaded());
        odd.start(c.hostRate);
        edge.start(c.runsAs);
        const std::vector<float> setting = cornerSetting(odd.effect()->numParams, 4, settings);
        setAll(odd, setting);
        setAll(edge, setting);
        // Ignored rates in between change nothing.
        for (float ignored : {0.0f, -48000.0f, std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::infinity()})
            odd.dispatch(effSetSampleRate, 0, 0, nullptr, ignored);
        Noise na(5);
        Noise nb(5);
        for (int b = 0; b < 4; ++b) {
            Block x(odd.effect()->numInputs, 2048);
            Block y(edge.effect()->numInputs, 2048);
            x.fillNoise(na, 1.0f);
            y.fillNoise(nb, 1.0f);
            x.processReplacing(odd.effect());
            y.processReplacing(edge.effect());
            ASSERT_EQ(firstNonFinite(x), -1);
            if (exact) {
                ASSERT_EQ(x.out, y.out) << "block " << b;
            }
        }
    }
}

// After loud input, a long silence must settle to exact zeros or to a tiny
// level, never to subnormal numbers (which cost a host without
// denormals-are-zero dearly) and never to anything non-finite.
TEST_P(HardeningRates, LongSilenceAfterLoudInputSettles) {
    TestHost host(GetParam());
    ASSERT_TRUE(host.loaded());
    AEffect* fx = host.effect();
    const float rate = 44100.0f;
    host.start(rate);
    Noise noise(seedFor(GetParam(), 23));
    const int frames = 4096;
    const int loudBlocks = static_cast<int>(2.0f * rate) / frames;
    const int silentBlocks = static_cast<int>(30.0f * rate) / frames;
    float lastPeak = 0.0f;
    for (int b = 0; b < loudBlocks + silentBlocks; ++b) {
        Block block(fx->numInputs, frames);
        if (b < loudBlocks) block.fillNoise(noise, 1.0f);
        block.processReplacing(fx);
        ASSERT_EQ(firstNonFinite(block), -1) << "block " << b;
        ASSERT_FALSE(hasSubnormalOutput(block)) << "block " << b;
        lastPeak = outputPeak(block);
    }
    EXPECT_LT(lastPeak, 1e-5f) << "30 s after the input stopped";
}

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(HardeningRates);
INSTANTIATE_TEST_SUITE_P(Effects, HardeningRates, ::testing::ValuesIn(builtEffects()), effectTestName);

} // namespace
} // namespace quor::test::hardening
