#include "tests/support/test_host.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace quor::test {
namespace {

std::uint32_t crc32(const char* text) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (; *text; ++text) {
        crc ^= static_cast<unsigned char>(*text);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

TEST(Identity, TremoloPresentsItself) {
    TestHost host("Tremolo");
    ASSERT_TRUE(host.loaded());
    const AEffect& fx = *host.effect();
    EXPECT_EQ(fx.magic, kEffectMagic);
    EXPECT_EQ(fx.numPrograms, 1);
    EXPECT_EQ(fx.numParams, 4);
    EXPECT_EQ(fx.numInputs, 2);
    EXPECT_EQ(fx.numOutputs, 2);
    EXPECT_EQ(fx.flags, 48);
    EXPECT_EQ(fx.initialDelay, 0);
    EXPECT_EQ(fx.ioRatio, 1.0f);
    EXPECT_EQ(fx.version, 1);
    EXPECT_EQ(static_cast<std::uint32_t>(fx.uniqueID), crc32("quor") + crc32("Tremolo")); // wraps
    EXPECT_EQ(fx.processDoubleReplacing, nullptr);
    EXPECT_EQ(host.text(effGetEffectName), "Quor Tremolo");
    EXPECT_EQ(host.text(effGetVendorString), "mornvale");
    EXPECT_EQ(host.text(effGetProductString), "Tremolo");

    TestHost second("Tremolo");
    EXPECT_EQ(second.effect()->uniqueID, fx.uniqueID);
}

} // namespace
} // namespace quor::test
