#include "platform/text.h"

#include <algorithm>

namespace quillon::platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Yields the code points of wide text, pairing surrogates where wchar_t is 16 bits.
template <typename Visit>
void ForEachCodePoint(std::wstring_view text, Visit visit) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char32_t>(text[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
        const char32_t low = static_cast<char32_t>(text[i + 1]);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
          ++i;
        }
      }
    }
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF && sizeof(wchar_t) == 4)) c = kReplacement;
    visit(c);
  }
}

void AppendWide(std::wstring* out, char32_t c) {
  if constexpr (sizeof(wchar_t) == 2) {
    if (c >= 0x10000) {
      c -= 0x10000;
      out->push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
      out->push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
      return;
    }
  }
  out->push_back(static_cast<wchar_t>(c));
}

}  // namespace

// The UTF-16 code units of one code point: one, or a surrogate pair. Returns their number.
std::size_t Utf16Units(char32_t c, char32_t (&units)[2]) {
  if (c < 0x10000) {
    units[0] = c;
    return 1;
  }
  units[0] = 0xD800 + ((c - 0x10000) >> 10);
  units[1] = 0xDC00 + ((c - 0x10000) & 0x3FF);
  return 2;
}

std::string WideToUtf16le(std::wstring_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  ForEachCodePoint(text, [&](char32_t c) {
    char32_t units[2];
    const std::size_t count = Utf16Units(c, units);
    for (std::size_t k = 0; k < count; ++k) {
      out.push_back(static_cast<char>(units[k] & 0xFF));
      out.push_back(static_cast<char>((units[k] >> 8) & 0xFF));
    }
  });
  return out;
}

std::size_t WideToUtf16leInto(std::wstring_view text, std::span<std::uint8_t> out) {
  std::size_t used = 0;
  bool full = false;
  ForEachCodePoint(text, [&](char32_t c) {
    if (full) return;
    char32_t units[2];
    const std::size_t count = Utf16Units(c, units);
    if (used + 2 * count > out.size()) {
      full = true;
      return;
    }
    for (std::size_t k = 0; k < count; ++k) {
      out[used++] = static_cast<std::uint8_t>(units[k] & 0xFF);
      out[used++] = static_cast<std::uint8_t>((units[k] >> 8) & 0xFF);
    }
  });
  return used;
}

std::wstring Utf16leToWide(std::span<const std::uint8_t> bytes) {
  std::wstring out;
  const std::size_t units = bytes.size() / 2;
  out.reserve(units);
  for (std::size_t i = 0; i < units; ++i) {
    char32_t c = static_cast<char32_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units) {
      const char32_t low = static_cast<char32_t>(bytes[2 * i + 2] | (bytes[2 * i + 3] << 8));
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendWide(&out, 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    if (c >= 0xD800 && c <= 0xDFFF) c = kReplacement;
    AppendWide(&out, c);
  }
  return out;
}

std::string WideToUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  ForEachCodePoint(text, [&](char32_t c) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  });
  return out;
}

std::wstring Utf8ToWide(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    char32_t c = 0;
    if (lead < 0x80) {
      c = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1;
      c = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2;
      c = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3;
      c = lead & 0x07;
    } else {
      AppendWide(&out, kReplacement);
      ++i;
      continue;
    }
    bool valid = i + extra < text.size();
    for (std::size_t k = 1; valid && k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) {
        valid = false;
      } else {
        c = (c << 6) | (next & 0x3F);
      }
    }
    static constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (!valid || c < kMinimum[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      AppendWide(&out, kReplacement);
      ++i;
      continue;
    }
    AppendWide(&out, c);
    i += extra + 1;
  }
  return out;
}

namespace {

constexpr wchar_t kEscapedByteFirst = 0xDC80;
constexpr wchar_t kEscapedByteLast = 0xDCFF;

// The length of the valid UTF-8 sequence at the start of `text`, or 0.
std::size_t Utf8SequenceLength(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead < 0x80) return 1;
  const std::size_t length = (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
  if (length == 0 || length > text.size()) return 0;
  // One sequence that decodes to exactly one code point: anything else is not valid UTF-8.
  const std::wstring decoded = Utf8ToWide(text.substr(0, length));
  if (decoded.empty() || decoded.front() == static_cast<wchar_t>(kReplacement)) return 0;
  return length;
}

}  // namespace

std::wstring HostNameToWide(std::string_view name) {
  std::wstring out;
  std::size_t i = 0;
  while (i < name.size()) {
    const std::size_t length = Utf8SequenceLength(name.substr(i));
    if (length == 0) {
      out.push_back(static_cast<wchar_t>(kEscapedByteFirst + (static_cast<unsigned char>(name[i]) - 0x80)));
      ++i;
      continue;
    }
    out += Utf8ToWide(name.substr(i, length));
    i += length;
  }
  return out;
}

std::string WideToHostName(std::wstring_view name) {
  std::string out;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && (name[i] < kEscapedByteFirst || name[i] > kEscapedByteLast)) continue;
    out += WideToUtf8(name.substr(start, i - start));
    if (i < name.size()) out.push_back(static_cast<char>(0x80 + (name[i] - kEscapedByteFirst)));
    start = i + 1;
  }
  return out;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

wchar_t FoldCase(wchar_t c) {
  if (c >= L'A' && c <= L'Z') return static_cast<wchar_t>(c + 32);
  // Latin-1 capitals, except the multiplication sign.
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<wchar_t>(c + 32);
  return c;
}

int CompareIgnoringCase(std::wstring_view a, std::wstring_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const wchar_t x = FoldCase(a[i]);
    const wchar_t y = FoldCase(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() && CompareIgnoringCase(a, b) == 0;
}

}  // namespace quillon::platform
