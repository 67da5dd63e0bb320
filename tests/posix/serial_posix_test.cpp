// The serial port on a pseudo-terminal, seen from its other side.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bcsp/serial_port.h"
#include "platform/posix/clock_posix.h"
#include "platform/posix/kernel_objects_posix.h"
#include "platform/posix/serial_posix.h"
#include "platform/posix/serial_termios.h"
#include "platform/text.h"
#include "tests/fakes/fake_platform.h"
#include "tests/support/temp_device.h"
#include "tools/trace_viewer/trace_reader.h"
#include "trace/trace.h"

namespace quillon {
namespace {

// The controlling side of a pseudo-terminal; the port under test opens the other side.
class PseudoTerminal {
 public:
  PseudoTerminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(master_, 0);
    EXPECT_EQ(grantpt(master_), 0);
    EXPECT_EQ(unlockpt(master_), 0);
    path_ = ptsname(master_);
  }
  ~PseudoTerminal() { Close(); }
  // The other end goes away: the port sees a hang-up.
  void Close() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  const std::string& Path() const { return path_; }
  termios2 Settings() const {
    termios2 state{};
    EXPECT_EQ(ioctl(master_, TCGETS2, &state), 0);
    return state;
  }
  void Send(const std::vector<std::uint8_t>& bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  std::vector<std::uint8_t> Receive(std::size_t count) {
    std::vector<std::uint8_t> bytes;
    while (bytes.size() < count) {
      pollfd ready{master_, POLLIN, 0};
      if (poll(&ready, 1, 2000) <= 0) break;
      std::uint8_t buffer[64];
      const ssize_t got = read(master_, buffer, sizeof buffer);
      if (got > 0) bytes.insert(bytes.end(), buffer, buffer + got);
    }
    return bytes;
  }

 private:
  int master_ = -1;
  std::string path_;
};

class SerialOnPty : public ::testing::Test {
 protected:
  void SetUp() override {
    trace.Initialise();
    ASSERT_EQ(viewer.Attach(0, false), platform::kSuccess);
    roles.serial = &devices;
    roles.clock = &clock;
  }
  std::vector<std::wstring> TraceLines() {
    std::vector<std::wstring> lines;
    viewer.ReadAvailable([&](const tools::TraceEntry& entry) { lines.push_back(entry.text); });
    return lines;
  }
  void LinkCom(int number, const std::string& target) {
    std::filesystem::create_directories(device.Path() + "/dosdevices");
    std::filesystem::create_symlink(target, device.Path() + "/dosdevices/com" + std::to_string(number));
  }

  testing::TempDevice device;
  testing::FakePlatform fake;  // trace objects and registry
  Trace trace{fake.roles};
  platform::ProcessWide<Trace>::Scoped useTrace{trace};
  tools::TraceReader viewer{fake.roles};
  platform::posix::PosixSerialDevices devices{device.Root()};
  platform::posix::PosixClock clock;
  platform::Platform roles = fake.roles;
  PseudoTerminal pty;
};

TEST_F(SerialOnPty, TheLineIsRawAtTheAskedRate) {
  for (std::uint32_t baud : {115200u, 921600u, 1382400u, 38400u}) {
    SerialPort port(roles);
    ASSERT_EQ(port.InitialiseWindows(platform::Utf8ToWide(pty.Path()), baud), 0) << baud;
    const termios2 seen = pty.Settings();
    EXPECT_EQ(seen.c_ospeed, baud);
    EXPECT_EQ(seen.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(seen.c_cflag & (CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(seen.c_iflag & (IXON | IXOFF | INPCK | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(seen.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(seen.c_oflag & OPOST, 0u);
  }
}

TEST(SerialTermios, EvenParityOneStopBitNoFlowControl) {
  platform::LineSettings line;
  line.baudRate = 1382400;
  line.dataBits = 8;
  line.parity = platform::Parity::kEven;
  platform::posix::TermiosSettings built;
  ASSERT_EQ(platform::posix::BuildTermios(line, &built), platform::kSuccess);
  EXPECT_EQ(built.controlFlags & (PARENB | PARODD | CMSPAR), static_cast<std::uint32_t>(PARENB));
  EXPECT_EQ(built.controlFlags & CSIZE, static_cast<std::uint32_t>(CS8));
  EXPECT_EQ(built.controlFlags & (CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(built.controlFlags & CBAUD, static_cast<std::uint32_t>(BOTHER));
  EXPECT_EQ(built.inputFlags, 0u);
  EXPECT_EQ(built.localFlags, 0u);
  EXPECT_EQ(built.speed, 1382400u);
  for (auto broken : {0, 1, 2}) {
    platform::LineSettings bad = line;
    if (broken == 0) bad.baudRate = 0;
    if (broken == 1) bad.dataBits = 9;
    if (broken == 2) bad.stopBits = platform::StopBits::kOneAndHalf;
    EXPECT_EQ(platform::posix::BuildTermios(bad, &built), platform::kErrorInvalidParameter) << broken;
  }
}

TEST_F(SerialOnPty, BytesTravelBothWays) {
  SerialPort port(roles);
  LinkCom(4, pty.Path());
  ASSERT_EQ(port.InitialiseWindows(L"COM4:", 115200), 0);
  std::uint8_t byte = 0;
  EXPECT_FALSE(port.GetByte(&byte));
  // A frame goes out once its closing delimiter is handed over.
  const std::vector<std::uint8_t> frame = {0xC0, 0x00, 0xDB, 0xDC, 0x0A, 0x0D, 0xC0};
  for (std::uint8_t b : frame) port.PutByte(b);
  EXPECT_EQ(pty.Receive(frame.size()), frame);
  pty.Send({0x0D, 0x0A, 0x11, 0x13, 0xFF});
  std::vector<std::uint8_t> got;
  for (int tries = 0; tries < 2000 && got.size() < 5; ++tries) {
    if (port.GetByte(&byte)) {
      got.push_back(byte);
    } else {
      usleep(1000);
    }
  }
  EXPECT_EQ(got, (std::vector<std::uint8_t>{0x0D, 0x0A, 0x11, 0x13, 0xFF}));  // untranslated
}

// The other side takes nothing (a simulator that was stopped): once the line's buffer is full a
// write gives up after its time-out instead of holding its caller for ever.
TEST_F(SerialOnPty, AWriteThatIsNeverTakenGivesUpAfterItsTimeout) {
  platform::ErrorCode error = platform::kSuccess;
  {
    auto port = devices.Open(platform::Utf8ToWide(pty.Path()), &error);
    ASSERT_TRUE(port) << error;
    platform::LineSettings line;
    line.baudRate = 115200;
    line.dataBits = 8;
    ASSERT_EQ(port->SetLineState(line), platform::kSuccess);
    platform::Timeouts timeouts = platform::kReadReturnsAtOnce;
    timeouts.writeTotalConstant = 20;
    ASSERT_EQ(port->SetTimeouts(timeouts), platform::kSuccess);
    const std::vector<std::uint8_t> block(4096, 0x55);
    platform::ErrorCode result = platform::kSuccess;
    std::uint32_t written = 0;
    for (int i = 0; i < 4096 && result == platform::kSuccess; ++i) result = port->Write(block, &written);
    EXPECT_EQ(result, platform::kErrorTimeout);
    EXPECT_LT(written, block.size());
    timeouts.readTotalConstant = 5;
    EXPECT_EQ(port->SetTimeouts(timeouts), platform::kErrorInvalidParameter);  // reads always return at once
  }
  // The port does the same (its opening emptied the line): once the line is full, the bytes of
  // a write that cannot go out are lost, and the call returns.
  SerialPort port(roles);
  ASSERT_EQ(port.InitialiseWindows(platform::Utf8ToWide(pty.Path()), 115200), 0);
  for (int i = 0; i < 100000 && port.BytesLost() == 0; ++i) port.PutByte(0x55);
  EXPECT_GT(port.BytesLost(), 0u);
  EXPECT_LE(port.BytesLost(), SerialPort::kOutputBufferSize);
}

TEST_F(SerialOnPty, PortNamesResolveThroughTheDevicesLinks) {
  LinkCom(7, pty.Path());
  for (const wchar_t* name : {L"COM7:", L"com7", L"\\\\.\\COM7"}) {
    SerialPort port(roles);
    EXPECT_EQ(port.InitialiseWindows(name, 115200), 0) << platform::WideToUtf8(name);
  }
  // A name that leads nowhere is a missing file; the port's lines after it are its unit test's.
  SerialPort port(roles);
  for (const wchar_t* name : {L"COM8:", L"LPT1:", L"", L"COMX:"}) {
    EXPECT_EQ(port.InitialiseWindows(name, 115200), kSerialOpenFailed);
    EXPECT_EQ(TraceLines().front(), L"Cannot open com port " + std::wstring(name) + L" LastError=2");
  }
}

TEST_F(SerialOnPty, AFileThatIsNoTerminalRefusesTheLineState) {
  const std::string file = device.Path() + "/not-a-port";
  std::filesystem::create_directories(device.Path());
  { std::ofstream(file) << "x"; }
  SerialPort port(roles);
  EXPECT_EQ(port.InitialiseWindows(platform::Utf8ToWide(file), 115200), kSerialLineStateRefused);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(TraceLines().front(), L"Cannot Set Comm State baud=115200 LastError=50");
}

// A wait for input ends on what happens, never on its time-out: each case waits up to a minute,
// so that a wait that missed its wake-up fails by its outcome.
class WaitOnPty : public SerialOnPty {
 protected:
  void SetUp() override {
    SerialOnPty::SetUp();
    platform::ErrorCode error = platform::kSuccess;
    stop = kernel.CreateManualResetEvent(L"", false, &error);
    ASSERT_NE(stop, nullptr);
    ASSERT_EQ(port.InitialiseWindows(platform::Utf8ToWide(pty.Path()), 115200), 0);
  }
  static constexpr std::uint32_t kLong = 60000;
  // Runs `action` on a thread of its own after 20 ms, while the test waits.
  std::jthread Soon(const std::function<void()>& action) {
    return std::jthread([action] {
      usleep(20000);
      action();
    });
  }
  platform::posix::PosixKernelObjects kernel{device.Root().ObjectPrefix()};
  std::unique_ptr<platform::Event> stop;
  SerialPort port{roles};
};

TEST_F(WaitOnPty, AByteThatArrivesDuringTheWaitEndsIt) {
  std::jthread sender = Soon([this] { pty.Send({0x5A}); });
  EXPECT_EQ(port.WaitForInput(stop.get(), kLong), platform::InputWait::kInput);
  std::uint8_t byte = 0;
  ASSERT_TRUE(port.GetByte(&byte));
  EXPECT_EQ(byte, 0x5A);
  // Nothing more on the line: a short wait runs out.
  EXPECT_EQ(port.WaitForInput(stop.get(), 1), platform::InputWait::kTimedOut);
}

TEST_F(WaitOnPty, TheStopEventEndsTheWait) {
  std::jthread stopper = Soon([this] { stop->Set(); });
  EXPECT_EQ(port.WaitForInput(stop.get(), kLong), platform::InputWait::kStopped);
  // A reset event no longer ends a wait.
  stop->Reset();
  EXPECT_EQ(port.WaitForInput(stop.get(), 1), platform::InputWait::kTimedOut);
}

TEST_F(WaitOnPty, ANamedStopEventIsSeenAfterTheWait) {
  platform::ErrorCode error = platform::kSuccess;
  auto named = kernel.CreateManualResetEvent(L"QuillonWaitTest", true, &error);
  ASSERT_NE(named, nullptr);
  EXPECT_EQ(port.WaitForInput(named.get(), 1), platform::InputWait::kStopped);
}

// The other end has closed: the line polls ready with nothing to read. The wait must still
// last its time (a pass must not spin) and still end on the stop event.
TEST_F(WaitOnPty, AHungUpLineNeitherSpinsNorHidesTheStopEvent) {
  pty.Close();
  EXPECT_EQ(port.WaitForInput(stop.get(), 1), platform::InputWait::kTimedOut);
  std::jthread stopper = Soon([this] { stop->Set(); });
  EXPECT_EQ(port.WaitForInput(stop.get(), kLong), platform::InputWait::kStopped);
}

}  // namespace
}  // namespace quillon
