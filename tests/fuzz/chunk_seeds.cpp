// Writes the chunk fuzzer's seed corpus: for every registered effect, valid
// states as the plug-in itself saves them (defaults, all minima, all maxima,
// a mixed setting), each behind the effect selector and a flags byte.
//
//   quor_chunk_seeds <directory>
#include "tests/fuzz/fuzz_rig.h"

#include "host/plugin_instance.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    using namespace quor;
    using namespace quor::fuzz;
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
        return 2;
    }
    const std::vector<const EffectFactory*> effects = suiteEffects();
    int written = 0;
    for (std::size_t e = 0; e < effects.size(); ++e) {
        for (int setting = 0; setting < 4; ++setting) {
            PluginInstance instance(silentHost, effects[e]->name, EffectRegistry::suite());
            AEffect* fx = instance.effectRecord();
            for (VstInt32 i = 0; i < fx->numParams; ++i) {
                if (setting == 1) fx->setParameter(fx, i, 0.0f);
                if (setting == 2) fx->setParameter(fx, i, 1.0f);
                if (setting == 3) fx->setParameter(fx, i, static_cast<float>((i * 7) % 10) / 9.0f);
            }
            void* data = nullptr;
            const VstIntPtr size = fx->dispatcher(fx, effGetChunk, 0, 0, &data, 0.0f);
            if (size <= 0 || !data) continue;

            const std::string path =
                std::string(argv[1]) + "/" + std::to_string(e) + "-" + std::to_string(setting);
            std::FILE* file = std::fopen(path.c_str(), "wb");
            if (!file) {
                std::perror(path.c_str());
                return 1;
            }
            const unsigned char header[2] = {
                static_cast<unsigned char>(e),
                static_cast<unsigned char>((setting * 3) << kRateShift | setting)};
            std::fwrite(header, 1, sizeof header, file);
            std::fwrite(data, 1, static_cast<std::size_t>(size), file);
            std::fclose(file);
            ++written;
        }
    }
    std::printf("%d seed chunks written to %s\n", written, argv[1]);
    return written > 0 ? 0 : 1;
}
