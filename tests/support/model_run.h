// Runs a plug-in and a frame-by-frame model of its effect side by side over a
// list of blocks, comparing every output sample bit for bit.
#pragma once

#include "tests/support/test_host.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace quor::test {

// A quantity the effects glide: set at once until the effect has processed
// audio, then one-pole steps over a fixed length that end exactly on the target.
struct ModelGlide {
    float value = 0.0f, target = 0.0f, remaining = 0.0f;
    float coefficient = 0.0f, length = 0.0f;

    ModelGlide(float seconds, float stepsPerSecond) {
        coefficient = 1.0f - std::pow(0.01f, 1.0f / (seconds * stepsPerSecond));
        length = std::floor(-4.6051702f / std::log(1.0f - coefficient)) + 1.0f;
    }
    void set(float v, bool live) {
        if (!live || value == v) {
            value = target = v;
            remaining = 0.0f;
        } else if (remaining <= 0.0f || target != v) {
            target = v;
            remaining = length;
        }
    }
    void step() {
        if (remaining <= 0.0f) return;
        value = value + (target - value) * coefficient;
        remaining -= 1.0f;
        if (remaining <= 0.0f) value = target;
    }
};

// frames of audio, replacing or accumulating; a parameter change (host value
// 0..1) before it when param >= 0.
struct ModelBlock {
    int frames;
    bool replacing;
    int param = -1;
    float value = 0.0f;
};

// A model offers setParam(index, hostValue) and
// run(const float* const in[2], float* const out[2], int frames, bool replacing).
template <class Model>
void expectModelOutput(const TestHost& host, Model& model, const std::vector<ModelBlock>& blocks,
                       const std::string& what) {
    std::size_t at = 0;
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        const ModelBlock& block = blocks[b];
        if (block.param >= 0) {
            host.setParam(block.param, block.value);
            model.setParam(block.param, block.value);
        }
        const auto frames = static_cast<std::size_t>(block.frames);
        std::vector<float> in[2], out[2];
        for (int c = 0; c < 2; ++c) {
            for (std::size_t i = at; i < at + frames; ++i) {
                const auto n = static_cast<float>(i);
                in[c].push_back(0.7f * std::sin(0.013f * n + c) + 0.25f * std::sin(0.31f * n * (c + 1.0f)));
            }
            out[c].assign(frames, c == 0 ? 0.25f : -0.5f);
        }
        std::vector<float> expected[2] = {out[0], out[1]};
        const float* modelIn[2] = {in[0].data(), in[1].data()};
        float* modelOut[2] = {expected[0].data(), expected[1].data()};
        model.run(modelIn, modelOut, block.frames, block.replacing);
        if (block.replacing) {
            host.processReplacing(in[0], in[1]);
            out[0] = in[0];
            out[1] = in[1];
        } else {
            host.processAccumulating(in[0], in[1], out[0], out[1]);
        }
        for (int c = 0; c < 2; ++c)
            for (std::size_t i = 0; i < frames; ++i)
                if (std::memcmp(&out[c][i], &expected[c][i], sizeof(float)) != 0) {
                    ADD_FAILURE() << what << ": block " << b << ", channel " << c << ", frame " << i << ": "
                                  << out[c][i] << ", expected " << expected[c][i];
                    return;
                }
        at += frames;
    }
}

} // namespace quor::test
