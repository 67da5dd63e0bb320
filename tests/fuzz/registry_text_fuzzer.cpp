// Arbitrary bytes as the registry file: the parser must refuse or accept without fault, and what
// it accepts must write out and read back to the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/posix/registry_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillon::platform;
  using namespace quillon::platform::posix;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  RegistryNode root;
  RegistryParseError error;
  if (!ParseRegistry(text, &root, &error)) return 0;
  const std::string written = SerializeRegistry(root);
  RegistryNode again;
  if (!ParseRegistry(written, &again, &error) || SerializeRegistry(again) != written) std::abort();
  return 0;
}
