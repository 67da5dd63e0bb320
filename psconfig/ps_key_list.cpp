#include "psconfig/ps_key_list.h"

#include <algorithm>
#include <new>

#include "psconfig/bccmd.h"

namespace quillon {

bool PsKeyList::Allocate(std::uint32_t items) {
  Release();
  if (items > limit_) return false;
  items_.reset(new (std::nothrow) PsKeyItem[items]());
  if (!items_) return false;
  capacity_ = items;
  return true;
}

void PsKeyList::Release() {
  items_.reset();
  capacity_ = 0;
  count = 0;
  position = 0;
  allSent = false;
}

PsKeyItem* PsKeyList::Slot() {
  if (count == 0 || count > capacity_) return nullptr;
  return &items_[count - 1];
}

void PsKeyList::AddKey(std::uint16_t key, std::span<const std::uint16_t> values, std::uint32_t line) {
  PsKeyItem* item = Slot();
  if (item == nullptr) return;
  const std::size_t kept = std::min(values.size(), PsKeyItem::kMaxValues);
  *item = PsKeyItem{};
  item->type = kBccmdSetRequest;
  item->length = static_cast<std::uint16_t>(kBccmdHeaderWords + kept);
  item->sequence = static_cast<std::uint16_t>(count);
  item->varId = kVarIdPsKey;
  item->psKey = key;
  item->valueCount = static_cast<std::uint16_t>(kept);
  std::copy_n(values.begin(), kept, item->values.begin());
  item->line = line;
}

void PsKeyList::AddBuildIdRequest() {
  PsKeyItem* item = Slot();
  if (item == nullptr) return;
  *item = PsKeyItem{};
  item->type = kBccmdGetRequest;
  item->length = 9;
  item->varId = kVarIdBuildId;
}

void PsKeyList::AddWarmReset() {
  PsKeyItem* item = Slot();
  if (item == nullptr) return;
  *item = PsKeyItem{};
  item->type = kBccmdSetRequest;
  item->length = 9;
  item->varId = kVarIdWarmReset;
}

}  // namespace quillon
