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

platform::ErrorCode SetupOutcomeRecord::Read(SetupOutcome* outcome) {
  std::unique_ptr<platform::RegistryKey> key;
  platform::ErrorCode error = registry_.OpenKey(kOutcomePath, platform::RegistryAccess::kRead, &key);
  std::uint32_t programmed = 0;
  std::uint32_t result = 0;
  for (const auto& [name, value] : {std::pair{kProgrammed, &programmed}, std::pair{kModuleBaud, &outcome->moduleRate},
                                    std::pair{kResult, &result}, std::pair{kFileBaud, &outcome->fileRate}}) {
    if (error == platform::kSuccess) error = ReadDword(*key, name, value);
  }
  // A key or a value that is missing, or a value of another kind, makes no whole record; any
  // other failure is the registry's, which could not tell.
  if (error == platform::kErrorFileNotFound || error == platform::kErrorKeyDeleted ||
      error == platform::kErrorInvalidData || error == platform::kErrorMoreData) {
    return platform::kErrorFileNotFound;
  }
  outcome->programmed = programmed == 1;
  outcome->result = static_cast<std::int32_t>(result);
  return error;
}

void SetupOutcomeRecord::Delete() {
  if (registry_.DeleteTree(kOutcomePath) == platform::kSuccess) (void)FlushParentOf(registry_, kOutcomePath);
}

}  // namespace quillon
