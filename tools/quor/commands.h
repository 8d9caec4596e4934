// The subcommands of quor, callable without the argument parser. Each throws
// Error for anything the user has to fix and returns the exit status.
#pragma once

#include <memory>
#include <ostream>
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

struct RenderOptions {
    std::string input;
    std::string output;
    PluginChoice plugin;
    std::vector<std::string> settings; // PARAM=VALUE
    std::string preset;
    std::string sidechain;
    int blockSize = 512;
    std::string tail = "0";
    bool compensateLatency = true;
    std::string encoding; // empty: the input's
    bool progress = true;
};
int runRender(const RenderOptions& options, std::ostream& out);

struct InfoOptions {
    PluginChoice plugin;
    double sampleRate = 48000.0;
};
int runInfo(const InfoOptions& options, std::ostream& out);

struct PresetOptions {
    std::string action; // save, load or show
    std::string file;
    PluginChoice plugin;
    std::vector<std::string> settings;
    std::string from; // save: start from this preset
    std::string name; // save: program name
};
int runPreset(const PresetOptions& options, std::ostream& out);

struct BenchOptions {
    PluginChoice plugin;
    std::string versus;
    double sampleRate = 48000.0;
    int blockSize = 512;
    double seconds = 20.0;
    std::vector<std::string> settings;
};
int runBench(const BenchOptions& options, std::ostream& out);

struct DemoOptions {
    PluginChoice plugin{"Reverb", ""};
    std::string output = "out/demo-reverb.wav";
    std::vector<std::string> settings;
    bool progress = true;
};
int runDemo(const DemoOptions& options, std::ostream& out);

} // namespace quor::cli
