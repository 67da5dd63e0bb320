// Arbitrary bytes as a PSR file, loaded as a run loads it: no fault, the passes agree, and every
// item is a well-formed request.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "psconfig/bccmd.h"
#include "psconfig/psr_reader.h"
#include "tests/fakes/memory_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillon;
  testing::MemoryFiles files;
  files.Put(L"f.psr", std::string(reinterpret_cast<const char*>(data), size));
  platform::ErrorCode error = platform::kSuccess;
  auto file = files.Open(L"f.psr", platform::FileMode::kReadExisting, &error);
  PsKeyList list;
  const PsrLoadResult loaded = PsrReader::Load(*file, list);
  if (loaded.outcome != PsrLoad::kLoaded) {
    if (list.Capacity() != 0 || (loaded.keys != 0 && loaded.outcome == PsrLoad::kNoKeys)) std::abort();
    return 0;
  }
  const std::uint32_t keys = loaded.keys;
  if (list.count != keys + 2 || list.Item(0).varId != kVarIdBuildId || list.Item(keys + 1).varId != kVarIdWarmReset) {
    std::abort();
  }
  for (std::uint32_t i = 1; i <= keys; ++i) {
    const PsKeyItem& item = list.Item(i);
    if (item.valueCount > PsKeyItem::kMaxValues || item.length != 8 + item.valueCount) std::abort();
    if (item.varId != kVarIdPsKey || item.sequence != i + 1) std::abort();
  }
  for (std::size_t i = 0; i < loaded.report.Listed(); ++i) {
    if (loaded.report.leftOut[i].line == 0) std::abort();
  }
  return 0;
}
