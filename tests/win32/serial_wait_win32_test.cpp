// The Windows port's wait for input, on two Wine COM ports joined by a null-modem cable
// (serial_wait.sh links them): "local" is the port under test, "remote" plays the module. A wait
// that should end on an event waits up to a minute, so that a missed wake-up fails by its outcome.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>

#include "platform/win32/kernel_objects_win32.h"
#include "platform/win32/serial_win32.h"

namespace quillon::platform::win32 {
namespace {

constexpr std::uint32_t kLong = 60000;

class WaitOnNullModem : public ::testing::Test {
 protected:
  void SetUp() override {
    local = Open(L"COM11");
    remote = Open(L"COM12");
    ErrorCode error = kSuccess;
    stop = kernel.CreateManualResetEvent(L"", false, &error);
    ASSERT_TRUE(local && remote && stop);
  }

  static std::unique_ptr<SerialDevice> Open(std::wstring_view name) {
    ErrorCode error = kSuccess;
    auto device = Win32SerialDevices().Open(name, &error);
    if (!device) return nullptr;
    LineSettings line;
    line.baudRate = 115200;
    line.dataBits = 8;
    Timeouts timeouts = kReadReturnsAtOnce;
    timeouts.writeTotalConstant = 1000;
    if (device->SetLineState(line) != kSuccess || device->SetTimeouts(timeouts) != kSuccess) return nullptr;
    (void)device->Purge();  // what an earlier case left on the line
    return device;
  }

  void Send(std::string_view bytes) const {
    std::uint32_t written = 0;
    ASSERT_EQ(remote->Write({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, &written), kSuccess);
  }

  // What the local end (or `by`) reads, until `count` bytes or five seconds.
  std::string Received(std::size_t count, SerialDevice* by = nullptr) const {
    SerialDevice* reader = by != nullptr ? by : local.get();
    std::string bytes;
    for (int pass = 0; pass < 5000 && bytes.size() < count; ++pass) {
      std::uint8_t buffer[254];
      std::uint32_t got = 0;
      (void)reader->Read(buffer, &got);
      bytes.append(reinterpret_cast<const char*>(buffer), got);
      if (got == 0) Sleep(1);
    }
    return bytes;
  }

  Win32KernelObjects kernel;
  std::unique_ptr<Event> stop;
  std::unique_ptr<SerialDevice> local;
  std::unique_ptr<SerialDevice> remote;
};

TEST_F(WaitOnNullModem, AByteEndsTheWaitAndEveryByteIsReadOnceInOrder) {
  std::thread peer([this] {
    Sleep(20);
    Send("A");
  });
  EXPECT_EQ(local->WaitForInput(stop.get(), kLong), InputWait::kInput);
  peer.join();
  Send("BC");
  EXPECT_EQ(Received(3), "ABC");
  // Nothing more: a read returns at once with nothing, a short wait runs out.
  std::uint8_t byte = 0;
  std::uint32_t got = 1;
  EXPECT_EQ(local->Read({&byte, 1}, &got), kSuccess);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(local->WaitForInput(stop.get(), 1), InputWait::kTimedOut);
  // Bytes that come while that wait's read is still pending: the first is its, and leads.
  Send("XYZ");
  EXPECT_EQ(Received(3), "XYZ");
  // The run writes a frame's gathered bytes while its wait read is pending: they go out whole
  // and in order, and the answer still ends the next wait.
  EXPECT_EQ(local->WaitForInput(stop.get(), 1), InputWait::kTimedOut);
  const std::uint8_t request[] = {0xC0, 'Q', 0xDB, 0xDC, 'E', 0xC0};
  std::uint32_t written = 0;
  EXPECT_EQ(local->Write(request, &written), kSuccess);
  EXPECT_EQ(written, sizeof request);
  EXPECT_EQ(Received(sizeof request, remote.get()),
            std::string(reinterpret_cast<const char*>(request), sizeof request));
  Send("R");
  EXPECT_EQ(local->WaitForInput(stop.get(), kLong), InputWait::kInput);
  EXPECT_EQ(Received(1), "R");
}

TEST_F(WaitOnNullModem, TheStopEventEndsTheWaitAndLosesNoByte) {
  std::thread dialog([this] {
    Sleep(20);
    stop->Set();
  });
  EXPECT_EQ(local->WaitForInput(stop.get(), kLong), InputWait::kStopped);
  dialog.join();
  stop->Reset();
  EXPECT_EQ(local->WaitForInput(stop.get(), 1), InputWait::kTimedOut);
  Send("S");
  EXPECT_EQ(local->WaitForInput(stop.get(), kLong), InputWait::kInput);
  EXPECT_EQ(Received(1), "S");
}

// A purge drops what came before it, also the byte the pending read took, whether a wait has
// seen that byte yet or not; what comes after it is read. Neither a purge nor a close waits for
// the pending read.
TEST_F(WaitOnNullModem, PurgeAndCloseEndThePendingRead) {
  for (const bool waitSawTheByte : {false, true}) {
    SCOPED_TRACE(waitSawTheByte);
    EXPECT_EQ(local->WaitForInput(stop.get(), 1), InputWait::kTimedOut);
    Send("old");
    if (waitSawTheByte) {
      EXPECT_EQ(local->WaitForInput(stop.get(), kLong), InputWait::kInput);
    }
    Sleep(100);
    EXPECT_EQ(local->Purge(), kSuccess);
    EXPECT_EQ(local->WaitForInput(stop.get(), 1), InputWait::kTimedOut);
  }
  EXPECT_EQ(local->Purge(), kSuccess);
  Send("new");
  EXPECT_EQ(local->WaitForInput(stop.get(), kLong), InputWait::kInput);
  EXPECT_EQ(Received(3), "new");

  EXPECT_EQ(local->WaitForInput(stop.get(), 1), InputWait::kTimedOut);
  local.reset();
  local = Open(L"COM11");
  ASSERT_TRUE(local);
  Send("after");
  EXPECT_EQ(Received(5), "after");
}

}  // namespace
}  // namespace quillon::platform::win32
