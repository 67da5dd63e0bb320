// A journal's file in memory: its text, shared by as many LogFile handles as a test opens (as by
// several processes), and an append that fails like a full disk when asked.
#pragma once

#include <memory>
#include <string>

#include "platform/files.h"

namespace quillon::testing {

struct MemoryLogText {
  std::string text;
  platform::ErrorCode appendFails = platform::kSuccess;  // every append fails with this
  int appends = 0;
};

class MemoryLogFile final : public platform::LogFile {
 public:
  explicit MemoryLogFile(std::shared_ptr<MemoryLogText> shared) : shared_(std::move(shared)) {}
  platform::ErrorCode Lock() override { return platform::kSuccess; }
  void Unlock() override {}
  platform::ErrorCode ReadFrom(std::uint64_t offset, std::string* text) override {
    *text = offset < shared_->text.size() ? shared_->text.substr(offset) : std::string();
    return platform::kSuccess;
  }
  platform::ErrorCode Append(std::string_view text) override {
    if (shared_->appendFails != platform::kSuccess) return shared_->appendFails;
    ++shared_->appends;
    shared_->text.append(text);
    return platform::kSuccess;
  }
  platform::ErrorCode Truncate(std::uint64_t length) override {
    shared_->text.resize(length);
    return platform::kSuccess;
  }

 private:
  std::shared_ptr<MemoryLogText> shared_;
};

}  // namespace quillon::testing
