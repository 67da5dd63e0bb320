#include "platform/buffered_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillon::platform {
namespace {

// A file of known content that logs each call and can fail a chosen read.
struct BlockLog {
  std::vector<std::string> calls;
  std::size_t position = 0;
  int failRead = -1;  // the index of the read that fails
  int reads = 0;
};

class LoggedBlocks final : public FileBlocks {
 public:
  LoggedBlocks(BlockLog& log, std::string content) : log_(log), content_(std::move(content)) {}
  ErrorCode Read(std::span<std::uint8_t> buffer, std::uint32_t* got) override {
    log_.calls.push_back("read " + std::to_string(buffer.size()));
    *got = 0;
    if (log_.reads++ == log_.failRead) return kErrorGenFailure;
    while (*got < buffer.size() && log_.position < content_.size()) {
      buffer[(*got)++] = static_cast<std::uint8_t>(content_[log_.position++]);
    }
    return kSuccess;
  }
  ErrorCode SetPosition(std::uint64_t offset) override {
    log_.calls.push_back("seek " + std::to_string(offset));
    log_.position = static_cast<std::size_t>(offset);
    return kSuccess;
  }
  ErrorCode Write(std::span<const std::uint8_t> bytes) override {
    log_.calls.push_back("write " + std::to_string(bytes.size()));
    return kSuccess;
  }

 private:
  BlockLog& log_;
  std::string content_;
};

std::string Content(std::size_t size) {
  std::string content(size, '\0');
  for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<char>(i * 7);
  return content;
}

TEST(BufferedFile, OneReadServesABlockOfBytes) {
  BlockLog log;
  const std::string content = Content(BufferedFile::kBufferSize + 3);
  BufferedFile file(std::make_unique<LoggedBlocks>(log, content));
  std::uint8_t byte = 0;
  std::uint32_t got = 0;
  std::string read;
  while (file.ReadByte(&byte, &got) == kSuccess && got == 1) read.push_back(static_cast<char>(byte));
  EXPECT_EQ(read, content);
  // A full block, the rest, and the read that finds the end.
  EXPECT_EQ(log.calls, (std::vector<std::string>{"read 4096", "read 4096", "read 4096"}));
  EXPECT_EQ(file.ReadByte(&byte, &got), kSuccess);  // and the end stays the end
  EXPECT_EQ(got, 0u);
}

TEST(BufferedFile, SettingThePositionDropsWhatTheBufferHolds) {
  BlockLog log;
  BufferedFile file(std::make_unique<LoggedBlocks>(log, "abcdef"));
  std::uint8_t byte = 0;
  std::uint32_t got = 0;
  ASSERT_EQ(file.ReadByte(&byte, &got), kSuccess);
  ASSERT_EQ(file.SetPosition(4), kSuccess);
  ASSERT_EQ(file.ReadByte(&byte, &got), kSuccess);
  EXPECT_EQ(byte, 'e');
  EXPECT_EQ(log.calls, (std::vector<std::string>{"read 4096", "seek 4", "read 4096"}));
}

TEST(BufferedFile, AFailedReadIsReportedAndReadingGoesOnAfterIt) {
  BlockLog log;
  log.failRead = 0;
  BufferedFile file(std::make_unique<LoggedBlocks>(log, "xy"));
  std::uint8_t byte = 0;
  std::uint32_t got = 7;
  EXPECT_EQ(file.ReadByte(&byte, &got), kErrorGenFailure);
  EXPECT_EQ(got, 0u);
  ASSERT_EQ(file.ReadByte(&byte, &got), kSuccess);
  EXPECT_EQ(got, 1u);
  EXPECT_EQ(byte, 'x');
}

TEST(BufferedFile, WritesGoStraightThrough) {
  BlockLog log;
  BufferedFile file(std::make_unique<LoggedBlocks>(log, ""));
  const std::uint8_t bytes[] = {1, 2, 3};
  EXPECT_EQ(file.Write(bytes), kSuccess);
  EXPECT_EQ(log.calls, std::vector<std::string>{"write 3"});
}

}  // namespace
}  // namespace quillon::platform
