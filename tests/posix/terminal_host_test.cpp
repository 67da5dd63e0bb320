// The terminal dialog host's parts that need no terminal: string resources cut to the caller's
// buffer, and window classes as locks of the device that a second start finds.
#include <gtest/gtest.h>

#include <memory>

#include "platform/posix/messages_posix.h"
#include "platform/posix/terminal_host.h"
#include "tests/support/temp_device.h"
#include "viewer/corvin_resource_table.h"

namespace quillon::platform::posix {
namespace {

class TerminalHostTest : public ::testing::Test {
 protected:
  std::unique_ptr<TerminalDialogHost> NewHost() {
    return std::make_unique<TerminalDialogHost>(viewer::CorvinResources(), device.Root().ObjectPrefix(), messages);
  }
  testing::TempDevice device;
  PosixWindowMessages messages{device.Root().ObjectPrefix()};
};

TEST_F(TerminalHostTest, StringsAreCutToTheBufferAndAlwaysTerminated) {
  const auto host = NewHost();
  wchar_t whole[101];
  EXPECT_EQ(host->LoadResourceString(1, whole), 6u);
  EXPECT_STREQ(whole, L"Corvin");
  wchar_t exact[7];
  EXPECT_EQ(host->LoadResourceString(2, exact), 6u);
  EXPECT_STREQ(exact, L"Corvin");
  wchar_t small[4];
  EXPECT_EQ(host->LoadResourceString(1, small), 3u);
  EXPECT_STREQ(small, L"Cor");
  wchar_t missing[8] = L"old";
  EXPECT_EQ(host->LoadResourceString(99, missing), 0u);
  EXPECT_STREQ(missing, L"");
  EXPECT_EQ(host->LoadResourceString(1, std::span<wchar_t>()), 0u);
}

TEST_F(TerminalHostTest, AClassRegisteredOnTheDeviceIsFoundUntilItsOwnerEnds) {
  auto first = NewHost();
  const auto second = NewHost();
  EXPECT_FALSE(second->FindAndActivate(L"Corvin"));
  ASSERT_EQ(first->RegisterWindowClass({L"Corvin", 101, true, true}), kSuccess);
  EXPECT_TRUE(second->FindAndActivate(L"Corvin"));
  EXPECT_FALSE(second->FindAndActivate(L"Other"));
  EXPECT_EQ(second->RegisterWindowClass({L"Corvin", 101, true, true}), 1410u);
  first.reset();
  EXPECT_FALSE(second->FindAndActivate(L"Corvin"));
  EXPECT_EQ(second->RegisterWindowClass({L"Corvin", 101, true, true}), kSuccess);
}

TEST_F(TerminalHostTest, AnotherDeviceHasClassesOfItsOwn) {
  const auto host = NewHost();
  ASSERT_EQ(host->RegisterWindowClass({L"Corvin", 101, true, true}), kSuccess);
  testing::TempDevice other;
  PosixWindowMessages otherMessages{other.Root().ObjectPrefix()};
  TerminalDialogHost elsewhere(viewer::CorvinResources(), other.Root().ObjectPrefix(), otherMessages);
  EXPECT_FALSE(elsewhere.FindAndActivate(L"Corvin"));
  EXPECT_EQ(elsewhere.RegisterWindowClass({L"Corvin", 101, true, true}), kSuccess);
}

}  // namespace
}  // namespace quillon::platform::posix
