// The bundle as a host sees it through lilv: every effect of the registry and
// nothing else, its ports in the library's order, ranges and defaults from the
// parameter table, and scale points labelled as the VST plug-in displays each
// value. Valid symbols are lv2_validate's and lilv's to check, the latency the
// equality test's.
#include "framework/registry.h"
#include "lv2/bundle_layout.h"
#include "tests/lv2/lilv_host.h"
#include "tests/support/test_host.h"

#include <map>
#include <memory>
#include <set>

namespace quor::test {
namespace {

std::map<float, std::string> scalePointsOf(const LilvPlugin* plugin, const LilvPort* port) {
    std::map<float, std::string> labels;
    LilvScalePoints* points = lilv_port_get_scale_points(plugin, port);
    LILV_FOREACH(scale_points, i, points) {
        const LilvScalePoint* p = lilv_scale_points_get(points, i);
        labels[lilv_node_as_float(lilv_scale_point_get_value(p))] =
            lilv_node_as_string(lilv_scale_point_get_label(p));
    }
    lilv_scale_points_free(points);
    return labels;
}

TEST(Lv2Description, EveryEffectIsFoundWithItsPortsRangesAndScalePoints) {
    LilvBundle bundle;
    std::size_t effects = 0;
    for (const EffectFactory* f = EffectRegistry::suite().first(); f; f = f->next, ++effects) {
        SCOPED_TRACE(f->name);
        const std::unique_ptr<HostedEffect> effect(f->create());
        const lv2::PortLayout layout(*effect);
        const LilvPlugin* plugin = bundle.plugin(lv2::pluginUri(f->name));
        ASSERT_NE(plugin, nullptr);
        auto has = [&](std::int32_t index, const char* property) {
            return lilv_port_has_property(plugin, lilv_plugin_get_port_by_index(plugin, index),
                                          bundle.node(property));
        };

        TestHost vst(f->name);
        ASSERT_TRUE(vst.loaded());
        vst.start(48000.0f);
        const bool hasLatency = lilv_plugin_has_latency(plugin);
        ASSERT_EQ(lilv_plugin_get_num_ports(plugin), static_cast<std::uint32_t>(layout.latency + hasLatency));
        EXPECT_TRUE(!hasLatency || has(layout.latency, LV2_CORE__reportsLatency));
        for (std::int32_t c = 0; c < layout.audioInputs; ++c)
            EXPECT_EQ(has(c, LV2_CORE_PREFIX "isSideChain"),
                      layout.isSideChain(static_cast<std::uint32_t>(c)));

        std::set<std::string> symbols;
        for (std::int32_t i = 0; i < layout.controls; ++i) {
            const ParamInfo& row = effect->params[i];
            const LilvPort* port = lilv_plugin_get_port_by_index(plugin, layout.firstControl + i);
            const std::string symbol = lilv_node_as_string(lilv_port_get_symbol(plugin, port));
            SCOPED_TRACE(symbol);
            EXPECT_TRUE(symbols.insert(symbol).second) << "repeated symbol";
            LilvNode* label = lilv_port_get_name(plugin, port);
            EXPECT_STREQ(lilv_node_as_string(label), row.name);
            lilv_node_free(label);

            LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
            lilv_port_get_range(plugin, port, &def, &min, &max);
            EXPECT_EQ(lilv_node_as_float(def), row.defaultValue);
            EXPECT_EQ(lilv_node_as_float(min), row.min);
            EXPECT_EQ(lilv_node_as_float(max), row.max);
            for (LilvNode* n : {def, min, max})
                lilv_node_free(n);

            EXPECT_EQ(has(layout.firstControl + i, LV2_CORE__integer), row.discrete != 0);
            std::map<float, std::string> displayed;
            for (float v = row.min; row.discrete && v <= row.max; v += 1.0f) {
                vst.setParam(i, (v - row.min) / (row.max - row.min));
                displayed[v] = vst.paramDisplay(i);
            }
            vst.setParam(i, (row.defaultValue - row.min) / (row.max - row.min));
            EXPECT_EQ(scalePointsOf(plugin, port), displayed);
            const bool onOff = displayed == std::map<float, std::string>{{0.0f, "Off"}, {1.0f, "On"}};
            EXPECT_EQ(has(layout.firstControl + i, LV2_CORE__toggled), onOff);
        }
    }
    EXPECT_EQ(lilv_plugins_size(lilv_world_get_all_plugins(bundle.world)), effects);
}

} // namespace
} // namespace quor::test
