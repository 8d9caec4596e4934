#include "tools/tests/test_support.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>

namespace quor::cli {
namespace {

using test::Args;

// The test delay's normalised values for 51 and 4410 frames (of 8192).
const std::string kDelay51 = "Delay=0.0062255859375", kDelay4410 = "Delay=0.538330078125";

class QuorChain : public test::QuorTest {
  protected:
    void SetUp() override {
        test::writeAudio(f("in.wav"), in);
        test::writeAudio(f("short.wav"), {48000, {test::noise(15000, 3)}});
        test::writeAudio(f("mono.wav"), {44100, {test::noise(9000, 4)}});
    }

    const test::Audio in{48000, {test::noise(20000, 1), test::noise(20000, 2)}};
};

// A chain gives what its stages give rendered one by one through float files.
// A side-chain (the last argument of a case with a note) is cut or padded to
// the input's length, and with it mixed in the test delays give their input
// plus the side-chain: the two delays' latencies are compensated once, and the
// side-chain reaches the second in step with its input.
TEST_F(QuorChain, EqualsItsStagesRenderedOneByOneThroughFloatFiles) {
    const std::string side = "quor: note: the side-chain ";
    const struct {
        std::string input;
        std::vector<Args> stages;
        const char* tail;
        std::string note;
    } cases[] = {
        {"in.wav",
         {{"--plugin", delay, "--set", kDelay51},
          {"--plugin", delay, "--set", kDelay4410, "--set", "Side Mix=1", "--sidechain", f("short.wav")}},
         "0",
         side + f("short.wav") +
             " has 15000 frames, the input 20000; padded with silence to the input's length\n"},
        {"short.wav",
         {{"--plugin", delay, "--set", "Side Mix=1", "--sidechain", f("in.wav")}},
         "0",
         side + f("in.wav") + " has 20000 frames, the input 15000; cut to the input's length\n"},
        {"in.wav",
         {{"--plugin", tremolo, "--set", "rate=0.3", "--set", "width=1"},
          {"--plugin", mono},
          {"--plugin", reverb, "--set", "mix=0.4"}},
         "0.2",
         ""}, // stereo, mono, stereo
    };
    for (const auto& [input, stages, tail, note] : cases) {
        Args chain{"--tail", tail, "--encoding", "float"};
        std::string last = f(input);
        for (std::size_t k = 0; k < stages.size(); ++k) {
            if (k > 0) chain.push_back("--then");
            chain.insert(chain.end(), stages[k].begin(), stages[k].end());
            Args alone = stages[k];
            alone.insert(alone.end(), {"--tail", k == 0 ? tail : "0", "--encoding", "float"});
            render(last, f("step" + std::to_string(k) + ".wav"), alone);
            last = f("step" + std::to_string(k) + ".wav");
        }
        EXPECT_EQ(render(f(input), f("chain.wav"), chain).err, note);
        const test::Audio out = test::readAudio(f("chain.wav"));
        EXPECT_EQ(out.channels, test::readAudio(last).channels) << stages.size() << " stages";
        if (note.empty()) continue;
        const test::Channels main = test::readAudio(f(input)).channels,
                             mixed = test::readAudio(stages.back().back()).channels;
        for (std::size_t ch = 0; ch < 2; ++ch) {
            std::vector<float> expected = main[ch % main.size()];
            for (std::size_t i = 0; i < std::min(expected.size(), mixed[0].size()); ++i)
                expected[i] += mixed[ch % mixed.size()][i];
            EXPECT_EQ(out.channels.at(ch), expected) << input << ", channel " << ch;
        }
    }
}

TEST_F(QuorChain, BatchRendersTheGoodFilesAndReportsTheBadOnes) {
    std::ofstream(f("garbage.wav")) << "RIFF junk WAVE junk";
    test::writeAudio(f("three.wav"), {48000, test::Channels(3, test::noise(100, 5))});
    const Args chain{"--plugin", tremolo, "--set", "rate=0.3", "--then", "--plugin", reverb, "--tail", "0.1"};
    for (const std::string name : {"in", "mono"})
        render(f(name + ".wav"), f(name + "-alone.flac"), chain);
    for (bool json : {false, true}) { // one file at a time, then two
        const std::string outDir = f(json ? "out2" : "out1");
        Args args{"render", f("in.wav"), f("garbage.wav"), f("mono.wav"), f("three.wav"),  "--out-dir",
                  outDir,   "--format",  "flac",           "--jobs",      json ? "2" : "1"};
        args.insert(args.end(), chain.begin(), chain.end());
        if (json) args.push_back("--json");
        const test::RunResult r = test::runQuor(args);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(r.err, "quor: error: cannot read audio file " + f("garbage.wav") +
                             ": Format not recognised.\nquor: error: " + f("three.wav") +
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
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(outDir), {}), 2); // the two below, only
        for (const std::string name : {"in", "mono"})
            EXPECT_EQ(test::readAudio(outDir + "/" + name + ".flac").channels,
                      test::readAudio(f(name + "-alone.flac")).channels)
                << name;
    }
}

TEST_F(QuorChain, JsonCarriesTheFiguresOfTheTables) {
    Args args{"render",   f("in.wav"), f("out.wav"), "--plugin", delay,   "--set",        kDelay51, "--then",
              "--plugin", delay,       "--set",      kDelay4410, "--set", "Feedback=0.5", "--tail", "0.2"};
    const std::string table = test::runQuor(args).out;
    args.push_back("--json");
    const test::RunResult json = test::runQuor(args);
    ASSERT_EQ(json.status, 0) << json.err;
    const nlohmann::json file = nlohmann::json::parse(json.out).at("files").at(0);
    char line[128];
    for (const char* row : {"input", "output"}) {
        const nlohmann::json& levels = file[row];
        std::snprintf(line, sizeof line, "\n  %-8s%11.1f%11.1f%15.1f\n", row,
                      levels["peak_dbfs"].get<double>(), levels["rms_dbfs"].get<double>(),
                      levels["loudness_lufs"].get<double>());
        EXPECT_CONTAINS(table, line);
    }
    EXPECT_EQ(file["stages"][0]["latency_samples"], 51);
    EXPECT_EQ(file["stages"][1]["latency_samples"], 4410);
    EXPECT_EQ(file["latency"]["samples"], 4461);
    EXPECT_EQ(file["tail"]["seconds"], 0.2);
    EXPECT_GT(file["processing"]["seconds"].get<double>(), 0.0);
    for (const char* text :
         {"latency 51 samples (1.06 ms)", "latency 4410 samples (91.88 ms)",
          "latency    4461 samples (92.94 ms), compensated", "tail       0.200 s", "x real time\n"})
        EXPECT_CONTAINS(table, text);

    // info: the parameters as the table lists them; four inputs with a side-chain, from a
    // plug-in that exports only the legacy entry point.
    const std::string infoTable = test::runQuor({"info", "--plugin", tremolo}).out;
    const nlohmann::json info =
        nlohmann::json::parse(test::runQuor({"info", "--plugin", tremolo, "--json"}).out);
    ASSERT_EQ(info["parameters"].size(), 4u);
    for (const nlohmann::json& p : info["parameters"]) {
        std::snprintf(line, sizeof line, "%5d  %-5s  %6.4f  %s\n", p["index"].get<int>(),
                      p["name"].get<std::string>().c_str(), p["value"].get<double>(),
                      p["display"].get<std::string>().c_str());
        EXPECT_CONTAINS(infoTable, line);
    }
    const nlohmann::json side =
        nlohmann::json::parse(test::runQuor({"info", "--plugin", test::testModule("legacy"), "--json"}).out);
    EXPECT_EQ(side["name"], "Test Delay");
    EXPECT_EQ(side["inputs"], 4);
    EXPECT_EQ(side["sidechain_inputs"], 2);
    EXPECT_EQ(side["parameters"][1]["name"], "Side Mix");
}

} // namespace
} // namespace quor::cli
