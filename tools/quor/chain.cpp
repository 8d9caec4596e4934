#include "tools/quor/chain.h"

#include "tools/quor/error.h"
#include "tools/quor/parameters.h"
#include "tools/quor/plugin.h"
#include "tools/quor/plugin_locator.h"
#include "tools/quor/preset_file.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace quor::cli {

namespace {

// Spare input and output slots beyond the declared channels, so that a
// plug-in miscounting its channels reads silence instead of stray memory.
constexpr int kSpareChannelSlots = 8;

} // namespace

std::unique_ptr<Plugin> loadPlugin(const PluginChoice& choice) {
    if (!choice.effect.empty() && !choice.path.empty())
        throw Error("give either --effect or --plugin, not both");
    if (!choice.path.empty()) return Plugin::load(choice.path);
    if (!choice.effect.empty()) return Plugin::load(locateEffect(choice.effect));
    throw Error("choose a plug-in with --effect NAME or --plugin PATH");
}

int renderChannels(const Plugin& plugin) {
    return std::min(plugin.numOutputs(), 2);
}

Chain::Chain(const std::vector<StageOptions>& stages, double sampleRate, int maxBlockFrames) {
    for (const StageOptions& stage : stages) {
        const std::size_t k = plugins.size();
        const std::string where = stages.size() > 1 ? "stage " + std::to_string(k + 1) + ": " : "";
        try {
            plugins.push_back(loadPlugin(stage.plugin));
            Plugin& p = *plugins.back();
            if (!stage.sidechain.empty() && p.numInputs() <= 2)
                throw Error(p.effectName() + " has no side-chain inputs for " + stage.sidechain);
            if (renderChannels(p) < 1) throw Error(p.effectName() + " has no audio outputs");
            p.configure(sampleRate, maxBlockFrames);
            if (!stage.preset.empty()) applyPreset(p, loadPresetFile(stage.preset));
            applySettings(p, stage.settings);
        } catch (const Error& e) {
            throw Error(where + e.what());
        }
    }
}

Chain::~Chain() = default;

StageRunner::StageRunner(Plugin& plugin, int maxBlockFrames)
    : stagePlugin(plugin), numInputs(plugin.numInputs()), outChannels(renderChannels(plugin)) {
    // Every buffer is allocated here; the block loop only copies.
    const auto frames = static_cast<std::size_t>(maxBlockFrames);
    const int numOutputs = plugin.numOutputs();
    inBuffers.assign(static_cast<std::size_t>(numInputs) + 1, std::vector<float>(frames));
    outBuffers.assign(static_cast<std::size_t>(numOutputs) + 1, std::vector<float>(frames));
    inPointers.assign(static_cast<std::size_t>(numInputs + kSpareChannelSlots), inBuffers.back().data());
    outPointers.assign(static_cast<std::size_t>(numOutputs + kSpareChannelSlots), outBuffers.back().data());
    for (int c = 0; c < numInputs; ++c)
        inPointers[static_cast<std::size_t>(c)] = inBuffers[static_cast<std::size_t>(c)].data();
    for (int c = 0; c < numOutputs; ++c)
        outPointers[static_cast<std::size_t>(c)] = outBuffers[static_cast<std::size_t>(c)].data();
    nextMain[0] = outPointers[0];
    nextMain[1] = outPointers[outChannels > 1 ? 1 : 0];
}

void StageRunner::process(const float* const* main, const float* const* side, int frames) {
    auto mid = [frames](float* dest, const float* a, const float* b) {
        for (int i = 0; i < frames; ++i)
            dest[i] = 0.5f * (a[i] + b[i]);
    };
    for (int c = 0; c < numInputs; ++c) {
        float* dest = inPointers[static_cast<std::size_t>(c)];
        if (c == 0 && numInputs == 1)
            mid(dest, main[0], main[1]);
        else if (c < 2)
            std::copy_n(main[c], frames, dest);
        else if (c == 2 && numInputs == 3)
            mid(dest, side[0], side[1]);
        else if (c < 4)
            std::copy_n(side[c - 2], frames, dest);
        else
            std::fill_n(dest, frames, 0.0f);
    }
    std::fill(inBuffers.back().begin(), inBuffers.back().end(), 0.0f);

    const auto started = std::chrono::steady_clock::now();
    stagePlugin.process(inPointers.data(), outPointers.data(), frames);
    processSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

void StageRunner::silenceNonFinite(int from, int frames) {
    for (int c = 0; c < outChannels; ++c) {
        float* out = outPointers[static_cast<std::size_t>(c)];
        for (int i = from; i < frames; ++i)
            if (!std::isfinite(out[i])) {
                out[i] = 0.0f;
                ++nonFinite;
            }
    }
}

} // namespace quor::cli
