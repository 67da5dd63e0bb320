#include "tools/module_simulator/store_file.h"

#include <cstdio>

#include "platform/posix/power_cut.h"
#include "platform/save_whole.h"
#include "platform/text.h"

namespace quillon::sim {

std::string StoreFile::Open(PsStore* store) {
  const std::string problem = store->Load(path_);
  if (problem.empty()) return {};
  if (problem != "not found") return path_ + ": " + problem;
  store->Clear();
  if (std::string made = Replace(store->ToPsr()); !made.empty()) return path_ + ": " + made;
  return {};
}

std::string StoreFile::Write(const PsStore& store, std::uint16_t key) {
  if (std::string failed = Replace(store.ToPsr()); !failed.empty()) return failed;
  char what[48];
  std::snprintf(what, sizeof what, "module store: key 0x%04x", key);
  platform::posix::NotePersistentChange(what);
  return {};
}

std::string StoreFile::Replace(const std::string& text) {
  const platform::ErrorCode error = platform::SaveWhole(files_, platform::HostNameToWide(path_), text);
  if (error == platform::kSuccess) return {};
  char why[64];
  std::snprintf(why, sizeof why, "cannot be written (error %u)", error);
  return why;
}

}  // namespace quillon::sim
