#include "tools/quor/error.h"
#include "tools/quor/parameters.h"
#include "tools/quor/preset_file.h"
#include "tools/tests/test_support.h"

#include <algorithm>

namespace quor::cli {
namespace {

// Shaped like the Reverb's table: group members share names ("Delay",
// "Density"), and some names are prefixes of others.
const std::vector<std::string> kNames{"Mix",      "Gain",      "Rate",  "Depth",  "Delay",
                                      "Feedback", "Frequency", "Width", "Delay",  "Direction",
                                      "Density",  "Rate Sync", "Size",  "Density"};

TEST(Parameters, FoundByNameIgnoringCaseByUniquePrefixOrByIndex) {
    // A whole name wins over the longer names it begins ("rate"); index 8 is a twin.
    const std::pair<const char*, int> found[] = {{"mix", 0},  {"GAIN", 1},    {"fe", 5}, {"freq", 6},
                                                 {"rate", 2}, {"rate s", 11}, {"8", 8},  {"13", 13}};
    for (const auto& [key, index] : found)
        EXPECT_EQ(findParameter(kNames, key), index) << key;
    // Twins like the two Delays are told apart only by index.
    const std::pair<const char*, const char*> refused[] = {{"de", "ambiguous: Depth (3), Delay (4)"},
                                                           {"delay", "Delay (4), Delay (8); give its index"},
                                                           {"Reverb", "unknown parameter 'Reverb'"},
                                                           {"99999999999", "unknown parameter"},
                                                           {"-1", "unknown parameter"},
                                                           {"14", "out of range"},
                                                           {"", "empty"}};
    for (const auto& [key, says] : refused)
        try {
            findParameter(kNames, key);
            ADD_FAILURE() << "'" << key << "' was accepted";
        } catch (const Error& e) {
            EXPECT_CONTAINS(e.what(), says);
        }
}

class QuorCommand : public test::QuorTest {
  protected:
    void SetUp() override {
        test::writeAudio(f("in.wav"), {48000, {test::noise(4800, 1), test::noise(4800, 2)}});
        test::writeAudio(f("44k.wav"), {44100, {test::noise(4800, 3), test::noise(4800, 4)}});
        std::ofstream(f("text.so")) << "not a module\n";
        writeBinaryFile(f("delay.fxp"),
                        encodeProgram({false, fourCharCode('Q', 't', 'D', 'l'), 1, 0, "", {}, {}}));
    }
};

// Every case ends with one line on stderr saying what is wrong and a
// non-zero exit: never a crash, never an output file left behind.
TEST_F(QuorCommand, BadInputIsOneErrorLineAndAFailingExit) {
    const std::string &T = tremolo, &D = delay;
    auto render = [this](test::Args extra, const std::string& in = "in.wav") {
        extra.insert(extra.begin(), {"render", f(in), f("out.wav")});
        return extra;
    };
    const std::pair<test::Args, const char*> cases[] = {
        {render({"--plugin", f("missing.so")}), "No such file"},
        {render({"--plugin", f("text.so")}), "not a loadable plug-in"},
        {render({"--plugin", f("")}), "not a regular file"},
        {render({"--plugin", test::testModule("noentry")}), "no VSTPluginMain or main"},
        {render({"--plugin", test::testModule("null")}), "returned no instance"},
        {render({"--effect", "No Such Effect"}), "no plug-in for the effect"},
        {render({"--effect", "../../etc/passwd"}), "not an effect name"},
        {render({}), "--effect NAME or --plugin PATH"},
        {render({"--plugin", T}, ""), "is a directory"},
        {render({"--plugin", T, "--set", "Rate=2"}), "outside 0..1"},
        {render({"--plugin", T, "--set", "Rate=0.5x"}), "not a number"},
        {render({"--plugin", T, "--tail", "forever"}), "--tail"},
        {render({"--plugin", T, "--block", "0"}), "--block"},
        {render({"--plugin", T, "--encoding", "mp3"}), "unknown encoding"},
        {render({"--plugin", T, "--bogus"}), "bogus"},
        {{"render", f("in.wav")}, "OUT"},
        {{"frobnicate"}, "frobnicate"},
        {{}, "A subcommand is required"},
        {render({"--plugin", T, "--then", "--plugin", D, "--sidechain", f("44k.wav")}), "44100 Hz"},
        {render({"--plugin", T, "--then"}), "stage 2 of the chain has no plug-in"},
        {render({"--plugin", T, "--then", "--plugin", T, "--set", "Speed=1"}),
         "stage 2: unknown parameter 'Speed'"},
        {render({"--plugin", T, "--effect", "Reverb"}), "stage 1 already has a plug-in"},
        {render({"--plugin", T, "--format", "flac"}), "--format goes with --out-dir"},
        {{"render", f("in.wav"), "--out-dir", f("in.wav"), "--plugin", T}, "cannot create"},
        {{"render", f("in.wav"), "--out-dir", f(""), "--plugin", T, "--jobs", "0"}, "--jobs"},
        {render({"--plugin", T, "--sidechain", f("in.wav")}), "no side-chain inputs"},
        {render({"--plugin", D, "--preset", f("missing.fxp")}), "cannot read"},
        {{"preset", "load", f("delay.fxp"), "--plugin", T},
         "is for the plug-in with ID 'QtDl', not Quor Tremolo"},
        {{"preset", "show", f("in.wav")}, "not a VST preset file"},
    };
    for (const auto& [args, mention] : cases) {
        const test::RunResult r = test::runQuor(args);
        EXPECT_GT(r.status, 0) << mention;
        EXPECT_EQ(r.err.rfind("quor: error: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_CONTAINS(r.err, mention);
        EXPECT_FALSE(std::filesystem::exists(f("out.wav"))) << mention;
        for (const auto& entry : std::filesystem::directory_iterator(f("")))
            EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
    }
}

TEST_F(QuorCommand, RendersWithPresetsAndSettings) {
    ASSERT_EQ(test::runQuor({"preset", "save", f("slow.fxp"), "--plugin", tremolo, "--set", "rate=0"}).status,
              0);
    const std::string shown = test::runQuor({"preset", "show", f("slow.fxp")}).out;
    EXPECT_CONTAINS(shown, "program (FPCh)");
    EXPECT_CONTAINS(shown, "slow"); // named after the file
    EXPECT_CONTAINS(test::runQuor({"preset", "load", f("slow.fxp"), "--plugin", tremolo}).out, "0.5 Hz");

    const test::RunResult r =
        render(f("in.wav"), f("out.wav"),
               {"--plugin", tremolo, "--preset", f("slow.fxp"), "--set", "2=1", "--tail", "auto"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(test::readAudio(f("out.wav")).channels.at(0).size(), 4800u);
}

} // namespace
} // namespace quor::cli
