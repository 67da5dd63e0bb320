#include "platform/posix/registry_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/posix/registry_text.h"
#include "tests/support/temp_device.h"

namespace quillon::platform::posix {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

class RegistryFileTest : public ::testing::Test {
 protected:
  testing::TempDevice device;
  RegistryFile registry{device.Root()};
};

TEST_F(RegistryFileTest, TheFileIsRegistryExportText) {
  std::unique_ptr<RegistryKey> key;
  ASSERT_EQ(registry.CreateKey(L"Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1", &key), kSuccess);
  const std::string name = std::string(
      "X\0X\0X\0C\0O\0M\0"
      "1\0\0\0",
      16);
  ASSERT_EQ(key->SetValue(L"Name", kRegSz, std::span(reinterpret_cast<const std::uint8_t*>(name.data()), name.size())),
            kSuccess);
  ASSERT_EQ(key->SetValue(L"baud", kRegDword, std::vector<std::uint8_t>{0x00, 0xC2, 0x01, 0x00}), kSuccess);
  ASSERT_EQ(key->SetValue(L"Raw", kRegSz, std::vector<std::uint8_t>{'C', 0, 'O', 0}), kSuccess);
  EXPECT_EQ(ReadFile(registry.FilePath()),
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_LOCAL_MACHINE\\Software]\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Microsoft]\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Bluetooth]\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Bluetooth\\Transports]\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn]\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1]\n"
            "\"baud\"=dword:0001c200\n"
            "\"Name\"=\"XXXCOM1\"\n"
            "\"Raw\"=hex(1):43,00,4f,00\n\n");
}

TEST_F(RegistryFileTest, EveryChangeReplacesTheFileAtomically) {
  std::unique_ptr<RegistryKey> key;
  ASSERT_EQ(registry.CreateKey(L"A", &key), kSuccess);
  struct stat before {};
  ASSERT_EQ(stat(registry.FilePath().c_str(), &before), 0);
  ASSERT_EQ(key->SetValue(L"v", kRegDword, std::vector<std::uint8_t>{1, 2, 3, 4}), kSuccess);
  struct stat after {};
  ASSERT_EQ(stat(registry.FilePath().c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);  // a new file took the old one's place
  EXPECT_NE(access((registry.FilePath() + ".new").c_str(), F_OK), 0);
  // Reading changes nothing.
  std::array<std::uint8_t, 4> data{};
  std::size_t length = 0;
  std::uint32_t type = 0;
  ASSERT_EQ(key->QueryValue(L"v", &type, data, &length), kSuccess);
  struct stat unchanged {};
  ASSERT_EQ(stat(registry.FilePath().c_str(), &unchanged), 0);
  EXPECT_EQ(unchanged.st_ino, after.st_ino);
}

TEST_F(RegistryFileTest, ADamagedFileIsRefusedAndNeverReplaced) {
  const std::string damaged = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dword:xyz\n";
  WriteFile(registry.FilePath(), damaged);
  std::unique_ptr<RegistryKey> key;
  EXPECT_EQ(registry.OpenKey(L"A", RegistryAccess::kRead, &key), kErrorBadDatabase);
  EXPECT_EQ(registry.CreateKey(L"B", &key), kErrorBadDatabase);
  EXPECT_EQ(registry.DeleteTree(L"A"), kErrorBadDatabase);
  EXPECT_EQ(ReadFile(registry.FilePath()), damaged);
  EXPECT_NE(registry.Problem().find("line 4: bad dword data"), std::string::npos) << registry.Problem();
}

// A lock another program keeps is waited for a bounded time; once it is let go, calls succeed.
TEST_F(RegistryFileTest, ALockHeldElsewhereMakesTheRegistryBusyNotStuck) {
  RegistryFile waiting(device.Root(), 50);
  std::unique_ptr<RegistryKey> key;
  ASSERT_EQ(waiting.CreateKey(L"A", &key), kSuccess);
  const int holder = open((device.Path() + "/registry.lock").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  EXPECT_EQ(waiting.OpenKey(L"A", RegistryAccess::kRead, &key), kErrorBusy);
  EXPECT_EQ(waiting.CreateKey(L"B", &key), kErrorBusy);
  EXPECT_NE(waiting.Problem().find("the registry is busy"), std::string::npos) << waiting.Problem();
  close(holder);
  EXPECT_EQ(waiting.CreateKey(L"B", &key), kSuccess);
  EXPECT_EQ(waiting.OpenKey(L"A", RegistryAccess::kRead, &key), kSuccess);
}

// Another program's change is read by the next call, however often the file was read before.
TEST_F(RegistryFileTest, AChangeByAnotherProgramIsReadByTheNextCall) {
  std::unique_ptr<RegistryKey> key;
  ASSERT_EQ(registry.CreateKey(L"A", &key), kSuccess);
  RegistryFile other(device.Root());
  std::unique_ptr<RegistryKey> theirs;
  for (std::uint8_t round = 1; round <= 3; ++round) {
    ASSERT_EQ(other.CreateKey(L"A", &theirs), kSuccess);
    ASSERT_EQ(theirs->SetValue(L"v", kRegDword, std::vector<std::uint8_t>{round, 0, 0, 0}), kSuccess);
    std::array<std::uint8_t, 4> data{};
    std::size_t length = 0;
    std::uint32_t type = 0;
    ASSERT_EQ(key->QueryValue(L"v", &type, data, &length), kSuccess);
    EXPECT_EQ(data[0], round);
  }
}

// A change the file could not take is not kept in the tree that later calls read.
TEST_F(RegistryFileTest, AChangeThatWasNotStoredIsNotReadBack) {
  std::unique_ptr<RegistryKey> key;
  ASSERT_EQ(registry.CreateKey(L"A", &key), kSuccess);
  ASSERT_EQ(mkdir((registry.FilePath() + ".new").c_str(), 0755), 0);
  EXPECT_NE(key->SetValue(L"v", kRegDword, std::vector<std::uint8_t>{1, 2, 3, 4}), kSuccess);
  std::array<std::uint8_t, 4> data{};
  std::size_t length = 0;
  std::uint32_t type = 0;
  EXPECT_EQ(key->QueryValue(L"v", &type, data, &length), kErrorFileNotFound);
}

TEST(RegistryFileRoot, AMissingRootIsAnErrorNotCreated) {
  testing::TempDevice device;
  const DeviceRoot missing(device.Path() + "/absent");
  RegistryFile registry(missing);
  std::unique_ptr<RegistryKey> key;
  EXPECT_EQ(registry.CreateKey(L"A", &key), kErrorPathNotFound);
  EXPECT_NE(registry.Problem().find("does not exist"), std::string::npos);
  EXPECT_NE(access((device.Path() + "/absent").c_str(), F_OK), 0);
}

TEST_F(RegistryFileTest, AMissingFileIsAnEmptyRegistry) {
  std::unique_ptr<RegistryKey> key;
  EXPECT_EQ(registry.OpenKey(L"Anything", RegistryAccess::kRead, &key), kErrorFileNotFound);
  EXPECT_EQ(registry.DeleteTree(L"Anything"), kErrorFileNotFound);
  EXPECT_NE(access(registry.FilePath().c_str(), F_OK), 0);
}

TEST_F(RegistryFileTest, TwoProcessesWritingAtOnceLoseNothing) {
  constexpr int kWriters = 2;
  constexpr int kValues = 60;
  pid_t children[kWriters];
  for (int w = 0; w < kWriters; ++w) {
    children[w] = fork();
    ASSERT_GE(children[w], 0);
    if (children[w] == 0) {
      RegistryFile mine(device.Root());
      for (int i = 0; i < kValues; ++i) {
        std::unique_ptr<RegistryKey> key;
        if (mine.CreateKey(L"Shared", &key) != kSuccess) _exit(1);
        const std::wstring name = L"w" + std::to_wstring(w) + L"v" + std::to_wstring(i);
        const std::uint8_t data[4] = {static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(i), 0, 0};
        if (key->SetValue(name, kRegDword, data) != kSuccess) _exit(2);
      }
      _exit(0);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  std::unique_ptr<RegistryKey> key;
  ASSERT_EQ(registry.OpenKey(L"Shared", RegistryAccess::kRead, &key), kSuccess);
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 0; i < kValues; ++i) {
      std::array<std::uint8_t, 4> data{};
      std::size_t length = 0;
      std::uint32_t type = 0;
      ASSERT_EQ(key->QueryValue(L"w" + std::to_wstring(w) + L"v" + std::to_wstring(i), &type, data, &length), kSuccess);
      EXPECT_EQ(data[0], w);
      EXPECT_EQ(data[1], i);
    }
  }
}

TEST(RegistryText, RoundTripKeepsEveryByte) {
  RegistryNode root;
  RegistryNode* key = root.AddChild(L"K\u00e9y [1]")->AddChild(L"Sub");
  key->SetValue(L"", kRegSz, {'a', 0, 0, 0});
  key->SetValue(L"quote\"back\\slash", kRegSz, {'"', 0, '\\', 0, 0, 0});
  key->SetValue(L"unicode", kRegSz, {0xE9, 0x00, 0xAC, 0x20, 0, 0});
  key->SetValue(L"control", kRegSz, {'\n', 0, 0, 0});
  key->SetValue(L"long", kRegBinary, std::vector<std::uint8_t>(300, 0x5A));
  key->SetValue(L"none", 0, {});
  key->SetValue(L"big type", 0xFFFFFFFF, {1});
  const std::string text = SerializeRegistry(root);
  RegistryNode parsed;
  RegistryParseError error;
  ASSERT_TRUE(ParseRegistry(text, &parsed, &error)) << error.line << ": " << error.reason;
  EXPECT_EQ(SerializeRegistry(parsed), text);
  RegistryNode* back = parsed.FindChild(L"k\u00c9y [1]")->FindChild(L"sub");
  ASSERT_NE(back, nullptr);
  for (const RegistryValue& value : key->values) {
    RegistryValue* found = back->FindValue(value.name);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->type, value.type);
    EXPECT_EQ(found->data, value.data);
  }
}

TEST(RegistryText, DamageIsReportedWithItsLine) {
  using namespace std::literals;
  struct Case {
    std::string_view text;
    std::size_t line;
    const char* reason;
  };
  const Case cases[] = {
      {""sv, 1, "empty registry file"},
      {"REGEDIT4\n"sv, 1, "not a registry file"},
      {"Windows Registry Editor Version 5.00\n\"v\"=dword:1\n"sv, 2, "value before the first key"},
      {"Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n"sv, 2, "outside HKEY_LOCAL_MACHINE"},
      {"Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A\n"sv, 2, "without closing"},
      {"Windows Registry Editor Version 5.00\n[-HKEY_LOCAL_MACHINE\\A]\n"sv, 2, "deletions"},
      {"Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:1,2,zz\n"sv, 3, "bad byte"},
      {"Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:123\n"sv, 3, "bad byte"},
      {"Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dword:123456789\n"sv, 3, "bad dword"},
      {"Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"open\n"sv, 3, "bad string"},
      {"Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=-\n"sv, 3, "unknown data form"},
      {"Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"v\" 1\n"sv, 3, "without \"=\""},
      {"Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex(zz):00\n"sv, 3, "hex(type)"},
      {"Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex:00,\\\n  01,\\\n  q\n"sv, 3,
       "bad byte"},
      {"Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dword:0\0\n"sv, 3, "NUL"},
  };
  for (const Case& c : cases) {
    RegistryNode root;
    RegistryParseError error;
    EXPECT_FALSE(ParseRegistry(c.text, &root, &error)) << c.text;
    EXPECT_EQ(error.line, c.line) << c.text;
    EXPECT_NE(error.reason.find(c.reason), std::string::npos) << c.text << " -> " << error.reason;
  }
}

TEST(RegistryText, AcceptsWhatPeopleWriteByHand) {
  const std::string text =
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
      "; a comment\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Norvale\\Quillon]\r\n"
      "@=\"default\"\r\n"
      "\"n\" = dword:1\r\n"
      "\"b\"=hex:01,02,\\\r\n"
      "  03\r\n"
      "\"e\"=hex:\r\n";
  RegistryNode root;
  RegistryParseError error;
  ASSERT_TRUE(ParseRegistry(text, &root, &error)) << error.line << ": " << error.reason;
  RegistryNode* key = root.FindChild(L"SOFTWARE")->FindChild(L"norvale")->FindChild(L"QUILLON");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->FindValue(L"n")->data, (std::vector<std::uint8_t>{1, 0, 0, 0}));
  EXPECT_EQ(key->FindValue(L"b")->data, (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_TRUE(key->FindValue(L"e")->data.empty());
  EXPECT_EQ(key->FindValue(L"")->data,
            (std::vector<std::uint8_t>{'d', 0, 'e', 0, 'f', 0, 'a', 0, 'u', 0, 'l', 0, 't', 0, 0, 0}));
}

}  // namespace
}  // namespace quillon::platform::posix
