// The registry file's text: the Windows registry-export format ("Windows Registry Editor
// Version 5.00"), in UTF-8, holding every value byte for byte.
//
// A string value is written as "name"="text" only when that gives back its bytes exactly (UTF-16
// text with one terminating zero, printable characters); any other string, such as one stored
// without its terminator, is written as hex(1):... A 4-byte DWORD is dword:xxxxxxxx, binary data
// hex:..., every other type hex(N):... Keys and values are written sorted without regard to case.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::platform::posix {

struct RegistryValue {
  std::wstring name;  // empty: the key's default value, written "@"
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

struct RegistryNode {
  std::wstring name;
  std::vector<RegistryValue> values;                   // sorted without regard to case
  std::vector<std::unique_ptr<RegistryNode>> children;  // sorted without regard to case

  RegistryNode* FindChild(std::wstring_view childName) const;
  RegistryNode* AddChild(std::wstring_view childName);  // returns the existing one if any
  bool RemoveChild(std::wstring_view childName);
  RegistryValue* FindValue(std::wstring_view valueName);
  void SetValue(std::wstring_view valueName, std::uint32_t type, std::vector<std::uint8_t> data);
  bool RemoveValue(std::wstring_view valueName);
};

// Splits "A\\B\\C" into its names; empty names (doubled or outer backslashes) are dropped.
std::vector<std::wstring> SplitKeyPath(std::wstring_view path);

// True when a key or value name can be stored: no control characters, and for keys no backslash.
bool IsStorableName(std::wstring_view name, bool isKey);

std::string SerializeRegistry(const RegistryNode& root);

struct RegistryParseError {
  std::size_t line = 0;
  std::string reason;
};

// Parses a whole file into `root` (the local-machine root). False and *error when the text is
// not a registry file of this form; `root` is then unspecified.
bool ParseRegistry(std::string_view text, RegistryNode* root, RegistryParseError* error);

}  // namespace quillon::platform::posix
