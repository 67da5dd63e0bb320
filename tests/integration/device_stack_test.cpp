// The emulated Bluetooth stack against the module simulator program on a pseudo-terminal.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/posix/clock_posix.h"
#include "platform/posix/registry_file.h"
#include "platform/posix/serial_posix.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_device.h"
#include "tools/quillon_device/bluetooth_stack.h"
#include "tools/quillon_device/device_layout.h"

namespace quillon::device {
namespace {

class DeviceStack : public ::testing::Test {
 protected:
  void SetUp() override {
    modsim_ = std::make_unique<testing::ChildProcess>(QUILLON_MODSIM,
                                                      std::vector<std::string>{"--link", "4", "--baud", "921600"},
                                                      std::vector<std::string>{device_.Environment()});
    ASSERT_TRUE(modsim_->WaitFor("linked as COM4:"));
    ASSERT_EQ(WriteRegistryValues(registry_, FreshDeviceRegistry(4)), platform::kSuccess);
  }

  void SetTransportBaud(std::uint32_t baud) {
    ASSERT_EQ(WriteRegistryValues(registry_,
                                  {{kBuiltInTransportKey, L"baud", platform::kRegDword, DwordValueData(baud)}}),
              platform::kSuccess);
  }

  std::unique_ptr<BluetoothStack> Boot() {
    lines_.clear();
    return BluetoothStack::Boot({registry_, serial_, clock_}, 1500,
                                [this](const std::string& line) { lines_.push_back(line); });
  }

  std::uint32_t CachedBaud() {
    std::unique_ptr<platform::RegistryKey> key;
    std::uint8_t data[4] = {};
    std::uint32_t type = 0;
    std::size_t length = 0;
    if (registry_.OpenKey(L"Software\\Microsoft\\Bluetooth\\Hci", platform::RegistryAccess::kRead, &key) != 0 ||
        key->QueryValue(L"baud", &type, data, &length) != 0) {
      return 0;
    }
    return data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<std::uint32_t>(data[3]) << 24);
  }

  testing::TempDevice device_;
  platform::posix::RegistryFile registry_{device_.Root()};
  platform::posix::PosixSerialDevices serial_{device_.Root()};
  platform::posix::PosixClock clock_;
  std::unique_ptr<testing::ChildProcess> modsim_;
  std::vector<std::string> lines_;
};

TEST_F(DeviceStack, ComesUpAtTheModulesRateAndHoldsThePort) {
  SetTransportBaud(921600);
  auto stack = Boot();
  ASSERT_FALSE(lines_.empty());
  EXPECT_EQ(lines_.back(), "stack: HCI cache baud now 921600");
  EXPECT_NE(std::find(lines_.begin(), lines_.end(), "stack up on COM4: at 921600"), lines_.end());
  EXPECT_TRUE(stack->Up());
  EXPECT_EQ(CachedBaud(), 921600u);

  platform::ErrorCode error = platform::kSuccess;
  EXPECT_EQ(serial_.Open(L"COM4:", &error), nullptr) << "the stack keeps the port";
  EXPECT_EQ(error, platform::kErrorAccessDenied);
  stack.reset();
  EXPECT_NE(serial_.Open(L"COM4:", &error), nullptr) << "and lets it go at the next boot";
}

TEST_F(DeviceStack, CannotReachTheModuleAtAnotherRateAndLetsThePortGo) {
  SetTransportBaud(115200);
  auto stack = Boot();
  ASSERT_FALSE(lines_.empty());
  EXPECT_EQ(lines_.back(), "stack cannot reach the module at 115200");
  EXPECT_FALSE(stack->Up());
  EXPECT_EQ(CachedBaud(), 115200u) << "a stack that is not up notes nothing";
  platform::ErrorCode error = platform::kSuccess;
  EXPECT_NE(serial_.Open(L"COM4:", &error), nullptr);
}

TEST_F(DeviceStack, SaysSoWhenThePortIsTaken) {
  SetTransportBaud(921600);
  platform::ErrorCode error = platform::kSuccess;
  auto holder = serial_.Open(L"COM4:", &error);
  ASSERT_NE(holder, nullptr);
  auto stack = Boot();
  EXPECT_FALSE(stack->Up());
  EXPECT_EQ(lines_.back(), "stack cannot open COM4: (error 5)");
}

}  // namespace
}  // namespace quillon::device
