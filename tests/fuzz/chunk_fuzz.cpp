// libFuzzer target: arbitrary bytes as a saved state for any effect of the
// suite, followed by processing, display and save calls. Beyond what the
// sanitizers catch, it traps on any stored value outside its parameter's
// range, any non-finite output from finite input and any display text that
// overruns the host's 64 characters.
#include "tests/fuzz/fuzz_rig.h"

#include "host/plugin_instance.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace quor::fuzz {
namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

void processNoise(AEffect* fx, std::uint32_t& seed, VstInt32 frames, bool replacing) {
    const std::size_t n = static_cast<std::size_t>(frames);
    std::vector<float> in(4 * n);
    std::vector<float> out(2 * n, 0.0f);
    for (float& x : in) {
        seed = seed * 1664525u + 1013904223u;
        x = static_cast<float>(static_cast<std::int32_t>(seed)) * (1.0f / 2147483648.0f);
    }
    float* inputs[4] = {in.data(), in.data() + n, in.data() + 2 * n, in.data() + 3 * n};
    float* outputs[2] = {out.data(), out.data() + n};
    if (replacing)
        fx->processReplacing(fx, inputs, outputs, frames);
    else
        fx->process(fx, inputs, outputs, frames);
    for (float y : out)
        check(std::isfinite(y));
}

void checkState(PluginInstance& instance, AEffect* fx) {
    const HostedEffect* effect = instance.wrappedEffect();
    char text[256];
    for (VstInt32 i = 0; i < fx->numParams; ++i) {
        const ParamInfo& row = effect->params[i];
        const float v = effect->values[i];
        check(v >= row.min && v <= row.max);
        const float normalised = fx->getParameter(fx, i);
        check(normalised >= 0.0f && normalised <= 1.0f);
        std::memset(text, 'x', sizeof text);
        fx->dispatcher(fx, effGetParamDisplay, i, 0, text, 0.0f);
        check(std::memchr(text, 0, 64) != nullptr);
    }
    void* saved = nullptr;
    const VstIntPtr size = fx->dispatcher(fx, effGetChunk, 0, 0, &saved, 0.0f);
    check(size > 0 && saved != nullptr);
}

} // namespace
} // namespace quor::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quor;
    using namespace quor::fuzz;
    static const std::vector<const EffectFactory*> effects = suiteEffects();
    if (size < 2 || effects.empty()) return 0;
    const EffectFactory* factory = effects[data[0] % effects.size()];
    const std::uint8_t flags = data[1];

    // The chunk in a buffer of exactly its size, so that any read past the
    // host's byte count is an address-sanitizer report.
    const std::size_t chunkBytes = size - 2;
    std::unique_ptr<std::uint8_t[]> chunk(new std::uint8_t[chunkBytes ? chunkBytes : 1]);
    if (chunkBytes) std::memcpy(chunk.get(), data + 2, chunkBytes);

    PluginInstance instance(silentHost, factory->name, EffectRegistry::suite());
    AEffect* fx = instance.effectRecord();
    const VstInt32 preset = (flags & kPresetChunk) ? 1 : 0;
    auto restore = [&] {
        fx->dispatcher(fx, effSetChunk, preset, static_cast<VstIntPtr>(chunkBytes), chunk.get(), 0.0f);
    };

    fx->dispatcher(fx, effOpen, 0, 0, nullptr, 0.0f);
    if (flags & kChunkBeforeRate) restore();
    fx->dispatcher(fx, effSetSampleRate, 0, 0, nullptr, kRates[(flags & kRateMask) >> kRateShift]);
    fx->dispatcher(fx, effMainsChanged, 0, 1, nullptr, 0.0f);
    if (!(flags & kChunkBeforeRate)) restore();

    std::uint32_t seed = 0x1234567u + flags;
    processNoise(fx, seed, 64, true);
    if (flags & kAccumulate) processNoise(fx, seed, 17, false);
    if (flags & kRestoreTwice) {
        restore();
        processNoise(fx, seed, 3, true);
    }
    checkState(instance, fx);
    fx->dispatcher(fx, effMainsChanged, 0, 0, nullptr, 0.0f);
    return 0;
}
