// The trace between processes: the programs write, the viewer (tracev) reads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/registry_file.h"
#include "platform/text.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_device.h"
#include "trace/trace_layout.h"

namespace quillon {
namespace {

class TraceProcesses : public ::testing::Test {
 protected:
  int Write(const std::vector<std::string>& arguments) {
    testing::ChildProcess writer(QUILLON_TRACEW, arguments, {device.Environment()});
    return writer.Wait();
  }
  testing::TempDevice device;
};

TEST_F(TraceProcesses, TheViewerShowsWhatAnotherProcessWrites) {
  testing::ChildProcess viewer(QUILLON_TRACEV, {"--count", "7"}, {device.Environment()});
  ASSERT_TRUE(viewer.WaitFor("tracev: ready"));
  ASSERT_EQ(Write({"--thread", "Probe", "first message", "second message"}), 0);
  ASSERT_EQ(Write({"--important", std::string(200, 'z')}), 0);
  std::vector<std::string> lines;
  std::string line;
  while (lines.size() < 7 && viewer.ReadLine(&line)) lines.push_back(line);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_NE(lines[0].find(" thread     Probe"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("important  the thread has been created"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("info       first message"), std::string::npos) << lines[2];
  EXPECT_NE(lines[3].find("info       second message"), std::string::npos) << lines[3];
  EXPECT_NE(lines[4].find("important  the thread has been finished-----"), std::string::npos) << lines[4];
  EXPECT_NE(lines[5].find("thread-end Probe"), std::string::npos) << lines[5];
  EXPECT_TRUE(lines[6].ends_with("important  " + std::string(116, 'z'))) << lines[6];
}

// Formerly WithoutAViewerNothingIsKeptButThreadNames: what a trace without a viewer keeps is
// TraceTest.WithoutAViewerOnlyThreadNamesReachTheRegistry's.
TEST_F(TraceProcesses, AThreadNameRegisteredEarlierIsShownByALaterViewer) {
  platform::posix::RegistryFile registry(device.Root());
  std::unique_ptr<platform::RegistryKey> key;
  ASSERT_EQ(registry.CreateKey(std::wstring(trace_layout::kThreadNamesKey) + L"\\0000beef", &key), platform::kSuccess);
  const std::string name = platform::WideToUtf16le(L"Earlier") + std::string(2, '\0');
  ASSERT_EQ(key->SetValue(L"Name", platform::kRegSz,
                          std::span(reinterpret_cast<const std::uint8_t*>(name.data()), name.size())),
            platform::kSuccess);
  testing::ChildProcess viewer(QUILLON_TRACEV, {"--names", "--count", "0"}, {device.Environment()});
  std::string line;
  ASSERT_TRUE(viewer.ReadLine(&line));
  EXPECT_EQ(line, "thread 0000beef is Earlier");
  EXPECT_EQ(viewer.Wait(), 0);
}

TEST_F(TraceProcesses, ToolsExplainThemselves) {
  for (const char* program : {QUILLON_TRACEV, QUILLON_TRACEW}) {
    testing::ChildProcess help(program, {"--help"}, {device.Environment()});
    EXPECT_TRUE(help.WaitFor("usage:"));
    EXPECT_EQ(help.Wait(), 0);
    testing::ChildProcess wrong(program, {"--no-such-option"}, {device.Environment()});
    EXPECT_TRUE(wrong.WaitFor("unknown or incomplete option"));
    EXPECT_EQ(wrong.Wait(), 2);
  }
}

}  // namespace
}  // namespace quillon
