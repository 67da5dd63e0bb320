// PSR files: 8-bit text lines such as "&01be = 0ebf", read into the programming list.
//
// The file is read twice through the same grammar: a counting pass, then a loading pass. A line
// with more values than an item holds (188) is no key line in either pass: a key is never sent
// cut short, and both passes agree on the number of keys.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/files.h"
#include "psconfig/ps_key_list.h"

namespace quillon {

struct PsrLine {
  bool isKey = false;        // a key line that goes into the list
  bool tooManyValues = false;  // a key line with more than 188 values, left out
  std::uint16_t key = 0;
  std::size_t valueCount = 0;  // values stored into the caller's buffer
};

struct PsrReport {
  std::uint32_t keysLeftOut = 0;  // key lines with too many values
  std::uint16_t firstKeyLeftOut = 0;
};

class PsrReader {
 public:
  static constexpr std::size_t kLineCapacity = 2000;
  static constexpr std::size_t kLineKept = 1999;
  static constexpr std::size_t kValueCapacity = 2000;

  // The next non-empty line into `buffer` (capacity + 1 bytes, NUL-terminated), one byte per
  // read. False at the end of the file (or when a read fails).
  static bool ReadLine(platform::File& file, char* buffer, std::size_t capacity);

  // The grammar of one line. Values go into `values` (up to its size); the line is cut to 1999
  // bytes and ends at its first NUL.
  static PsrLine ParseLine(std::string_view line, std::span<std::uint16_t> values);

  // Reads every line; each key line adds one to list.count and, when `load` is set, is added to
  // the list. Returns list.count at the end of the file.
  static std::uint32_t ParseKeys(platform::File& file, PsKeyList& list, bool load, PsrReport* report = nullptr);
};

}  // namespace quillon
