#include "framework/effect.h"
#include "framework/registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quor {
namespace {

// Create functions that say which one ran by returning a distinct sentinel.
HostedEffect* const kFirst = reinterpret_cast<HostedEffect*>(0x10);
HostedEffect* const kSecond = reinterpret_cast<HostedEffect*>(0x20);
HostedEffect* createFirst() { return kFirst; }
HostedEffect* createSecond() { return kSecond; }

HostedEffect* lookUp(const EffectRegistry& registry, const char* name, bool caseSensitive) {
    return registry.findAndCreate(LookupKey{caseSensitive ? 1 : 0, name});
}

TEST(Registry, LookupRules) {
    EffectRegistry registry;
    for (const char* name : {"Alpha", "", static_cast<const char*>(nullptr)})
        EXPECT_EQ(lookUp(registry, name, false), nullptr); // empty registry
    EXPECT_EQ(registry.last(), nullptr);

    registry.registerEffect("Alpha", createFirst);
    registry.registerEffect("", createSecond);
    registry.registerEffect("alpha", createSecond);
    EXPECT_EQ(lookUp(registry, "alpha", true), kSecond);
    EXPECT_EQ(lookUp(registry, "ALPHA", true), nullptr);
    EXPECT_EQ(lookUp(registry, "ALPHA", false), kFirst); // the first match wins
    EXPECT_EQ(lookUp(registry, "Alph", false), nullptr);
    EXPECT_EQ(lookUp(registry, "Alphas", false), nullptr);
    EXPECT_EQ(lookUp(registry, "", true), kSecond); // only the node named ""
    EXPECT_EQ(lookUp(registry, nullptr, true), nullptr);

    registry.registerEffect(nullptr, createFirst); // matches only a null key
    EXPECT_EQ(lookUp(registry, nullptr, true), kFirst);
    EXPECT_EQ(lookUp(registry, "Beta", false), nullptr);

    const EffectFactory* tail = nullptr;
    int nodes = 0;
    for (const EffectFactory* node = registry.first(); node; node = node->next, ++nodes) {
        EXPECT_EQ(node->prev, tail);
        tail = node;
    }
    EXPECT_EQ(nodes, 4);
    EXPECT_EQ(registry.last(), tail);
    EXPECT_EQ(tail->name, nullptr);
}

// Effects register as they are built, but always in the suite's fixed order;
// the last one is the fall-back of an instance configured without a name.
TEST(Registry, SuiteKeepsTheFixedOrder) {
    const std::vector<std::string> order = {"Limiter", "RC Filter", "Tremolo",  "Phaser",   "mDelay",
                                            "Rectifier", "Ringmod", "Quantizer", "Clipper", "Reverb",
                                            "Gate",    "Follower", "Vocal",     "Compressor", "Multiplier"};
    std::size_t position = 0;
    int registered = 0;
    bool hasTremolo = false;
    for (const EffectFactory* node = EffectRegistry::suite().first(); node; node = node->next, ++registered) {
        ASSERT_NE(node->name, nullptr);
        const std::string name = node->name;
        hasTremolo |= name == "Tremolo";
        while (position < order.size() && order[position] != name)
            ++position;
        ASSERT_LT(position, order.size()) << name << " is out of order or not a suite effect";
        ++position;

        HostedEffect* effect = node->create();
        ASSERT_NE(effect, nullptr);
        EXPECT_STREQ(effect->name, node->name);
        delete effect;
    }
    EXPECT_TRUE(hasTremolo);
    EXPECT_EQ(EffectRegistry::suite().last()->next, nullptr);
    EXPECT_LE(registered, 15);
}

} // namespace
} // namespace quor
