// The library's only exported symbol: one LV2 descriptor per effect of the
// registry, in its order. No exception ever leaves a callback.
#include "framework/registry.h"
#include "lv2/bundle_layout.h"
#include "lv2/lv2_plugin.h"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace quor::lv2 {
namespace {

Lv2Plugin* pluginOf(LV2_Handle handle) {
    return static_cast<Lv2Plugin*>(handle);
}

class DescriptorTable {
  public:
    DescriptorTable() {
        for (const EffectFactory* f = EffectRegistry::suite().first(); f; f = f->next) {
            factories.push_back(f);
            uris.push_back(pluginUri(f->name));
        }
        descriptors.resize(factories.size());
        for (std::size_t i = 0; i < descriptors.size(); ++i)
            descriptors[i] = LV2_Descriptor{uris[i].c_str(), instantiate, connectPort,  activate, run,
                                            deactivate,      cleanup,     extensionData};
    }

    static const DescriptorTable& get() {
        static const DescriptorTable table;
        return table;
    }

    const LV2_Descriptor* at(std::uint32_t index) const {
        return index < descriptors.size() ? &descriptors[index] : nullptr;
    }

  private:
    // Instantiation thread.
    static LV2_Handle instantiate(const LV2_Descriptor* descriptor, double rate, const char*,
                                  const LV2_Feature* const* features) {
        try {
            const DescriptorTable& table = get();
            std::size_t index = 0;
            while (index < table.descriptors.size() && &table.descriptors[index] != descriptor)
                ++index;
            // A rate that is not a positive finite number is not a rate.
            if (index == table.descriptors.size() || !(std::isfinite(rate) && rate > 0.0)) return nullptr;
            const LV2_Worker_Schedule* worker = nullptr;
            for (const LV2_Feature* const* f = features; f && *f; ++f)
                if (std::strcmp((*f)->URI, LV2_WORKER__schedule) == 0)
                    worker = static_cast<const LV2_Worker_Schedule*>((*f)->data);
            std::unique_ptr<EffectController> controller = EffectController::create(*table.factories[index]);
            return controller ? new Lv2Plugin(std::move(controller), rate, worker) : nullptr;
        } catch (...) {
            return nullptr;
        }
    }

    // Audio thread (or instantiation thread, before the first run).
    static void connectPort(LV2_Handle handle, std::uint32_t port, void* data) {
        pluginOf(handle)->connectPort(port, data);
    }

    // Instantiation thread.
    static void activate(LV2_Handle handle) {
        try {
            pluginOf(handle)->activate();
        } catch (...) {
        }
    }

    // Audio thread.
    static void run(LV2_Handle handle, std::uint32_t frames) {
        try {
            pluginOf(handle)->run(frames);
        } catch (...) {
        }
    }

    // Instantiation thread; the next activate resets.
    static void deactivate(LV2_Handle) {}

    // Instantiation thread.
    static void cleanup(LV2_Handle handle) { delete pluginOf(handle); }

    // Worker thread, one call at a time. The result travels back through the
    // controller, so the response carries nothing.
    static LV2_Worker_Status work(LV2_Handle handle, LV2_Worker_Respond_Function, LV2_Worker_Respond_Handle,
                                  std::uint32_t, const void*) {
        try {
            pluginOf(handle)->work();
            return LV2_WORKER_SUCCESS;
        } catch (...) {
            return LV2_WORKER_ERR_UNKNOWN;
        }
    }

    static LV2_Worker_Status workResponse(LV2_Handle, std::uint32_t, const void*) {
        return LV2_WORKER_SUCCESS;
    }

    // Any thread.
    static const void* extensionData(const char* uri) {
        static const LV2_Worker_Interface worker{work, workResponse, nullptr};
        return std::strcmp(uri, LV2_WORKER__interface) == 0 ? &worker : nullptr;
    }

    std::vector<const EffectFactory*> factories;
    std::vector<std::string> uris;
    std::vector<LV2_Descriptor> descriptors;
};

} // namespace
} // namespace quor::lv2

extern "C" __attribute__((visibility("default"))) const LV2_Descriptor* lv2_descriptor(std::uint32_t index) {
    try {
        return quor::lv2::DescriptorTable::get().at(index);
    } catch (...) {
        return nullptr;
    }
}
