#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unit/simulated_run.h"

namespace quillon {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Bytes written as hexadecimal pairs, blanks between them allowed.
Bytes Hex(std::string_view text) {
  Bytes bytes;
  for (std::size_t at = 0; at + 1 < text.size(); ++at) {
    if (text[at] == ' ') continue;
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(std::string(text.substr(at, 2)), nullptr, 16)));
    ++at;
  }
  return bytes;
}

// A run on the fake platform, its list holding the build identifier, keys 1 (one value) and 2
// (three values) and the warm reset; no module on the line: the tests hand it what it receives.
class BccmdTest : public ::testing::Test, public testing::SimulatedRun {
 protected:
  void SetUp() override {
    Connect();
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
};

TEST_F(BccmdTest, RequestsByteForByte) {
  const Bytes expected[] = {
      Hex("0000 0900 0000 1928 0000 0000 0000 0000"),
      Hex("0200 0900 0200 0370 0000 0100 0100 0000 0500"),
      Hex("0200 0B00 0300 0370 0000 0200 0300 0000 0100 0200 0300"),
      Hex("0200 0900 0000 0240 0000 0000 0000 0000"),
  };
  BcspPacket packet{};
  for (std::uint32_t i = 0; i < 4; ++i) {
    run->SendNextItem(&packet);
    EXPECT_EQ(Sent(packet), expected[i]) << i;
    EXPECT_EQ(packet.channel, 2);
    EXPECT_EQ(packet.reliable, 1);
    EXPECT_EQ(run->State(), RECEIVED_STATE);
    EXPECT_EQ(list.position, i + 1);
    EXPECT_EQ(list.allSent, i == 3);
  }
  EXPECT_EQ(run->ExpectedVarId(), 0x4002);
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
  run->SendNextItem(&packet);
  EXPECT_EQ(packet.length, 136);
  const auto lines = echo.Lines();
  EXPECT_EQ(lines.back().size(), 260u);
}

class ResponseTest : public BccmdTest {
 protected:
  void Deliver(std::uint8_t channel, const Bytes& bytes) {
    std::copy(bytes.begin(), bytes.end(), buffer.begin());
    packet = BcspPacket{channel, 1, 1, static_cast<std::uint16_t>(bytes.size()), buffer.data()};
    run->HandleReceived(&packet, buffer.data());
  }
  void SendFirstKey() {
    list.position = 1;
    BcspPacket sent{};
    run->SendNextItem(&sent);
    echo.Lines();
  }
  std::array<std::uint8_t, 512> buffer{};
  BcspPacket packet{};
};

TEST_F(ResponseTest, AMatchingResponseCompletesTheRequest) {
  SendFirstKey();
  Deliver(2, Hex("0100 0900 0200 0370 0000 0100 0100 0000 0500"));
  EXPECT_EQ(run->State(), SENT_STATE);
  EXPECT_TRUE(echo.Has(L"BCCMD COMMAND RECEIVED:"));
  EXPECT_TRUE(echo.Has(L"01 00 09 00 02 00 03 70 00 00 01 00 01 00 00 00 05 00 "));
  EXPECT_TRUE(echo.Has(L"COMMAND COMPLETE"));
  EXPECT_FALSE(run->ErrorStatusSeen());
  // Handed back: zeroed, capacity again.
  EXPECT_EQ(packet.length, 512);
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST_F(ResponseTest, AnErrorStatusCompletesTheRequestButIsRemembered) {
  SendFirstKey();
  Deliver(2, Hex("0100 0900 0200 0370 0100 0100 0100 0000 0500"));
  EXPECT_EQ(run->State(), SENT_STATE);
  EXPECT_TRUE(run->ErrorStatusSeen());
  EXPECT_TRUE(echo.Has(L"Key &0001 refused by the module, status 1"));
}

TEST_F(ResponseTest, AnotherVariableLeavesTheRequestOutstanding) {
  SendFirstKey();
  Deliver(2, Hex("0100 0900 0000 1928 0000"));
  EXPECT_EQ(run->State(), RECEIVED_STATE);
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
    EXPECT_EQ(run->State(), POLL_STATE) << int{c.first};
  }
}

TEST_F(ResponseTest, TheAllSentEventEndsTheRunOnlyBeforeTheWarmReset) {
  list.position = 2;  // two of four sent
  Deliver(5, Hex("0F04 0001 0000"));
  EXPECT_EQ(run->State(), POLL_STATE);
  list.position = 3;  // everything but the warm reset
  Deliver(5, Hex("0F04 0001 0000"));
  EXPECT_EQ(run->State(), EXIT_STATE);
  EXPECT_TRUE(echo.Has(L"...All the commands are sent"));
  run->SendNextItem(&packet);  // the warm reset is out: the event no longer ends anything
  Deliver(5, Hex("0F04 0001 0000"));
  EXPECT_EQ(run->State(), RECEIVED_STATE);
}

TEST(BccmdDecode, WhatAMessageSaysAsFarAsItCameIn) {
  struct Case {
    Bytes bytes;
    std::uint8_t firstByte;
    bool hasVarId;
    std::uint16_t varId, status, psKey;
    std::size_t valueBytes;
  };
  const Case cases[] = {
      {Hex(""), 0, false, 0, 0, 0, 0},
      {Hex("0F04"), 0x0F, false, 0, 0, 0, 0},
      {Hex("0100 0900 0000 1928"), 1, true, 0x2819, 0, 0, 0},
      {Hex("0100 0900 0200 0370 0200 0100 0100 0000 0500"), 1, true, 0x7003, 2, 1, 2},
      // Two values announced, one came: only the one is handed out.
      {Hex("0100 0A00 0200 0370 0000 0100 0200 0000 0500 06"), 1, true, 0x7003, 0, 1, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes.size());
    const BccmdMessage message = DecodeBccmdMessage(c.bytes);
    EXPECT_EQ(message.firstByte, c.firstByte);
    EXPECT_EQ(message.hasVarId, c.hasVarId);
    EXPECT_EQ(message.varId, c.varId);
    EXPECT_EQ(message.status, c.status);
    EXPECT_EQ(message.psKey, c.psKey);
    EXPECT_EQ(message.values.size(), c.valueBytes);
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
