// The resume shortcut of the start-up folder, read back: 8-bit text
//   <count>#"<program path>" /state:<n> /port:<text> /psr:<text> /baudrate:<n> /TransportReg:<text>
// followed by one zero byte, 260 bytes at most with the zero. The count is the number of
// characters after "#" less the two quotation marks.
//
// Pure: works on the file's bytes, keeps nothing. A file that is not exactly of this form is
// refused with a message that says what is wrong, so that a damaged shortcut is never started.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace quillon::device {

// The whole file, the zero byte included.
inline constexpr std::size_t kShortcutMaxBytes = 260;

struct Shortcut {
  std::string programPath;  // as written between the quotation marks
  std::string commandLine;  // the options, as written after the blank that follows the path
  std::int32_t state = 0;
  std::string port;
  std::string psrFile;
  std::int32_t baudRate = 0;
  std::string transportKey;
};

// True and *shortcut filled when `bytes` is a well-formed shortcut; otherwise false and
// *problem says what is wrong ("no terminating zero byte", ...). *shortcut is then unspecified.
bool ReadShortcut(std::span<const std::uint8_t> bytes, Shortcut* shortcut, std::string* problem);

}  // namespace quillon::device
