// The Tremolo plug-in as a host sees it: its identity, every dispatcher
// answer, parameters, display texts and the saved state.
#include "tests/support/effect_model.h"

#include <tuple>

namespace quor::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
template <std::size_t N> Bytes bytesOf(const char (&literal)[N]) {
    return Bytes(literal, literal + N - 1);
}

TEST(TremoloHost, IdentityAndDispatcherAnswers) {
    TestHost host("Tremolo");
    ASSERT_TRUE(host.loaded());
    const AEffect& fx = *host.effect();
    // The unique ID is the CRC-32 of "quor" + "Tremolo", wrapped.
    EXPECT_EQ(std::make_tuple(fx.magic, fx.numPrograms, fx.numParams, fx.numInputs, fx.numOutputs, fx.flags,
                              fx.initialDelay, fx.ioRatio, fx.version,
                              static_cast<std::uint32_t>(fx.uniqueID), fx.processDoubleReplacing),
              std::make_tuple(kEffectMagic, 1, 4, 2, 2, effFlagsCanReplacing | effFlagsProgramChunks, 0, 1.0f,
                              1, 0xBFE092B2u, nullptr));
    EXPECT_EQ(host.text(effGetEffectName) + "/" + host.text(effGetVendorString) + "/" +
                  host.text(effGetProductString),
              "Quor Tremolo/mornvale/Tremolo");

    // Hosts keep their own pointer in `user`; the plug-in must not depend on it.
    host.effect()->user = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(std::make_tuple(host.dispatch(effOpen), host.dispatch(effIdentify),
                              host.dispatch(effGetPlugCategory), host.dispatch(effGetVendorVersion),
                              host.dispatch(effGetVstVersion), host.dispatch(effGetTailSize),
                              host.dispatch(effGetProgram),
                              host.dispatch(effVendorSpecific, 1, 2, nullptr, 3.0f)),
              std::make_tuple(0, 0x6645764E, 1, 1030, 2400, 0, 0, -1));
    for (const char* query : {"receiveVstEvents", "sendVstMidiEvent", "bypass", "plugAsChannelInsert", ""})
        EXPECT_EQ(host.dispatch(effCanDo, 0, 0, const_cast<char*>(query)), -1) << query;
    // Opcodes without an action (events, editor, knob mode, bypass, speaker
    // arrangement, start/stop) or unknown.
    for (VstInt32 opcode : {9,  14, 15, 16, 17, 18, 19, 20, 21, 25, 27, 28, 30, 31, 32, 36, 37, 38, 39, 40,
                            41, 42, 43, 44, 46, 53, 54, 55, 57, 59, 60, 61, 62, 66, 69, 71, 72, 77, 78, 1000})
        EXPECT_EQ(host.dispatch(opcode, 0, 2), 0) << opcode;
    ERect* rect = reinterpret_cast<ERect*>(0x1234);
    EXPECT_EQ(host.dispatch(effEditGetRect, 0, 0, &rect), 0);
    EXPECT_EQ(rect, reinterpret_cast<ERect*>(0x1234)); // no editor

    // One unnamed program; a negative selection is ignored.
    host.dispatch(effSetProgram, 0, -1);
    EXPECT_EQ(host.dispatch(effGetProgram), 0);
    char name[64] = "untouched";
    EXPECT_EQ(host.dispatch(effGetProgramNameIndexed, 0, 0, name), 0);
    EXPECT_STREQ(name, "untouched");
    EXPECT_EQ(host.dispatch(effGetProgramName, 0, 0, name), 0);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(host.text(effGetParamLabel, 0), "");

    VstPinProperties pin;
    std::memset(&pin, 0x5A, sizeof pin);
    EXPECT_EQ(host.dispatch(effGetOutputProperties, 1, 0, &pin), 1);
    EXPECT_EQ(
        std::make_tuple(pin.flags, pin.arrangementType, pin.shortLabel[0]),
        std::make_tuple(kVstPinIsActive | kVstPinIsStereo | kVstPinUseSpeaker, kSpeakerArrStereo, '\x5A'));
    for (VstInt32 i = 0; i < 4; ++i) { // automatable; of the properties only the integer range is set
        EXPECT_EQ(host.dispatch(effCanBeAutomated, i), 1);
        VstParameterProperties properties;
        std::memset(&properties, 0x5A, sizeof properties);
        EXPECT_EQ(host.dispatch(effGetParameterProperties, i, 0, &properties), 1);
        EXPECT_EQ(std::make_tuple(properties.flags, properties.minInteger, properties.maxInteger,
                                  properties.displayIndex),
                  std::make_tuple(0, 0, i == 3 ? 4 : 1, std::int16_t{0x5A5A}));
    }
}

TEST(TremoloHost, ParametersAndDisplay) {
    TestHost host("Tremolo");
    const char* const defaults[] = {"Rate 4.1 Hz", "Depth 100%", "Width 0%", "Shape Bump"};
    for (VstInt32 i = 0; i < 4; ++i)
        EXPECT_EQ(host.paramName(i) + " " + host.paramDisplay(i), defaults[i]);
    // Rate is quadratic from 0.5 to 15 Hz; Shape names round to the nearest of 1..4.
    const std::vector<model::TextRow> rows = {
        {0, 1.0f, "15.0 Hz"},  {0, 0.0f, "0.5 Hz"},    {0, 0.2f, "1.1 Hz"},       {1, 0.999f, "99%"},
        {2, 0.5f, "50%"},      {3, 1.49f / 4, "Bump"}, {3, 1.5f / 4, "Triangle"}, {3, 2.49f / 4, "Triangle"},
        {3, 2.5f / 4, "Sine"}, {3, 3.49f / 4, "Sine"}, {3, 3.5f / 4, "Pulse"},    {3, 1.0f, "Pulse"}};
    model::expectTexts("Tremolo", rows);
}

TEST(TremoloHost, StateChunk) {
    TestHost host("Tremolo");
    ASSERT_TRUE(host.loaded());
    // Little-endian, unaligned: Rate 0.5, Depth 1, Width 0, Shape 1. The other
    // has its records in the other order and another effect's name: Rate 1,
    // Depth 0.5, Width 0.25, Shape 4.
    // clang-format off
    const Bytes saved = bytesOf("qfxs" "\x38\0\0\0" "name" "\x10\0\0\0" "Tremolo\0"
                                "pars" "\x20\0\0\0" "\0\0\0\0" "\x04\0\0\0"
                                "\0\0\0\x3f" "\0\0\x80\x3f" "\0\0\0\0" "\0\0\x80\x3f");
    const Bytes other = bytesOf("qfxs" "\x37\0\0\0" "pars" "\x20\0\0\0" "\0\0\0\0" "\x04\0\0\0"
                                "\0\0\x80\x3f" "\0\0\0\x3f" "\0\0\x80\x3e" "\0\0\x80\x40"
                                "name" "\x0f\0\0\0" "Reverb\0");
    // clang-format on
    EXPECT_EQ(host.chunk(), saved);
    EXPECT_EQ(host.dispatch(effGetChunk, 0, 0, nullptr), 56); // the size, nothing written

    // Program and bank chunks: same bytes, separate buffers, each reused while its size holds.
    void *bank = nullptr, *program = nullptr, *again = nullptr;
    host.dispatch(effGetChunk, 0, 0, &bank);
    host.dispatch(effGetChunk, 1, 0, &program);
    host.dispatch(effGetChunk, 0, 0, &again);
    EXPECT_NE(bank, program);
    EXPECT_EQ(bank, again);
    EXPECT_EQ(std::memcmp(bank, program, 56), 0);

    host.setChunk(other); // applied all the same
    const char* const displays[] = {"15.0 Hz", "50%", "25%", "Pulse"};
    for (VstInt32 i = 0; i < 4; ++i)
        EXPECT_EQ(host.paramDisplay(i), displays[i]);
}

} // namespace
} // namespace quor::test
