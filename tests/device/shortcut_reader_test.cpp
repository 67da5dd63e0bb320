#include "tools/quillon_device/shortcut_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillon::device {
namespace {

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// The shortcut for \My Documents\setup.exe, state 1, COM4:, radio.psr, 115200 and the built-in
// transport: 146 characters and the zero byte.
const std::string kExample =
    std::string(
        "140#\"\\My Documents\\setup.exe\" /state:1 /port:COM4: /psr:radio.psr /baudrate:115200 "
        "/TransportReg:Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1") +
    '\0';

std::string WithCount(const std::string& afterHash) {
  return std::to_string(afterHash.size() - 2) + "#" + afterHash + '\0';
}

TEST(ShortcutReader, ReadsTheExampleByteForByte) {
  ASSERT_EQ(kExample.size(), 147u);
  Shortcut shortcut;
  std::string problem;
  ASSERT_TRUE(ReadShortcut(Bytes(kExample), &shortcut, &problem)) << problem;
  EXPECT_EQ(shortcut.programPath, "\\My Documents\\setup.exe");
  EXPECT_EQ(shortcut.commandLine,
            "/state:1 /port:COM4: /psr:radio.psr /baudrate:115200 "
            "/TransportReg:Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1");
  EXPECT_EQ(shortcut.state, 1);
  EXPECT_EQ(shortcut.port, "COM4:");
  EXPECT_EQ(shortcut.psrFile, "radio.psr");
  EXPECT_EQ(shortcut.baudRate, 115200);
  EXPECT_EQ(shortcut.transportKey, "Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1");
}

TEST(ShortcutReader, KeepsBlanksInsideValuesAndAnEmptyTransportKey) {
  const std::string text = WithCount(
      "\"/opt/q/quillon\" /state:2 /port:COM4: /psr:my file.psr /baudrate:921600 /TransportReg:");
  ASSERT_EQ(text.substr(0, 3), "84#");  // 14 + 8 + 11 + 16 + 16 + 14 + 5
  Shortcut shortcut;
  std::string problem;
  ASSERT_TRUE(ReadShortcut(Bytes(text), &shortcut, &problem)) << problem;
  EXPECT_EQ(shortcut.psrFile, "my file.psr");
  EXPECT_EQ(shortcut.baudRate, 921600);
  EXPECT_EQ(shortcut.transportKey, "");
}

// Damaged files: each is refused, and the message names what is wrong.
struct Damaged {
  const char* name;
  std::string bytes;
  const char* problem;
};

const std::string kGoodRest =
    "\"\\p.exe\" /state:1 /port:COM4: /psr:a.psr /baudrate:115200 /TransportReg:Software\\B\\1";

TEST(ShortcutReader, RefusesDamagedFiles) {
  const std::string good = WithCount(kGoodRest);
  const std::vector<Damaged> cases = {
      {"empty", "", "the file is empty"},
      {"no zero", good.substr(0, good.size() - 1), "no terminating zero"},
      {"cut short", good.substr(0, 20), "no terminating zero"},
      {"bytes after the zero", good + "x", "1 bytes follow the terminating zero"},
      {"count too small", "5" + good.substr(good.find('#')), "does not match"},
      {"count too large", WithCount(kGoodRest).replace(0, 2, "99"), "does not match"},
      {"no count", good.substr(good.find('#')), "does not start with a count"},
      {"count with a leading zero", "0" + good, "does not start with a count"},
      {"no hash", std::string(good).replace(good.find('#'), 1, "$"), "no \"#\""},
      {"path unquoted", WithCount("x" + kGoodRest.substr(1)), "does not start with a quotation mark"},
      {"path never closed", WithCount("\"\\p.exe /state:1"), "no closing quotation mark"},
      {"empty path", WithCount("\"\" /state:1 /port:C /psr:a /baudrate:1 /TransportReg:"), "path is empty"},
      {"no blank after the path", WithCount("\"\\p\"/state:1 /port:C /psr:a /baudrate:1 /TransportReg:"),
       "no blank between"},
      {"state missing", WithCount("\"\\p\" /port:C /psr:a /baudrate:1 /TransportReg:"), "\"/state:\""},
      {"state not a number", WithCount("\"\\p\" /state:x /port:C /psr:a /baudrate:1 /TransportReg:"), "\"/state:\""},
      {"state beyond 32 bits", WithCount("\"\\p\" /state:4294967297 /port:C /psr:a /baudrate:1 /TransportReg:"),
       "\"/state:\""},
      {"psr missing", WithCount("\"\\p\" /state:1 /port:C /baudrate:1 /TransportReg:"), "\"/psr:\""},
      {"baud missing", WithCount("\"\\p\" /state:1 /port:C /psr:a /TransportReg:"), "\"/baudrate:\""},
      {"baud not a number", WithCount("\"\\p\" /state:1 /port:C /psr:a /baudrate:fast /TransportReg:"),
       "\"/baudrate:\""},
      {"transport missing", WithCount("\"\\p\" /state:1 /port:C /psr:a /baudrate:1"), "\"/TransportReg:\""},
      {"control byte", WithCount("\"\\p\" /state:1 /port:C\n /psr:a /baudrate:1 /TransportReg:"), "control byte 0x0a"},
  };
  for (const Damaged& damaged : cases) {
    Shortcut shortcut;
    std::string problem;
    EXPECT_FALSE(ReadShortcut(Bytes(damaged.bytes), &shortcut, &problem)) << damaged.name;
    EXPECT_NE(problem.find(damaged.problem), std::string::npos) << damaged.name << ": " << problem;
  }
}

TEST(ShortcutReader, TakesTwoHundredSixtyBytesAndRefusesOneMore) {
  const std::string head = "\"\\p\" /state:1 /port:C /psr:a /baudrate:1 /TransportReg:";
  // 260 bytes: a count of three digits, "#", the text and the zero byte.
  const std::string filler(kShortcutMaxBytes - 3 - 1 - 1 - head.size(), 'k');
  const std::string longest = WithCount(head + filler);
  ASSERT_EQ(longest.size(), kShortcutMaxBytes);
  Shortcut shortcut;
  std::string problem;
  EXPECT_TRUE(ReadShortcut(Bytes(longest), &shortcut, &problem)) << problem;
  EXPECT_EQ(shortcut.transportKey, filler);

  const std::string overLong = WithCount(head + filler + "k");
  ASSERT_EQ(overLong.size(), kShortcutMaxBytes + 1);
  EXPECT_FALSE(ReadShortcut(Bytes(overLong), &shortcut, &problem));
  EXPECT_NE(problem.find("261 bytes, more than the 260"), std::string::npos) << problem;
}

}  // namespace
}  // namespace quillon::device
