#include "bcsp/bcsp_link.h"

#include <algorithm>

namespace quillon {

// A CONF is no request while Uninitialized, and the link is not up until Active: every cell but
// the Active row names a message, so that establishment never stops halfway.
LinkMessage FollowingLinkMessage(LinkState state, LinkMessage pendingRequest) {
  static constexpr LinkMessage kTable[3][3] = {
      // no request   SYNC arrived    CONF arrived
      {kLinkSync, kLinkSyncResp, kLinkSync},      // Uninitialized
      {kLinkConf, kLinkSyncResp, kLinkConfResp},  // Initialized
      {kLinkNone, kLinkNone, kLinkConfResp},      // Active
  };
  const int column = pendingRequest == kLinkSync ? 1 : pendingRequest == kLinkConf ? 2 : 0;
  return kTable[state][column];
}

BcspLink::BcspLink(SerialPort& port, platform::Clock& clock, Console& console)
    : port_(port), clock_(clock), console_(console) {}

template <typename... Args>
void BcspLink::Printf(NarrowFormat<Args...> format, const Args&... args) {
  std::array<char, 128> line{};
  const std::size_t length = FormatTo(std::span<char>(line), format, args...);
  Print(std::string_view(line.data(), length));
}

void BcspLink::Initialise() {
  state_ = Uninitialized;
  txSeq_ = 0;
  rxAck_ = 0;
  nextLinkMessage_ = kLinkSync;
  // A request of the link that is gone (such as a CONF that came before the peer restarted, or
  // before an earlier run ended) means nothing to the new one.
  pendingRequest_ = kLinkNone;
  AbandonFrame();
  // A half-received frame is of no use after a restart either.
  deframer_.Reset();
  pause_ = 0;
  Print("Hello Link Uninitialized\n");
}

// Whatever was half sent stays unsent: the escape half and the CRC belong to that frame.
void BcspLink::AbandonFrame() {
  current_ = Segment{};
  next_ = Segment{};
  pendingEscape_ = 0;
  appendCrc_ = false;
  sendingQueued_ = false;
  sendingLink_ = kLinkNone;
}

bool BcspLink::QueueSend(BcspPacket* packet) {
  if (packet == nullptr || packet->length > kBcspMaxPayload || (packet->length > 0 && packet->payload == nullptr)) {
    return false;
  }
  queued_ = packet;
  queuedLoaded_ = false;
  AbandonFrame();
  return true;
}

void BcspLink::ArmReceive(BcspPacket* packet) {
  armed_ = packet;
  deframer_.Restart();
}

std::uint8_t BcspLink::Poll(std::uint8_t* activity) {
  *activity = 0;
  std::uint8_t frameEnd = 0;
  if (pause_ == 0) {
    if (current_.count != 0) {
      EmitByte(&frameEnd, activity);
    } else if (ChooseNextFrame(&frameEnd)) {
      return 0;  // a link message was loaded: no receive step this time
    }
  }
  (void)TakeInput(activity);
  if (pause_ > 0) {
    --pause_;
  } else {
    pause_ = static_cast<std::int8_t>(frameEnd);
  }
  return static_cast<std::uint8_t>(pause_);
}

bool BcspLink::TakeInput(std::uint8_t* activity) {
  bool taken = false;
  std::uint8_t byte = 0;
  while (armed_ != nullptr && port_.GetByte(&byte)) {
    taken = true;
    Receive(byte, activity);
  }
  return taken;
}

bool BcspLink::NewFrameNext() const {
  // Establishment keeps its pace: answering the peer's SYNC and CONF sooner only brings more of
  // our CONFs, whose answers arrive once Active and each drop the pause, sending the first
  // request again at once.
  if (current_.count != 0 || state_ != Active) return false;
  // Once Active no SYNC or CONF is chosen again: the one left over from establishment goes once.
  if (nextLinkMessage_ != kLinkNone || pendingRequest_ == kLinkConf) return true;
  if (queued_ != nullptr) return !queuedLoaded_;
  return ackDue_;
}

void BcspLink::StartFrame(std::uint8_t* header, bool computeChecksum, const std::uint8_t* payload, std::size_t length) {
  if (computeChecksum) header[3] = BcspHeaderChecksum(header[0], header[1], header[2]);
  current_ = Segment{header, 4};
  // A frame without payload goes straight from its header to its CRC.
  next_ = length > 0 ? Segment{payload, length} : Segment{};
  crc_ = BcspCrcStart();
  appendCrc_ = true;
  pendingEscape_ = 0;
}

void BcspLink::EmitByte(std::uint8_t* frameEnd, std::uint8_t* activity) {
  if (pendingEscape_ != 0) {
    port_.PutByte(pendingEscape_);
    pendingEscape_ = 0;
  } else {
    const std::uint8_t byte = *current_.bytes++;
    crc_ = BcspCrcUpdate(crc_, byte);
    const EscapedByte wire = BcspEscape(byte);
    port_.PutByte(wire.first);
    pendingEscape_ = wire.second;
    if (pendingEscape_ != 0) return;
  }
  if (--current_.count != 0) return;
  const bool hadNext = next_.count != 0;
  current_ = next_;
  next_ = Segment{};
  if (hadNext) return;
  if (appendCrc_) {
    appendCrc_ = false;
    const std::uint16_t finished = BcspCrcFinish(crc_);
    crcBuffer_ = {static_cast<std::uint8_t>(finished >> 8), static_cast<std::uint8_t>(finished & 0xFF)};
    current_ = Segment{crcBuffer_.data(), 2};
    return;
  }
  port_.PutByte(kSlipDelimiter);
  // Only the queued packet's own frame releases an unreliable packet.
  if (sendingQueued_ && queued_ != nullptr && queued_->reliable == 0) {
    queued_ = nullptr;
    *activity |= TxDone;
  }
  sendingQueued_ = false;
  sendingLink_ = kLinkNone;
  *frameEnd = kFramePause;
}

bool BcspLink::ChooseNextFrame(std::uint8_t* frameEnd) {
  if (nextLinkMessage_ != kLinkNone) {
    port_.PutByte(kSlipDelimiter);
    StartFrame(linkHeader_.data(), false, kLinkMessages[nextLinkMessage_].data(), 4);
    sendingLink_ = static_cast<LinkMessage>(nextLinkMessage_);
    nextLinkMessage_ = FollowingLinkMessage(state_, pendingRequest_);
    pendingRequest_ = kLinkNone;
    return true;
  }
  if (pendingRequest_ == kLinkConf) {
    port_.PutByte(kSlipDelimiter);
    StartFrame(linkHeader_.data(), false, kLinkMessages[kLinkConfResp].data(), 4);
    sendingLink_ = kLinkConfResp;
    pendingRequest_ = kLinkNone;
    return false;
  }
  // Data waits for the link: the peer ignores it before, and an unreliable packet would be lost.
  if (queued_ != nullptr && state_ == Active) {
    port_.PutByte(kSlipDelimiter);
    dataHeader_[0] = static_cast<std::uint8_t>(txSeq_ | rxAck_ << 3 | 0x40 | (queued_->reliable ? 0x80 : 0));
    dataHeader_[1] = static_cast<std::uint8_t>((queued_->channel & 0x0F) | (queued_->length & 0x0F) << 4);
    dataHeader_[2] = static_cast<std::uint8_t>((queued_->length >> 4) & 0xFF);
    StartFrame(dataHeader_.data(), true, queued_->payload, queued_->length);
    sendingQueued_ = true;
    queuedLoaded_ = true;
    ackDue_ = false;
    Printf(" : %10d Send %d Ack %d\n", Tick(), txSeq_, rxAck_);
    return false;
  }
  if (ackDue_) {
    port_.PutByte(kSlipDelimiter);
    Printf(" : %10d Send ACK %d\n", Tick(), rxAck_);
    ackHeader_ = {static_cast<std::uint8_t>(rxAck_ << 3 | 0x40), 0, 0, 0};
    StartFrame(ackHeader_.data(), true, nullptr, 0);
    ackDue_ = false;
    return false;
  }
  *frameEnd = kFramePause;
  return false;
}

void BcspLink::Receive(std::uint8_t byte, std::uint8_t* activity) {
  const BcspDeframed step = deframer_.Push(byte, rxHeader_, std::span<std::uint8_t>(armed_->payload, armed_->length));
  if (!step.frame) return;
  *activity |= ProcessFrame(step);
  if ((*activity & RxReliable) != 0) pause_ = 0;
}

std::uint8_t BcspLink::ProcessFrame(const BcspDeframed& frame) {
  std::array<char, 96> line{};
  if (!BcspHeaderValid(rxHeader_)) {
    Print(std::string_view(line.data(), BcspHeaderChecksumLine(rxHeader_, line)));
    ackDue_ = true;
    return 0;
  }
  const BcspHeader header = BcspDecodeHeader(rxHeader_);
  armed_->reliable = header.reliable ? 1 : 0;
  armed_->channel = header.channel;
  if (header.reliable) {
    Printf(" : %10d         Recv SEQ: %d ACK %d\n", Tick(), header.seq, header.ack);
  } else if (header.channel != kChannelLink) {
    Printf(" : %10d          Recv        ACK %d\n", Tick(), header.ack);
  }
  const std::span<const std::uint8_t> body(armed_->payload, frame.stored);
  const FrameCheck check = BcspCheckBody(rxHeader_, body, frame.cutShort);
  if (check.verdict != FrameVerdict::kGood) {
    Print(std::string_view(line.data(), BcspCheckLine(check, line)));
    ackDue_ = true;
    return 0;
  }
  const std::size_t payloadSize = static_cast<std::size_t>(check.count);

  std::uint8_t activity = 0;
  if (header.ack != txSeq_ && queued_ != nullptr && queued_->reliable != 0) {
    txSeq_ = (txSeq_ + 1) & 0x07;
    queued_ = nullptr;
    sendingQueued_ = false;
    pause_ = 0;
    activity |= TxDone;
  }

  if (header.channel == kChannelLink) {
    const auto message = BcspMatchLinkMessage(body.first(payloadSize));
    // Once the link is up, an answer left over from establishment (a second SYNC RESP or CONF
    // RESP for a SYNC or CONF the peer had buffered) asks nothing of us: ending the pause for it
    // would send a request that is waiting for its acknowledgement again at once, which the peer
    // takes for a packet out of order. Only a missing acknowledgement after the pause re-sends.
    const bool leftOver = state_ == Active && (message == kLinkSyncResp || message == kLinkConfResp);
    if (!leftOver) pause_ = 0;
    switch (message) {
      case kLinkSync:
        Print("Recv SYNC\n");
        if (state_ == Active) {
          Print("\n\n\n\n\nPEER RESET\n\n");
          Initialise();
          return PeerReset;
        }
        pendingRequest_ = kLinkSync;
        break;
      case kLinkSyncResp:
        Print("Recv SYNC RESP\n");
        if (state_ == Uninitialized) {
          Print("Link Initialized\n");
          state_ = Initialized;
        }
        break;
      case kLinkConf:
        Print("Recv CONF\n");
        if (state_ == Initialized || state_ == Active) pendingRequest_ = kLinkConf;
        break;
      case kLinkConfResp:
        Print("Recv CONF RESP\n");
        if (state_ != Active) {
          Print("Link Active\n");
          state_ = Active;
          // The peer is not up until it has our CONF RESP: one cut off here is owed once more.
          if (sendingLink_ == kLinkConfResp) pendingRequest_ = kLinkConf;
          AbandonFrame();
          return activity | TxDone;
        }
        break;
      case kLinkNone:
        break;
    }
    return activity;
  }

  if (payloadSize == 0 || state_ != Active) return activity;
  if (header.reliable) {
    ackDue_ = true;
    if (header.seq != rxAck_) return activity;
    rxAck_ = (rxAck_ + 1) & 0x07;
    activity |= RxDone | RxReliable;
  } else {
    activity |= RxDone;
  }
  armed_->length = header.length;
  armed_ = nullptr;
  return activity;
}

}  // namespace quillon
