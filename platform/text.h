// Conversions between the system's wide text and the byte forms that leave the program.
//
// wchar_t holds UTF-16 code units on Windows and UTF-32 code points on Linux; the functions below
// hide that difference. Invalid input never fails: it becomes U+FFFD.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace quillon::platform {

// UTF-16LE bytes of `text`, without a terminator.
std::string WideToUtf16le(std::wstring_view text);
// Writes the UTF-16LE form into `out` as far as it fits (whole code units only).
// Returns the number of bytes written.
std::size_t WideToUtf16leInto(std::wstring_view text, std::span<std::uint8_t> out);
// Wide text from UTF-16LE bytes; an odd last byte is ignored.
std::wstring Utf16leToWide(std::span<const std::uint8_t> bytes);

std::string WideToUtf8(std::wstring_view text);
std::wstring Utf8ToWide(std::string_view text);

// Names as the host's file system gives them (command-line arguments, paths): UTF-8 where the
// bytes are UTF-8; each other byte becomes the lone surrogate U+DC80 + byte, which no text holds,
// so that WideToHostName gives the same bytes back and any name can be opened.
std::wstring HostNameToWide(std::string_view name);
std::string WideToHostName(std::wstring_view name);

// The value of a hexadecimal digit (0-9, a-f, A-F), or -1 for any other byte.
int HexDigitValue(char c);

// Case folding for names (registry keys and values, file patterns): ASCII and Latin-1 letters.
wchar_t FoldCase(wchar_t c);
bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b);
// Negative, zero or positive, comparing folded characters.
int CompareIgnoringCase(std::wstring_view a, std::wstring_view b);

}  // namespace quillon::platform
