// The process-wide list of effects by name. Effects are registered in one
// explicit order (see effects/effect_list.cpp), so the order, and with it the
// fall-back to the last registered effect, never depends on link order.
#pragma once

#include <cstdint>

namespace quor {

class HostedEffect;
using EffectCreateFunction = HostedEffect* (*)();

struct EffectFactory {
    EffectFactory(const char* effectName, EffectCreateFunction createFunction)
        : name(effectName), create(createFunction) {}
    // Destroying a node destroys the rest of the list behind it.
    virtual ~EffectFactory() { delete next; }
    EffectFactory(const EffectFactory&) = delete;
    EffectFactory& operator=(const EffectFactory&) = delete;

    const char* name;
    EffectCreateFunction create;
    EffectFactory* prev = nullptr;
    EffectFactory* next = nullptr;
};

struct LookupKey {
    std::int64_t caseSensitive;
    const char* name;
};

class EffectRegistry {
public:
    EffectRegistry() = default;
    virtual ~EffectRegistry();
    EffectRegistry(const EffectRegistry&) = delete;
    EffectRegistry& operator=(const EffectRegistry&) = delete;

    // Appends; duplicates are kept, but a lookup only ever reaches the first.
    void registerEffect(const char* name, EffectCreateFunction create);
    // Creates the first effect whose name matches, or returns null.
    HostedEffect* findAndCreate(LookupKey key) const;
    const EffectFactory* find(LookupKey key) const;
    const EffectFactory* first() const { return head; }
    const EffectFactory* last() const;

    // Every effect of the suite, registered in the suite's order on first use.
    static const EffectRegistry& suite();

private:
    EffectFactory* head = nullptr;
};

// Fills a registry with the suite's effects in their fixed order.
void registerSuiteEffects(EffectRegistry& registry);

} // namespace quor
