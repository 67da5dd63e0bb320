#include "platform/text.h"

#include <gtest/gtest.h>

#include <vector>

namespace quillon::platform {
namespace {

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST(Text, Utf16leAndUtf8RoundTrip) {
  const std::wstring text = L"COM4: \u00fc\u20ac";
  const std::string bytes = WideToUtf16le(text);
  EXPECT_EQ(bytes, std::string("C\0O\0M\0004\0:\0 \0\xfc\0\xac\x20", 16));
  EXPECT_EQ(Utf16leToWide(Bytes(bytes)), text);
  const std::wstring wider = L"Software\\Norvale \u00e9\u4e2d";
  EXPECT_EQ(Utf8ToWide(WideToUtf8(wider)), wider);
}

TEST(Text, CharactersBeyondTheBasicPlaneBecomeSurrogatePairs) {
  std::wstring text;
  text.push_back(static_cast<wchar_t>(0x1F600));
  if (sizeof(wchar_t) == 2) text = L"\xD83D\xDE00";
  EXPECT_EQ(WideToUtf16le(text), std::string("\x3D\xD8\x00\xDE", 4));
  EXPECT_EQ(Utf16leToWide(Bytes(WideToUtf16le(text))), text);
  EXPECT_EQ(WideToUtf8(text), "\xF0\x9F\x98\x80");
}

TEST(Text, Utf16leIntoKeepsWholeCodeUnitsOnly) {
  std::uint8_t out[5] = {9, 9, 9, 9, 9};
  EXPECT_EQ(WideToUtf16leInto(L"abc", out), 4u);
  EXPECT_EQ(out[4], 9);
  std::wstring pair;
  pair.push_back(static_cast<wchar_t>(0x1F600));
  if (sizeof(wchar_t) == 2) pair = L"\xD83D\xDE00";
  std::uint8_t three[3] = {};
  EXPECT_EQ(WideToUtf16leInto(L"a" + pair, three), 2u);  // the pair does not fit and is left out whole
}

TEST(Text, BrokenInputBecomesReplacementCharacters) {
  EXPECT_EQ(Utf8ToWide("a\xFF"
                       "b"),
            L"a\uFFFDb");
  EXPECT_EQ(Utf8ToWide("\xC3"), L"\uFFFD");              // cut sequence
  EXPECT_EQ(Utf8ToWide("\xC0\xAF"), L"\uFFFD\uFFFD");    // overlong form
  const std::uint8_t lone[] = {0x00, 0xD8, 0x41, 0x00};  // lone high surrogate, then 'A'
  EXPECT_EQ(Utf16leToWide(lone), L"\uFFFDA");
  const std::uint8_t odd[] = {0x41, 0x00, 0x42};
  EXPECT_EQ(Utf16leToWide(odd), L"A");
}

TEST(Text, HexDigits) {
  const std::string digits = "0123456789abcdefABCDEF";
  for (std::size_t i = 0; i < digits.size(); ++i) EXPECT_EQ(HexDigitValue(digits[i]), i < 16 ? int(i) : int(i) - 6);
  for (char c : std::string("/:@G`g x\x80\xff")) EXPECT_EQ(HexDigitValue(c), -1) << int(c);
}

TEST(Text, CaseFolding) {
  EXPECT_TRUE(EqualsIgnoringCase(L"SOFTWARE\\Norvale", L"software\\NORVALE"));
  EXPECT_TRUE(EqualsIgnoringCase(L"\u00c9t\u00e9", L"\u00e9T\u00c9"));
  EXPECT_FALSE(EqualsIgnoringCase(L"abc", L"abcd"));
  EXPECT_LT(CompareIgnoringCase(L"apple", L"Banana"), 0);
  EXPECT_GT(CompareIgnoringCase(L"b", L"A"), 0);
  EXPECT_LT(CompareIgnoringCase(L"ab", L"ABC"), 0);
}

}  // namespace
}  // namespace quillon::platform
