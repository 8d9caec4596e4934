#include "tools/quor/bench.h"

#include "tools/quor/demo_signal.h"
#include "tools/quor/plugin.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace quor::cli {

namespace {

constexpr double kTurnSeconds = 0.25;
constexpr double kNoiseSeconds = 1.0;
constexpr float kNoiseLevel = 0.25f; // about -12 dBFS peak
constexpr int kSpareChannelSlots = 8;

struct Runner {
    Plugin* plugin;
    std::vector<std::vector<float>> outputs;
    std::vector<float*> in;
    std::vector<float*> out;
    std::int64_t blocksLeft = 0;
    BenchFigures figures;
};

} // namespace

std::vector<BenchFigures> runBenchmark(const std::vector<Plugin*>& plugins, double sampleRate,
                                       int blockFrames, double audioSeconds) {
    const auto block = static_cast<std::size_t>(blockFrames);
    int maxInputs = 2;
    for (Plugin* p : plugins)
        maxInputs = std::max(maxInputs, p->numInputs());

    // A noise loop of whole blocks per input; each block reads a window of it.
    const std::size_t loopBlocks =
        std::max<std::size_t>(1, static_cast<std::size_t>(kNoiseSeconds * sampleRate) / block);
    std::vector<std::vector<float>> noise(static_cast<std::size_t>(maxInputs) + 1);
    for (std::size_t c = 0; c < noise.size(); ++c) {
        NoiseSource source(12345u + 977u * static_cast<unsigned>(c));
        noise[c].resize(loopBlocks * block);
        for (float& x : noise[c])
            x = c + 1 == noise.size() ? 0.0f : kNoiseLevel * source.next();
    }

    const std::int64_t totalBlocks =
        std::max<std::int64_t>(1, std::llround(std::ceil(audioSeconds * sampleRate / blockFrames)));
    const std::int64_t turnBlocks =
        std::max<std::int64_t>(1, std::llround(kTurnSeconds * sampleRate / blockFrames));

    std::vector<Runner> runners;
    for (Plugin* p : plugins) {
        Runner r{p, {}, {}, {}, totalBlocks, {}};
        r.figures.name = p->effectName();
        r.outputs.assign(static_cast<std::size_t>(p->numOutputs()) + 1, std::vector<float>(block));
        r.in.assign(static_cast<std::size_t>(p->numInputs() + kSpareChannelSlots), noise.back().data());
        r.out.assign(static_cast<std::size_t>(p->numOutputs() + kSpareChannelSlots), r.outputs.back().data());
        for (int c = 0; c < p->numOutputs(); ++c)
            r.out[static_cast<std::size_t>(c)] = r.outputs[static_cast<std::size_t>(c)].data();
        runners.push_back(std::move(r));
    }

    std::size_t loopPosition = 0;
    auto runTurn = [&](Runner& r, std::int64_t blocks, bool timed) {
        const auto started = std::chrono::steady_clock::now();
        for (std::int64_t b = 0; b < blocks; ++b) {
            const std::size_t offset = ((loopPosition + static_cast<std::size_t>(b)) % loopBlocks) * block;
            for (int c = 0; c < r.plugin->numInputs(); ++c)
                r.in[static_cast<std::size_t>(c)] = noise[static_cast<std::size_t>(c)].data() + offset;
            r.plugin->process(r.in.data(), r.out.data(), blockFrames);
        }
        if (!timed) return;
        r.figures.seconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        r.figures.frames += blocks * blockFrames;
    };

    for (Runner& r : runners) {
        r.plugin->start();
        runTurn(r, turnBlocks, false); // warm caches and let lazy set-up happen
    }
    for (bool more = true; more;) {
        more = false;
        for (Runner& r : runners) {
            const std::int64_t n = std::min(turnBlocks, r.blocksLeft);
            if (n <= 0) continue;
            runTurn(r, n, true);
            r.blocksLeft -= n;
            more = more || r.blocksLeft > 0;
        }
        loopPosition += static_cast<std::size_t>(turnBlocks);
    }

    std::vector<BenchFigures> figures;
    for (Runner& r : runners) {
        r.plugin->stop();
        figures.push_back(r.figures);
    }
    return figures;
}

} // namespace quor::cli
