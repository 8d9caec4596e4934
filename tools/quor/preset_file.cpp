#include "tools/quor/preset_file.h"

#include "tools/quor/error.h"
#include "tools/quor/plugin.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace quor::cli {

namespace {

// The fixed part of a program, the least a program in a bank can take.
constexpr std::size_t kProgramHeaderBytes = 8 + 5 * 4 + kProgramNameBytes; // 56
// Preset files are small; this bounds what a corrupt size field can ask for.
constexpr std::size_t kMaxPresetBytes = std::size_t{1} << 30;

class Writer {
  public:
    void u32(std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.push_back(static_cast<std::uint8_t>(v >> shift));
    }
    void i32(std::int32_t v) { u32(static_cast<std::uint32_t>(v)); }
    void f32(float v) {
        std::uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        u32(bits);
    }
    void text(const std::string& s, std::size_t width) {
        const std::size_t n = std::min(s.size(), width - 1); // always zero-terminated
        bytes.insert(bytes.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
        bytes.insert(bytes.end(), width - n, 0);
    }
    void raw(const std::vector<std::uint8_t>& data) { bytes.insert(bytes.end(), data.begin(), data.end()); }
    // byteSize counts the bytes after itself.
    void patchByteSize(std::size_t containerStart) {
        const auto size = static_cast<std::uint32_t>(bytes.size() - containerStart - 8);
        for (int k = 0; k < 4; ++k)
            bytes[containerStart + 4 + static_cast<std::size_t>(k)] =
                static_cast<std::uint8_t>(size >> (24 - 8 * k));
    }
    std::vector<std::uint8_t> bytes;
};

class Reader {
  public:
    Reader(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}
    std::size_t remaining() const { return size - pos; }
    void need(std::size_t n, const char* what) const {
        if (n > remaining()) throw Error(std::string("preset file is truncated (") + what + ")");
    }
    std::uint32_t u32(const char* what) {
        need(4, what);
        const std::uint32_t v = (std::uint32_t{data[pos]} << 24) | (std::uint32_t{data[pos + 1]} << 16) |
                                (std::uint32_t{data[pos + 2]} << 8) | std::uint32_t{data[pos + 3]};
        pos += 4;
        return v;
    }
    std::int32_t i32(const char* what) { return static_cast<std::int32_t>(u32(what)); }
    float f32(const char* what) {
        const std::uint32_t bits = u32(what);
        float v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    std::string text(std::size_t width, const char* what) {
        need(width, what);
        const auto* begin = reinterpret_cast<const char*>(data + pos);
        pos += width;
        return std::string(begin, strnlen(begin, width));
    }
    std::vector<std::uint8_t> raw(std::size_t n, const char* what) {
        need(n, what);
        std::vector<std::uint8_t> out(data + pos, data + pos + n);
        pos += n;
        return out;
    }
    void skip(std::size_t n, const char* what) {
        need(n, what);
        pos += n;
    }

  private:
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos = 0;
};

std::int32_t nonNegative(std::int32_t v, const char* what) {
    if (v < 0) throw Error(std::string("preset file has a negative ") + what);
    return v;
}

void writeProgram(Writer& w, const ProgramPreset& p) {
    const std::size_t start = w.bytes.size();
    w.i32(kPresetContainer);
    w.u32(0);
    w.i32(p.opaque ? kProgramChunk : kProgramValues);
    w.i32(1);
    w.i32(p.pluginId);
    w.i32(p.pluginVersion);
    w.i32(p.opaque ? p.numParams : static_cast<std::int32_t>(p.values.size()));
    w.text(p.name, kProgramNameBytes);
    if (p.opaque) {
        w.i32(static_cast<std::int32_t>(p.chunk.size()));
        w.raw(p.chunk);
    } else {
        for (float v : p.values)
            w.f32(v);
    }
    w.patchByteSize(start);
}

ProgramPreset readProgram(Reader& r) {
    if (r.u32("header") != static_cast<std::uint32_t>(kPresetContainer))
        throw Error("not a VST preset file (no 'CcnK' header)");
    r.u32("size");
    const std::int32_t magic = r.i32("header");
    if (magic != kProgramValues && magic != kProgramChunk)
        throw Error("not a VST program ('FxCk' or 'FPCh')");
    ProgramPreset p;
    p.opaque = magic == kProgramChunk;
    r.i32("header"); // format version
    p.pluginId = r.i32("header");
    p.pluginVersion = r.i32("header");
    p.numParams = nonNegative(r.i32("header"), "parameter count");
    p.name = r.text(kProgramNameBytes, "program name");
    if (p.opaque) {
        const auto chunkSize = static_cast<std::size_t>(nonNegative(r.i32("chunk size"), "chunk size"));
        p.chunk = r.raw(chunkSize, "chunk");
    } else {
        r.need(static_cast<std::size_t>(p.numParams) * 4, "parameter values");
        p.values.reserve(static_cast<std::size_t>(p.numParams));
        for (std::int32_t i = 0; i < p.numParams; ++i)
            p.values.push_back(r.f32("parameter values"));
    }
    return p;
}

std::string describeId(std::int32_t id) {
    return formatUniqueId(id);
}

void checkOwner(const Plugin& plugin, std::int32_t presetId) {
    if (presetId != plugin.uniqueId())
        throw Error("the preset is for the plug-in with ID " + describeId(presetId) + ", not " +
                    plugin.effectName() + " (ID " + describeId(plugin.uniqueId()) + ")");
}

void applyValues(const Plugin& plugin, const ProgramPreset& p) {
    const std::size_t count = std::min(p.values.size(), static_cast<std::size_t>(plugin.numParams()));
    if (count != p.values.size() || count != static_cast<std::size_t>(plugin.numParams()))
        warn("the preset holds " + std::to_string(p.values.size()) + " values, " + plugin.effectName() +
             " has " + std::to_string(plugin.numParams()) + " parameters; applied the first " +
             std::to_string(count));
    for (std::size_t i = 0; i < count; ++i) {
        const float v = p.values[i];
        if (v == v) plugin.setParameter(static_cast<int>(i), std::clamp(v, 0.0f, 1.0f));
    }
    if (!p.name.empty()) plugin.setProgramName(p.name);
}

void requireChunks(const Plugin& plugin) {
    if (!plugin.programChunks())
        throw Error("the preset holds an opaque chunk, but " + plugin.effectName() + " does not load chunks");
}

ProgramPreset captureProgram(const Plugin& plugin, const std::string& name) {
    ProgramPreset p;
    p.opaque = plugin.programChunks();
    p.pluginId = plugin.uniqueId();
    p.pluginVersion = plugin.version();
    p.numParams = plugin.numParams();
    p.name = name.empty() ? plugin.programName() : name;
    if (p.opaque) {
        p.chunk = plugin.chunk(true);
        if (p.chunk.empty()) throw Error(plugin.effectName() + " returned no state chunk");
    } else {
        for (int i = 0; i < plugin.numParams(); ++i)
            p.values.push_back(plugin.parameter(i));
    }
    return p;
}

} // namespace

std::vector<std::uint8_t> encodeProgram(const ProgramPreset& program) {
    Writer w;
    writeProgram(w, program);
    return w.bytes;
}

std::vector<std::uint8_t> encodeBank(const BankPreset& bank) {
    Writer w;
    w.i32(kPresetContainer);
    w.u32(0);
    w.i32(bank.opaque ? kBankChunk : kBankPrograms);
    w.i32(bank.formatVersion);
    w.i32(bank.pluginId);
    w.i32(bank.pluginVersion);
    w.i32(bank.opaque ? bank.numPrograms : static_cast<std::int32_t>(bank.programs.size()));
    w.i32(bank.currentProgram);
    w.bytes.insert(w.bytes.end(), kBankReservedBytes, 0);
    if (bank.opaque) {
        w.i32(static_cast<std::int32_t>(bank.chunk.size()));
        w.raw(bank.chunk);
    } else {
        for (const ProgramPreset& p : bank.programs)
            writeProgram(w, p);
    }
    w.patchByteSize(0);
    return w.bytes;
}

PresetFile decodePreset(const std::uint8_t* data, std::size_t size) {
    Reader peek(data, size);
    if (size < 4 || peek.u32("header") != static_cast<std::uint32_t>(kPresetContainer))
        throw Error("not a VST preset file (no 'CcnK' header)");
    peek.u32("size");
    const std::int32_t magic = peek.i32("header");

    PresetFile file;
    if (magic == kProgramValues || magic == kProgramChunk) {
        Reader r(data, size);
        file.program = readProgram(r);
        return file;
    }
    if (magic != kBankPrograms && magic != kBankChunk)
        throw Error("not a VST preset file (unknown kind '" + formatUniqueId(magic) + "')");

    file.isBank = true;
    BankPreset& b = file.bank;
    Reader r(data, size);
    r.skip(12, "header");
    b.opaque = magic == kBankChunk;
    b.formatVersion = r.i32("header");
    b.pluginId = r.i32("header");
    b.pluginVersion = r.i32("header");
    b.numPrograms = nonNegative(r.i32("header"), "program count");
    const std::int32_t current = r.i32("header");
    // Version 1 banks had no current program; the field was reserved.
    b.currentProgram = b.formatVersion >= 2 ? current : 0;
    r.skip(kBankReservedBytes, "header");
    if (b.opaque) {
        const auto chunkSize = static_cast<std::size_t>(nonNegative(r.i32("chunk size"), "chunk size"));
        b.chunk = r.raw(chunkSize, "chunk");
    } else {
        r.need(static_cast<std::size_t>(b.numPrograms) * kProgramHeaderBytes, "programs");
        for (std::int32_t i = 0; i < b.numPrograms; ++i)
            b.programs.push_back(readProgram(r));
    }
    return file;
}

PresetFile capturePreset(const Plugin& plugin, bool bank, const std::string& programName) {
    PresetFile file;
    file.isBank = bank;
    if (!bank) {
        file.program = captureProgram(plugin, programName);
        return file;
    }
    BankPreset& b = file.bank;
    b.opaque = plugin.programChunks();
    b.pluginId = plugin.uniqueId();
    b.pluginVersion = plugin.version();
    b.numPrograms = std::max(plugin.numPrograms(), 1);
    b.currentProgram = std::max(plugin.currentProgram(), 0);
    if (b.opaque) {
        b.chunk = plugin.chunk(false);
        if (b.chunk.empty()) throw Error(plugin.effectName() + " returned no state chunk");
    } else if (plugin.numPrograms() <= 1) {
        b.programs.push_back(captureProgram(plugin, programName));
    } else {
        for (int k = 0; k < plugin.numPrograms(); ++k) {
            plugin.setProgram(k);
            b.programs.push_back(captureProgram(plugin, k == b.currentProgram ? programName : ""));
        }
        plugin.setProgram(b.currentProgram);
    }
    return file;
}

void applyPreset(const Plugin& plugin, const PresetFile& preset) {
    checkOwner(plugin, preset.pluginId());
    if (!preset.isBank) {
        const ProgramPreset& p = preset.program;
        if (p.opaque) {
            requireChunks(plugin);
            plugin.setChunk(p.chunk, true);
            if (!p.name.empty()) plugin.setProgramName(p.name);
        } else {
            applyValues(plugin, p);
        }
        return;
    }
    const BankPreset& b = preset.bank;
    if (b.opaque) {
        requireChunks(plugin);
        plugin.setChunk(b.chunk, false);
        return;
    }
    if (b.programs.empty()) throw Error("the preset bank holds no programs");
    const int current = b.currentProgram >= 0 && b.currentProgram < static_cast<int>(b.programs.size())
                            ? b.currentProgram
                            : 0;
    if (plugin.numPrograms() <= 1) {
        // One program slot: the bank's current program goes into it.
        applyValues(plugin, b.programs[static_cast<std::size_t>(current)]);
        return;
    }
    const std::size_t count = std::min(b.programs.size(), static_cast<std::size_t>(plugin.numPrograms()));
    if (count < b.programs.size())
        warn("the bank holds " + std::to_string(b.programs.size()) + " programs, " + plugin.effectName() +
             " has " + std::to_string(plugin.numPrograms()) + "; loaded the first " + std::to_string(count));
    for (std::size_t k = 0; k < count; ++k) {
        plugin.setProgram(static_cast<int>(k));
        applyValues(plugin, b.programs[k]);
    }
    plugin.setProgram(current < static_cast<int>(count) ? current : 0);
}

std::vector<std::uint8_t> readBinaryFile(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) throw Error("cannot read " + path + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) throw Error("cannot read " + path + ": not a regular file");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error("cannot read " + path + ": " + std::strerror(errno));
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0) throw Error("cannot read " + path);
    if (static_cast<std::size_t>(size) > kMaxPresetBytes)
        throw Error(path + " is too large for a preset file");
    in.seekg(0, std::ios::beg);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), size)) throw Error("cannot read " + path);
    return bytes;
}

void writeBinaryFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    const std::string temporary = path + ".quor-" + std::to_string(getpid()) + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) throw Error("cannot write " + path + ": " + std::strerror(errno));
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::remove(temporary.c_str());
            throw Error("error writing " + path);
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        throw Error("cannot write " + path + ": " + std::strerror(errno));
    }
}

PresetFile loadPresetFile(const std::string& path) {
    const std::vector<std::uint8_t> bytes = readBinaryFile(path);
    try {
        return decodePreset(bytes.data(), bytes.size());
    } catch (const Error& e) {
        throw Error(path + ": " + e.what());
    }
}

bool isBankPath(const std::string& path) {
    if (path.size() < 4) return false;
    std::string ext = path.substr(path.size() - 4);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".fxb";
}

} // namespace quor::cli
