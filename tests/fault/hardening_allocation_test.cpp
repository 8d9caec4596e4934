// Each allocation that creating an instance and a host session make fails in
// turn: creation may fail (the address sanitizer's leak checker sees that
// nothing is left behind), but no exception may leave the C interface, and
// once memory is back the instance must work again.
#include "framework/registry.h"
#include "host/plugin_instance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
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
    if (allocationsBeforeFailure >= 0 && allocationsBeforeFailure-- == 0) throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
// The array forms too: a sanitizer runtime would otherwise serve them itself.
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
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
    return opcode == audioMasterVersion ? 2400 : 0;
}

// A host loading a project; true when the audio comes out finite. The caller
// owns the audio, so that only the plug-in's allocations count.
bool hostSession(AEffect* fx, std::vector<float>& audio) {
    const auto call = [fx](VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr = nullptr,
                           float opt = 0) { return fx->dispatcher(fx, opcode, index, value, ptr, opt); };
    float* in[4] = {&audio[0], &audio[512], &audio[1024], &audio[1536]};
    float* out[2] = {&audio[2048], &audio[2560]};
    char text[256];
    void* saved = nullptr;
    call(effSetSampleRate, 0, 0, nullptr, 48000.0f);
    call(effSetBlockSize, 0, 256);
    call(effMainsChanged, 0, 1);
    const VstIntPtr size = call(effGetChunk, 0, 0, &saved);
    for (VstInt32 i = 0; i < fx->numParams; ++i) {
        fx->setParameter(fx, i, static_cast<float>(i % 5) / 4.0f);
        call(effGetParamDisplay, i, 0, text);
    }
    call(effSetChunk, 0, size, saved);
    call(effGetChunk, 1, 0, &saved);
    fx->processReplacing(fx, in, out, 256);
    call(effMainsChanged, 0, 0);
    call(effSetSampleRate, 0, 0, nullptr, 96000.0f);
    call(effMainsChanged, 0, 1);
    fx->processReplacing(fx, in, out, 512);
    return std::all_of(audio.begin() + 2048, audio.end(), [](float y) { return std::isfinite(y); });
}

TEST(AllocationFailure, NeverEscapesAndTheInstanceRecovers) {
    std::vector<float> audio(3072);
    for (std::size_t k = 0; k < 2048; ++k)
        audio[k] = std::sin(0.05f * static_cast<float>(k));
    for (const EffectFactory* f = EffectRegistry::suite().first(); f; f = f->next) {
        SCOPED_TRACE(f->name);
        const auto create = [f] { return new PluginInstance(quietHost, f->name, EffectRegistry::suite()); };
        allocationsCounted = 0;
        hostSession(std::unique_ptr<PluginInstance>(create())->effectRecord(), audio);
        const long total = allocationsCounted;
        EXPECT_GT(total, 0);
        for (long k = 0; k < total; ++k) {
            SCOPED_TRACE("failing allocation " + std::to_string(k) + " of " + std::to_string(total));
            std::unique_ptr<PluginInstance> instance;
            allocationsBeforeFailure = k;
            try {
                instance.reset(create());
                hostSession(instance->effectRecord(), audio);
            } catch (...) {
                // Creation may fail; the failing allocation has disarmed the next ones.
                ASSERT_FALSE(instance) << "an exception crossed the plug-in interface";
            }
            allocationsBeforeFailure = -1;
            // Memory is back: the same session again plays finite audio.
            if (instance) {
                ASSERT_TRUE(hostSession(instance->effectRecord(), audio));
            }
        }
    }
}

} // namespace
} // namespace quor
