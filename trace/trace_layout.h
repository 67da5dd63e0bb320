// The layout of the trace's shared memory, shared by the writers and the viewer.
//
// Positions (areaStart, readPos, writePos, a record's next) are byte offsets from the start of
// the shared memory, so that processes that map it at different addresses agree. All words are
// little-endian 32-bit numbers.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quillon::trace_layout {

inline constexpr wchar_t kMemoryName[] = L"LOUPE_TRACE_DATA";
inline constexpr wchar_t kMutexName[] = L"LoupeMutex";
inline constexpr wchar_t kStartedEventName[] = L"LoupeTraceStartedEvt";
inline constexpr wchar_t kRegistryKey[] = L"SOFTWARE\\Norvale\\LoupeTrace";
inline constexpr wchar_t kThreadNamesKey[] = L"SOFTWARE\\Norvale\\LoupeTrace\\ThreadNames";
inline constexpr std::uint32_t kTraceDataMessage = 0x701;  // WM_TRACE_DATA

inline constexpr std::uint32_t kMemorySize = 1048576;
inline constexpr std::uint32_t kHeaderSize = 40;
inline constexpr std::uint32_t kAreaSize = kMemorySize - kHeaderSize;

// Header fields.
inline constexpr std::size_t kViewerWindow = 8;
inline constexpr std::size_t kNotifyOff = 12;
inline constexpr std::size_t kLostCount = 16;
inline constexpr std::size_t kFirstLostTick = 20;
inline constexpr std::size_t kAreaStart = 28;
inline constexpr std::size_t kReadPos = 32;
inline constexpr std::size_t kWritePos = 36;

// Record fields.
inline constexpr std::size_t kNext = 0;
inline constexpr std::size_t kThreadId = 4;
inline constexpr std::size_t kCategory = 8;
inline constexpr std::size_t kKind = 12;
inline constexpr std::size_t kTick = 16;
inline constexpr std::size_t kText = 20;

inline constexpr std::uint32_t kNothingFollows = 0;
inline constexpr std::uint32_t kWrapMarker = 0xFFFFFFFF;

inline constexpr std::uint32_t kMaxRecordSize = 254;
// The most characters a record holds; a longer text keeps this many, without terminator.
inline constexpr std::uint32_t kMaxRecordChars = (kMaxRecordSize - 22) / 2;

// S: the record's size for a text of `characters` UTF-16 units.
constexpr std::uint32_t RecordSize(std::size_t characters) {
  return static_cast<std::uint32_t>(
      std::min<std::size_t>(2 * (std::min<std::size_t>(characters, kMaxRecordSize) + 12), kMaxRecordSize));
}

// R: the room a record of size S takes.
constexpr std::uint32_t PaddedSize(std::uint32_t recordSize) { return (recordSize + 3u) & ~3u; }

inline std::uint32_t LoadWord(const std::byte* memory, std::size_t offset) {
  std::uint8_t bytes[4];
  std::memcpy(bytes, memory + offset, 4);
  return static_cast<std::uint32_t>(bytes[0] | (bytes[1] << 8) | (bytes[2] << 16)) |
         (static_cast<std::uint32_t>(bytes[3]) << 24);
}

inline void StoreWord(std::byte* memory, std::size_t offset, std::uint32_t value) {
  const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                 static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  std::memcpy(memory + offset, bytes, 4);
}

struct Placement {
  bool fits = false;
  bool wraps = false;    // write kWrapMarker at writePos and place the record at areaStart
  std::uint32_t at = 0;  // where the record goes
};

// Where a record of padded size R goes. The record must end strictly before readPos and before
// the area's end, so that the zero `next` word written after it never lands on an unread record
// and never lies past the area. A header that does not describe a sound area inside the shared
// memory (a damaged or half-written one) leaves no room: the writer never writes outside.
constexpr Placement FindRoom(std::uint32_t areaStart, std::uint32_t readPos, std::uint32_t writePos,
                             std::uint32_t padded, std::uint32_t memorySize = kMemorySize) {
  const std::uint64_t areaEnd = std::uint64_t{areaStart} + kAreaSize;
  const bool sound = areaStart >= kHeaderSize && areaStart % 4 == 0 && areaEnd <= memorySize && writePos >= areaStart &&
                     writePos % 4 == 0 && writePos + std::uint64_t{4} <= areaEnd && readPos >= areaStart &&
                     readPos <= areaEnd;
  if (!sound) return {};
  if (writePos < readPos) {
    if (std::uint64_t{writePos} + padded < readPos) return {true, false, writePos};
    return {};
  }
  if (std::uint64_t{writePos} + padded < areaEnd) return {true, false, writePos};
  if (std::uint64_t{areaStart} + padded < readPos) return {true, true, areaStart};
  return {};
}

}  // namespace quillon::trace_layout
