// Allocation failure at every allocation a host call sequence makes, for
// every registered effect: no exception may leave the plug-in's C interface,
// and once memory is back the instance must work again.
//
// This executable replaces the global allocator so that one chosen
// allocation on the test thread throws std::bad_alloc.
#include "framework/registry.h"
#include "host/plugin_instance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

// The replacement pairs malloc with free; GCC cannot see that pairing through
// the replaced operators and warns where the standard ones are mixed.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
thread_local long allocationsBeforeFailure = -1; // -1: none fails
thread_local long allocationsCounted = 0;
} // namespace

void* operator new(std::size_t size) {
    ++allocationsCounted;
    if (allocationsBeforeFailure == 0) {
        allocationsBeforeFailure = -1;
        throw std::bad_alloc();
    }
    if (allocationsBeforeFailure > 0) --allocationsBeforeFailure;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
// The array forms too: a sanitizer runtime would otherwise serve them itself.
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace quor {
namespace {

VstIntPtr quietHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == 1 ? 2400 : 0;
}

// Everything the test itself needs while allocations may fail is allocated
// beforehand, so that only the plug-in's own allocations are counted.
struct Scratch {
    explicit Scratch(const std::vector<std::uint8_t>& savedState)
        : state(savedState), copy(savedState), in(4 * kMaxFrames), out(2 * kMaxFrames) {
        for (std::size_t k = 0; k < in.size(); ++k)
            in[k] = std::sin(0.05f * static_cast<float>(k));
    }
    static constexpr std::size_t kMaxFrames = 512;
    const std::vector<std::uint8_t>& state;
    std::vector<std::uint8_t> copy;
    std::vector<float> in;
    std::vector<float> out;
    char text[256] = {};
};

bool processesFinite(AEffect* fx, Scratch& scratch, VstInt32 frames) {
    const std::size_t n = Scratch::kMaxFrames;
    float* inputs[4] = {scratch.in.data(), scratch.in.data() + n, scratch.in.data() + 2 * n,
                        scratch.in.data() + 3 * n};
    float* outputs[2] = {scratch.out.data(), scratch.out.data() + n};
    fx->processReplacing(fx, inputs, outputs, frames);
    for (float y : scratch.out)
        if (!std::isfinite(y)) return false;
    return true;
}

// What a host does when it loads a project: rate, block size, resume, the
// saved state, a look at the parameters, a few blocks, a rate change.
void hostSession(AEffect* fx, Scratch& scratch) {
    fx->dispatcher(fx, effSetSampleRate, 0, 0, nullptr, 48000.0f);
    fx->dispatcher(fx, effSetBlockSize, 0, 256, nullptr, 0.0f);
    fx->dispatcher(fx, effMainsChanged, 0, 1, nullptr, 0.0f);
    std::copy(scratch.state.begin(), scratch.state.end(), scratch.copy.begin());
    fx->dispatcher(fx, effSetChunk, 0, static_cast<VstIntPtr>(scratch.copy.size()), scratch.copy.data(),
                   0.0f);
    for (VstInt32 i = 0; i < fx->numParams; ++i) {
        fx->setParameter(fx, i, 1.0f - fx->getParameter(fx, i));
        fx->dispatcher(fx, effGetParamDisplay, i, 0, scratch.text, 0.0f);
    }
    void* saved = nullptr;
    fx->dispatcher(fx, effGetChunk, 1, 0, &saved, 0.0f);
    processesFinite(fx, scratch, 256);
    fx->dispatcher(fx, effMainsChanged, 0, 0, nullptr, 0.0f);
    fx->dispatcher(fx, effSetSampleRate, 0, 0, nullptr, 96000.0f);
    fx->dispatcher(fx, effMainsChanged, 0, 1, nullptr, 0.0f);
    processesFinite(fx, scratch, 64);
}

std::vector<std::uint8_t> savedState(const char* effectName) {
    PluginInstance donor(quietHost, effectName, EffectRegistry::suite());
    AEffect* fx = donor.effectRecord();
    for (VstInt32 i = 0; i < fx->numParams; ++i)
        fx->setParameter(fx, i, static_cast<float>(i % 5) / 4.0f);
    void* data = nullptr;
    const VstIntPtr size = fx->dispatcher(fx, effGetChunk, 0, 0, &data, 0.0f);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    return std::vector<std::uint8_t>(bytes, bytes + size);
}

TEST(AllocationFailure, NeverEscapesAndTheInstanceRecovers) {
    for (const EffectFactory* f = EffectRegistry::suite().first(); f; f = f->next) {
        SCOPED_TRACE(f->name);
        const std::vector<std::uint8_t> state = savedState(f->name);
        Scratch scratch(state);

        long sessionAllocations;
        {
            PluginInstance instance(quietHost, f->name, EffectRegistry::suite());
            allocationsCounted = 0;
            hostSession(instance.effectRecord(), scratch);
            sessionAllocations = allocationsCounted;
        }
        EXPECT_GT(sessionAllocations, 0);
        for (long k = 0; k < sessionAllocations; ++k) {
            SCOPED_TRACE("failing allocation " + std::to_string(k) + " of " +
                         std::to_string(sessionAllocations));
            PluginInstance instance(quietHost, f->name, EffectRegistry::suite());
            AEffect* fx = instance.effectRecord();
            allocationsBeforeFailure = k;
            bool escaped = false;
            try {
                hostSession(fx, scratch);
            } catch (...) {
                escaped = true;
            }
            allocationsBeforeFailure = -1;
            ASSERT_FALSE(escaped) << "an exception crossed the plug-in interface";

            // Memory is back: the same session again leaves a working instance.
            hostSession(fx, scratch);
            fx->dispatcher(fx, effMainsChanged, 0, 0, nullptr, 0.0f);
            fx->dispatcher(fx, effMainsChanged, 0, 1, nullptr, 0.0f);
            ASSERT_TRUE(processesFinite(fx, scratch, 512));
        }
    }
}

// Creation that runs out of memory part-way throws (the entry point turns
// that into a null instance) and leaves nothing behind; the leak checker of
// the address-sanitizer build sees to the second half.
TEST(AllocationFailure, CreationFailsCleanly) {
    for (const EffectFactory* f = EffectRegistry::suite().first(); f; f = f->next) {
        SCOPED_TRACE(f->name);
        allocationsCounted = 0;
        { PluginInstance instance(quietHost, f->name, EffectRegistry::suite()); }
        const long creationAllocations = allocationsCounted;
        for (long k = 0; k < creationAllocations; ++k) {
            allocationsBeforeFailure = k;
            try {
                PluginInstance instance(quietHost, f->name, EffectRegistry::suite());
            } catch (const std::bad_alloc&) {
            }
            allocationsBeforeFailure = -1;
        }
    }
}

} // namespace
} // namespace quor
