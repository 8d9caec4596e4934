#include "framework/effect.h"

#include "framework/numeric.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace quor {

namespace {
constexpr float kPi = 3.14159274f;
// Fill value of a fresh values array: the smallest positive normal float, so
// that any default, zero included, registers as a change.
constexpr std::uint32_t kSmallestNormalBits = 0x00800000u;
} // namespace

const float semitoneRatio = std::pow(2.0f, 1.0f / 12.0f);

DspBase::DspBase()
    : tuningHz(440.0f), noteZeroHz(440.0f * std::pow(semitoneRatio, -69.0f)),
      middleCHz(noteZeroHz * std::pow(semitoneRatio, 60.0f)) {}

void DspBase::setSampleRate(const float& rate) {
    if (rate == sampleRate) return;
    sampleRate = rate;
    samplePeriod = 1.0f / rate;
    piOverRate = samplePeriod * kPi;
    twoPiOverRate = piOverRate + piOverRate;
    sampleRateChanged();
    controlRate = sampleRate * controlStep;
    controlRateChanged();
}

void DspBase::setControlDivisor(std::int32_t n) {
    if (n == controlDivisor) return;
    controlDivisor = n;
    controlStep = 1.0f / static_cast<float>(n);
    if (sampleRate != 0.0f) {
        controlRate = controlStep * sampleRate;
        controlRateChanged();
    }
}

Effect::Effect(const char* effectName, const ParamInfo* table, std::int32_t count) : name(effectName) {
    attachParameters(table, count);
}

Effect::Effect(const char* effectName, const ParamInfo* table, std::int32_t count, const ParamGroup* groupTable,
               std::int32_t /*groupCount*/)
    : Effect(effectName, table, count) {
    groups = groupTable;
}

Effect::~Effect() { delete[] values; }

void Effect::attachParameters(const ParamInfo* table, std::int32_t count) {
    params = table;
    if (count == paramCount) return;
    paramCount = count;
    delete[] values;
    values = nullptr;
    if (count <= 0) return;
    values = new float[static_cast<std::size_t>(count)];
    float fill;
    std::memcpy(&fill, &kSmallestNormalBits, sizeof fill);
    for (std::int32_t i = 0; i < count; ++i)
        values[i] = fill;
}

void Effect::applyDefaults() {
    for (std::int32_t i = 0; i < paramCount; ++i)
        values[i] = params[i].defaultValue;
    for (std::int32_t i = 0; i < paramCount; ++i)
        parameterChanged(i);
}

float Effect::sanitizedValue(std::int32_t index, float value) const {
    const ParamInfo& row = params[index];
    if (std::isnan(value)) return row.defaultValue;
    if (value < row.min) return row.min;
    if (value > row.max) return row.max;
    return withoutSubnormal(value);
}

void Effect::formatValue(std::int32_t index, char* text, std::int32_t /*maxLength*/) {
    const ParamInfo& row = params[index];
    const float v = values[index];
    if (row.discrete) {
        const int n = truncatedInt(v);
        if (row.min == 0.0f && row.max == 1.0f)
            std::sprintf(text, "%s", n == 0 ? "Off" : "On");
        else
            std::sprintf(text, "%i", n);
        return;
    }
    const int n = truncatedInt(std::floor(v * 100.0f));
    std::sprintf(text, "%i%%", n);
}

} // namespace quor
