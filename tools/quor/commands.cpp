#include "tools/quor/commands.h"

#include "tools/quor/audio_file.h"
#include "tools/quor/batch.h"
#include "tools/quor/bench.h"
#include "tools/quor/demo_signal.h"
#include "tools/quor/error.h"
#include "tools/quor/json.h"
#include "tools/quor/parameters.h"
#include "tools/quor/plugin.h"
#include "tools/quor/preset_file.h"
#include "tools/quor/render.h"
#include "tools/quor/report.h"
#include "tools/quor/signal_stats.h"

#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>

namespace quor::cli {

namespace {

constexpr int kMaxBlockFrames = 65536;
constexpr double kMinRate = 1000.0;
constexpr double kMaxRate = 768000.0;
// Each job writes one file at a time; a crash must find every one of them.
constexpr int kMaxJobs = kMaxUnfinishedOutputs;

void checkBlockSize(int frames) {
    if (frames < 1 || frames > kMaxBlockFrames)
        throw Error("--block takes 1 to " + std::to_string(kMaxBlockFrames) + " frames, not " +
                    std::to_string(frames));
}

void checkRate(double rate) {
    if (!(rate >= kMinRate && rate <= kMaxRate))
        throw Error("--rate takes " + std::to_string(static_cast<int>(kMinRate)) + " to " +
                    std::to_string(static_cast<int>(kMaxRate)) + " Hz");
}

std::string fileStem(const std::string& path) {
    return std::filesystem::path(path).stem().string();
}

} // namespace

void checkRenderOptions(const RenderOptions& o) {
    if (o.outDir.empty() && (o.inputs.size() != 1 || o.output.empty()))
        throw Error("render takes IN OUT, or the inputs IN... with --out-dir DIR");
    if (!o.outDir.empty() && (o.inputs.empty() || !o.output.empty()))
        throw Error("render --out-dir DIR takes the input files only");
    if (!o.format.empty() && o.outDir.empty())
        throw Error("--format goes with --out-dir; for one file, OUT's extension names the container");
    if (!o.format.empty() && !knownContainer(o.format))
        throw Error("--format " + o.format +
                    " names no container quor can write (wav, flac, aiff, ogg, ...)");
    if (o.jobs < 1 || o.jobs > kMaxJobs)
        throw Error("--jobs takes 1 to " + std::to_string(kMaxJobs) + ", not " + std::to_string(o.jobs));
    for (std::size_t k = 0; o.chain.size() > 1 && k < o.chain.size(); ++k)
        if (o.chain[k].plugin.effect.empty() && o.chain[k].plugin.path.empty())
            throw Error("stage " + std::to_string(k + 1) +
                        " of the chain has no plug-in: give it --effect NAME or --plugin PATH");
}

int runRender(const RenderOptions& o, std::ostream& out) {
    checkRenderOptions(o);
    checkBlockSize(o.blockSize);
    parseTail(o.tail);
    if (!o.outDir.empty()) return renderBatch(o, out, std::cerr);

    FileRender file(o.inputs[0], o.output, o);
    Chain chain(o.chain, file.sampleRate(), o.blockSize);
    const RenderSummary s = file.run(chain, o.progress);
    if (o.json)
        printRenderJson(out, {s});
    else
        printRenderSummary(out, s);
    out.flush();
    for (const std::string& remark : s.remarks)
        printRemark(std::cerr, remark);
    return 0;
}

int runInfo(const InfoOptions& o, std::ostream& out) {
    checkRate(o.sampleRate);
    std::unique_ptr<Plugin> plugin = loadPlugin(o.plugin);
    plugin->configure(o.sampleRate, 512);
    // Many plug-ins settle their latency only when processing is switched on.
    plugin->start();
    plugin->stop();
    if (o.json) {
        printPluginJson(out, *plugin);
        return 0;
    }
    printPluginInfo(out, *plugin);
    out << "\n";
    printParameterTable(out, *plugin);
    return 0;
}

int runPreset(const PresetOptions& o, std::ostream& out) {
    if (o.action == "show") {
        printPreset(out, loadPresetFile(o.file));
        return 0;
    }
    std::unique_ptr<Plugin> plugin = loadPlugin(o.plugin);
    if (o.action == "load") {
        const PresetFile preset = loadPresetFile(o.file);
        applyPreset(*plugin, preset);
        out << "loaded " << o.file << " into " << plugin->effectName() << "\n\n";
        printParameterTable(out, *plugin);
        return 0;
    }
    if (o.action != "save") throw Error("unknown preset action '" + o.action + "'");
    if (!o.from.empty()) applyPreset(*plugin, loadPresetFile(o.from));
    applySettings(*plugin, o.settings);
    const bool bank = isBankPath(o.file);
    std::string name = o.name;
    if (name.empty() && plugin->programName().empty()) name = fileStem(o.file);
    const PresetFile preset = capturePreset(*plugin, bank, name);
    const std::vector<std::uint8_t> bytes = bank ? encodeBank(preset.bank) : encodeProgram(preset.program);
    writeBinaryFile(o.file, bytes);
    const bool opaque = bank ? preset.bank.opaque : preset.program.opaque;
    out << "saved " << (bank ? "bank" : "program") << " ("
        << (bank ? (opaque ? "FBCh" : "FxBk") : (opaque ? "FPCh" : "FxCk")) << ", " << bytes.size()
        << " bytes) of " << plugin->effectName() << " (ID " << formatUniqueId(plugin->uniqueId()) << ") to "
        << o.file << "\n";
    return 0;
}

int runBench(const BenchOptions& o, std::ostream& out) {
    checkRate(o.sampleRate);
    checkBlockSize(o.blockSize);
    if (!(o.seconds > 0.0 && o.seconds <= 3600.0)) throw Error("--seconds takes a duration from 0 to 3600");
    std::unique_ptr<Plugin> main = loadPlugin(o.plugin);
    std::unique_ptr<Plugin> other = o.versus.empty() ? nullptr : Plugin::load(o.versus);
    std::vector<Plugin*> plugins{main.get()};
    if (other) plugins.push_back(other.get());
    for (Plugin* p : plugins)
        p->configure(o.sampleRate, o.blockSize);
    applySettings(*main, o.settings);
    if (other) applySettings(*other, o.versusSettings);

    const std::vector<BenchFigures> figures = runBenchmark(plugins, o.sampleRate, o.blockSize, o.seconds);
    char line[256];
    std::snprintf(line, sizeof line, "%.0f Hz, %d-frame blocks, %.1f s of noise per plug-in%s\n",
                  o.sampleRate, o.blockSize, o.seconds, other ? ", measured in alternating turns" : "");
    out << line;
    std::size_t width = 0;
    for (const BenchFigures& f : figures)
        width = std::max(width, f.name.size());
    for (std::size_t k = 0; k < figures.size(); ++k) {
        const BenchFigures& f = figures[k];
        std::snprintf(line, sizeof line, "%-*s  %10.1f ns/frame  %9.1fx real time  (%s)\n",
                      static_cast<int>(width), f.name.c_str(), f.nanosecondsPerFrame(),
                      f.realTimeFactor(o.sampleRate), displayPath(plugins[k]->path()).c_str());
        out << line;
    }
    if (figures.size() == 2 && figures[0].nanosecondsPerFrame() > 0.0) {
        const double ratio = figures[1].nanosecondsPerFrame() / figures[0].nanosecondsPerFrame();
        std::snprintf(line, sizeof line, "ratio: %s takes %.2fx the time of %s per frame\n",
                      figures[1].name.c_str(), ratio, figures[0].name.c_str());
        out << line;
    }
    return 0;
}

int runDemo(const DemoOptions& o, std::ostream& out) {
    constexpr double kDemoRate = 48000.0;
    constexpr int kDemoBlock = 512;
    const int format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    std::unique_ptr<Plugin> plugin = loadPlugin(o.plugin);
    plugin->configure(kDemoRate, kDemoBlock);
    applySettings(*plugin, o.settings);

    // The effect's file name (quor-<slug>.so) gives the default output name.
    std::string slug = std::filesystem::path(plugin->path()).stem().string();
    if (slug.rfind("quor-", 0) == 0) slug.erase(0, 5);
    const std::string output = o.output.empty() ? "out/demo-" + slug + ".wav" : o.output;
    const std::filesystem::path target(output);
    if (target.has_parent_path()) {
        std::error_code ec;
        std::filesystem::create_directories(target.parent_path(), ec);
        if (ec) throw Error("cannot create " + target.parent_path().string() + ": " + ec.message());
    }
    const StereoSignal signal = demoSignal(kDemoRate);
    const std::string dryPath = (target.parent_path() / "demo-dry.wav").string();
    {
        AudioWriter dry(dryPath, format, 2, static_cast<int>(kDemoRate));
        MemorySource source(signal.left, signal.right);
        WriterSink sink(dry, 2, kDemoBlock);
        std::vector<float> l(kDemoBlock), r(kDemoBlock);
        float* channels[2] = {l.data(), r.data()};
        for (int n; (n = source.read(channels, kDemoBlock)) > 0;)
            sink.write(channels, n);
        dry.commit();
    }

    const int outChannels = renderChannels(*plugin);
    AudioWriter writer(output, format, outChannels, static_cast<int>(kDemoRate));
    MemorySource source(signal.left, signal.right);
    WriterSink sink(writer, outChannels, kDemoBlock);
    SignalStats inStats(2, kDemoRate, kDemoBlock);
    SignalStats outStats(outChannels, kDemoRate, kDemoBlock);
    RenderSettings settings;
    settings.blockSize = kDemoBlock;
    settings.tail.automatic = true;
    RenderResult result;
    {
        ProgressBar bar(o.progress);
        result = render(*plugin, source, nullptr, sink, settings, &inStats, &outStats,
                        [&bar](std::int64_t done, std::int64_t expected) { bar.update(done, expected); });
    }
    writer.commit();

    RenderSummary s;
    s.inputName = "built-in demo (drums and chords; dry copy in " + dryPath + ")";
    s.outputName = output;
    s.outputFormat = describeFormat(format);
    s.outputChannels = outChannels;
    s.sampleRate = kDemoRate;
    s.stages.push_back({plugin->effectName(), plugin->path()});
    s.automaticTail = true;
    s.input = measuredLevels(inStats);
    s.output = measuredLevels(outStats);
    s.result = result;
    addRenderProblems(s, floatEncoding(format));
    printRenderSummary(out, s);
    out.flush();
    for (const std::string& remark : s.remarks)
        printRemark(std::cerr, remark);
    return 0;
}

} // namespace quor::cli
