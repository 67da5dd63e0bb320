#include "tools/module_simulator/module_link.h"

#include <cstdio>

#include "bcsp/bcsp_codec.h"

namespace quillon::sim {
namespace {

constexpr std::size_t kLongestFrame = 4 + kBcspMaxPayload + 2;
const char* const kLinkNames[] = {"SYNC", "SYNC RESP", "CONF", "CONF RESP"};

}  // namespace

ModuleLink::ModuleLink(std::uint64_t linkIntervalUs, std::uint64_t resendUs, Deliver deliver, Send send, Log log)
    : linkIntervalUs_(linkIntervalUs),
      resendUs_(resendUs),
      deliver_(std::move(deliver)),
      send_(std::move(send)),
      log_(std::move(log)) {}

void ModuleLink::Restart(std::uint64_t nowUs) {
  state_ = State::kShy;
  nextLinkMessageUs_ = nowUs;
  txSeq_ = 0;
  rxExpected_ = 0;
  ackDue_ = false;
  outstanding_ = false;
  reliableQueue_.clear();
  frame_.clear();
  inFrame_ = false;
  escaped_ = false;
}

void ModuleLink::SendFrame(std::uint8_t seq, bool reliable, std::uint8_t channel, std::span<const std::uint8_t> payload,
                           const char* what) {
  const auto header = BcspEncodeHeader(seq, rxExpected_, true, reliable, channel,
                                       static_cast<std::uint16_t>(payload.size()));
  char line[96];
  std::snprintf(line, sizeof line, "module -> host  %s seq %d ack %d channel %d length %zu", what, seq, rxExpected_,
                channel, payload.size());
  log_(line);
  send_(BcspWireFrame(header, payload));
}

void ModuleLink::SendLinkMessage(int index) {
  char line[64];
  std::snprintf(line, sizeof line, "module -> host  %s", kLinkNames[index]);
  log_(line);
  send_(BcspWireFrame(kLinkHeader, kLinkMessages[static_cast<std::size_t>(index)]));
}

void ModuleLink::SendReliable(std::uint8_t channel, std::vector<std::uint8_t> payload) {
  reliableQueue_.emplace_back(channel, std::move(payload));
}

void ModuleLink::SendUnreliable(std::uint8_t channel, std::vector<std::uint8_t> payload) {
  if (state_ != State::kGarrulous) return;
  SendFrame(0, false, channel, payload, "unreliable");
}

void ModuleLink::Tick(std::uint64_t nowUs) {
  if (state_ != State::kGarrulous) {
    if (nowUs >= nextLinkMessageUs_) {
      SendLinkMessage(state_ == State::kShy ? kLinkSync : kLinkConf);
      nextLinkMessageUs_ = nowUs + linkIntervalUs_;
    }
    return;
  }
  if (!outstanding_ && !reliableQueue_.empty()) {
    outstandingChannel_ = reliableQueue_.front().first;
    outstandingPayload_ = std::move(reliableQueue_.front().second);
    reliableQueue_.pop_front();
    outstanding_ = true;
    resendAtUs_ = nowUs;
  }
  if (outstanding_ && nowUs >= resendAtUs_) {
    SendFrame(txSeq_, true, outstandingChannel_, outstandingPayload_, "reliable");
    resendAtUs_ = nowUs + resendUs_;
    ackDue_ = false;  // the frame carries the acknowledgement
  }
  if (ackDue_) {
    SendFrame(0, false, kChannelAck, {}, "ack");
    ackDue_ = false;
  }
}

void ModuleLink::OnByte(std::uint8_t byte, std::uint64_t nowUs) {
  if (byte == kSlipDelimiter) {
    if (inFrame_ && !frame_.empty()) HandleFrame(nowUs);
    frame_.clear();
    inFrame_ = true;
    escaped_ = false;
    return;
  }
  if (!inFrame_) return;
  if (escaped_) {
    escaped_ = false;
    if (byte == kSlipEscapedDelimiter) {
      byte = kSlipDelimiter;
    } else if (byte == kSlipEscapedEscape) {
      byte = kSlipEscape;
    } else {
      inFrame_ = false;  // not a frame of this format: wait for the next delimiter
      return;
    }
  } else if (byte == kSlipEscape) {
    escaped_ = true;
    return;
  }
  if (frame_.size() >= kLongestFrame) {
    inFrame_ = false;
    return;
  }
  frame_.push_back(byte);
}

void ModuleLink::HandleFrame(std::uint64_t nowUs) {
  if (frame_.size() < 4) return;
  const BcspHeaderBytes header = {frame_[0], frame_[1], frame_[2], frame_[3]};
  if (!BcspHeaderValid(header)) {
    log_("host -> module  frame with a bad header checksum dropped");
    return;
  }
  const std::span<const std::uint8_t> body(frame_.data() + 4, frame_.size() - 4);
  if (BcspCheckBody(header, body).verdict != FrameVerdict::kGood) {
    log_("host -> module  frame with a bad length or CRC dropped");
    if (state_ == State::kGarrulous) ackDue_ = true;
    return;
  }
  const BcspHeader decoded = BcspDecodeHeader(header);
  const std::span<const std::uint8_t> payload = body.first(decoded.length);

  if (decoded.channel == kChannelLink) {
    const LinkMessage message = BcspMatchLinkMessage(payload);
    if (message == kLinkNone) return;
    char line[64];
    std::snprintf(line, sizeof line, "host -> module  %s", kLinkNames[message]);
    log_(line);
    switch (message) {
      case kLinkSync:
        if (state_ == State::kGarrulous) {
          log_("host restarted the link");
          Restart(nowUs);
        }
        SendLinkMessage(kLinkSyncResp);
        // A host that is there now need not wait for the next round of SYNC.
        if (state_ == State::kShy) nextLinkMessageUs_ = nowUs;
        break;
      case kLinkSyncResp:
        if (state_ == State::kShy) {
          state_ = State::kCurious;
          nextLinkMessageUs_ = nowUs;
        }
        break;
      case kLinkConf:
        if (state_ != State::kShy) SendLinkMessage(kLinkConfResp);
        break;
      case kLinkConfResp:
        if (state_ == State::kCurious) {
          state_ = State::kGarrulous;
          log_("link active");
        }
        break;
      default:
        break;
    }
    return;
  }
  if (state_ != State::kGarrulous) return;

  char line[96];
  std::snprintf(line, sizeof line, "host -> module  %s seq %d ack %d channel %d length %d",
                decoded.reliable ? "reliable" : "unreliable", decoded.seq, decoded.ack, decoded.channel,
                decoded.length);
  log_(line);
  if (outstanding_ && decoded.ack == ((txSeq_ + 1) & 0x07)) {
    outstanding_ = false;
    txSeq_ = (txSeq_ + 1) & 0x07;
  }
  if (payload.empty()) return;
  if (decoded.reliable) {
    ackDue_ = true;
    if (decoded.seq != rxExpected_) {
      log_("host -> module  out of sequence, discarded");
      return;
    }
    rxExpected_ = (rxExpected_ + 1) & 0x07;
  }
  deliver_(decoded.channel, decoded.reliable, payload);
}

}  // namespace quillon::sim
