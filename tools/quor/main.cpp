// quor: renders audio files through VST 2.4 plug-ins, shows what a plug-in
// offers, reads and writes preset files, measures CPU cost, and plays the
// built-in demo through the Reverb.
#include "tools/quor/audio_file.h"
#include "tools/quor/commands.h"
#include "tools/quor/error.h"

#include <CLI/CLI.hpp>

#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <iostream>

namespace {

using namespace quor::cli;

// A plug-in that crashes takes the process with it: say so in one line and
// remove the half-written output instead of leaving a bare core dump.
void onFatalSignal(int signal) {
    discardUnfinishedOutput();
    const char* text = "quor: error: crashed (";
    (void)!write(STDERR_FILENO, text, std::strlen(text));
    const char* name = strsignal(signal);
    (void)!write(STDERR_FILENO, name, std::strlen(name));
    const char* tail = "), most likely inside the plug-in; no output was written\n";
    (void)!write(STDERR_FILENO, tail, std::strlen(tail));
    _exit(3);
}

void installCrashReport() {
    struct sigaction action {};
    action.sa_handler = onFatalSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
        sigaction(s, &action, nullptr);
}

void addPluginChoice(CLI::App* command, PluginChoice& choice, const std::string& effectDefault = "") {
    auto* effect = command->add_option("--effect", choice.effect, "one of Quor's effects, e.g. Reverb");
    if (!effectDefault.empty()) effect->capture_default_str();
    auto* path = command->add_option("--plugin", choice.path, "path of any VST 2.4 plug-in (.so)");
    effect->excludes(path);
}

void addSettings(CLI::App* command, std::vector<std::string>& settings) {
    command->add_option("--set", settings, "PARAM=VALUE, value normalised 0..1, name or index (repeatable)")
        ->allow_extra_args(false);
}

bool knownCommand(int argc, char** argv, int position, std::initializer_list<const char*> names,
                  const char* listed) {
    if (argc <= position || argv[position][0] == '-') return true;
    for (const char* name : names)
        if (std::strcmp(argv[position], name) == 0) return true;
    std::cerr << "quor: error: unknown command '" << argv[position] << "' (" << listed << ")\n";
    return false;
}

} // namespace

int main(int argc, char** argv) {
    installCrashReport();
    CLI::App app{"quor: renders audio files through VST 2.4 plug-ins"};
    app.require_subcommand(1);
    app.failure_message(
        [](const CLI::App*, const CLI::Error& e) { return std::string("quor: error: ") + e.what() + "\n"; });

    RenderOptions render;
    bool noLatencyCompensation = false;
    auto* renderCommand = app.add_subcommand("render", "render an audio file through a plug-in");
    renderCommand->add_option("IN", render.input, "input audio file (WAV, FLAC, AIFF, Ogg, ...)")->required();
    renderCommand->add_option("OUT", render.output, "output file; its extension picks the container")
        ->required();
    addPluginChoice(renderCommand, render.plugin);
    addSettings(renderCommand, render.settings);
    renderCommand->add_option("--preset", render.preset, "load a .fxp or .fxb preset first");
    renderCommand->add_option("--sidechain", render.sidechain, "feed the side-chain inputs from this file");
    renderCommand->add_option("--block", render.blockSize, "frames per processing call")
        ->capture_default_str();
    renderCommand->add_option("--tail", render.tail, "seconds to render after the input, or 'auto'")
        ->capture_default_str();
    renderCommand->add_flag("--no-latency-compensation", noLatencyCompensation,
                            "keep the plug-in's delay instead of trimming it from the start");
    renderCommand->add_option("--encoding", render.encoding, "pcm16, pcm24, pcm32, float or double");

    InfoOptions info;
    auto* infoCommand = app.add_subcommand("info", "describe a plug-in and list its parameters");
    addPluginChoice(infoCommand, info.plugin);
    infoCommand->add_option("--rate", info.sampleRate, "sample rate to set up the plug-in with")
        ->capture_default_str();

    PresetOptions preset;
    auto* presetCommand = app.add_subcommand("preset", "save, load or show .fxp / .fxb preset files");
    presetCommand->require_subcommand(1);
    auto* save =
        presetCommand->add_subcommand("save", "save the plug-in's state (.fxb: a bank, else a program)");
    auto* load = presetCommand->add_subcommand("load", "load a preset into the plug-in and list the result");
    auto* show = presetCommand->add_subcommand("show", "print what a preset file holds");
    for (auto* command : {save, load, show})
        command->add_option("FILE", preset.file, "preset file")->required();
    for (auto* command : {save, load})
        addPluginChoice(command, preset.plugin);
    addSettings(save, preset.settings);
    save->add_option("--preset", preset.from, "start from this preset");
    save->add_option("--name", preset.name, "program name stored in the file");

    BenchOptions bench;
    auto* benchCommand = app.add_subcommand("bench", "measure the CPU cost of a plug-in");
    addPluginChoice(benchCommand, bench.plugin);
    benchCommand->add_option("--vs", bench.versus, "another plug-in to measure in the same run");
    benchCommand->add_option("--rate", bench.sampleRate, "sample rate")->capture_default_str();
    benchCommand->add_option("--block", bench.blockSize, "frames per processing call")->capture_default_str();
    benchCommand->add_option("--seconds", bench.seconds, "seconds of audio per plug-in")
        ->capture_default_str();
    addSettings(benchCommand, bench.settings);

    DemoOptions demo;
    auto* demoCommand = app.add_subcommand("demo", "render the built-in demo through the Reverb");
    addPluginChoice(demoCommand, demo.plugin, "Reverb");
    demoCommand->add_option("--out", demo.output, "output file")->capture_default_str();
    addSettings(demoCommand, demo.settings);

    // CLI11 would only say that a subcommand is missing.
    if (!knownCommand(argc, argv, 1, {"render", "info", "preset", "bench", "demo"},
                      "render, info, preset, bench or demo") ||
        (std::string(argv[1]) == "preset" &&
         !knownCommand(argc, argv, 2, {"save", "load", "show"}, "save, load or show")))
        return 2;
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? 0 : 2;
    }

    try {
        if (renderCommand->parsed()) {
            render.compensateLatency = !noLatencyCompensation;
            return runRender(render, std::cout);
        }
        if (infoCommand->parsed()) return runInfo(info, std::cout);
        if (presetCommand->parsed()) {
            preset.action = save->parsed() ? "save" : load->parsed() ? "load" : "show";
            return runPreset(preset, std::cout);
        }
        if (benchCommand->parsed()) return runBench(bench, std::cout);
        if (demoCommand->parsed()) {
            if (!demo.plugin.path.empty()) demo.plugin.effect.clear();
            return runDemo(demo, std::cout);
        }
    } catch (const Error& e) {
        std::cout.flush();
        std::cerr << "quor: error: " << e.what() << std::endl;
        return 1;
    } catch (const std::exception& e) {
        std::cout.flush();
        std::cerr << "quor: error: " << e.what() << std::endl;
        return 1;
    }
    return 0;
}
