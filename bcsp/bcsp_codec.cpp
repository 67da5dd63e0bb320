#include "bcsp/bcsp_codec.h"

#include <algorithm>

#include "trace/format.h"

namespace quillon {
namespace {

constexpr std::uint16_t kCrcTable[16] = {0x0000, 0x1081, 0x2102, 0x3183, 0x4204, 0x5285, 0x6306, 0x7387,
                                         0x8408, 0x9489, 0xA50A, 0xB58B, 0xC60C, 0xD68D, 0xE70E, 0xF78F};

}  // namespace

std::uint8_t BcspHeaderChecksum(std::uint8_t byte0, std::uint8_t byte1, std::uint8_t byte2) {
  return static_cast<std::uint8_t>(~(byte0 + byte1 + byte2));
}

bool BcspHeaderValid(const BcspHeaderBytes& header) {
  return static_cast<std::uint8_t>(header[0] + header[1] + header[2] + header[3]) == 0xFF;
}

BcspHeader BcspDecodeHeader(const BcspHeaderBytes& header) {
  BcspHeader decoded;
  decoded.seq = header[0] & 0x07;
  decoded.ack = (header[0] >> 3) & 0x07;
  decoded.crcPresent = (header[0] & 0x40) != 0;
  decoded.reliable = (header[0] & 0x80) != 0;
  decoded.channel = header[1] & 0x0F;
  decoded.length = static_cast<std::uint16_t>((header[1] >> 4) | (header[2] << 4));
  decoded.checksum = header[3];
  return decoded;
}

BcspHeaderBytes BcspEncodeHeader(std::uint8_t seq, std::uint8_t ack, bool crcPresent, bool reliable,
                                 std::uint8_t channel, std::uint16_t length) {
  BcspHeaderBytes header{};
  header[0] = static_cast<std::uint8_t>((seq & 0x07) | (ack & 0x07) << 3 | (crcPresent ? 0x40 : 0) |
                                        (reliable ? 0x80 : 0));
  header[1] = static_cast<std::uint8_t>((channel & 0x0F) | (length & 0x0F) << 4);
  header[2] = static_cast<std::uint8_t>((length >> 4) & 0xFF);
  header[3] = BcspHeaderChecksum(header[0], header[1], header[2]);
  return header;
}

std::uint16_t BcspCrcUpdate(std::uint16_t crc, std::uint8_t byte) {
  crc = static_cast<std::uint16_t>(kCrcTable[(crc ^ byte) & 0x0F] ^ (crc >> 4));
  crc = static_cast<std::uint16_t>(kCrcTable[(crc ^ (byte >> 4)) & 0x0F] ^ (crc >> 4));
  return crc;
}

std::uint16_t BcspCrcFinish(std::uint16_t crc) {
  std::uint16_t reversed = 0;
  for (int bit = 0; bit < 16; ++bit) {
    reversed = static_cast<std::uint16_t>((reversed << 1) | ((crc >> bit) & 1));
  }
  return reversed;
}

EscapedByte BcspEscape(std::uint8_t byte) {
  if (byte == kSlipDelimiter) return {kSlipEscape, kSlipEscapedDelimiter};
  if (byte == kSlipEscape) return {kSlipEscape, kSlipEscapedEscape};
  return {byte, 0};
}

LinkMessage BcspMatchLinkMessage(std::span<const std::uint8_t> payload) {
  if (payload.size() < 4) return kLinkNone;
  for (std::size_t index = 0; index < kLinkMessages.size(); ++index) {
    if (std::equal(kLinkMessages[index].begin(), kLinkMessages[index].end(), payload.begin())) {
      return static_cast<LinkMessage>(index);
    }
  }
  return kLinkNone;
}

BcspDeframed BcspDeframer::Push(std::uint8_t byte, BcspHeaderBytes& header, std::span<std::uint8_t> body) {
  if (escapeSeen_) {
    escapeSeen_ = false;
    if (byte == kSlipEscapedDelimiter) {
      byte = kSlipDelimiter;
    } else if (byte == kSlipEscapedEscape) {
      byte = kSlipEscape;
    } else if (byte == kSlipDelimiter) {
      return Push(byte, header, body);  // a broken pair: the delimiter still ends the frame
    }
    Store(byte, header, body);
    return {};
  }
  if (byte == kSlipDelimiter) {
    BcspDeframed ended;
    if (position_ >= 0) {
      const auto arrived = static_cast<std::size_t>(position_);
      ended.frame = true;
      ended.stored = std::min(arrived, body.size());
      ended.cutShort = arrived > body.size();
    }
    Restart();
    return ended;
  }
  if (byte == kSlipEscape) {
    escapeSeen_ = true;
    return {};
  }
  Store(byte, header, body);
  return {};
}

void BcspDeframer::Store(std::uint8_t byte, BcspHeaderBytes& header, std::span<std::uint8_t> body) {
  if (position_ < 0) {
    header[static_cast<std::size_t>(position_ - kHeaderStart)] = byte;
    ++position_;
    return;
  }
  const auto at = static_cast<std::size_t>(position_);
  if (at < body.size()) body[at] = byte;
  if (at <= body.size()) ++position_;
}

FrameCheck BcspCheckBody(const BcspHeaderBytes& header, std::span<const std::uint8_t> body, bool cutShort) {
  const BcspHeader decoded = BcspDecodeHeader(header);
  const int count = static_cast<int>(body.size());
  FrameCheck check;
  check.headerLength = decoded.length;
  if (!decoded.crcPresent) {
    check.count = count;
    if (cutShort || count != decoded.length) check.verdict = FrameVerdict::kLengthNoCrc;
    return check;
  }
  check.count = count - 2;
  if (cutShort || count != decoded.length + 2) {
    check.verdict = FrameVerdict::kLengthWithCrc;
    return check;
  }
  std::uint16_t crc = BcspCrcStart();
  for (std::uint8_t byte : header) crc = BcspCrcUpdate(crc, byte);
  for (std::size_t i = 0; i < decoded.length; ++i) crc = BcspCrcUpdate(crc, body[i]);
  crc = BcspCrcFinish(crc);
  const std::uint16_t carried = static_cast<std::uint16_t>(body[decoded.length] << 8 | body[decoded.length + 1]);
  if (crc != carried) check.verdict = FrameVerdict::kCrcError;
  return check;
}

std::vector<std::uint8_t> BcspWireFrame(const BcspHeaderBytes& header, std::span<const std::uint8_t> payload) {
  std::vector<std::uint8_t> wire{kSlipDelimiter};
  std::uint16_t crc = BcspCrcStart();
  auto put = [&](std::uint8_t byte) {
    const EscapedByte escaped = BcspEscape(byte);
    wire.push_back(escaped.first);
    if (escaped.second != 0) wire.push_back(escaped.second);
  };
  for (std::uint8_t byte : header) {
    crc = BcspCrcUpdate(crc, byte);
    put(byte);
  }
  for (std::uint8_t byte : payload) {
    crc = BcspCrcUpdate(crc, byte);
    put(byte);
  }
  crc = BcspCrcFinish(crc);
  put(static_cast<std::uint8_t>(crc >> 8));
  put(static_cast<std::uint8_t>(crc & 0xFF));
  wire.push_back(kSlipDelimiter);
  return wire;
}

std::size_t BcspHeaderChecksumLine(const BcspHeaderBytes& header, std::span<char> out) {
  return FormatTo(out, "\n######################## Header Checksum Error %02X %02X %02X %02X\n", header[0], header[1],
                  header[2], header[3]);
}

std::size_t BcspCheckLine(const FrameCheck& check, std::span<char> out) {
  switch (check.verdict) {
    case FrameVerdict::kLengthWithCrc:
      return FormatTo(out, "\n######################## Slip Length Error (With CRC) %d,%d\n", check.headerLength,
                      check.count);
    case FrameVerdict::kCrcError:
      return FormatTo(out, "\n######################## CRC Error\n");
    case FrameVerdict::kLengthNoCrc:
      return FormatTo(out, "\n######################## Slip Length Error (No CRC) %d,%d\n", check.headerLength,
                      check.count);
    case FrameVerdict::kGood:
      break;
  }
  if (!out.empty()) out[0] = '\0';
  return 0;
}

}  // namespace quillon
