// Hostile hosts, for every built effect: parameter storms, damaged saved
// states, every rate and block size, odd call sequences, and the ways a host
// may hand over audio (no frames, null or shared buffers, accumulating). The
// plug-in must keep every value in its range, read only the bytes it was
// given and go on producing finite audio.
#include "tests/integration/hardening_host.h"

#include <memory>

namespace quor::test::hardening {
namespace {

class Hardening : public EffectTest {};

using Limits = std::numeric_limits<VstInt32>;

// Every read-back in 0..1, every stored value finite and not subnormal (a
// slow operand in the sample loops), every display present and within the
// host's 64 characters, and finite audio.
void expectSaneState(const TestHost& host, Noise& noise, int frames) {
    const std::vector<std::uint8_t> saved = host.chunk();
    for (VstInt32 i = 0; i < host.effect()->numParams; ++i) {
        const float normalised = host.getParam(i), stored = storedValue(saved, static_cast<std::size_t>(i));
        const std::string display = host.paramDisplay(i);
        ASSERT_TRUE(normalised >= 0.0f && normalised <= 1.0f && std::isfinite(stored) &&
                    std::fpclassify(stored) != FP_SUBNORMAL && !display.empty() && display.size() < 64)
            << "parameter " << i << " reads " << normalised << ", stored as " << stored << ", shows "
            << display;
    }
    ASSERT_TRUE(play(host, noise, frames).finite());
}

// Ordinary and absurd values sent to real and non-existent indexes, with
// audio in between: values beyond the edges take the edge, NaN changes
// nothing, a bad index touches nothing and answers nothing.
TEST_P(Hardening, ParameterStorm) {
    host.start(48000.0f);
    const VstInt32 n = fx->numParams;
    std::vector<float> top, bottom;
    for (VstInt32 i = 0; i < n; ++i) {
        host.setParam(i, 1.0f);
        top.push_back(host.getParam(i));
        host.setParam(i, 0.0f);
        bottom.push_back(host.getParam(i));
    }
    for (int round = 0; round < 600; ++round) {
        const bool badIndex = n == 0 || noise.below(8) == 0;
        const VstInt32 index =
            badIndex ? noise.pick(std::vector<VstInt32>{-1, n, n + 1, -n - 1, Limits::min(), Limits::max()})
                     : static_cast<VstInt32>(noise.below(n));
        const float value = noise.below(2) ? noise.pick(hostileValues()) : noise.unit();
        SCOPED_TRACE("round " + std::to_string(round) + ": " + std::to_string(value) + " to " +
                     std::to_string(index));
        std::vector<float> expected = allParams(host);
        host.setParam(index, value);
        const auto i = static_cast<std::size_t>(index);
        if (badIndex) {
            ASSERT_EQ(host.getParam(index), 0.0f);
            for (VstInt32 opcode : {effGetParamDisplay, effGetParamName, effGetParamLabel}) {
                char text[64];
                std::memset(text, 'x', sizeof text);
                host.dispatch(opcode, index, 0, text);
                ASSERT_EQ(text[0], 0) << "opcode " << opcode << " must answer an empty string";
            }
            VstParameterProperties props;
            std::memset(&props, 0x5a, sizeof props);
            ASSERT_EQ(host.dispatch(effGetParameterProperties, index, 0, &props), 0);
            ASSERT_EQ(props.flags, 0x5a5a5a5a) << "properties of a missing parameter were written";
            ASSERT_EQ(host.dispatch(effCanBeAutomated, index), 0);
        } else if (value >= 1.0f || value <= 0.0f) {
            expected[i] = (value >= 1.0f ? top : bottom)[i];
        } else if (!std::isnan(value)) {
            expected[i] = host.getParam(index);
        }
        ASSERT_EQ(allParams(host), expected);
        if (round % 8 == 7) {
            ASSERT_NO_FATAL_FAILURE(expectSaneState(host, noise, 1 + round % 300));
        }
    }
}

// The bytes in a buffer of exactly their size, so that the address sanitizer
// reports any read past the end.
void applyExact(const TestHost& host, const std::vector<std::uint8_t>& bytes, bool preset) {
    std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    host.dispatch(effSetChunk, preset ? 1 : 0, static_cast<VstIntPtr>(bytes.size()), exact.get());
}

void mutate(std::vector<std::uint8_t>& bytes, Noise& noise) {
    if (bytes.size() < 16) return;
    const std::size_t pars = std::min<std::size_t>(parsOffset(bytes), bytes.size());
    const auto begin = [&](std::size_t offset) { return bytes.begin() + static_cast<long>(offset); };
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
        const std::uint32_t was = at + 4 <= bytes.size() ? field<std::uint32_t>(bytes, at) : 0;
        const std::vector<std::uint32_t> odd{
            0, 7, 15, 16, was - 1, was + 1, 0x7FFFFFFF, 0xFFFFFFFF, static_cast<std::uint32_t>(noise())};
        if (at + 4 <= bytes.size()) setField(bytes, at, noise.pick(odd));
        break;
    }
    case 3: // hostile stored values
        for (std::size_t at = pars + 16; at + 4 <= bytes.size(); at += 4)
            if (noise.below(2))
                setField(bytes, at, noise.pick(hostileValues()) * (noise.below(2) ? 1.0f : 1e9f));
        break;
    case 4: // "pars" before "name"
        if (pars > 8) std::rotate(begin(8), begin(pars), bytes.end());
        break;
    default: // random records
        for (std::size_t at = 8; at < bytes.size(); ++at)
            bytes[at] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(noise()));
    }
}

// Saved states from damaged files, older versions or other effects.
TEST_P(Hardening, DamagedChunks) {
    host.start(44100.0f);
    setAll(host, corner(fx->numParams, 0, noise));
    std::vector<std::uint8_t> minima = host.chunk();
    setAll(host, corner(fx->numParams, 1, noise));
    const std::vector<std::uint8_t> maxima = host.chunk();

    // Bytes that are no chunk, no bytes, and sizes that are no size change nothing.
    std::vector<std::uint8_t> wrongTag = minima;
    wrongTag[0] = 'Q';
    applyExact(host, wrongTag, false);
    host.dispatch(effSetChunk, 0, static_cast<VstIntPtr>(minima.size()), nullptr);
    for (VstIntPtr size : {VstIntPtr{-1}, std::numeric_limits<VstIntPtr>::min(),
                           (VstIntPtr{1} << 32) + static_cast<VstIntPtr>(minima.size())})
        host.dispatch(effSetChunk, 0, size, minima.data());
    EXPECT_EQ(host.chunk(), maxima);
    // A state the plug-in wrote restores exactly, also from the buffer it handed out.
    applyExact(host, minima, true);
    EXPECT_EQ(host.chunk(true), minima);
    void* own = nullptr;
    const VstIntPtr size = host.dispatch(effGetChunk, 0, 0, &own);
    setAll(host, corner(fx->numParams, 1, noise));
    host.dispatch(effSetChunk, 0, size, own);
    EXPECT_EQ(host.chunk(), minima);

    std::vector<std::vector<std::uint8_t>> sources; // states of this and every other built effect
    for (const std::string& name : builtEffects()) {
        TestHost source(name);
        for (int kind = 0; kind < 4 && source.loaded(); ++kind) {
            setAll(source, corner(source.effect()->numParams, kind, noise));
            sources.push_back(source.chunk(kind & 1));
        }
    }
    for (int trial = 0; trial < 300; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        std::vector<std::uint8_t> bytes = noise.pick(sources);
        for (std::uint32_t k = noise.below(4); k > 0; --k) // none at times: foreign states as saved
            mutate(bytes, noise);
        applyExact(host, bytes, noise.below(2));
        ASSERT_NO_FATAL_FAILURE(expectSaneState(host, noise, 256));
    }
}

void changeRate(const TestHost& host, float rate) {
    host.suspend();
    host.dispatch(effSetSampleRate, 0, 0, nullptr, rate);
    host.resume();
}

// After loud input a long silence settles to exact zeros or a tiny level,
// never to subnormal numbers, which cost a host without denormals-are-zero
// dearly. Then one instance goes through every rate, each changed while
// suspended, and every block size, loud and silent, at edges of the parameter
// space and the defaults. Rates outside the band (1 Hz, 1 GHz) must still
// give stable filters and bounded buffers.
TEST_P(Hardening, SilenceRatesAndBlockSizes) {
    host.start(44100.0f);
    for (int b = 0; b < 21 + 323; ++b) { // 2 s of noise, 30 s of silence
        const Block block = play(host, noise, 4096, b < 21 ? 1.0f : 0.0f);
        ASSERT_TRUE(block.finite()) << "block " << b;
        for (const auto& channel : block.out)
            for (float y : channel)
                ASSERT_NE(std::fpclassify(y), FP_SUBNORMAL) << "block " << b;
    }
    // Silence settles to silence; the Quantizer without a zero level holds half a step instead.
    const bool holdsAStep = GetParam() == "Quantizer";
    const Block settled = play(host, noise, 4096, 0.0f);
    EXPECT_LT(holdsAStep ? settled.swing() : settled.peak(), 1e-5f) << "30 s after the input stopped";

    const std::vector<float> defaults = allParams(host);
    const float rates[] = {8000.0f,  11025.0f,  22050.0f,  44100.0f,  48000.0f, 88200.0f,
                           96000.0f, 176400.0f, 192000.0f, 384000.0f, 1.0f,     1e9f};
    for (int r = 0; r < 12; ++r) {
        SCOPED_TRACE(std::to_string(rates[r]) + " Hz");
        play(host, noise, 4096);
        changeRate(host, rates[r]);
        const Block after = play(host, noise, 512, 0.0f);
        const float tail = holdsAStep ? after.swing() : after.peak();
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

// A plug-in scan: open, the questions a host asks, every opcode with a
// generous buffer and with none, and no sample rate ever set. Until a rate
// arrives audio passes unchanged, as it does through an instance created
// without a host callback, which has no effect.
TEST_P(Hardening, ScanWithoutSampleRate) {
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
    // Pins are named by number, whatever number the host asks for.
    for (VstInt32 pin : {0, -1, Limits::max(), Limits::min()})
        for (const auto& [opcode, prefix] :
             {std::pair{effGetInputProperties, "in "}, {effGetOutputProperties, "out "}}) {
            VstPinProperties props{};
            EXPECT_EQ(host.dispatch(opcode, pin, 0, &props), 1);
            EXPECT_EQ(props.label, prefix + std::to_string(static_cast<long long>(pin) + 1));
        }

    for (float ignored :
         {0.0f, -48000.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()})
        host.dispatch(effSetSampleRate, 0, 0, nullptr, ignored); // no rate: ignored
    TestHost bare(GetParam(), false);
    for (AEffect* e : {fx, bare.effect()}) {
        Block block(e, 300, noise);
        block.run(e->processReplacing, e);
        EXPECT_EQ(block.out[0], block.in[0]);
        EXPECT_EQ(block.out[1], block.in[1]);
        block.run(e->process, e);
        for (int c = 0; c < 2; ++c)
            for (int k = 0; k < 300; ++k)
                ASSERT_EQ(block.out[c][k], block.in[c][k] + block.in[c][k]);
    }
    host.resume();
    host.dispatch(effSetSampleRate, 0, 0, nullptr, 44100.0f); // the first rate arrives while resumed
    EXPECT_TRUE(play(host, noise, 300).finite());
}

// The host protocol's odd corners, in one life of an instance.
TEST_P(Hardening, OddLifecycle) {
    const auto plays = [&](int frames) { return play(host, noise, frames).finite(); };
    host.suspend(); // a suspend that follows no resume
    host.dispatch(effOpen);
    host.dispatch(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    host.dispatch(effSetBlockSize, 0, 64);
    host.resume();
    host.resume();
    for (int frames : {64, 8192, 65536, 4096})
        ASSERT_TRUE(plays(frames)) << frames << " frames after a block size of 64 and a double resume";
    host.dispatch(effSetBlockSize, 0, -5);
    host.dispatch(effSetBlockSize, 0, 0);
    ASSERT_TRUE(plays(511)) << "after nonsense block sizes";

    // Every parameter set while playing, then a bank chunk restored while resumed.
    TestHost other(GetParam());
    setAll(other, corner(fx->numParams, 5, noise));
    const std::vector<std::uint8_t> bank = other.chunk(false);
    for (VstInt32 i = 0; i < fx->numParams; ++i) {
        host.setParam(i, noise.unit());
        ASSERT_TRUE(plays(16)) << "after parameter " << i;
    }
    host.setChunk(bank, false);
    ASSERT_TRUE(plays(512)) << "after a bank chunk while resumed";
    EXPECT_EQ(host.chunk(false), bank);

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
    host.suspend();
    host.close();
}

TEST_P(Hardening, EmptyBlocksAndMissingBuffers) {
    host.start(44100.0f);
    Block block(fx, 16, noise);
    std::vector<float*> in = Block::pointers(block.in), out = Block::pointers(block.out);
    for (auto& channel : block.out)
        std::fill(channel.begin(), channel.end(), 0.5f);
    const std::vector<std::vector<float>> untouched = block.out;
    for (VstInt32 frames : {0, -1, Limits::min()}) {
        fx->processReplacing(fx, in.data(), out.data(), frames);
        fx->process(fx, in.data(), out.data(), frames);
    }
    fx->processReplacing(fx, nullptr, out.data(), 16);
    fx->processReplacing(fx, in.data(), nullptr, 16);
    fx->process(fx, nullptr, nullptr, 16);
    std::vector<float*> noLeft{nullptr, out[1]};
    fx->processReplacing(fx, in.data(), noLeft.data(), 16);
    EXPECT_EQ(block.out, untouched) << "a block without frames or a buffer was written";
    noLeft = in;
    noLeft[0] = nullptr;
    fx->processReplacing(fx, noLeft.data(), out.data(), 16);
    EXPECT_TRUE(block.finite()) << "a missing main input";

    // Null side-chain inputs, one at a time and all together, at several settings.
    for (int round = 0; round < 8 && fx->numInputs > 2; ++round) {
        setAll(host, corner(fx->numParams, round, noise));
        Block sideChained(fx, 777, noise);
        std::vector<float*> inputs = Block::pointers(sideChained.in),
                            outputs = Block::pointers(sideChained.out);
        for (std::size_t c = 2; c < inputs.size(); ++c)
            if (round >= 4 || (round & (1 << (c - 2)))) inputs[c] = nullptr;
        fx->processReplacing(fx, inputs.data(), outputs.data(), 777);
        fx->process(fx, inputs.data(), outputs.data(), 777);
        ASSERT_TRUE(sideChained.finite()) << "round " << round;
    }
}

// In place (with one pointer array for both sides, or with one per side) and
// accumulating (onto the outputs, or into the very input arrays, which
// replaces) give exactly what the plain replacing call gives.
TEST_P(Hardening, InPlaceAndAccumulatingMatchReplacing) {
    const std::vector<float> setting = corner(fx->numParams, 4, noise);
    std::vector<std::unique_ptr<TestHost>> hosts; // the reference, one per mode, and the reference's twin
    for (int m = 0; m < 6; ++m) {
        hosts.emplace_back(new TestHost(GetParam()));
        hosts.back()->start(44100.0f);
        setAll(*hosts.back(), setting);
    }
    for (int frames : {1, 301, 302, 303, 304, 305}) {
        Block reference(fx, frames, noise, 0.8f);
        const Block input = reference;
        Block twin = input;
        reference.run(hosts[0]->effect()->processReplacing, hosts[0]->effect());
        twin.run(hosts[5]->effect()->processReplacing, hosts[5]->effect());
        if (twin.out != reference.out) GTEST_SKIP() << "output depends on a shared random source";
        for (int m = 1; m < 5; ++m) {
            SCOPED_TRACE(std::to_string(frames) + " frames, mode " + std::to_string(m));
            AEffect* e = hosts[static_cast<std::size_t>(m)]->effect();
            Block block = input;
            std::vector<float*> in = Block::pointers(block.in), out = Block::pointers(block.out);
            std::vector<float*> perChannel(in.begin(), in.begin() + 2);
            std::vector<std::vector<float>> expected = reference.out;
            for (int c = 0; c < 2 && m == 3; ++c)
                for (int k = 0; k < frames; ++k) {
                    block.out[c][k] = 0.001f * static_cast<float>(k % 17);
                    expected[c][k] += block.out[c][k];
                }
            float** outputs = m == 2 ? perChannel.data() : m == 3 ? out.data() : in.data();
            (m < 3 ? e->processReplacing : e->process)(e, in.data(), outputs, frames);
            const std::vector<std::vector<float>>& result = m == 3 ? block.out : block.in;
            ASSERT_EQ(result[0], expected[0]);
            ASSERT_EQ(result[1], expected[1]);
        }
    }
}

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Hardening);
INSTANTIATE_TEST_SUITE_P(Effects, Hardening, ::testing::ValuesIn(builtEffects()), effectTestName);

} // namespace
} // namespace quor::test::hardening
