// Arbitrary bytes as a start-up shortcut: no fault, and every file the reader takes is exactly
// what the program's own format writes for the parts it read, so that what the device starts
// is what the program meant.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/quillon_device/shortcut_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillon::device;
  Shortcut shortcut;
  std::string problem;
  if (!ReadShortcut({data, size}, &shortcut, &problem)) {
    if (problem.empty()) std::abort();
    return 0;
  }
  if (size > kShortcutMaxBytes) std::abort();
  const std::string options[] = {"/state:" + std::to_string(shortcut.state), "/port:" + shortcut.port,
                                 "/psr:" + shortcut.psrFile, "/baudrate:" + std::to_string(shortcut.baudRate),
                                 "/TransportReg:" + shortcut.transportKey};
  std::size_t count = shortcut.programPath.size() + 5;
  for (const std::string& option : options) count += option.size();
  char text[kShortcutMaxBytes + 1];
  const int length = std::snprintf(text, sizeof text, "%d#\"%s\" %s %s %s %s %s", static_cast<int>(count),
                                   shortcut.programPath.c_str(), options[0].c_str(), options[1].c_str(),
                                   options[2].c_str(), options[3].c_str(), options[4].c_str());
  if (length < 0 || static_cast<std::size_t>(length) + 1 != size || std::memcmp(text, data, size) != 0) std::abort();
  if (shortcut.commandLine !=
      std::string(options[0]) + " " + options[1] + " " + options[2] + " " + options[3] + " " + options[4]) {
    std::abort();
  }
  return 0;
}
