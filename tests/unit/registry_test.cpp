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

TEST(Registry, EmptyRegistryFindsNothing) {
    EffectRegistry registry;
    EXPECT_EQ(registry.first(), nullptr);
    EXPECT_EQ(registry.last(), nullptr);
    for (const char* name : {"Tremolo", "", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(lookUp(registry, name, true), nullptr);
        EXPECT_EQ(lookUp(registry, name, false), nullptr);
    }
}

TEST(Registry, CaseRulesEmptyNamesAndNullPointers) {
    EffectRegistry registry;
    registry.registerEffect("Alpha", createFirst);
    registry.registerEffect("", createSecond);

    EXPECT_EQ(lookUp(registry, "Alpha", true), kFirst);
    EXPECT_EQ(lookUp(registry, "alpha", true), nullptr);
    EXPECT_EQ(lookUp(registry, "alpha", false), kFirst);
    EXPECT_EQ(lookUp(registry, "ALPHA", false), kFirst);
    EXPECT_EQ(lookUp(registry, "Alph", false), nullptr); // a prefix is no match
    EXPECT_EQ(lookUp(registry, "Alphas", false), nullptr);

    // The empty string matches only the node named "".
    EXPECT_EQ(lookUp(registry, "", true), kSecond);
    EXPECT_EQ(lookUp(registry, "", false), kSecond);

    // A null key matches no named node; a null-named node matches only a null key.
    EXPECT_EQ(lookUp(registry, nullptr, true), nullptr);
    registry.registerEffect(nullptr, createFirst);
    EXPECT_EQ(lookUp(registry, nullptr, true), kFirst);
    EXPECT_EQ(lookUp(registry, "Beta", false), nullptr);
}

TEST(Registry, FirstMatchWinsAndNodesChainInOrder) {
    EffectRegistry registry;
    registry.registerEffect("Dup", createFirst);
    registry.registerEffect("Other", createFirst);
    registry.registerEffect("Dup", createSecond);
    EXPECT_EQ(lookUp(registry, "Dup", true), kFirst);
    EXPECT_EQ(lookUp(registry, "dup", false), kFirst);

    std::vector<std::string> forward;
    const EffectFactory* tail = nullptr;
    for (const EffectFactory* node = registry.first(); node; node = node->next) {
        EXPECT_EQ(node->prev, tail);
        forward.emplace_back(node->name);
        tail = node;
    }
    EXPECT_EQ(forward, (std::vector<std::string>{"Dup", "Other", "Dup"}));
    EXPECT_EQ(registry.last(), tail);
    EXPECT_EQ(registry.last()->create, createSecond);
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
