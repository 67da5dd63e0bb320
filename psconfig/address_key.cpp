#include "psconfig/address_key.h"

#include <algorithm>
#include <memory>
#include <new>

#include "psconfig/bccmd.h"

namespace quillon {

bool PlaceAddressKey(PsKeyList& list, const std::array<std::uint16_t, 4>& values,
                     std::vector<std::uint32_t>* replacedLines) {
  replacedLines->clear();
  if (list.count < 2) return false;
  const std::uint32_t keys = list.count - 2;
  std::unique_ptr<PsKeyItem[]> kept(new (std::nothrow) PsKeyItem[keys]);
  if (!kept) return false;
  std::uint32_t keptCount = 0;
  for (std::uint32_t i = 1; i <= keys; ++i) {
    const PsKeyItem& item = list.Item(i);
    if (item.varId == kVarIdPsKey && item.psKey == kAddressKey) {
      replacedLines->push_back(item.line);
    } else {
      kept[keptCount++] = item;
    }
  }
  const std::uint32_t total = keptCount + 3;
  if (total > list.Limit() || total - 2 > PsKeyList::kMaxKeys) {
    replacedLines->clear();
    return false;
  }
  std::unique_ptr<PsKeyItem[]> loaded(new (std::nothrow) PsKeyItem[keys]);
  if (!loaded) return false;
  std::copy_n(list.Items() + 1, keys, loaded.get());
  auto rebuild = [&](const PsKeyItem* items, std::uint32_t count, bool withAddress) {
    if (!list.Allocate(count + 2 + (withAddress ? 1 : 0))) return false;
    list.count = 1;
    list.AddBuildIdRequest();
    for (std::uint32_t i = 0; i < count; ++i) {
      ++list.count;
      list.AddKey(items[i].psKey, std::span(items[i].values.data(), items[i].valueCount), items[i].line);
    }
    if (withAddress) {
      ++list.count;
      list.AddKey(kAddressKey, values);
    }
    ++list.count;
    list.AddWarmReset();
    return true;
  };
  if (!rebuild(kept.get(), keptCount, true)) {
    rebuild(loaded.get(), keys, false);  // the list as it was
    replacedLines->clear();
    return false;
  }
  return true;
}

}  // namespace quillon
