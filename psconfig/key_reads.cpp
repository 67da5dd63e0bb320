#include "psconfig/key_reads.h"

#include <algorithm>
#include <memory>
#include <new>

#include "psconfig/bccmd.h"

namespace quillon {

PsKeyItem MakeReadRequest(const PsKeyItem& written, std::uint16_t sequence) {
  PsKeyItem item;
  item.type = kBccmdGetRequest;
  item.length = static_cast<std::uint16_t>(kBccmdHeaderWords + written.valueCount);
  item.sequence = sequence;
  item.varId = kVarIdPsKey;
  item.psKey = written.psKey;
  item.valueCount = written.valueCount;
  item.line = written.line;
  return item;  // the value words of a get request are zeros: room for the answer
}

bool ArrangeReads(PsKeyList& list, const RunOptions& options, std::vector<KeyRead>* reads, std::uint32_t* firstWrite) {
  reads->clear();
  *firstWrite = list.count;
  if (list.count < 2) return false;
  const std::uint32_t keys = list.count - 2;
  const std::uint32_t readsBefore = options.readBeforeWriting ? keys : 0;
  const std::uint32_t writes = options.writeKeys ? keys : 0;
  const std::uint32_t readsAfter = options.writeKeys && options.readBackAfterWriting ? keys : 0;
  const std::uint32_t total = 1 + readsBefore + writes + readsAfter + (options.writeKeys ? 1 : 0);
  if (readsBefore == 0 && readsAfter == 0 && options.writeKeys) return true;  // nothing to add
  if (total > list.Limit() || total - 1 > PsKeyList::kMaxKeys + 1) return false;

  // The loaded keys move to a copy while the list is made anew around them.
  std::unique_ptr<PsKeyItem[]> loaded(new (std::nothrow) PsKeyItem[keys]);
  if (!loaded) return false;
  std::copy_n(list.Items() + 1, keys, loaded.get());
  const PsKeyItem warmReset = list.Item(list.count - 1);
  if (!list.Allocate(total)) {
    // Put the loaded list back as it was.
    if (list.Allocate(keys + 2)) {
      list.count = 1;
      list.AddBuildIdRequest();
      std::copy_n(loaded.get(), keys, list.Items() + 1);
      list.Items()[keys + 1] = warmReset;
      list.count = keys + 2;
    }
    return false;
  }
  PsKeyItem* items = list.Items();
  list.count = 1;
  list.AddBuildIdRequest();
  std::uint32_t at = 1;
  auto addReads = [&](ReadPhase phase) {
    for (std::uint32_t i = 0; i < keys; ++i, ++at) {
      items[at] = MakeReadRequest(loaded[i], static_cast<std::uint16_t>(at + 1));
      KeyRead read;
      read.key = loaded[i].psKey;
      read.line = loaded[i].line;
      read.phase = phase;
      read.sent.assign(loaded[i].values.begin(), loaded[i].values.begin() + loaded[i].valueCount);
      reads->push_back(std::move(read));
    }
  };
  if (readsBefore != 0) addReads(ReadPhase::kBeforeWriting);
  *firstWrite = options.writeKeys ? at : total;
  for (std::uint32_t i = 0; i < writes; ++i, ++at) {
    items[at] = loaded[i];
    items[at].sequence = static_cast<std::uint16_t>(at + 1);
  }
  if (readsAfter != 0) addReads(ReadPhase::kAfterWriting);
  if (options.writeKeys) items[at++] = warmReset;
  list.count = total;
  return true;
}

}  // namespace quillon
