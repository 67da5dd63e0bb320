#include "platform/posix/registry_text.h"

#include <algorithm>
#include <cstdio>

#include "platform/text.h"

namespace quillon::platform::posix {
namespace {

constexpr std::string_view kSignature = "Windows Registry Editor Version 5.00";
constexpr std::string_view kRootName = "HKEY_LOCAL_MACHINE";
constexpr std::uint32_t kSz = 1;
constexpr std::uint32_t kDword = 4;
constexpr std::uint32_t kBinary = 3;
constexpr std::size_t kBytesPerLine = 25;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Writing

namespace {

void AppendQuoted(std::string* out, std::wstring_view text) {
  out->push_back('"');
  for (char c : WideToUtf8(text)) {
    if (c == '\\' || c == '"') out->push_back('\\');
    out->push_back(c);
  }
  out->push_back('"');
}

// The text of a string value when "text" gives back its bytes exactly.
bool PlainString(const std::vector<std::uint8_t>& data, std::wstring* text) {
  if (data.size() < 2 || data.size() % 2 != 0) return false;
  const std::size_t units = data.size() / 2;
  if (data[data.size() - 2] != 0 || data[data.size() - 1] != 0) return false;
  for (std::size_t i = 0; i + 1 < units; ++i) {
    const unsigned unit = data[2 * i] | (data[2 * i + 1] << 8);
    if (unit < 0x20 || unit == 0x7F || (unit >= 0xD800 && unit <= 0xDFFF)) return false;
  }
  *text = Utf16leToWide(std::span(data).first(data.size() - 2));
  return true;
}

void AppendHex(std::string* out, std::uint32_t type, const std::vector<std::uint8_t>& data) {
  char prefix[24];
  if (type == kBinary) {
    std::snprintf(prefix, sizeof prefix, "hex:");
  } else {
    std::snprintf(prefix, sizeof prefix, "hex(%x):", type);
  }
  *out += prefix;
  for (std::size_t i = 0; i < data.size(); ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02x", data[i]);
    *out += byte;
    if (i + 1 < data.size()) {
      out->push_back(',');
      if ((i + 1) % kBytesPerLine == 0) *out += "\\\n  ";
    }
  }
}

void AppendValue(std::string* out, const RegistryValue& value) {
  if (value.name.empty()) {
    out->push_back('@');
  } else {
    AppendQuoted(out, value.name);
  }
  out->push_back('=');
  std::wstring text;
  if (value.type == kSz && PlainString(value.data, &text)) {
    AppendQuoted(out, text);
  } else if (value.type == kDword && value.data.size() == 4) {
    char number[16];
    std::snprintf(number, sizeof number, "dword:%08x",
                  value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                      (static_cast<unsigned>(value.data[3]) << 24));
    *out += number;
  } else {
    AppendHex(out, value.type, value.data);
  }
  out->push_back('\n');
}

void AppendKey(std::string* out, const RegistryNode& node, const std::string& path, bool isRoot) {
  if (!isRoot || !node.values.empty()) {
    *out += "[" + path + "]\n";
    for (const RegistryValue& value : node.values) AppendValue(out, value);
    out->push_back('\n');
  }
  for (const auto& child : node.children) {
    AppendKey(out, *child, path + "\\" + WideToUtf8(child->name), false);
  }
}

}  // namespace

std::string SerializeRegistry(const RegistryNode& root) {
  std::string out(kSignature);
  out += "\n\n";
  AppendKey(&out, root, std::string(kRootName), true);
  return out;
}

// ---------------------------------------------------------------------------------------------
// Reading

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// Reads a quoted text at the start of `text`; leaves `text` after the closing quote.
bool ReadQuoted(std::string_view* text, std::wstring* out) {
  if (text->empty() || text->front() != '"') return false;
  std::string bytes;
  std::size_t i = 1;
  for (; i < text->size(); ++i) {
    char c = (*text)[i];
    if (c == '"') break;
    if (c == '\\') {
      if (i + 1 >= text->size()) return false;
      c = (*text)[++i];
      if (c != '\\' && c != '"') return false;
    }
    bytes.push_back(c);
  }
  if (i >= text->size()) return false;
  text->remove_prefix(i + 1);
  *out = Utf8ToWide(bytes);
  return true;
}

bool ParseHexBytes(std::string_view text, std::vector<std::uint8_t>* data, std::string* reason) {
  data->clear();
  text = Trim(text);
  if (text.empty()) return true;
  std::size_t start = 0;
  while (true) {
    std::size_t end = text.find(',', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view item = Trim(text.substr(start, end - start));
    if (item.empty() || item.size() > 2 || HexDigitValue(item[0]) < 0 ||
        (item.size() == 2 && HexDigitValue(item[1]) < 0)) {
      *reason = "bad byte \"" + std::string(item) + "\" in hex data";
      return false;
    }
    data->push_back(static_cast<std::uint8_t>(item.size() == 1 ? HexDigitValue(item[0])
                                                               : HexDigitValue(item[0]) * 16 + HexDigitValue(item[1])));
    if (end == text.size()) return true;
    start = end + 1;
  }
}

// One to eight hexadecimal digits.
bool ParseHexWord(std::string_view digits, std::uint32_t* number) {
  if (digits.empty() || digits.size() > 8) return false;
  *number = 0;
  for (char c : digits) {
    if (HexDigitValue(c) < 0) return false;
    *number = *number * 16 + static_cast<std::uint32_t>(HexDigitValue(c));
  }
  return true;
}

bool ParseData(std::string_view text, RegistryValue* value, std::string* reason) {
  if (text.starts_with("\"")) {
    std::wstring content;
    std::string_view rest = text;
    if (!ReadQuoted(&rest, &content) || !Trim(rest).empty()) {
      *reason = "bad string data";
      return false;
    }
    const std::string bytes = WideToUtf16le(content);
    value->type = kSz;
    value->data.assign(bytes.begin(), bytes.end());
    value->data.push_back(0);
    value->data.push_back(0);
    return true;
  }
  if (text.starts_with("dword:")) {
    std::uint32_t number = 0;
    if (!ParseHexWord(text.substr(6), &number)) {
      *reason = "bad dword data";
      return false;
    }
    value->type = kDword;
    value->data = {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
                   static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
    return true;
  }
  if (text.starts_with("hex:")) {
    value->type = kBinary;
    return ParseHexBytes(text.substr(4), &value->data, reason);
  }
  if (text.starts_with("hex(")) {
    const std::size_t close = text.find("):");
    if (close == std::string_view::npos || !ParseHexWord(text.substr(4, close - 4), &value->type)) {
      *reason = "bad hex(type) prefix";
      return false;
    }
    return ParseHexBytes(text.substr(close + 2), &value->data, reason);
  }
  *reason = "unknown data form";
  return false;
}

}  // namespace

bool ParseRegistry(std::string_view text, RegistryNode* root, RegistryParseError* error) {
  root->values.clear();
  root->children.clear();
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  RegistryNode* current = nullptr;
  bool signatureSeen = false;
  std::size_t lineNumber = 0;
  std::size_t position = 0;
  auto fail = [&](std::size_t line, std::string reason) {
    error->line = line;
    error->reason = std::move(reason);
    return false;
  };
  while (position < text.size()) {
    // One logical line: physical lines joined where a line ends with a backslash.
    std::string logical;
    const std::size_t firstLine = lineNumber + 1;
    while (position < text.size()) {
      std::size_t end = text.find('\n', position);
      if (end == std::string_view::npos) end = text.size();
      std::string_view physical = text.substr(position, end - position);
      position = end + 1;
      ++lineNumber;
      if (physical.find('\0') != std::string_view::npos) return fail(lineNumber, "NUL byte in the text");
      physical = Trim(physical);
      const bool continues = !logical.empty() || physical.starts_with("\"") || physical.starts_with("@");
      if (continues && physical.ends_with("\\")) {
        logical += physical.substr(0, physical.size() - 1);
        continue;
      }
      logical += physical;
      break;
    }
    const std::string_view line = Trim(logical);
    if (line.empty() || line.starts_with(";")) continue;
    if (!signatureSeen) {
      if (line != kSignature)
        return fail(firstLine, "not a registry file (first line must be \"" + std::string(kSignature) + "\")");
      signatureSeen = true;
      continue;
    }
    if (line.front() == '[') {
      if (line.back() != ']') return fail(firstLine, "key line without closing \"]\"");
      std::string_view path = line.substr(1, line.size() - 2);
      if (path.starts_with("-")) return fail(firstLine, "key deletions do not belong in the registry file");
      if (path.size() < kRootName.size() ||
          !EqualsIgnoringCase(Utf8ToWide(path.substr(0, kRootName.size())), Utf8ToWide(kRootName)) ||
          (path.size() > kRootName.size() && path[kRootName.size()] != '\\')) {
        return fail(firstLine, "key outside HKEY_LOCAL_MACHINE");
      }
      current = root;
      for (const std::wstring& name : SplitKeyPath(Utf8ToWide(path.substr(kRootName.size())))) {
        if (!IsStorableName(name, true)) return fail(firstLine, "bad key name");
        current = current->AddChild(name);
      }
      continue;
    }
    if (current == nullptr) return fail(firstLine, "value before the first key");
    RegistryValue value;
    std::string_view rest = line;
    if (rest.starts_with("@")) {
      rest.remove_prefix(1);
    } else if (!ReadQuoted(&rest, &value.name) || !IsStorableName(value.name, false)) {
      return fail(firstLine, "bad value name");
    }
    rest = Trim(rest);
    if (!rest.starts_with("=")) return fail(firstLine, "value without \"=\"");
    rest = Trim(rest.substr(1));
    std::string reason;
    if (!ParseData(rest, &value, &reason)) return fail(firstLine, reason);
    current->SetValue(value.name, value.type, std::move(value.data));
  }
  if (!signatureSeen) return fail(1, "empty registry file");
  return true;
}

}  // namespace quillon::platform::posix
