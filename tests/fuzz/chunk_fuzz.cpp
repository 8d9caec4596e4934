// libFuzzer target: arbitrary bytes as a saved state for any effect, then
// processing, display and save calls; it traps on a stored value outside its
// range, non-finite output from finite input and a display text beyond 64
// characters. Input: byte 0 selects the effect, byte 1 holds flags (bit 0
// program, bits 1-3 rate, bit 4 restore before the rate, bit 5 accumulating
// call too, bit 6 restore again while processing), the rest is the chunk.
// Built with QUOR_CHUNK_SEEDS it writes the seed corpus: quor_chunk_seeds <dir>.
#include "framework/registry.h"
#include "host/plugin_instance.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace quor {
namespace {

constexpr float kRates[8] = {8000.0f, 22050.0f, 44100.0f, 48000.0f, 96000.0f, 192000.0f, 384000.0f, 1e9f};

std::vector<const EffectFactory*> suiteEffects() {
    std::vector<const EffectFactory*> effects;
    for (const EffectFactory* f = EffectRegistry::suite().first(); f; f = f->next)
        effects.push_back(f);
    return effects;
}

VstIntPtr silentHost(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

void check(bool ok) {
    if (!ok) __builtin_trap();
}

void processNoise(AEffect* fx, std::uint32_t& seed, VstInt32 frames, bool replacing) {
    const auto n = static_cast<std::size_t>(frames);
    std::vector<float> in(4 * n), out(2 * n, 0.0f);
    for (float& x : in)
        x = static_cast<float>(static_cast<std::int32_t>(seed = seed * 1664525u + 1013904223u)) /
            2147483648.0f;
    float* inputs[4] = {&in[0], &in[n], &in[2 * n], &in[3 * n]};
    float* outputs[2] = {&out[0], &out[n]};
    (replacing ? fx->processReplacing : fx->process)(fx, inputs, outputs, frames);
    for (float y : out)
        check(std::isfinite(y));
}

} // namespace
} // namespace quor

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quor;
    static const std::vector<const EffectFactory*> effects = suiteEffects();
    if (size < 2 || effects.empty()) return 0;
    const std::uint8_t flags = data[1];
    // The chunk in a buffer of exactly its size: a read past the host's byte
    // count is an address-sanitizer report.
    const std::size_t chunkBytes = size - 2;
    std::unique_ptr<std::uint8_t[]> chunk(new std::uint8_t[chunkBytes]);
    std::memcpy(chunk.get(), data + 2, chunkBytes);

    PluginInstance instance(silentHost, effects[data[0] % effects.size()]->name, EffectRegistry::suite());
    AEffect* fx = instance.effectRecord();
    const auto restore = [&] {
        fx->dispatcher(fx, effSetChunk, flags & 1, static_cast<VstIntPtr>(chunkBytes), chunk.get(), 0.0f);
    };
    fx->dispatcher(fx, effOpen, 0, 0, nullptr, 0.0f);
    if (flags & 0x10) restore();
    fx->dispatcher(fx, effSetSampleRate, 0, 0, nullptr, kRates[(flags >> 1) & 7]);
    fx->dispatcher(fx, effMainsChanged, 0, 1, nullptr, 0.0f);
    if (!(flags & 0x10)) restore();

    std::uint32_t seed = 0x1234567u + flags;
    processNoise(fx, seed, 64, true);
    if (flags & 0x20) processNoise(fx, seed, 17, false);
    if (flags & 0x40) {
        restore();
        processNoise(fx, seed, 3, true);
    }
    const HostedEffect* effect = instance.wrappedEffect();
    char text[256];
    for (VstInt32 i = 0; i < fx->numParams; ++i) {
        check(effect->values[i] >= effect->params[i].min && effect->values[i] <= effect->params[i].max);
        const float normalised = fx->getParameter(fx, i);
        check(normalised >= 0.0f && normalised <= 1.0f);
        std::memset(text, 'x', sizeof text);
        fx->dispatcher(fx, effGetParamDisplay, i, 0, text, 0.0f);
        check(std::memchr(text, 0, 64) != nullptr);
    }
    void* saved = nullptr;
    check(fx->dispatcher(fx, effGetChunk, 0, 0, &saved, 0.0f) > 0 && saved != nullptr);
    fx->dispatcher(fx, effMainsChanged, 0, 0, nullptr, 0.0f);
    return 0;
}

#ifdef QUOR_CHUNK_SEEDS
// Valid states as the plug-ins save them (defaults, all minima, all maxima, a
// mix) for every registered effect; the fuzzer runs each through its checks first.
int main(int argc, char** argv) {
    using namespace quor;
    if (argc != 2) return 2; // usage: quor_chunk_seeds <directory>
    const std::vector<const EffectFactory*> effects = suiteEffects();
    for (std::size_t e = 0; e < effects.size(); ++e)
        for (int setting = 0; setting < 4; ++setting) {
            PluginInstance instance(silentHost, effects[e]->name, EffectRegistry::suite());
            AEffect* fx = instance.effectRecord();
            for (VstInt32 i = 0; i < fx->numParams && setting > 0; ++i)
                fx->setParameter(fx, i,
                                 setting == 3 ? static_cast<float>(i * 7 % 10) / 9.0f : setting - 1.0f);
            std::vector<std::uint8_t> input{static_cast<std::uint8_t>(e),
                                            static_cast<std::uint8_t>((setting * 3) << 1 | setting)};
            void* data = nullptr;
            const VstIntPtr size = fx->dispatcher(fx, effGetChunk, 0, 0, &data, 0.0f);
            input.insert(input.end(), static_cast<std::uint8_t*>(data),
                         static_cast<std::uint8_t*>(data) + size);
            std::ofstream file(std::string(argv[1]) + "/" + std::to_string(e) + "-" + std::to_string(setting),
                               std::ios::binary);
            if (!file.write(reinterpret_cast<const char*>(input.data()),
                            static_cast<std::streamsize>(input.size())))
                return 1;
        }
    return effects.empty() ? 1 : 0;
}
#endif
