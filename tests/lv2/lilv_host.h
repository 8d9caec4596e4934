// A minimal LV2 host for tests: the built bundle loaded through lilv, and its
// plug-ins run as hosts run them, with or without a worker.
#pragma once

#include <gtest/gtest.h>
#include <lilv/lilv.h>
#include <lv2/worker/worker.h>

#include <string>
#include <vector>

namespace quor::test {

struct LilvBundle {
    LilvBundle() {
        LilvNode* bundle = lilv_new_file_uri(world, nullptr, QUOR_LV2_BUNDLE "/");
        lilv_world_load_bundle(world, bundle);
        lilv_node_free(bundle);
    }
    ~LilvBundle() {
        for (LilvNode* n : nodes)
            lilv_node_free(n);
        lilv_world_free(world);
    }
    const LilvNode* node(const std::string& uri) {
        return nodes.emplace_back(lilv_new_uri(world, uri.c_str()));
    }
    const LilvPlugin* plugin(const std::string& uri) {
        return lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), node(uri));
    }

    LilvWorld* world = lilv_world_new();
    std::vector<LilvNode*> nodes;
};

// Control inputs, in index order, start at their defaults. A worker runs each
// job at once inside schedule_work, as hosts do while free-wheeling.
class LilvRun {
  public:
    LilvRun(LilvBundle& bundle, const LilvPlugin* plugin, double rate, bool withWorker) {
        const LV2_Feature* features[] = {withWorker ? &feature : nullptr, nullptr};
        instance = plugin ? lilv_plugin_instantiate(plugin, rate, features) : nullptr;
        if (!instance) return;
        worker = static_cast<const LV2_Worker_Interface*>(
            lilv_instance_get_extension_data(instance, LV2_WORKER__interface));
        controls.reserve(lilv_plugin_get_num_ports(plugin));
        for (std::uint32_t i = 0; i < lilv_plugin_get_num_ports(plugin); ++i) {
            const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
            const bool input = lilv_port_is_a(plugin, port, bundle.node(LV2_CORE__InputPort));
            if (lilv_port_is_a(plugin, port, bundle.node(LV2_CORE__AudioPort))) {
                (input ? audioInputs : audioOutputs).push_back(i);
            } else if (input) {
                LilvNode* byDefault = nullptr;
                lilv_port_get_range(plugin, port, &byDefault, nullptr, nullptr);
                lilv_instance_connect_port(instance, i,
                                           &controls.emplace_back(lilv_node_as_float(byDefault)));
                lilv_node_free(byDefault);
            } else {
                lilv_instance_connect_port(instance, i, &latency);
            }
        }
    }
    ~LilvRun() {
        if (instance) lilv_instance_free(instance);
    }

    // Null inputs stay unconnected.
    void run(const std::vector<float*>& inputs, const std::vector<float*>& outputs, std::uint32_t frames) {
        ASSERT_TRUE(inputs.size() == audioInputs.size() && outputs.size() == audioOutputs.size());
        for (std::size_t c = 0; c < inputs.size(); ++c)
            lilv_instance_connect_port(instance, audioInputs[c], inputs[c]);
        for (std::size_t c = 0; c < outputs.size(); ++c)
            lilv_instance_connect_port(instance, audioOutputs[c], outputs[c]);
        lilv_instance_run(instance, frames);
    }

    LilvInstance* instance = nullptr;
    std::vector<float> controls;
    float latency = -1.0f;
    int jobs = 0;

  private:
    static LV2_Worker_Status schedule(LV2_Worker_Schedule_Handle handle, std::uint32_t size,
                                      const void* data) {
        auto* self = static_cast<LilvRun*>(handle);
        ++self->jobs;
        auto respond = [](LV2_Worker_Respond_Handle, std::uint32_t, const void*) {
            return LV2_WORKER_ERR_UNKNOWN;
        };
        return self->worker->work(lilv_instance_get_handle(self->instance), respond, self, size, data);
    }

    const LV2_Worker_Interface* worker = nullptr;
    LV2_Worker_Schedule scheduler{this, schedule};
    LV2_Feature feature{LV2_WORKER__schedule, &scheduler};
    std::vector<std::uint32_t> audioInputs, audioOutputs;
};

} // namespace quor::test
