#include "tests/support/test_host.h"

#include <gtest/gtest.h>

namespace quor::test {
namespace {

TEST(Identity, TremoloPresentsItself) {
    TestHost host("Tremolo");
    ASSERT_TRUE(host.loaded());
    AEffect* fx = host.effect();
    EXPECT_EQ(fx->magic, kEffectMagic);
    EXPECT_EQ(fx->numParams, 4);
    EXPECT_EQ(fx->flags, 48);
    EXPECT_EQ(host.text(effGetEffectName), "Quor Tremolo");
    EXPECT_EQ(host.text(effGetVendorString), "mornvale");
    EXPECT_EQ(host.text(effGetProductString), "Tremolo");
}

} // namespace
} // namespace quor::test
