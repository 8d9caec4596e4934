#include "framework/registry.h"

#include <cctype>
#include <cstring>

namespace quor {

EffectRegistry::~EffectRegistry() {
    delete head;
    head = nullptr;
}

void EffectRegistry::registerEffect(const char* name, EffectCreateFunction create) {
    auto* node = new EffectFactory(name, create);
    if (!head) {
        head = node;
        return;
    }
    EffectFactory* tail = head;
    while (tail->next)
        tail = tail->next;
    node->prev = tail;
    tail->next = node;
}

namespace {
bool namesMatch(const char* a, const char* b, bool caseSensitive) {
    if (a == b) return true;
    if (!a || !b) return false;
    if (caseSensitive) return std::strcmp(a, b) == 0;
    for (;; ++a, ++b) {
        const int ca = std::tolower(static_cast<unsigned char>(*a));
        const int cb = std::tolower(static_cast<unsigned char>(*b));
        if (ca != cb) return false;
        if (ca == 0) return true;
    }
}
} // namespace

const EffectFactory* EffectRegistry::find(LookupKey key) const {
    for (const EffectFactory* node = head; node; node = node->next)
        if (namesMatch(key.name, node->name, key.caseSensitive != 0)) return node;
    return nullptr;
}

HostedEffect* EffectRegistry::findAndCreate(LookupKey key) const {
    const EffectFactory* node = find(key);
    return node ? node->create() : nullptr;
}

const EffectFactory* EffectRegistry::last() const {
    const EffectFactory* node = head;
    while (node && node->next)
        node = node->next;
    return node;
}

const EffectRegistry& EffectRegistry::suite() {
    // Built on first use (thread-safe), destroyed at unload.
    struct SuiteRegistry : EffectRegistry {
        SuiteRegistry() { registerSuiteEffects(*this); }
    };
    static const SuiteRegistry registry;
    return registry;
}

} // namespace quor
