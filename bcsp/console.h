// The console: where the link engine's and the BCCMD handling's diagnostic lines go (standard output).
#pragma once

#include <cstdio>
#include <string_view>

namespace quillon {

class Console {
 public:
  virtual ~Console() = default;
  virtual void Write(std::string_view text) = 0;
};

// Lines are flushed as they end, so that a log taken through a pipe keeps pace with the line.
class StandardOutput final : public Console {
 public:
  void Write(std::string_view text) override {
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (!text.empty() && text.back() == '\n') std::fflush(stdout);
  }
};
}  // namespace quillon
