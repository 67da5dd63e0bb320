// The options of the program's command line, which carry the setup from one run to the next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "setup/dialog_record.h"

namespace quillon {

inline constexpr wchar_t kOptionState[] = L"/state:";
inline constexpr wchar_t kOptionPort[] = L"/port:";
inline constexpr wchar_t kOptionPsr[] = L"/psr:";
inline constexpr wchar_t kOptionBaudrate[] = L"/baudrate:";
inline constexpr wchar_t kOptionTransportReg[] = L"/TransportReg:";

// A text option's value is held in this many characters, its terminating zero included.
inline constexpr std::size_t kOptionTextChars = 260;

// Looks for the first place `option` occurs in `commandLine` (case-sensitive, anywhere). When
// found, stores the decimal number that follows it (leading white space and a sign allowed, the
// digits up to the first other character, 0 without any; held to the 32-bit range). Always 0.
int ExtractCommandLineInteger(std::wstring_view commandLine, std::wstring_view option, std::int32_t* member);
// The same for a text: what follows the option up to the first blank or "/", cut to
// kOptionTextChars - 1 characters. Always 0.
int ExtractCommandLineString(std::wstring_view commandLine, std::wstring_view option, std::wstring* member);

// Reads the five options from m_commandLine into the record; a missing option leaves its member.
void ReadCommandLineOptions(DialogRecord& record);

// True when `value` would be read back whole from a command line: no blank, no "/", and short
// enough for its buffer.
bool IsResumableText(std::wstring_view value);

}  // namespace quillon
