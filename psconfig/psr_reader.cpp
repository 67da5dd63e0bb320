#include "psconfig/psr_reader.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/text.h"

namespace quillon {
namespace {

bool IsWhite(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Follows the line number across one byte read.
void Follow(PsrLineCursor* cursor, std::uint8_t byte) {
  if (cursor == nullptr) return;
  if (byte == '\r') {
    ++cursor->next;
    cursor->afterCr = true;
  } else if (byte == '\n') {
    if (!cursor->afterCr) ++cursor->next;
    cursor->afterCr = false;
  } else {
    cursor->afterCr = false;
  }
}

}  // namespace

bool PsrReader::ReadLine(platform::File& file, char* buffer, std::size_t capacity, PsrLineCursor* cursor) {
  std::size_t stored = 0;
  while (stored < capacity) {
    std::uint8_t byte = 0;
    std::uint32_t got = 0;
    if (file.ReadByte(&byte, &got) != platform::kSuccess || got == 0) break;
    if (stored == 0 && cursor != nullptr && byte != '\r' && byte != '\n') cursor->lastLine = cursor->next;
    Follow(cursor, byte);
    if (byte == '\r' || byte == '\n') {
      if (stored == 0) continue;
      break;
    }
    buffer[stored++] = static_cast<char>(byte);
  }
  buffer[stored] = '\0';
  return stored > 0;
}

PsrLine PsrReader::ParseLine(std::string_view line, std::span<std::uint16_t> values) {
  line = line.substr(0, std::min(line.size(), kLineKept));
  if (const std::size_t nul = line.find('\0'); nul != std::string_view::npos) line = line.substr(0, nul);
  std::size_t i = 0;
  auto skipWhite = [&] {
    while (i < line.size() && IsWhite(line[i])) ++i;
  };
  PsrLine result;
  skipWhite();
  if (i >= line.size() || (line[i] != '&' && line[i] != '?')) return result;
  result.setsNoKey = true;  // until the line proves to be a key line
  ++i;
  std::uint32_t key = 0;
  while (i < line.size() && platform::HexDigitValue(line[i]) >= 0)
    key = key * 16 + static_cast<std::uint32_t>(platform::HexDigitValue(line[i++]));
  if (key == 0) return result;
  skipWhite();
  if (i >= line.size() || line[i] != '=') return result;
  result.setsNoKey = false;
  ++i;
  result.key = static_cast<std::uint16_t>(key & 0xFFFF);

  std::size_t count = 0;
  auto store = [&](std::uint16_t value) {
    if (count < values.size()) values[count] = value;
    ++count;
  };
  for (;;) {
    skipWhite();
    if (i >= line.size()) break;
    if (line[i] == '"') {
      // Every byte after the quote, the closing quote and trailing blanks included, widened as
      // a signed 8-bit number.
      for (++i; i < line.size(); ++i)
        store(static_cast<std::uint16_t>(static_cast<std::int16_t>(static_cast<std::int8_t>(line[i]))));
      break;
    }
    if (platform::HexDigitValue(line[i]) < 0) break;
    std::uint16_t value = 0;
    while (i < line.size() && platform::HexDigitValue(line[i]) >= 0)
      value = static_cast<std::uint16_t>(value * 16 + platform::HexDigitValue(line[i++]));
    store(value);
  }
  result.tooManyValues = count > PsKeyItem::kMaxValues;
  result.isKey = !result.tooManyValues;
  result.valueCount = std::min(count, values.size());
  return result;
}

std::uint32_t PsrReader::ParseKeys(platform::File& file, PsKeyList& list, bool load, PsrReport* report,
                                   platform::Event* stop, bool* stopped) {
  std::array<char, kLineCapacity + 1> line{};
  std::array<std::uint16_t, kValueCapacity> values{};
  PsrLineCursor cursor;
  while (ReadLine(file, line.data(), kLineCapacity, &cursor)) {
    if (stop != nullptr && stop->Wait(0)) {
      if (stopped != nullptr) *stopped = true;
      break;
    }
    const PsrLine parsed = ParseLine(std::string_view(line.data(), std::strlen(line.data())), values);
    if (parsed.tooManyValues && report != nullptr) {
      if (report->keysLeftOut < PsrReport::kListed)
        report->leftOut[report->keysLeftOut] = {parsed.key, cursor.lastLine};
      ++report->keysLeftOut;
    }
    if (parsed.setsNoKey && report != nullptr) {
      if (report->linesSkipped < PsrReport::kListed) {
        PsrSkipped& skipped = report->skipped[report->linesSkipped];
        skipped.line = cursor.lastLine;
        // Shown on a terminal: from its first non-blank byte, control bytes as '?'.
        const char* start = line.data();
        while (*start == ' ' || *start == '\t') ++start;
        const std::size_t length = std::min(std::strlen(start), PsrSkipped::kTextChars);
        std::transform(start, start + length, skipped.text.begin(), [](char c) {
          const auto byte = static_cast<unsigned char>(c);
          return byte < 0x20 || byte == 0x7F ? '?' : c;
        });
        skipped.text[length] = '\0';
      }
      ++report->linesSkipped;
    }
    if (!parsed.isKey) continue;
    ++list.count;
    if (load)
      list.AddKey(parsed.key, std::span<const std::uint16_t>(values.data(), parsed.valueCount), cursor.lastLine);
  }
  return list.count;
}

PsrLoadResult PsrReader::Load(platform::File& file, PsKeyList& list, platform::Event* stop) {
  PsrLoadResult result;
  bool stopped = false;
  list.Release();
  const std::uint32_t keys = ParseKeys(file, list, false, &result.report, stop, &stopped);
  list.Release();
  result.keys = keys;
  auto fail = [&](PsrLoad outcome) {
    list.Release();
    result.outcome = outcome;
    return result;
  };
  if (stopped) return fail(PsrLoad::kStopped);
  if (keys == 0) return fail(PsrLoad::kNoKeys);
  if (keys > PsKeyList::kMaxKeys || !list.Allocate(keys + 2)) return fail(PsrLoad::kTooManyKeys);
  if (file.SetPosition(0) != platform::kSuccess) return fail(PsrLoad::kRewindFailed);
  list.count = 1;
  list.AddBuildIdRequest();
  // The second pass must find what the first found; a file changed in between is not sent.
  const std::uint32_t loaded = ParseKeys(file, list, true, nullptr, stop, &stopped);
  if (stopped) return fail(PsrLoad::kStopped);
  if (loaded != keys + 1) return fail(PsrLoad::kChanged);
  ++list.count;
  list.AddWarmReset();
  result.outcome = PsrLoad::kLoaded;
  return result;
}

}  // namespace quillon
