// The standard VST preset files: .fxp holds one program, .fxb a bank. Every
// field is big-endian. A program is either a list of normalised parameter
// values ('FxCk') or the plug-in's opaque chunk ('FPCh'); a bank holds
// programs ('FxBk') or one opaque chunk ('FBCh').
#pragma once

#include "host/vst2_abi.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quor::cli {

class Plugin;

constexpr VstInt32 kPresetContainer = fourCharCode('C', 'c', 'n', 'K');
constexpr VstInt32 kProgramValues = fourCharCode('F', 'x', 'C', 'k');
constexpr VstInt32 kProgramChunk = fourCharCode('F', 'P', 'C', 'h');
constexpr VstInt32 kBankPrograms = fourCharCode('F', 'x', 'B', 'k');
constexpr VstInt32 kBankChunk = fourCharCode('F', 'B', 'C', 'h');
constexpr std::size_t kProgramNameBytes = 28;
constexpr std::size_t kBankReservedBytes = 124;

struct ProgramPreset {
    bool opaque = false;
    std::int32_t pluginId = 0;
    std::int32_t pluginVersion = 0;
    std::int32_t numParams = 0;
    std::string name;                // at most 27 characters are stored
    std::vector<float> values;       // values form
    std::vector<std::uint8_t> chunk; // opaque form
};

struct BankPreset {
    bool opaque = false;
    std::int32_t formatVersion = 2; // 1: older banks without currentProgram
    std::int32_t pluginId = 0;
    std::int32_t pluginVersion = 0;
    std::int32_t numPrograms = 0;
    std::int32_t currentProgram = 0;
    std::vector<ProgramPreset> programs; // values form
    std::vector<std::uint8_t> chunk;     // opaque form
};

struct PresetFile {
    bool isBank = false;
    ProgramPreset program;
    BankPreset bank;

    std::int32_t pluginId() const { return isBank ? bank.pluginId : program.pluginId; }
};

std::vector<std::uint8_t> encodeProgram(const ProgramPreset& program);
std::vector<std::uint8_t> encodeBank(const BankPreset& bank);
// Reads any of the four forms. Never reads past `size`; throws Error for
// anything that is not a complete preset file.
PresetFile decodePreset(const std::uint8_t* data, std::size_t size);

// The plug-in's current state as a program or a bank: the opaque forms when
// the plug-in keeps its state in chunks, else parameter values.
PresetFile capturePreset(const Plugin& plugin, bool bank, const std::string& programName);
// Loads a preset into the plug-in. Throws Error when the preset belongs to
// another plug-in (its ID differs) or holds a chunk the plug-in cannot take.
void applyPreset(const Plugin& plugin, const PresetFile& preset);

std::vector<std::uint8_t> readBinaryFile(const std::string& path);
// Replaces `path` only once all bytes are written.
void writeBinaryFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

PresetFile loadPresetFile(const std::string& path);
// A .fxb name asks for a bank, anything else for a program.
bool isBankPath(const std::string& path);

} // namespace quor::cli
