#include "trace/format.h"

#include <algorithm>

namespace quillon {
namespace {

template <typename CharT>
class Output {
 public:
  explicit Output(std::span<CharT> out) : out_(out) {}
  void Put(CharT c) {
    if (used_ + 1 < out_.size()) out_[used_++] = c;
  }
  void Repeat(CharT c, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) Put(c);
  }
  std::size_t Finish() {
    if (!out_.empty()) out_[used_] = CharT(0);
    return used_;
  }

 private:
  std::span<CharT> out_;
  std::size_t used_ = 0;
};

struct Placeholder {
  bool left = false;
  bool zero = false;
  std::size_t width = 0;
  bool hasPrecision = false;
  std::size_t precision = 0;
};

std::uint64_t Masked(const auto& arg) {
  return arg.bytes >= 8 ? arg.number : (arg.number & ((std::uint64_t{1} << (8 * arg.bytes)) - 1));
}

// The argument read as a signed number of the width the caller passed, as printf does.
std::int64_t AsSigned(const auto& arg) {
  const std::uint64_t bits = Masked(arg);
  if (arg.bytes >= 8) return static_cast<std::int64_t>(bits);
  const std::uint64_t sign = std::uint64_t{1} << (8 * arg.bytes - 1);
  return static_cast<std::int64_t>(bits ^ sign) - static_cast<std::int64_t>(sign);
}

template <typename CharT>
void PutNumber(Output<CharT>& out, const Placeholder& placeholder, bool negative, std::uint64_t magnitude,
               unsigned base, bool upper) {
  CharT digits[24];
  std::size_t count = 0;
  do {
    const unsigned digit = static_cast<unsigned>(magnitude % base);
    digits[count++] = static_cast<CharT>(digit < 10 ? '0' + digit : (upper ? 'A' : 'a') + digit - 10);
    magnitude /= base;
  } while (magnitude != 0);
  const std::size_t precisionZeros = placeholder.hasPrecision && placeholder.precision > count
                                         ? placeholder.precision - count
                                         : 0;
  const std::size_t length = count + precisionZeros + (negative ? 1 : 0);
  const std::size_t padding = placeholder.width > length ? placeholder.width - length : 0;
  const bool zeroPad = placeholder.zero && !placeholder.left && !placeholder.hasPrecision;
  if (!placeholder.left && !zeroPad) out.Repeat(CharT(' '), padding);
  if (negative) out.Put(CharT('-'));
  if (zeroPad) out.Repeat(CharT('0'), padding);
  out.Repeat(CharT('0'), precisionZeros);
  while (count > 0) out.Put(digits[--count]);
  if (placeholder.left) out.Repeat(CharT(' '), padding);
}

template <typename CharT>
void PutText(Output<CharT>& out, const Placeholder& placeholder, std::basic_string_view<CharT> text) {
  if (placeholder.hasPrecision && text.size() > placeholder.precision) text = text.substr(0, placeholder.precision);
  const std::size_t padding = placeholder.width > text.size() ? placeholder.width - text.size() : 0;
  if (!placeholder.left) out.Repeat(CharT(' '), padding);
  for (CharT c : text) out.Put(c);
  if (placeholder.left) out.Repeat(CharT(' '), padding);
}

template <typename CharT>
std::size_t Format(std::span<CharT> buffer, std::basic_string_view<CharT> format,
                   std::span<const FormatArg<CharT>> args) {
  Output<CharT> out(buffer);
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      out.Put(format[i]);
      continue;
    }
    const std::size_t start = i;
    if (++i >= format.size()) break;
    if (format[i] == '%') {
      out.Put(CharT('%'));
      continue;
    }
    Placeholder placeholder;
    for (; i < format.size() && (format[i] == '-' || format[i] == '0'); ++i) {
      (format[i] == '-' ? placeholder.left : placeholder.zero) = true;
    }
    for (; i < format.size() && format[i] >= '0' && format[i] <= '9'; ++i) {
      placeholder.width = std::min<std::size_t>(placeholder.width * 10 + static_cast<std::size_t>(format[i] - '0'),
                                                4096);
    }
    if (i < format.size() && format[i] == '.') {
      placeholder.hasPrecision = true;
      for (++i; i < format.size() && format[i] >= '0' && format[i] <= '9'; ++i) {
        placeholder.precision = std::min<std::size_t>(placeholder.precision * 10 +
                                                          static_cast<std::size_t>(format[i] - '0'),
                                                      4096);
      }
    }
    while (i < format.size() && (format[i] == 'l' || format[i] == 'h' || format[i] == 'z')) ++i;
    if (i >= format.size()) break;
    const CharT conversion = format[i];
    const bool known = conversion == 'd' || conversion == 'i' || conversion == 'u' || conversion == 'x' ||
                       conversion == 'X' || conversion == 'c' || conversion == 's';
    if (!known) {
      for (std::size_t k = start; k <= i; ++k) out.Put(format[k]);
      continue;
    }
    if (next >= args.size()) continue;
    const FormatArg<CharT>& arg = args[next++];
    const bool isText = arg.kind == FormatArgKind::kText;
    if (conversion == 's') {
      if (isText) PutText(out, placeholder, arg.text);
    } else if (isText) {
      continue;
    } else if (conversion == 'c') {
      const CharT c = static_cast<CharT>(Masked(arg));
      PutText(out, placeholder, std::basic_string_view<CharT>(&c, 1));
    } else if (conversion == 'd' || conversion == 'i') {
      const std::int64_t value = arg.kind == FormatArgKind::kSigned || arg.bytes < 8
                                     ? AsSigned(arg)
                                     : static_cast<std::int64_t>(arg.number);
      const std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value)
                                                : static_cast<std::uint64_t>(value);
      PutNumber(out, placeholder, value < 0, magnitude, 10, false);
    } else {
      PutNumber(out, placeholder, false, Masked(arg), conversion == 'u' ? 10 : 16, conversion == 'X');
    }
  }
  return out.Finish();
}

}  // namespace

std::size_t FormatRuntime(std::span<wchar_t> out, std::wstring_view format, std::span<const FormatArg<wchar_t>> args) {
  return Format<wchar_t>(out, format, args);
}

std::size_t FormatRuntime(std::span<char> out, std::string_view format, std::span<const FormatArg<char>> args) {
  return Format<char>(out, format, args);
}

}  // namespace quillon
