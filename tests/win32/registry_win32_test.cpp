// The registry contract for the Windows registry, below a key of this test run's own.
#include <windows.h>

#include "platform/win32/registry_win32.h"
#include "tests/contract/registry_contract.h"

namespace quillon::testing {
namespace {

// Each case lives in a key of its own under HKLM\Software\QuillonTests, removed at its end.
struct Win32Case {
  static std::wstring NewBase() {
    static int next = 0;  // one process runs one test at a time
    return L"Software\\QuillonTests\\" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(next++);
  }
  ~Win32Case() { platform::win32::Win32Registry().DeleteTree(base); }

  std::wstring base = NewBase();
  platform::win32::Win32Registry registry{base};
};

using Registries = ::testing::Types<Win32Case>;
INSTANTIATE_TYPED_TEST_SUITE_P(Win32, RegistryContract, Registries);

TEST(Win32Registry, StringsWithoutTerminatorStayAsWritten) {
  Win32Case subject;
  std::unique_ptr<RegistryKey> key;
  ASSERT_EQ(subject.registry.CreateKey(L"Raw", &key), platform::kSuccess);
  const std::uint8_t com[] = {'C', 0, 'O', 0, 'M', 0};
  ASSERT_EQ(key->SetValue(L"Name", platform::kRegSz, com), platform::kSuccess);
  std::array<std::uint8_t, 6> exact{};
  std::size_t length = 0;
  std::uint32_t type = 0;
  ASSERT_EQ(key->QueryValue(L"Name", &type, exact, &length), platform::kSuccess);
  EXPECT_EQ(length, 6u);
  EXPECT_EQ(std::vector<std::uint8_t>(exact.begin(), exact.end()), std::vector<std::uint8_t>(com, com + 6));
}

}  // namespace
}  // namespace quillon::testing
