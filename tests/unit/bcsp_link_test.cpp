#include "bcsp/bcsp_link.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "tests/fakes/fake_platform.h"
#include "tests/fakes/recording_console.h"
#include "trace/trace.h"

namespace quillon {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes LinkFrame(LinkMessage message) { return BcspWireFrame(kLinkHeader, kLinkMessages[message]); }
Bytes DataFrame(std::uint8_t seq, std::uint8_t ack, bool reliable, std::uint8_t channel, const Bytes& payload) {
  return BcspWireFrame(BcspEncodeHeader(seq, ack, true, reliable, channel, static_cast<std::uint16_t>(payload.size())),
                       payload);
}
Bytes AckFrame(std::uint8_t ack) { return DataFrame(0, ack, false, 0, {}); }
// A frame without CRC (the engine sends none such, but accepts them).
Bytes FrameWithoutCrc(std::uint8_t seq, std::uint8_t ack, bool reliable, std::uint8_t channel, const Bytes& payload,
                      std::uint16_t headerLength) {
  const auto header = BcspEncodeHeader(seq, ack, false, reliable, channel, headerLength);
  Bytes frame{0xC0};
  for (std::uint8_t byte : header) frame.push_back(byte);
  for (std::uint8_t byte : payload) {
    const EscapedByte escaped = BcspEscape(byte);
    frame.push_back(escaped.first);
    if (escaped.second != 0) frame.push_back(escaped.second);
  }
  frame.push_back(0xC0);
  return frame;
}
std::size_t Count(const Bytes& haystack, const Bytes& needle) {
  std::size_t found = 0;
  for (auto at = haystack.begin();
       (at = std::search(at, haystack.end(), needle.begin(), needle.end())) != haystack.end(); ++at) {
    ++found;
  }
  return found;
}

struct PollResult {
  std::uint8_t pause;
  std::uint8_t activity;
};

class LinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(port.InitialiseWindows(L"COM1:", 115200), 0);
    Script().calls.clear();
    receive.payload = receiveBuffer.data();
    receive.length = 512;
  }

  testing::SerialScript& Script() { return fake.serialScript; }
  void Feed(const Bytes& bytes) { Script().reads.push_back(bytes); }
  Bytes TakeWritten() { return std::exchange(Script().written, {}); }

  PollResult Poll() {
    PollResult result{};
    result.pause = link.Poll(&result.activity);
    return result;
  }

  // Polls until `activity` shows up (ORed over the polls); the activities seen.
  std::uint8_t PollUntil(std::uint8_t wanted, int limit = 2000) {
    std::uint8_t seen = 0;
    for (int i = 0; i < limit && (seen & wanted) != wanted; ++i) seen |= Poll().activity;
    return seen;
  }
  void PollTimes(int count) {
    for (int i = 0; i < count; ++i) Poll();
  }

  void Rearm() {
    receive.length = 512;
    link.ArmReceive(&receive);
  }

  // Brings the link up: SYNC answered, CONF answered, and the last link message sent.
  void BringUp() {
    link.Initialise();
    Rearm();
    Feed(LinkFrame(kLinkSyncResp));
    PollTimes(40);
    Feed(LinkFrame(kLinkConfResp));
    ASSERT_NE(PollUntil(TxDone) & TxDone, 0);
    ASSERT_EQ(link.State(), Active);
    PollTimes(60);  // the one link message chosen before the link became active
    TakeWritten();
    console.Take();
  }

  testing::FakePlatform fake;
  Trace trace{fake.roles};
  platform::ProcessWide<Trace>::Scoped useTrace{trace};
  SerialPort port{fake.roles};
  testing::RecordingConsole console;
  BcspLink link{port, fake.clock, console};
  std::array<std::uint8_t, 512> receiveBuffer{};
  BcspPacket receive{};
};

TEST_F(LinkTest, TheSyncFrameGoesOutOneBytePerPoll) {
  link.Initialise();
  EXPECT_EQ(console.Take(), "Hello Link Uninitialized\n");
  PollResult first = Poll();
  EXPECT_EQ(first.pause, 0);
  EXPECT_EQ(first.activity, 0);
  EXPECT_EQ(TakeWritten(), Bytes{0xC0});
  const Bytes body = {0x40, 0x41, 0x00, 0x7E, 0xDA, 0xDC, 0xED, 0xED, 0xA9, 0x7A};
  for (std::size_t i = 0; i < body.size(); ++i) {
    const PollResult result = Poll();
    const Bytes written = TakeWritten();
    if (i + 1 < body.size()) {
      EXPECT_EQ(result.pause, 0) << i;
      EXPECT_EQ(written, Bytes{body[i]}) << i;
    } else {
      EXPECT_EQ(result.pause, 25);
      EXPECT_EQ(written, (Bytes{body[i], 0xC0}));
    }
  }
}

TEST_F(LinkTest, FramesAreSpacedBy25Polls) {
  link.Initialise();
  PollTimes(11);  // one SYNC frame
  TakeWritten();
  for (int expected = 24; expected >= 0; --expected) {
    EXPECT_EQ(Poll().pause, expected);
    EXPECT_TRUE(TakeWritten().empty());
  }
  Poll();
  EXPECT_EQ(TakeWritten(), Bytes{0xC0});  // the next SYNC
}

TEST_F(LinkTest, AValidLinkFrameEndsThePauseAtOnce) {
  link.Initialise();
  Rearm();
  PollTimes(11);
  EXPECT_EQ(link.PauseCounter(), 25);
  Poll();
  Feed(LinkFrame(kLinkSyncResp));
  const PollResult result = Poll();
  EXPECT_EQ(result.pause, 0);
  EXPECT_EQ(link.State(), Initialized);
  EXPECT_EQ(console.Take(), "Hello Link Uninitialized\nRecv SYNC RESP\nLink Initialized\n");
}

TEST_F(LinkTest, ADropInAPollThatEndsAFrameIsUndoneByTheFrameEnd) {
  link.Initialise();
  Rearm();
  PollTimes(10);  // all of the SYNC frame but its last byte
  Feed(LinkFrame(kLinkSyncResp));
  EXPECT_EQ(Poll().pause, 25);  // the frame ended in this poll
}

// The pause after a frame ends early when the queued reliable packet is acknowledged, when an
// in-sequence reliable packet is delivered, or when the engine is initialised again.
class PauseDrop : public LinkTest, public ::testing::WithParamInterface<int> {};

TEST_P(PauseDrop, ThePauseEndsAtOnce) {
  BringUp();
  std::array<std::uint8_t, 1> payload = {1};
  BcspPacket packet{2, 1, 1, 1, payload.data()};
  ASSERT_TRUE(link.QueueSend(&packet));
  const Bytes frame = DataFrame(0, 0, true, 2, {1});
  auto sent = [&] {
    const Bytes& written = Script().written;
    return std::search(written.begin(), written.end(), frame.begin(), frame.end()) != written.end();
  };
  for (int i = 0; i < 200 && !sent(); ++i) Poll();
  ASSERT_TRUE(sent());  // the data frame has ended: the pause runs
  ASSERT_EQ(link.PauseCounter(), BcspLink::kFramePause);
  ASSERT_GT(Poll().pause, 0);
  switch (GetParam()) {
    case 0:
      Feed(AckFrame(1));
      break;
    case 1:
      Feed(DataFrame(0, 0, true, 2, {0x42}));
      break;
    case 2:
      link.Initialise();
      break;
  }
  EXPECT_EQ(Poll().pause, 0);
}

INSTANTIATE_TEST_SUITE_P(Causes, PauseDrop, ::testing::Values(0, 1, 2));

TEST_F(LinkTest, LinkEstablishmentInBothDirections) {
  link.Initialise();
  Rearm();
  PollTimes(11);
  EXPECT_EQ(TakeWritten(), LinkFrame(kLinkSync));
  Feed(LinkFrame(kLinkSync));  // the module's SYNC: answered with SYNC RESP after the next SYNC
  PollTimes(60);
  Bytes expected = LinkFrame(kLinkSync);
  const Bytes syncResp = LinkFrame(kLinkSyncResp);
  expected.insert(expected.end(), syncResp.begin(), syncResp.end());
  const Bytes written = TakeWritten();
  ASSERT_GE(written.size(), expected.size());
  EXPECT_EQ(Bytes(written.begin(), written.begin() + static_cast<std::ptrdiff_t>(expected.size())), expected);
  Feed(LinkFrame(kLinkSyncResp));
  PollTimes(80);
  const Bytes afterInit = TakeWritten();
  const Bytes conf = LinkFrame(kLinkConf);
  EXPECT_NE(std::search(afterInit.begin(), afterInit.end(), conf.begin(), conf.end()), afterInit.end());
  Feed(LinkFrame(kLinkConf));  // answered with CONF RESP
  Feed(LinkFrame(kLinkConfResp));
  EXPECT_NE(PollUntil(TxDone) & TxDone, 0);
  EXPECT_EQ(link.State(), Active);
  PollTimes(100);
  // Active: the engine answers each further CONF and sends no link message of its own.
  TakeWritten();
  console.Take();
  Feed(LinkFrame(kLinkConf));
  PollTimes(40);
  EXPECT_EQ(TakeWritten(), LinkFrame(kLinkConfResp));
  PollTimes(100);
  EXPECT_TRUE(TakeWritten().empty());
}

TEST_F(LinkTest, ConfBeforeSyncRespIsIgnored) {
  link.Initialise();
  Rearm();
  Feed(LinkFrame(kLinkConf));
  PollTimes(200);
  const Bytes written = TakeWritten();
  const Bytes confResp = LinkFrame(kLinkConfResp);
  EXPECT_EQ(std::search(written.begin(), written.end(), confResp.begin(), confResp.end()), written.end());
  EXPECT_EQ(link.State(), Uninitialized);
}

class AckRule : public LinkTest, public ::testing::WithParamInterface<int> {};

TEST_P(AckRule, AnyOtherAckReleasesTheQueuedPacket) {
  const auto ack = static_cast<std::uint8_t>(GetParam());
  BringUp();
  // Move the transmit sequence number to 3.
  std::array<std::uint8_t, 4> payload = {1, 2, 3, 4};
  BcspPacket packet{2, 1, 1, 4, payload.data()};
  for (std::uint8_t n = 0; n < 3; ++n) {
    ASSERT_TRUE(link.QueueSend(&packet));
    PollTimes(20);
    Feed(AckFrame(static_cast<std::uint8_t>(n + 1)));
    ASSERT_NE(PollUntil(TxDone) & TxDone, 0);
  }
  ASSERT_EQ(link.TransmitSeq(), 3);
  ASSERT_TRUE(link.QueueSend(&packet));
  PollTimes(20);
  Feed(AckFrame(ack));
  const std::uint8_t activity = PollUntil(TxDone, 30);
  if (ack == 3) {
    EXPECT_EQ(activity & TxDone, 0);
    EXPECT_EQ(link.TransmitSeq(), 3);
    link.QueueSend(nullptr);  // refused; the packet stays queued until the fixture ends
  } else {
    EXPECT_NE(activity & TxDone, 0);
    EXPECT_EQ(link.TransmitSeq(), 4);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryAck, AckRule, ::testing::Range(0, 8));

TEST_F(LinkTest, AnUnacknowledgedPacketIsSentAgain) {
  BringUp();
  std::array<std::uint8_t, 2> payload = {0xC0, 0x11};
  BcspPacket packet{2, 1, 1, 2, payload.data()};
  ASSERT_TRUE(link.QueueSend(&packet));
  PollTimes(200);
  const Bytes once = DataFrame(0, 0, true, 2, {0xC0, 0x11});
  const Bytes written = TakeWritten();
  int copies = 0;
  for (auto at = written.begin(); (at = std::search(at, written.end(), once.begin(), once.end())) != written.end();
       ++at)
    ++copies;
  EXPECT_GE(copies, 3);
  std::array<char, 32> line{};
  FormatTo(std::span<char>(line), " : %10d Send 0 Ack 0\n", static_cast<int>(fake.clock.TickCount() % 100000));
  EXPECT_NE(console.Take().find(line.data()), std::string::npos);
}

TEST_F(LinkTest, ReliableFramesAreDeliveredOnceAndAcknowledged) {
  BringUp();
  link.QueueSend(nullptr);  // refused, changes nothing
  Feed(DataFrame(0, 0, true, 2, {0x01, 0x00, 0x09}));
  const std::uint8_t activity = PollUntil(RxDone);
  EXPECT_EQ(activity & (RxDone | RxReliable), RxDone | RxReliable);
  EXPECT_EQ(receive.length, 3);
  EXPECT_EQ(receive.channel, 2);
  EXPECT_EQ(receive.reliable, 1);
  EXPECT_EQ(link.ReceiveAck(), 1);
  PollTimes(12);
  EXPECT_EQ(TakeWritten(), AckFrame(1));
  // The same frame again (the acknowledgement was lost): discarded, acknowledged again.
  Rearm();
  console.Take();
  Feed(DataFrame(0, 0, true, 2, {0x01, 0x00, 0x09}));
  EXPECT_EQ(PollUntil(RxDone, 60) & RxDone, 0);
  EXPECT_EQ(link.ReceiveAck(), 1);
  EXPECT_EQ(TakeWritten(), AckFrame(1));
  const std::string lines = console.Take();
  EXPECT_NE(lines.find("         Recv SEQ: 0 ACK 0\n"), std::string::npos) << lines;
  EXPECT_NE(lines.find(" Send ACK 1\n"), std::string::npos) << lines;
}

TEST_F(LinkTest, ACorruptFrameIsDroppedAndTheExpectedNumberRepeated) {
  BringUp();
  Bytes frame = DataFrame(0, 0, true, 2, {0x05, 0x06});
  frame[6] ^= 0x10;  // a payload byte
  Feed(frame);
  EXPECT_EQ(PollUntil(RxDone, 40) & RxDone, 0);
  EXPECT_EQ(TakeWritten(), AckFrame(0));
  EXPECT_NE(console.Take().find("\n######################## CRC Error\n"), std::string::npos);
  auto header = BcspEncodeHeader(0, 0, true, false, 2, 1);
  header[3] ^= 0x01;
  Feed(BcspWireFrame(header, Bytes{0x05}));
  PollTimes(40);
  EXPECT_NE(console.Take().find("\n######################## Header Checksum Error 40 12 00 AC\n"), std::string::npos);
}

TEST_F(LinkTest, APeerResetReleasesAPacketItsAckCovers) {
  for (const bool atSequenceZero : {false, true}) {
    BringUp();
    std::array<std::uint8_t, 1> payload = {7};
    BcspPacket packet{2, 1, 1, 1, payload.data()};
    if (!atSequenceZero) {
      for (std::uint8_t n = 0; n < 2; ++n) {
        link.QueueSend(&packet);
        PollTimes(10);
        Feed(AckFrame(static_cast<std::uint8_t>(n + 1)));
        ASSERT_NE(PollUntil(TxDone) & TxDone, 0);
      }
    }
    link.QueueSend(&packet);
    PollTimes(10);
    console.Take();
    Feed(LinkFrame(kLinkSync));
    std::uint8_t activity = 0;
    for (int i = 0; i < 40 && activity == 0; ++i) activity = Poll().activity;
    EXPECT_EQ(activity, PeerReset);
    EXPECT_EQ(link.State(), Uninitialized);
    EXPECT_EQ(console.Take(), "Recv SYNC\n\n\n\n\n\nPEER RESET\n\nHello Link Uninitialized\n");
    // Up again: a packet the SYNC did not release goes out again with sequence number 0.
    TakeWritten();
    Feed(LinkFrame(kLinkSyncResp));
    PollTimes(40);
    Feed(LinkFrame(kLinkConfResp));
    ASSERT_NE(PollUntil(TxDone) & TxDone, 0);
    PollTimes(200);
    const Bytes resent = DataFrame(0, 0, true, 2, {7});
    const Bytes written = TakeWritten();
    const bool sentAgain = std::search(written.begin(), written.end(), resent.begin(), resent.end()) != written.end();
    EXPECT_EQ(sentAgain, atSequenceZero);
  }
}

TEST_F(LinkTest, TheReceiveBufferHoldsPayloadAndCrc) {
  BringUp();
  struct Case {
    std::size_t payload;
    bool crc;
    bool delivered;
  };
  const Case cases[] = {{510, true, true}, {511, true, false}, {512, false, true}, {513, false, false}};
  for (const Case& c : cases) {
    Rearm();
    Bytes payload(c.payload, 0x42);
    Bytes frame;
    if (c.crc) {
      frame = DataFrame(0, 0, false, 3, payload);
    } else {
      frame = FrameWithoutCrc(0, 0, false, 3, payload, static_cast<std::uint16_t>(payload.size()));
    }
    Feed(frame);
    const bool delivered = (PollUntil(RxDone, 50) & RxDone) != 0;
    EXPECT_EQ(delivered, c.delivered) << c.payload;
    if (delivered) {
      EXPECT_EQ(receive.length, c.payload);
    } else {
      const std::string expected = c.crc ? "Slip Length Error (With CRC) 511,510"
                                         : "Slip Length Error (No CRC) 513,512";
      EXPECT_NE(console.Take().find(expected), std::string::npos) << c.payload;
    }
  }
}

TEST_F(LinkTest, BytesWaitInThePortWhileNoDescriptorIsArmed) {
  BringUp();
  Bytes both = DataFrame(0, 0, false, 3, {0x11});
  const Bytes second = DataFrame(0, 0, false, 3, {0x22});
  both.insert(both.end(), second.begin(), second.end());
  Feed(both);
  ASSERT_NE(PollUntil(RxDone) & RxDone, 0);
  EXPECT_EQ(receiveBuffer[0], 0x11);
  PollTimes(30);  // nothing armed: nothing read
  EXPECT_NE(port.ReadIndex(), port.FillCount());
  Rearm();
  ASSERT_NE(PollUntil(RxDone) & RxDone, 0);
  EXPECT_EQ(receiveBuffer[0], 0x22);
}

TEST_F(LinkTest, AnUnreliablePacketIsDoneWhenItsFrameEnds) {
  BringUp();
  std::array<std::uint8_t, 3> payload = {0xC0, 0xDB, 0x01};
  BcspPacket packet{4, 0, 1, 3, payload.data()};
  while (Poll().pause != 0) {
  }
  ASSERT_TRUE(link.QueueSend(&packet));
  int polls = 0;
  std::uint8_t activity = 0;
  while ((activity & TxDone) == 0 && polls < 100) {
    activity = Poll().activity;
    ++polls;
  }
  const Bytes frame = DataFrame(0, 0, false, 4, {0xC0, 0xDB, 0x01});
  EXPECT_EQ(TakeWritten(), frame);
  // One byte per poll (an escaped byte takes two); the last poll also closes the frame.
  EXPECT_EQ(polls, static_cast<int>(frame.size() - 1));
  PollTimes(200);
  EXPECT_TRUE(TakeWritten().empty());
}

TEST_F(LinkTest, AnUnreliablePacketQueuedDuringEstablishmentWaitsForTheLink) {
  link.Initialise();
  Rearm();
  std::array<std::uint8_t, 1> payload = {9};
  BcspPacket packet{4, 0, 1, 1, payload.data()};
  ASSERT_TRUE(link.QueueSend(&packet));
  EXPECT_EQ(PollUntil(TxDone, 300) & TxDone, 0);  // link frames end, the packet stays
  Feed(LinkFrame(kLinkSyncResp));
  PollTimes(40);
  Feed(LinkFrame(kLinkConfResp));
  PollUntil(TxDone);  // the link's own TxDone
  TakeWritten();
  EXPECT_NE(PollUntil(TxDone, 300) & TxDone, 0);
  const Bytes written = TakeWritten();
  const Bytes frame = DataFrame(0, 0, false, 4, {9});
  EXPECT_NE(std::search(written.begin(), written.end(), frame.begin(), frame.end()), written.end());
}

TEST_F(LinkTest, PacketsThatCannotBeFramedAreRefusedOrSentWellFormed) {
  BringUp();
  std::array<std::uint8_t, 1> byte = {0};
  BcspPacket tooLong{2, 1, 1, 4096, byte.data()};
  EXPECT_FALSE(link.QueueSend(&tooLong));
  BcspPacket noBuffer{2, 1, 1, 4, nullptr};
  EXPECT_FALSE(link.QueueSend(&noBuffer));
  BcspPacket empty{4, 0, 1, 0, nullptr};
  ASSERT_TRUE(link.QueueSend(&empty));
  EXPECT_NE(PollUntil(TxDone, 100) & TxDone, 0);  // the frame closes
  EXPECT_EQ(TakeWritten(), DataFrame(0, 0, false, 4, {}));
}

TEST_F(LinkTest, ABrokenEscapeStillEndsTheFrameAtItsDelimiter) {
  BringUp();
  Bytes broken = {0xC0, 0x40, 0x41, 0xDB, 0xC0};  // escape, then a delimiter
  const Bytes good = DataFrame(0, 0, false, 3, {0x33});
  broken.insert(broken.end(), good.begin(), good.end());
  Feed(broken);
  ASSERT_NE(PollUntil(RxDone, 60) & RxDone, 0);
  EXPECT_EQ(receiveBuffer[0], 0x33);
}

TEST_F(LinkTest, InitialiseAbandonsAHalfSentEscape) {
  BringUp();
  std::array<std::uint8_t, 1> payload = {0xC0};
  BcspPacket packet{2, 1, 1, 1, payload.data()};
  ASSERT_TRUE(link.QueueSend(&packet));
  PollTimes(6);  // delimiter, header, then 0xDB of the escaped payload byte
  link.Initialise();
  TakeWritten();
  PollTimes(11);
  EXPECT_EQ(TakeWritten(), LinkFrame(kLinkSync));  // no stray 0xDC before it
}

// A frame longer than the buffer whose header names exactly the buffer's capacity is refused, not
// delivered cut short.
TEST_F(LinkTest, AFrameLongerThanTheBufferIsRefusedWhateverItsHeaderSays) {
  BringUp();
  Rearm();
  Feed(FrameWithoutCrc(0, 0, false, 3, Bytes(513, 0x42), 512));
  EXPECT_EQ(PollUntil(RxDone, 50) & RxDone, 0);
  EXPECT_NE(console.Take().find("\n######################## Slip Length Error (No CRC) 512,512\n"), std::string::npos);
  Feed(DataFrame(0, 0, false, 3, {0x24}));  // the next frame is whole again
  ASSERT_NE(PollUntil(RxDone, 50) & RxDone, 0);
  EXPECT_EQ(receive.length, 1);
}

TEST(LinkTable, EveryStateButActiveHasAMessageToSend) {
  for (LinkState state : {Uninitialized, Initialized}) {
    for (LinkMessage request : {kLinkNone, kLinkSync, kLinkConf}) {
      EXPECT_NE(FollowingLinkMessage(state, request), kLinkNone) << int{state} << " " << int{request};
    }
  }
  EXPECT_EQ(FollowingLinkMessage(Uninitialized, kLinkConf), kLinkSync);  // a CONF is no request yet
}

// A CONF that was pending when the engine started again (a second run in the same process, or
// the module restarting before our CONF RESP went out) must not stop link establishment.
TEST_F(LinkTest, ASecondRunWithAConfPendingStartsTheLinkAgain) {
  link.Initialise();
  Rearm();
  Feed(LinkFrame(kLinkSyncResp));
  PollTimes(40);
  ASSERT_EQ(link.State(), Initialized);
  Feed(LinkFrame(kLinkConf));
  while (Script().reads.size() > 0 || port.ReadIndex() != port.FillCount()) Poll();
  link.Initialise();
  TakeWritten();
  PollTimes(200);
  EXPECT_GE(Count(TakeWritten(), LinkFrame(kLinkSync)), 3u);
}

TEST_F(LinkTest, APeerResetWithAConfPendingStartsTheLinkAgain) {
  BringUp();
  Bytes both = LinkFrame(kLinkConf);
  const Bytes sync = LinkFrame(kLinkSync);
  both.insert(both.end(), sync.begin(), sync.end());
  Feed(both);  // one read: the CONF is pending when the SYNC resets the link
  ASSERT_NE(PollUntil(PeerReset, 40) & PeerReset, 0);
  TakeWritten();
  PollTimes(200);
  EXPECT_GE(Count(TakeWritten(), LinkFrame(kLinkSync)), 3u);
}

TEST_F(LinkTest, AConfWhileUninitializedIsNoRequestEvenWhenTheLinkMovesOnAtOnce) {
  link.Initialise();
  Rearm();
  Bytes both = LinkFrame(kLinkConf);
  const Bytes syncResp = LinkFrame(kLinkSyncResp);
  both.insert(both.end(), syncResp.begin(), syncResp.end());
  Feed(both);  // one read: the CONF is handled while Uninitialized, the SYNC RESP right after
  PollTimes(200);
  ASSERT_EQ(link.State(), Initialized);
  const Bytes written = TakeWritten();
  EXPECT_EQ(Count(written, LinkFrame(kLinkConfResp)), 0u);
  EXPECT_GE(Count(written, LinkFrame(kLinkConf)), 1u);
}

TEST_F(LinkTest, AReliableFrameWithoutCrcIsDelivered) {
  BringUp();
  Feed(FrameWithoutCrc(0, 0, true, 2, {0x01, 0xC0, 0x03}, 3));
  EXPECT_EQ(PollUntil(RxDone, 50) & (RxDone | RxReliable), RxDone | RxReliable);
  EXPECT_EQ(receive.length, 3);
  EXPECT_EQ(receiveBuffer[1], 0xC0);
  EXPECT_EQ(link.ReceiveAck(), 1);
}

TEST_F(LinkTest, AnAcknowledgementWithoutCrcReleasesTheQueuedPacket) {
  BringUp();
  std::array<std::uint8_t, 1> payload = {5};
  BcspPacket packet{2, 1, 1, 1, payload.data()};
  ASSERT_TRUE(link.QueueSend(&packet));
  PollTimes(10);
  Feed(FrameWithoutCrc(0, 1, false, 0, {}, 0));
  EXPECT_NE(PollUntil(TxDone, 40) & TxDone, 0);
  EXPECT_EQ(link.TransmitSeq(), 1);
}

TEST_F(LinkTest, BothSequenceNumbersWrapAfterSeven) {
  BringUp();
  Rearm();
  std::array<std::uint8_t, 1> payload = {5};
  BcspPacket packet{2, 1, 1, 1, payload.data()};
  for (int n = 0; n < 9; ++n) {
    const auto seq = static_cast<std::uint8_t>(n % 8);
    const auto next = static_cast<std::uint8_t>((n + 1) % 8);
    // Received: seq n is delivered and moves the expected number on.
    Feed(DataFrame(seq, link.TransmitSeq(), true, 2, {static_cast<std::uint8_t>(n)}));
    ASSERT_NE(PollUntil(RxDone, 60) & RxDone, 0) << n;
    ASSERT_EQ(link.ReceiveAck(), next) << n;
    Rearm();
    // Sent: the frame carries seq n, and an acknowledgement of n + 1 moves the sequence number on.
    TakeWritten();
    ASSERT_TRUE(link.QueueSend(&packet));
    PollTimes(40);
    ASSERT_GE(Count(TakeWritten(), DataFrame(seq, next, true, 2, {5})), 1u) << n;
    Feed(AckFrame(next));
    ASSERT_NE(PollUntil(TxDone, 40) & TxDone, 0) << n;
    ASSERT_EQ(link.TransmitSeq(), next) << n;
  }
}

TEST_F(LinkTest, APacketOfTheLongestLengthIsFramed) {
  BringUp();
  Bytes payload(kBcspMaxPayload, 0x5A);
  BcspPacket packet{4, 0, 1, kBcspMaxPayload, payload.data()};
  ASSERT_TRUE(link.QueueSend(&packet));
  EXPECT_NE(PollUntil(TxDone, 5000) & TxDone, 0);
  EXPECT_EQ(TakeWritten(), DataFrame(0, 0, false, 4, payload));
}

TEST_F(LinkTest, AnAcknowledgementNeverReleasesAnUnreliablePacket) {
  BringUp();
  std::array<std::uint8_t, 4> payload = {1, 2, 3, 4};
  BcspPacket packet{4, 0, 1, 4, payload.data()};
  while (Poll().pause != 0) {
  }
  ASSERT_TRUE(link.QueueSend(&packet));
  Feed(AckFrame(3));  // read in the poll that starts the packet's frame
  const Bytes frame = DataFrame(0, 0, false, 4, {1, 2, 3, 4});
  std::uint8_t activity = 0;
  int polls = 0;
  while ((activity & TxDone) == 0 && polls < 100) {
    activity = Poll().activity;
    ++polls;
  }
  EXPECT_EQ(polls, static_cast<int>(frame.size() - 1));  // done only when its frame has ended
  EXPECT_EQ(link.TransmitSeq(), 0);
  EXPECT_EQ(TakeWritten(), frame);
}

}  // namespace
}  // namespace quillon
