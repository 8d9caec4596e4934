#include "tools/quor/plugin.h"

#include "tools/quor/error.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>
#include <utility>

namespace quor::cli {

namespace {

constexpr double kTempoBpm = 120.0;
constexpr std::size_t kTextBytes = 1024; // plug-ins are asked for 64 at most; slack for the careless ones

// The host callback carries no host pointer: instances are found by record.
std::mutex registryMutex;
std::vector<std::pair<AEffect*, Plugin*>>& registry() {
    static std::vector<std::pair<AEffect*, Plugin*>> entries;
    return entries;
}
// The instance being created, for callbacks made from inside the entry point.
thread_local Plugin* constructing = nullptr;

Plugin* findInstance(AEffect* effect) {
    std::lock_guard<std::mutex> lock(registryMutex);
    for (const auto& entry : registry())
        if (entry.first == effect) return entry.second;
    return nullptr;
}

// dlsym on a module handle also searches what the module depends on; an entry
// point only counts when it is defined in the module itself.
bool definedInModule(void* handle, void* symbol) {
    Dl_info where{};
    link_map* map = nullptr;
    if (!dladdr(symbol, &where) || dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map) return false;
    return where.dli_fname && map->l_name && std::strcmp(where.dli_fname, map->l_name) == 0;
}

std::string fileName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string trimmed(std::string s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.pop_back();
    std::size_t start = 0;
    while (start < s.size() && std::isspace(static_cast<unsigned char>(s[start])))
        ++start;
    return s.substr(start);
}

} // namespace

std::string formatUniqueId(std::int32_t id) {
    const auto u = static_cast<std::uint32_t>(id);
    char code[5] = {static_cast<char>(u >> 24), static_cast<char>(u >> 16), static_cast<char>(u >> 8),
                    static_cast<char>(u), 0};
    const bool printable = std::all_of(code, code + 4, [](char c) { return c >= 0x20 && c < 0x7f; });
    if (printable) return std::string("'") + code + "'";
    return std::to_string(id);
}

std::unique_ptr<Plugin> Plugin::load(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        throw Error("cannot open plug-in " + path + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) throw Error("cannot open plug-in " + path + ": not a regular file");

    std::unique_ptr<Plugin> plugin(new Plugin);
    plugin->modulePath = path;
    // A bare file name would make dlopen search the library path instead.
    const std::string openPath = path.find('/') == std::string::npos ? "./" + path : path;
    dlerror();
    plugin->module = dlopen(openPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!plugin->module) {
        const char* reason = dlerror();
        throw Error(path + " is not a loadable plug-in module (" + (reason ? reason : "unknown reason") +
                    ")");
    }
    // Modules stay mapped until the process ends: plug-ins may leave threads
    // and exit handlers behind that must not outlive their code.

    void* entrySymbol = dlsym(plugin->module, "VSTPluginMain");
    if (!entrySymbol || !definedInModule(plugin->module, entrySymbol)) {
        entrySymbol = dlsym(plugin->module, "main");
        if (entrySymbol && !definedInModule(plugin->module, entrySymbol)) entrySymbol = nullptr;
    }
    if (!entrySymbol) throw Error(path + " is not a VST 2.4 plug-in (no VSTPluginMain or main entry point)");
    auto entry = reinterpret_cast<VstPluginMainProc>(entrySymbol);

    AEffect* effect = nullptr;
    constructing = plugin.get();
    try {
        effect = entry(&Plugin::hostCallback);
    } catch (...) {
        effect = nullptr;
    }
    constructing = nullptr;
    if (!effect) throw Error(path + ": the plug-in's entry point returned no instance");
    if (effect->magic != kEffectMagic)
        throw Error(path + ": the entry point returned something that is no VST 2.4 plug-in");
    if (!effect->dispatcher || !effect->setParameter || !effect->getParameter ||
        (!effect->processReplacing && !effect->process))
        throw Error(path + ": the plug-in's record lacks a callback a host needs");

    plugin->fx = effect;
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        registry().emplace_back(effect, plugin.get());
    }
    plugin->dispatch(effOpen);
    plugin->configure(plugin->rate, plugin->maxBlock);
    plugin->refreshLatency();
    return plugin;
}

Plugin::~Plugin() {
    if (!fx) return;
    if (isRunning) stop();
    dispatch(effClose);
    std::lock_guard<std::mutex> lock(registryMutex);
    auto& entries = registry();
    entries.erase(
        std::remove_if(entries.begin(), entries.end(), [this](const auto& e) { return e.second == this; }),
        entries.end());
}

VstIntPtr Plugin::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) const {
    return fx->dispatcher(fx, opcode, index, value, ptr, opt);
}

std::string Plugin::text(VstInt32 opcode, VstInt32 index) const {
    char buffer[kTextBytes] = {};
    dispatch(opcode, index, 0, buffer);
    buffer[kTextBytes - 1] = 0;
    return trimmed(buffer);
}

std::string Plugin::effectName() const {
    std::string name = text(effGetEffectName);
    if (name.empty()) name = product();
    if (name.empty()) name = fileName(modulePath);
    return name;
}

std::string Plugin::vendor() const {
    return text(effGetVendorString);
}
std::string Plugin::product() const {
    return text(effGetProductString);
}
std::int32_t Plugin::vendorVersion() const {
    return static_cast<std::int32_t>(dispatch(effGetVendorVersion));
}
std::int32_t Plugin::vstVersion() const {
    return static_cast<std::int32_t>(dispatch(effGetVstVersion));
}
std::int32_t Plugin::category() const {
    return static_cast<std::int32_t>(dispatch(effGetPlugCategory));
}
std::int32_t Plugin::tailSize() const {
    return static_cast<std::int32_t>(dispatch(effGetTailSize));
}

std::string Plugin::paramName(int index) const {
    return text(effGetParamName, index);
}
std::string Plugin::paramDisplay(int index) const {
    return text(effGetParamDisplay, index);
}
std::string Plugin::paramLabel(int index) const {
    return text(effGetParamLabel, index);
}

std::vector<std::string> Plugin::paramNames() const {
    std::vector<std::string> names;
    for (int i = 0; i < numParams(); ++i)
        names.push_back(paramName(i));
    return names;
}

int Plugin::currentProgram() const {
    return static_cast<int>(dispatch(effGetProgram));
}
void Plugin::setProgram(int program) const {
    dispatch(effSetProgram, 0, program);
}
std::string Plugin::programName() const {
    return text(effGetProgramName);
}

void Plugin::setProgramName(const std::string& name) const {
    // Program names are at most 24 characters in the VST 2.4 convention.
    char buffer[kTextBytes] = {};
    std::strncpy(buffer, name.c_str(), 24);
    dispatch(effSetProgramName, 0, 0, buffer);
}

std::vector<std::uint8_t> Plugin::chunk(bool preset) const {
    void* data = nullptr;
    const VstIntPtr size = dispatch(effGetChunk, preset ? 1 : 0, 0, &data);
    if (size <= 0 || !data) return {};
    if (size > INT32_MAX)
        throw Error(effectName() + " returned a state chunk of " + std::to_string(size) + " bytes");
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    return std::vector<std::uint8_t>(bytes, bytes + size);
}

void Plugin::setChunk(const std::vector<std::uint8_t>& bytes, bool preset) const {
    // Plug-ins take a mutable pointer; hand them a copy.
    std::vector<std::uint8_t> copy(bytes);
    dispatch(effSetChunk, preset ? 1 : 0, static_cast<VstIntPtr>(copy.size()), copy.data());
}

void Plugin::configure(double sampleRate, int maxBlockFrames) {
    const bool wasRunning = isRunning;
    if (wasRunning) stop();
    rate = sampleRate;
    maxBlock = maxBlockFrames;
    dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(sampleRate));
    dispatch(effSetBlockSize, 0, maxBlockFrames);
    if (wasRunning) start();
}

void Plugin::start() {
    if (isRunning) return;
    samplePos = 0;
    timeInfo.samplePos = 0.0;
    dispatch(effMainsChanged, 0, 1);
    dispatch(effStartProcess);
    isRunning = true;
    refreshLatency();
}

void Plugin::stop() {
    if (!isRunning) return;
    dispatch(effStopProcess);
    dispatch(effMainsChanged, 0, 0);
    isRunning = false;
}

void Plugin::refreshLatency() {
    reportedLatency.store(__atomic_load_n(&fx->initialDelay, __ATOMIC_RELAXED), std::memory_order_relaxed);
}

void Plugin::process(float** inputs, float** outputs, int frames) {
    timeInfo.samplePos = static_cast<double>(samplePos);
    if ((fx->flags & effFlagsCanReplacing) && fx->processReplacing) {
        fx->processReplacing(fx, inputs, outputs, frames);
    } else {
        for (int c = 0; c < numOutputs(); ++c)
            std::fill(outputs[c], outputs[c] + frames, 0.0f);
        fx->process(fx, inputs, outputs, frames);
    }
    samplePos += frames;
}

VstIntPtr Plugin::hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                               float opt) {
    if (opcode == audioMasterVersion) return kVstVersion;
    Plugin* plugin = effect ? findInstance(effect) : nullptr;
    if (!plugin) plugin = constructing;
    if (!plugin) return 0;
    return plugin->answer(effect, opcode, index, value, ptr, opt);
}

VstIntPtr Plugin::answer(AEffect* effect, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    switch (opcode) {
    case audioMasterGetSampleRate:
        return static_cast<VstIntPtr>(std::lround(rate));
    case audioMasterGetBlockSize:
        return maxBlock;
    case audioMasterGetTime: {
        // Transport at a fixed 120 BPM in 4/4, playing while we process.
        VstTimeInfo& t = timeInfo;
        t.sampleRate = rate;
        t.tempo = kTempoBpm;
        t.ppqPos = t.samplePos / rate * (kTempoBpm / 60.0);
        t.barStartPos = std::floor(t.ppqPos / 4.0) * 4.0;
        t.timeSigNumerator = 4;
        t.timeSigDenominator = 4;
        t.flags = kVstPpqPosValid | kVstTempoValid | kVstBarsValid | kVstTimeSigValid |
                  (isRunning ? kVstTransportPlaying : 0);
        return reinterpret_cast<VstIntPtr>(&timeInfo);
    }
    case audioMasterIOChanged: {
        // During construction fx is not known yet; the caller's record is.
        AEffect* record = fx ? fx : effect;
        if (record && record->magic == kEffectMagic)
            reportedLatency.store(__atomic_load_n(&record->initialDelay, __ATOMIC_RELAXED),
                                  std::memory_order_relaxed);
        ioChanged.fetch_add(1, std::memory_order_relaxed);
        return 1;
    }
    case audioMasterAutomate:
        automated.fetch_add(1, std::memory_order_relaxed);
        return 0;
    default:
        return 0;
    }
}

} // namespace quor::cli
