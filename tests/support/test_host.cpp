#include "tests/support/test_host.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace quor::test {

namespace {

// Host callbacks have no user pointer of their own; find the call record by effect.
std::mutex registryMutex;
std::unordered_map<AEffect*, HostCalls*>& callRegistry() {
    static std::unordered_map<AEffect*, HostCalls*> map;
    return map;
}
thread_local HostCalls* constructingCalls = nullptr;

VstIntPtr hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr, void*, float opt) {
    HostCalls* calls = nullptr;
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        auto it = callRegistry().find(effect);
        if (it != callRegistry().end()) calls = it->second;
    }
    if (!calls) calls = constructingCalls;
    switch (opcode) {
    case audioMasterVersion:
        return 2400;
    case audioMasterIOChanged:
        if (calls) ++calls->ioChanged;
        return 1;
    case audioMasterAutomate:
        if (calls) {
            ++calls->automate;
            calls->lastAutomateIndex = index;
            calls->lastAutomateValue = opt;
        }
        return 0;
    default:
        return 0;
    }
}

std::string slug(const std::string& name) {
    std::string s;
    for (char c : name)
        s += c == ' ' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

std::string pluginPath(const std::string& effectName) {
    return std::string(QUOR_PLUGIN_DIR) + "/quor-" + slug(effectName) + ".so";
}

std::vector<std::string> builtEffects() {
    static const char* const suite[] = {"Limiter", "RC Filter", "Tremolo",  "Phaser",   "mDelay",
                                        "Rectifier", "Ringmod", "Quantizer", "Clipper", "Reverb",
                                        "Gate",    "Follower", "Vocal",     "Compressor", "Multiplier"};
    std::vector<std::string> names;
    for (const char* name : suite)
        if (access(pluginPath(name).c_str(), R_OK) == 0) names.emplace_back(name);
    return names;
}

TestHost::TestHost(const std::string& effectName, bool withCallback) : hostCalls(new HostCalls) {
    module = dlopen(pluginPath(effectName).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        ADD_FAILURE() << "cannot load " << pluginPath(effectName) << ": " << dlerror();
        return;
    }
    auto entry = reinterpret_cast<VstPluginMainProc>(dlsym(module, "VSTPluginMain"));
    if (!entry) {
        ADD_FAILURE() << "no VSTPluginMain in " << pluginPath(effectName);
        return;
    }
    constructingCalls = hostCalls;
    fx = entry(withCallback ? hostCallback : nullptr);
    constructingCalls = nullptr;
    if (!fx) {
        ADD_FAILURE() << "VSTPluginMain returned null for " << effectName;
        return;
    }
    std::lock_guard<std::mutex> lock(registryMutex);
    callRegistry()[fx] = hostCalls;
}

TestHost::~TestHost() {
    close();
    if (module) dlclose(module);
    delete hostCalls;
}

void TestHost::close() {
    if (!fx) return;
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        callRegistry().erase(fx);
    }
    fx->dispatcher(fx, effClose, 0, 0, nullptr, 0.0f);
    fx = nullptr;
}

VstIntPtr TestHost::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) const {
    return fx->dispatcher(fx, opcode, index, value, ptr, opt);
}

std::string TestHost::text(VstInt32 opcode, VstInt32 index) const {
    char buffer[256];
    std::memset(buffer, 0, sizeof buffer);
    dispatch(opcode, index, 0, buffer);
    return buffer;
}

void TestHost::start(float sampleRate, VstInt32 blockSize) const {
    dispatch(effOpen);
    dispatch(effSetSampleRate, 0, 0, nullptr, sampleRate);
    dispatch(effSetBlockSize, 0, blockSize);
    resume();
}

std::vector<std::uint8_t> TestHost::chunk(bool preset) const {
    void* data = nullptr;
    const VstIntPtr size = dispatch(effGetChunk, preset ? 1 : 0, 0, &data);
    if (size <= 0 || !data) return {};
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    return std::vector<std::uint8_t>(bytes, bytes + size);
}

void TestHost::setChunk(std::vector<std::uint8_t> bytes, bool preset) const {
    dispatch(effSetChunk, preset ? 1 : 0, static_cast<VstIntPtr>(bytes.size()), bytes.data());
}

void TestHost::processReplacing(std::vector<float>& left, std::vector<float>& right) const {
    const auto frames = static_cast<VstInt32>(std::min(left.size(), right.size()));
    std::vector<std::vector<float>> extra(static_cast<std::size_t>(std::max(fx->numInputs, 2) - 2),
                                          std::vector<float>(static_cast<std::size_t>(frames), 0.0f));
    std::vector<float*> in{left.data(), right.data()};
    for (auto& e : extra)
        in.push_back(e.data());
    std::vector<float*> out{left.data(), right.data()};
    fx->processReplacing(fx, in.data(), out.data(), frames);
}

void TestHost::processAccumulating(const std::vector<float>& inL, const std::vector<float>& inR,
                                   std::vector<float>& outL, std::vector<float>& outR) const {
    const auto frames = static_cast<VstInt32>(std::min(inL.size(), inR.size()));
    std::vector<std::vector<float>> extra(static_cast<std::size_t>(std::max(fx->numInputs, 2) - 2),
                                          std::vector<float>(static_cast<std::size_t>(frames), 0.0f));
    std::vector<float*> in{const_cast<float*>(inL.data()), const_cast<float*>(inR.data())};
    for (auto& e : extra)
        in.push_back(e.data());
    std::vector<float*> out{outL.data(), outR.data()};
    fx->process(fx, in.data(), out.data(), frames);
}

} // namespace quor::test
