#include "tests/support/test_host.h"
#include "tools/quor/error.h"
#include "tools/quor/plugin.h"
#include "tools/quor/preset_file.h"
#include "tools/tests/test_support.h"

#include <gtest/gtest.h>

#include <cstring>

namespace quor::cli {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Hand assembly, independent of the encoder: big-endian words and text.
void word(Bytes& b, std::uint32_t v) {
    b.insert(b.end(), {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                       static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)});
}
void tag(Bytes& b, const char* four) {
    b.insert(b.end(), four, four + 4);
}
void zeros(Bytes& b, std::size_t n) {
    b.insert(b.end(), n, 0);
}
void name28(Bytes& b, const char* text) {
    const std::size_t n = std::strlen(text);
    b.insert(b.end(), text, text + n);
    zeros(b, 28 - n);
}

constexpr std::int32_t kId = 0x51744470; // 'QtDp'

TEST(PresetFile, ProgramOfValuesMatchesTheStandardLayout) {
    ProgramPreset p;
    p.pluginId = kId;
    p.pluginVersion = 3;
    p.name = "Warm";
    p.values = {0.5f, 1.0f, 0.25f};
    p.numParams = 3;

    Bytes expected;
    tag(expected, "CcnK");
    word(expected, 56 + 12 - 8); // everything after the size field
    tag(expected, "FxCk");
    word(expected, 1);
    tag(expected, "QtDp");
    word(expected, 3);
    word(expected, 3);
    name28(expected, "Warm");
    word(expected, 0x3F000000); // 0.5f
    word(expected, 0x3F800000); // 1.0f
    word(expected, 0x3E800000); // 0.25f
    EXPECT_EQ(encodeProgram(p), expected);

    const PresetFile back = decodePreset(expected.data(), expected.size());
    EXPECT_FALSE(back.isBank);
    EXPECT_FALSE(back.program.opaque);
    EXPECT_EQ(back.program.pluginId, kId);
    EXPECT_EQ(back.program.pluginVersion, 3);
    EXPECT_EQ(back.program.name, "Warm");
    EXPECT_EQ(back.program.values, p.values);
}

TEST(PresetFile, ProgramAndBankChunksMatchTheStandardLayout) {
    const Bytes chunk{'q', 'f', 'x', 's', 1, 2, 3};
    ProgramPreset p;
    p.opaque = true;
    p.pluginId = kId;
    p.pluginVersion = 1;
    p.numParams = 24;
    p.name = "A name longer than the twenty-eight bytes";
    p.chunk = chunk;

    Bytes program;
    tag(program, "CcnK");
    word(program, 60 + 7 - 8);
    tag(program, "FPCh");
    word(program, 1);
    tag(program, "QtDp");
    word(program, 1);
    word(program, 24);
    name28(program, "A name longer than the twent"); // 27 characters and the zero
    program.pop_back();
    program.push_back(0);
    word(program, 7);
    program.insert(program.end(), chunk.begin(), chunk.end());
    EXPECT_EQ(encodeProgram(p), program);
    EXPECT_EQ(decodePreset(program.data(), program.size()).program.chunk, chunk);
    EXPECT_EQ(decodePreset(program.data(), program.size()).program.name, "A name longer than the twen");

    BankPreset b;
    b.opaque = true;
    b.pluginId = kId;
    b.pluginVersion = 1;
    b.numPrograms = 1;
    b.currentProgram = 0;
    b.chunk = chunk;
    Bytes bank;
    tag(bank, "CcnK");
    word(bank, 160 + 7 - 8);
    tag(bank, "FBCh");
    word(bank, 2);
    tag(bank, "QtDp");
    word(bank, 1);
    word(bank, 1);
    word(bank, 0);
    zeros(bank, 124);
    word(bank, 7);
    bank.insert(bank.end(), chunk.begin(), chunk.end());
    EXPECT_EQ(encodeBank(b), bank);
    const PresetFile back = decodePreset(bank.data(), bank.size());
    ASSERT_TRUE(back.isBank);
    EXPECT_TRUE(back.bank.opaque);
    EXPECT_EQ(back.bank.chunk, chunk);
}

TEST(PresetFile, BankOfProgramsRoundTrips) {
    BankPreset b;
    b.pluginId = kId;
    b.pluginVersion = 9;
    b.currentProgram = 1;
    for (int k = 0; k < 3; ++k) {
        ProgramPreset p;
        p.pluginId = kId;
        p.pluginVersion = 9;
        p.name = "P" + std::to_string(k);
        p.values = {0.1f * static_cast<float>(k), 0.75f};
        p.numParams = 2;
        b.programs.push_back(p);
    }
    const Bytes bytes = encodeBank(b);
    ASSERT_EQ(bytes.size(), 156u + 3 * (56 + 8));
    EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 12), "FxBk");
    EXPECT_EQ(bytes[27], 3); // numPrograms
    const PresetFile back = decodePreset(bytes.data(), bytes.size());
    ASSERT_TRUE(back.isBank);
    ASSERT_EQ(back.bank.programs.size(), 3u);
    EXPECT_EQ(back.bank.currentProgram, 1);
    EXPECT_EQ(back.bank.programs[2].name, "P2");
    EXPECT_EQ(back.bank.programs[2].values, b.programs[2].values);
    EXPECT_EQ(encodeBank(back.bank), bytes);
}

TEST(PresetFile, DamagedFilesAreRejectedWithoutReadingPastTheEnd) {
    ProgramPreset p;
    p.pluginId = kId;
    p.values = {0.5f, 0.5f};
    BankPreset b;
    b.pluginId = kId;
    b.programs = {p, p};
    for (const Bytes& whole : {encodeProgram(p), encodeBank(b)}) {
        // Every truncation is an error, never a read beyond the bytes given.
        for (std::size_t n = 0; n < whole.size(); ++n) {
            const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
            EXPECT_THROW(decodePreset(cut.data(), cut.size()), Error) << n;
        }
        EXPECT_NO_THROW(decodePreset(whole.data(), whole.size()));
    }

    Bytes lying = encodeProgram(p);
    lying[27] = 0x7F; // claims 127 values, holds 2
    EXPECT_THROW(decodePreset(lying.data(), lying.size()), Error);
    lying[24] = 0x80; // a negative count
    EXPECT_THROW(decodePreset(lying.data(), lying.size()), Error);
    Bytes hugeBank = encodeBank(b);
    hugeBank[24] = 0x7F; // two billion programs
    EXPECT_THROW(decodePreset(hugeBank.data(), hugeBank.size()), Error);
    Bytes other = encodeProgram(p);
    other[8] = 'X';
    EXPECT_THROW(decodePreset(other.data(), other.size()), Error);
    const Bytes riff{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
    EXPECT_THROW(decodePreset(riff.data(), riff.size()), Error);
}

// Presets captured from one instance restore another, through a file.
TEST(PresetFile, ChunkPresetsRestoreOurPlugins) {
    test::ScratchDir dir;
    auto source = Plugin::load(quor::test::pluginPath("Tremolo"));
    source->setParameter(0, 0.2f);
    source->setParameter(2, 0.6f);
    for (const std::string file : {"t.fxp", "t.fxb"}) {
        const bool bank = isBankPath(file);
        const PresetFile saved = capturePreset(*source, bank, "Slow");
        EXPECT_TRUE(bank ? saved.bank.opaque : saved.program.opaque);
        writeBinaryFile(dir.file(file), bank ? encodeBank(saved.bank) : encodeProgram(saved.program));

        auto target = Plugin::load(quor::test::pluginPath("Tremolo"));
        applyPreset(*target, loadPresetFile(dir.file(file)));
        for (int i = 0; i < target->numParams(); ++i)
            EXPECT_EQ(target->parameter(i), source->parameter(i)) << file << " parameter " << i;
    }
}

TEST(PresetFile, ValuePresetsRestorePluginsWithoutChunks) {
    test::ScratchDir dir;
    auto source = Plugin::load(test::testModule("delay"));
    ASSERT_FALSE(source->programChunks());
    source->setParameter(0, 0.125f);
    source->setParameter(2, 0.5f);
    const PresetFile saved = capturePreset(*source, false, "Echo");
    const Bytes bytes = encodeProgram(saved.program);
    EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 12), "FxCk");
    writeBinaryFile(dir.file("d.fxp"), bytes);
    EXPECT_EQ(readBinaryFile(dir.file("d.fxp")), bytes);

    auto target = Plugin::load(test::testModule("delay"));
    applyPreset(*target, loadPresetFile(dir.file("d.fxp")));
    EXPECT_EQ(target->parameter(0), 0.125f);
    EXPECT_EQ(target->parameter(2), 0.5f);
    EXPECT_EQ(target->programName(), "Echo");

    // A preset never loads into a plug-in it was not made for.
    auto tremolo = Plugin::load(quor::test::pluginPath("Tremolo"));
    try {
        applyPreset(*tremolo, saved);
        ADD_FAILURE() << "a preset of another plug-in was accepted";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("'QtDl'"), std::string::npos) << e.what();
    }
    EXPECT_THROW(applyPreset(*target, capturePreset(*tremolo, false, "")), Error);
}

} // namespace
} // namespace quor::cli
