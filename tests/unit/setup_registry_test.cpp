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

// One start's stack registry on a handheld of its own.
struct StackWorld {
  testing::SetupWorld world;
  testing::ScriptedHost host;
  DialogRecord record{host};
  StackRegistry stack{world.registry, record};
};

class StackRegistryTest : public ::testing::Test, protected StackWorld {};

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
    StackWorld fresh;
    testing::SetupWorld& w = fresh.world;
    StackRegistry& s = fresh.stack;
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

TEST_F(StackRegistryTest, TwoTransportsWithThePortAreRefusedBeforeAnyChange) {
  PutString(world.registry, std::wstring(kTransports) + L"\\BuiltIn\\2", L"Name", L"com4:");
  const std::uint32_t changes = world.power.changes;
  EXPECT_EQ(stack.DeactivateMsStack(L"COM4:"), kTwoTransports);
  EXPECT_EQ(world.power.changes, changes);
  EXPECT_TRUE(
      world.echo.Has(L"Two transport keys name COM4:: Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1 and "
                     L"Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\2"));
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
  world.power.failCall = world.power.calls + 4;  // after the target's check
  EXPECT_EQ(stack.ActivateMsStack(L"COM4:", true), 0);
  EXPECT_TRUE(world.echo.Has(L"Error :120 in CQuillonDlg::CopyRegistryKeys"));
  EXPECT_TRUE(KeyExists(world.registry, kBackup));
  EXPECT_EQ(StringValue(world.registry, testing::kTransportKey, L"Name"), L"COM4:");
}

TEST_F(StackRegistryTest, AnEmptyOrForeignTransportPathIsRefused) {
  ASSERT_EQ(stack.DeactivateMsStack(L"COM4:"), 0);
  PutString(world.registry, std::wstring(kTransports) + L"\\BuiltIn\\2", L"Name", L"COM9:");
  for (const wchar_t* path : {L"", L"Software\\Norvale\\Quillon", L"Software\\Microsoft\\Bluetooth\\TransportsX",
                              L"Software\\Microsoft\\Bluetooth\\Transports\\\\",
                              // below the transports key, but not the one taken off the port
                              L"Software\\Microsoft\\Bluetooth\\Transports\\Typed",
                              L"Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\2"}) {
    SCOPED_TRACE(platform::WideToUtf8(path));
    record.m_transportReg = path;
    EXPECT_EQ(stack.ActivateMsStack(L"COM4:", true), 126);
    EXPECT_TRUE(KeyExists(world.registry, kBackup));
    EXPECT_EQ(StringValue(world.registry, kHci, L"Name"), L"COM4:");
  }
  EXPECT_EQ(StringValue(world.registry, L"", L"Name"), L"<no value>");  // nothing was written at the root
  EXPECT_FALSE(KeyExists(world.registry, std::wstring(kTransports) + L"\\Typed"));
  EXPECT_EQ(StringValue(world.registry, std::wstring(kTransports) + L"\\BuiltIn\\2", L"Driver"), L"<no value>");
  EXPECT_EQ(StringValue(world.registry, testing::kTransportKey, L"Name"), L"COM4:");
}

// The last run copies the backup over a transport the second run already gave back: a power cut
// at any of its changes leaves that transport working.
TEST_F(StackRegistryTest, TheLastRestoreNeverSwitchesAWorkingTransportOff) {
  for (std::uint32_t cut = 1; cut < 100; ++cut) {
    SCOPED_TRACE(cut);
    StackWorld fresh;
    testing::SetupWorld& w = fresh.world;
    StackRegistry& s = fresh.stack;
    ASSERT_EQ(s.DeactivateMsStack(L"COM4:"), 0);
    ASSERT_EQ(s.ActivateMsStack(L"COM4:", false), 0);
    w.power.cutAfter = w.power.changes + cut;
    s.ActivateMsStack(L"COM4:", true);
    const bool finished = !w.power.IsOff();
    w.power.cutAfter = 0;
    EXPECT_EQ(StringValue(w.registry, testing::kTransportKey, L"Name"), L"COM4:");
    if (finished) return;
  }
  FAIL() << "the restore never finished";
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

// Exactly at each path limit and one past it.
TEST_F(StackRegistryTest, PathLimits) {
  struct Case {
    std::size_t length;
    bool fits;
  } const cases[] = {{StackRegistry::kSearchPathChars - 1, true}, {StackRegistry::kSearchPathChars, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    StackWorld fresh;
    testing::SetupWorld& w = fresh.world;
    StackRegistry& s = fresh.stack;
    PutString(w.registry, testing::kTransportKey, L"Name", L"COM9:");
    // The relative path "\<name>" of the given length.
    PutString(w.registry, std::wstring(kTransports) + L"\\" + std::wstring(c.length - 1, L'k'), L"Name", L"COM4:");
    StackRegistry::Found found;
    s.FindRegistry(kTransports, platform::kRegSz, L"Name", L"COM4:", &found);
    EXPECT_EQ(found.found, c.fits);
  }
  const std::size_t kDelete = StackRegistry::kDeletePathChars;
  const std::wstring base = std::wstring(kBackup) + L"\\" + std::wstring(250, L'a') + L"\\";
  struct DeleteCase {
    std::wstring start;  // the path given to the deletion
    std::wstring deepest;
    int expected;
  } const deletions[] = {
      {base + std::wstring(kDelete - 1 - base.size(), L'b'), base + std::wstring(kDelete - 1 - base.size(), L'b'), 0},
      {base + std::wstring(kDelete - base.size(), L'b'), base + std::wstring(kDelete - base.size(), L'b'), 122},
      {kBackup, base + std::wstring(kDelete - 1 - base.size(), L'b'), 0},
      {kBackup, base + std::wstring(kDelete - base.size(), L'b'), 124},
  };
  for (const DeleteCase& c : deletions) {
    SCOPED_TRACE(c.deepest.size());
    PutString(world.registry, c.deepest, L"x", L"1");
    EXPECT_EQ(stack.RegDeleteNode(c.start), c.expected);
    EXPECT_EQ(KeyExists(world.registry, c.deepest), c.expected != 0);
    world.memoryRegistry.DeleteTree(kBackup);
  }
}

// A value that cannot be copied into the backup undoes the whole de-activation.
TEST_F(StackRegistryTest, AValueNotCopiedIntoTheBackupUndoesTheDeactivation) {
  for (std::uint32_t call = 1; call < 200; ++call) {
    StackWorld fresh;
    testing::SetupWorld& w = fresh.world;
    StackRegistry& s = fresh.stack;
    w.power.failCall = w.power.calls + call;
    if (s.DeactivateMsStack(L"COM4:") != kValueNotCopied) continue;
    w.power.failCall = 0;
    EXPECT_EQ(StringValue(w.registry, testing::kTransportKey, L"Name"), L"COM4:");
    EXPECT_EQ(StringValue(w.registry, kHci, L"Name"), L"COM4:");
    EXPECT_FALSE(KeyExists(w.registry, kBackup));
    return;
  }
  FAIL() << "no failed call gave 119";
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
