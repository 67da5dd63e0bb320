#include "tools/quillon_device/link_establishment.h"

#include "bcsp/bcsp_codec.h"

namespace quillon::device {
namespace {

// A link message's frame: four header bytes and four payload bytes, no CRC. Anything longer
// is not a link message and is dropped unread.
constexpr std::size_t kLongestLinkFrame = 4 + 4 + 2;

}  // namespace

void LinkEstablishment::Queue(int message) {
  const auto wire = BcspWireFrame(kLinkHeader, kLinkMessages[static_cast<std::size_t>(message)]);
  answers_.insert(answers_.end(), wire.begin(), wire.end());
}

void LinkEstablishment::OnBytes(std::span<const std::uint8_t> bytes) {
  for (std::uint8_t byte : bytes) {
    if (byte == kSlipDelimiter) {
      if (inFrame_ && !frame_.empty()) OnFrame();
      frame_.clear();
      inFrame_ = true;
      escaped_ = false;
      continue;
    }
    if (!inFrame_) continue;
    if (escaped_) {
      escaped_ = false;
      if (byte == kSlipEscapedDelimiter) {
        byte = kSlipDelimiter;
      } else if (byte == kSlipEscapedEscape) {
        byte = kSlipEscape;
      } else {
        inFrame_ = false;
        continue;
      }
    } else if (byte == kSlipEscape) {
      escaped_ = true;
      continue;
    }
    if (frame_.size() >= kLongestLinkFrame) {
      inFrame_ = false;
      continue;
    }
    frame_.push_back(byte);
  }
}

void LinkEstablishment::OnFrame() {
  if (frame_.size() < 4) return;
  const BcspHeaderBytes header = {frame_[0], frame_[1], frame_[2], frame_[3]};
  if (!BcspHeaderValid(header)) return;
  const std::span<const std::uint8_t> body(frame_.data() + 4, frame_.size() - 4);
  if (BcspCheckBody(header, body).verdict != FrameVerdict::kGood) return;
  const BcspHeader decoded = BcspDecodeHeader(header);
  if (decoded.channel != kChannelLink) return;
  switch (BcspMatchLinkMessage(body.first(decoded.length))) {
    case kLinkSync:
      Queue(kLinkSyncResp);
      break;
    case kLinkSyncResp:
      if (state_ == State::kSyncing) {
        state_ = State::kConfiguring;
        sentOnce_ = false;  // CONF at once
      }
      break;
    case kLinkConf:
      if (state_ != State::kSyncing) Queue(kLinkConfResp);
      break;
    case kLinkConfResp:
      if (state_ == State::kConfiguring) state_ = State::kUp;
      break;
    default:
      break;
  }
}

std::vector<std::uint8_t> LinkEstablishment::Poll(std::uint32_t nowMs) {
  std::vector<std::uint8_t> out = std::move(answers_);
  answers_.clear();
  if (state_ != State::kUp && (!sentOnce_ || nowMs - lastSentMs_ >= kRepeatMs)) {
    const auto wire = BcspWireFrame(kLinkHeader, kLinkMessages[state_ == State::kSyncing ? kLinkSync : kLinkConf]);
    out.insert(out.end(), wire.begin(), wire.end());
    sentOnce_ = true;
    lastSentMs_ = nowMs;
  }
  return out;
}

}  // namespace quillon::device
