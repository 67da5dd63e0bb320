#include "bcsp/bcsp_codec.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

namespace quillon {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string Line(std::size_t (*describe)(const FrameCheck&, std::span<char>), const FrameCheck& check) {
  std::array<char, 128> line{};
  return std::string(line.data(), describe(check, line));
}

TEST(BcspCodec, HeaderFieldsAndChecksum) {
  EXPECT_TRUE(BcspHeaderValid({0x40, 0x41, 0x00, 0x7E}));
  EXPECT_FALSE(BcspHeaderValid({0x40, 0x41, 0x00, 0x7F}));
  const BcspHeader header = BcspDecodeHeader(BcspEncodeHeader(5, 3, true, true, 2, 0xABC));
  EXPECT_EQ(header.seq, 5);
  EXPECT_EQ(header.ack, 3);
  EXPECT_TRUE(header.crcPresent);
  EXPECT_TRUE(header.reliable);
  EXPECT_EQ(header.channel, 2);
  EXPECT_EQ(header.length, 0xABC);
  EXPECT_EQ(BcspEncodeHeader(0, 0, true, false, 1, 4), (BcspHeaderBytes{0x40, 0x41, 0x00, 0x7E}));
}

TEST(BcspCodec, CrcCheckValue) {
  std::uint16_t crc = BcspCrcStart();
  for (char c : std::string("123456789")) crc = BcspCrcUpdate(crc, static_cast<std::uint8_t>(c));
  EXPECT_EQ(crc, 0x6F91);
  EXPECT_EQ(BcspCrcFinish(crc), 0x89F6);
}

TEST(BcspCodec, FramesOnTheWire) {
  struct Case {
    const char* name;
    BcspHeaderBytes header;
    std::span<const std::uint8_t> payload;
    Bytes wire;
  };
  const Case cases[] = {
      {"SYNC",
       kLinkHeader,
       kLinkMessages[kLinkSync],
       {0xC0, 0x40, 0x41, 0x00, 0x7E, 0xDA, 0xDC, 0xED, 0xED, 0xA9, 0x7A, 0xC0}},
      {"SYNC RESP",
       kLinkHeader,
       kLinkMessages[kLinkSyncResp],
       {0xC0, 0x40, 0x41, 0x00, 0x7E, 0xAC, 0xAF, 0xEF, 0xEE, 0xBB, 0x84, 0xC0}},
      {"CONF",
       kLinkHeader,
       kLinkMessages[kLinkConf],
       {0xC0, 0x40, 0x41, 0x00, 0x7E, 0xAD, 0xEF, 0xAC, 0xED, 0xA1, 0xA6, 0xC0}},
      {"CONF RESP",
       kLinkHeader,
       kLinkMessages[kLinkConfResp],
       {0xC0, 0x40, 0x41, 0x00, 0x7E, 0xDE, 0xAD, 0xD0, 0xD0, 0x83, 0x58, 0xC0}},
      {"ack 0", BcspEncodeHeader(0, 0, true, false, 0, 0), {}, {0xC0, 0x40, 0x00, 0x00, 0xBF, 0x57, 0x1A, 0xC0}},
      {"ack 1", BcspEncodeHeader(0, 1, true, false, 0, 0), {}, {0xC0, 0x48, 0x00, 0x00, 0xB7, 0x5E, 0x8C, 0xC0}},
      {"ack 7", BcspEncodeHeader(0, 7, true, false, 0, 0), {}, {0xC0, 0x78, 0x00, 0x00, 0x87, 0xD0, 0x32, 0xC0}},
  };
  for (const Case& c : cases) EXPECT_EQ(BcspWireFrame(c.header, c.payload), c.wire) << c.name;
}

TEST(BcspCodec, LinkMessagesMatchOnTheirFirstFourBytes) {
  EXPECT_EQ(BcspMatchLinkMessage(Bytes{0xDA, 0xDC, 0xED, 0xED}), kLinkSync);
  EXPECT_EQ(BcspMatchLinkMessage(Bytes{0xDE, 0xAD, 0xD0, 0xD0, 0x99}), kLinkConfResp);
  EXPECT_EQ(BcspMatchLinkMessage(Bytes{0xDA, 0xDC, 0xED}), kLinkNone);
  EXPECT_EQ(BcspMatchLinkMessage(Bytes{0xDA, 0xDC, 0xED, 0xEE}), kLinkNone);
}

TEST(BcspCodec, BodyChecksAndTheirLines) {
  auto frameBody = [](bool crc, std::uint16_t length, std::size_t stored) {
    const auto header = BcspEncodeHeader(0, 0, crc, false, 2, length);
    Bytes body(length, 0x55);
    if (crc) {
      std::uint16_t value = BcspCrcStart();
      for (std::uint8_t b : header) value = BcspCrcUpdate(value, b);
      for (std::uint8_t b : body) value = BcspCrcUpdate(value, b);
      value = BcspCrcFinish(value);
      body.push_back(static_cast<std::uint8_t>(value >> 8));
      body.push_back(static_cast<std::uint8_t>(value & 0xFF));
    }
    body.resize(stored, 0x55);
    return std::make_pair(header, body);
  };
  struct Case {
    const char* what;
    bool crc;
    std::uint16_t length;
    std::size_t stored;
    bool cutShort;  // the body held what the header names, but more arrived and was dropped
    FrameVerdict verdict;
    const char* line;
  };
  const Case cases[] = {
      {"with CRC, length 3 and 5 bytes", true, 3, 5, false, FrameVerdict::kGood, ""},
      {"with CRC, length 3 and 6 bytes", true, 3, 6, false, FrameVerdict::kLengthWithCrc,
       "\n######################## Slip Length Error (With CRC) 3,4\n"},
      {"with CRC, one byte short", true, 3, 4, false, FrameVerdict::kLengthWithCrc,
       "\n######################## Slip Length Error (With CRC) 3,2\n"},
      {"without CRC, count equals length", false, 7, 7, false, FrameVerdict::kGood, ""},
      {"without CRC, count differs", false, 7, 9, false, FrameVerdict::kLengthNoCrc,
       "\n######################## Slip Length Error (No CRC) 7,9\n"},
      {"ABodyCutShortFailsTheLengthCheckWhateverItsHeaderSays", false, 4, 4, true, FrameVerdict::kLengthNoCrc,
       "\n######################## Slip Length Error (No CRC) 4,4\n"},
      {"ABodyCutShortFailsTheLengthCheck, with CRC", true, 2, 4, true, FrameVerdict::kLengthWithCrc,
       "\n######################## Slip Length Error (With CRC) 2,2\n"},
  };
  for (const Case& c : cases) {
    const auto [header, body] = frameBody(c.crc, c.length, c.stored);
    const FrameCheck check = BcspCheckBody(header, body, c.cutShort);
    EXPECT_EQ(check.verdict, c.verdict) << c.what;
    EXPECT_EQ(Line(BcspCheckLine, check), c.line) << c.what;
  }
  auto [header, body] = frameBody(true, 3, 5);
  body[4] ^= 0x01;
  const FrameCheck broken = BcspCheckBody(header, body);
  EXPECT_EQ(broken.verdict, FrameVerdict::kCrcError);
  EXPECT_EQ(Line(BcspCheckLine, broken), "\n######################## CRC Error\n");
  std::array<char, 96> line{};
  const std::size_t length = BcspHeaderChecksumLine({0x01, 0x02, 0xAB, 0x0C}, line);
  EXPECT_EQ(std::string(line.data(), length), "\n######################## Header Checksum Error 01 02 AB 0C\n");
}

// The deframer, one named case each. Body buffers sit inside a larger vector whose spare bytes
// must stay untouched.
struct Deframed {
  std::vector<BcspDeframed> frames;
  std::vector<Bytes> bodies;
  std::vector<BcspHeaderBytes> headers;
};

Deframed Deframe(BcspDeframer& deframer, const Bytes& wire, std::size_t capacity) {
  Deframed out;
  Bytes storage(capacity + 8, 0xEE);
  BcspHeaderBytes header{};
  for (std::uint8_t byte : wire) {
    const BcspDeframed step = deframer.Push(byte, header, std::span<std::uint8_t>(storage.data(), capacity));
    if (!step.frame) continue;
    out.frames.push_back(step);
    out.headers.push_back(header);
    out.bodies.emplace_back(storage.begin(), storage.begin() + static_cast<std::ptrdiff_t>(step.stored));
  }
  for (std::size_t i = capacity; i < storage.size(); ++i)
    EXPECT_EQ(storage[i], 0xEE) << "written past the body at " << i;
  return out;
}

Deframed Deframe(const Bytes& wire, std::size_t capacity = 16) {
  BcspDeframer deframer;
  return Deframe(deframer, wire, capacity);
}

TEST(BcspDeframer, FramesFromTheWire) {
  struct Frame {
    BcspHeaderBytes header;
    Bytes body;
    bool cutShort;
  };
  struct Case {
    const char* what;
    Bytes wire;
    std::size_t capacity;
    std::vector<Frame> frames;
  };
  const Case cases[] = {
      {"a link frame",
       BcspWireFrame(kLinkHeader, kLinkMessages[kLinkSync]),
       16,
       {{kLinkHeader, {0xDA, 0xDC, 0xED, 0xED, 0xA9, 0x7A}, false}}},
      {"escapes in header and body",
       {0xC0, 0xDB, 0xDC, 0x01, 0xDB, 0xDD, 0x02, 0xDB, 0xDD, 0x03, 0xDB, 0xDC, 0xC0},
       16,
       {{{0xC0, 0x01, 0xDB, 0x02}, {0xDB, 0x03, 0xC0}, false}}},
      {"an escape before the delimiter is dropped",
       {0xC0, 1, 2, 3, 4, 5, 0xDB, 0xC0, 6, 7, 8, 9, 0xC0},
       16,
       {{{1, 2, 3, 4}, {5}, false}, {{6, 7, 8, 9}, {}, false}}},
      {"a bad escape keeps the byte as it came",
       {0xC0, 1, 2, 3, 4, 0xDB, 0x41, 0x42, 0xC0},
       16,
       {{{1, 2, 3, 4}, {0x41, 0x42}, false}}},
      {"adjacent delimiters", {0xC0, 0xC0, 0xC0}, 16, {}},
      {"shorter than a header", {0xC0, 1, 2, 3, 0xC0}, 16, {}},
      {"a header alone", {0xC0, 1, 2, 3, 4, 0xC0}, 16, {{{1, 2, 3, 4}, {}, false}}},
      {"too large, then exactly full",
       {0xC0, 1, 2, 3, 4, 10, 11, 12, 13, 14, 0xC0, 5, 6, 7, 8, 20, 21, 22, 23, 0xC0},
       4,
       {{{1, 2, 3, 4}, {10, 11, 12, 13}, true}, {{5, 6, 7, 8}, {20, 21, 22, 23}, false}}},
      {"no room: every body byte is cut",
       {0xC0, 1, 2, 3, 4, 9, 0xC0, 1, 2, 3, 4, 0xC0},
       0,
       {{{1, 2, 3, 4}, {}, true}, {{1, 2, 3, 4}, {}, false}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Deframed out = Deframe(c.wire, c.capacity);
    ASSERT_EQ(out.frames.size(), c.frames.size());
    for (std::size_t i = 0; i < c.frames.size(); ++i) {
      EXPECT_EQ(out.headers[i], c.frames[i].header) << i;
      EXPECT_EQ(out.bodies[i], c.frames[i].body) << i;
      EXPECT_EQ(out.frames[i].cutShort, c.frames[i].cutShort) << i;
    }
  }
}

TEST(BcspDeframer, RestartKeepsAPendingEscapeResetForgetsIt) {
  for (const bool reset : {false, true}) {
    BcspDeframer deframer;
    Deframe(deframer, {0xC0, 1, 2, 0xDB}, 8);
    reset ? deframer.Reset() : deframer.Restart();
    const Deframed out = Deframe(deframer, {0xDC, 2, 3, 4, 0xC0}, 8);
    ASSERT_EQ(out.frames.size(), 1u);
    EXPECT_EQ(out.headers[0][0], reset ? 0xDC : 0xC0);
    EXPECT_EQ(out.headers[0], (BcspHeaderBytes{out.headers[0][0], 2, 3, 4}));
  }
}

TEST(BcspCodec, SeededRandomFramesSurviveTheWire) {
  std::mt19937 random(20261206);
  for (int round = 0; round < 500; ++round) {
    Bytes payload(random() % 300);
    for (auto& b : payload) b = static_cast<std::uint8_t>(random() % 4 == 0 ? (random() % 2 ? 0xC0 : 0xDB) : random());
    const auto header = BcspEncodeHeader(static_cast<std::uint8_t>(random() % 8),
                                         static_cast<std::uint8_t>(random() % 8), true, random() % 2 == 0,
                                         static_cast<std::uint8_t>(random() % 16),
                                         static_cast<std::uint16_t>(payload.size()));
    const Bytes wire = BcspWireFrame(header, payload);
    // Undo the framing by hand: what lies between the delimiters, unescaped.
    ASSERT_EQ(wire.front(), 0xC0);
    ASSERT_EQ(wire.back(), 0xC0);
    Bytes plain;
    for (std::size_t i = 1; i + 1 < wire.size(); ++i) {
      ASSERT_NE(wire[i], 0xC0);
      if (wire[i] == 0xDB) {
        ++i;
        plain.push_back(wire[i] == 0xDC ? 0xC0 : 0xDB);
      } else {
        plain.push_back(wire[i]);
      }
    }
    const BcspHeaderBytes back = {plain[0], plain[1], plain[2], plain[3]};
    ASSERT_TRUE(BcspHeaderValid(back));
    const std::span<const std::uint8_t> body(plain.data() + 4, plain.size() - 4);
    ASSERT_EQ(BcspCheckBody(back, body).verdict, FrameVerdict::kGood);
    EXPECT_EQ(Bytes(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(payload.size())), payload);
    // And the deframer gives back the same bytes.
    const Deframed out = Deframe(wire, payload.size() + 2);
    ASSERT_EQ(out.frames.size(), 1u);
    EXPECT_EQ(out.headers[0], back);
    EXPECT_EQ(out.bodies[0], Bytes(body.begin(), body.end()));
  }
}

}  // namespace
}  // namespace quillon
