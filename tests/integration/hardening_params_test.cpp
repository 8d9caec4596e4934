// Parameter abuse: values a broken automation lane or script may send, indexes
// no plug-in has, and every corner of the parameter space, for every built
// effect. The plug-in must keep every value in its range and every output
// finite.
#include "tests/integration/hardening_host.h"

namespace quor::test::hardening {
namespace {

class HardeningParams : public ::testing::TestWithParam<std::string> {};

TEST_P(HardeningParams, NonFiniteAndOutOfRangeValuesFollowTheClampRules) {
    TestHost host(GetParam());
    ASSERT_TRUE(host.loaded());
    host.start(48000.0f);
    const float inf = std::numeric_limits<float>::infinity();
    for (VstInt32 i = 0; i < host.effect()->numParams; ++i) {
        SCOPED_TRACE("parameter " + std::to_string(i) + " " + host.paramName(i));
        host.setParam(i, 1.0f);
        const float top = host.getParam(i);
        host.setParam(i, 0.0f);
        const float bottom = host.getParam(i);
        host.setParam(i, 0.3f);
        const float inner = host.getParam(i);

        host.setParam(i, std::numeric_limits<float>::quiet_NaN());
        EXPECT_EQ(host.getParam(i), inner) << "NaN must leave the value alone";
        host.setParam(i, -std::numeric_limits<float>::quiet_NaN());
        EXPECT_EQ(host.getParam(i), inner);

        host.setParam(i, inf);
        EXPECT_EQ(host.getParam(i), top);
        host.setParam(i, -inf);
        EXPECT_EQ(host.getParam(i), bottom);
        host.setParam(i, 1e30f);
        EXPECT_EQ(host.getParam(i), top);
        host.setParam(i, -1e30f);
        EXPECT_EQ(host.getParam(i), bottom);
        EXPECT_TRUE(std::isfinite(top) && std::isfinite(bottom) && std::isfinite(inner));
    }
}

// A subnormal value from the host is stored as the number it stands for,
// zero, so that it never reaches a sample loop as a slow operand.
TEST_P(HardeningParams, SubnormalValuesAreNeverStored) {
    TestHost host(GetParam());
    ASSERT_TRUE(host.loaded());
    host.start(48000.0f);
    const VstInt32 n = host.effect()->numParams;
    for (float tiny : {1e-40f, -1e-40f, std::numeric_limits<float>::denorm_min(), 1e-39f}) {
        for (VstInt32 i = 0; i < n; ++i)
            host.setParam(i, tiny);
        const std::vector<std::uint8_t> saved = host.chunk();
        const std::size_t pars = parsOffset(saved);
        for (VstInt32 i = 0; i < n; ++i) {
            const float stored = readFloat(saved, pars + 16 + 4 * static_cast<std::size_t>(i));
            EXPECT_NE(std::fpclassify(stored), FP_SUBNORMAL) << "parameter " << i << " from " << tiny;
            EXPECT_NE(std::fpclassify(host.getParam(i)), FP_SUBNORMAL) << "parameter " << i;
        }
    }
}

TEST_P(HardeningParams, IndexesOutsideTheTableDoNothing) {
    TestHost host(GetParam());
    ASSERT_TRUE(host.loaded());
    host.start(44100.0f);
    const VstInt32 n = host.effect()->numParams;
    const std::vector<std::uint8_t> before = host.chunk();

    for (VstInt32 index : badIndexes(n)) {
        SCOPED_TRACE("index " + std::to_string(index));
        for (float v : {0.0f, 0.7f, 1.0f, std::numeric_limits<float>::infinity()})
            host.setParam(index, v);
        EXPECT_EQ(host.getParam(index), 0.0f);

        for (VstInt32 opcode : {effGetParamDisplay, effGetParamName, effGetParamLabel}) {
            char text[256];
            std::memset(text, 'x', sizeof text);
            host.dispatch(opcode, index, 0, text);
            EXPECT_EQ(text[0], 0) << "opcode " << opcode << " must answer an empty string";
        }
        VstParameterProperties props;
        std::memset(&props, 0x5a, sizeof props);
        EXPECT_EQ(host.dispatch(effGetParameterProperties, index, 0, &props), 0);
        EXPECT_EQ(props.flags, 0x5a5a5a5a) << "properties of a missing parameter must stay untouched";
        EXPECT_EQ(host.dispatch(effCanBeAutomated, index), 0);
    }
    EXPECT_EQ(host.chunk(), before) << "a bad index changed the state";
}

// A long random mix of valid and absurd values and indexes, with audio in
// between: every read-back stays in 0..1 and every output sample finite.
TEST_P(HardeningParams, StormOfExtremeValuesKeepsEveryOutputFinite) {
    TestHost host(GetParam());
    ASSERT_TRUE(host.loaded());
    host.start(48000.0f);
    AEffect* fx = host.effect();
    const VstInt32 n = fx->numParams;
    const std::vector<float> extremes = extremeValues();
    const std::vector<VstInt32> bad = badIndexes(n);
    Noise noise(seedFor(GetParam(), 1));
    const int blockSizes[] = {1, 3, 64, 257};

    for (int round = 0; round < 600; ++round) {
        VstInt32 index;
        if (n == 0 || noise.below(8) == 0)
            index = bad[noise.below(static_cast<std::uint32_t>(bad.size()))];
        else
            index = static_cast<VstInt32>(noise.below(static_cast<std::uint32_t>(n)));
        const float value = noise.below(2)
                                ? extremes[noise.below(static_cast<std::uint32_t>(extremes.size()))]
                                : noise.unit();
        host.setParam(index, value);
        if (round % 8 != 7) continue;

        Block block(fx->numInputs, blockSizes[noise.below(4)]);
        block.fillNoise(noise, 1.0f);
        block.processReplacing(fx);
        ASSERT_EQ(firstNonFinite(block), -1)
            << "round " << round << " after index " << index << " = " << value;
        for (VstInt32 i = 0; i < n; ++i) {
            const float v = host.getParam(i);
            ASSERT_TRUE(v >= 0.0f && v <= 1.0f) << "parameter " << i << " reads " << v;
            const std::string display = host.paramDisplay(i);
            ASSERT_FALSE(display.empty()) << "parameter " << i;
            ASSERT_LT(display.size(), 64u);
        }
    }
}

// Every parameter at its minimum, its maximum, alternating, and random mixes
// of both edges, at the lowest, a common and the highest supported rate.
TEST_P(HardeningParams, EveryCornerOfTheParameterSpaceStaysFinite) {
    TestHost host(GetParam());
    ASSERT_TRUE(host.loaded());
    AEffect* fx = host.effect();
    host.dispatch(effOpen);
    Noise noise(seedFor(GetParam(), 2));
    for (float rate : {8000.0f, 44100.0f, 384000.0f}) {
        host.suspend();
        host.dispatch(effSetSampleRate, 0, 0, nullptr, rate);
        host.resume();
        for (int kind = 0; kind < 24; ++kind) {
            const std::vector<float> setting = cornerSetting(fx->numParams, kind, noise);
            setAll(host, setting);
            for (int b = 0; b < 3; ++b) {
                Block block(fx->numInputs, 1024);
                block.fillNoise(noise, b == 2 ? 0.0f : 1.0f);
                if (b == 1) block.in[0][0] = block.in[1][0] = 1.0f; // a full-scale click
                block.processReplacing(fx);
                ASSERT_EQ(firstNonFinite(block), -1)
                    << "rate " << rate << ", setting " << kind << ", block " << b;
            }
        }
    }
}

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(HardeningParams);
INSTANTIATE_TEST_SUITE_P(Effects, HardeningParams, ::testing::ValuesIn(builtEffects()), effectTestName);

} // namespace
} // namespace quor::test::hardening
