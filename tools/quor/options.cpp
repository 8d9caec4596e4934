#include "tools/quor/options.h"

#include "tools/quor/error.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <cstring>
#include <iostream>

namespace quor::cli {

namespace {

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

// The stage options of `render` act as they are parsed, in the order of the
// arguments, on the stage being given: the last one --then began.
void addStageOptions(CLI::App* command, std::vector<StageOptions>& chain) {
    auto refuseSecond = [&chain](const char* option, const std::string& value, bool taken, const char* what) {
        if (taken)
            throw CLI::ValidationError(std::string(option) + " " + value,
                                       "stage " + std::to_string(chain.size()) + " already has " + what +
                                           "; begin the next stage with --then");
    };
    auto plugin = [&chain, refuseSecond](const char* option, std::string PluginChoice::*field) {
        return [&chain, refuseSecond, option, field](const std::string& value) {
            PluginChoice& choice = chain.back().plugin;
            refuseSecond(option, value, !choice.effect.empty() || !choice.path.empty(), "a plug-in");
            choice.*field = value;
        };
    };
    auto single = [&chain, refuseSecond](const char* option, std::string StageOptions::*field,
                                         const char* what) {
        return [&chain, refuseSecond, option, field, what](const std::string& value) {
            refuseSecond(option, value, !(chain.back().*field).empty(), what);
            chain.back().*field = value;
        };
    };
    auto setting = [&chain](const std::string& value) { chain.back().settings.push_back(value); };

    command->add_option_function<std::string>("--effect", plugin("--effect", &PluginChoice::effect),
                                              "one of Quor's effects, e.g. Reverb");
    command->add_option_function<std::string>("--plugin", plugin("--plugin", &PluginChoice::path),
                                              "path of any VST 2.4 plug-in (.so)");
    command->add_option_function<std::string>(
        "--set", setting, "PARAM=VALUE, value normalised 0..1, name or index (repeatable)");
    command->add_option_function<std::string>("--preset",
                                              single("--preset", &StageOptions::preset, "a preset"),
                                              "load a .fxp or .fxb preset before the --set values");
    command->add_option_function<std::string>("--sidechain",
                                              single("--sidechain", &StageOptions::sidechain, "a side-chain"),
                                              "feed the side-chain inputs from this file");
    command->add_flag_callback(
        "--then", [&chain] { chain.emplace_back(); }, "begin the next stage of the chain");
    for (const char* name : {"--effect", "--plugin", "--set", "--preset", "--sidechain", "--then"})
        command->get_option(name)->trigger_on_parse();
}

CLI::App* addRenderCommand(CLI::App& app, RenderOptions& o, std::vector<std::string>& files,
                           bool& noLatencyCompensation) {
    auto* c = app.add_subcommand("render", "render audio files through a chain of plug-ins");
    c->add_option("FILES", files, "IN OUT, or the inputs IN... with --out-dir")->required();
    addStageOptions(c, o.chain);
    c->add_option("--out-dir", o.outDir, "render every input into this directory, under its own name");
    c->add_option("--format", o.format,
                  "with --out-dir: the outputs' container by extension (wav, flac, ...)");
    c->add_option("--jobs", o.jobs, "with --out-dir: files rendered in parallel")->capture_default_str();
    c->add_flag("--json", o.json, "print the figures as JSON instead of the table");
    c->add_option("--block", o.blockSize, "frames per processing call")->capture_default_str();
    c->add_option("--tail", o.tail, "seconds to render after the input, or 'auto'")->capture_default_str();
    c->add_flag("--no-latency-compensation", noLatencyCompensation,
                "keep the chain's delay instead of trimming it from the start");
    c->add_option("--encoding", o.encoding, "pcm16, pcm24, pcm32, float or double");
    return c;
}

// IN OUT, or the inputs alone with --out-dir.
void takeFiles(RenderOptions& o, const std::vector<std::string>& files) {
    o.inputs = files;
    if (o.outDir.empty() && files.size() == 2) {
        o.output = files[1];
        o.inputs.pop_back();
    }
    std::string& f = o.format;
    if (!f.empty() && f[0] == '.') f.erase(0, 1);
    for (char& ch : f)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
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

int parseCommandLine(int argc, char** argv, CommandLine& line) {
    CLI::App app{"quor: renders audio files through VST 2.4 plug-ins"};
    app.require_subcommand(1);
    app.failure_message(
        [](const CLI::App*, const CLI::Error& e) { return std::string("quor: error: ") + e.what() + "\n"; });

    std::vector<std::string> renderFiles;
    bool noLatencyCompensation = false;
    auto* renderCommand = addRenderCommand(app, line.render, renderFiles, noLatencyCompensation);

    InfoOptions& info = line.info;
    auto* infoCommand = app.add_subcommand("info", "describe a plug-in and list its parameters");
    addPluginChoice(infoCommand, info.plugin);
    infoCommand->add_option("--rate", info.sampleRate, "sample rate to set up the plug-in with")
        ->capture_default_str();
    infoCommand->add_flag("--json", info.json, "print the description as JSON");

    PresetOptions& preset = line.preset;
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

    BenchOptions& bench = line.bench;
    auto* benchCommand = app.add_subcommand("bench", "measure the CPU cost of a plug-in");
    addPluginChoice(benchCommand, bench.plugin);
    benchCommand->add_option("--vs", bench.versus, "another plug-in to measure in the same run");
    benchCommand->add_option("--rate", bench.sampleRate, "sample rate")->capture_default_str();
    benchCommand->add_option("--block", bench.blockSize, "frames per processing call")->capture_default_str();
    benchCommand->add_option("--seconds", bench.seconds, "seconds of audio per plug-in")
        ->capture_default_str();
    addSettings(benchCommand, bench.settings);
    benchCommand
        ->add_option("--vs-set", bench.versusSettings, "PARAM=VALUE for the --vs plug-in (repeatable)")
        ->type_name("PARAM=VALUE")
        ->needs("--vs");

    DemoOptions& demo = line.demo;
    auto* demoCommand = app.add_subcommand("demo", "render the built-in demo through one of the effects");
    addPluginChoice(demoCommand, demo.plugin, "Reverb");
    demoCommand->add_option("--out", demo.output, "output file (default out/demo-<effect>.wav)");
    addSettings(demoCommand, demo.settings);

    // CLI11 would only say that a subcommand is missing.
    if (!knownCommand(argc, argv, 1, {"render", "info", "preset", "bench", "demo"},
                      "render, info, preset, bench or demo") ||
        (argc > 1 && std::string(argv[1]) == "preset" &&
         !knownCommand(argc, argv, 2, {"save", "load", "show"}, "save, load or show")))
        return 2;
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? 0 : 2;
    }

    if (renderCommand->parsed()) {
        line.command = "render";
        line.render.compensateLatency = !noLatencyCompensation;
        takeFiles(line.render, renderFiles);
        try {
            checkRenderOptions(line.render);
        } catch (const Error& e) {
            std::cerr << "quor: error: " << e.what() << "\n";
            return 2;
        }
    } else if (infoCommand->parsed()) {
        line.command = "info";
    } else if (presetCommand->parsed()) {
        line.command = "preset";
        preset.action = save->parsed() ? "save" : load->parsed() ? "load" : "show";
    } else if (benchCommand->parsed()) {
        line.command = "bench";
    } else if (demoCommand->parsed()) {
        line.command = "demo";
        if (!demo.plugin.path.empty()) demo.plugin.effect.clear();
    }
    return -1;
}

} // namespace quor::cli
