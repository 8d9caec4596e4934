// A chain of plug-ins: what the command line says about each stage, the
// loaded and set-up stages of one render job, and how a stage is fed block by
// block.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quor::cli {

class Plugin;

// --effect NAME (one of our plug-ins) or --plugin PATH (any VST 2.4 module).
struct PluginChoice {
    std::string effect;
    std::string path;
};
std::unique_ptr<Plugin> loadPlugin(const PluginChoice& choice);

// One stage as given on the command line; `--then` begins the next.
struct StageOptions {
    PluginChoice plugin;
    std::vector<std::string> settings; // PARAM=VALUE, applied after the preset
    std::string preset;
    std::string sidechain;
};

// The plug-ins of one render, in order.
class Chain {
  public:
    // Loads every stage, sets it up for `sampleRate` and `maxBlockFrames`,
    // then applies its preset and its settings. Throws Error, naming the stage
    // when there are several.
    Chain(const std::vector<StageOptions>& stages, double sampleRate, int maxBlockFrames);
    ~Chain();
    Chain(const Chain&) = delete;
    Chain& operator=(const Chain&) = delete;

    std::size_t size() const { return plugins.size(); }
    Plugin& plugin(std::size_t stage) const { return *plugins[stage]; }

  private:
    std::vector<std::unique_ptr<Plugin>> plugins;
};

// Feeds one plug-in block by block. Inputs 0 and 1 take the stage's main
// signal (a mono plug-in its mid), 2 and 3 its side-chain (a single
// side-chain input their mid), further inputs silence; all are refilled every
// block, as a plug-in may scribble on them.
class StageRunner {
  public:
    StageRunner(Plugin& plugin, int maxBlockFrames);

    // `main` and `side` hold two channels of `frames` frames each.
    void process(const float* const* main, const float* const* side, int frames);
    // Writes 0 over samples that are not numbers in the first two outputs
    // from frame `from` on; counts them in nonFinite.
    void silenceNonFinite(int from, int frames);

    Plugin& plugin() const { return stagePlugin; }
    // Channels a render takes from this stage: the plug-in's first two.
    int outputChannels() const { return outChannels; }
    float* output(int channel) const { return outPointers[static_cast<std::size_t>(channel)]; }
    // The first two outputs as the next stage's main signal: a one-output
    // plug-in feeds both channels.
    const float* const* stereoOutput() const { return nextMain; }

    double processSeconds = 0.0;
    std::int64_t nonFinite = 0;

  private:
    Plugin& stagePlugin;
    int numInputs;
    int outChannels;
    std::vector<std::vector<float>> inBuffers;  // one spare at the end
    std::vector<std::vector<float>> outBuffers; // one spare at the end
    std::vector<float*> inPointers;
    std::vector<float*> outPointers;
    const float* nextMain[2] = {nullptr, nullptr};
};

// Output channels a render through `plugin` writes: its first two.
int renderChannels(const Plugin& plugin);

} // namespace quor::cli
