// Failures the tool reports to the user: one line, no stack of context.
#pragma once

#include <stdexcept>
#include <string>

namespace quor::cli {

class Error : public std::runtime_error {
  public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// Non-fatal remarks (a preset with fewer values, a latency that changed while
// rendering) go to stderr as "quor: warning: ..." lines.
void warn(const std::string& message);

} // namespace quor::cli
