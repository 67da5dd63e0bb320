#include "tools/vhci_controller/bccmd_channel.h"

#include <algorithm>

#include "psconfig/bccmd.h"
#include "tools/module_simulator/module_simulator.h"

namespace quillon::vhci {
namespace {

constexpr std::size_t kHeaderBytes = std::size_t{2} * kBccmdHeaderWords;

std::uint16_t WordAt(std::span<const std::uint8_t> bytes, std::size_t offset) {
  if (offset + 1 >= bytes.size()) return 0;
  return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

void PutWord(std::vector<std::uint8_t>* bytes, std::size_t offset, std::uint16_t value) {
  if (offset + 1 >= bytes->size()) return;
  (*bytes)[offset] = static_cast<std::uint8_t>(value & 0xFF);
  (*bytes)[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace

FragmentJoiner::Outcome FragmentJoiner::Take(std::span<const std::uint8_t> parameters) {
  if (parameters.empty()) return Outcome::kEmpty;
  const std::uint8_t descriptor = parameters[0];
  if ((descriptor & kDescriptorChannelBits) != channel_) return Outcome::kOtherChannel;
  const bool first = (descriptor & kDescriptorFirst) != 0;
  const bool last = (descriptor & kDescriptorLast) != 0;
  const auto bytes = parameters.subspan(1);
  if (first) {
    if (open_) ++abandoned_;
    message_.clear();
    fragments_ = 0;
    open_ = true;
  } else if (!open_) {
    message_.clear();
    return Outcome::kOutOfOrder;
  }
  if (message_.size() + bytes.size() > kMostMessage) {
    message_.clear();
    open_ = false;
    return Outcome::kTooLong;
  }
  message_.insert(message_.end(), bytes.begin(), bytes.end());
  ++fragments_;
  if (!last) return Outcome::kPartial;
  open_ = false;
  return Outcome::kWhole;
}

std::vector<std::vector<std::uint8_t>> FragmentMessage(std::span<const std::uint8_t> message, std::uint8_t channel) {
  std::vector<std::vector<std::uint8_t>> fragments;
  std::size_t at = 0;
  do {
    const std::size_t size = std::min(kMostFragment, message.size() - at);
    std::uint8_t descriptor = channel & kDescriptorChannelBits;
    if (at == 0) descriptor |= kDescriptorFirst;
    if (at + size == message.size()) descriptor |= kDescriptorLast;
    std::vector<std::uint8_t> parameters{descriptor};
    parameters.insert(parameters.end(), message.begin() + static_cast<std::ptrdiff_t>(at),
                      message.begin() + static_cast<std::ptrdiff_t>(at + size));
    fragments.push_back(std::move(parameters));
    at += size;
  } while (at < message.size());
  return fragments;
}

std::optional<std::vector<std::uint8_t>> BccmdModule::Answer(std::span<const std::uint8_t> request) {
  // Without a variable identifier there is nothing to answer to; a module drops such a message.
  if (request.size() < 8) return std::nullopt;
  std::uint16_t status = sim::ExamineBccmdRequest(request);
  const std::uint16_t type = WordAt(request, 0);
  const std::uint16_t varId = WordAt(request, 6);
  const std::uint16_t key = WordAt(request, 10);
  if (status == sim::kStatusOk && varId == kVarIdWarmReset) {
    ++warmResets_;
    return std::nullopt;
  }
  std::vector<std::uint8_t> response(request.begin(), request.end());
  response.resize(std::max(response.size(), kHeaderBytes), 0);
  PutWord(&response, 0, kBccmdGetResponse);
  if (status == sim::kStatusOk && varId == kVarIdBuildId) PutWord(&response, 10, buildId_);
  if (status == sim::kStatusOk && varId == kVarIdPsKey) {
    std::vector<std::uint16_t> values;
    for (std::size_t at = kHeaderBytes; at + 1 < request.size(); at += 2) values.push_back(WordAt(request, at));
    const auto* stored = store_.Get(key);
    if (type == kBccmdSetRequest) {
      store_.Set(key, std::move(values));
    } else if (stored == nullptr) {
      status = sim::kStatusNoValue;
    } else if (stored->size() != values.size()) {
      status = sim::kStatusWrongLength;
    } else {
      for (std::size_t i = 0; i < stored->size(); ++i) PutWord(&response, kHeaderBytes + 2 * i, (*stored)[i]);
    }
  }
  PutWord(&response, 8, status);
  return response;
}

}  // namespace quillon::vhci
