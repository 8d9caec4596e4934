// Hostile hosts: the plug-in must keep every value in its range, read only the
// bytes it was given and go on producing finite audio. What reaches an effect
// is tried on every built effect; what the adapter decides alike for all of
// them, on the first one built.
#include "tests/integration/hardening_host.h"

#include <memory>

namespace quor::test::hardening {
namespace {

class Hardening : public EffectTest {};
class Adapter : public EffectTest {};

// Stored values must not be subnormal either: a slow operand in the sample loops.
void expectSaneState(const TestHost& host, Noise& noise, int frames) {
    const std::vector<std::uint8_t> saved = host.chunk();
    for (VstInt32 i = 0; i < host.effect()->numParams; ++i) {
        const float normalised = host.getParam(i),
                    stored = field<float>(saved, parsOffset(saved) + 16 + 4 * i);
        const std::string display = host.paramDisplay(i);
        ASSERT_TRUE(normalised >= 0.0f && normalised <= 1.0f && std::isfinite(stored) &&
                    std::fpclassify(stored) != FP_SUBNORMAL && !display.empty() && display.size() < 64)
            << "parameter " << i << " reads " << normalised << ", stored as " << stored << ", shows "
            << display;
    }
    ASSERT_TRUE(play(host, noise, frames).finite());
}

void mutate(std::vector<std::uint8_t>& bytes, Noise& noise) {
    if (bytes.size() < 16) return;
    const std::size_t pars = std::min<std::size_t>(parsOffset(bytes), bytes.size());
    switch (noise.below(6)) {
    case 0: // flipped bits
        for (std::uint32_t k = 1 + noise.below(8); k > 0; --k)
            bytes[noise.below(bytes.size())] ^= static_cast<std::uint8_t>(1u << noise.below(8));
        break;
    case 1: // cut short
        bytes.resize(noise.below(bytes.size()));
        break;
    case 2: { // an odd value in a size or count field: the chunk's, the name record's, the pars record's
        const std::size_t at = noise.pick(std::vector<std::size_t>{4, 12, pars + 4, pars + 12});
        if (at + 4 > bytes.size()) break;
        const std::uint32_t was = field<std::uint32_t>(bytes, at);
        setField(bytes, at,
                 noise.pick<std::uint32_t>({0, 7, 15, 16, was - 1, was + 1, 0x7FFFFFFF, 0xFFFFFFFF,
                                            static_cast<std::uint32_t>(noise())}));
        break;
    }
    case 3: // hostile stored values
        for (std::size_t at = pars + 16; at + 4 <= bytes.size(); at += 4)
            if (noise.below(2))
                setField(bytes, at, noise.pick(hostileValues()) * (noise.below(2) ? 1.0f : 1e9f));
        break;
    case 4: // "pars" before "name"
        if (pars > 8) std::rotate(bytes.begin() + 8, bytes.begin() + static_cast<long>(pars), bytes.end());
        break;
    default: // random records
        for (std::size_t at = 8; at < bytes.size(); ++at)
            bytes[at] = static_cast<std::uint8_t>(noise());
    }
}

// Values beyond the edges take the edge, NaN changes nothing; saved states
// from damaged files, older versions or other effects, in between, leave
// every value sane.
TEST_P(Hardening, HostileValuesAndChunks) {
    host.start(48000.0f);
    const VstInt32 n = fx->numParams;
    std::vector<float> top, bottom;
    for (VstInt32 i = 0; i < n; ++i) {
        host.setParam(i, 1.0f);
        top.push_back(host.getParam(i));
        host.setParam(i, 0.0f);
        bottom.push_back(host.getParam(i));
    }
    std::vector<std::vector<std::uint8_t>> sources; // states of this and every other built effect
    for (const std::string& name : builtEffects()) {
        TestHost source(name);
        for (int kind = 0; kind < 4 && source.loaded(); ++kind) {
            setAll(source, corner(source.effect()->numParams, kind, noise));
            sources.push_back(source.chunk(kind & 1));
        }
    }
    for (int round = 0; round < 900 && n > 0; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        if (round % 3 == 2) {
            std::vector<std::uint8_t> bytes = noise.pick(sources);
            for (std::uint32_t k = noise.below(4); k > 0; --k) // none at times: foreign states as saved
                mutate(bytes, noise);
            host.setChunk(bytes, noise.below(2));
            ASSERT_NO_FATAL_FAILURE(expectSaneState(host, noise, 1 + round % 300));
            continue;
        }
        const auto index = static_cast<VstInt32>(noise.below(n));
        const float value = noise.below(2) ? noise.pick(hostileValues()) : noise.unit();
        SCOPED_TRACE(std::to_string(value) + " to " + std::to_string(index));
        std::vector<float> expected = allParams(host);
        host.setParam(index, value);
        if (value >= 1.0f || value <= 0.0f) {
            expected[index] = (value >= 1.0f ? top : bottom)[index];
        } else if (!std::isnan(value)) {
            ASSERT_NEAR(expected[index] = host.getParam(index), value, 1e-6f);
        }
        ASSERT_EQ(allParams(host), expected);
    }
}

// Rates outside the band (1 Hz, 1 GHz) must still give stable filters and
// bounded buffers.
TEST_P(Hardening, SilenceRatesAndBlockSizes) {
    host.start(44100.0f);
    for (int b = 0; b < 21 + 323; ++b) // 2 s of noise, 30 s of silence
        ASSERT_TRUE(play(host, noise, 4096, b < 21 ? 1.0f : 0.0f).finite()) << "block " << b;
    // Silence settles to silence; the Quantizer without a zero level holds half a step instead.
    const bool holdsAStep = GetParam() == "Quantizer";
    EXPECT_LT(play(host, noise, 4096, 0.0f).peak(holdsAStep), 1e-5f) << "30 s after the input stopped";

    const std::vector<float> defaults = allParams(host);
    const float rates[] = {8000.0f,  11025.0f,  22050.0f,  44100.0f,  48000.0f, 88200.0f,
                           96000.0f, 176400.0f, 192000.0f, 384000.0f, 1.0f,     1e9f};
    for (int r = 0; r < 12; ++r) {
        SCOPED_TRACE(std::to_string(rates[r]) + " Hz");
        play(host, noise, 4096);
        host.suspend();
        host.dispatch(effSetSampleRate, 0, 0, nullptr, rates[r]);
        host.resume();
        const float tail = play(host, noise, 512, 0.0f).peak(holdsAStep);
        // The Multiplier's filters and oscillator run on across a reset by design.
        EXPECT_TRUE(tail < 1e-4f || GetParam() == "Multiplier")
            << "a tail of " << tail << " survived the rate change";
        for (const std::vector<float>& setting : {corner(fx->numParams, r % 4, noise), defaults}) {
            setAll(host, setting);
            for (float amplitude : {0.0f, 1.0f})
                for (int frames : {1, 2, 3, 64, 511, 4096, 8192})
                    // Small blocks come in runs, as a host with a tiny buffer sends them.
                    for (int run = frames < 64 ? 40 : 1; run > 0; --run)
                        ASSERT_TRUE(play(host, noise, frames, amplitude).finite()) << frames << " frames";
        }
    }
}

// Audio passes unchanged, through the replacing call and onto the outputs.
void expectPassesThrough(AEffect* fx, Noise& noise) {
    Block block(fx, 300, noise);
    block.run(fx->processReplacing, fx);
    EXPECT_EQ(block.out, Channels(block.in.begin(), block.in.begin() + 2));
    block.run(fx->process, fx);
    for (int c = 0; c < 2; ++c)
        for (int k = 0; k < 300; ++k)
            ASSERT_EQ(block.out[c][k], block.in[c][k] + block.in[c][k]);
}

// The host protocol's odd corners, in one life of an instance: a scan that
// asks everything but sets no sample rate, through which audio passes
// unchanged until the first rate arrives while the instance is resumed.
TEST_P(Hardening, OddLifecycle) {
    const auto plays = [&](int frames) { return play(host, noise, frames).finite(); };
    host.suspend(); // a suspend that follows no resume
    host.dispatch(effOpen);
    for (VstInt32 i = 0; i < fx->numParams; ++i)
        EXPECT_FALSE(host.paramName(i).empty() || host.paramDisplay(i).empty()) << "parameter " << i;
    EXPECT_FALSE(host.chunk(false).empty() || host.chunk(true).empty());
    std::vector<std::uint8_t> scratch(4096);
    for (VstInt32 opcode = 0; opcode < 128; ++opcode) {
        if (opcode == effClose) continue;
        std::fill(scratch.begin(), scratch.end(), 0);
        host.dispatch(opcode, 0, 0, scratch.data());
        host.dispatch(opcode, 0, 0, nullptr);
        host.dispatch(opcode, -1, -1, nullptr, -1.0f);
    }
    expectPassesThrough(fx, noise);
    host.resume();
    host.dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    host.dispatch(effSetBlockSize, 0, 64);
    host.resume();
    for (int frames : {64, 8192, 65536, 4096})
        ASSERT_TRUE(plays(frames)) << frames << " frames after a block size of 64 and a double resume";
    host.dispatch(effSetBlockSize, 0, -5);
    host.dispatch(effSetBlockSize, 0, 0);
    ASSERT_TRUE(plays(511)) << "after nonsense block sizes";

    host.suspend();
    host.suspend();
    ASSERT_TRUE(plays(128)) << "processing while suspended";
    host.dispatch(effSetSampleRate, 0, 0, nullptr, 22050.0f);
    host.resume();
    ASSERT_TRUE(plays(3)) << "after a rate change while suspended";

    // Whatever a host fed in, a reset makes the effect forget it.
    for (float poison : hostileValues()) {
        Block block(fx, 256, noise);
        for (auto& channel : block.in)
            channel[100] = poison;
        block.run(fx->processReplacing, fx);
        host.suspend();
        host.resume();
        for (int b = 0; b < 4; ++b)
            ASSERT_TRUE(plays(1024)) << "block " << b << " after an input of " << poison;
    }
    host.suspend(); // and the host closes the instance
}

// In place (one pointer array for both sides, or one per side) and
// accumulating (onto the outputs, or into the input arrays, which replaces).
TEST_P(Hardening, InPlaceAndAccumulatingMatchReplacing) {
    const std::vector<float> setting = corner(fx->numParams, 4, noise);
    std::vector<std::unique_ptr<TestHost>> hosts; // the reference and one per mode
    for (int m = 0; m < 5; ++m) {
        hosts.emplace_back(new TestHost(GetParam()));
        hosts.back()->start(44100.0f);
        setAll(*hosts.back(), setting);
    }
    for (int frames : {1, 301, 302, 303, 304, 305}) {
        Block reference(fx, frames, noise, 0.8f);
        const Block input = reference;
        reference.run(hosts[0]->effect()->processReplacing, hosts[0]->effect());
        for (int m = 1; m < 5; ++m) {
            SCOPED_TRACE(std::to_string(frames) + " frames, mode " + std::to_string(m));
            AEffect* e = hosts[static_cast<std::size_t>(m)]->effect();
            Block block = input;
            std::vector<float*> in = pointers(block.in), out = pointers(block.out);
            std::vector<float*> perChannel(in.begin(), in.begin() + 2);
            Channels expected = reference.out;
            for (int c = 0; c < 2 && m == 3; ++c)
                for (int k = 0; k < frames; ++k)
                    expected[c][k] += block.out[c][k] = 0.001f * static_cast<float>(k % 17);
            float** outputs = m == 2 ? perChannel.data() : m == 3 ? out.data() : in.data();
            (m < 3 ? e->processReplacing : e->process)(e, in.data(), outputs, frames);
            const Channels& result = m == 3 ? block.out : block.in;
            EXPECT_EQ(Channels(result.begin(), result.begin() + 2), expected);
        }
    }
}

// A bad index touches nothing and answers nothing; bytes that are no chunk,
// no bytes and sizes that are no size change nothing, while a state the
// plug-in wrote restores exactly, also from the buffer it handed out.
TEST_P(Adapter, BadIndexesAndChunks) {
    host.start(44100.0f);
    const VstInt32 n = fx->numParams;
    setAll(host, corner(n, 0, noise));
    std::vector<std::uint8_t> minima = host.chunk();
    setAll(host, corner(n, 1, noise));
    const std::vector<std::uint8_t> maxima = host.chunk();
    using L = std::numeric_limits<VstInt32>;
    for (VstInt32 index : {-1, n, n + 1, -n - 1, L::min(), L::max()}) {
        for (float value : hostileValues())
            host.setParam(index, value);
        host.setParam(index, 0.5f);
        EXPECT_EQ(host.getParam(index), 0.0f);
        for (VstInt32 opcode : {effGetParamDisplay, effGetParamName, effGetParamLabel}) {
            char text[64] = "x";
            host.dispatch(opcode, index, 0, text);
            EXPECT_EQ(text[0], 0) << "opcode " << opcode << " must answer an empty string";
        }
        VstParameterProperties props;
        std::memset(&props, 0x5a, sizeof props);
        EXPECT_EQ(host.dispatch(effGetParameterProperties, index, 0, &props), 0);
        EXPECT_EQ(props.flags, 0x5a5a5a5a) << "properties of a missing parameter were written";
        EXPECT_EQ(host.dispatch(effCanBeAutomated, index), 0);
    }

    std::vector<std::uint8_t> wrongTag = minima;
    wrongTag[0] = 'Q';
    host.setChunk(wrongTag);
    host.dispatch(effSetChunk, 0, static_cast<VstIntPtr>(minima.size()), nullptr);
    for (VstIntPtr size : {VstIntPtr{-1}, std::numeric_limits<VstIntPtr>::min(),
                           (VstIntPtr{1} << 32) + static_cast<VstIntPtr>(minima.size())})
        host.dispatch(effSetChunk, 0, size, minima.data());
    EXPECT_EQ(host.chunk(), maxima);
    host.setChunk(minima, true);
    EXPECT_EQ(host.chunk(true), minima);
    void* own = nullptr;
    const VstIntPtr size = host.dispatch(effGetChunk, 0, 0, &own);
    setAll(host, corner(n, 1, noise));
    host.dispatch(effSetChunk, 0, size, own);
    EXPECT_EQ(host.chunk(), minima);
}

// Pins are named by number, whatever number the host asks for. Rates that
// are no rate are ignored: audio passes unchanged, as through an instance made
// without a host callback. Blocks without frames or buffers write nothing; a
// missing main input is silence.
TEST_P(Adapter, PinsRatesAndMissingBuffers) {
    for (VstInt32 pin : {0, -1, std::numeric_limits<VstInt32>::max(), std::numeric_limits<VstInt32>::min()})
        for (const auto& [opcode, prefix] :
             {std::pair{effGetInputProperties, "in "}, {effGetOutputProperties, "out "}}) {
            VstPinProperties props{};
            EXPECT_EQ(host.dispatch(opcode, pin, 0, &props), 1);
            EXPECT_EQ(props.label, prefix + std::to_string(static_cast<long long>(pin) + 1));
        }
    for (float ignored :
         {0.0f, -48000.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()})
        host.dispatch(effSetSampleRate, 0, 0, nullptr, ignored);
    TestHost bare(GetParam(), false);
    for (AEffect* e : {fx, bare.effect()})
        expectPassesThrough(e, noise);

    host.start(44100.0f);
    Block block(fx, 16, noise);
    std::vector<float*> in = pointers(block.in), out = pointers(block.out);
    for (auto& channel : block.out)
        std::fill(channel.begin(), channel.end(), 0.5f);
    const Channels untouched = block.out;
    for (VstInt32 frames : {0, -1, std::numeric_limits<VstInt32>::min()}) {
        fx->processReplacing(fx, in.data(), out.data(), frames);
        fx->process(fx, in.data(), out.data(), frames);
    }
    fx->processReplacing(fx, nullptr, out.data(), 16);
    fx->processReplacing(fx, in.data(), nullptr, 16);
    fx->process(fx, nullptr, nullptr, 16);
    std::vector<float*> noLeft{nullptr, out[1]};
    for (AEffect* e : {fx, bare.effect()})
        e->processReplacing(e, in.data(), noLeft.data(), 16);
    EXPECT_EQ(block.out, untouched) << "a block without frames or a buffer was written";
    noLeft = in;
    noLeft[0] = nullptr;
    fx->processReplacing(fx, noLeft.data(), out.data(), 16);
    EXPECT_EQ(block.out[0], std::vector<float>(16, 0.0f)) << "a missing main input";
    EXPECT_TRUE(block.finite());
}

QUOR_FOR_EACH_BUILT_EFFECT(Hardening);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Adapter);
INSTANTIATE_TEST_SUITE_P(FirstBuilt, Adapter, ::testing::ValuesIn(builtEffects(1)), effectTestName);

} // namespace
} // namespace quor::test::hardening
