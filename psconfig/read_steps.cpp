// The steps of a run that read keys: an answer to a read, a read given up, the gate between the
// reads and the writes, and what the reads make of the run's result.
#include <algorithm>

#include "psconfig/programming_run.h"
#include "trace/trace.h"

namespace quillon {

void PSConfig::CompleteRead(const BccmdMessage& message) {
  Trace& trace = Trace::Process();
  const PsKeyItem& item = list_.Item(list_.position - 1);
  // A late answer to a read that was given up carries that read's sequence number: it is not
  // this read's answer.
  if (message.sequence != item.sequence) {
    trace.Printf(KindInfo, kTraceCategory, L"|_WARNING: COMMAND DOES NOT MATCH QUEUE");
    return;
  }
  trace.Printf(KindInfo, kTraceCategory, L"COMMAND COMPLETE");
  readOutstanding_ = false;
  awaitingAnswer_ = false;
  state_ = SENT_STATE;
  if (nextRead_ >= reads_.size()) return;
  KeyRead& read = reads_[nextRead_++];
  read.status = message.status;
  read.answeredKey = message.psKey;
  if (message.psKey != item.psKey) {
    read.outcome = ReadOutcome::kOtherKey;
    trace.Printf(KindImportant, kTraceCategory, L"Key &%04x read: the module answered for key &%04x", item.psKey,
                 message.psKey);
  } else if (message.status != 0) {
    read.outcome = ReadOutcome::kRefused;
    trace.Printf(KindImportant, kTraceCategory, L"Key &%04x read refused by the module, status %d", item.psKey,
                 message.status);
  } else {
    read.outcome = ReadOutcome::kRead;
    const std::size_t words = std::min<std::size_t>(message.values.size() / 2, item.valueCount);
    read.values.resize(words);
    for (std::size_t i = 0; i < words; ++i) {
      read.values[i] = static_cast<std::uint16_t>(message.values[2 * i] | message.values[2 * i + 1] << 8);
    }
  }
}

void PSConfig::GiveUpRead() {
  const PsKeyItem& item = list_.Item(list_.position - 1);
  Trace::Process().Printf(KindImportant, kTraceCategory, L"Key &%04x read: no answer in %u ms", item.psKey,
                          kReadAnswerMs);
  readOutstanding_ = false;
  awaitingAnswer_ = false;
  if (nextRead_ < reads_.size()) reads_[nextRead_++].outcome = ReadOutcome::kNoAnswer;
  state_ = SENT_STATE;
}

bool PSConfig::PassGate() {
  if (gateRefused_) return false;
  if (!options_.readBeforeWriting || options_.gate == nullptr || list_.position != firstWrite_ || nextRead_ == 0 ||
      reads_[nextRead_ - 1].phase != ReadPhase::kBeforeWriting) {
    return true;
  }
  // Asked once: the first write follows at once, and the reads before it are all in.
  const std::uint32_t before = static_cast<std::uint32_t>(
      std::count_if(reads_.begin(), reads_.end(),
                    [](const KeyRead& r) { return r.phase == ReadPhase::kBeforeWriting; }));
  const bool pass = options_.gate->ReadsDone(std::span<const KeyRead>(reads_.data(), before));
  if (!pass) {
    Trace::Process().Printf(KindImportant, kTraceCategory, L"No key written: the reads before writing were not kept");
    gateRefused_ = true;
  }
  // The gate is passed once; the next write finds position past firstWrite_.
  return pass;
}

int PSConfig::ReadResult() const {
  if (gateRefused_) return kPsConfigReadFailed;
  for (const KeyRead& read : reads_) {
    if (read.phase == ReadPhase::kAfterWriting && !read.Verified()) return kPsConfigVerifyFailed;
    if (!options_.writeKeys && read.outcome != ReadOutcome::kRead) return kPsConfigReadFailed;
  }
  return kPsConfigDone;
}

}  // namespace quillon
