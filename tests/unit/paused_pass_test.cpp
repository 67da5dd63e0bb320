// The programming run's paused passes against a scripted port and a manual clock: a pass that
// sends nothing waits on the line, and the line's silence paces the link as a sleep did.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <map>
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
  int Run() {
    script.stop = stop.get();
    return run.Run(L"COM1:", 115200, L"keys.psr", stop.get());
  }
  // The waits between one frame's closing delimiter and the next frame's opening one (0 for
  // frames back to back); with `timedOut`, only the waits that brought nothing (the time the
  // port waited in full).
  std::vector<int> WaitsBetweenFrames(bool timedOut = false) const {
    std::vector<int> gaps;
    int waits = 0;
    std::size_t byte = 0;
    bool inFrame = false;
    for (std::size_t i = 0; i < script.calls.size(); ++i) {
      const std::string& call = script.calls[i];
      const bool brought = std::find(script.deliveries.begin(), script.deliveries.end(), i + 1) !=
                           script.deliveries.end();
      if (call.starts_with("wait ") && !(timedOut && brought)) ++waits;
      if (!call.starts_with("write ")) continue;
      for (std::size_t end = byte + std::stoul(call.substr(6)); byte < end; ++byte) {
        const bool delimiter = script.written[byte] == 0xC0;
        if (delimiter && !inFrame && byte > 0) gaps.push_back(waits);
        if (delimiter) inFrame = !inFrame;
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

std::vector<std::uint8_t> LinkReply(LinkMessage message) { return BcspWireFrame(kLinkHeader, kLinkMessages[message]); }

std::vector<std::uint8_t> operator+(std::vector<std::uint8_t> first, const std::vector<std::uint8_t>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

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
    }
  }
  EXPECT_EQ(writtenBy[true], writtenBy[false]);
  const auto frames = std::count(writtenBy[true].begin(), writtenBy[true].end(), std::uint8_t{0xC0}) / 2;
  EXPECT_EQ(frames, 5);
}

// Waits between one frame and the next on a line that then falls silent: repeats (SYNC before
// the link is up, the request's re-sends after) keep 25 waits apart; frames the module has not
// had yet (the SYNC left over once Active, the request's first sending) go without waiting.
TEST_F(PausedPass, OnlyRepeatsWaitOutThePause) {
  const struct {
    const char* name;
    std::vector<std::uint8_t> duringFirstWait;
    std::vector<int> waitsBetweenFrames;
  } kCases[] = {
      {"no answer", {}, {25, 25, 25}},
      {"link up at once", LinkReply(kLinkSyncResp) + LinkReply(kLinkConfResp), {1, 0, 25, 25, 25}},
  };
  for (const auto& c : kCases) {
    SetUp();
    script = testing::SerialScript{};
    if (!c.duringFirstWait.empty()) script.arrivals[1] = c.duringFirstWait;
    script.stopAtWait = 1 + 25 * 3 + 10;
    ASSERT_EQ(Run(), kPsConfigDone) << c.name;
    EXPECT_EQ(WaitsBetweenFrames(), c.waitsBetweenFrames) << c.name;
  }
}

// Bytes that trickle in during the pause, completing no frame, are taken as they come but do
// not shorten it: a frame still waits 25 full time-outs of the port after the last. A pass that
// is brought a byte in every wait still ends when its millisecond has passed.
TEST_F(PausedPass, BytesThatCompleteNothingDoNotShortenThePause) {
  const struct {
    const char* name;
    std::vector<std::uint8_t> bytes;
    int everyNthWait;
  } kCases[] = {
      {"stray bytes", {0x55}, 2},
      {"a frame's start, over and over", {0xC0, 0x40}, 2},
      {"a byte in every wait, each wait a millisecond", {0x55}, 1},
  };
  for (const auto& c : kCases) {
    SetUp();
    script = testing::SerialScript{};
    const bool everyWait = c.everyNthWait == 1;
    if (everyWait) script.clock = &fake.clock;
    for (int wait = 1; wait <= 200; wait += c.everyNthWait) script.arrivals[wait] = c.bytes;
    script.stopAtWait = 200;
    ASSERT_EQ(Run(), kPsConfigDone) << c.name;
    // With a byte in every wait, every wait is a pass of its own.
    const std::vector<int> gaps = WaitsBetweenFrames(!everyWait);
    ASSERT_GE(gaps.size(), 2u) << c.name;
    EXPECT_EQ(std::vector<int>(gaps.begin(), gaps.begin() + 2), (std::vector<int>{25, 25})) << c.name;
  }
}

// What arrives during a paused pass is read in that pass's wait. A reply that ends the pause lets
// the very next call send; stray bytes that complete nothing leave the pass waiting on.
TEST_F(PausedPass, WhatArrivesDuringAWaitIsTakenInIt) {
  const struct {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::string callAfterTheRead;
  } kCases[] = {
      {"a SYNC RESP", LinkReply(kLinkSyncResp), "write "},
      {"stray bytes", {0x55, 0x55}, "wait 1"},
  };
  for (const auto& c : kCases) {
    SetUp();
    script = testing::SerialScript{};
    script.arrivals[3] = c.bytes;
    script.stopAtWait = 10;
    const std::size_t sleepsBefore = fake.clock.Sleeps().size();
    ASSERT_EQ(Run(), kPsConfigDone) << c.name;
    ASSERT_EQ(script.deliveries.size(), 1u) << c.name;
    const std::size_t read = script.deliveries[0];
    EXPECT_EQ(script.calls[read - 1], "wait 1") << c.name;
    const auto next = std::find_if(script.calls.begin() + static_cast<std::ptrdiff_t>(read) + 1, script.calls.end(),
                                   [](const std::string& call) { return !call.starts_with("read "); });
    ASSERT_NE(next, script.calls.end()) << c.name;
    EXPECT_TRUE(next->starts_with(c.callAfterTheRead)) << c.name << ": " << *next;
    EXPECT_EQ(fake.clock.Sleeps().size(), sleepsBefore + 1) << c.name;  // the port's opening only
  }
}

// A stop request during a wait ends the run before anything more is sent, also in a wait that
// goes on after the pass took stray bytes.
TEST_F(PausedPass, TheStopEventEndsTheRunFromItsWait) {
  const struct {
    const char* name;
    std::map<int, std::vector<std::uint8_t>> arrivals;
  } kCases[] = {
      {"a silent line", {}},
      {"after stray bytes", {{6, {0x55}}}},
  };
  for (const auto& c : kCases) {
    SetUp();
    script = testing::SerialScript{};
    script.arrivals = c.arrivals;
    script.stopAtWait = 7;
    ASSERT_EQ(Run(), kPsConfigDone) << c.name;
    ASSERT_GE(script.calls.size(), 2u) << c.name;
    EXPECT_EQ(script.calls[script.calls.size() - 2], "wait 1") << c.name;
    EXPECT_EQ(script.calls.back(), "close") << c.name;
    EXPECT_EQ(script.waits, 7) << c.name;
  }
}

}  // namespace
}  // namespace quillon
