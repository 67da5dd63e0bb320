#include "trace/format.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

namespace quillon {
namespace {

template <typename... Args>
std::wstring Wide(WideFormat<Args...> format, const Args&... args) {
  std::array<wchar_t, 64> buffer{};
  const std::size_t length = FormatTo(std::span<wchar_t>(buffer), format, args...);
  return std::wstring(buffer.data(), length);
}

TEST(Format, PlaceholdersOfTheSystemsTexts) {
  EXPECT_EQ(Wide(L"Error :%d in %s", 201, L"PSConfig InitialiseWindows"), L"Error :201 in PSConfig InitialiseWindows");
  EXPECT_EQ(Wide(L"%d", -7), L"-7");
  EXPECT_EQ(Wide(L"%u", 4294967295u), L"4294967295");
  EXPECT_EQ(Wide(L"%x", 0xBEEFu), L"beef");
  EXPECT_EQ(Wide(L"%X", 0xBEEFu), L"BEEF");
  EXPECT_EQ(Wide(L"%02x", 7), L"07");
  EXPECT_EQ(Wide(L"%02x", 0x1ab), L"1ab");
  EXPECT_EQ(Wide(L"%08x", 0x1234u), L"00001234");
  EXPECT_EQ(Wide(L"%10d", 42), L"        42");
  EXPECT_EQ(Wide(L"%-5d|", 42), L"42   |");
  EXPECT_EQ(Wide(L"%05d", -42), L"-0042");
  EXPECT_EQ(Wide(L"100%%"), L"100%");
  EXPECT_EQ(Wide(L"%c%c", 'o', 'k'), L"ok");
  EXPECT_EQ(Wide(L"[%6s][%-6s][%.2s]", L"ab", L"ab", L"abcdef"), L"[    ab][ab    ][ab]");
  EXPECT_EQ(Wide(L"%ld %lu", -1L, 3ul), L"-1 3");
  EXPECT_EQ(Wide(L"<%s>", static_cast<const wchar_t*>(nullptr)), L"<>");  // NullTextIsEmpty
}

TEST(Format, IntegersAreReadAtTheWidthTheCallerPassed) {
  // As printf: an unsigned 32-bit value shown with %d is read as signed, a negative one with %u
  // as unsigned of its own width.
  EXPECT_EQ(Wide(L"%d", 4294967295u), L"-1");
  EXPECT_EQ(Wide(L"%u", -1), L"4294967295");
  EXPECT_EQ(Wide(L"%x", static_cast<std::int8_t>(-1)), L"ff");
  EXPECT_EQ(Wide(L"%d", static_cast<std::uint8_t>(200)), L"-56");
  EXPECT_EQ(Wide(L"%d", INT64_MIN), L"-9223372036854775808");
}

TEST(Format, OutputIsCutToTheBufferAndAlwaysTerminated) {
  std::array<wchar_t, 6> small{};
  small.fill(L'#');
  EXPECT_EQ(FormatTo(std::span<wchar_t>(small), L"%s", L"abcdefgh"), 5u);
  EXPECT_EQ(std::wstring(small.data()), L"abcde");
  std::array<wchar_t, 1> one{L'#'};
  EXPECT_EQ(FormatTo(std::span<wchar_t>(one), L"%d", 12345), 0u);
  EXPECT_EQ(one[0], L'\0');
  EXPECT_EQ(FormatTo(std::span<wchar_t>(), L"x"), 0u);
}

TEST(Format, NarrowTextForConsoleLines) {
  std::array<char, 32> buffer{};
  FormatTo(std::span<char>(buffer), "seq %d ack %d %s", 3, 4, "ok");
  EXPECT_STREQ(buffer.data(), "seq 3 ack 4 ok");
}

TEST(Format, RuntimeFormatsNeverReadMissingArguments) {
  struct Case {
    const wchar_t* format;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {L"name %d %s", L"name  "},  // no arguments at all
      {L"50% done", L"50% done"},  // unknown conversion kept as it stands
      {L"trailing %", L"trailing "},
      {L"%%s", L"%s"},
  };
  for (const Case& c : cases) {
    std::array<wchar_t, 64> buffer{};
    FormatRuntime(std::span<wchar_t>(buffer), c.format, {});
    EXPECT_EQ(std::wstring(buffer.data()), c.expected) << "format " << std::wstring(c.format).size();
  }
  const FormatArg<wchar_t> number = MakeFormatArg<wchar_t>(5);
  std::array<wchar_t, 16> buffer{};
  FormatRuntime(std::span<wchar_t>(buffer), L"<%s>", std::span<const FormatArg<wchar_t>>(&number, 1));
  EXPECT_EQ(std::wstring(buffer.data()), L"<>");  // a number where text is wanted gives nothing
}

}  // namespace
}  // namespace quillon
