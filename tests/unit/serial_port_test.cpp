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
  EXPECT_EQ(fake.serialScript.timeouts.writeTotalConstant, SerialPort::WriteTimeoutMs(115200));
  EXPECT_TRUE(TraceLines().empty());
}

// A write's bound leaves a full output buffer its time on the line (11 bits a byte) and
// kWriteTimeoutMs more, at every rate.
TEST_F(SerialPortTest, AWriteHasTimeForAFullBufferAtTheLinesRate) {
  const struct {
    std::uint32_t baud;
    std::uint32_t ms;
  } kCases[] = {{921600, 104}, {115200, 125}, {9600, 394}, {1200, 2447}, {0, 2816100}};
  for (const auto& c : kCases) {
    EXPECT_EQ(SerialPort::WriteTimeoutMs(c.baud), c.ms) << c.baud;
    fake.serialScript = testing::SerialScript{};
    ASSERT_EQ(port.InitialiseWindows(L"COM4:", c.baud), 0);
    EXPECT_EQ(fake.serialScript.timeouts.writeTotalConstant, c.ms) << c.baud;
  }
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

// Bytes handed over are gathered and written when a frame's closing delimiter comes, before a
// wait, on closing, and when the buffer is full; a delimiter after a full buffer still closes
// its frame. A write that takes part of what it holds loses the rest, and only that.
TEST_F(SerialPortTest, GatheredBytesAreWrittenAtAFramesEndAWaitTheCloseOrAFullBuffer) {
  using Bytes = std::vector<std::uint8_t>;
  auto frame = [](std::size_t length) {  // delimiters included
    Bytes bytes(length, 0x55);
    bytes.front() = bytes.back() = 0xC0;
    return bytes;
  };
  auto cat = [](Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
  };
  constexpr std::size_t kFull = SerialPort::kOutputBufferSize;
  const struct {
    const char* name;
    Bytes bytes;
    const char* then;  // "wait", "close" or nothing
    std::vector<std::string> calls;
    std::size_t limit = kFull;
    std::size_t refuseFrom = 0;
    std::size_t refuseTo = 0;
    std::uint64_t lost = 0;
  } kCases[] = {
      {"a frame", {0xC0, 0x01, 0xDB, 0xDC, 0x02, 0xC0}, "", {"write 6"}},
      {"two frames", cat(frame(5), frame(7)), "", {"write 5", "write 7"}},
      {"a frame cut short, then the next", {0xC0, 0x01, 0xC0, 0x02, 0xC0}, "", {"write 3", "write 2"}},
      {"a frame's start, then a wait", {0xC0, 0x01, 0x02}, "wait", {"write 3", "wait 1"}},
      {"a frame's start, then the close", {0xC0, 0x01}, "close", {"write 2", "close"}},
      {"delimiters alone close nothing", {0xC0, 0xC0}, "wait", {"write 2", "wait 1"}},
      {"a frame one byte short of the buffer", frame(kFull - 1), "", {"write 255"}},
      {"a frame that fills the buffer", frame(kFull), "", {"write 256"}},
      {"a frame one byte longer", frame(kFull + 1), "", {"write 256", "write 1"}},
      {"a long frame", frame(2 * kFull + 10), "", {"write 256", "write 256", "write 10"}},
      {"one byte a write", frame(3), "", {"write 1", "write 1", "write 1"}, 1},
      {"a write that takes part", cat(frame(6), frame(4)), "", {"write 6", "write 4"}, kFull, 2, 6, 4},
      {"a write that takes nothing", cat(frame(6), frame(4)), "", {"write 6", "write 4"}, kFull, 0, 6, 6},
  };
  for (const auto& c : kCases) {
    fake.serialScript = testing::SerialScript{};
    fake.serialScript.refuseFrom = c.refuseFrom;
    fake.serialScript.refuseTo = c.refuseTo;
    SerialPort gathering(fake.roles, c.limit);
    ASSERT_EQ(gathering.InitialiseWindows(L"COM4:", 115200), 0);
    fake.serialScript.calls.clear();
    for (std::uint8_t byte : c.bytes) gathering.PutByte(byte);
    if (std::string(c.then) == "wait") {
      EXPECT_EQ(gathering.WaitForInput(nullptr, 1), platform::InputWait::kTimedOut);
    } else if (std::string(c.then) == "close") {
      gathering.Close();
    }
    EXPECT_EQ(fake.serialScript.calls, c.calls) << c.name;
    Bytes taken = c.bytes;
    taken.erase(taken.begin() + static_cast<std::ptrdiff_t>(c.refuseFrom),
                taken.begin() + static_cast<std::ptrdiff_t>(c.refuseTo));
    EXPECT_EQ(fake.serialScript.written, taken) << c.name;
    EXPECT_EQ(gathering.BytesLost(), c.lost) << c.name;
  }
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
