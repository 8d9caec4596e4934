// The Tremolo plug-in as a host sees it: every dispatcher answer, parameters,
// display texts and the saved state.
#include "tests/support/test_host.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace quor::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
template <std::size_t N>
Bytes bytesOf(const char (&literal)[N]) { return Bytes(literal, literal + N - 1); }

TEST(TremoloHost, DispatcherAnswers) {
    TestHost host("Tremolo");
    ASSERT_TRUE(host.loaded());
    // Hosts keep their own pointer in `user`; the plug-in must not depend on it.
    host.effect()->user = reinterpret_cast<void*>(0x1);

    EXPECT_EQ(host.dispatch(effOpen), 0);
    EXPECT_EQ(host.dispatch(effIdentify), 0x6645764E);
    EXPECT_EQ(host.dispatch(effGetPlugCategory), 1);
    EXPECT_EQ(host.dispatch(effGetVendorVersion), 1030);
    EXPECT_EQ(host.dispatch(effGetVstVersion), 2400);
    EXPECT_EQ(host.dispatch(effGetTailSize), 0);
    EXPECT_EQ(host.dispatch(effVendorSpecific, 1, 2, nullptr, 3.0f), -1);
    EXPECT_EQ(host.dispatch(effProcessEvents), 0);
    EXPECT_EQ(host.dispatch(effProcessVarIo), 0);
    EXPECT_EQ(host.dispatch(effSetEditKnobMode, 0, 2), 0);
    for (VstInt32 i = 0; i < 4; ++i)
        EXPECT_EQ(host.dispatch(effCanBeAutomated, i), 1);
    for (const char* query : {"receiveVstEvents", "sendVstMidiEvent", "bypass", "plugAsChannelInsert", "nonsense", ""})
        EXPECT_EQ(host.dispatch(effCanDo, 0, 0, const_cast<char*>(query)), -1) << query;

    // One unnamed program; a negative selection is ignored.
    EXPECT_EQ(host.dispatch(effGetProgram), 0);
    host.dispatch(effSetProgram, 0, -1);
    EXPECT_EQ(host.dispatch(effGetProgram), 0);
    char name[64] = "untouched";
    EXPECT_EQ(host.dispatch(effGetProgramNameIndexed, 0, 0, name), 0);
    EXPECT_STREQ(name, "untouched");
    EXPECT_EQ(host.dispatch(effGetProgramName, 0, 0, name), 0);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(host.text(effGetParamLabel, 0), "");

    // No editor.
    ERect* rect = reinterpret_cast<ERect*>(0x1234);
    EXPECT_EQ(host.dispatch(effEditGetRect, 0, 0, &rect), 0);
    EXPECT_EQ(rect, reinterpret_cast<ERect*>(0x1234));
    for (VstInt32 opcode : {effEditOpen, effEditClose, effEditIdle})
        EXPECT_EQ(host.dispatch(opcode), 0);

    // Opcodes without an action, known (bypass, speaker arrangement, start/stop) or not.
    for (VstInt32 opcode : {9, 16, 17, 18, 20, 21, 27, 28, 30, 31, 32, 36, 37, 38, 39, 40, 42, 43, 44, 46, 53, 54,
                            55, 57, 59, 60, 62, 66, 69, 71, 72, 77, 78, 1000})
        EXPECT_EQ(host.dispatch(opcode), 0) << opcode;

    VstPinProperties pin;
    std::memset(&pin, 0x5A, sizeof pin);
    EXPECT_EQ(host.dispatch(effGetInputProperties, 0, 0, &pin), 1);
    EXPECT_STREQ(pin.label, "in 1");
    EXPECT_EQ(host.dispatch(effGetOutputProperties, 1, 0, &pin), 1);
    EXPECT_STREQ(pin.label, "out 2");
    EXPECT_EQ(pin.flags, 7);
    EXPECT_EQ(pin.arrangementType, 1);
    EXPECT_EQ(pin.shortLabel[0], 0x5A);

    for (VstInt32 i = 0; i < 4; ++i) {
        VstParameterProperties properties;
        std::memset(&properties, 0x5A, sizeof properties);
        EXPECT_EQ(host.dispatch(effGetParameterProperties, i, 0, &properties), 1);
        EXPECT_EQ(properties.flags, 0);
        EXPECT_EQ(properties.minInteger, 0);
        EXPECT_EQ(properties.maxInteger, i == 3 ? 4 : 1);
        EXPECT_EQ(properties.displayIndex, 0x5A5A); // the rest is left alone
    }
    EXPECT_EQ(host.text(effGetEffectName), "Quor Tremolo");
}

TEST(TremoloHost, ParametersAndDisplay) {
    TestHost host("Tremolo");
    ASSERT_TRUE(host.loaded());
    const std::vector<std::string> names = {"Rate", "Depth", "Width", "Shape"};
    const std::vector<std::string> defaults = {"4.1 Hz", "100%", "0%", "Bump"};
    const std::vector<float> normalised = {0.5f, 1.0f, 0.0f, 0.25f};
    for (VstInt32 i = 0; i < 4; ++i) {
        EXPECT_EQ(host.paramName(i), names[i]);
        EXPECT_EQ(host.paramDisplay(i), defaults[i]);
        EXPECT_EQ(host.getParam(i), normalised[i]);
    }

    host.setParam(0, 1.5f);
    EXPECT_EQ(host.getParam(0), 1.0f);
    EXPECT_EQ(host.paramDisplay(0), "15.0 Hz");
    host.setParam(0, -2.0f);
    EXPECT_EQ(host.getParam(0), 0.0f);
    EXPECT_EQ(host.paramDisplay(0), "0.5 Hz");
    host.setParam(1, 0.999f);
    EXPECT_EQ(host.paramDisplay(1), "99%");
    host.setParam(2, 0.5f);
    EXPECT_EQ(host.paramDisplay(2), "50%");

    host.setParam(3, 0.3f); // stored 1.2, read back unchanged
    EXPECT_EQ(host.getParam(3), 0.3f);
    const std::vector<std::pair<float, const char*>> shapes = {
        {0.0f, "Bump"}, {1.49f, "Bump"},  {1.5f, "Triangle"}, {2.49f, "Triangle"},
        {2.5f, "Sine"}, {3.49f, "Sine"}, {3.5f, "Pulse"},    {4.0f, "Pulse"}};
    for (const auto& [shape, display] : shapes) {
        host.setParam(3, shape / 4.0f);
        EXPECT_EQ(host.paramDisplay(3), display) << shape;
    }
}

TEST(TremoloHost, StateChunk) {
    TestHost host("Tremolo");
    ASSERT_TRUE(host.loaded());
    // Little-endian, unaligned: Rate 0.5, Depth 1, Width 0, Shape 1.
    const Bytes saved = bytesOf("qfxs" "\x38\0\0\0" "name" "\x10\0\0\0" "Tremolo\0"
                                "pars" "\x20\0\0\0" "\0\0\0\0" "\x04\0\0\0"
                                "\0\0\0\x3f" "\0\0\x80\x3f" "\0\0\0\0" "\0\0\x80\x3f");
    EXPECT_EQ(host.chunk(), saved);
    EXPECT_EQ(host.dispatch(effGetChunk, 0, 0, nullptr), 56); // the size, nothing written

    // Program and bank chunks: same bytes, separate buffers, each reused while its size holds.
    void* bank = nullptr;
    void* program = nullptr;
    void* again = nullptr;
    host.dispatch(effGetChunk, 0, 0, &bank);
    host.dispatch(effGetChunk, 1, 0, &program);
    host.dispatch(effGetChunk, 0, 0, &again);
    EXPECT_NE(bank, program);
    EXPECT_EQ(bank, again);
    EXPECT_EQ(std::memcmp(bank, program, 56), 0);

    host.setParam(0, 0.1f);
    host.setParam(3, 0.9f);
    host.setChunk(saved, true);
    EXPECT_EQ(host.chunk(), saved);

    // Records in the other order, saved under another effect's name: applied
    // all the same. Rate 1, Depth 0.5, Width 0.25, Shape 4.
    host.setChunk(bytesOf("qfxs" "\x37\0\0\0" "pars" "\x20\0\0\0" "\0\0\0\0" "\x04\0\0\0"
                          "\0\0\x80\x3f" "\0\0\0\x3f" "\0\0\x80\x3e" "\0\0\x80\x40"
                          "name" "\x0f\0\0\0" "Reverb\0"));
    EXPECT_EQ(host.paramDisplay(0), "15.0 Hz");
    EXPECT_EQ(host.paramDisplay(1), "50%");
    EXPECT_EQ(host.paramDisplay(2), "25%");
    EXPECT_EQ(host.paramDisplay(3), "Pulse");
}

} // namespace
} // namespace quor::test
