// Keeps the trace lines of this process (through the trace's echo), leaving out the loop's state
// names, which only count.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "trace/trace.h"

namespace quillon::testing {

class RecordingEcho final : public TraceEcho {
 public:
  void Echo(TraceKind, std::wstring_view text) override {
    std::lock_guard<std::mutex> hold(lock_);
    if (text.ends_with(L"_STATE") && text != L"EXIT_STATE" && text != L"PEER_RESET_STATE") return;
    lines_.emplace_back(text);
  }
  std::vector<std::wstring> Lines() {
    std::lock_guard<std::mutex> hold(lock_);
    return lines_;
  }
  int Count(std::wstring_view line) {
    std::lock_guard<std::mutex> hold(lock_);
    int count = 0;
    for (const auto& seen : lines_) count += seen == line ? 1 : 0;
    return count;
  }
  bool Has(std::wstring_view line) { return Count(line) > 0; }

 private:
  std::mutex lock_;
  std::vector<std::wstring> lines_;
};

}  // namespace quillon::testing
