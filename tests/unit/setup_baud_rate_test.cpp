// The baud rate a PSR file sets, read as the programming run reads the file, and its writing
// into the stack's keys.
#include <gtest/gtest.h>

#include "setup/baud_rate.h"
#include "tests/unit/setup_test_support.h"

namespace quillon {
namespace {

using testing::DwordValue;

class BaudRateTest : public ::testing::Test {
 protected:
  int Read(const std::string& content, std::int32_t* newBaud) {
    world.memoryFiles.Put(L"radio.psr", content);
    return baud.ReadBaudrateIfAnyFromPsr(L"radio.psr", newBaud);
  }
  testing::SetupWorld world;
  testing::ScriptedHost host;
  DialogRecord record{host};
  StackRegistry stack{world.registry, record};
  BaudRate baud{world.files, world.registry, record, stack};
};

TEST_F(BaudRateTest, TheRateIsTheOneTheRunSends) {
  struct Case {
    std::string file;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"&01be = 01d8\n", 115200},
      {"&01be=0ebf", 921600},  // no blanks, no line end
      {"&01be = 1d8\r\n", 115200},
      {"&0204 = 03b0\n&0191 = 01d8 0000\n", 115200},  // &0191 comes first in the module's precedence
      {"&0191 = 01d8\n&01be = 0ebf\n", 115200},       // whatever the line order
      {"&01be = 0ebf\n&01be = 03b0\n", 230400},       // one key twice: its last line
      {"&01BE = 0EBF\n", 921600},                     // upper case is the same key
      {"?01be = 075f\n", 460800},                     // the "?" form
      {"&1be = 161e\n", 1382400},                     // without leading zero
      {"&0207 = 009d\n# &01be = 0ebf\n", 38400},      // a comment is not sent
      {"&01be = 0100\n", 115200},                     // not in the table
      {"&01be = 0x9d\n", 115200},                     // the run sends 0, which is no rate
      {"&01be = 00ec\n", 57600},
      {"&0200 = 0ebf\n", 115200},  // another key
      {"", 115200},
      {"&0300 = " + std::string(600, '1') + "\n&01be = 0ebf\n", 921600},  // ALongLineNoLongerHidesTheRate
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file.substr(0, 20));
    std::int32_t newBaud = 0;
    EXPECT_EQ(Read(c.file, &newBaud), 0);
    EXPECT_EQ(newBaud, c.expected);
  }
}

TEST_F(BaudRateTest, TheTracesSayWhatWasFound) {
  std::int32_t newBaud = 0;
  Read("&01be = 0100\n", &newBaud);
  EXPECT_TRUE(world.echo.Has(L"The Baudrate (0100) needs to be updated"));
  EXPECT_TRUE(world.echo.Has(L"Unrecognized baudrate:256 (0x100)"));
  EXPECT_TRUE(world.echo.Has(L"New Baudrate:115200"));
  Read("&0100 = 0001\n", &newBaud);
  EXPECT_TRUE(world.echo.Has(L"Baudrate 115200 doesn't need to be updated"));
}

TEST_F(BaudRateTest, AFileThatCannotBeOpenedKeepsTheRate) {
  std::int32_t newBaud = 0;
  record.m_baudrate = 57600;
  EXPECT_EQ(baud.ReadBaudrateIfAnyFromPsr(L"missing.psr", &newBaud), 116);
  EXPECT_EQ(newBaud, 57600);
}

TEST_F(BaudRateTest, TheTableIsTheRateTimes4096OverAMillion) {
  for (const UartRateValue& entry : kUartRates) {
    EXPECT_EQ(entry.value, (static_cast<std::int64_t>(entry.rate) * 4096 + 500000) / 1000000);
    EXPECT_EQ(BaudRateOfValue(entry.value), static_cast<std::int32_t>(entry.rate));
  }
  EXPECT_EQ(BaudRateOfValue(0x100), 0);
}

// The HCI key and the backup get it too: SetupRunsTest.ThreeRunsAndTwoResets. The transport key's
// own value is seen only here, as the backup's copy replaces it later in a run.
TEST_F(BaudRateTest, TheNewRateGoesIntoTheMarkedTransportTheHciKeyAndTheBackup) {
  record.SetComPort(L"COM4:");
  ASSERT_EQ(stack.DeactivateMsStack(L"COM4:"), 0);
  EXPECT_EQ(baud.UpdateBaudrateIfNecessary(921600), 0);
  EXPECT_EQ(DwordValue(world.registry, testing::kTransportKey, L"baud"), 921600);
}

// The backup is copied over the transport key later: a power cut between the writes must never
// leave the backup with the older rate.
TEST_F(BaudRateTest, APowerCutBetweenTheWritesNeverLeavesTheBackupOlderThanTheTransport) {
  record.SetComPort(L"COM4:");
  ASSERT_EQ(stack.DeactivateMsStack(L"COM4:"), 0);
  const std::uint32_t before = world.power.changes;
  for (std::uint32_t cut = 1; cut <= 2; ++cut) {
    world.power.cutAfter = before + cut;
    baud.UpdateBaudrateIfNecessary(static_cast<std::int32_t>(230400 * cut));
    world.power.cutAfter = 0;
    const std::int64_t transport = DwordValue(world.registry, testing::kTransportKey, L"baud");
    const std::int64_t backup = DwordValue(world.registry, L"Software\\Norvale\\Quillon", L"baud");
    EXPECT_EQ(backup, 230400 * cut) << cut;
    EXPECT_NE(transport, 230400 * cut) << cut;
    world.power.changes = before;
  }
}

TEST_F(BaudRateTest, WithoutTheTransportsKeyTheOtherKeysAreStillWritten) {
  world.memoryRegistry.DeleteTree(L"Software\\Microsoft\\Bluetooth\\Transports");
  EXPECT_EQ(baud.UpdateBaudrateIfNecessary(57600), 105);
  EXPECT_EQ(DwordValue(world.registry, L"Software\\Microsoft\\HCI", L"baud"), 57600);
}

}  // namespace
}  // namespace quillon
