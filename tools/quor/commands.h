// The subcommands of quor, callable without the argument parser. Each throws
// Error for anything the user has to fix and returns the exit status.
#pragma once

#include "tools/quor/chain.h"

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace quor::cli {

struct RenderOptions {
    std::vector<std::string> inputs;
    std::string output;                 // one input: the output file
    std::string outDir;                 // many inputs: where their outputs go
    std::string format;                 // with outDir: the outputs' extension; empty: the input's
    std::vector<StageOptions> chain{1}; // --then begins the next stage
    int jobs = 1;                       // files rendered at a time
    int blockSize = 512;
    std::string tail = "0";
    bool compensateLatency = true;
    std::string encoding; // empty: the input's
    bool json = false;
    bool progress = true;
};
// Throws Error for options that do not fit together (a stage without a
// plug-in, --format without --out-dir, ...).
void checkRenderOptions(const RenderOptions& options);
// One input to one output, or many inputs into a directory (see batch.h).
int runRender(const RenderOptions& options, std::ostream& out);

struct InfoOptions {
    PluginChoice plugin;
    double sampleRate = 48000.0;
    bool json = false;
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
    std::vector<std::string> versusSettings; // PARAM=VALUE for the --vs plug-in
    double sampleRate = 48000.0;
    int blockSize = 512;
    double seconds = 20.0;
    std::vector<std::string> settings;
};
int runBench(const BenchOptions& options, std::ostream& out);

struct DemoOptions {
    PluginChoice plugin{"Reverb", ""};
    std::string output; // empty: out/demo-<effect>.wav
    std::vector<std::string> settings;
    bool progress = true;
};
int runDemo(const DemoOptions& options, std::ostream& out);

} // namespace quor::cli
