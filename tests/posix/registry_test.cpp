// The registry contract for the in-memory registry and the emulated device's registry file.
#include "tests/contract/registry_contract.h"

#include "platform/posix/registry_file.h"
#include "tests/fakes/memory_registry.h"
#include "tests/support/temp_device.h"

namespace quillon::testing {
namespace {

struct MemoryCase {
  MemoryRegistry registry;
};
struct FileCase {
  TempDevice device;
  platform::posix::RegistryFile registry{device.Root()};
};

using Registries = ::testing::Types<MemoryCase, FileCase>;
INSTANTIATE_TYPED_TEST_SUITE_P(Posix, RegistryContract, Registries);

TEST(FileRegistryNames, NamesWithControlCharactersAreRefused) {
  for (bool inMemory : {true, false}) {
    MemoryCase memory;
    FileCase file;
    platform::Registry& registry = inMemory ? static_cast<platform::Registry&>(memory.registry) : file.registry;
    std::unique_ptr<RegistryKey> key;
    EXPECT_EQ(registry.CreateKey(L"Bad\nName", &key), platform::kErrorInvalidParameter);
    ASSERT_EQ(registry.CreateKey(L"Good", &key), platform::kSuccess);
    EXPECT_EQ(key->SetValue(L"line\nbreak", platform::kRegDword, std::vector<std::uint8_t>{0, 0, 0, 0}),
              platform::kErrorInvalidParameter);
  }
}

}  // namespace
}  // namespace quillon::testing
