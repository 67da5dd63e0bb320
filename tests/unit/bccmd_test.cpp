#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "psconfig/psconfig.h"
#include "tests/fakes/fake_platform.h"
#include "tests/fakes/recording_console.h"
#include "tests/fakes/recording_echo.h"

namespace quillon {
namespace {

using Bytes = std::vector<std::uint8_t>;

class BccmdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    trace.SetEcho(&echo);
    ASSERT_TRUE(list.Allocate(4));
    list.count = 1;
    list.AddBuildIdRequest();
    const std::uint16_t five = 5;
    list.count = 2;
    list.AddKey(0x0001, std::span<const std::uint16_t>(&five, 1));
    const std::uint16_t three[] = {1, 2, 3};
    list.count = 3;
    list.AddKey(0x0002, three);
    list.count = 4;
    list.AddWarmReset();
  }
  Bytes Sent(const BcspPacket& packet) { return Bytes(packet.payload, packet.payload + packet.length); }

  testing::FakePlatform fake;
  Trace trace{fake.roles};
  platform::ProcessWide<Trace>::Scoped useTrace{trace};
  testing::RecordingEcho echo;
  testing::RecordingConsole console;
  SerialPort port{fake.roles};
  BcspLink link{port, fake.clock, console};
  PsKeyList list;
  PSConfig run{fake.roles, list, link, port, console};
};

TEST_F(BccmdTest, RequestsByteForByte) {
  const Bytes expected[] = {
      {0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x19, 0x28, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
      {0x02, 0x00, 0x09, 0x00, 0x02, 0x00, 0x03, 0x70, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x00},
      {0x02, 0x00, 0x0B, 0x00, 0x03, 0x00, 0x03, 0x70, 0x00, 0x00, 0x02,
       0x00, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00},
      {0x02, 0x00, 0x09, 0x00, 0x00, 0x00, 0x02, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
  };
  BcspPacket packet{};
  for (std::uint32_t i = 0; i < 4; ++i) {
    run.SendNextItem(&packet);
    EXPECT_EQ(Sent(packet), expected[i]) << i;
    EXPECT_EQ(packet.channel, 2);
    EXPECT_EQ(packet.reliable, 1);
    EXPECT_EQ(run.State(), RECEIVED_STATE);
    EXPECT_EQ(list.position, i + 1);
    EXPECT_EQ(list.allSent, i == 3);
  }
  EXPECT_EQ(run.ExpectedVarId(), 0x4002);
  const auto lines = echo.Lines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], L"WRITING DATA UNIT");
  EXPECT_EQ(lines[1], L"------------------");
  EXPECT_EQ(lines[2], L"BCCMD COMMAND SENT:");
  EXPECT_EQ(lines[3], L"00000900000019280000000000000000");
}

TEST_F(BccmdTest, TheSentHexLineShowsAtMost130Bytes) {
  std::vector<std::uint16_t> values(60, 0xABCD);
  list.count = 2;
  list.AddKey(0x0003, values);
  list.position = 1;
  BcspPacket packet{};
  run.SendNextItem(&packet);
  EXPECT_EQ(packet.length, 136);
  const auto lines = echo.Lines();
  EXPECT_EQ(lines.back().size(), 260u);
}

class ResponseTest : public BccmdTest {
 protected:
  void Deliver(std::uint8_t channel, const Bytes& bytes) {
    std::copy(bytes.begin(), bytes.end(), buffer.begin());
    packet = BcspPacket{channel, 1, 1, static_cast<std::uint16_t>(bytes.size()), buffer.data()};
    run.HandleReceived(&packet, buffer.data());
  }
  void SendFirstKey() {
    list.position = 1;
    BcspPacket sent{};
    run.SendNextItem(&sent);
    echo.Lines();
  }
  std::array<std::uint8_t, 512> buffer{};
  BcspPacket packet{};
};

TEST_F(ResponseTest, AMatchingResponseCompletesTheRequest) {
  SendFirstKey();
  Deliver(2,
          {0x01, 0x00, 0x09, 0x00, 0x02, 0x00, 0x03, 0x70, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x00});
  EXPECT_EQ(run.State(), SENT_STATE);
  EXPECT_TRUE(echo.Has(L"BCCMD COMMAND RECEIVED:"));
  EXPECT_TRUE(echo.Has(L"01 00 09 00 02 00 03 70 00 00 01 00 01 00 00 00 05 00 "));
  EXPECT_TRUE(echo.Has(L"COMMAND COMPLETE"));
  EXPECT_FALSE(run.ErrorStatusSeen());
  // Handed back: zeroed, capacity again.
  EXPECT_EQ(packet.length, 512);
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST_F(ResponseTest, AnErrorStatusCompletesTheRequestButIsRemembered) {
  SendFirstKey();
  Deliver(2,
          {0x01, 0x00, 0x09, 0x00, 0x02, 0x00, 0x03, 0x70, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x00});
  EXPECT_EQ(run.State(), SENT_STATE);
  EXPECT_TRUE(run.ErrorStatusSeen());
  EXPECT_TRUE(echo.Has(L"Key &0001 refused by the module, status 1"));
}

TEST_F(ResponseTest, AnotherVariableLeavesTheRequestOutstanding) {
  SendFirstKey();
  Deliver(2, {0x01, 0x00, 0x09, 0x00, 0x00, 0x00, 0x19, 0x28, 0x00, 0x00});
  EXPECT_EQ(run.State(), RECEIVED_STATE);
  EXPECT_TRUE(echo.Has(L"|_WARNING: COMMAND DOES NOT MATCH QUEUE"));
}

TEST_F(ResponseTest, EventsOnTheCommandChannel) {
  struct Case {
    std::uint8_t first;
    const wchar_t* line;
    const char* console;
  };
  const Case cases[] = {{5, L"DISCONNECTION COMPLETE", ""},
                        {15, nullptr, "COMMAND STATUS: "},
                        {16, L"|_WARNING: HARDWARE ERROR: ", ""},
                        {99, nullptr, ""}};
  for (const Case& c : cases) {
    Deliver(2, {c.first, 0x01});
    if (c.line != nullptr) {
      EXPECT_TRUE(echo.Has(c.line)) << int{c.first};
    }
    EXPECT_EQ(console.Take(), c.console) << int{c.first};
    EXPECT_EQ(run.State(), POLL_STATE) << int{c.first};
  }
}

TEST_F(ResponseTest, TheAllSentEventEndsTheRunOnlyBeforeTheWarmReset) {
  list.position = 2;  // two of four sent
  Deliver(5, {0x0F, 0x04, 0x00, 0x01, 0x00, 0x00});
  EXPECT_EQ(run.State(), POLL_STATE);
  list.position = 3;  // everything but the warm reset
  Deliver(5, {0x0F, 0x04, 0x00, 0x01, 0x00, 0x00});
  EXPECT_EQ(run.State(), EXIT_STATE);
  EXPECT_TRUE(echo.Has(L"...All the commands are sent"));
  run.SendNextItem(&packet);  // the warm reset is out: the event no longer ends anything
  Deliver(5, {0x0F, 0x04, 0x00, 0x01, 0x00, 0x00});
  EXPECT_EQ(run.State(), RECEIVED_STATE);
}

TEST(BccmdDecode, WhatAMessageSaysAsFarAsItCameIn) {
  struct Case {
    std::vector<std::uint8_t> bytes;
    std::uint8_t firstByte;
    bool hasVarId;
    std::uint16_t varId, status, psKey;
    std::size_t valueBytes;
  };
  const Case cases[] = {
      {{}, 0, false, 0, 0, 0, 0},
      {{0x0F, 0x04}, 0x0F, false, 0, 0, 0, 0},
      {{0x01, 0x00, 0x09, 0x00, 0x00, 0x00, 0x19, 0x28}, 1, true, 0x2819, 0, 0, 0},
      {{0x01, 0x00, 0x09, 0x00, 0x02, 0x00, 0x03, 0x70, 0x02, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x05, 0x00},
       1,
       true,
       0x7003,
       2,
       1,
       2},
      // Two values announced, one came: only the one is handed out.
      {{0x01, 0x00, 0x0A, 0x00, 0x02, 0x00, 0x03, 0x70, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x05, 0x00,
        0x06},
       1,
       true,
       0x7003,
       0,
       1,
       2},
  };
  for (const Case& c : cases) {
    const BccmdMessage message = DecodeBccmdMessage(c.bytes);
    EXPECT_EQ(message.firstByte, c.firstByte) << c.bytes.size();
    EXPECT_EQ(message.hasVarId, c.hasVarId) << c.bytes.size();
    EXPECT_EQ(message.varId, c.varId) << c.bytes.size();
    EXPECT_EQ(message.status, c.status) << c.bytes.size();
    EXPECT_EQ(message.psKey, c.psKey) << c.bytes.size();
    EXPECT_EQ(message.values.size(), c.valueBytes) << c.bytes.size();
  }
}

TEST_F(ResponseTest, TheReceivedHexLineShowsAtMost87Bytes) {
  Deliver(2, Bytes(100, 0x01));
  const auto lines = echo.Lines();
  ASSERT_EQ(lines.size(), 3u);  // received, the bytes, no match
  EXPECT_EQ(lines[1].size(), 261u);
  EXPECT_TRUE(lines[1].starts_with(L"01 01 01 "));
}

}  // namespace
}  // namespace quillon
