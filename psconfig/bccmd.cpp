#include "psconfig/bccmd.h"

#include <algorithm>

namespace quillon {
namespace {

std::uint16_t WordAt(std::span<const std::uint8_t> bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

}  // namespace

std::size_t EncodeBccmdRequest(const PsKeyItem& item, std::span<std::uint8_t> out) {
  const std::size_t values = std::min<std::size_t>(item.valueCount, PsKeyItem::kMaxValues);
  const std::size_t size = 2 * (kBccmdHeaderWords + values);
  if (out.size() < size) return 0;
  const std::uint16_t header[kBccmdHeaderWords] = {item.type,   item.length, item.sequence,   item.varId,
                                                   item.status, item.psKey,  item.valueCount, item.stores};
  std::size_t at = 0;
  auto put = [&](std::uint16_t word) {
    out[at++] = static_cast<std::uint8_t>(word & 0xFF);
    out[at++] = static_cast<std::uint8_t>(word >> 8);
  };
  for (std::uint16_t word : header) put(word);
  for (std::size_t i = 0; i < values; ++i) put(item.values[i]);
  return size;
}

BccmdMessage DecodeBccmdMessage(std::span<const std::uint8_t> bytes) {
  BccmdMessage message;
  if (!bytes.empty()) message.firstByte = bytes[0];
  if (bytes.size() >= 2) message.type = WordAt(bytes, 0);
  if (bytes.size() >= 6) message.sequence = WordAt(bytes, 4);
  if (bytes.size() >= 8) {
    message.varId = WordAt(bytes, 6);
    message.hasVarId = true;
  }
  if (bytes.size() >= 10) message.status = WordAt(bytes, 8);
  if (bytes.size() >= 12) message.psKey = WordAt(bytes, 10);
  constexpr std::size_t kHeaderBytes = std::size_t{2} * kBccmdHeaderWords;
  if (bytes.size() >= kHeaderBytes) {
    const std::size_t announced = WordAt(bytes, 12);
    const std::size_t arrived = (bytes.size() - kHeaderBytes) / 2;
    message.values = bytes.subspan(kHeaderBytes, 2 * std::min(announced, arrived));
  }
  return message;
}

std::size_t FormatHexLine(std::span<const std::uint8_t> bytes, bool spaced, std::size_t stopAt,
                          std::span<wchar_t> out) {
  static constexpr wchar_t kDigits[] = L"0123456789abcdef";
  if (out.empty()) return 0;
  std::size_t used = 0;
  for (std::size_t i = 0; i < bytes.size() && used < stopAt && used + 3 < out.size(); ++i) {
    out[used++] = kDigits[bytes[i] >> 4];
    out[used++] = kDigits[bytes[i] & 0x0F];
    if (spaced) out[used++] = L' ';
  }
  out[used] = L'\0';
  return used;
}

}  // namespace quillon
