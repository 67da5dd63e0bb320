// A console that keeps what is written, for checking the engine's diagnostic lines.
#pragma once

#include <string>
#include <vector>

#include "bcsp/console.h"

namespace quillon::testing {

class RecordingConsole final : public Console {
 public:
  void Write(std::string_view text) override { text_ += text; }
  // Everything written since the last Take.
  std::string Take() { return std::exchange(text_, {}); }

 private:
  std::string text_;
};

}  // namespace quillon::testing
