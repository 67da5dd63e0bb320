// Arbitrary bytes as a PSR file, read by both passes as a run reads them: no fault, the passes
// agree, and every item is a well-formed request.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "psconfig/psr_reader.h"
#include "tests/fakes/memory_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillon;
  testing::MemoryFiles files;
  files.Put(L"f.psr", std::string(reinterpret_cast<const char*>(data), size));
  platform::ErrorCode error = platform::kSuccess;
  auto file = files.Open(L"f.psr", platform::FileMode::kReadExisting, &error);
  PsKeyList list;
  const std::uint32_t keys = PsrReader::ParseKeys(*file, list, false);
  if (keys == 0) return 0;
  if (!list.Allocate(keys + 2)) return 0;
  file->SetPosition(0);
  list.count = 1;
  list.AddBuildIdRequest();
  if (PsrReader::ParseKeys(*file, list, true) != keys + 1) std::abort();
  for (std::uint32_t i = 1; i <= keys; ++i) {
    const PsKeyItem& item = list.Item(i);
    if (item.valueCount > PsKeyItem::kMaxValues || item.length != 8 + item.valueCount) std::abort();
    if (item.varId != kVarIdPsKey || item.sequence != i + 1) std::abort();
  }
  return 0;
}
