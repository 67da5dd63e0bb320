// BCCMD in HCI: the commands a message goes in, the vendor events an answer comes back in, and
// the H4 reader that takes events out of a UART's bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "psconfig/bccmd.h"
#include "psconfig/h4_port.h"
#include "psconfig/hci_bccmd.h"
#include "psconfig/message_run.h"
#include "tests/fakes/fake_platform.h"
#include "tests/fakes/recording_console.h"

namespace quillon {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Message(std::size_t size) {
  Bytes message(size);
  for (std::size_t i = 0; i < size; ++i) message[i] = static_cast<std::uint8_t>(i);
  return message;
}

// A vendor event carrying `part` of a message under `descriptor`.
Bytes VendorEvent(std::uint8_t descriptor, const Bytes& part, int lengthError = 0) {
  Bytes event{kHciVendorEvent, static_cast<std::uint8_t>(part.size() + 1 + lengthError), descriptor};
  event.insert(event.end(), part.begin(), part.end());
  return event;
}

TEST(HciBccmdTest, AMessageOver254BytesGoesInFragments) {
  // A key of 188 values: 392 bytes, two commands; a short message: one, descriptor 0xC2.
  const Bytes longMessage = Message(392);
  const auto commands = BccmdCommands(longMessage);
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ((Bytes(commands[0].begin(), commands[0].begin() + 4)), (Bytes{0x00, 0xFC, 255, 0x42}));
  EXPECT_EQ((Bytes(commands[1].begin(), commands[1].begin() + 4)), (Bytes{0x00, 0xFC, 139, 0x82}));
  Bytes joined;
  for (const auto& command : commands) joined.insert(joined.end(), command.begin() + 4, command.end());
  EXPECT_EQ(joined, longMessage);
  const auto single = BccmdCommands(Message(18));
  ASSERT_EQ(single.size(), 1u);
  EXPECT_EQ(single[0][3], 0xC2);
  EXPECT_EQ(BccmdCommands(Message(254)).size(), 1u);
  EXPECT_EQ(BccmdCommands(Message(255)).size(), 2u);
}

// Whatever is not a part of an answer is counted and never taken for one; the answer that
// follows it is still put together.
TEST(HciBccmdTest, StrayEventsAreCountedAndLeftOut) {
  const Bytes first = Message(254), last = Message(20);
  struct Case {
    std::vector<Bytes> before;  // events before the answer's own two
    HciEventCounts counts;
  };
  const Case cases[] = {
      {{}, {}},
      {{{kHciCommandComplete, 4, 1, 0x00, 0xFC, 0}}, {1, 0, 0, 0, 0}},
      {{VendorEvent(0xC3, last)}, {0, 1, 0, 0, 0}},      // another channel
      {{VendorEvent(0x82, last)}, {0, 0, 1, 0, 0}},      // a last without a first
      {{VendorEvent(0x02, last)}, {0, 0, 1, 0, 0}},      // a middle without a first
      {{VendorEvent(0x42, first)}, {0, 0, 1, 0, 0}},     // a first that never ended
      {{VendorEvent(0xC2, last, -1)}, {0, 0, 0, 1, 0}},  // longer than declared
      {{VendorEvent(0xC2, last, +1)}, {0, 0, 0, 1, 0}},  // shorter than declared
      {{VendorEvent(0x42, first), VendorEvent(0x02, first), VendorEvent(0x02, first), VendorEvent(0x02, first),
        VendorEvent(0x02, first)},
       {0, 0, 0, 0, 1}},  // past the longest message
  };
  for (const Case& c : cases) {
    BccmdEventAssembler assembler;
    Bytes message;
    int taken = 0;
    for (const Bytes& event : c.before) taken += assembler.Take(event, &message) ? 1 : 0;
    EXPECT_EQ(taken, 0);
    EXPECT_FALSE(assembler.Take(VendorEvent(0x42, first), &message));
    ASSERT_TRUE(assembler.Take(VendorEvent(0x82, last), &message));
    Bytes whole = first;
    whole.insert(whole.end(), last.begin(), last.end());
    EXPECT_EQ(message, whole);
    const HciEventCounts& counts = assembler.Counts();
    EXPECT_EQ(counts.otherEvents, c.counts.otherEvents);
    EXPECT_EQ(counts.otherChannel, c.counts.otherChannel);
    EXPECT_EQ(counts.outOfOrder, c.counts.outOfOrder);
    EXPECT_EQ(counts.badLength, c.counts.badLength);
    EXPECT_EQ(counts.tooLong, c.counts.tooLong);
  }
}

// The H4 reader: events whole, other packets and stray bytes left out and counted.
TEST(HciBccmdTest, TheH4ReaderTakesEventsOnly) {
  H4Port port(platform::Platform{}, true);
  const Bytes line{0x55,                                         // not a packet type
                   0x02, 0x01, 0x20, 0x03, 0x00, 1,    2,    3,  // ACL data of 3 bytes
                   0x04, 0x0F, 0x04, 0x00, 0x01, 0x00, 0xFC,     // Command Status
                   0x03, 0x01, 0x00, 0x01, 9,                    // SCO data of 1 byte
                   0x04, 0xFF, 0x03, 0xC2, 0xAA, 0xBB};          // a vendor event
  std::vector<Bytes> events;
  Bytes event;
  for (const std::uint8_t byte : line) {
    if (port.TakeByte(byte, &event)) events.push_back(event);
  }
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0], (Bytes{0x0F, 0x04, 0x00, 0x01, 0x00, 0xFC}));
  EXPECT_EQ(events[1], (Bytes{0xFF, 0x03, 0xC2, 0xAA, 0xBB}));
  EXPECT_EQ(port.PacketsIgnored(), 3u);
}

// A module behind HCI that answers each whole request from a script: the events it sends first
// (strays), then, unless told to keep silent, the right answer. Time passes on the manual clock
// while the run waits.
class ScriptedHci final : public platform::HciPacketPort {
 public:
  ScriptedHci(testing::ManualClock& clock, std::vector<Bytes> strays, int silentTimes)
      : clock_(clock), strays_(std::move(strays)), silentTimes_(silentTimes) {}
  platform::ErrorCode Open(std::wstring_view, std::uint32_t) override { return platform::kSuccess; }
  platform::ErrorCode SendCommand(std::span<const std::uint8_t> command) override {
    message_.insert(message_.end(), command.begin() + 4, command.end());
    if ((command[3] & kDescriptorLast) == 0) return platform::kSuccess;
    ++requests_;
    Bytes answer = message_;
    message_.clear();
    answer[0] = static_cast<std::uint8_t>(kBccmdGetResponse);
    if (answer[6] == 0x02 && answer[7] == 0x40) return platform::kSuccess;  // the warm reset
    pending_.insert(pending_.end(), strays_.begin(), strays_.end());
    if (silentTimes_-- > 0) return platform::kSuccess;
    // Another request's answer first: its sequence number one higher.
    Bytes other = answer;
    ++other[4];
    pending_.push_back(VendorEvent(0xC2, other));
    pending_.push_back(VendorEvent(0xC2, answer));
    return platform::kSuccess;
  }
  platform::InputWait NextEvent(std::vector<std::uint8_t>* event, platform::Event*, std::uint32_t timeoutMs) override {
    if (pending_.empty()) {
      clock_.Sleep(timeoutMs);
      return platform::InputWait::kTimedOut;
    }
    *event = pending_.front();
    pending_.erase(pending_.begin());
    return platform::InputWait::kInput;
  }
  std::uint32_t PacketsIgnored() const override { return 0; }
  int requests_ = 0;

 private:
  testing::ManualClock& clock_;
  std::vector<Bytes> strays_;
  int silentTimes_;
  Bytes message_;
  std::vector<Bytes> pending_;
};

// Strays before every answer leave the run as it was; a module silent for two sendings is asked
// a third time; one silent for good fails the run after three.
TEST(MessageRunTest, OnlyTheRightAnswerCompletesARequest) {
  const struct {
    int silentTimes;
    int result;
    int requests;  // whole requests the module saw
  } cases[] = {{0, kPsConfigDone, 4}, {2, kPsConfigDone, 6}, {3, kPsConfigNoAnswer, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.silentTimes);
    testing::FakePlatform fake;
    fake.files.Put(L"k.psr", "&0002 = 1234\n&0003 = 0001 0002\n");
    ScriptedHci port(fake.clock,
                     {{kHciCommandComplete, 4, 1, 0x00, 0xFC, 0},
                      VendorEvent(0xC3, Message(18)),
                      VendorEvent(0x82, Message(18))},
                     c.silentTimes);
    PsKeyList list;
    testing::RecordingConsole console;
    MessageRun run(fake.roles, list, port, console);
    EXPECT_EQ(run.Run(L"hci0", 0, L"k.psr", nullptr, nullptr, {}), c.result);
    EXPECT_EQ(port.requests_, c.requests);
    if (c.result != kPsConfigDone) continue;
    EXPECT_EQ(run.OtherSequence(), 3u);  // one per answered request
    EXPECT_EQ(run.EventCounts().otherEvents, 3u + static_cast<unsigned>(c.silentTimes));
    EXPECT_EQ(run.EventCounts().otherChannel, 3u + static_cast<unsigned>(c.silentTimes));
  }
}

}  // namespace
}  // namespace quillon
