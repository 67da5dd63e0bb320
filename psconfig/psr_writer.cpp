#include "psconfig/psr_writer.h"

#include <cstdio>

namespace quillon {

std::string FormatReadsAsPsr(std::span<const KeyRead> reads, std::string_view heading) {
  std::string text;
  if (!heading.empty()) {
    text += "// ";
    text += heading;
    text += '\n';
  }
  char word[64];
  for (const KeyRead& read : reads) {
    switch (read.outcome) {
      case ReadOutcome::kRead:
        std::snprintf(word, sizeof word, "&%04x =", read.key);
        text += word;
        for (std::uint16_t value : read.values) {
          std::snprintf(word, sizeof word, " %04x", value);
          text += word;
        }
        break;
      case ReadOutcome::kRefused:
        std::snprintf(word, sizeof word, "// &%04x not read: the module answered status %u for %zu words", read.key,
                      read.status, read.sent.size());
        text += word;
        break;
      case ReadOutcome::kOtherKey:
        std::snprintf(word, sizeof word, "// &%04x not read: the module answered for key &%04x", read.key,
                      read.answeredKey);
        text += word;
        break;
      case ReadOutcome::kNoAnswer:
        std::snprintf(word, sizeof word, "// &%04x not read: no answer", read.key);
        text += word;
        break;
    }
    text += '\n';
  }
  return text;
}

bool BackupGate::ReadsDone(std::span<const KeyRead> reads) {
  char why[160];
  saved_ = notHeld_ = 0;
  for (const KeyRead& read : reads) {
    if (read.outcome == ReadOutcome::kNoAnswer) {
      std::snprintf(why, sizeof why, "the module did not answer the read of key &%04x (line %u)", read.key, read.line);
      failure_ = why;
      return false;
    }
    if (read.outcome == ReadOutcome::kRead) {
      ++saved_;
    } else {
      ++notHeld_;
    }
  }
  const std::string text = FormatReadsAsPsr(reads, "the module's keys before programming");
  if (const platform::ErrorCode error = platform::SaveWhole(files_, path_, text); error != platform::kSuccess) {
    std::snprintf(why, sizeof why, "the backup file cannot be saved (error %u)", error);
    failure_ = why;
    return false;
  }
  fileSaved_ = true;
  return true;
}

}  // namespace quillon
