// printf-style formatting into a caller's fixed buffer, checked against the arguments at compile
// time. Placeholders: %d %i %u %x %X %c %s %% with the flags "-" and "0", a width and a
// precision ("%02x", "%10d", "%-8s", "%.3s"); "l", "h" and "z" are accepted and ignored.
// "%s" takes text of the format's own character type (wide text in a wide format).
//
// The output is cut to the buffer and always ends with a zero character; nothing is allocated.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace quillon {

enum class FormatArgKind : std::uint8_t { kSigned, kUnsigned, kText };

template <typename CharT>
struct FormatArg {
  FormatArgKind kind = FormatArgKind::kSigned;
  std::uint8_t bytes = 4;  // width of the integer the caller passed
  std::uint64_t number = 0;
  std::basic_string_view<CharT> text;
};

namespace format_detail {

template <typename T, typename CharT>
concept Text = std::convertible_to<const T&, std::basic_string_view<CharT>> || std::is_same_v < std::decay_t<T>,
const CharT* > || std::is_same_v<std::decay_t<T>, CharT*>;

template <typename T>
concept Integer = std::integral<T> || std::is_enum_v<T>;

template <typename CharT, typename T>
consteval char CategoryOf() {
  if constexpr (Text<T, CharT>) {
    return 's';
  } else if constexpr (Integer<T>) {
    return 'i';
  } else {
    return '?';
  }
}

// Called only when a check fails; not being constexpr, it makes the failure a compile error.
inline void FormatDoesNotMatchArguments(const char*) {}

template <typename CharT>
consteval void Check(std::basic_string_view<CharT> format, std::span<const char> categories) {
  std::size_t used = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') continue;
    if (++i >= format.size()) FormatDoesNotMatchArguments("format ends with a lone %");
    if (format[i] == '%') continue;
    while (i < format.size() && (format[i] == '-' || format[i] == '0')) ++i;
    while (i < format.size() && format[i] >= '0' && format[i] <= '9') ++i;
    if (i < format.size() && format[i] == '.') {
      ++i;
      while (i < format.size() && format[i] >= '0' && format[i] <= '9') ++i;
    }
    while (i < format.size() && (format[i] == 'l' || format[i] == 'h' || format[i] == 'z')) ++i;
    if (i >= format.size()) FormatDoesNotMatchArguments("unfinished placeholder");
    const CharT conversion = format[i];
    char wanted = '?';
    if (conversion == 'd' || conversion == 'i' || conversion == 'u' || conversion == 'x' || conversion == 'X' ||
        conversion == 'c') {
      wanted = 'i';
    } else if (conversion == 's') {
      wanted = 's';
    } else {
      FormatDoesNotMatchArguments("unknown conversion");
    }
    if (used >= categories.size()) FormatDoesNotMatchArguments("more placeholders than arguments");
    if (categories[used] != wanted) FormatDoesNotMatchArguments("argument type does not match its placeholder");
    ++used;
  }
  if (used != categories.size()) FormatDoesNotMatchArguments("more arguments than placeholders");
}

}  // namespace format_detail

// A format text whose placeholders were checked against Args when the program was compiled.
template <typename CharT, typename... Args>
class BasicFormatString {
 public:
  template <std::size_t N>
  consteval BasicFormatString(const CharT (&text)[N]) : text_(text, N - 1) {  // NOLINT: implicit by design
    constexpr char kCategories[] = {format_detail::CategoryOf<CharT, Args>()..., 0};
    format_detail::Check<CharT>(text_, std::span<const char>(kCategories, sizeof...(Args)));
  }
  constexpr std::basic_string_view<CharT> Text() const { return text_; }

 private:
  std::basic_string_view<CharT> text_;
};

template <typename... Args>
using WideFormat = BasicFormatString<wchar_t, std::type_identity_t<Args>...>;
template <typename... Args>
using NarrowFormat = BasicFormatString<char, std::type_identity_t<Args>...>;

template <typename CharT, typename T>
FormatArg<CharT> MakeFormatArg(const T& value) {
  FormatArg<CharT> arg;
  if constexpr (format_detail::Text<T, CharT>) {
    arg.kind = FormatArgKind::kText;
    if constexpr (std::is_pointer_v<T>) {
      arg.text = value != nullptr ? std::basic_string_view<CharT>(value) : std::basic_string_view<CharT>();
    } else {
      arg.text = std::basic_string_view<CharT>(value);
    }
  } else if constexpr (std::is_enum_v<T>) {
    return MakeFormatArg<CharT>(static_cast<std::underlying_type_t<T>>(value));
  } else {
    static_assert(std::integral<T>, "only integers and text can be formatted");
    arg.kind = std::is_signed_v<T> ? FormatArgKind::kSigned : FormatArgKind::kUnsigned;
    arg.bytes = static_cast<std::uint8_t>(sizeof(T));
    arg.number = static_cast<std::uint64_t>(
        static_cast<std::conditional_t<std::is_signed_v<T>, std::int64_t, std::uint64_t>>(value));
  }
  return arg;
}

// Formats at run time; placeholders without an argument or of the wrong kind produce nothing.
// Returns the number of characters written before the terminating zero.
std::size_t FormatRuntime(std::span<wchar_t> out, std::wstring_view format, std::span<const FormatArg<wchar_t>> args);
std::size_t FormatRuntime(std::span<char> out, std::string_view format, std::span<const FormatArg<char>> args);

template <typename... Args>
std::size_t FormatTo(std::span<wchar_t> out, WideFormat<Args...> format, const Args&... args) {
  const FormatArg<wchar_t> packed[] = {MakeFormatArg<wchar_t>(args)..., FormatArg<wchar_t>{}};
  return FormatRuntime(out, format.Text(), std::span<const FormatArg<wchar_t>>(packed, sizeof...(Args)));
}

template <typename... Args>
std::size_t FormatTo(std::span<char> out, NarrowFormat<Args...> format, const Args&... args) {
  const FormatArg<char> packed[] = {MakeFormatArg<char>(args)..., FormatArg<char>{}};
  return FormatRuntime(out, format.Text(), std::span<const FormatArg<char>>(packed, sizeof...(Args)));
}

}  // namespace quillon
