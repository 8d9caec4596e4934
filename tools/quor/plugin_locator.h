// Where `--effect NAME` finds one of our plug-ins: quor-<slug>.so in the build
// tree the tool belongs to (<build>/bin/quor -> <build>/plugins), then ~/.vst.
#pragma once

#include <string>
#include <vector>

namespace quor::cli {

// "RC Filter" -> "rc-filter". Throws Error for names that are no effect name
// (anything but letters, digits, spaces, '-' and '_').
std::string effectSlug(const std::string& effectName);
// The places searched for `effectName`, in order.
std::vector<std::string> effectCandidates(const std::string& effectName);
// The first candidate that exists; throws Error listing the places searched.
std::string locateEffect(const std::string& effectName);

// Directory of the running executable, without a trailing slash.
std::string executableDir();

} // namespace quor::cli
