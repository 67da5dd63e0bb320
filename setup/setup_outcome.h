// What the programming run of a setup achieved, kept in the registry from the second run to the
// third: the third run says "done" only on this evidence, and a second run that a restart cut
// short after programming finds it and does not program again.
//
// It lies beside the backup, not below it: the backup is copied whole over the transport key.
#pragma once

#include <cstdint>

#include "platform/registry.h"

namespace quillon {

inline constexpr wchar_t kOutcomePath[] = L"Software\\Norvale\\QuillonOutcome";

struct SetupOutcome {
  bool programmed = false;       // every key of the file was written and the module reset
  std::uint32_t moduleRate = 0;  // the rate the module answered at after its reset; 0 for none
  std::int32_t result = 0;       // the programming run's result (kProgrammingStoppedEarly for a stop)
  std::uint32_t fileRate = 0;    // the rate the PSR file sets (the stack's rate when it sets none)
};

class SetupOutcomeRecord {
 public:
  explicit SetupOutcomeRecord(platform::Registry& registry) : registry_(registry) {}

  // Written and flushed; false when it could not be.
  bool Write(const SetupOutcome& outcome);
  // kSuccess for a whole record; kErrorFileNotFound when there is none (a record cut short is
  // none); any other code when the registry could not tell (another program holds it).
  platform::ErrorCode Read(SetupOutcome* outcome);
  void Delete();

 private:
  platform::Registry& registry_;
};

}  // namespace quillon
