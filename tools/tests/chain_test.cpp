#include "tests/support/test_host.h"
#include "tools/tests/test_support.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace quor::cli {
namespace {

using Args = std::vector<std::string>;

// The test delay's normalised values for 51 and 4410 frames (of 8192).
const std::string kDelay51 = "Delay=0.0062255859375", kDelay4410 = "Delay=0.538330078125";

class QuorChain : public ::testing::Test {
  protected:
    void SetUp() override {
        test::writeAudio(f("in.wav"), in);
        test::writeAudio(f("short.wav"), {48000, {test::noise(15000, 3)}});
        test::writeAudio(f("mono.wav"), {44100, {test::noise(9000, 4)}});
    }
    std::string f(const std::string& name) const { return dir.file(name); }

    // quor render IN OUT ARGS..., which must succeed.
    test::RunResult render(const std::string& input, const std::string& output, Args args) const {
        args.insert(args.begin(), {"render", input, output});
        const test::RunResult r = test::runQuor(args);
        EXPECT_EQ(r.status, 0) << r.err;
        return r;
    }

    test::ScratchDir dir;
    const test::Audio in{48000, {test::noise(20000, 1), test::noise(20000, 2)}};
    const std::string delay = test::testModule("delay"), mono = test::testModule("mono");
    const std::string tremolo = quor::test::pluginPath("Tremolo"), reverb = quor::test::pluginPath("Reverb");
};

// A chain gives what its stages give rendered one by one through float files.
// The two delays' latencies are compensated once, and the side-chain of the
// second (shorter than the input) reaches it in step with its input.
TEST_F(QuorChain, EqualsItsStagesRenderedOneByOneThroughFloatFiles) {
    const std::pair<std::vector<Args>, std::string> cases[] = {
        {{{"--plugin", tremolo, "--set", "rate=0.3", "--set", "width=1"},
          {"--plugin", reverb, "--set", "mix=0.4"}},
         "0.2"},
        {{{"--plugin", delay, "--set", kDelay51},
          {"--plugin", delay, "--set", kDelay4410, "--set", "Side Mix=1", "--sidechain", f("short.wav")}},
         "0"},
        {{{"--plugin", tremolo}, {"--plugin", mono}, {"--plugin", reverb}}, "0.1"}, // stereo, mono, stereo
    };
    for (const auto& [stages, tail] : cases) {
        Args chain{"--tail", tail, "--encoding", "float"}, last = {f("in.wav")};
        for (std::size_t k = 0; k < stages.size(); ++k) {
            if (k > 0) chain.push_back("--then");
            chain.insert(chain.end(), stages[k].begin(), stages[k].end());
            Args alone = stages[k];
            alone.insert(alone.end(), {"--tail", k == 0 ? tail : "0", "--encoding", "float"});
            render(last.back(), f("step" + std::to_string(k) + ".wav"), alone);
            last.push_back(f("step" + std::to_string(k) + ".wav"));
        }
        const test::RunResult r = render(f("in.wav"), f("chain.wav"), chain);
        const test::Audio out = test::readAudio(f("chain.wav"));
        EXPECT_EQ(out.channels, test::readAudio(last.back()).channels) << stages.size() << " stages";
        if (stages[0][1] != delay) continue;
        EXPECT_CONTAINS(r.out, "latency    4461 samples");
        EXPECT_EQ(r.err,
                  "quor: note: the side-chain " + f("short.wav") +
                      " has 15000 frames, the input 20000; padded with silence to the input's length\n");
        const std::vector<float> side = test::readAudio(f("short.wav")).channels[0];
        for (std::size_t ch = 0; ch < 2; ++ch) {
            std::vector<float> expected = in.channels[ch];
            for (std::size_t i = 0; i < side.size(); ++i)
                expected[i] += side[i];
            EXPECT_EQ(out.channels.at(ch), expected) << "channel " << ch;
        }
    }
}

TEST_F(QuorChain, LongerSideChainIsCut) {
    const test::RunResult r = render(f("short.wav"), f("out.wav"),
                                     {"--plugin", delay, "--set", "Side Mix=1", "--sidechain", f("in.wav")});
    EXPECT_CONTAINS(r.err, "has 20000 frames, the input 15000; cut to the input's length");
    const test::Audio out = test::readAudio(f("out.wav"));
    ASSERT_EQ(out.channels.at(1).size(), 15000u);
    EXPECT_EQ(out.channels[1][14999],
              test::readAudio(f("short.wav")).channels[0][14999] + in.channels[1][14999]);
}

TEST_F(QuorChain, BatchRendersTheGoodFilesAndReportsTheBadOnes) {
    std::ofstream(f("garbage.wav")) << "RIFF junk WAVE junk";
    test::writeAudio(f("three.wav"), {48000, std::vector<std::vector<float>>(3, test::noise(100, 5))});
    const Args chain{"--plugin", tremolo, "--set", "rate=0.3", "--then", "--plugin", reverb, "--tail", "0.1"};
    for (const char* name : {"in", "mono"})
        render(f(name + std::string(".wav")), f(name + std::string("-alone.flac")), chain);
    for (bool json : {false, true}) { // one file at a time, then two
        const std::string outDir = f(json ? "out2" : "out1");
        Args args{"render", f("in.wav"), f("garbage.wav"), f("mono.wav"), f("three.wav"),  "--out-dir",
                  outDir,   "--format",  "flac",           "--jobs",      json ? "2" : "1"};
        args.insert(args.end(), chain.begin(), chain.end());
        if (json) args.push_back("--json");
        const test::RunResult r = test::runQuor(args);
        EXPECT_EQ(r.status, 1) << r.err;
        // libsndfile keeps the reason a file cannot be opened in process-wide
        // state, which a parallel job overwrites: it is checked one job at a time.
        const std::string unreadable = "quor: error: cannot read audio file " + f("garbage.wav") + ": ";
        const std::string reason = json
                                       ? r.err.substr(unreadable.size(), r.err.find('\n') - unreadable.size())
                                       : "Format not recognised.";
        EXPECT_EQ(r.err, unreadable + reason + "\nquor: error: " + f("three.wav") +
                             " has 3 channels; quor reads mono and stereo files\n");
        if (json) {
            const nlohmann::json doc = nlohmann::json::parse(r.out);
            EXPECT_EQ(doc["rendered"], 2);
            EXPECT_EQ(doc["failed"], 2);
            EXPECT_EQ(doc["files"][1]["input"]["path"], f("garbage.wav"));
            EXPECT_TRUE(doc["files"][1].contains("error"));
        } else {
            EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3) << r.out;
            EXPECT_CONTAINS(r.out, f("mono.wav") + " -> " + outDir + "/mono.flac  stereo 0.304 s");
            EXPECT_CONTAINS(r.out, "rendered 2 of 4 files into " + outDir + " (2 failed)");
        }
        std::vector<std::string> written;
        for (const auto& entry : std::filesystem::directory_iterator(outDir))
            written.push_back(entry.path().filename().string());
        std::sort(written.begin(), written.end());
        EXPECT_EQ(written, (std::vector<std::string>{"in.flac", "mono.flac"}));
        for (const char* name : {"in", "mono"})
            EXPECT_EQ(test::readAudio(outDir + "/" + name + ".flac").channels,
                      test::readAudio(f(name + std::string("-alone.flac"))).channels)
                << name;
    }
}

std::string tenths(const nlohmann::json& decibels) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", decibels.get<double>());
    return text;
}

TEST_F(QuorChain, JsonCarriesTheFiguresOfTheTables) {
    Args args{"render",   f("in.wav"), f("out.wav"), "--plugin", delay,   "--set",        kDelay51, "--then",
              "--plugin", delay,       "--set",      kDelay4410, "--set", "Feedback=0.5", "--tail", "0.2"};
    const std::string table = test::runQuor(args).out;
    args.push_back("--json");
    const test::RunResult json = test::runQuor(args);
    ASSERT_EQ(json.status, 0) << json.err;
    const nlohmann::json file = nlohmann::json::parse(json.out).at("files").at(0);
    for (const char* row : {"input", "output"}) {
        const nlohmann::json& levels = file[row];
        char line[128];
        std::snprintf(line, sizeof line, "\n  %-8s%11s%11s%15s\n", row, tenths(levels["peak_dbfs"]).c_str(),
                      tenths(levels["rms_dbfs"]).c_str(), tenths(levels["loudness_lufs"]).c_str());
        EXPECT_CONTAINS(table, line);
    }
    EXPECT_EQ(file["stages"][0]["latency_samples"], 51);
    EXPECT_EQ(file["stages"][1]["latency_samples"], 4410);
    EXPECT_EQ(file["latency"]["samples"], 4461);
    EXPECT_EQ(file["tail"]["seconds"], 0.2);
    EXPECT_GT(file["processing"]["seconds"].get<double>(), 0.0);
    for (const char* text : {"latency 51 samples (1.06 ms)", "latency 4410 samples (91.88 ms)",
                             "latency    4461 samples (92.94 ms), compensated", "tail       0.200 s"})
        EXPECT_CONTAINS(table, text);

    // info: the parameters as the table lists them; four inputs with a side-chain.
    const std::string infoTable = test::runQuor({"info", "--plugin", tremolo}).out;
    const nlohmann::json info =
        nlohmann::json::parse(test::runQuor({"info", "--plugin", tremolo, "--json"}).out);
    ASSERT_EQ(info["parameters"].size(), 4u);
    for (const nlohmann::json& p : info["parameters"]) {
        char row[128];
        std::snprintf(row, sizeof row, "%5d  %-5s  %6.4f  %s\n", p["index"].get<int>(),
                      p["name"].get<std::string>().c_str(), p["value"].get<double>(),
                      p["display"].get<std::string>().c_str());
        EXPECT_CONTAINS(infoTable, row);
    }
    const nlohmann::json side =
        nlohmann::json::parse(test::runQuor({"info", "--plugin", delay, "--json"}).out);
    EXPECT_EQ(side["inputs"], 4);
    EXPECT_EQ(side["sidechain_inputs"], 2);
    EXPECT_EQ(side["parameters"][1]["name"], "Side Mix");
}

} // namespace
} // namespace quor::cli
