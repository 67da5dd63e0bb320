// Keys read from the module, written as a PSR file that a run can program back: one key line per
// key read, and a comment with the module's status for a key that could not be read, so that the
// reader sees what cannot be put back.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "platform/save_whole.h"
#include "psconfig/key_reads.h"

namespace quillon {

// The PSR text of `reads`, after the comment line `heading` (none when empty).
std::string FormatReadsAsPsr(std::span<const KeyRead> reads, std::string_view heading);

// The gate of a backup: before the first key is written, the values read are saved to a file.
// Every key stays unwritten when a read had no answer or the file cannot be saved.
class BackupGate final : public ReadGate {
 public:
  BackupGate(platform::Files& files, std::wstring_view path) : files_(files), path_(path) {}
  bool ReadsDone(std::span<const KeyRead> reads) override;

  // Why the keys were kept unwritten (empty when the backup was saved), for the user.
  const std::string& Failure() const { return failure_; }
  std::uint32_t KeysSaved() const { return saved_; }
  std::uint32_t KeysNotHeld() const { return notHeld_; }
  bool Saved() const { return fileSaved_; }

 private:
  platform::Files& files_;
  std::wstring path_;
  std::string failure_;
  std::uint32_t saved_ = 0;
  std::uint32_t notHeld_ = 0;
  bool fileSaved_ = false;  // the file was written (a run whose module never answered writes none)
};

}  // namespace quillon
