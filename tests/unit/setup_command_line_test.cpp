// The command line's options and the resume shortcut that carries them over a restart.
#include <gtest/gtest.h>

#include <thread>

#include "setup/command_line.h"
#include "setup/startup_shortcut.h"
#include "tests/unit/setup_test_support.h"

namespace quillon {
namespace {

TEST(SetupCommandLine, IntegerOptions) {
  struct Case {
    const wchar_t* line;
    std::int32_t expected;
  };
  const Case cases[] = {
      {L"/state:2x", 2},
      {L"/state:", 0},
      {L"/state:abc", 0},
      {L"/state: -1", -1},
      {L"x/state:1 /state:2", 1},  // anywhere, and the first one counts
      {L"/State:2", 7},
      {L"", 7},  // case-sensitive; missing keeps the member
      {L"/state:99999999999", 2147483647},
      {L"/state:-99999999999", -2147483647 - 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::WideToUtf8(c.line));
    std::int32_t member = 7;
    EXPECT_EQ(ExtractCommandLineInteger(c.line, L"/state:", &member), 0);
    EXPECT_EQ(member, c.expected);
  }
}

TEST(SetupCommandLine, TextOptions) {
  struct Case {
    std::wstring line;
    std::wstring expected;
  };
  const Case cases[] = {
      {L"/psr:my file.psr", L"my"},
      {L"/psr:a/b.psr", L"a"},
      {L"/port:COM4: /port:COM5:", L"COM4:"},
      {L"/TransportReg:Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1 /x",
       L"Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1"},
      {L"/psr: x", L""},
      {L"nothing", L"kept"},
      {L"/port:" + std::wstring(300, L'p'), std::wstring(kOptionTextChars - 1, L'p')},  // ATextValueIsCutToItsBuffer
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::WideToUtf8(c.line.substr(0, 80)));
    std::wstring member = L"kept";
    const std::wstring_view line = c.line;
    const std::wstring_view option = line.starts_with(L"/port:")       ? L"/port:"
                                     : line.starts_with(L"/Transport") ? L"/TransportReg:"
                                                                       : L"/psr:";
    ExtractCommandLineString(line, option, &member);
    EXPECT_EQ(member, c.expected);
  }
}

TEST(SetupCommandLine, WithoutOptionsTheRecordKeepsItsInitialValues) {
  testing::ScriptedHost host;
  DialogRecord record{host};
  ReadCommandLineOptions(record);
  EXPECT_EQ(record.ComPort(), L"???");
  EXPECT_EQ(record.PsrFile(), L"no psr file found");
  EXPECT_EQ(record.m_baudrate, 115200);
  EXPECT_EQ(record.m_state, 0);
  EXPECT_EQ(record.m_transportReg, L"");
  record.m_commandLine = L"/state:1 /port:COM4: /psr:radio.psr /baudrate:57600 /TransportReg:T\\1";
  ReadCommandLineOptions(record);
  EXPECT_EQ(record.m_state, 1);
  EXPECT_EQ(record.ComPort(), L"COM4:");
  EXPECT_EQ(record.PsrFile(), L"radio.psr");
  EXPECT_EQ(record.m_baudrate, 57600);
  EXPECT_EQ(record.m_transportReg, L"T\\1");
}

// Formerly also TheExampleByteForByte; the failures that the working thread reports are rows of
// SetupRunsTest.FirstRunFailures (formerly here as FailuresAndTheirCodes).
TEST(SetupShortcut, WrittenWholeWithItsZeroAndReplacingAnOlderOne) {
  testing::SetupWorld world;
  testing::ScriptedHost host;
  DialogRecord record{host};
  world.system.ownPath = L"\\My Documents\\setup.exe";
  record.SetComPort(L"COM4:");
  record.SetPsrFile(L"radio.psr");
  record.m_transportReg = L"Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1";
  world.memoryFiles.Put(L"\\Windows\\StartUp\\Quillon.lnk", std::string(400, 'o'));
  StartupShortcut shortcut{world.files, world.system, record};
  ASSERT_EQ(shortcut.CreateShortcutInStartupFolder(1), 0);
  const std::string text =
      "140#\"\\My Documents\\setup.exe\" /state:1 /port:COM4: /psr:radio.psr /baudrate:115200 "
      "/TransportReg:Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1";
  EXPECT_EQ(world.Shortcut(), text + std::string(1, '\0'));
  EXPECT_EQ(text.size() + 1, 147u);
  EXPECT_EQ(shortcut.DeleteStartupShortcut(), 0);
  EXPECT_EQ(world.Shortcut(), "<none>");
  EXPECT_EQ(shortcut.DeleteStartupShortcut(), 0);
}

TEST(SetupShortcut, TheWholeTextMustFitItsBuffer) {
  ShortcutValues values{L"\\My Documents\\setup.exe",
                        1,
                        L"COM4:",
                        L"radio.psr",
                        115200,
                        L"Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1"};
  std::string text;
  // 146 characters hold the example; the PSR name may grow by 113 to reach 259.
  values.psrFile = std::wstring(9 + 113, L'p');
  ASSERT_TRUE(FormatShortcutText(values, &text));
  EXPECT_EQ(text.size(), 259u);
  values.psrFile += L'p';
  EXPECT_FALSE(FormatShortcutText(values, &text));

  // Too long to write: no shortcut is left, never one holding a cut text, nor its draft.
  testing::SetupWorld world;
  testing::ScriptedHost host;
  DialogRecord record{host};
  record.m_transportReg = values.transportReg;
  world.system.ownPath = L"\\" + std::wstring(200, L'q') + L"\\Quillon.exe";
  StartupShortcut shortcut{world.files, world.system, record};
  EXPECT_EQ(shortcut.CreateShortcutInStartupFolder(1), 110);
  EXPECT_EQ(world.Shortcut(), "<none>");
  EXPECT_FALSE(world.memoryFiles.Exists(kShortcutDraftPath));
}

// The buttons' names: QuillonDialogStartUp.WhatTheWindowShowsForEachStart.
TEST(SetupDialogRecord, ReportingChannels) {
  testing::ScriptedHost host;
  DialogRecord record{host};
  record.SetStatus(L"one");
  record.SetStatus(L"two");
  EXPECT_EQ(record.Status(), L"two");
  EXPECT_EQ(host.posts, 2);
  record.SetStatus(static_cast<const wchar_t*>(nullptr));
  EXPECT_EQ(record.Status(), L"");
  record.ChangeButtonTo(140);
  EXPECT_EQ(host.button, L"");
  record.Show();
  ASSERT_EQ(host.shown.size(), 1u);
  EXPECT_EQ(host.shown[0].comPort, L"???");
  EXPECT_EQ(host.shown[0].psrFile, L"no psr file found");
}

// Run under the thread sanitizer, this shows the four shared members are never read while
// another thread replaces them.
TEST(SetupDialogRecord, TheWorkingThreadReportsWhileTheDialogTakesItsControls) {
  testing::ScriptedHost host;
  DialogRecord record{host};
  std::thread working([&] {
    for (int i = 0; i < 2000; ++i) {
      record.SetStatus(i % 2 == 0 ? L"Start programming BT Radio" : L"Please Reset your device to proceed.");
      if (record.ComPort().empty() || record.DirectProgramming()) break;
    }
  });
  for (int i = 0; i < 2000; ++i) {
    record.SetComPort(i % 2 == 0 ? L"COM4:" : L"COM5:");
    record.SetPsrFile(L"radio.psr");
    EXPECT_FALSE(record.Texts().comPort.empty());
  }
  working.join();
  EXPECT_EQ(record.Status(), L"Please Reset your device to proceed.");
}

}  // namespace
}  // namespace quillon
