// The registry file's text: the Windows registry-export format ("Windows Registry Editor
// Version 5.00"), in UTF-8, holding every value byte for byte.
//
// A string value is written as "name"="text" only when that gives back its bytes exactly (UTF-16
// text with one terminating zero, printable characters); any other string, such as one stored
// without its terminator, is written as hex(1):... A 4-byte DWORD is dword:xxxxxxxx, binary data
// hex:..., every other type hex(N):... Keys and values are written sorted without regard to case.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/registry_tree.h"

namespace quillon::platform::posix {

std::string SerializeRegistry(const RegistryNode& root);

struct RegistryParseError {
  std::size_t line = 0;
  std::string reason;
};

// Parses a whole file into `root` (the local-machine root). False and *error when the text is
// not a registry file of this form; `root` is then unspecified.
bool ParseRegistry(std::string_view text, RegistryNode* root, RegistryParseError* error);

}  // namespace quillon::platform::posix
