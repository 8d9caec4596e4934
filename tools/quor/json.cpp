#include "tools/quor/json.h"

#include "tools/quor/plugin.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace quor::cli {

namespace {

using Json = nlohmann::ordered_json;

Json number(double value) {
    return std::isfinite(value) ? Json(value) : Json(nullptr);
}

// 0.3f as 0.3, not 0.30000001192092896.
Json shortest(float value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text - 1, value).ptr;
    *end = 0;
    return number(std::strtod(text, nullptr));
}

Json wholeOrNot(double value) {
    return value == std::floor(value) ? Json(static_cast<long>(value)) : Json(value);
}

// Plug-ins and file names may hold bytes that are no UTF-8; they are replaced.
std::string dumped(const Json& json) {
    return json.dump(2, ' ', false, Json::error_handler_t::replace);
}

Json signal(const std::string& path, const std::string& format, int channels, std::int64_t frames,
            double rate, const Levels& levels) {
    return {{"path", path},
            {"format", format},
            {"channels", channels},
            {"seconds", static_cast<double>(frames) / rate},
            {"peak_dbfs", number(levels.peakDb)},
            {"rms_dbfs", number(levels.rmsDb)},
            {"loudness_lufs", number(levels.loudnessLufs)}};
}

Json fileJson(const RenderSummary& s) {
    if (!s.error.empty())
        return {{"input", {{"path", s.inputName}}}, {"output", {{"path", s.outputName}}}, {"error", s.error}};
    const RenderResult& r = s.result;
    const double rate = s.sampleRate;
    Json stages = Json::array();
    for (std::size_t k = 0; k < s.stages.size() && k < r.stages.size(); ++k)
        stages.push_back({{"name", s.stages[k].name},
                          {"file", displayPath(s.stages[k].path)},
                          {"latency_samples", r.stages[k].latency},
                          {"processing_seconds", r.stages[k].processSeconds}});
    const double audioSeconds = static_cast<double>(r.processedFrames) / rate;
    return {
        {"input", signal(s.inputName, s.inputFormat, s.inputChannels, r.inputFrames, rate, s.input)},
        {"output", signal(s.outputName, s.outputFormat, s.outputChannels, r.outputFrames, rate, s.output)},
        {"sample_rate", static_cast<long>(rate)},
        {"stages", stages},
        {"tail",
         {{"seconds", static_cast<double>(r.tailFrames) / rate},
          {"automatic", s.automaticTail},
          {"limit_reached", r.tailLimited}}},
        {"latency",
         {{"samples", s.compensateLatency ? r.latency : r.reportedLatency},
          {"compensated", s.compensateLatency}}},
        {"processing",
         {{"seconds", r.processSeconds},
          {"audio_seconds", audioSeconds},
          {"real_time_factor", r.processSeconds > 0.0 ? number(audioSeconds / r.processSeconds) : Json()}}},
        {"remarks", s.remarks}};
}

} // namespace

void printPluginJson(std::ostream& out, const Plugin& plugin) {
    Json parameters = Json::array();
    for (int i = 0; i < plugin.numParams(); ++i)
        parameters.push_back({{"index", i},
                              {"name", plugin.paramName(i)},
                              {"value", shortest(plugin.parameter(i))},
                              {"display", plugin.paramDisplay(i)},
                              {"label", plugin.paramLabel(i)}});
    const Json info = {{"name", plugin.effectName()},
                       {"vendor", plugin.vendor()},
                       {"product", plugin.product()},
                       {"file", displayPath(plugin.path())},
                       {"unique_id", plugin.uniqueId()},
                       {"unique_id_hex", hexId(plugin.uniqueId())},
                       {"version", plugin.version()},
                       {"vendor_version", plugin.vendorVersion()},
                       {"vst_version", plugin.vstVersion()},
                       {"category", plugin.category()},
                       {"category_name", categoryName(plugin.category())},
                       {"sample_rate", wholeOrNot(plugin.sampleRate())},
                       {"inputs", plugin.numInputs()},
                       {"sidechain_inputs", std::max(plugin.numInputs() - 2, 0)},
                       {"outputs", plugin.numOutputs()},
                       {"latency_samples", plugin.latency()},
                       {"tail_samples", plugin.tailSize()},
                       {"programs", plugin.numPrograms()},
                       {"flags", flagNames(plugin.flags())},
                       {"parameters", parameters}};
    out << dumped(info) << "\n";
}

void printRenderJson(std::ostream& out, const std::vector<RenderSummary>& files) {
    Json list = Json::array();
    std::size_t failed = 0;
    for (const RenderSummary& s : files) {
        list.push_back(fileJson(s));
        failed += s.error.empty() ? 0 : 1;
    }
    const Json all = {{"files", list}, {"rendered", files.size() - failed}, {"failed", failed}};
    out << dumped(all) << "\n";
}

} // namespace quor::cli
