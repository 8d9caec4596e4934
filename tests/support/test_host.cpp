#include "tests/support/test_host.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <memory>

namespace quor::test {

namespace {

VstIntPtr hostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == audioMasterVersion ? 2400 : 0;
}

} // namespace

std::string pluginPath(const std::string& effectName) {
    std::string slug;
    for (char c : effectName)
        slug += c == ' ' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return std::string(QUOR_PLUGIN_DIR) + "/quor-" + slug + ".so";
}

std::string effectTestName(const ::testing::TestParamInfo<std::string>& info) {
    std::string name;
    for (char c : info.param)
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

std::vector<std::string> builtEffects(std::size_t most) {
    static const char* const suite[] = {"Limiter",   "RC Filter", "Tremolo",   "Phaser",     "mDelay",
                                        "Rectifier", "Ringmod",   "Quantizer", "Clipper",    "Reverb",
                                        "Gate",      "Follower",  "Vocal",     "Compressor", "Multiplier"};
    std::vector<std::string> names;
    for (const char* name : suite)
        if (names.size() < most && access(pluginPath(name).c_str(), R_OK) == 0) names.emplace_back(name);
    return names;
}

TestHost::TestHost(const std::string& effectName, bool withCallback) {
    module = dlopen(pluginPath(effectName).c_str(), RTLD_NOW | RTLD_LOCAL);
    auto entry = module ? reinterpret_cast<VstPluginMainProc>(dlsym(module, "VSTPluginMain")) : nullptr;
    fx = entry ? entry(withCallback ? hostCallback : nullptr) : nullptr;
    if (!fx)
        ADD_FAILURE() << "no instance of " << effectName << " from " << pluginPath(effectName) << ": "
                      << (module ? "VSTPluginMain failed" : dlerror());
}

TestHost::~TestHost() {
    if (fx) fx->dispatcher(fx, effClose, 0, 0, nullptr, 0.0f);
    if (module) dlclose(module);
}

VstIntPtr TestHost::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) const {
    return fx->dispatcher(fx, opcode, index, value, ptr, opt);
}

std::string TestHost::text(VstInt32 opcode, VstInt32 index) const {
    char buffer[256] = {};
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

void TestHost::setChunk(const std::vector<std::uint8_t>& bytes, bool preset) const {
    // A buffer of exactly the bytes' size, so that the address sanitizer reports any read past the end.
    std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    dispatch(effSetChunk, preset ? 1 : 0, static_cast<VstIntPtr>(bytes.size()), exact.get());
}

void TestHost::processReplacing(std::vector<float>& left, std::vector<float>& right) const {
    run(left.data(), right.data(), std::min(left.size(), right.size()));
}

void TestHost::processInBlocks(std::vector<float>& left, std::vector<float>& right, std::size_t block) const {
    const std::size_t frames = std::min(left.size(), right.size());
    for (std::size_t at = 0; at < frames; at += block)
        run(&left[at], &right[at], std::min(block, frames - at));
}

void TestHost::run(float* left, float* right, std::size_t frames) const {
    std::vector<float> silence(frames, 0.0f);
    std::vector<float*> in{left, right};
    while (static_cast<VstInt32>(in.size()) < fx->numInputs)
        in.push_back(silence.data());
    float* out[2] = {left, right};
    fx->processReplacing(fx, in.data(), out, static_cast<VstInt32>(frames));
}

} // namespace quor::test
