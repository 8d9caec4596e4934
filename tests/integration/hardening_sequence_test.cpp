// Call sequences real hosts make, and the ways they hand over audio: scans
// that never set a rate, suspends without a resume, blocks larger than
// announced, zero-length blocks, null side-chains, in-place and accumulating
// calls, and audio before any sample rate.
#include "tests/integration/hardening_host.h"

namespace quor::test::hardening {

bool isDeterministic(const std::string& effectName) {
    TestHost a(effectName);
    TestHost b(effectName);
    if (!a.loaded() || !b.loaded()) return false;
    a.start(44100.0f);
    b.start(44100.0f);
    Noise na(7);
    Noise nb(7);
    for (int k = 0; k < 4; ++k) {
        Block x(a.effect()->numInputs, 512);
        Block y(b.effect()->numInputs, 512);
        x.fillNoise(na, 0.5f);
        y.fillNoise(nb, 0.5f);
        x.processReplacing(a.effect());
        y.processReplacing(b.effect());
        if (x.out != y.out) return false;
    }
    return true;
}

namespace {

class HardeningSequences : public ::testing::TestWithParam<std::string> {};

// A plug-in scan: open, every identity and parameter question, close, with
// no sample rate ever set. Then every opcode with a generous buffer and with
// no buffer at all.
TEST_P(HardeningSequences, ScanWithoutSampleRateAnswersEverything) {
    TestHost host(GetParam());
    ASSERT_TRUE(host.loaded());
    AEffect* fx = host.effect();
    host.dispatch(effOpen);
    EXPECT_EQ(host.text(effGetEffectName), "Quor " + GetParam());
    EXPECT_EQ(host.text(effGetProductString), GetParam());
    EXPECT_EQ(host.text(effGetVendorString), "mornvale");
    EXPECT_EQ(host.dispatch(effGetVstVersion), 2400);
    EXPECT_EQ(host.dispatch(effGetVendorVersion), 1030);
    EXPECT_EQ(host.dispatch(effGetPlugCategory), 1);
    for (const char* query : {"receiveVstEvents", "bypass", "sendVstMidiEvent", "", "x"})
        EXPECT_EQ(host.dispatch(effCanDo, 0, 0, const_cast<char*>(query)), -1);
    for (VstInt32 i = 0; i < fx->numParams; ++i) {
        EXPECT_FALSE(host.paramName(i).empty());
        EXPECT_FALSE(host.paramDisplay(i).empty());
        EXPECT_TRUE(std::isfinite(host.getParam(i)));
        VstParameterProperties props{};
        EXPECT_EQ(host.dispatch(effGetParameterProperties, i, 0, &props), 1);
    }
    for (VstInt32 pin = 0; pin < fx->numInputs + 2; ++pin) {
        VstPinProperties props{};
        EXPECT_EQ(host.dispatch(effGetInputProperties, pin, 0, &props), 1);
        EXPECT_EQ(host.dispatch(effGetOutputProperties, pin, 0, &props), 1);
    }
    EXPECT_FALSE(host.chunk(false).empty());
    EXPECT_FALSE(host.chunk(true).empty());

    std::vector<std::uint8_t> scratch(4096, 0);
    for (VstInt32 opcode = 0; opcode < 128; ++opcode) {
        if (opcode == effClose) continue;
        SCOPED_TRACE("opcode " + std::to_string(opcode));
        std::fill(scratch.begin(), scratch.end(), 0);
        host.dispatch(opcode, 0, 0, scratch.data(), 0.0f);
        host.dispatch(opcode, 0, 0, nullptr, 0.0f);
        host.dispatch(opcode, -1, -1, nullptr, -1.0f);
    }
    // Pin properties name the pin by number, whatever number the host asks for.
    for (VstInt32 pin : {std::numeric_limits<VstInt32>::max(), std::numeric_limits<VstInt32>::min(), -1}) {
        VstPinProperties props{};
        host.dispatch(effGetInputProperties, pin, 0, &props);
        EXPECT_EQ(std::string(props.label), "in " + std::to_string(static_cast<long long>(pin) + 1));
        host.dispatch(effGetOutputProperties, pin, 0, &props);
        EXPECT_EQ(std::string(props.label), "out " + std::to_string(static_cast<long long>(pin) + 1));
    }
    host.close();
}

// Before any sample rate, audio passes unchanged; a rate that is no rate
// changes nothing.
TEST_P(HardeningSequences, AudioBeforeAnyRatePassesThrough) {
    TestHost host(GetParam());
    ASSERT_TRUE(host.loaded());
    AEffect* fx = host.effect();
    host.dispatch(effOpen);
    host.resume();
    Noise noise(seedFor(GetParam(), 8));
    const float ignored[] = {0.0f,
                             -0.0f,
                             -44100.0f,
                             std::numeric_limits<float>::quiet_NaN(),
                             std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity()};
    for (float rate : ignored) {
        host.dispatch(effSetSampleRate, 0, 0, nullptr, rate);
        Block block(fx->numInputs, 300);
        block.fillNoise(noise, 1.0f);
        block.processReplacing(fx);
        EXPECT_EQ(block.out[0], block.in[0]) << "rate " << rate;
        EXPECT_EQ(block.out[1], block.in[1]) << "rate " << rate;

        block.fillOutputs(0.25f);
        block.processAccumulating(fx);
        for (int c = 0; c < 2; ++c)
            for (int k = 0; k < block.frames; ++k)
                ASSERT_EQ(block.out[c][k], 0.25f + block.in[c][k]);
    }
    // The first real rate arrives while resumed.
    host.dispatch(effSetSampleRate, 0, 0, nullptr, 44100.0f);
    Block block(fx->numInputs, 300);
    block.fillNoise(noise, 1.0f);
    block.processReplacing(fx);
    EXPECT_EQ(firstNonFinite(block), -1);
}

// The host protocol's odd corners, in one life of an instance.
TEST_P(HardeningSequences, OddLifecyclesKeepWorking) {
    TestHost host(GetParam());
    ASSERT_TRUE(host.loaded());
    AEffect* fx = host.effect();
    Noise noise(seedFor(GetParam(), 9));
    auto play = [&](int frames, const char* what) {
        Block block(fx->numInputs, frames);
        block.fillNoise(noise, 1.0f);
        block.processReplacing(fx);
        ASSERT_EQ(firstNonFinite(block), -1) << what;
    };

    host.suspend(); // a suspend that follows no resume
    host.dispatch(effOpen);
    host.dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    host.dispatch(effSetBlockSize, 0, 64);
    host.resume();
    host.resume(); // resumed twice
    play(64, "after a double resume");
    play(8192, "block far larger than announced");
    play(65536, "a block of 65536 frames");
    play(4096, "block larger than announced");
    host.dispatch(effSetBlockSize, 0, -5);
    host.dispatch(effSetBlockSize, 0, 0);
    play(511, "after a nonsense block size");

    // Every parameter touched, then a bank chunk restored while running.
    TestHost other(GetParam());
    ASSERT_TRUE(other.loaded());
    setAll(other, cornerSetting(fx->numParams, 5, noise));
    const std::vector<std::uint8_t> bank = other.chunk(false);
    for (VstInt32 i = 0; i < fx->numParams; ++i) {
        host.setParam(i, noise.unit());
        play(16, "while parameters change");
    }
    host.setChunk(bank, false);
    play(512, "after a bank chunk while resumed");
    EXPECT_EQ(host.chunk(false), bank);

    host.suspend();
    host.suspend();
    play(128, "processing while suspended");
    host.dispatch(effSetSampleRate, 0, 0, nullptr, 22050.0f);
    host.resume();
    play(3, "after a rate change while suspended");
    host.dispatch(effSetProgram, 0, -1);
    host.dispatch(effSetProgram, 0, 1000);
    play(2, "after program changes");
    host.suspend();
    host.close();
}

TEST_P(HardeningSequences, EmptyBlocksAndMissingBuffersAreHarmless) {
    TestHost host(GetParam());
    ASSERT_TRUE(host.loaded());
    AEffect* fx = host.effect();
    host.start(44100.0f);
    Block block(fx->numInputs, 16);
    Noise noise(1);
    block.fillNoise(noise, 1.0f);
    for (VstInt32 frames : {0, -1, std::numeric_limits<VstInt32>::min()}) {
        block.fillOutputs(0.5f);
        fx->processReplacing(fx, block.inPtrs.data(), block.outPtrs.data(), frames);
        fx->process(fx, block.inPtrs.data(), block.outPtrs.data(), frames);
        for (const auto& c : block.out)
            for (float y : c)
                ASSERT_EQ(y, 0.5f) << frames << " frames touched the output";
    }
    fx->processReplacing(fx, nullptr, block.outPtrs.data(), 16);
    fx->processReplacing(fx, block.inPtrs.data(), nullptr, 16);
    fx->process(fx, nullptr, nullptr, 16);

    // A missing output channel: nothing is written anywhere.
    std::vector<float*> oneOut{nullptr, block.out[1].data()};
    block.fillOutputs(0.5f);
    fx->processReplacing(fx, block.inPtrs.data(), oneOut.data(), 16);
    EXPECT_EQ(block.out[1], std::vector<float>(16, 0.5f));

    // A missing main input reads as silence.
    std::vector<float*> noLeft(block.inPtrs);
    noLeft[0] = nullptr;
    fx->processReplacing(fx, noLeft.data(), block.outPtrs.data(), 16);
    EXPECT_EQ(firstNonFinite(block), -1);
}

TEST_P(HardeningSequences, NullSideChainFallsBackSafely) {
    TestHost host(GetParam());
    ASSERT_TRUE(host.loaded());
    AEffect* fx = host.effect();
    if (fx->numInputs <= 2) GTEST_SKIP() << "no side-chain";
    host.start(48000.0f);
    Noise noise(seedFor(GetParam(), 10));
    for (int round = 0; round < 16; ++round) {
        setAll(host, cornerSetting(fx->numParams, round, noise));
        Block block(fx->numInputs, 777);
        block.fillNoise(noise, 1.0f);
        for (std::size_t c = 2; c < block.inPtrs.size(); ++c)
            if (round & (1 << (c - 2)) || round >= 4) block.inPtrs[c] = nullptr;
        block.processReplacing(fx);
        ASSERT_EQ(firstNonFinite(block), -1) << "round " << round;
        block.fillOutputs(0.0f);
        block.processAccumulating(fx);
        ASSERT_EQ(firstNonFinite(block), -1) << "round " << round;
    }
}

// In place, per-channel in place and accumulating calls give exactly what the
// plain replacing call gives (for effects without a random source).
TEST_P(HardeningSequences, InPlaceAndAccumulatingMatchReplacing) {
    if (!isDeterministic(GetParam())) GTEST_SKIP() << "output depends on a shared random source";
    enum Mode { kInPlaceArrays, kInPlaceChannels, kAccumulate, kAccumulateSameArrays, kModeCount };
    Noise settings(seedFor(GetParam(), 11));
    for (int trial = 0; trial < 4; ++trial) {
        TestHost reference(GetParam());
        ASSERT_TRUE(reference.loaded());
        const std::vector<float> setting = cornerSetting(reference.effect()->numParams, trial + 4, settings);
        reference.start(44100.0f);
        setAll(reference, setting);
        std::vector<std::unique_ptr<TestHost>> hosts;
        for (int m = 0; m < kModeCount; ++m) {
            hosts.emplace_back(new TestHost(GetParam()));
            hosts.back()->start(44100.0f);
            setAll(*hosts.back(), setting);
        }
        Noise noise(seedFor(GetParam(), 12 + static_cast<std::uint32_t>(trial)));
        const int inputs = reference.effect()->numInputs;
        for (int b = 0; b < 6; ++b) {
            const int frames = b == 0 ? 1 : 300 + b;
            Block ref(inputs, frames);
            ref.fillNoise(noise, 0.8f);
            Block original = ref;
            ref.processReplacing(reference.effect());
            for (int m = 0; m < kModeCount; ++m) {
                SCOPED_TRACE("trial " + std::to_string(trial) + ", block " + std::to_string(b) + ", mode " +
                             std::to_string(m));
                AEffect* fx = hosts[static_cast<std::size_t>(m)]->effect();
                Block block = original;
                block.inPtrs.clear();
                for (auto& c : block.in)
                    block.inPtrs.push_back(c.data());
                block.outPtrs = {block.out[0].data(), block.out[1].data()};
                switch (m) {
                case kInPlaceArrays: {
                    // One array for both: inputs are read and overwritten in place.
                    std::vector<float*> both(block.inPtrs);
                    fx->processReplacing(fx, both.data(), both.data(), frames);
                    block.out[0] = block.in[0];
                    block.out[1] = block.in[1];
                    break;
                }
                case kInPlaceChannels: {
                    std::vector<float*> outs{block.in[0].data(), block.in[1].data()};
                    fx->processReplacing(fx, block.inPtrs.data(), outs.data(), frames);
                    block.out[0] = block.in[0];
                    block.out[1] = block.in[1];
                    break;
                }
                case kAccumulate:
                    for (auto& c : block.out)
                        for (int k = 0; k < frames; ++k)
                            c[static_cast<std::size_t>(k)] = 0.001f * static_cast<float>(k % 17);
                    block.processAccumulating(fx);
                    for (auto& c : block.out)
                        for (int k = 0; k < frames; ++k)
                            c[static_cast<std::size_t>(k)] -= 0.001f * static_cast<float>(k % 17);
                    break;
                case kAccumulateSameArrays: {
                    std::vector<float*> both(block.inPtrs);
                    fx->process(fx, both.data(), both.data(), frames);
                    block.out[0] = block.in[0];
                    block.out[1] = block.in[1];
                    break;
                }
                }
                if (m == kAccumulate) {
                    // (p + y) - p may differ from y in the last place.
                    for (int c = 0; c < 2; ++c)
                        for (int k = 0; k < frames; ++k)
                            ASSERT_NEAR(block.out[c][k], ref.out[c][k],
                                        1e-6f + 1e-6f * std::fabs(ref.out[c][k]));
                } else {
                    ASSERT_EQ(block.out, ref.out);
                }
            }
        }
    }
}

// Whatever a host feeds in, a reset (suspend, resume) makes the effect forget
// it: finite input afterwards gives finite output again.
TEST_P(HardeningSequences, NonFiniteInputIsForgottenAfterReset) {
    TestHost host(GetParam());
    ASSERT_TRUE(host.loaded());
    AEffect* fx = host.effect();
    host.start(48000.0f);
    Noise noise(seedFor(GetParam(), 13));
    const float poison[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(), 1e30f, 1e-40f};
    for (float bad : poison) {
        Block block(fx->numInputs, 256);
        block.fillNoise(noise, 1.0f);
        for (auto& c : block.in)
            c[100] = bad;
        block.processReplacing(fx);
        host.suspend();
        host.resume();
        for (int b = 0; b < 4; ++b) {
            Block after(fx->numInputs, 1024);
            after.fillNoise(noise, 1.0f);
            after.processReplacing(fx);
            ASSERT_EQ(firstNonFinite(after), -1) << "after input " << bad << ", block " << b;
        }
    }
}

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(HardeningSequences);
INSTANTIATE_TEST_SUITE_P(Effects, HardeningSequences, ::testing::ValuesIn(builtEffects()), effectTestName);

// An instance created without a host callback has no effect; it must still
// answer a scan and pass audio through.
TEST(HardeningSequencesWithoutHost, InstanceWithoutCallbackPassesAudioThrough) {
    for (const std::string& name : builtEffects()) {
        SCOPED_TRACE(name);
        TestHost host(name, false);
        ASSERT_TRUE(host.loaded());
        AEffect* fx = host.effect();
        EXPECT_EQ(fx->numParams, 0);
        host.start(44100.0f);
        host.setParam(0, 0.5f);
        EXPECT_EQ(host.getParam(0), 0.0f);
        EXPECT_EQ(host.paramDisplay(0), "");
        EXPECT_EQ(host.dispatch(effGetChunk, 0, 0, nullptr), 0);
        Block block(2, 64);
        Noise noise(3);
        block.fillNoise(noise, 1.0f);
        block.processReplacing(fx);
        EXPECT_EQ(block.out[0], block.in[0]);
        EXPECT_EQ(block.out[1], block.in[1]);
    }
}

} // namespace
} // namespace quor::test::hardening
