#include "tests/support/test_host.h"
#include "tools/quor/error.h"
#include "tools/quor/plugin.h"
#include "tools/quor/preset_file.h"
#include "tools/tests/test_support.h"

namespace quor::cli {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Hand assembly, independent of the encoder: big-endian words, tags, names.
Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
constexpr std::uint32_t tag(const char* s) {
    return std::uint32_t(std::uint8_t(s[0])) << 24 | std::uint32_t(std::uint8_t(s[1])) << 16 |
           std::uint32_t(std::uint8_t(s[2])) << 8 | std::uint8_t(s[3]);
}
Bytes be(std::initializer_list<std::uint32_t> words) {
    Bytes b;
    for (std::uint32_t w : words)
        b.insert(b.end(),
                 {std::uint8_t(w >> 24), std::uint8_t(w >> 16), std::uint8_t(w >> 8), std::uint8_t(w)});
    return b;
}
Bytes name28(const std::string& s) {
    Bytes b(s.begin(), s.end());
    b.resize(28, 0);
    return b;
}

TEST(PresetFile, AllFourFormsMatchHandAssembledBytesAndReadBackExactly) {
    constexpr std::int32_t kId = tag("QtDp");
    const Bytes chunk{'q', 'f', 'x', 's', 1, 2, 3};
    const ProgramPreset values{false, kId, 3, 3, "Warm", {0.5f, 1.0f, 0.25f}, {}};
    const ProgramPreset opaque{true, kId, 1, 24, "A name longer than the twenty-eight bytes", {}, chunk};
    const BankPreset programs{false, 2, kId, 3, 2, 1, {values, values}, {}};
    const BankPreset chunks{true, 2, kId, 3, 5, 1, {}, chunk};
    // The size field counts what follows it; 0.5, 1 and 0.25 as IEEE bits.
    const Bytes fxck = be({tag("CcnK"), 60, tag("FxCk"), 1, tag("QtDp"), 3, 3}) + name28("Warm") +
                       be({0x3F000000, 0x3F800000, 0x3E800000});
    const struct {
        Bytes encoded, expected;
    } forms[] = {
        {encodeProgram(values), fxck},
        {encodeProgram(opaque), be({tag("CcnK"), 59, tag("FPCh"), 1, tag("QtDp"), 1, 24}) +
                                    name28("A name longer than the twen") + be({7}) + chunk},
        {encodeBank(programs),
         be({tag("CcnK"), 284, tag("FxBk"), 2, tag("QtDp"), 3, 2, 1}) + Bytes(124, 0) + fxck + fxck},
        {encodeBank(chunks),
         be({tag("CcnK"), 159, tag("FBCh"), 2, tag("QtDp"), 3, 5, 1}) + Bytes(124, 0) + be({7}) + chunk},
    };
    for (const auto& form : forms) {
        EXPECT_EQ(form.encoded, form.expected);
        const PresetFile back = decodePreset(form.expected.data(), form.expected.size());
        EXPECT_EQ(back.isBank ? encodeBank(back.bank) : encodeProgram(back.program), form.expected);
    }
    // Version 1 banks had no current program: the field is reserved there.
    Bytes oldBank = forms[2].expected;
    oldBank[15] = 1;
    EXPECT_EQ(decodePreset(oldBank.data(), oldBank.size()).bank.currentProgram, 0);
}

TEST(PresetFile, DamagedAndForeignFilesAreRejectedWithoutReadingPastTheEnd) {
    ProgramPreset p;
    p.values = {0.5f, 0.5f};
    BankPreset b;
    b.programs = {p, p};
    for (const Bytes& whole : {encodeProgram(p), encodeBank(b)})
        for (std::size_t n = 0; n < whole.size(); ++n) {
            const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
            EXPECT_THROW(decodePreset(cut.data(), cut.size()), Error) << n;
        }

    // Patched: 127 values claimed but 2 held, a negative count, two billion
    // programs, an unknown kind, no container at all.
    const std::tuple<bool, std::size_t, std::uint8_t> damage[] = {
        {false, 27, 0x7F}, {false, 24, 0x80}, {true, 24, 0x7F}, {false, 8, 'X'}, {false, 0, 'R'}};
    for (const auto& [bank, offset, byte] : damage) {
        Bytes bytes = bank ? encodeBank(b) : encodeProgram(p);
        bytes[offset] = byte;
        EXPECT_THROW(decodePreset(bytes.data(), bytes.size()), Error) << offset;
    }
}

// State saved from one instance restores another through a file, in both
// forms: the Tremolo keeps chunks, the test delay parameter values.
TEST(PresetFile, SavedStateRestoresAnotherInstance) {
    test::ScratchDir dir;
    for (const std::string& path : {quor::test::pluginPath("Tremolo"), test::testModule("delay")})
        for (const std::string file : {"p.fxp", "p.fxb"}) {
            auto source = Plugin::load(path), target = Plugin::load(path);
            source->setParameter(0, 0.125f);
            source->setParameter(2, 0.5f);
            const PresetFile saved = capturePreset(*source, isBankPath(file), "");
            EXPECT_EQ(saved.isBank ? saved.bank.opaque : saved.program.opaque, source->programChunks());
            writeBinaryFile(dir.file(file),
                            saved.isBank ? encodeBank(saved.bank) : encodeProgram(saved.program));
            applyPreset(*target, loadPresetFile(dir.file(file)));
            for (int i = 0; i < target->numParams(); ++i)
                EXPECT_EQ(target->parameter(i), source->parameter(i)) << path << file << " parameter " << i;
        }
}

} // namespace
} // namespace quor::cli
