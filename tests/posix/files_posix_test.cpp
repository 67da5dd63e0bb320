#include "platform/posix/files_posix.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/posix/system_posix.h"
#include "tests/support/temp_device.h"

namespace quillon::platform::posix {
namespace {

class FilesTest : public ::testing::Test {
 protected:
  void Put(const std::string& relative, const std::string& content) {
    const std::filesystem::path path = device.Path() + "/" + relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
  }
  testing::TempDevice device;
  PosixFiles files{device.Root()};
};

TEST_F(FilesTest, DevicePathsResolveBelowTheRootWithoutRegardToCase) {
  Put("Windows/StartUp/Quillon.lnk", "16#\"x\"");
  ErrorCode error = kSuccess;
  auto file = files.Open(L"\\windows\\startup\\QUILLON.LNK", FileMode::kReadExisting, &error);
  ASSERT_TRUE(file) << error;
  std::string read;
  std::uint8_t byte = 0;
  std::uint32_t got = 0;
  while (file->ReadByte(&byte, &got) == kSuccess && got == 1) read.push_back(static_cast<char>(byte));
  EXPECT_EQ(read, "16#\"x\"");
  ASSERT_EQ(file->SetPosition(3), kSuccess);
  ASSERT_EQ(file->ReadByte(&byte, &got), kSuccess);
  EXPECT_EQ(byte, '"');
  file.reset();
  EXPECT_EQ(files.Delete(L"\\Windows\\StartUp\\quillon.lnk"), kSuccess);
  EXPECT_EQ(files.Delete(L"\\Windows\\StartUp\\quillon.lnk"), kErrorFileNotFound);
  EXPECT_FALSE(files.Open(L"\\Windows\\StartUp\\Quillon.lnk", FileMode::kReadExisting, &error));
  EXPECT_EQ(error, kErrorFileNotFound);
}

TEST_F(FilesTest, WritingCreatesAndTruncates) {
  Put("Windows/StartUp/.keep", "");
  ErrorCode error = kSuccess;
  for (const std::string text : {"a longer first text", "short"}) {
    auto file = files.Open(L"\\Windows\\StartUp\\Quillon.lnk", FileMode::kWriteTruncate, &error);
    ASSERT_TRUE(file);
    ASSERT_EQ(file->Write(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())), kSuccess);
  }
  std::ifstream in(device.Path() + "/Windows/StartUp/Quillon.lnk");
  std::string content;
  std::getline(in, content);
  EXPECT_EQ(content, "short");
  EXPECT_FALSE(files.Open(L"\\Windows", FileMode::kReadExisting, &error));  // a folder is no file
}

TEST_F(FilesTest, ListingByPatternGivesSortedNamesOfFilesOnly) {
  for (const char* name : {"b.psr", "A.PSR", "c.txt", "x.psr.bak", "z.psr"}) Put(std::string("Program/") + name, "x");
  std::filesystem::create_directories(device.Path() + "/Program/folder.psr");
  std::vector<std::wstring> names;
  ASSERT_EQ(files.List(L"\\Program\\*.psr", &names), kSuccess);
  EXPECT_EQ(names, (std::vector<std::wstring>{L"A.PSR", L"b.psr", L"z.psr"}));
  EXPECT_EQ(files.List(L"\\Program\\*.none", &names), kErrorFileNotFound);
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(files.List(L"\\Absent\\*.psr", &names), kErrorFileNotFound);
}

TEST(Patterns, Wildcards) {
  struct Case {
    const wchar_t* name;
    const wchar_t* pattern;
    bool matches;
  };
  const Case cases[] = {{L"ps-default.psr", L"*.psr", true}, {L"PS.PSR", L"*.psr", true}, {L".psr", L"*.psr", true},
                        {L"a.psrx", L"*.psr", false},        {L"abc", L"a?c", true},      {L"ac", L"a?c", false},
                        {L"anything", L"*", true},           {L"", L"*", true},           {L"a.b.c", L"*.*.c", true},
                        {L"aaa", L"*a*a*a*", true},          {L"aa", L"*a*a*a*", false}};
  for (const Case& c : cases) EXPECT_EQ(MatchesPattern(c.name, c.pattern), c.matches) << c.name << " ~ " << c.pattern;
}

TEST(System, OwnPathAndRestartRecord) {
  testing::TempDevice device;
  PosixSystem system(device.Root());
  const std::wstring path = system.OwnPath();
  EXPECT_TRUE(path.starts_with(L"/"));
  EXPECT_NE(path.find(L"quillon_posix_tests"), std::wstring::npos);
  ASSERT_EQ(system.RecordRestartRequest(), kSuccess);
  std::ifstream in(device.Path() + "/restart-requests");
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_NE(line.find("quillon_posix_tests"), std::string::npos);
}

}  // namespace
}  // namespace quillon::platform::posix
