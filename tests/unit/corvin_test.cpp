// The baud-rate viewer's logic against an in-memory registry and a scripted dialog host.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "tests/fakes/memory_registry.h"
#include "tests/fakes/scripted_dialog_host.h"
#include "viewer/corvin_app.h"
#include "viewer/corvin_resource_table.h"
#include "viewer/corvin_resources.h"

namespace quillon::viewer {
namespace {

using platform::kRegDword;
using platform::kRegSz;

constexpr std::uint32_t kRegQword = 11;

std::vector<std::uint8_t> Dword(std::uint32_t value) {
  std::vector<std::uint8_t> bytes(4);
  std::memcpy(bytes.data(), &value, 4);
  return bytes;
}

class CorvinTest : public ::testing::Test {
 protected:
  void SetBaud(std::uint32_t type, const std::vector<std::uint8_t>& data) {
    std::unique_ptr<platform::RegistryKey> key;
    ASSERT_EQ(registry.CreateKey(kBuiltInTransportKey, &key), platform::kSuccess);
    ASSERT_EQ(key->SetValue(kBaudValue, type, data), platform::kSuccess);
  }
  // Starts the viewer and returns its window.
  testing::ScriptedDialogWindow& Start() {
    EXPECT_TRUE(app.StartUp());
    return *host.windows.at(0);
  }
  std::wstring Field() { return host.windows.at(0)->texts[CORVIN_BAUD_RATE_FIELD]; }

  testing::MemoryRegistry registry;
  testing::ScriptedDialogHost host{CorvinResources()};
  CorvinApp app{host, registry};
};

struct BaudCase {
  const char* name;
  std::uint32_t type;
  std::vector<std::uint8_t> data;
  std::wstring shown;
};

TEST_F(CorvinTest, ShowsTheBaudValueAsTheFieldTextOrSaysWhyNot) {
  const BaudCase cases[] = {
      {"921600", kRegDword, Dword(921600), L"921600"},
      {"zero", kRegDword, Dword(0), L"0"},
      {"top bit set", kRegDword, Dword(0x80000000u), L"2147483648"},
      {"all bits set", kRegDword, Dword(0xFFFFFFFFu), L"4294967295"},
      {"a string of four bytes", kRegSz, {'1', 0, 0, 0}, L"Invalid baud rate value"},
      {"a dword of two bytes", kRegDword, {0x00, 0xC2}, L"Invalid baud rate value"},
      {"an empty dword", kRegDword, {}, L"Invalid baud rate value"},
      {"eight bytes", kRegQword, {0, 0xC2, 1, 0, 0, 0, 0, 0}, L"Invalid baud rate value"},
  };
  testing::ScriptedDialogWindow& window = Start();
  for (const BaudCase& c : cases) {
    SCOPED_TRACE(c.name);
    window.texts[CORVIN_BAUD_RATE_FIELD] = L"before";
    SetBaud(c.type, c.data);
    EXPECT_TRUE(window.Press(CORVIN_GET_BAUD_RATE));
    EXPECT_EQ(Field(), c.shown);
  }
}

TEST_F(CorvinTest, AKeyWithoutBaudKeepsTheFieldText) {
  testing::ScriptedDialogWindow& window = Start();
  std::unique_ptr<platform::RegistryKey> key;
  ASSERT_EQ(registry.CreateKey(kBuiltInTransportKey, &key), platform::kSuccess);
  window.Press(CORVIN_GET_BAUD_RATE);
  EXPECT_EQ(Field(), L"");  // empty on the first press
  window.texts[CORVIN_BAUD_RATE_FIELD] = L"typed by hand";
  window.Press(CORVIN_GET_BAUD_RATE);
  EXPECT_EQ(Field(), L"typed by hand");
  SetBaud(kRegDword, Dword(115200));
  window.Press(CORVIN_GET_BAUD_RATE);
  EXPECT_EQ(Field(), L"115200");  // a successful press overwrites what was typed
}

TEST_F(CorvinTest, AKeyRemovedBetweenTwoPressesOrARegistryThatFailsGivesNoBluetooth) {
  testing::ScriptedDialogWindow& window = Start();
  SetBaud(kRegDword, Dword(921600));
  window.Press(CORVIN_GET_BAUD_RATE);
  EXPECT_EQ(Field(), L"921600");
  ASSERT_EQ(registry.DeleteTree(L"Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn"), platform::kSuccess);
  window.Press(CORVIN_GET_BAUD_RATE);
  EXPECT_EQ(Field(), L"No Bluetooth detected");
  SetBaud(kRegDword, Dword(921600));
  window.texts[CORVIN_BAUD_RATE_FIELD] = L"";
  registry.failures.FailOnCall(1);
  window.Press(CORVIN_GET_BAUD_RATE);
  EXPECT_EQ(Field(), L"No Bluetooth detected");
  // A registry that another program holds is not a missing stack, when the key is opened or read.
  registry.failure = platform::kErrorBusy;
  for (const std::uint32_t call : {1u, 2u}) {
    registry.failures.FailOnCall(call);
    window.Press(CORVIN_GET_BAUD_RATE);
    EXPECT_EQ(Field(), L"Registry busy, try again");
  }
}

// A registry that lets nobody write, as HKEY_LOCAL_MACHINE for a user without administrator rights.
class ReadOnlyRegistry final : public platform::Registry {
 public:
  explicit ReadOnlyRegistry(platform::Registry& inner) : inner_(inner) {}
  platform::ErrorCode OpenKey(std::wstring_view path, platform::RegistryAccess access,
                              std::unique_ptr<platform::RegistryKey>* key) override {
    if (access != platform::RegistryAccess::kRead) return platform::kErrorAccessDenied;
    return inner_.OpenKey(path, access, key);
  }
  platform::ErrorCode CreateKey(std::wstring_view, std::unique_ptr<platform::RegistryKey>*) override {
    return platform::kErrorAccessDenied;
  }
  platform::ErrorCode DeleteKey(std::wstring_view) override { return platform::kErrorAccessDenied; }
  platform::ErrorCode DeleteTree(std::wstring_view) override { return platform::kErrorAccessDenied; }

 private:
  platform::Registry& inner_;
};

TEST_F(CorvinTest, ReadsTheRateWithoutAskingToWrite) {
  SetBaud(kRegDword, Dword(57600));
  ReadOnlyRegistry readOnly(registry);
  testing::ScriptedDialogHost otherHost{CorvinResources()};
  CorvinApp viewer(otherHost, readOnly);
  ASSERT_TRUE(viewer.StartUp());
  otherHost.windows.at(0)->Press(CORVIN_GET_BAUD_RATE);
  EXPECT_EQ(otherHost.windows.at(0)->texts[CORVIN_BAUD_RATE_FIELD], L"57600");
}

TEST_F(CorvinTest, StartUpShowsDialog129OfTheClassItRegisters) {
  testing::ScriptedDialogWindow& window = Start();
  EXPECT_EQ(host.commonControls, 1);
  EXPECT_EQ(host.searched, std::vector<std::wstring>{L"Corvin"});
  EXPECT_EQ(host.registered, std::vector<std::wstring>{L"Corvin"});
  EXPECT_EQ(host.registeredIcon, CORVIN_ICON);
  EXPECT_TRUE(window.shown);
  EXPECT_EQ(window.texts[CORVIN_BAUD_RATE_FIELD], L"");
}

// Formerly ASecondStartBringsTheFirstToTheFrontAndEnds and EndsWithoutAWindowWhenTheClassCannotBeRegistered.
TEST_F(CorvinTest, EndsWithoutAWindowWhenAnotherRunsOrItsClassCannotBeRegistered) {
  host.runningClass = L"Corvin";  // the first one is brought to the front
  EXPECT_FALSE(app.StartUp());
  EXPECT_TRUE(host.registered.empty());
  EXPECT_EQ(RunCorvin(host, registry), 0);
  host.runningClass.clear();
  host.registerResult = 1410;
  EXPECT_FALSE(app.StartUp());
  EXPECT_TRUE(host.windows.empty());
}

TEST_F(CorvinTest, QuitDestroysTheWindowAndEndsTheLoopWithZero) {
  host.pressesInLoop = {CORVIN_QUIT};
  EXPECT_EQ(RunCorvin(host, registry), 0);
  EXPECT_TRUE(host.windows.at(0)->destroyed);
}

TEST_F(CorvinTest, TheCloseRequestQuitsAsTheQuitButtonDoes) {
  testing::ScriptedDialogWindow& window = Start();
  ASSERT_TRUE(window.Post(platform::kCloseMessage, 0, 0));
  EXPECT_EQ(window.DeliverPosted(), 1);
  EXPECT_TRUE(window.destroyed);
  EXPECT_EQ(window.quitCode, 0);
}

TEST_F(CorvinTest, OtherCommandsAreNotHandled) {
  testing::ScriptedDialogWindow& window = Start();
  EXPECT_FALSE(window.Press(CORVIN_BAUD_RATE_FIELD));
  EXPECT_FALSE(window.Press(3));
  EXPECT_FALSE(window.destroyed);
  EXPECT_EQ(window.quitCode, -1);
}

}  // namespace
}  // namespace quillon::viewer
