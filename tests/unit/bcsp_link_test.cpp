#include "bcsp/bcsp_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <list>
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

Bytes Cat(Bytes first, const Bytes& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
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
  // The number of polls up to and including the one that reports TxDone.
  int PollsUntilTxDone() {
    int polls = 0;
    for (std::uint8_t activity = 0; (activity & TxDone) == 0 && polls < 100; ++polls) activity = Poll().activity;
    return polls;
  }

  void Rearm() {
    receive.length = 512;
    link.ArmReceive(&receive);
  }

  // A packet to send; its payload lives as long as the fixture, wherever the link keeps it.
  BcspPacket& Packet(std::uint8_t channel, bool reliable, Bytes payload) {
    Bytes& kept = payloads.emplace_back(std::move(payload));
    return packets.emplace_back(BcspPacket{channel, static_cast<std::uint8_t>(reliable), 1,
                                           static_cast<std::uint16_t>(kept.size()), kept.data()});
  }

  // After Initialise: SYNC answered, CONF answered, and the link's own TxDone seen.
  void Establish() {
    Feed(LinkFrame(kLinkSyncResp));
    PollTimes(40);
    Feed(LinkFrame(kLinkConfResp));
    ASSERT_NE(PollUntil(TxDone) & TxDone, 0);
  }

  // Brings the link up: SYNC answered, CONF answered, and the last link message sent.
  // After Initialise: the SYNC answered, our CONF not yet.
  void ReachInitialized() {
    link.Initialise();
    Rearm();
    Feed(LinkFrame(kLinkSyncResp));
    PollTimes(40);
    ASSERT_EQ(link.State(), Initialized);
  }

  void BringUp() {
    link.Initialise();
    Rearm();
    Establish();
    ASSERT_EQ(link.State(), Active);
    PollTimes(60);  // the one link message chosen before the link became active
    TakeWritten();
    console.Take();
  }

  // Sends an acknowledgement of each of `count` reliable packets, moving the sequence number on.
  void SendAcknowledged(int count) {
    BcspPacket& packet = Packet(2, true, {1, 2, 3, 4});
    for (int n = 1; n <= count; ++n) {
      ASSERT_TRUE(link.QueueSend(&packet));
      PollTimes(20);
      Feed(AckFrame(static_cast<std::uint8_t>(link.TransmitSeq() + 1)));
      ASSERT_NE(PollUntil(TxDone) & TxDone, 0);
    }
  }

  testing::FakePlatform fake;
  Trace trace{fake.roles};
  platform::ProcessWide<Trace>::Scoped useTrace{trace};
  // Each byte goes to the line as its poll hands it over, so that the line shows every poll's.
  SerialPort port{fake.roles, 1};
  testing::RecordingConsole console;
  BcspLink link{port, fake.clock, console};
  std::array<std::uint8_t, 512> receiveBuffer{};
  BcspPacket receive{};
  std::list<Bytes> payloads;
  std::list<BcspPacket> packets;
};

TEST_F(LinkTest, TheSyncFrameGoesOutOneBytePerPollAndFramesAreSpacedBy25Polls) {
  link.Initialise();
  EXPECT_EQ(console.Take(), "Hello Link Uninitialized\n");
  const Bytes sync = LinkFrame(kLinkSync);
  for (std::size_t k = 0; k + 1 < sync.size(); ++k) {
    const bool last = k + 2 == sync.size();  // the last body byte goes out with the closing delimiter
    const PollResult result = Poll();
    EXPECT_EQ(result.pause, last ? 25 : 0) << k;
    EXPECT_EQ(result.activity, 0) << k;
    EXPECT_EQ(TakeWritten(), Bytes(sync.begin() + k, sync.begin() + k + (last ? 2 : 1))) << k;
  }
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
  EXPECT_EQ(Poll().pause, 0);
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
  ASSERT_TRUE(link.QueueSend(&Packet(2, true, {1})));
  const Bytes frame = DataFrame(0, 0, true, 2, {1});
  for (int i = 0; i < 200 && Count(Script().written, frame) == 0; ++i) Poll();
  ASSERT_EQ(Count(Script().written, frame), 1u);  // the data frame has ended: the pause runs
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

// A peer that answered two buffered SYNCs sends two SYNC RESPs, then two CONF RESPs for our two
// CONFs; the second comes after the link is up. Such a left-over answer asks nothing of us: the
// request sent meanwhile goes again only when its acknowledgement is missing after the pause.
TEST_F(LinkTest, ALateLinkAnswerDoesNotBringAResendForward) {
  for (const LinkMessage late : {kLinkConfResp, kLinkSyncResp}) {
    SCOPED_TRACE(static_cast<int>(late));
    link.Initialise();
    Rearm();
    Feed(Cat(LinkFrame(kLinkSyncResp), LinkFrame(kLinkSyncResp)));
    PollTimes(40);
    Feed(LinkFrame(kLinkConfResp));
    ASSERT_NE(PollUntil(TxDone) & TxDone, 0);
    PollTimes(60);
    TakeWritten();
    ASSERT_TRUE(link.QueueSend(&Packet(2, true, {0x00, 0x00, 0x09})));
    const Bytes frame = DataFrame(0, 0, true, 2, {0x00, 0x00, 0x09});
    for (int i = 0; i < 200 && Count(Script().written, frame) == 0; ++i) Poll();
    ASSERT_EQ(Count(Script().written, frame), 1u);
    Feed(LinkFrame(late));
    EXPECT_GT(Poll().pause, 0);
    PollTimes(BcspLink::kFramePause - 2);
    EXPECT_EQ(Count(TakeWritten(), frame), 1u) << "sent again before the pause ran out";
    PollTimes(40);
    EXPECT_EQ(Count(TakeWritten(), frame), 1u);  // the re-send after the pause
    ASSERT_EQ(link.State(), Active);
  }
}

TEST_F(LinkTest, LinkEstablishmentInBothDirections) {
  link.Initialise();
  Rearm();
  PollTimes(11);
  EXPECT_EQ(TakeWritten(), LinkFrame(kLinkSync));
  Feed(LinkFrame(kLinkSync));  // the module's SYNC: answered with SYNC RESP after the next SYNC
  PollTimes(60);
  const Bytes expected = Cat(LinkFrame(kLinkSync), LinkFrame(kLinkSyncResp));
  const Bytes written = TakeWritten();
  ASSERT_GE(written.size(), expected.size());
  EXPECT_EQ(Bytes(written.begin(), written.begin() + static_cast<std::ptrdiff_t>(expected.size())), expected);
  Feed(LinkFrame(kLinkSyncResp));
  PollTimes(80);
  EXPECT_GE(Count(TakeWritten(), LinkFrame(kLinkConf)), 1u);
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

// The peer is not up until it has our CONF RESP: one cut off by the peer's own CONF RESP (which
// makes the link Active and abandons the frame on its way) is sent again, whole.
TEST_F(LinkTest, ACutOffConfRespIsSentAgain) {
  ReachInitialized();
  Feed(LinkFrame(kLinkConf));
  const Bytes confResp = LinkFrame(kLinkConfResp);
  // Enough of the frame to tell it from every other link message.
  const Bytes start(confResp.begin(), confResp.end() - 3);
  Bytes written(start.size(), 0);
  for (int i = 0; i < 200 && !std::equal(start.rbegin(), start.rend(), written.rbegin()); ++i) {
    Poll();
    const Bytes more = TakeWritten();
    written.insert(written.end(), more.begin(), more.end());
  }
  ASSERT_TRUE(std::equal(start.rbegin(), start.rend(), written.rbegin())) << "no CONF RESP under way";
  Feed(LinkFrame(kLinkConfResp));
  ASSERT_NE(PollUntil(TxDone) & TxDone, 0);
  PollTimes(100);
  EXPECT_EQ(Count(TakeWritten(), confResp), 1u);
}

// A CONF that comes while Uninitialized is no request, even when the SYNC RESP follows at once.
TEST_F(LinkTest, AConfWhileUninitializedIsNoRequest) {
  struct Case {
    const char* name;
    Bytes wire;
    LinkState state;
  };
  const Case cases[] = {
      {"ConfBeforeSyncRespIsIgnored", LinkFrame(kLinkConf), Uninitialized},
      {"AConfWhileUninitializedIsNoRequestEvenWhenTheLinkMovesOnAtOnce",
       Cat(LinkFrame(kLinkConf), LinkFrame(kLinkSyncResp)), Initialized},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    link.Initialise();
    Rearm();
    TakeWritten();
    Feed(c.wire);  // one read
    PollTimes(200);
    ASSERT_EQ(link.State(), c.state);
    const Bytes written = TakeWritten();
    EXPECT_EQ(Count(written, LinkFrame(kLinkConfResp)), 0u);
    EXPECT_EQ(Count(written, LinkFrame(kLinkConf)) >= 1, c.state == Initialized);
  }
}

class AckRule : public LinkTest, public ::testing::WithParamInterface<int> {};

TEST_P(AckRule, AnyOtherAckReleasesTheQueuedPacket) {
  const auto ack = static_cast<std::uint8_t>(GetParam());
  BringUp();
  SendAcknowledged(3);
  ASSERT_EQ(link.TransmitSeq(), 3);
  ASSERT_TRUE(link.QueueSend(&packets.back()));
  PollTimes(20);
  Feed(AckFrame(ack));
  const std::uint8_t activity = PollUntil(TxDone, 30);
  EXPECT_EQ((activity & TxDone) != 0, ack != 3);
  EXPECT_EQ(link.TransmitSeq(), ack == 3 ? 3 : 4);
  if (ack == 3) link.QueueSend(nullptr);  // refused; the packet stays queued until the fixture ends
}

INSTANTIATE_TEST_SUITE_P(EveryAck, AckRule, ::testing::Range(0, 8));

TEST_F(LinkTest, AnUnacknowledgedPacketIsSentAgain) {
  BringUp();
  ASSERT_TRUE(link.QueueSend(&Packet(2, true, {0xC0, 0x11})));
  PollTimes(200);
  EXPECT_GE(Count(TakeWritten(), DataFrame(0, 0, true, 2, {0xC0, 0x11})), 3u);
  std::array<char, 32> line{};
  FormatTo(std::span<char>(line), " : %10d Send 0 Ack 0\n", static_cast<int>(fake.clock.TickCount() % 100000));
  EXPECT_NE(console.Take().find(line.data()), std::string::npos);
}

TEST_F(LinkTest, ReliableFramesAreDeliveredOnceAndAcknowledged) {
  BringUp();
  link.QueueSend(nullptr);  // refused, changes nothing
  Feed(DataFrame(0, 0, true, 2, {0x01, 0x00, 0x09}));
  EXPECT_EQ(PollUntil(RxDone) & (RxDone | RxReliable), RxDone | RxReliable);
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
    SCOPED_TRACE(atSequenceZero);
    BringUp();
    if (!atSequenceZero) SendAcknowledged(2);
    link.QueueSend(&Packet(2, true, {7}));
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
    Establish();
    PollTimes(200);
    EXPECT_EQ(Count(TakeWritten(), DataFrame(0, 0, true, 2, {7})) != 0, atSequenceZero);
  }
}

// The buffer holds payload and CRC; a frame longer than the buffer is refused, never delivered cut
// short, even when its header names exactly the buffer's capacity. The frame after it is whole.
TEST_F(LinkTest, TheReceiveBufferHoldsPayloadAndCrc) {
  BringUp();
  struct Case {
    std::size_t payload;
    std::uint16_t headerLength;
    bool crc;
    bool delivered;
    const char* line;
  };
  const Case cases[] = {{510, 510, true, true, ""},
                        {511, 511, true, false, "Slip Length Error (With CRC) 511,510"},
                        {512, 512, false, true, ""},
                        // AFrameLongerThanTheBufferIsRefusedWhateverItsHeaderSays, and the next frame is whole
                        {513, 512, false, false, "\n######################## Slip Length Error (No CRC) 512,512\n"},
                        {1, 1, true, true, ""},
                        {513, 513, false, false, "Slip Length Error (No CRC) 513,512"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.payload);
    Rearm();
    const Bytes payload(c.payload, 0x42);
    Feed(c.crc ? DataFrame(0, 0, false, 3, payload) : FrameWithoutCrc(0, 0, false, 3, payload, c.headerLength));
    const bool delivered = (PollUntil(RxDone, 50) & RxDone) != 0;
    EXPECT_EQ(delivered, c.delivered);
    if (delivered) {
      EXPECT_EQ(receive.length, c.payload);
    } else {
      EXPECT_NE(console.Take().find(c.line), std::string::npos);
    }
  }
}

TEST_F(LinkTest, BytesWaitInThePortWhileNoDescriptorIsArmed) {
  BringUp();
  Feed(Cat(DataFrame(0, 0, false, 3, {0x11}), DataFrame(0, 0, false, 3, {0x22})));
  ASSERT_NE(PollUntil(RxDone) & RxDone, 0);
  EXPECT_EQ(receiveBuffer[0], 0x11);
  PollTimes(30);  // nothing armed: nothing read
  EXPECT_NE(port.ReadIndex(), port.FillCount());
  Rearm();
  ASSERT_NE(PollUntil(RxDone) & RxDone, 0);
  EXPECT_EQ(receiveBuffer[0], 0x22);
}

// An unreliable packet is done when its frame ends, never before, whatever acknowledgement comes.
TEST_F(LinkTest, AnUnreliablePacketIsDoneWhenItsFrameEnds) {
  struct Case {
    const char* name;
    Bytes payload;
    bool ackDuringFrame;
  };
  const Case cases[] = {{"AnUnreliablePacketIsDoneWhenItsFrameEnds", {0xC0, 0xDB, 0x01}, false},
                        {"AnAcknowledgementNeverReleasesAnUnreliablePacket", {1, 2, 3, 4}, true}};
  BringUp();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    while (Poll().pause != 0) {
    }
    ASSERT_TRUE(link.QueueSend(&Packet(4, false, c.payload)));
    if (c.ackDuringFrame) Feed(AckFrame(3));  // read in the poll that starts the packet's frame
    const Bytes frame = DataFrame(0, 0, false, 4, c.payload);
    // One byte per poll (an escaped byte takes two); the last poll also closes the frame.
    EXPECT_EQ(PollsUntilTxDone(), static_cast<int>(frame.size() - 1));
    EXPECT_EQ(link.TransmitSeq(), 0);
    EXPECT_EQ(TakeWritten(), frame);
    PollTimes(200);
    EXPECT_TRUE(TakeWritten().empty());
  }
}

TEST_F(LinkTest, AnUnreliablePacketQueuedDuringEstablishmentWaitsForTheLink) {
  link.Initialise();
  Rearm();
  ASSERT_TRUE(link.QueueSend(&Packet(4, false, {9})));
  EXPECT_EQ(PollUntil(TxDone, 300) & TxDone, 0);  // link frames end, the packet stays
  Establish();
  TakeWritten();
  EXPECT_NE(PollUntil(TxDone, 300) & TxDone, 0);
  EXPECT_EQ(Count(TakeWritten(), DataFrame(0, 0, false, 4, {9})), 1u);
}

TEST_F(LinkTest, PacketsAreFramedUpToTheLongestLengthAndRefusedBeyondIt) {
  BringUp();
  std::array<std::uint8_t, 1> byte = {0};
  BcspPacket tooLong{2, 1, 1, static_cast<std::uint16_t>(kBcspMaxPayload + 1), byte.data()};
  EXPECT_FALSE(link.QueueSend(&tooLong));
  BcspPacket noBuffer{2, 1, 1, 4, nullptr};
  EXPECT_FALSE(link.QueueSend(&noBuffer));
  BcspPacket empty{4, 0, 1, 0, nullptr};
  ASSERT_TRUE(link.QueueSend(&empty));
  EXPECT_NE(PollUntil(TxDone, 100) & TxDone, 0);  // the frame closes
  EXPECT_EQ(TakeWritten(), DataFrame(0, 0, false, 4, {}));
  const Bytes longest(kBcspMaxPayload, 0x5A);
  ASSERT_TRUE(link.QueueSend(&Packet(4, false, longest)));
  EXPECT_NE(PollUntil(TxDone, 5000) & TxDone, 0);
  EXPECT_EQ(TakeWritten(), DataFrame(0, 0, false, 4, longest));
}

TEST_F(LinkTest, ABrokenEscapeStillEndsTheFrameAtItsDelimiter) {
  BringUp();
  Feed(Cat({0xC0, 0x40, 0x41, 0xDB, 0xC0}, DataFrame(0, 0, false, 3, {0x33})));  // escape, then a delimiter
  ASSERT_NE(PollUntil(RxDone, 60) & RxDone, 0);
  EXPECT_EQ(receiveBuffer[0], 0x33);
}

TEST_F(LinkTest, InitialiseAbandonsAHalfSentEscape) {
  BringUp();
  ASSERT_TRUE(link.QueueSend(&Packet(2, true, {0xC0})));
  PollTimes(6);  // delimiter, header, then 0xDB of the escaped payload byte
  link.Initialise();
  TakeWritten();
  PollTimes(11);
  EXPECT_EQ(TakeWritten(), LinkFrame(kLinkSync));  // no stray 0xDC before it
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
TEST_F(LinkTest, ASecondRunOrAPeerResetWithAConfPendingStartsTheLinkAgain) {
  for (const bool peerReset : {false, true}) {
    SCOPED_TRACE(peerReset ? "APeerResetWithAConfPendingStartsTheLinkAgain"
                           : "ASecondRunWithAConfPendingStartsTheLinkAgain");
    if (peerReset) {
      BringUp();
      Feed(Cat(LinkFrame(kLinkConf), LinkFrame(kLinkSync)));  // one read: the CONF is pending at the reset
      ASSERT_NE(PollUntil(PeerReset, 40) & PeerReset, 0);
    } else {
      ReachInitialized();
      Feed(LinkFrame(kLinkConf));
      while (Script().reads.size() > 0 || port.ReadIndex() != port.FillCount()) Poll();
      link.Initialise();
    }
    TakeWritten();
    PollTimes(200);
    EXPECT_GE(Count(TakeWritten(), LinkFrame(kLinkSync)), 3u);
  }
}

// Frames without CRC (the engine sends none such) are taken as well.
TEST_F(LinkTest, FramesWithoutCrcAreTaken) {
  BringUp();
  Feed(FrameWithoutCrc(0, 0, true, 2, {0x01, 0xC0, 0x03}, 3));  // AReliableFrameWithoutCrcIsDelivered
  EXPECT_EQ(PollUntil(RxDone, 50) & (RxDone | RxReliable), RxDone | RxReliable);
  EXPECT_EQ(receive.length, 3);
  EXPECT_EQ(receiveBuffer[1], 0xC0);
  EXPECT_EQ(link.ReceiveAck(), 1);
  Rearm();
  ASSERT_TRUE(link.QueueSend(&Packet(2, true, {5})));  // AnAcknowledgementWithoutCrcReleasesTheQueuedPacket
  PollTimes(10);
  Feed(FrameWithoutCrc(0, 1, false, 0, {}, 0));
  EXPECT_NE(PollUntil(TxDone, 40) & TxDone, 0);
  EXPECT_EQ(link.TransmitSeq(), 1);
}

TEST_F(LinkTest, BothSequenceNumbersWrapAfterSeven) {
  BringUp();
  Rearm();
  BcspPacket& packet = Packet(2, true, {5});
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

}  // namespace
}  // namespace quillon
