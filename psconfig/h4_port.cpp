#include "psconfig/h4_port.h"

#include <algorithm>

namespace quillon {
namespace {

constexpr std::uint8_t kH4Command = 0x01;
constexpr std::uint8_t kH4Acl = 0x02;
constexpr std::uint8_t kH4Sco = 0x03;
constexpr std::uint8_t kH4Event = 0x04;

// The header bytes of each packet type, and where its length is in them.
std::size_t HeaderBytes(std::uint8_t type) {
  switch (type) {
    case kH4Command:
    case kH4Sco:
      return 3;
    case kH4Acl:
      return 4;
    case kH4Event:
      return 2;
    default:
      return 0;
  }
}

std::size_t BodyBytes(std::uint8_t type, const std::vector<std::uint8_t>& header) {
  switch (type) {
    case kH4Acl:
      return static_cast<std::size_t>(header[2] | header[3] << 8);
    case kH4Event:
      return header[1];
    default:
      return header[2];
  }
}

}  // namespace

platform::ErrorCode H4Port::Open(std::wstring_view name, std::uint32_t baudRate) {
  platform::ErrorCode error = platform::kSuccess;
  device_ = platform_.serial->Open(name, &error);
  if (!device_) return error;
  platform::LineSettings line;
  line.baudRate = baudRate;
  line.dataBits = 8;
  line.parity = platform::Parity::kNone;
  line.stopBits = platform::StopBits::kOne;
  line.ctsFlowControl = flowControl_;
  line.rtsControl = flowControl_;
  platform::Timeouts timeouts = platform::kReadReturnsAtOnce;
  timeouts.writeTotalConstant = kWriteTimeoutMs;
  for (const platform::ErrorCode step : {device_->SetLineState(line), device_->SetTimeouts(timeouts)}) {
    if (step != platform::kSuccess) {
      device_.reset();
      return step;
    }
  }
  (void)device_->Purge();
  type_ = 0;
  packet_.clear();
  inputAt_ = inputEnd_ = 0;
  return platform::kSuccess;
}

platform::ErrorCode H4Port::SendCommand(std::span<const std::uint8_t> command) {
  if (!device_) return platform::kErrorInvalidHandle;
  std::vector<std::uint8_t> packet{kH4Command};
  packet.insert(packet.end(), command.begin(), command.end());
  std::uint32_t written = 0;
  const platform::ErrorCode error = device_->Write(packet, &written);
  if (error != platform::kSuccess) return error;
  return written == packet.size() ? platform::kSuccess : platform::kErrorTimeout;
}

bool H4Port::TakeByte(std::uint8_t byte, std::vector<std::uint8_t>* event) {
  if (type_ == 0) {
    if (HeaderBytes(byte) == 0) {
      ++ignored_;  // not the start of a packet: the line resynchronises on the next type byte
      return false;
    }
    type_ = byte;
    packet_.clear();
    wanted_ = HeaderBytes(byte);
    return false;
  }
  packet_.push_back(byte);
  if (packet_.size() == HeaderBytes(type_)) wanted_ = packet_.size() + BodyBytes(type_, packet_);
  if (packet_.size() < wanted_) return false;
  const bool isEvent = type_ == kH4Event;
  type_ = 0;
  if (!isEvent) {
    ++ignored_;
    return false;
  }
  *event = std::move(packet_);
  packet_.clear();
  return true;
}

platform::InputWait H4Port::NextEvent(std::vector<std::uint8_t>* event, platform::Event* stop,
                                      std::uint32_t timeoutMs) {
  if (!device_) return platform::InputWait::kUnsupported;
  const std::uint32_t start = platform_.clock->TickCount();
  for (;;) {
    while (inputAt_ < inputEnd_) {
      if (TakeByte(input_[inputAt_++], event)) return platform::InputWait::kInput;
    }
    std::uint32_t got = 0;
    if (device_->Read(input_, &got) == platform::kSuccess && got != 0) {
      inputAt_ = 0;
      inputEnd_ = got;
      continue;
    }
    const std::uint32_t waited = platform_.clock->TickCount() - start;
    if (waited >= timeoutMs) return platform::InputWait::kTimedOut;
    const std::uint32_t left = std::min<std::uint32_t>(timeoutMs - waited, 20);
    switch (device_->WaitForInput(stop, left)) {
      case platform::InputWait::kStopped:
        return platform::InputWait::kStopped;
      case platform::InputWait::kUnsupported:
        if (stop != nullptr && stop->Wait(0)) return platform::InputWait::kStopped;
        platform_.clock->Sleep(1);
        break;
      default:
        break;
    }
  }
}

}  // namespace quillon
