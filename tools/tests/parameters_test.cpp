#include "tools/quor/error.h"
#include "tools/quor/parameters.h"

#include <gtest/gtest.h>

namespace quor::cli {
namespace {

// Shaped like the Reverb's table: group members share names ("Delay",
// "Density"), and some names are prefixes of others.
const std::vector<std::string> kNames{"Mix",      "Gain",      "Rate",  "Depth",  "Delay",
                                      "Feedback", "Frequency", "Width", "Delay",  "Direction",
                                      "Density",  "Rate Sync", "Size",  "Density"};

std::string errorOf(const std::string& key) {
    try {
        findParameter(kNames, key);
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

TEST(ParameterLookup, NamesIgnoreCaseAndUniquePrefixesWork) {
    EXPECT_EQ(findParameter(kNames, "mix"), 0);
    EXPECT_EQ(findParameter(kNames, "GAIN"), 1);
    EXPECT_EQ(findParameter(kNames, "fe"), 5);
    EXPECT_EQ(findParameter(kNames, "freq"), 6);
    EXPECT_EQ(findParameter(kNames, "si"), 12);
    // A whole name wins over the longer names it begins.
    EXPECT_EQ(findParameter(kNames, "rate"), 2);
    EXPECT_EQ(findParameter(kNames, "rate s"), 11);
}

TEST(ParameterLookup, IndexesNameParametersByPosition) {
    EXPECT_EQ(findParameter(kNames, "0"), 0);
    EXPECT_EQ(findParameter(kNames, "8"), 8);
    EXPECT_EQ(findParameter(kNames, "13"), 13);
    EXPECT_NE(errorOf("14").find("out of range"), std::string::npos);
    EXPECT_NE(errorOf("99999999999").find("unknown"), std::string::npos);
}

TEST(ParameterLookup, AmbiguousAndUnknownKeysAreErrorsThatSayWhy) {
    const std::string prefix = errorOf("de");
    EXPECT_NE(prefix.find("ambiguous"), std::string::npos);
    EXPECT_NE(prefix.find("Depth (3)"), std::string::npos);
    EXPECT_NE(prefix.find("Density (10)"), std::string::npos);
    // Two parameters with the same name can only be told apart by index.
    const std::string twins = errorOf("delay");
    EXPECT_NE(twins.find("Delay (4), Delay (8)"), std::string::npos);
    EXPECT_NE(twins.find("index"), std::string::npos);
    EXPECT_NE(errorOf("Reverb").find("unknown parameter 'Reverb'"), std::string::npos);
    EXPECT_FALSE(errorOf("").empty());
    EXPECT_FALSE(errorOf("-1").empty());
}

TEST(ParameterSettings, SplitAtTheLastEqualsSignAndKeepValuesNormalised) {
    ParameterSetting s = parseSetting("Mix=0.25");
    EXPECT_EQ(s.key, "Mix");
    EXPECT_FLOAT_EQ(s.value, 0.25f);
    s = parseSetting("Tail Size=1");
    EXPECT_EQ(s.key, "Tail Size");
    EXPECT_FLOAT_EQ(s.value, 1.0f);
    s = parseSetting("a=b=0");
    EXPECT_EQ(s.key, "a=b");
    EXPECT_FLOAT_EQ(s.value, 0.0f);
    EXPECT_FLOAT_EQ(parseSetting("3=1e-1").value, 0.1f);

    for (const char* bad :
         {"Mix", "Mix=", "=0.5", "Mix=abc", "Mix=0.5x", "Mix=1.5", "Mix=-0.1", "Mix=nan", "Mix=inf", "Mix= "})
        EXPECT_THROW(parseSetting(bad), Error) << bad;
}

} // namespace
} // namespace quor::cli
