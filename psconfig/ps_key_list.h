// The programming list: one BCCMD request per item, in the order they are sent. The list opens
// with the build-identifier request and ends with the warm reset; the key requests lie between.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>

namespace quillon {

// Stored in this order and written out little-endian, the first 8 + valueCount words of an item
// are the BCCMD message itself.
struct PsKeyItem {
  static constexpr std::size_t kMaxValues = 188;
  std::uint16_t type = 0;
  std::uint16_t length = 0;
  std::uint16_t sequence = 0;
  std::uint16_t varId = 0;
  std::uint16_t status = 0;
  std::uint16_t psKey = 0;
  std::uint16_t valueCount = 0;
  std::uint16_t stores = 0;
  std::array<std::uint16_t, kMaxValues> values{};
  std::uint32_t line = 0;  // the PSR file line the key came from (not sent)
};

class PsKeyList {
 public:
  // Sequence numbers are 16-bit and count from 2: more keys than this cannot be told apart.
  static constexpr std::uint32_t kMaxKeys = 65533;

  // Room for `items` zero-filled items; count, position and allSent start at 0. False when the
  // memory cannot be had or `items` exceeds `Limit()`; the list is then empty.
  bool Allocate(std::uint32_t items);
  void Release();
  // The most items Allocate accepts (kMaxKeys + 2 unless a test lowers it).
  std::uint32_t Limit() const { return limit_; }
  void SetLimit(std::uint32_t items) { limit_ = items; }

  // Write at index count - 1 (the caller has already counted the item); ignored past the end.
  void AddKey(std::uint16_t key, std::span<const std::uint16_t> values, std::uint32_t line = 0);
  void AddBuildIdRequest();
  void AddWarmReset();

  PsKeyItem* Items() { return items_.get(); }
  const PsKeyItem& Item(std::uint32_t index) const { return items_[index]; }
  std::uint32_t Capacity() const { return capacity_; }

  std::uint32_t count = 0;
  std::uint32_t position = 0;
  bool allSent = false;

 private:
  PsKeyItem* Slot();
  std::unique_ptr<PsKeyItem[]> items_;
  std::uint32_t capacity_ = 0;
  std::uint32_t limit_ = kMaxKeys + 2;
};

}  // namespace quillon
