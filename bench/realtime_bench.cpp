// The worst block under contention, as a demanding host runs a plug-in: the
// audio thread at real-time priority (SCHED_FIFO when the system allows it)
// processing 64-frame blocks at 48 kHz on a 1.33 ms schedule, three threads of
// normal priority keeping the machine busy, and one of the host's activities
// below going on at the same time.
//
//   WorstBlock/<effect>/parameters   a control thread sets parameters in a loop
//   WorstBlock/<effect>/displays     a control thread asks for display texts in a loop
//   WorstBlock/<effect>/automation   the audio thread sets a parameter before each block
//   WorstBlock/<effect>/suspend      a control thread suspends and resumes every 20 ms
//   WorstBlock/Reverb192k/algorithm  Reverb at 192 kHz, Density 16, Size 1: the
//                                    Algorithm toggled every 50 ms
//   WorstBlock/Reverb192k/size       the same, its Size automated before each block
//
// Counters: worst_us (the longest process call), budget_us (the block's
// duration), late (blocks that took longer than their budget), fifo (1 when
// the audio thread really ran at real-time priority). Each case runs for
// QUOR_RT_SECONDS (default 2) seconds.
#include "framework/registry.h"
#include "host/plugin_instance.h"

#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace quor {
namespace {

using Clock = std::chrono::steady_clock;

constexpr VstInt32 kFrames = 64;
constexpr int kBusyThreads = 3;

enum class Activity { parameters, displays, automation, suspend, algorithm, size };

VstIntPtr hostCallback(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    return opcode == 1 ? 2400 : 0; // audioMasterVersion
}

double caseSeconds() {
    const char* text = std::getenv("QUOR_RT_SECONDS");
    const double s = text ? std::atof(text) : 2.0;
    return s > 0.0 ? s : 2.0;
}

struct Result {
    double worstSeconds = 0.0;
    long late = 0;
    bool fifo = false;
};

Result runCase(const char* effectName, Activity activity, float rate) {
    PluginInstance instance(hostCallback, effectName, EffectRegistry::suite());
    AEffect* fx = instance.effectRecord();
    const bool heavyReverb = activity == Activity::algorithm || activity == Activity::size;
    if (heavyReverb) {
        fx->setParameter(fx, 14, 1.0f); // Tail Density 16
        fx->setParameter(fx, 15, 1.0f); // Size 1
    }
    fx->dispatcher(fx, effSetSampleRate, 0, 0, nullptr, rate);
    fx->dispatcher(fx, effSetBlockSize, 0, kFrames, nullptr, 0.0f);
    fx->dispatcher(fx, effMainsChanged, 0, 1, nullptr, 0.0f);

    const auto inputs = static_cast<std::size_t>(std::max(fx->numInputs, 2));
    std::vector<std::vector<float>> in(inputs, std::vector<float>(kFrames)),
        out(2, std::vector<float>(kFrames));
    std::uint32_t seed = 0x2545F491u;
    for (auto& channel : in)
        for (float& x : channel) {
            seed = seed * 1664525u + 1013904223u;
            x = static_cast<float>(static_cast<std::int32_t>(seed)) * (0.5f / 2147483648.0f);
        }
    std::vector<float*> inPointers, outPointers;
    for (auto& c : in)
        inPointers.push_back(c.data());
    for (auto& c : out)
        outPointers.push_back(c.data());

    std::atomic<bool> done{false};
    std::vector<std::thread> busy;
    for (int t = 0; t < kBusyThreads; ++t)
        busy.emplace_back([&done] {
            volatile std::uint64_t sink = 0;
            while (!done.load(std::memory_order_relaxed))
                sink = sink + 1;
        });
    std::thread control([&] {
        char text[256];
        VstInt32 index = 0;
        float value = 0.0f;
        auto last = Clock::now();
        bool on = true;
        while (!done.load(std::memory_order_relaxed)) {
            const VstInt32 count = std::max(fx->numParams, 1);
            switch (activity) {
            case Activity::parameters:
                fx->setParameter(fx, index, value);
                value = value > 0.99f ? 0.0f : value + 0.013f;
                index = (index + 1) % count;
                break;
            case Activity::displays:
                fx->dispatcher(fx, effGetParamDisplay, index, 0, text, 0.0f);
                index = (index + 1) % count;
                break;
            case Activity::suspend:
            case Activity::algorithm:
                if (Clock::now() - last >
                    std::chrono::milliseconds(activity == Activity::suspend ? 20 : 50)) {
                    last = Clock::now();
                    on = !on;
                    if (activity == Activity::suspend)
                        fx->dispatcher(fx, effMainsChanged, 0, on ? 1 : 0, nullptr, 0.0f);
                    else
                        fx->setParameter(fx, 13, on ? 1.0f : 0.0f);
                }
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                break;
            default:
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                break;
            }
        }
    });

    Result result;
    sched_param priority{};
    priority.sched_priority = sched_get_priority_min(SCHED_FIFO) + 10;
    result.fifo = pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority) == 0;
    const auto budget = std::chrono::duration<double>(kFrames / rate);
    const auto end = Clock::now() + std::chrono::duration<double>(caseSeconds());
    auto deadline = Clock::now();
    VstInt32 automated = 0;
    float automation = 0.0f;
    while (Clock::now() < end) {
        const auto started = Clock::now();
        if (activity == Activity::automation) {
            fx->setParameter(fx, automated, automation);
            automated = (automated + 1) % std::max(fx->numParams, 1);
            automation = automation > 0.99f ? 0.0f : automation + 0.017f;
        } else if (activity == Activity::size) {
            automation = automation > 0.99f ? 0.2f : automation + 0.001f;
            fx->setParameter(fx, 15, automation);
        }
        fx->processReplacing(fx, inPointers.data(), outPointers.data(), kFrames);
        const std::chrono::duration<double> took = Clock::now() - started;
        result.worstSeconds = std::max(result.worstSeconds, took.count());
        if (took > budget) ++result.late;
        deadline += std::chrono::duration_cast<Clock::duration>(budget);
        std::this_thread::sleep_until(deadline);
    }
    if (result.fifo) {
        priority.sched_priority = 0;
        pthread_setschedparam(pthread_self(), SCHED_OTHER, &priority);
    }
    done = true;
    control.join();
    for (std::thread& t : busy)
        t.join();
    fx->dispatcher(fx, effMainsChanged, 0, 0, nullptr, 0.0f);
    return result;
}

void worstBlock(benchmark::State& state, const char* effectName, Activity activity, float rate) {
    Result result;
    for (auto _ : state)
        result = runCase(effectName, activity, rate);
    state.counters["worst_us"] = result.worstSeconds * 1e6;
    state.counters["budget_us"] = kFrames / rate * 1e6;
    state.counters["late"] = static_cast<double>(result.late);
    state.counters["fifo"] = result.fifo ? 1.0 : 0.0;
}

const bool registered = [] {
    const std::pair<const char*, Activity> activities[] = {{"parameters", Activity::parameters},
                                                           {"displays", Activity::displays},
                                                           {"automation", Activity::automation},
                                                           {"suspend", Activity::suspend}};
    for (const EffectFactory* f = EffectRegistry::suite().first(); f; f = f->next) {
        std::string name = f->name;
        std::replace(name.begin(), name.end(), ' ', '-');
        for (const auto& [label, activity] : activities)
            benchmark::RegisterBenchmark(("WorstBlock/" + name + "/" + label).c_str(), worstBlock, f->name,
                                         activity, 48000.0f)
                ->Iterations(1)
                ->Unit(benchmark::kMillisecond);
    }
    for (const auto& [label, activity] :
         {std::pair{"algorithm", Activity::algorithm}, {"size", Activity::size}})
        benchmark::RegisterBenchmark((std::string("WorstBlock/Reverb192k/") + label).c_str(), worstBlock,
                                     "Reverb", activity, 192000.0f)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    return true;
}();

} // namespace
} // namespace quor
