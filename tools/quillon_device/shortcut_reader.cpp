#include "tools/quillon_device/shortcut_reader.h"

#include <cstdio>
#include <string_view>

namespace quillon::device {
namespace {

// A decimal number as "%d" writes it: an optional minus, no leading zero, within 32 bits.
// Takes the digits at the start of *text and removes them.
bool TakeDecimal(std::string_view* text, std::int32_t* value) {
  std::size_t at = 0;
  const bool negative = !text->empty() && text->front() == '-';
  if (negative) ++at;
  const std::size_t firstDigit = at;
  std::int64_t number = 0;
  while (at < text->size() && (*text)[at] >= '0' && (*text)[at] <= '9') {
    number = number * 10 + ((*text)[at] - '0');
    if (number > 2147483648LL) return false;
    ++at;
  }
  const std::size_t digits = at - firstDigit;
  if (digits == 0 || (digits > 1 && (*text)[firstDigit] == '0')) return false;
  if (negative) number = -number;
  if (number > 2147483647LL || (negative && number == 0)) return false;
  *value = static_cast<std::int32_t>(number);
  text->remove_prefix(at);
  return true;
}

std::string Describe(const char* format, std::size_t a, std::size_t b = 0, std::size_t c = 0) {
  char line[160];
  std::snprintf(line, sizeof line, format, a, b, c);
  return line;
}

// Takes `name` from the start of *text.
bool TakeName(std::string_view* text, std::string_view name) {
  if (!text->starts_with(name)) return false;
  text->remove_prefix(name.size());
  return true;
}

// Takes the text up to the blank before `next` (the next option's name), and that blank; or the
// whole rest when `next` is empty.
bool TakeTextBefore(std::string_view* text, std::string_view next, std::string* value) {
  std::size_t end = text->size();
  if (!next.empty()) {
    end = text->find(" " + std::string(next));
    if (end == std::string_view::npos) return false;
  }
  *value = std::string(text->substr(0, end));
  text->remove_prefix(end == text->size() ? end : end + 1);
  return true;
}

// The options in the order the program writes them. A text value ends where the next option's
// name follows a blank, so a value may hold blanks ("/psr:my file.psr").
bool ReadOptions(std::string_view rest, Shortcut* shortcut, std::string* problem) {
  auto refuse = [problem](const char* what) {
    *problem = what;
    return false;
  };
  if (!TakeName(&rest, "/state:")) return refuse("the options do not start with \"/state:\"");
  if (!TakeDecimal(&rest, &shortcut->state)) return refuse("\"/state:\" is not followed by a decimal number");
  if (!TakeName(&rest, " /port:")) return refuse("\"/state:\" is not followed by a blank and \"/port:\"");
  if (!TakeTextBefore(&rest, "/psr:", &shortcut->port)) return refuse("\"/psr:\" is missing");
  if (!TakeName(&rest, "/psr:") || !TakeTextBefore(&rest, "/baudrate:", &shortcut->psrFile)) {
    return refuse("\"/baudrate:\" is missing");
  }
  if (!TakeName(&rest, "/baudrate:") || !TakeDecimal(&rest, &shortcut->baudRate)) {
    return refuse("\"/baudrate:\" is not followed by a decimal number");
  }
  if (!TakeName(&rest, " /TransportReg:")) return refuse("\"/baudrate:\" is not followed by \"/TransportReg:\"");
  return TakeTextBefore(&rest, {}, &shortcut->transportKey);
}

}  // namespace

bool ReadShortcut(std::span<const std::uint8_t> bytes, Shortcut* shortcut, std::string* problem) {
  *shortcut = Shortcut{};
  if (bytes.empty()) {
    *problem = "the file is empty";
    return false;
  }
  if (bytes.size() > kShortcutMaxBytes) {
    *problem = Describe("the file holds %zu bytes, more than the %zu a shortcut can have", bytes.size(),
                        kShortcutMaxBytes);
    return false;
  }
  std::size_t zero = 0;
  while (zero < bytes.size() && bytes[zero] != 0) ++zero;
  if (zero == bytes.size()) {
    *problem = "no terminating zero byte (the file was cut short)";
    return false;
  }
  if (zero + 1 != bytes.size()) {
    *problem = Describe("%zu bytes follow the terminating zero byte", bytes.size() - zero - 1);
    return false;
  }
  for (std::size_t i = 0; i < zero; ++i) {
    if (bytes[i] < 0x20 || bytes[i] == 0x7F) {
      *problem = Describe("control byte 0x%02zx at offset %zu", bytes[i], i);
      return false;
    }
  }
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), zero);

  std::int32_t count = 0;
  if (!TakeDecimal(&text, &count) || count < 0) {
    *problem = "the text does not start with a count";
    return false;
  }
  if (!text.starts_with("#")) {
    *problem = "no \"#\" after the count";
    return false;
  }
  text.remove_prefix(1);
  if (static_cast<std::size_t>(count) + 2 != text.size()) {
    *problem = Describe("the count %zu does not match the %zu characters after \"#\" (%zu expected)",
                        static_cast<std::size_t>(count), text.size(), text.size() >= 2 ? text.size() - 2 : 0);
    return false;
  }
  if (!text.starts_with("\"")) {
    *problem = "the program path does not start with a quotation mark";
    return false;
  }
  text.remove_prefix(1);
  const std::size_t closing = text.find('"');
  if (closing == std::string_view::npos) {
    *problem = "the program path has no closing quotation mark";
    return false;
  }
  if (closing == 0) {
    *problem = "the program path is empty";
    return false;
  }
  shortcut->programPath = std::string(text.substr(0, closing));
  text.remove_prefix(closing + 1);
  if (!text.starts_with(" ")) {
    *problem = "no blank between the program path and the options";
    return false;
  }
  text.remove_prefix(1);
  shortcut->commandLine = std::string(text);
  return ReadOptions(text, shortcut, problem);
}

}  // namespace quillon::device
