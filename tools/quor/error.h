// Failures the tool reports to the user: one line, no stack of context.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace quor::cli {

class Error : public std::runtime_error {
  public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// Non-fatal remarks go to stderr as one line each: "quor: warning: ..." for
// what may be wrong (a preset with fewer values, a latency that changed while
// rendering), "quor: note: ..." for what quor did about the input (a
// side-chain padded to the input's length).
void warn(const std::string& message);
void notice(const std::string& message);

// While it lives, the remarks made on its thread are kept in `remarks`
// ("warning: ..." or "note: ...") instead of being printed: a batch prints
// them in file order with the file's name.
class RemarkCapture {
  public:
    RemarkCapture();
    ~RemarkCapture();
    RemarkCapture(const RemarkCapture&) = delete;
    RemarkCapture& operator=(const RemarkCapture&) = delete;
    std::vector<std::string> remarks;

  private:
    RemarkCapture* outer;
};

} // namespace quor::cli
