// Two Quor plug-ins in one process: each module keeps its own registry,
// effect code and instance recovery, as only VSTPluginMain is visible.
#include "tests/support/test_host.h"

#include <dlfcn.h>

namespace quor::test {
namespace {

TEST(TwoPlugins, EachModuleWrapsItsOwnEffect) {
    const std::vector<std::string> built = builtEffects();
    ASSERT_GE(built.size(), 2u) << "this test needs two different Quor plug-ins built";
    const std::string &a = built[0], &b = built[1];
    // Created one after the other and used interleaved: no module may pick up
    // the other's registry or effect.
    TestHost first(a), second(b), firstAgain(a);
    ASSERT_TRUE(first.loaded() && second.loaded() && firstAgain.loaded());
    for (const auto& [host, name] : {std::pair{&first, a}, {&second, b}, {&firstAgain, a}}) {
        EXPECT_EQ(host->text(effGetProductString), name);
        EXPECT_EQ(host->text(effGetEffectName), "Quor " + name);
        // Header 8, "name" record 8 + name + 0, "pars" record 16 + 4 per value.
        EXPECT_EQ(host->chunk().size(),
                  33 + name.size() + 4 * static_cast<std::size_t>(host->effect()->numParams));
    }
    EXPECT_NE(first.effect()->uniqueID, second.effect()->uniqueID);
    EXPECT_EQ(first.effect()->uniqueID, firstAgain.effect()->uniqueID);

    // Nothing of the spine but the entry point (which the host found) is exported.
    void* module = dlopen(pluginPath(a).c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(dlsym(module, "_ZN4quor14EffectRegistry5suiteEv"), nullptr);
    dlclose(module);

    // State and audio stay apart too: changing and running one leaves the other as it was.
    const auto before = second.chunk();
    first.start(48000.0f);
    second.start(48000.0f);
    std::vector<float> left(256, 0.5f), right(256, 0.5f);
    first.processReplacing(left, right);
    first.setParam(0, first.getParam(0) > 0.5f ? 0.0f : 1.0f);
    EXPECT_EQ(second.chunk(), before);
}

} // namespace
} // namespace quor::test
