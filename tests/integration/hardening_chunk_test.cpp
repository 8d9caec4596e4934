// Saved states from damaged files, older versions or other effects: whatever
// the bytes say, the plug-in reads only the bytes it was given, keeps every
// value in its range and goes on producing finite audio. A state it wrote
// itself still restores exactly.
#include "tests/integration/hardening_host.h"

namespace quor::test::hardening {
namespace {

class HardeningChunks : public ::testing::TestWithParam<std::string> {};

// Hands the host's bytes over in a buffer of exactly their size, so that a
// read past the end is caught by the address sanitizer.
void applyExact(const TestHost& host, const std::vector<std::uint8_t>& bytes, bool preset = false) {
    std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[bytes.size() ? bytes.size() : 1]);
    if (!bytes.empty()) std::memcpy(exact.get(), bytes.data(), bytes.size());
    host.dispatch(effSetChunk, preset ? 1 : 0, static_cast<VstIntPtr>(bytes.size()), exact.get());
}

// The plug-in's own chunk must hold every value inside its range, and the
// instance must keep working.
void expectSaneState(const TestHost& host, Noise& noise, const std::string& what) {
    AEffect* fx = host.effect();
    const std::vector<std::uint8_t> saved = host.chunk();
    ASSERT_FALSE(saved.empty()) << what;
    const std::size_t pars = parsOffset(saved);
    for (VstInt32 i = 0; i < fx->numParams; ++i) {
        const float normalised = host.getParam(i);
        ASSERT_TRUE(normalised >= 0.0f && normalised <= 1.0f)
            << what << ": parameter " << i << " reads " << normalised;
        const float stored = readFloat(saved, pars + 16 + 4 * static_cast<std::size_t>(i));
        ASSERT_TRUE(std::isfinite(stored)) << what << ": parameter " << i;
        ASSERT_NE(std::fpclassify(stored), FP_SUBNORMAL) << what << ": parameter " << i;
        ASSERT_FALSE(host.paramDisplay(i).empty()) << what << ": parameter " << i;
    }
    Block block(fx->numInputs, 256);
    block.fillNoise(noise, 1.0f);
    block.processReplacing(fx);
    ASSERT_EQ(firstNonFinite(block), -1) << what;
}

TEST_P(HardeningChunks, OwnStatesRestoreIdentically) {
    TestHost source(GetParam());
    TestHost target(GetParam());
    ASSERT_TRUE(source.loaded() && target.loaded());
    source.start(44100.0f);
    target.start(96000.0f);
    Noise noise(seedFor(GetParam(), 3));
    for (int trial = 0; trial < 8; ++trial) {
        setAll(source, cornerSetting(source.effect()->numParams, trial, noise));
        for (bool preset : {false, true}) {
            const std::vector<std::uint8_t> saved = source.chunk(preset);
            applyExact(target, saved, preset);
            EXPECT_EQ(target.chunk(preset), saved)
                << "trial " << trial << (preset ? " (program)" : " (bank)");
            EXPECT_EQ(allParams(target), allParams(source));
        }
    }
    // Hosts may hand back the very buffer the plug-in gave them.
    void* own = nullptr;
    const VstIntPtr size = source.dispatch(effGetChunk, 0, 0, &own);
    const std::vector<std::uint8_t> before = source.chunk(true);
    source.dispatch(effSetChunk, 0, size, own);
    EXPECT_EQ(source.chunk(true), before);
}

// Stored values outside the table's range are brought into it; NaN takes the
// default. Values are compared through the plug-in's own read-back.
TEST_P(HardeningChunks, StoredValuesAreBroughtIntoRange) {
    TestHost host(GetParam());
    TestHost fresh(GetParam());
    ASSERT_TRUE(host.loaded() && fresh.loaded());
    host.start(44100.0f);
    const VstInt32 n = host.effect()->numParams;
    const std::vector<float> defaults = allParams(fresh);
    setAll(host, std::vector<float>(static_cast<std::size_t>(n), 0.0f));
    const std::vector<float> minima = allParams(host);
    setAll(host, std::vector<float>(static_cast<std::size_t>(n), 1.0f));
    const std::vector<float> maxima = allParams(host);

    const std::vector<std::uint8_t> base = host.chunk();
    const std::size_t pars = parsOffset(base);
    auto applyAll = [&](float stored) {
        std::vector<std::uint8_t> bytes = base;
        for (VstInt32 i = 0; i < n; ++i)
            writeFloat(bytes, pars + 16 + 4 * static_cast<std::size_t>(i), stored);
        applyExact(host, bytes);
    };
    const float inf = std::numeric_limits<float>::infinity();

    applyAll(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(allParams(host), defaults) << "NaN takes the default";
    applyAll(inf);
    EXPECT_EQ(allParams(host), maxima);
    applyAll(-inf);
    EXPECT_EQ(allParams(host), minima);
    applyAll(1e9f);
    EXPECT_EQ(allParams(host), maxima);
    applyAll(-1e30f);
    EXPECT_EQ(allParams(host), minima);
    // Subnormal numbers are stored as zero (or the minimum, when that is above zero).
    applyAll(std::numeric_limits<float>::denorm_min());
    const std::vector<std::uint8_t> flushed = host.chunk();
    for (VstInt32 i = 0; i < n; ++i)
        EXPECT_NE(std::fpclassify(readFloat(flushed, pars + 16 + 4 * static_cast<std::size_t>(i))),
                  FP_SUBNORMAL);
    Noise noise(seedFor(GetParam(), 4));
    expectSaneState(host, noise, "after clamped values");
}

// A "pars" record that claims more values than its bytes hold, or than the
// chunk holds, applies the values that are really there and no others.
TEST_P(HardeningChunks, ShortParsRecordsApplyOnlyWhatIsThere) {
    TestHost host(GetParam());
    ASSERT_TRUE(host.loaded());
    host.start(44100.0f);
    const VstInt32 n = host.effect()->numParams;
    if (n == 0) GTEST_SKIP() << "no parameters";
    setAll(host, std::vector<float>(static_cast<std::size_t>(n), 1.0f));
    const std::vector<std::uint8_t> full = host.chunk();
    const std::vector<float> maxima = allParams(host);
    const std::size_t pars = parsOffset(full);

    for (VstInt32 kept = 0; kept <= n; ++kept) {
        for (int how = 0; how < 3; ++how) {
            SCOPED_TRACE("values kept " + std::to_string(kept) + ", cut " + std::to_string(how));
            setAll(host, std::vector<float>(static_cast<std::size_t>(n), 0.0f));
            const std::vector<float> minima = allParams(host);
            std::vector<std::uint8_t> bytes = full;
            const std::size_t end = pars + 16 + 4 * static_cast<std::size_t>(kept);
            switch (how) {
            case 0:
                bytes.resize(end);
                break; // the host's byte count
            case 1:
                writeU32(bytes, 4, static_cast<std::uint32_t>(end));
                break; // the chunk's size field
            case 2:
                writeU32(bytes, pars + 4, static_cast<std::uint32_t>(end - pars)); // the record's size
            }
            writeU32(bytes, pars + 12, 0xFFFFFFFFu); // and a count that claims far more
            applyExact(host, bytes);
            const std::vector<float> now = allParams(host);
            for (VstInt32 i = 0; i < n; ++i)
                EXPECT_EQ(now[static_cast<std::size_t>(i)], i < kept ? maxima[static_cast<std::size_t>(i)]
                                                                     : minima[static_cast<std::size_t>(i)])
                    << "parameter " << i;
        }
    }
}

TEST_P(HardeningChunks, BytesThatAreNoChunkChangeNothing) {
    TestHost host(GetParam());
    ASSERT_TRUE(host.loaded());
    host.start(44100.0f);
    Noise noise(seedFor(GetParam(), 5));
    setAll(host, cornerSetting(host.effect()->numParams, 7, noise));
    const std::vector<std::uint8_t> before = host.chunk();

    std::vector<std::uint8_t> wrongTag = before;
    wrongTag[0] = 'Q';
    applyExact(host, wrongTag);
    applyExact(host, {});
    applyExact(host, {'q', 'f', 'x'});
    applyExact(host, {'q', 'f', 'x', 's'});
    std::vector<std::uint8_t> noPars = before;
    noPars[parsOffset(before)] = 'P';
    applyExact(host, noPars);
    std::vector<std::uint8_t> zeroFirstRecord = before;
    writeU32(zeroFirstRecord, 12, 0); // a zero record size ends the scan before "pars"
    applyExact(host, zeroFirstRecord);
    host.dispatch(effSetChunk, 0, static_cast<VstIntPtr>(before.size()), nullptr);
    host.dispatch(effSetChunk, 0, -1, const_cast<std::uint8_t*>(before.data()));
    host.dispatch(effSetChunk, 0, std::numeric_limits<VstIntPtr>::min(),
                  const_cast<std::uint8_t*>(before.data()));
    EXPECT_EQ(host.chunk(), before);
}

// A chunk saved by every other built effect applies by index and is kept in
// this effect's ranges.
TEST_P(HardeningChunks, ChunksOfOtherEffectsAreHarmless) {
    TestHost host(GetParam());
    ASSERT_TRUE(host.loaded());
    host.start(48000.0f);
    Noise noise(seedFor(GetParam(), 6));
    for (const std::string& other : builtEffects()) {
        TestHost source(other);
        ASSERT_TRUE(source.loaded());
        for (int kind = 0; kind < 3; ++kind) {
            setAll(source, cornerSetting(source.effect()->numParams, kind, noise));
            applyExact(host, source.chunk());
            expectSaneState(host, noise, "chunk of " + other);
        }
    }
}

enum Mutation {
    kFlipBits,
    kTruncate,
    kTotalSize,
    kNameRecordSize,
    kParsRecordSize,
    kCount,
    kExtremeValues,
    kParsFirst,
    kAppendJunk,
    kDuplicatePars,
    kRandomBytes,
    kMutationCount
};

std::uint32_t oddSize(Noise& noise, std::uint32_t sensible) {
    const std::uint32_t choices[] = {0u,          1u,           7u,           8u,           15u,
                                     16u,         sensible - 1, sensible + 1, sensible * 2, 0x7FFFFFFFu,
                                     0x80000000u, 0xFFFFFFF8u,  0xFFFFFFFFu,  noise.bits(), noise.below(256)};
    return choices[noise.below(sizeof choices / sizeof choices[0])];
}

void mutate(std::vector<std::uint8_t>& bytes, Noise& noise, const std::vector<float>& extremes) {
    if (bytes.size() < 8) return;
    const std::size_t pars = parsOffset(bytes) < bytes.size() ? parsOffset(bytes) : bytes.size();
    const bool parsIntact = pars + 16 <= bytes.size();
    switch (static_cast<Mutation>(noise.below(kMutationCount))) {
    case kFlipBits:
        for (std::uint32_t k = 1 + noise.below(8); k > 0; --k)
            bytes[noise.below(static_cast<std::uint32_t>(bytes.size()))] ^=
                static_cast<std::uint8_t>(1u << noise.below(8));
        break;
    case kTruncate:
        bytes.resize(noise.below(static_cast<std::uint32_t>(bytes.size())));
        break;
    case kTotalSize:
        writeU32(bytes, 4, oddSize(noise, static_cast<std::uint32_t>(bytes.size())));
        break;
    case kNameRecordSize:
        if (bytes.size() >= 16) writeU32(bytes, 12, oddSize(noise, readU32(bytes, 12)));
        break;
    case kParsRecordSize:
        if (parsIntact) writeU32(bytes, pars + 4, oddSize(noise, readU32(bytes, pars + 4)));
        break;
    case kCount:
        if (parsIntact) writeU32(bytes, pars + 12, oddSize(noise, readU32(bytes, pars + 12)));
        break;
    case kExtremeValues:
        for (std::size_t at = pars + 16; at + 4 <= bytes.size(); at += 4)
            if (noise.below(2))
                writeFloat(bytes, at,
                           extremes[noise.below(static_cast<std::uint32_t>(extremes.size()))] * 1e9f);
        break;
    case kParsFirst:
        if (pars <= bytes.size() && pars > 8) {
            std::vector<std::uint8_t> swapped(bytes.begin(), bytes.begin() + 8);
            swapped.insert(swapped.end(), bytes.begin() + static_cast<long>(pars), bytes.end());
            swapped.insert(swapped.end(), bytes.begin() + 8, bytes.begin() + static_cast<long>(pars));
            bytes.swap(swapped);
        }
        break;
    case kAppendJunk:
        for (std::uint32_t k = noise.below(64); k > 0; --k)
            bytes.push_back(static_cast<std::uint8_t>(noise.bits()));
        break;
    case kDuplicatePars:
        if (pars < bytes.size()) {
            std::vector<std::uint8_t> copy(bytes.begin() + static_cast<long>(pars), bytes.end());
            bytes.insert(bytes.begin() + static_cast<long>(pars), copy.begin(), copy.end());
            writeU32(bytes, 4, static_cast<std::uint32_t>(bytes.size()));
        }
        break;
    case kRandomBytes:
        for (std::size_t at = 8; at < bytes.size(); ++at)
            bytes[at] = static_cast<std::uint8_t>(noise.bits());
        break;
    case kMutationCount:
        break;
    }
}

TEST_P(HardeningChunks, CorruptedChunksNeverEscapeTheParameterRanges) {
    TestHost host(GetParam());
    ASSERT_TRUE(host.loaded());
    host.start(44100.0f);
    Noise noise(seedFor(GetParam(), 7));
    const std::vector<float> extremes = extremeValues();
    const VstInt32 n = host.effect()->numParams;
    for (int trial = 0; trial < 300; ++trial) {
        setAll(host, cornerSetting(n, trial % 6, noise));
        std::vector<std::uint8_t> bytes = host.chunk(trial & 1);
        for (std::uint32_t k = 1 + noise.below(3); k > 0; --k)
            mutate(bytes, noise, extremes);
        applyExact(host, bytes, noise.below(2) != 0);
        expectSaneState(host, noise, "trial " + std::to_string(trial));
        if (HasFatalFailure()) return;
    }
}

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(HardeningChunks);
INSTANTIATE_TEST_SUITE_P(Effects, HardeningChunks, ::testing::ValuesIn(builtEffects()), effectTestName);

} // namespace
} // namespace quor::test::hardening
