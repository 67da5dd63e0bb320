// The stack's registry keys: de-activation, re-activation, the search, the copy and the deletion.
#include <gtest/gtest.h>

#include "setup/setup_results.h"
#include "tests/unit/setup_test_support.h"

namespace quillon {
namespace {

using testing::DwordValue;
using testing::kBackup;
using testing::KeyExists;
using testing::kHci;
using testing::PutString;
using testing::StringValue;

constexpr wchar_t kTransports[] = L"Software\\Microsoft\\Bluetooth\\Transports";

class StackRegistryTest : public ::testing::Test {
 protected:
  testing::SetupWorld world;
  testing::ScriptedHost host;
  DialogRecord record{host};
  StackRegistry stack{world.registry, record};
};

TEST_F(StackRegistryTest, DeactivationMarksBothNamesAndBacksUpTheNestedTransportKey) {
  ASSERT_EQ(stack.DeactivateMsStack(L"com4:"), 0);  // another letter case still matches
  EXPECT_EQ(record.m_transportReg, L"Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1");
  EXPECT_EQ(record.m_baudrate, 115200);
  EXPECT_EQ(StringValue(world.registry, testing::kTransportKey, L"Name"), L"XXXcom4:");
  EXPECT_EQ(StringValue(world.registry, kHci, L"Name"), L"XXXcom4:");
  EXPECT_EQ(StringValue(world.registry, kBackup, L"Name"), L"XXXcom4:");
  EXPECT_EQ(StringValue(world.registry, kBackup, L"Driver"), L"bthuart.dll");
  EXPECT_EQ(DwordValue(world.registry, std::wstring(kBackup) + L"\\Settings", L"flow"), 1);
  // The marked names keep their terminating zero.
  std::size_t bytes = 0;
  StringValue(world.registry, testing::kTransportKey, L"Name", &bytes);
  EXPECT_EQ(bytes, 2u * (8 + 1));
  EXPECT_TRUE(world.echo.Has(L"FindRegistry Found Name=com4:"));
}

TEST_F(StackRegistryTest, DeactivationFailuresUndoEveryChange) {
  struct Case {
    const char* what;
    std::function<void(testing::SetupWorld&)> arrange;
    int expected;
  };
  const Case cases[] = {
      {"no transports key", [](testing::SetupWorld& w) { w.memoryRegistry.DeleteTree(kTransports); }, 105},
      {"no transport names the port",
       [](testing::SetupWorld& w) { PutString(w.registry, testing::kTransportKey, L"Name", L"COM7:"); }, 107},
      {"no HCI key", [](testing::SetupWorld& w) { w.memoryRegistry.DeleteTree(kHci); }, 106},
      {"HCI names another port", [](testing::SetupWorld& w) { PutString(w.registry, kHci, L"Name", L"COM1:"); }, 108},
      {"HCI has no baud",
       [](testing::SetupWorld& w) {
         std::unique_ptr<platform::RegistryKey> key;
         w.registry.OpenKey(kHci, platform::RegistryAccess::kAll, &key);
         key->DeleteValue(L"baud");
       },
       125},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::SetupWorld w;
    testing::ScriptedHost h;
    DialogRecord r{h};
    StackRegistry s{w.registry, r};
    c.arrange(w);
    const std::wstring hciBefore = StringValue(w.registry, kHci, L"Name");
    const std::wstring transportBefore = StringValue(w.registry, testing::kTransportKey, L"Name");
    EXPECT_EQ(s.DeactivateMsStack(L"COM4:"), c.expected);
    EXPECT_EQ(StringValue(w.registry, testing::kTransportKey, L"Name"), transportBefore);
    EXPECT_EQ(StringValue(w.registry, kHci, L"Name"), hciBefore);
    EXPECT_FALSE(KeyExists(w.registry, kBackup));
    EXPECT_TRUE(w.echo.Has(L"De-activate the MS HCI cache key"));
  }
}

TEST_F(StackRegistryTest, TwoTransportsWithThePortMarkOnlyTheFirst) {
  PutString(world.registry, std::wstring(kTransports) + L"\\BuiltIn\\2", L"Name", L"COM4:");
  ASSERT_EQ(stack.DeactivateMsStack(L"COM4:"), 0);
  EXPECT_EQ(record.m_transportReg, std::wstring(testing::kTransportKey));
  EXPECT_EQ(StringValue(world.registry, std::wstring(kTransports) + L"\\BuiltIn\\2", L"Name"), L"COM4:");
}

TEST_F(StackRegistryTest, TheNameInTheTransportsKeyItselfBacksUpTheWholeTree) {
  PutString(world.registry, testing::kTransportKey, L"Name", L"COM9:");
  PutString(world.registry, kTransports, L"Name", L"COM4:");
  ASSERT_EQ(stack.DeactivateMsStack(L"COM4:"), 0);
  EXPECT_EQ(record.m_transportReg, std::wstring(kTransports));
  EXPECT_EQ(StringValue(world.registry, std::wstring(kBackup) + L"\\BuiltIn\\1", L"Name"), L"COM9:");
  ASSERT_EQ(stack.ActivateMsStack(L"COM4:", true), 0);
  EXPECT_EQ(StringValue(world.registry, kTransports, L"Name"), L"COM4:");
  EXPECT_FALSE(KeyExists(world.registry, kBackup));
}

TEST_F(StackRegistryTest, ActivationRestoresTheTransportKeyTwiceAndDeletesTheBackupLast) {
  ASSERT_EQ(stack.DeactivateMsStack(L"COM4:"), 0);
  PutString(world.registry, testing::kTransportKey, L"Driver", L"changed by the stack");
  ASSERT_EQ(stack.ActivateMsStack(L"COM4:", false), 0);
  EXPECT_EQ(StringValue(world.registry, testing::kTransportKey, L"Driver"), L"bthuart.dll");
  EXPECT_EQ(StringValue(world.registry, testing::kTransportKey, L"Name"), L"COM4:");
  EXPECT_EQ(StringValue(world.registry, kHci, L"Name"), L"COM4:");
  EXPECT_TRUE(KeyExists(world.registry, kBackup));
  ASSERT_EQ(stack.ActivateMsStack(L"COM4:", true), 0);
  EXPECT_FALSE(KeyExists(world.registry, kBackup));
  // Once more with the backup gone: the failed copy is traced, the names stay given back.
  EXPECT_EQ(stack.ActivateMsStack(L"COM4:", true), 0);
  EXPECT_TRUE(world.echo.Has(L"Error :121 in CQuillonDlg::CopyRegistryKeys"));
  EXPECT_EQ(StringValue(world.registry, testing::kTransportKey, L"Name"), L"COM4:");
}

TEST_F(StackRegistryTest, AFailedCopyBackKeepsTheBackup) {
  ASSERT_EQ(stack.DeactivateMsStack(L"COM4:"), 0);
  // The copy opens the backup, then creates the transport key: that call fails.
  world.power.failCall = world.power.calls + 2;
  EXPECT_EQ(stack.ActivateMsStack(L"COM4:", true), 0);
  EXPECT_TRUE(world.echo.Has(L"Error :120 in CQuillonDlg::CopyRegistryKeys"));
  EXPECT_TRUE(KeyExists(world.registry, kBackup));
  EXPECT_EQ(StringValue(world.registry, testing::kTransportKey, L"Name"), L"COM4:");
}

TEST_F(StackRegistryTest, AnEmptyOrForeignTransportPathIsRefused) {
  ASSERT_EQ(stack.DeactivateMsStack(L"COM4:"), 0);
  for (const wchar_t* path : {L"", L"Software\\Norvale\\Quillon", L"Software\\Microsoft\\Bluetooth\\TransportsX",
                              L"Software\\Microsoft\\Bluetooth\\Transports\\\\"}) {
    SCOPED_TRACE(platform::WideToUtf8(path));
    record.m_transportReg = path;
    EXPECT_EQ(stack.ActivateMsStack(L"COM4:", true), 126);
    EXPECT_TRUE(KeyExists(world.registry, kBackup));
    EXPECT_EQ(StringValue(world.registry, kHci, L"Name"), L"COM4:");
  }
  EXPECT_EQ(StringValue(world.registry, L"", L"Name"), L"<no value>");  // nothing was written at the root
}

TEST_F(StackRegistryTest, DeletingANestedTreeAndAMissingKey) {
  PutString(world.registry, L"Software\\Norvale\\Quillon\\a\\b\\c", L"x", L"1");
  PutString(world.registry, L"Software\\Norvale\\Quillon\\a\\d", L"x", L"1");
  EXPECT_EQ(stack.RegDeleteNode(kBackup), 0);
  EXPECT_FALSE(KeyExists(world.registry, kBackup));
  EXPECT_TRUE(KeyExists(world.registry, L"Software\\Norvale"));
  EXPECT_EQ(stack.RegDeleteNode(kBackup), 122);
}

TEST_F(StackRegistryTest, ADeletionPathLongerThanItsBufferIsRefused) {
  const std::wstring deep = std::wstring(kBackup) + L"\\" + std::wstring(250, L'a') + L"\\" + std::wstring(250, L'b');
  PutString(world.registry, deep, L"x", L"1");
  EXPECT_EQ(stack.RegDeleteNode(kBackup), 124);
  EXPECT_TRUE(world.echo.Has(L"Error :122 in CQuillonDlg::RegDelnodeRecurse"));
  EXPECT_TRUE(KeyExists(world.registry, deep));
}

TEST_F(StackRegistryTest, ASearchNeverReportsAPathItCouldNotHold) {
  const std::wstring deep = std::wstring(kTransports) + L"\\" + std::wstring(200, L'a') + L"\\" +
                            std::wstring(100, L'b');
  PutString(world.registry, testing::kTransportKey, L"Name", L"COM9:");
  PutString(world.registry, deep, L"Name", L"COM4:");
  StackRegistry::Found found;
  stack.FindRegistry(kTransports, platform::kRegSz, L"Name", L"COM4:", &found);
  EXPECT_FALSE(found.found);
}

TEST_F(StackRegistryTest, RetrievingThePortAndItsDriver) {
  std::wstring port;
  std::wstring driver;
  EXPECT_EQ(stack.RetrieveBluetoothPort(&port, &driver), 0);
  EXPECT_EQ(port, L"COM4:");
  EXPECT_EQ(driver, L"Drivers\\BuiltIn\\Serial4");
  EXPECT_EQ(host.shown.size(), 1u);
  // A name still marked by an interrupted setup names the port behind the marker.
  PutString(world.registry, kHci, L"Name", L"XXXCOM4:");
  EXPECT_EQ(stack.RetrieveBluetoothPort(&port, nullptr), 0);
  EXPECT_EQ(port, L"COM4:");
  PutString(world.registry, kHci, L"Name", L"");
  EXPECT_EQ(stack.RetrieveBluetoothPort(&port, nullptr), 103);
  world.memoryRegistry.DeleteTree(L"Drivers\\Active");
  PutString(world.registry, kHci, L"Name", L"COM4:");
  EXPECT_EQ(stack.RetrieveBluetoothPort(&port, nullptr), 102);  // 101: QuillonDialogStartUp's "no stack port"
}

TEST_F(StackRegistryTest, DriversActiveWithoutAMatchLeavesTheOutput) {
  std::wstring out = L"untouched";
  EXPECT_EQ(stack.ReadFromDriversActive(L"Name", L"COM8:", L"Key", &out, 520), 0);
  EXPECT_EQ(out, L"untouched");
  PutString(world.registry, L"Drivers\\Active\\09", L"Name", L"COM8:");
  EXPECT_EQ(stack.ReadFromDriversActive(L"Name", L"COM8:", L"Key", &out, 520), 104);
}

}  // namespace
}  // namespace quillon
