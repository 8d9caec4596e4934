// A minimal VST 2.4 host for tests: loads a built plug-in with dlopen and
// drives it only through the AEffect record, as a DAW does.
#pragma once

#include "host/vst2_abi.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quor::test {

// Path of a built plug-in module, e.g. pluginPath("Reverb") -> <build>/plugins/quor-reverb.so.
std::string pluginPath(const std::string& effectName);
// Names of every effect that has a built plug-in, in the suite's order; the first `most` of them.
std::vector<std::string> builtEffects(std::size_t most = SIZE_MAX);
// A test name for an effect: "RC Filter" -> "RC_Filter".
std::string effectTestName(const ::testing::TestParamInfo<std::string>& info);

// Runs a suite parameterised by effect name once per built effect.
#define QUOR_FOR_EACH_BUILT_EFFECT(suite)                                                                    \
    GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(suite);                                                    \
    INSTANTIATE_TEST_SUITE_P(Effects, suite, ::testing::ValuesIn(::quor::test::builtEffects()),              \
                             ::quor::test::effectTestName)

class TestHost {
  public:
    // Loads the module and creates one instance; fails the current test on error.
    explicit TestHost(const std::string& effectName, bool withCallback = true);
    ~TestHost();
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    AEffect* effect() const { return fx; }
    bool loaded() const { return fx != nullptr; }

    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                       float opt = 0.0f) const;
    std::string text(VstInt32 opcode, VstInt32 index = 0) const; // name / display / strings
    std::string paramName(VstInt32 index) const { return text(effGetParamName, index); }
    std::string paramDisplay(VstInt32 index) const { return text(effGetParamDisplay, index); }
    void setParam(VstInt32 index, float value) const { fx->setParameter(fx, index, value); }
    float getParam(VstInt32 index) const { return fx->getParameter(fx, index); }

    // Sample rate, block size and resume, as a host does before playing.
    void start(float sampleRate, VstInt32 blockSize = 512) const;
    void suspend() const { dispatch(effMainsChanged, 0, 0); }
    void resume() const { dispatch(effMainsChanged, 0, 1); }

    std::vector<std::uint8_t> chunk(bool preset = false) const;
    void setChunk(const std::vector<std::uint8_t>& bytes, bool preset = false) const;

    // Stereo blocks in place, channels as separate vectors; side-chain inputs,
    // when the plug-in has them, receive silence.
    void processReplacing(std::vector<float>& left, std::vector<float>& right) const;
    // In place, in blocks of `block` frames (the last one shorter), as a host streams a file.
    void processInBlocks(std::vector<float>& left, std::vector<float>& right, std::size_t block) const;

  private:
    void run(float* left, float* right, std::size_t frames) const; // in place

    void* module = nullptr;
    AEffect* fx = nullptr;
};

} // namespace quor::test
