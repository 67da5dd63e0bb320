#include "psconfig/psr_reader.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "psconfig/bccmd.h"
#include "tests/fakes/fake_kernel_objects.h"
#include "tests/fakes/memory_files.h"

namespace quillon {
namespace {

struct Parsed {
  bool isKey;
  std::uint16_t key;
  std::vector<std::uint16_t> values;
};

Parsed Parse(std::string_view line) {
  std::array<std::uint16_t, PsrReader::kValueCapacity> values{};
  const PsrLine parsed = PsrReader::ParseLine(line, values);
  return {parsed.isKey, parsed.key,
          std::vector<std::uint16_t>(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(parsed.valueCount))};
}

TEST(PsrGrammar, TheLineTable) {
  struct Case {
    const char* line;
    bool isKey;
    std::uint16_t key;
    std::vector<std::uint16_t> values;
  };
  const Case cases[] = {
      {"&0001 = 0005", true, 0x0001, {0x0005}},
      {"   ?1=5", true, 0x0001, {0x0005}},
      {"& 0001 = 5", false, 0, {}},
      {"&0000 = 5", false, 0, {}},
      {"&10000 = 5", true, 0x0000, {0x0005}},
      {"&01 5", false, 0, {}},
      {"&0001 =", true, 0x0001, {}},
      {"&0002 = 0001 abcd 12345", true, 0x0002, {0x0001, 0xABCD, 0x2345}},
      {"&0002 = 0001 0002", true, 0x0002, {0x0001, 0x0002}},
      {"&0002 = 00010002", true, 0x0002, {0x0002}},
      {"&0002 = 12,34", true, 0x0002, {0x0012}},
      {"&0004 = 0001 // note", true, 0x0004, {0x0001}},
      {"&0x0001 = 5", false, 0, {}},
      {"&0003 = 0x0005 0006", true, 0x0003, {0x0000}},
      {"&0005 = \"abc\"", true, 0x0005, {0x61, 0x62, 0x63, 0x22}},
      {"&0005 = \"\x80\xff \"", true, 0x0005, {0xFF80, 0xFFFF, 0x20, 0x22}},
      {"// &0001 = 5", false, 0, {}},
      {"&01fe=6590", true, 0x01FE, {0x6590}},
      {"&0002-", false, 0, {}},
      {"\t\v\f &0006 \t= \tA\tb ", true, 0x0006, {0xA, 0xB}},
      {"", false, 0, {}},
      {"&", false, 0, {}},
      {"&ffffffff1 = 1", true, 0xFFF1, {0x1}},  // 32-bit accumulation keeps the low 16 bits
  };
  for (const Case& c : cases) {
    const Parsed parsed = Parse(c.line);
    EXPECT_EQ(parsed.isKey, c.isKey) << c.line;
    if (!c.isKey) continue;
    EXPECT_EQ(parsed.key, c.key) << c.line;
    EXPECT_EQ(parsed.values, c.values) << c.line;
  }
}

TEST(PsrGrammar, ALineEndsAtItsFirstNulAndAfter1999Bytes) {
  EXPECT_EQ(Parse(std::string_view("&0001 = 1 2\0 3", 14)).values, (std::vector<std::uint16_t>{1, 2}));
  std::string line = "&0001 = ";
  line += std::string(1996 - line.size(), ' ');
  line += "abcd";  // bytes 1997 to 2000: the last one is cut off
  EXPECT_EQ(Parse(line).values, std::vector<std::uint16_t>{0x0ABC});
}

TEST(PsrGrammar, MoreThan188ValuesIsNoKeyLine) {
  std::string line = "&0007 =";
  for (int i = 0; i < 188; ++i) line += " 1";
  EXPECT_TRUE(Parse(line).isKey);
  EXPECT_EQ(Parse(line).values.size(), 188u);
  line += " 1";
  EXPECT_FALSE(Parse(line).isKey);
  std::array<std::uint16_t, PsrReader::kValueCapacity> values{};
  EXPECT_TRUE(PsrReader::ParseLine(line, values).tooManyValues);
  std::string quoted = "&0008 = \"" + std::string(188, 'q');  // 188 bytes after the quote
  EXPECT_TRUE(Parse(quoted).isKey);
  EXPECT_FALSE(Parse(quoted + "q").isKey);
}

class PsrFiles : public ::testing::Test {
 protected:
  std::unique_ptr<platform::File> Open(const std::string& content) {
    files.Put(L"f.psr", content);
    platform::ErrorCode error = platform::kSuccess;
    return files.Open(L"f.psr", platform::FileMode::kReadExisting, &error);
  }
  // Both passes, as a run does them.
  std::uint32_t Load(const std::string& content, PsrReport* report = nullptr) {
    const PsrLoadResult result = PsrReader::Load(*Open(content), list);
    if (report != nullptr) *report = result.report;
    EXPECT_EQ(result.outcome == PsrLoad::kLoaded, result.keys != 0);
    return result.keys;
  }
  testing::MemoryFiles files;
  PsKeyList list;
};

TEST_F(PsrFiles, TheListOpensWithTheBuildIdentifierAndEndsWithTheWarmReset) {
  EXPECT_EQ(Load("// keys\n&0003 = 1 2 3\n&0001 = 9\n&0003 = 4\n"), 3u);
  ASSERT_EQ(list.count, 5u);
  EXPECT_EQ(list.Item(0).varId, kVarIdBuildId);
  EXPECT_EQ(list.Item(0).length, 9);
  EXPECT_EQ(list.Item(0).sequence, 0);
  EXPECT_EQ(list.Item(4).varId, kVarIdWarmReset);
  EXPECT_EQ(list.Item(4).type, kBccmdSetRequest);
  EXPECT_EQ(list.Item(4).length, 9);
  // A key twice is sent twice, in file order, with its own sequence number.
  EXPECT_EQ(list.Item(1).psKey, 3);
  EXPECT_EQ(list.Item(1).sequence, 2);
  EXPECT_EQ(list.Item(1).length, 11);
  EXPECT_EQ(list.Item(3).psKey, 3);
  EXPECT_EQ(list.Item(3).sequence, 4);
  EXPECT_EQ(list.Item(3).valueCount, 1);
}

TEST_F(PsrFiles, APieceEndsAfterItsByte2000AndTheParserKeeps1999) {
  // Byte 2000 is a non-blank: it ends the first piece (and is cut by the parser), so the
  // second piece starts with the key line at byte 2001.
  std::string line = "&0001 = 1";
  line += std::string(1990, ' ');
  line += "9";  // byte 2000
  line += "&0002 = 2";
  EXPECT_EQ(Load(line + "\n"), 2u);
  EXPECT_EQ(list.Item(1).valueCount, 1);
  EXPECT_EQ(list.Item(2).psKey, 2);
}

std::string TooMany(const char* key) {
  std::string line = std::string("&") + key + " =";
  for (int i = 0; i < 200; ++i) line += " 1";
  return line;
}

TEST_F(PsrFiles, KeyLinesWithTooManyValuesAreLeftOutInBothPassesAndNamedWithTheirLine) {
  PsrReport report;
  // Line numbers count CR LF, CR and LF alike, and blank lines too; the last line needs no end.
  // Formerly also LineEndsOfEveryKindReadTheSame.
  EXPECT_EQ(Load("&0001 = 1\r\n\r\n" + TooMany("0009") + "\r&0002 = 2\n" + TooMany("000a"), &report), 2u);
  EXPECT_EQ(list.Item(2).psKey, 2);
  EXPECT_EQ(list.Item(3).varId, kVarIdWarmReset);
  ASSERT_EQ(report.keysLeftOut, 2u);
  EXPECT_EQ(report.leftOut[0].key, 9);
  EXPECT_EQ(report.leftOut[0].line, 3u);
  EXPECT_EQ(report.leftOut[1].key, 10);
  EXPECT_EQ(report.leftOut[1].line, 5u);
}

TEST_F(PsrFiles, AFileWhoseOnlyKeyLineIsTooLongHasNoKeysButSaysSo) {
  PsrReport report;
  EXPECT_EQ(Load("// one key\n" + TooMany("0009") + "\n", &report), 0u);
  ASSERT_EQ(report.keysLeftOut, 1u);
  EXPECT_EQ(report.leftOut[0].line, 2u);
  EXPECT_EQ(list.Capacity(), 0u);
}

TEST_F(PsrFiles, TheReportListsTheFirstEightLeftOutAndCountsTheRest) {
  std::string content;
  for (int i = 0; i < 9; ++i) content += TooMany("0001") + "\n";
  PsrReport report;
  Load(content, &report);
  EXPECT_EQ(report.keysLeftOut, 9u);
  EXPECT_EQ(report.Listed(), PsrReport::kListed);
  EXPECT_EQ(report.leftOut[PsrReport::kListed - 1].line, 8u);
}

// Lines that name a key but set none are named with their line, once, from their first
// non-blank byte, control bytes shown as '?', cut to 40 characters; a comment or a key line is
// not among them.
TEST_F(PsrFiles, LinesThatSetNoKeyAreNamedOnce) {
  const std::string longLine = "&0003 + " + std::string(50, '1');
  PsrReport report;
  EXPECT_EQ(Load("// &0009 - in a comment\n&0002-\r\n&01be = 0ebf\n&0001 + 0002\n  ?0004\n&0000 = 1\n&\x1b[31m\n" +
                     longLine + "\n",
                 &report),
            1u);
  ASSERT_EQ(report.linesSkipped, 6u);
  const std::pair<std::uint32_t, std::string> expected[] = {{2, "&0002-"}, {4, "&0001 + 0002"},
                                                            {5, "?0004"},  {6, "&0000 = 1"},
                                                            {7, "&?[31m"}, {8, longLine.substr(0, 40)}};
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(report.skipped[i].line, expected[i].first);
    EXPECT_EQ(std::string(report.skipped[i].text.data()), expected[i].second);
  }
  std::string many;
  for (int i = 0; i < 9; ++i) many += "&0002-\n";
  many += "&0001 = 1\n";
  report = {};
  Load(many, &report);
  EXPECT_EQ(report.linesSkipped, 9u);
  EXPECT_EQ(report.SkippedListed(), PsrReport::kListed);
}

TEST_F(PsrFiles, LoadOutcomes) {
  platform::ErrorCode error = platform::kSuccess;
  testing::FakeKernelObjects kernel;
  auto stop = kernel.CreateManualResetEvent(L"", false, &error);
  struct Case {
    const char* name;
    std::string content;
    std::string afterRewind;
    bool stopped;
    std::uint32_t limit;
    PsrLoad outcome;
  };
  const Case cases[] = {
      {"loaded", "&0001 = 1\n", "", false, 100, PsrLoad::kLoaded},
      {"no keys", "// none\n", "", false, 100, PsrLoad::kNoKeys},
      // Formerly NoKeysInCommentsOrAnEmptyFile.
      {"empty", "", "", false, 100, PsrLoad::kNoKeys},
      {"comments, a bad key", "// only\n# comments\n\n&zz = 1\n", "", false, 100, PsrLoad::kNoKeys},
      {"a NUL ends the line", std::string("\0\0\0&0001 = 1", 12), "", false, 100, PsrLoad::kNoKeys},
      {"changed", "&0001 = 1\n", "&0001 = 1\n&0002 = 2\n", false, 100, PsrLoad::kChanged},
      {"stopped", "&0001 = 1\n", "", true, 100, PsrLoad::kStopped},
      {"too many", "&0001 = 1\n&0002 = 2\n", "", false, 3, PsrLoad::kTooManyKeys},
  };
  for (const Case& c : cases) {
    files.Put(L"f.psr", c.content);
    files.At(L"f.psr").afterRewind = c.afterRewind;
    if (c.stopped)
      stop->Set();
    else
      stop->Reset();
    list.SetLimit(c.limit);
    auto file = files.Open(L"f.psr", platform::FileMode::kReadExisting, &error);
    const PsrLoadResult result = PsrReader::Load(*file, list, stop.get());
    EXPECT_EQ(result.outcome, c.outcome) << c.name;
    EXPECT_EQ(list.Capacity(), c.outcome == PsrLoad::kLoaded ? 3u : 0u) << c.name;
  }
}

TEST_F(PsrFiles, AFailedReadEndsTheFile) {
  files.Put(L"f.psr", "&0001 = 1\n&0002 = 2\n");
  files.At(L"f.psr").failReadAt = 12;
  platform::ErrorCode error = platform::kSuccess;
  list.count = 0;
  EXPECT_EQ(PsrReader::ParseKeys(*files.Open(L"f.psr", platform::FileMode::kReadExisting, &error), list, false), 1u);
}

TEST(PsrRealFiles, PublishedFilesLoadWithTheirKeysAndValues) {
  struct Case {
    const char* name;
    std::uint32_t keys;
    std::size_t values;
    std::uint16_t firstKey;
    std::uint16_t lastKey;
  };
  const Case cases[] = {{"ps-default.psr", 16, 31, 0x01AB, 0x20D5}, {"source_usb.psr", 36, 155, 0x25E8, 0x04FD}};
  for (const Case& c : cases) {
    const std::string path = std::string(QUILLON_TESTDATA) + "/" + c.name;
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << "missing test data: " << path;
    std::stringstream content;
    content << in.rdbuf();
    testing::MemoryFiles files;
    files.Put(L"real.psr", content.str());
    platform::ErrorCode error = platform::kSuccess;
    auto file = files.Open(L"real.psr", platform::FileMode::kReadExisting, &error);
    PsKeyList list;
    const PsrLoadResult loaded = PsrReader::Load(*file, list);
    ASSERT_EQ(loaded.outcome, PsrLoad::kLoaded) << c.name;
    const std::uint32_t keys = loaded.keys;
    ASSERT_EQ(keys, c.keys) << c.name;
    std::size_t values = 0;
    for (std::uint32_t i = 1; i <= keys; ++i) values += list.Item(i).valueCount;
    EXPECT_EQ(values, c.values) << c.name;
    EXPECT_EQ(list.Item(1).psKey, c.firstKey) << c.name;
    EXPECT_EQ(list.Item(keys).psKey, c.lastKey) << c.name;
  }
}

TEST(PsKeyListLimits, AllocationRefusesTooManyAndAddsNothingPastTheEnd) {
  PsKeyList list;
  list.SetLimit(4);
  EXPECT_FALSE(list.Allocate(5));
  EXPECT_EQ(list.Capacity(), 0u);
  ASSERT_TRUE(list.Allocate(2));
  list.count = 3;  // past the end
  const std::uint16_t value = 1;
  list.AddKey(1, std::span<const std::uint16_t>(&value, 1));
  list.AddWarmReset();
  EXPECT_EQ(list.Item(1).varId, 0);
}

}  // namespace
}  // namespace quillon
