// Reading keys back from the module: the PS key get requests that a run adds around its writes,
// and what the module answered to each. A run can read every key before writing it (to keep the
// values it will overwrite), read every key after writing it (to verify), or only read.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "psconfig/ps_key_list.h"

namespace quillon {

enum class ReadPhase : std::uint8_t { kBeforeWriting, kAfterWriting };

enum class ReadOutcome : std::uint8_t {
  kNoAnswer,  // no answer came in time
  kRead,      // the module gave the values
  kRefused,   // the module answered with an error status (key not held, other length, ...)
  kOtherKey,  // the module answered for another key
};

struct KeyRead {
  std::uint16_t key = 0;
  std::uint32_t line = 0;  // the PSR line of the key, 0 for a key named on the command line
  ReadPhase phase = ReadPhase::kAfterWriting;
  std::vector<std::uint16_t> sent;  // the values written (or, when only reading, the length asked for)
  ReadOutcome outcome = ReadOutcome::kNoAnswer;
  std::uint16_t status = 0;
  std::uint16_t answeredKey = 0;
  std::vector<std::uint16_t> values;  // what the module holds, when outcome is kRead

  // A read-back that shows the key as it was written.
  bool Verified() const { return outcome == ReadOutcome::kRead && values == sent; }
};

// Told when the reads before the first write are all in; false keeps every key unwritten.
class ReadGate {
 public:
  virtual ~ReadGate() = default;
  virtual bool ReadsDone(std::span<const KeyRead> reads) = 0;
};

// What a run does besides writing. All off: the run writes the keys and resets, as it always has.
struct RunOptions {
  bool readBeforeWriting = false;  // read every key before the first write (the gate decides)
  bool writeKeys = true;           // false: only read (no writes, no warm reset)
  bool readBackAfterWriting = false;
  ReadGate* gate = nullptr;
  // Where to look for the module when the link does not come up at the run's rate within
  // PSConfig::kLinkUpMs: each rate in turn, each for as long. Empty: the run's rate only. The
  // caller keeps the rates for the run's time.
  std::span<const std::uint32_t> searchRates{};
  // The module's own address: written as key &0001 after the file's keys, in place of the file's
  // own &0001 lines. The caller keeps the values for the run's time.
  const std::array<std::uint16_t, 4>* addressKey = nullptr;
};

// Rearranges a loaded list (build identifier, keys, warm reset) in the order `options` asks for:
// build identifier, reads before, writes, reads after, warm reset. `reads` gets one entry per read
// request, in the order they are sent; *firstWrite the index of the first write (count when none).
// False, with the list left as it was, when the list would exceed its limit or memory is short.
bool ArrangeReads(PsKeyList& list, const RunOptions& options, std::vector<KeyRead>* reads, std::uint32_t* firstWrite);

// The get request for the key that `written` writes, asking for as many words as it has.
PsKeyItem MakeReadRequest(const PsKeyItem& written, std::uint16_t sequence);

}  // namespace quillon
