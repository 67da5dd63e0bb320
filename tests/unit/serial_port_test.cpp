#include "bcsp/serial_port.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fakes/fake_platform.h"
#include "tools/trace_viewer/trace_reader.h"
#include "trace/trace.h"

namespace quillon {
namespace {

// A clock whose sleeps go into the serial script's log, so that their place among the port's
// calls shows.
class LoggingClock final : public platform::Clock {
 public:
  explicit LoggingClock(testing::SerialScript& script) : script_(script) {}
  std::uint32_t TickCount() override { return 1000; }
  void Sleep(std::uint32_t milliseconds) override { script_.calls.push_back("sleep " + std::to_string(milliseconds)); }

 private:
  testing::SerialScript& script_;
};

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    trace.Initialise();
    ASSERT_EQ(viewer.Attach(0, false), platform::kSuccess);
  }

  std::vector<std::wstring> TraceLines() {
    std::vector<std::wstring> lines;
    viewer.ReadAvailable([&](const tools::TraceEntry& entry) { lines.push_back(entry.text); });
    return lines;
  }

  testing::FakePlatform fake;
  Trace trace{fake.roles};
  platform::ProcessWide<Trace>::Scoped useTrace{trace};
  tools::TraceReader viewer{fake.roles};
  SerialPort port{fake.roles};
};

TEST_F(SerialPortTest, OpensAndSetsTheLineUpForBcsp) {
  LoggingClock clock(fake.serialScript);
  platform::Platform roles = fake.roles;
  roles.clock = &clock;
  SerialPort timed(roles);
  ASSERT_EQ(timed.InitialiseWindows(L"COM4:", 115200), 0);
  EXPECT_TRUE(timed.IsOpen());
  EXPECT_EQ(fake.serialScript.openedName, L"COM4:");
  // The lines settle for 50 ms between being cleared and the purge.
  const std::vector<std::string> expected = {"open",      "line",     "timeouts", "queues 16/16", "clear DTR",
                                             "clear RTS", "sleep 50", "purge",    "set DTR",      "set RTS"};
  EXPECT_EQ(fake.serialScript.calls, expected);
  const platform::LineSettings& line = fake.serialScript.line;
  EXPECT_EQ(line.baudRate, 115200u);
  EXPECT_EQ(line.dataBits, 8);
  EXPECT_EQ(line.parity, platform::Parity::kEven);
  EXPECT_EQ(line.stopBits, platform::StopBits::kOne);
  EXPECT_FALSE(line.ctsFlowControl || line.dsrFlowControl || line.xonXoff || line.parityCheck || line.dtrControl ||
               line.rtsControl);
  // Reads return at once; a write not taken within its bound has failed.
  EXPECT_EQ(fake.serialScript.timeouts.readInterval, 0xFFFFFFFFu);
  EXPECT_EQ(fake.serialScript.timeouts.readTotalConstant + fake.serialScript.timeouts.readTotalMultiplier +
                fake.serialScript.timeouts.writeTotalMultiplier,
            0u);
  EXPECT_EQ(fake.serialScript.timeouts.writeTotalConstant, SerialPort::kWriteTimeoutMs);
  EXPECT_TRUE(TraceLines().empty());
}

TEST_F(SerialPortTest, ModemLineAndPurgeFailuresAreNotExamined) {
  fake.serialScript.stepErrors = {{"escape", platform::kErrorNotSupported}, {"purge", platform::kErrorGenFailure}};
  EXPECT_EQ(port.InitialiseWindows(L"COM4:", 115200), 0);
  EXPECT_TRUE(port.IsOpen());
}

TEST_F(SerialPortTest, EachFailedStepHasItsCodeAndTraceLines) {
  struct Case {
    const char* step;
    std::int32_t code;
    const wchar_t* line;
  };
  const Case cases[] = {
      {"open", 201, L"Cannot open com port COM9: LastError=2"},
      {"line", 202, L"Cannot Set Comm State baud=1382400 LastError=87"},
      {"timeouts", 203, L"Cannot Set Comm Timeouts LastError=87"},
      {"queues", 204, L"Cannot SetupComm LastError=87"},
  };
  for (const Case& c : cases) {
    fake.serialScript = testing::SerialScript{};
    if (std::string(c.step) == "open") {
      fake.serialScript.openError = platform::kErrorFileNotFound;
    } else {
      fake.serialScript.stepErrors[c.step] = platform::kErrorInvalidParameter;
    }
    EXPECT_EQ(port.InitialiseWindows(L"COM9:", 1382400), c.code) << c.step;
    EXPECT_FALSE(port.IsOpen()) << c.step;
    EXPECT_EQ(fake.serialScript.openDevices, 0) << c.step;  // closed again
    const std::vector<std::wstring> expected = {c.line, L"Error :" + std::to_wstring(c.code) +
                                                            L" in PSConfig InitialiseWindows"};
    EXPECT_EQ(TraceLines(), expected) << c.step;
  }
}

TEST_F(SerialPortTest, ReadsAreServedFromTheBuffer) {
  ASSERT_EQ(port.InitialiseWindows(L"COM4:", 115200), 0);
  std::uint8_t byte = 0;
  fake.serialScript.calls.clear();
  EXPECT_FALSE(port.GetByte(&byte));  // nothing waiting: false at once
  EXPECT_EQ(port.ReadIndex(), 0);
  EXPECT_EQ(port.FillCount(), 0);

  std::vector<std::uint8_t> full(300);
  for (std::size_t i = 0; i < full.size(); ++i) full[i] = static_cast<std::uint8_t>(i);
  fake.serialScript.reads.push_back(full);
  fake.serialScript.calls.clear();
  for (int i = 0; i < 254; ++i) {
    ASSERT_TRUE(port.GetByte(&byte));
    ASSERT_EQ(byte, static_cast<std::uint8_t>(i));
  }
  // One platform read of 254 bytes served all of them.
  EXPECT_EQ(fake.serialScript.calls, std::vector<std::string>{"read 254"});
  EXPECT_EQ(port.ReadIndex(), 254);
  EXPECT_EQ(port.FillCount(), 254);
  ASSERT_TRUE(port.GetByte(&byte));  // the 255th byte needs a new read
  EXPECT_EQ(byte, 254);
  EXPECT_EQ(fake.serialScript.calls.size(), 2u);
  EXPECT_EQ(port.FillCount(), 46);
}

TEST_F(SerialPortTest, BytesAreWrittenOneAtATime) {
  ASSERT_EQ(port.InitialiseWindows(L"COM4:", 115200), 0);
  fake.serialScript.calls.clear();
  port.PutByte(0xC0);
  port.PutByte(0x00);
  EXPECT_EQ(fake.serialScript.written, (std::vector<std::uint8_t>{0xC0, 0x00}));
  EXPECT_EQ(fake.serialScript.calls, (std::vector<std::string>{"write 1", "write 1"}));
}

// Closing twice does nothing; opening again, with or without closing first, closes the previous
// handle and hands out no byte of the earlier opening.
TEST_F(SerialPortTest, CloseAndOpenAgainStartAfresh) {
  port.Close();
  EXPECT_FALSE(port.IsOpen());
  ASSERT_EQ(port.InitialiseWindows(L"COM4:", 115200), 0);
  std::uint8_t byte = 0;
  fake.serialScript.reads.push_back({1, 2, 3});
  ASSERT_TRUE(port.GetByte(&byte));
  ASSERT_EQ(port.InitialiseWindows(L"COM4:", 921600), 0);
  EXPECT_EQ(fake.serialScript.openDevices, 1);
  EXPECT_EQ(port.FillCount(), 0);
  fake.serialScript.reads.push_back({5, 6});
  ASSERT_TRUE(port.GetByte(&byte));
  port.Close();
  port.Close();
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(fake.serialScript.openDevices, 0);
  EXPECT_FALSE(port.GetByte(&byte));
  ASSERT_EQ(port.InitialiseWindows(L"COM4:", 115200), 0);
  EXPECT_EQ(port.ReadIndex(), 0);
  EXPECT_EQ(port.FillCount(), 0);
  fake.serialScript.reads.push_back({9});
  ASSERT_TRUE(port.GetByte(&byte));
  EXPECT_EQ(byte, 9);
}

}  // namespace
}  // namespace quillon
