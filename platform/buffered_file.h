// A File whose ReadByte is served from memory: one read of a block fills the buffer, and the
// following bytes cost no system call. The back ends only read spans (FileBlocks).
//
// A file is opened to read or to write, never both, so writes go straight through; setting the
// position drops what the buffer still holds.
#pragma once

#include <array>
#include <cstddef>
#include <memory>

#include "platform/files.h"

namespace quillon::platform {

class BufferedFile final : public File {
 public:
  static constexpr std::size_t kBufferSize = 4096;

  explicit BufferedFile(std::unique_ptr<FileBlocks> blocks) : blocks_(std::move(blocks)) {}

  ErrorCode ReadByte(std::uint8_t* byte, std::uint32_t* got) override;
  ErrorCode SetPosition(std::uint64_t offset) override;
  ErrorCode Write(std::span<const std::uint8_t> bytes) override { return blocks_->Write(bytes); }

 private:
  std::unique_ptr<FileBlocks> blocks_;
  std::array<std::uint8_t, kBufferSize> buffer_{};
  std::size_t next_ = 0;
  std::size_t filled_ = 0;
};

}  // namespace quillon::platform
