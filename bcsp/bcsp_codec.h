// The BCSP wire format: header, header checksum, CRC, SLIP escaping and deframing, the
// link-establishment messages, and the checks of a received frame with their diagnostic lines.
// Pure functions on plain bytes, and a deframer that keeps nothing but its place in a frame; no
// I/O, and nothing allocates but BcspWireFrame (for tools and tests).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quillon {

inline constexpr std::uint8_t kSlipDelimiter = 0xC0;
inline constexpr std::uint8_t kSlipEscape = 0xDB;
inline constexpr std::uint8_t kSlipEscapedDelimiter = 0xDC;
inline constexpr std::uint8_t kSlipEscapedEscape = 0xDD;
inline constexpr std::uint16_t kBcspMaxPayload = 4095;

inline constexpr std::uint8_t kChannelAck = 0;
inline constexpr std::uint8_t kChannelLink = 1;
inline constexpr std::uint8_t kChannelBccmd = 2;
inline constexpr std::uint8_t kChannelHci = 5;

struct BcspHeader {
  std::uint8_t seq = 0;
  std::uint8_t ack = 0;
  bool crcPresent = false;
  bool reliable = false;
  std::uint8_t channel = 0;
  std::uint16_t length = 0;
  std::uint8_t checksum = 0;
};

using BcspHeaderBytes = std::array<std::uint8_t, 4>;

std::uint8_t BcspHeaderChecksum(std::uint8_t byte0, std::uint8_t byte1, std::uint8_t byte2);
bool BcspHeaderValid(const BcspHeaderBytes& header);
BcspHeader BcspDecodeHeader(const BcspHeaderBytes& header);
// The four header bytes of a frame, checksum included.
BcspHeaderBytes BcspEncodeHeader(std::uint8_t seq, std::uint8_t ack, bool crcPresent, bool reliable,
                                 std::uint8_t channel, std::uint16_t length);

// CRC-CCITT, reflected (CRC-16/MCRF4XX register arithmetic), bit-reversed for the wire.
constexpr std::uint16_t BcspCrcStart() { return 0xFFFF; }
std::uint16_t BcspCrcUpdate(std::uint16_t crc, std::uint8_t byte);
std::uint16_t BcspCrcFinish(std::uint16_t crc);

// One packet byte as it goes on the wire: itself, or the escape pair 0xDB, second.
struct EscapedByte {
  std::uint8_t first = 0;
  std::uint8_t second = 0;  // 0: no second byte
};
EscapedByte BcspEscape(std::uint8_t byte);

enum LinkMessage : std::uint8_t { kLinkSync = 0, kLinkSyncResp = 1, kLinkConf = 2, kLinkConfResp = 3, kLinkNone = 4 };
inline constexpr BcspHeaderBytes kLinkHeader = {0x40, 0x41, 0x00, 0x7E};
inline constexpr std::array<std::array<std::uint8_t, 4>, 4> kLinkMessages = {{
    {0xDA, 0xDC, 0xED, 0xED},  // SYNC
    {0xAC, 0xAF, 0xEF, 0xEE},  // SYNC RESP
    {0xAD, 0xEF, 0xAC, 0xED},  // CONF
    {0xDE, 0xAD, 0xD0, 0xD0},  // CONF RESP
}};
// The link message that the payload starts with, or kLinkNone. A payload shorter than four bytes
// matches none.
LinkMessage BcspMatchLinkMessage(std::span<const std::uint8_t> payload);

// What one received byte did to the frame under way.
struct BcspDeframed {
  bool frame = false;      // a delimiter ended a frame that brought at least its four header bytes
  std::size_t stored = 0;  // of that frame: the bytes stored in the body (never more than it holds)
  bool cutShort = false;   // of that frame: more bytes arrived than the body holds, and were dropped
};

// SLIP deframing and unescaping of received bytes, one byte at a time. The deframer keeps no
// bytes, only its place in the frame: whether the previous byte was an escape, and how many bytes
// have arrived since the last delimiter.
//
// Buffers: the caller owns both. Each byte is handed in with the four header bytes and the body
// buffer (payload, then the CRC when present) that it may be written to; every byte of one frame
// must come with the same buffers (start a new frame with Restart before changing them). The first
// four bytes of a frame go to the header, later ones to the body while it has room; bytes beyond
// its size are counted and dropped. What the buffers hold when Push reports a frame stays valid
// until the caller's next Push with the same buffers.
//
// A delimiter ends a frame; an empty frame, or one shorter than its header, is reported as
// nothing. After an escape byte, 0xDC stands for 0xC0 and 0xDD for 0xDB; a delimiter still ends
// the frame (the stray escape is dropped), and any other byte is stored as it came, so that the
// frame's own checks decide.
class BcspDeframer {
 public:
  BcspDeframed Push(std::uint8_t byte, BcspHeaderBytes& header, std::span<std::uint8_t> body);
  // The next byte starts a new header; a pending escape stays pending.
  void Restart() { position_ = kHeaderStart; }
  // Restart, and forget a pending escape.
  void Reset() {
    Restart();
    escapeSeen_ = false;
  }

 private:
  static constexpr int kHeaderStart = -4;
  void Store(std::uint8_t byte, BcspHeaderBytes& header, std::span<std::uint8_t> body);
  // -4..-1 while the header arrives, then the count of body bytes; stops one past the body's
  // size, which is all that is needed to know that the frame was cut short.
  int position_ = kHeaderStart;
  bool escapeSeen_ = false;
};

// The checks of a received frame after its header checksum, in their order.
enum class FrameVerdict { kGood, kLengthWithCrc, kCrcError, kLengthNoCrc };
struct FrameCheck {
  FrameVerdict verdict = FrameVerdict::kGood;
  int headerLength = 0;
  int count = 0;  // as printed: the payload size the frame brought, at most what the body holds
};
// `body` holds the bytes stored after the header (payload, then the CRC when present).
// `cutShort`: more bytes arrived than the body could hold, so the frame fails its length check
// whatever its header says.
FrameCheck BcspCheckBody(const BcspHeaderBytes& header, std::span<const std::uint8_t> body, bool cutShort);
// For a body that held everything the frame brought.
inline FrameCheck BcspCheckBody(const BcspHeaderBytes& header, std::span<const std::uint8_t> body) {
  return BcspCheckBody(header, body, false);
}

// A whole frame as it goes on the wire: delimiter, escaped header, payload and CRC, delimiter.
// For tools and tests; the link engine builds its frames byte by byte.
std::vector<std::uint8_t> BcspWireFrame(const BcspHeaderBytes& header, std::span<const std::uint8_t> payload);

// The diagnostic lines of failed checks, written into `out` (terminated); returns the length.
std::size_t BcspHeaderChecksumLine(const BcspHeaderBytes& header, std::span<char> out);
std::size_t BcspCheckLine(const FrameCheck& check, std::span<char> out);

}  // namespace quillon
