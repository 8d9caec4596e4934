#include "tools/quor/report.h"

#include "tools/quor/error.h"
#include "tools/quor/plugin.h"
#include "tools/quor/preset_file.h"
#include "tools/quor/signal_stats.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <iterator>

namespace quor::cli {

namespace {

std::string format(const char* pattern, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, pattern, value);
    return buffer;
}

std::string padded(const std::string& s, std::size_t width, bool right = false) {
    if (s.size() >= width) return s;
    const std::string fill(width - s.size(), ' ');
    return right ? fill + s : s + fill;
}

std::string channelWord(int channels) {
    return channels == 1 ? "mono" : channels == 2 ? "stereo" : std::to_string(channels) + " channels";
}

std::string loudnessText(const Levels& levels) {
    return std::isnan(levels.loudnessLufs) ? "n/a" : formatLevel(levels.loudnessLufs);
}

std::string levelRow(const std::string& label, const Levels& levels) {
    return "  " + padded(label, 8) + padded(formatLevel(levels.peakDb), 11, true) +
           padded(formatLevel(levels.rmsDb), 11, true) + padded(loudnessText(levels), 15, true) + "\n";
}

std::string latencyText(std::int64_t samples, double rate) {
    return std::to_string(samples) + " samples (" + format("%.2f ms", 1000.0 * samples / rate) + ")";
}

// Only for a render that took measurable time.
std::string realTime(const RenderResult& r, double rate) {
    return format("%.1fx", static_cast<double>(r.processedFrames) / rate / r.processSeconds) + " real time";
}

// The thread's capture of remarks, if one is active.
thread_local RemarkCapture* capture = nullptr;

void remark(const char* kind, const std::string& message) {
    if (capture)
        capture->remarks.push_back(kind + (": " + message));
    else
        std::cerr << "quor: " << kind << ": " << message << std::endl;
}

} // namespace

std::string displayPath(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::weakly_canonical(path, ec);
    if (ec) return path;
    const std::filesystem::path here = std::filesystem::current_path(ec);
    if (ec) return full.string();
    const std::filesystem::path inside = full.lexically_relative(here);
    if (inside.empty() || *inside.begin() == "..") return full.string();
    return inside.string();
}

void warn(const std::string& message) {
    remark("warning", message);
}

void notice(const std::string& message) {
    remark("note", message);
}

RemarkCapture::RemarkCapture() : outer(capture) {
    capture = this;
}

RemarkCapture::~RemarkCapture() {
    capture = outer;
}

void printRemark(std::ostream& err, const std::string& text, const std::string& about) {
    const std::size_t colon = text.find(": ");
    if (about.empty() || colon == std::string::npos)
        err << "quor: " << text << "\n";
    else
        err << "quor: " << text.substr(0, colon + 2) << about << ": " << text.substr(colon + 2) << "\n";
}

Levels measuredLevels(const SignalStats& stats) {
    return {toDecibels(stats.peak()), toDecibels(stats.rms()), stats.loudness()};
}

std::string formatSeconds(double seconds) {
    return format("%.3f s", seconds);
}

std::string formatLevel(double decibels) {
    if (std::isinf(decibels) && decibels < 0) return "-inf";
    return format("%.1f", decibels);
}

void addRenderProblems(RenderSummary& s, bool floatOutput) {
    const RenderResult& r = s.result;
    const bool chained = s.stages.size() > 1;
    const std::string name = chained ? "the chain" : s.stages.empty() ? "the plug-in" : s.stages[0].name;
    auto warning = [&s](const std::string& text) { s.remarks.push_back("warning: " + text); };
    if (r.latencyIgnored)
        warning((chained ? "a stage" : name) +
                " reported an implausible latency; nothing was compensated for it");
    else if (r.latencyChanged)
        warning(name + " changed its latency while rendering (" + std::to_string(r.latency) + " -> " +
                std::to_string(r.reportedLatency) + " samples); the output is aligned for " +
                std::to_string(r.latency));
    for (std::size_t k = 0; k < r.stages.size() && k < s.stages.size(); ++k) {
        const std::int64_t bad = r.stages[k].nonFiniteOutput;
        if (bad == 0) continue;
        const bool last = k + 1 == r.stages.size();
        warning((chained ? "stage " + std::to_string(k + 1) + " (" + s.stages[k].name + ")" : name) +
                " produced " + std::to_string(bad) +
                " samples that were not numbers (NaN or infinite); they were " +
                (last ? "written" : "passed on") + " as silence");
    }
    if (s.output.peakDb > 0.0 && !floatOutput)
        warning("the output peaks at +" + formatLevel(s.output.peakDb) +
                " dBFS; samples beyond full scale were clipped in the file");
}

void printRenderSummary(std::ostream& out, const RenderSummary& s) {
    const RenderResult& r = s.result;
    const double rate = s.sampleRate;
    out << "input   " << s.inputName;
    if (!s.inputFormat.empty()) out << " (" << s.inputFormat << ")";
    out << ", " << static_cast<long>(rate) << " Hz, " << channelWord(s.inputChannels) << ", "
        << formatSeconds(static_cast<double>(r.inputFrames) / rate) << "\n";
    if (s.stages.size() == 1)
        out << "plug-in " << s.stages[0].name << " (" << displayPath(s.stages[0].path) << ")\n";
    for (std::size_t k = 0; s.stages.size() > 1 && k < s.stages.size(); ++k)
        out << (k == 0 ? "chain   " : "        ") << k + 1 << ". " << s.stages[k].name << " ("
            << displayPath(s.stages[k].path) << "), latency "
            << (k < r.stages.size() ? latencyText(r.stages[k].latency, rate) : "unknown") << "\n";
    out << "output  " << s.outputName << " (" << s.outputFormat << "), " << channelWord(s.outputChannels)
        << ", " << formatSeconds(static_cast<double>(r.outputFrames) / rate) << "\n\n";
    out << "          peak dBFS   RMS dBFS  loudness LUFS\n";
    out << levelRow("input", s.input) << levelRow("output", s.output) << "\n";

    out << "tail       " << formatSeconds(static_cast<double>(r.tailFrames) / rate);
    if (s.automaticTail)
        out << (r.tailLimited ? " (limit reached: still audible after 30 s)"
                              : " (until 100 ms below -120 dBFS)");
    out << "\n";
    const std::int64_t latency = s.compensateLatency ? r.latency : r.reportedLatency;
    out << "latency    " << latencyText(latency, rate) << ", "
        << (s.compensateLatency ? "compensated" : "not compensated") << "\n";
    const double audioSeconds = static_cast<double>(r.processedFrames) / rate;
    out << "processing " << formatSeconds(r.processSeconds) << " for " << formatSeconds(audioSeconds);
    if (r.processSeconds > 0.0) out << ", " << realTime(r, rate);
    out << "\n";
}

void printFileLine(std::ostream& out, const RenderSummary& s) {
    const RenderResult& r = s.result;
    const double rate = s.sampleRate;
    out << s.inputName << " -> " << s.outputName << "  " << channelWord(s.outputChannels) << " "
        << formatSeconds(static_cast<double>(r.outputFrames) / rate) << "  peak "
        << formatLevel(s.output.peakDb) << " dBFS  RMS " << formatLevel(s.output.rmsDb) << " dBFS  "
        << loudnessText(s.output) << " LUFS  tail " << formatSeconds(static_cast<double>(r.tailFrames) / rate)
        << "  latency " << (s.compensateLatency ? r.latency : r.reportedLatency);
    if (r.processSeconds > 0.0) out << "  " << realTime(r, rate);
    out << "\n";
}

std::string categoryName(std::int32_t category) {
    static const char* const names[] = {"unknown",     "effect",      "instrument",  "analysis",
                                        "mastering",   "spatialiser", "room effect", "surround effect",
                                        "restoration", "offline",     "shell",       "generator"};
    if (category < 0 || category >= static_cast<std::int32_t>(std::size(names))) return "";
    return names[category];
}

std::vector<std::string> flagNames(std::int32_t flags) {
    std::vector<std::string> names;
    for (const auto& [bit, name] :
         {std::pair{effFlagsCanReplacing, "replacing"}, std::pair{effFlagsCanDoubleReplacing, "double"},
          std::pair{effFlagsProgramChunks, "chunks"}, std::pair{effFlagsHasEditor, "editor"},
          std::pair{effFlagsIsSynth, "synth"}})
        if (flags & bit) names.push_back(name);
    return names;
}

std::string hexId(std::int32_t id) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(id));
    return buffer;
}

void printPluginInfo(std::ostream& out, const Plugin& plugin) {
    const std::int32_t flags = plugin.flags();
    out << "name            " << plugin.effectName() << "\n";
    out << "vendor          " << plugin.vendor() << "\n";
    out << "product         " << plugin.product() << "\n";
    out << "file            " << displayPath(plugin.path()) << "\n";
    out << "unique ID       " << formatUniqueId(plugin.uniqueId()) << " (" << hexId(plugin.uniqueId())
        << ")\n";
    out << "version         " << plugin.version() << "  vendor version " << plugin.vendorVersion()
        << "  VST version " << plugin.vstVersion() << "\n";
    const std::string category = categoryName(plugin.category());
    out << "category        " << plugin.category() << (category.empty() ? "" : " (" + category + ")") << "\n";
    out << "channels        " << plugin.numInputs() << " in, " << plugin.numOutputs() << " out";
    if (plugin.numInputs() > 2) out << " (inputs 3 and up: side-chain)";
    out << "\n";
    out << "latency         " << plugin.latency() << " samples\n";
    out << "tail            " << plugin.tailSize() << " samples reported\n";
    out << "programs        " << plugin.numPrograms() << "\n";
    std::string flagList;
    for (const std::string& name : flagNames(flags))
        flagList += (flagList.empty() ? "" : " ") + name;
    out << "flags           " << flagList << "\n";
    out << "parameters      " << plugin.numParams() << "\n";
}

void printParameterTable(std::ostream& out, const Plugin& plugin) {
    std::vector<std::string> names;
    std::size_t nameWidth = 4;
    for (int i = 0; i < plugin.numParams(); ++i) {
        names.push_back(plugin.paramName(i));
        nameWidth = std::max(nameWidth, names.back().size());
    }
    out << padded("#", 5, true) << "  " << padded("name", nameWidth) << "   value  display\n";
    for (int i = 0; i < plugin.numParams(); ++i) {
        std::string display = plugin.paramDisplay(i);
        const std::string label = plugin.paramLabel(i);
        if (!label.empty()) display += " " + label;
        out << padded(std::to_string(i), 5, true) << "  "
            << padded(names[static_cast<std::size_t>(i)], nameWidth) << "  "
            << format("%6.4f", plugin.parameter(i)) << "  " << display << "\n";
    }
}

void printPreset(std::ostream& out, const PresetFile& preset) {
    auto programLine = [&out](const ProgramPreset& p, const std::string& indent) {
        out << indent << "program '" << p.name << "': ";
        if (p.opaque) {
            out << "opaque chunk of " << p.chunk.size() << " bytes (" << p.numParams << " parameters)\n";
            return;
        }
        out << p.values.size() << " values\n";
        for (std::size_t i = 0; i < p.values.size(); ++i)
            out << indent << padded(std::to_string(i), 5, true) << "  " << format("%.6g", p.values[i])
                << "\n";
    };
    const std::int32_t id = preset.pluginId();
    if (!preset.isBank) {
        const ProgramPreset& p = preset.program;
        out << "kind            program (" << (p.opaque ? "FPCh" : "FxCk") << ")\n";
        out << "plug-in ID      " << formatUniqueId(id) << " (" << hexId(id) << ")\n";
        out << "plug-in version " << p.pluginVersion << "\n";
        programLine(p, "");
        return;
    }
    const BankPreset& b = preset.bank;
    out << "kind            bank (" << (b.opaque ? "FBCh" : "FxBk") << "), format version " << b.formatVersion
        << "\n";
    out << "plug-in ID      " << formatUniqueId(id) << " (" << hexId(id) << ")\n";
    out << "plug-in version " << b.pluginVersion << "\n";
    out << "programs        " << b.numPrograms << ", current " << b.currentProgram << "\n";
    if (b.opaque) out << "opaque chunk of " << b.chunk.size() << " bytes\n";
    for (const ProgramPreset& p : b.programs)
        programLine(p, "  ");
}

ProgressBar::ProgressBar(bool enabled) : active(enabled && isatty(STDERR_FILENO)) {}

ProgressBar::~ProgressBar() {
    finish();
}

void ProgressBar::update(std::int64_t done, std::int64_t expected) {
    if (!active) return;
    const auto now = std::chrono::steady_clock::now();
    if (drawn && now - lastDraw < std::chrono::milliseconds(100)) return;
    lastDraw = now;
    drawn = true;
    constexpr int kWidth = 30;
    const double fraction = expected > 0 ? std::clamp(static_cast<double>(done) / expected, 0.0, 1.0) : 0.0;
    const int filled = static_cast<int>(fraction * kWidth);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar += std::string(static_cast<std::size_t>(kWidth - filled), '-');
    std::fprintf(stderr, "\r[%s] %3d%%", bar.c_str(), static_cast<int>(fraction * 100.0));
    if (done > expected && expected > 0) std::fprintf(stderr, " (tail)");
    std::fflush(stderr);
}

void ProgressBar::finish() {
    if (!active || !drawn) return;
    std::fprintf(stderr, "\r%60s\r", "");
    std::fflush(stderr);
    drawn = false;
}

} // namespace quor::cli
