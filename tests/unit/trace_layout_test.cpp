#include "trace/trace_layout.h"

#include <gtest/gtest.h>

namespace quillon::trace_layout {
namespace {

TEST(TraceLayout, FindRoom) {
  constexpr std::uint32_t start = kHeaderSize;
  constexpr std::uint32_t end = start + kAreaSize;
  struct Case {
    const char* what;
    std::uint32_t readPos, writePos, padded;
    bool fits, wraps;
    std::uint32_t at;
  };
  const Case cases[] = {
      {"empty ring", start, start, 256, true, false, start},
      {"behind the reader with room", start + 1024, start, 256, true, false, start},
      {"stretch before the reader exactly as long as the record", start + 256, start, 256, false, false, 0},
      {"one word more than the record", start + 260, start, 256, true, false, start},
      {"ends one word before the area's end", start, end - 260, 256, true, false, end - 260},
      {"would end at the area's end: wraps", start + 512, end - 256, 256, true, true, start},
      {"wraps but the reader sits at the start", start, end - 256, 256, false, false, 0},
      {"wraps onto exactly the free stretch", start + 256, end - 8, 256, false, false, 0},
      {"wraps with one word to spare", start + 260, end - 8, 256, true, true, start},
  };
  for (const Case& c : cases) {
    const Placement room = FindRoom(start, c.readPos, c.writePos, c.padded);
    EXPECT_EQ(room.fits, c.fits) << c.what;
    EXPECT_EQ(room.wraps, c.wraps) << c.what;
    if (c.fits) {
      EXPECT_EQ(room.at, c.at) << c.what;
    }
  }
}

TEST(TraceLayout, AHeaderThatDescribesNoSoundAreaLeavesNoRoom) {
  constexpr std::uint32_t start = kHeaderSize;
  struct Case {
    const char* what;
    std::uint32_t areaStart, readPos, writePos;
  };
  const Case cases[] = {
      {"never set up", 0, 0, 0},
      {"area inside the header", 8, 8, 8},
      {"area past the memory", start + 4, start + 4, start + 4},
      {"write position outside the area", start, start, kMemorySize},
      {"write position not aligned", start, start, start + 2},
      {"read position past the area", start, kMemorySize + 4, start},
      {"huge positions", 0xFFFFFF00u, 0xFFFFFF00u, 0xFFFFFF00u},
  };
  for (const Case& c : cases) EXPECT_FALSE(FindRoom(c.areaStart, c.readPos, c.writePos, 28).fits) << c.what;
}

TEST(TraceLayout, WordsAreLittleEndian) {
  std::byte memory[8] = {};
  StoreWord(memory, 2, 0x11223344u);
  EXPECT_EQ(memory[2], std::byte{0x44});
  EXPECT_EQ(memory[5], std::byte{0x11});
  EXPECT_EQ(LoadWord(memory, 2), 0x11223344u);
}

}  // namespace
}  // namespace quillon::trace_layout
