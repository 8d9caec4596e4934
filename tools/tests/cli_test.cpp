// The quor executable fed broken files and wrong arguments: every case ends
// with one line on stderr saying what is wrong and a non-zero exit, never a
// crash and never a half-written output file.
#include "tests/support/test_host.h"
#include "tools/quor/plugin.h"
#include "tools/quor/preset_file.h"
#include "tools/tests/test_support.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <filesystem>
#include <fstream>

namespace quor::cli {
namespace {

using test::runQuor;

class QuorCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        test::Audio stereo;
        stereo.sampleRate = 48000;
        stereo.channels = {test::noise(4800, 1), test::noise(4800, 2)};
        test::writeAudio(dir.file("in.wav"), stereo);
        stereo.channels[0].resize(4000);
        stereo.channels[1].resize(4000);
        test::writeAudio(dir.file("short.wav"), stereo);
        stereo.sampleRate = 44100;
        stereo.channels = {test::noise(4800, 3), test::noise(4800, 4)};
        test::writeAudio(dir.file("44k.wav"), stereo);
        test::Audio three;
        three.sampleRate = 48000;
        three.channels.assign(3, test::noise(100, 5));
        test::writeAudio(dir.file("three.wav"), three);
        std::ofstream(dir.file("text.so")) << "not a module\n";
        std::ofstream(dir.file("garbage.wav")) << "RIFF\x10\0\0\0WAVEjunkjunkjunk";
        const char cutPreset[] = "CcnK\0\0\0\x30"
                                 "FxCk\0\0\0\1";
        std::ofstream(dir.file("garbage.fxp")).write(cutPreset, sizeof cutPreset - 1);
        tremolo = quor::test::pluginPath("Tremolo");
    }

    // Runs quor expecting a failure: one "quor: error:" line, no crash, no output.
    void expectFailure(const std::vector<std::string>& args, const std::string& mention) {
        const test::RunResult r = runQuor(args);
        std::string all;
        for (const std::string& a : args)
            all += a + " ";
        EXPECT_EQ(r.signal, 0) << all;
        EXPECT_NE(r.status, 0) << all;
        EXPECT_EQ(r.err.rfind("quor: error: ", 0), 0u) << all << "\n" << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << all << "\n" << r.err;
        EXPECT_NE(r.err.find(mention), std::string::npos) << all << "\n" << r.err;
        EXPECT_FALSE(std::filesystem::exists(dir.file("out.wav"))) << all;
        for (const auto& entry : std::filesystem::directory_iterator(dir.file("")))
            EXPECT_EQ(entry.path().string().find(".tmp"), std::string::npos) << entry.path();
    }

    std::vector<std::string> render(std::vector<std::string> extra, const std::string& in = "in.wav") {
        std::vector<std::string> args{"render", dir.file(in), dir.file("out.wav")};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    test::ScratchDir dir;
    std::string tremolo;
};

TEST_F(QuorCommand, BadPluginsAreReportedNotLoaded) {
    expectFailure(render({"--plugin", dir.file("missing.so")}), "No such file");
    expectFailure(render({"--plugin", dir.file("text.so")}), "not a loadable plug-in");
    expectFailure(render({"--plugin", dir.file("")}), "not a regular file");
    expectFailure(render({"--plugin", test::testModule("noentry")}), "no VSTPluginMain or main");
    expectFailure(render({"--plugin", test::testModule("null")}), "returned no instance");
    expectFailure(render({"--effect", "No Such Effect"}), "no plug-in for the effect");
    expectFailure(render({"--effect", "../../etc/passwd"}), "not an effect name");
    expectFailure(render({}), "--effect NAME or --plugin PATH");
}

TEST_F(QuorCommand, BadAudioIsReported) {
    expectFailure(render({"--plugin", tremolo}, "missing.wav"), "cannot read audio file");
    expectFailure(render({"--plugin", tremolo}, "garbage.wav"), "cannot read audio file");
    expectFailure(render({"--plugin", tremolo}, "text.so"), "cannot read audio file");
    expectFailure(render({"--plugin", tremolo}, ""), "is a directory");
    expectFailure(render({"--plugin", tremolo}, "three.wav"), "3 channels");
}

TEST_F(QuorCommand, BadSettingsAreReported) {
    expectFailure(render({"--plugin", tremolo, "--set", "Speed=0.5"}), "unknown parameter 'Speed'");
    expectFailure(render({"--plugin", tremolo, "--set", "Rate=2"}), "outside 0..1");
    expectFailure(render({"--plugin", tremolo, "--set", "Rate"}), "not PARAM=VALUE");
    expectFailure(render({"--plugin", tremolo, "--set", "9=0.5"}), "out of range");
    expectFailure(render({"--plugin", tremolo, "--tail", "forever"}), "--tail");
    expectFailure(render({"--plugin", tremolo, "--block", "0"}), "--block");
    expectFailure(render({"--plugin", tremolo, "--encoding", "mp3"}), "unknown encoding");
    expectFailure(render({"--plugin", tremolo, "--bogus"}), "bogus");
    expectFailure({"render", dir.file("in.wav")}, "OUT");
    expectFailure({"frobnicate"}, "frobnicate");
}

TEST_F(QuorCommand, MismatchedSidechainsAndPresetsAreReported) {
    const std::string delay = test::testModule("delay");
    expectFailure(render({"--plugin", delay, "--sidechain", dir.file("short.wav")}), "same length");
    expectFailure(render({"--plugin", delay, "--sidechain", dir.file("44k.wav")}), "44100 Hz");
    expectFailure(render({"--plugin", tremolo, "--sidechain", dir.file("in.wav")}), "no side-chain inputs");
    expectFailure(render({"--plugin", delay, "--preset", dir.file("garbage.fxp")}), "truncated");
    expectFailure(render({"--plugin", delay, "--preset", dir.file("missing.fxp")}), "cannot read");

    const test::RunResult saved = runQuor({"preset", "save", dir.file("delay.fxp"), "--plugin", delay});
    ASSERT_EQ(saved.status, 0) << saved.err;
    expectFailure(render({"--plugin", tremolo, "--preset", dir.file("delay.fxp")}), "'QtDl'");
    expectFailure({"preset", "load", dir.file("delay.fxp"), "--plugin", tremolo}, "not Quor Tremolo");
    expectFailure({"preset", "show", dir.file("in.wav")}, "not a VST preset file");
}

TEST_F(QuorCommand, RendersWithPresetsSettingsAndLegacyEntryPoints) {
    // Save a preset with one setting, render with it and another setting.
    ASSERT_EQ(
        runQuor({"preset", "save", dir.file("slow.fxp"), "--plugin", tremolo, "--set", "rate=0"}).status, 0);
    const test::RunResult shown = runQuor({"preset", "show", dir.file("slow.fxp")});
    EXPECT_EQ(shown.status, 0);
    EXPECT_NE(shown.out.find("FPCh"), std::string::npos);
    EXPECT_NE(shown.out.find("slow"), std::string::npos) << shown.out;
    const test::RunResult loaded = runQuor({"preset", "load", dir.file("slow.fxp"), "--plugin", tremolo});
    EXPECT_EQ(loaded.status, 0);
    EXPECT_NE(loaded.out.find("0.5 Hz"), std::string::npos) << loaded.out;

    const test::RunResult r = runQuor(
        render({"--plugin", tremolo, "--preset", dir.file("slow.fxp"), "--set", "2=1", "--tail", "auto"}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
    for (const char* line : {"input", "output", "tail", "latency", "real time", "LUFS"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    EXPECT_EQ(test::readAudio(dir.file("out.wav")).frames(), 4800u);

    // Plug-ins that only export the legacy entry point load as well.
    const test::RunResult info = runQuor({"info", "--plugin", test::testModule("legacy")});
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("Test Delay"), std::string::npos);
    EXPECT_NE(info.out.find("Side Mix"), std::string::npos);
}

} // namespace
} // namespace quor::cli
