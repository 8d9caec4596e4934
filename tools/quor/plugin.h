// One VST 2.4 plug-in instance hosted through its AEffect record only: the
// module is opened with dlopen, the instance created through VSTPluginMain (or
// the legacy `main`), and everything else goes through the dispatcher and the
// record's callbacks.
//
// Threads. quor drives an instance from one thread. The host callback may be
// entered from any thread a plug-in starts; it only reads the instance's
// settings and updates the latency, which is atomic.
#pragma once

#include "host/vst2_abi.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quor::cli {

class Plugin {
  public:
    // Loads the module at `path` and opens one instance. Throws Error with a
    // one-line reason when the file is missing, is no loadable module, has no
    // VST 2.4 entry point or its entry point returns no instance.
    static std::unique_ptr<Plugin> load(const std::string& path);
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    const std::string& path() const { return modulePath; }
    AEffect* effect() const { return fx; }

    // Identity.
    std::string effectName() const; // falls back to the file name
    std::string vendor() const;
    std::string product() const;
    std::int32_t vendorVersion() const;
    std::int32_t vstVersion() const;
    std::int32_t category() const;
    std::int32_t tailSize() const;
    std::int32_t uniqueId() const { return fx->uniqueID; }
    std::int32_t version() const { return fx->version; }
    std::int32_t flags() const { return fx->flags; }
    bool programChunks() const { return (fx->flags & effFlagsProgramChunks) != 0; }
    int numParams() const { return fx->numParams > 0 ? fx->numParams : 0; }
    int numPrograms() const { return fx->numPrograms > 0 ? fx->numPrograms : 0; }
    int numInputs() const { return fx->numInputs > 0 ? fx->numInputs : 0; }
    int numOutputs() const { return fx->numOutputs > 0 ? fx->numOutputs : 0; }

    // Parameters, normalised 0..1.
    std::string paramName(int index) const;
    std::string paramDisplay(int index) const;
    std::string paramLabel(int index) const;
    std::vector<std::string> paramNames() const;
    float parameter(int index) const { return fx->getParameter(fx, index); }
    void setParameter(int index, float value) const { fx->setParameter(fx, index, value); }

    // Programs and the opaque state chunk (preset = one program, else bank).
    int currentProgram() const;
    void setProgram(int program) const;
    std::string programName() const;
    void setProgramName(const std::string& name) const;
    std::vector<std::uint8_t> chunk(bool preset) const;
    void setChunk(const std::vector<std::uint8_t>& bytes, bool preset) const;

    // Sample rate and largest block, set while processing is off.
    void configure(double sampleRate, int maxBlockFrames);
    double sampleRate() const { return rate; }
    int blockSize() const { return maxBlock; }
    // Switches processing on (effMainsChanged 1, effStartProcess) and off.
    void start();
    void stop();
    bool running() const { return isRunning; }

    // Processes one block. `inputs` and `outputs` hold numInputs() and
    // numOutputs() channels; the accumulating call gets cleared outputs.
    void process(float** inputs, float** outputs, int frames);
    // Frames processed since start(): the transport position the plug-in sees.
    std::int64_t position() const { return samplePos; }

    // The latency the plug-in reports (initialDelay), read when it loads,
    // when processing starts and whenever it calls audioMasterIOChanged.
    std::int32_t latency() const { return reportedLatency.load(std::memory_order_relaxed); }
    int ioChangedCalls() const { return ioChanged.load(std::memory_order_relaxed); }
    int automateCalls() const { return automated.load(std::memory_order_relaxed); }

  private:
    Plugin() = default;
    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                       float opt = 0.0f) const;
    std::string text(VstInt32 opcode, VstInt32 index = 0) const;
    void refreshLatency();
    VstIntPtr answer(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt);

    static VstIntPtr hostCallback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value,
                                  void* ptr, float opt);

    std::string modulePath;
    void* module = nullptr;
    AEffect* fx = nullptr;
    double rate = 48000.0;
    int maxBlock = 512;
    bool isRunning = false;
    std::int64_t samplePos = 0;
    VstTimeInfo timeInfo{};
    std::atomic<std::int32_t> reportedLatency{0};
    std::atomic<int> ioChanged{0};
    std::atomic<int> automated{0};
};

// "Abcd" for a printable four-character ID, else the decimal number.
std::string formatUniqueId(std::int32_t id);

} // namespace quor::cli
