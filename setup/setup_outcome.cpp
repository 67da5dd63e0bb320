#include "setup/setup_outcome.h"

#include <memory>

#include "setup/registry_values.h"

namespace quillon {
namespace {

constexpr wchar_t kProgrammed[] = L"Programmed";
constexpr wchar_t kModuleBaud[] = L"ModuleBaud";
constexpr wchar_t kResult[] = L"Result";
constexpr wchar_t kFileBaud[] = L"FileBaud";

}  // namespace

bool SetupOutcomeRecord::Write(const SetupOutcome& outcome) {
  std::unique_ptr<platform::RegistryKey> key;
  if (registry_.CreateKey(kOutcomePath, &key) != platform::kSuccess) return false;
  // "Programmed" goes last: a record cut short by a power cut is no record.
  (void)key->DeleteValue(kProgrammed);
  const bool written = WriteDword(*key, kModuleBaud, outcome.moduleRate) == platform::kSuccess &&
                       WriteDword(*key, kResult, static_cast<std::uint32_t>(outcome.result)) == platform::kSuccess &&
                       WriteDword(*key, kFileBaud, outcome.fileRate) == platform::kSuccess &&
                       WriteDword(*key, kProgrammed, outcome.programmed ? 1 : 0) == platform::kSuccess;
  return key->Flush() == platform::kSuccess && written;
}

bool SetupOutcomeRecord::Read(SetupOutcome* outcome) {
  std::unique_ptr<platform::RegistryKey> key;
  if (registry_.OpenKey(kOutcomePath, platform::RegistryAccess::kRead, &key) != platform::kSuccess) return false;
  std::uint32_t programmed = 0;
  std::uint32_t result = 0;
  if (ReadDword(*key, kProgrammed, &programmed) != platform::kSuccess ||
      ReadDword(*key, kModuleBaud, &outcome->moduleRate) != platform::kSuccess ||
      ReadDword(*key, kResult, &result) != platform::kSuccess ||
      ReadDword(*key, kFileBaud, &outcome->fileRate) != platform::kSuccess) {
    return false;
  }
  outcome->programmed = programmed == 1;
  outcome->result = static_cast<std::int32_t>(result);
  return true;
}

void SetupOutcomeRecord::Delete() {
  if (registry_.DeleteTree(kOutcomePath) == platform::kSuccess) (void)FlushParentOf(registry_, kOutcomePath);
}

}  // namespace quillon
