// PSR files: 8-bit text lines such as "&01be = 0ebf", read into the programming list.
//
// The file is read twice through the same grammar: a counting pass, then a loading pass. A line
// with more values than an item holds (188) is no key line in either pass: a key is never sent
// cut short, and both passes agree on the number of keys. Such lines are reported, with their
// line numbers, so that a run can say that a key was not written.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/files.h"
#include "platform/kernel_objects.h"
#include "psconfig/ps_key_list.h"

namespace quillon {

struct PsrLine {
  bool isKey = false;          // a key line that goes into the list
  bool tooManyValues = false;  // a key line with more than 188 values, left out
  // A line that names a key ("&" or "?") but sets none: "&0001 + 0002" (set if unset),
  // "&0002-" (clear), a pseudo-key. Read as a comment; the run names it.
  bool setsNoKey = false;
  std::uint16_t key = 0;
  std::size_t valueCount = 0;  // values stored into the caller's buffer
};

// Where the reader is in the file: the number of the physical line that the next byte belongs
// to (from 1; CR, LF and CR LF each end one line) and the number of the last line returned.
struct PsrLineCursor {
  std::uint32_t next = 1;
  std::uint32_t lastLine = 0;
  bool afterCr = false;
};

struct PsrLeftOut {
  std::uint16_t key = 0;
  std::uint32_t line = 0;
};

// A line that sets no key: its number and its first characters.
struct PsrSkipped {
  static constexpr std::size_t kTextChars = 40;
  std::uint32_t line = 0;
  std::array<char, kTextChars + 1> text{};  // cut to kTextChars, NUL-terminated
};

struct PsrReport {
  static constexpr std::size_t kListed = 8;  // the first left-out lines kept; the rest are counted
  std::uint32_t keysLeftOut = 0;             // key lines with too many values
  std::array<PsrLeftOut, kListed> leftOut{};
  std::size_t Listed() const { return keysLeftOut < kListed ? keysLeftOut : kListed; }
  std::uint32_t linesSkipped = 0;  // lines that set no key
  std::array<PsrSkipped, kListed> skipped{};
  std::size_t SkippedListed() const { return linesSkipped < kListed ? linesSkipped : kListed; }
};

enum class PsrLoad {
  kLoaded,       // the list holds the build identifier, n keys and the warm reset
  kNoKeys,       // no key line that can be sent (the report says whether some were left out)
  kTooManyKeys,  // more keys than the list can hold, or no memory for them
  kRewindFailed,
  kChanged,  // the second pass found another number of keys than the first
  kStopped,  // the stop event was set while the file was read
};

struct PsrLoadResult {
  PsrLoad outcome = PsrLoad::kNoKeys;
  std::uint32_t keys = 0;  // key lines counted by the first pass
  PsrReport report;
};

class PsrReader {
 public:
  static constexpr std::size_t kLineCapacity = 2000;
  static constexpr std::size_t kLineKept = 1999;
  static constexpr std::size_t kValueCapacity = 2000;

  // The next non-empty line into `buffer` (capacity + 1 bytes, NUL-terminated), one byte per
  // read. False at the end of the file (or when a read fails). `cursor`, when given, follows
  // the line numbers.
  static bool ReadLine(platform::File& file, char* buffer, std::size_t capacity, PsrLineCursor* cursor = nullptr);

  // The grammar of one line. Values go into `values` (up to its size); the line is cut to 1999
  // bytes and ends at its first NUL.
  static PsrLine ParseLine(std::string_view line, std::span<std::uint16_t> values);

  // Reads every line; each key line adds one to list.count and, when `load` is set, is added to
  // the list. Returns list.count at the end of the file. Left-out lines go into `report`. A set
  // `stop` event ends the reading at the next line and sets *stopped.
  static std::uint32_t ParseKeys(platform::File& file, PsKeyList& list, bool load, PsrReport* report = nullptr,
                                 platform::Event* stop = nullptr, bool* stopped = nullptr);

  // The whole load of an open file: count the key lines, allocate the list at its exact size,
  // go back to the start, add the build-identifier request, load the keys, add the warm reset.
  // The list is left empty unless the outcome is kLoaded.
  static PsrLoadResult Load(platform::File& file, PsKeyList& list, platform::Event* stop = nullptr);
};

}  // namespace quillon
