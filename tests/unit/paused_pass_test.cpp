// The programming run's paused passes against a scripted port and a manual clock: a pass that
// sends nothing waits on the line, and the line's silence paces the link as a sleep did.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "psconfig/psconfig.h"
#include "tests/fakes/fake_platform.h"
#include "tests/fakes/recording_console.h"
#include "trace/trace.h"

namespace quillon {
namespace {

// Sets the stop event at its `stopAtSleep`-th sleep: ends runs on a port that cannot wait, and
// any run that sleeps where it should wait, after kBackstop sleeps.
class CountingClock final : public platform::Clock {
 public:
  explicit CountingClock(testing::ManualClock& inner) : inner_(inner) {}
  std::uint32_t TickCount() override { return inner_.TickCount(); }
  void Sleep(std::uint32_t milliseconds) override {
    inner_.Sleep(milliseconds);
    ++sleeps;
    if ((sleeps == stopAtSleep || sleeps > kBackstop) && stop != nullptr) stop->Set();
  }
  static constexpr int kBackstop = 1000;
  platform::Event* stop = nullptr;
  int stopAtSleep = 0;
  int sleeps = 0;

 private:
  testing::ManualClock& inner_;
};

class PausedPass : public ::testing::Test {
 protected:
  void SetUp() override {
    roles.clock = &clock;
    platform::ErrorCode error = platform::kSuccess;
    stop = fake.kernel.CreateManualResetEvent(L"", false, &error);
    clock.stop = stop.get();
    fake.files.Put(L"keys.psr", "&0001 = 0001\n");
  }
  int Run() { return run.Run(L"COM1:", 115200, L"keys.psr", stop.get()); }
  // The waits between one frame's bytes and the next frame's, for every gap of the run.
  std::vector<int> WaitsBetweenFrames() const {
    std::vector<int> gaps;
    int waits = 0;
    bool written = false;
    for (const std::string& call : script.calls) {
      if (call.starts_with("wait ")) ++waits;
      if (call.starts_with("write ")) {
        if (written && waits != 0) gaps.push_back(waits);
        written = true;
        waits = 0;
      }
    }
    return gaps;
  }

  testing::FakePlatform fake;
  testing::SerialScript& script = fake.serialScript;
  CountingClock clock{fake.clock};
  platform::Platform roles = fake.roles;
  Trace trace{fake.roles};
  platform::ProcessWide<Trace>::Scoped useTrace{trace};
  testing::RecordingConsole console;
  PsKeyList list;
  SerialPort port{roles};
  BcspLink link{port, clock, console};
  PSConfig run{roles, list, link, port, console};
  std::unique_ptr<platform::Event> stop;
};

// A silent module: SYNC goes out every 25 passes, whether the passes wait on the line or sleep,
// and a port that can wait never makes the run sleep.
TEST_F(PausedPass, ASilentLineSpacesLinkMessagesBy25Passes) {
  constexpr int kPasses = 25 * 4 + 10;
  std::vector<std::uint8_t> writtenBy[2];
  for (const bool canWait : {true, false}) {
    SetUp();
    script = testing::SerialScript{};
    script.canWait = canWait;
    script.stopAtWait = kPasses;
    clock.stopAtSleep = canWait ? 0 : kPasses;
    clock.sleeps = 0;
    ASSERT_EQ(Run(), kPsConfigDone) << canWait;
    writtenBy[canWait] = script.written;
    EXPECT_EQ(canWait ? script.waits : clock.sleeps, kPasses) << canWait;
    // Waiting on the line, the only sleep is the port's settling pause when it opens.
    if (canWait) {
      EXPECT_EQ(fake.clock.Sleeps(), std::vector<std::uint32_t>{SerialPort::kModemLineSettleMs});
      // The first frame is sent at once, every later one after 25 paused passes.
      EXPECT_EQ(WaitsBetweenFrames(), std::vector<int>(4, 25));
    }
  }
  EXPECT_EQ(writtenBy[true], writtenBy[false]);
  const auto frames = std::count(writtenBy[true].begin(), writtenBy[true].end(), std::uint8_t{0xC0}) / 2;
  EXPECT_EQ(frames, 5);
}

// The wait ends on the byte, and the very next call takes it: no sleep comes between.
TEST_F(PausedPass, AByteThatArrivesDuringAWaitIsTakenByTheNextRead) {
  script.arrivals[3] = {0x55};
  script.stopAtWait = 10;
  ASSERT_EQ(Run(), kPsConfigDone);
  std::size_t third = 0;
  int waits = 0;
  for (std::size_t i = 0; i < script.calls.size() && waits < 3; ++i) {
    if (script.calls[i].starts_with("wait ")) {
      ++waits;
      third = i;
    }
  }
  ASSERT_EQ(waits, 3);
  ASSERT_EQ(script.deliveries.size(), 1u);
  EXPECT_EQ(script.deliveries[0], third + 1);
  EXPECT_EQ(script.calls[third], "wait 1");
  EXPECT_EQ(fake.clock.Sleeps().size(), 1u);  // the port's opening only
}

// A stop request during a wait ends the run before anything more is sent.
TEST_F(PausedPass, TheStopEventEndsTheRunFromItsWait) {
  script.stopAtWait = 7;
  ASSERT_EQ(Run(), kPsConfigDone);
  ASSERT_GE(script.calls.size(), 2u);
  EXPECT_EQ(script.calls[script.calls.size() - 2], "wait 1");
  EXPECT_EQ(script.calls.back(), "close");
  EXPECT_EQ(script.waits, 7);
}

}  // namespace
}  // namespace quillon
