#include "tools/vhci_controller/hci_controller.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace quillon::vhci {
namespace {

// LMP features of a BR/EDR controller (slots, encryption, sniff, EDR rates...), with the bits
// left clear that would make the kernel ask for more than the basic bring-up: RSSI with inquiry
// results (byte 3, 0x40), LE (byte 4, 0x40), secure simple pairing and extended inquiry responses
// (byte 6), inquiry response power and extended feature pages (byte 7). Byte 4's 0x20, "BR/EDR
// not supported", stays clear too.
constexpr std::array<std::uint8_t, 8> kFeatures = {0xFF, 0xFF, 0x8F, 0xBE, 0x9B, 0x19, 0x00, 0x00};
constexpr std::uint8_t kHciVersion20 = 0x03;
constexpr std::uint16_t kManufacturerCsr = 0x000A;  // the Bluetooth SIG's company identifier
constexpr std::size_t kLocalNameBytes = 248;
constexpr char kLocalName[] = "Quillon vhci controller";
// The kernel asks for the optional commands only when this bitmap announces them; an empty
// bitmap keeps the bring-up to the commands every controller has, the same on every kernel.
constexpr std::size_t kSupportedCommandsBytes = 64;

// Commands whose return parameters are the status alone.
constexpr std::uint16_t kStatusOnly[] = {
    0x0C01,  // Set Event Mask
    0x0C03,  // Reset
    0x0C05,  // Set Event Filter
    0x0C13,  // Write Local Name
    0x0C16,  // Write Connection Accept Timeout
    0x0C18,  // Write Page Timeout
    0x0C1A,  // Write Scan Enable
    0x0C1C,  // Write Page Scan Activity
    0x0C20,  // Write Authentication Enable
    0x0C24,  // Write Class of Device
    0x0C45,  // Write Inquiry Mode
    0x0C47,  // Write Page Scan Type
    0x080F,  // Write Default Link Policy Settings
};

void PutLe16(std::vector<std::uint8_t>* out, std::uint16_t value) {
  out->push_back(static_cast<std::uint8_t>(value & 0xFF));
  out->push_back(static_cast<std::uint8_t>(value >> 8));
}

std::string Hex4(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", value);
  return text;
}

// Command Complete: one more command may be sent, the opcode, then the return parameters.
std::vector<std::uint8_t> CommandComplete(std::uint16_t opcode, const std::vector<std::uint8_t>& returned) {
  std::vector<std::uint8_t> event{kH4Event, kEventCommandComplete, static_cast<std::uint8_t>(3 + returned.size()), 1};
  PutLe16(&event, opcode);
  event.insert(event.end(), returned.begin(), returned.end());
  return event;
}

// A little-endian word of a message as text, or dashes where the message is too short for it.
std::string WordText(std::span<const std::uint8_t> bytes, std::size_t offset) {
  if (offset + 1 >= bytes.size()) return "----";
  return Hex4(static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8));
}

}  // namespace

std::optional<std::uint16_t> VhciCreatedIndex(std::span<const std::uint8_t> packet) {
  if (packet.size() != 4 || packet[0] != kH4Vendor || packet[1] != kVhciCreatePrimary[1]) return std::nullopt;
  return static_cast<std::uint16_t>(packet[2] | packet[3] << 8);
}

std::optional<std::vector<std::uint8_t>> BringUpReturnParameters(std::uint16_t opcode,
                                                                 std::span<const std::uint8_t> parameters,
                                                                 const ControllerProfile& profile) {
  std::vector<std::uint8_t> out{kStatusSuccess};
  for (std::uint16_t known : kStatusOnly) {
    if (opcode == known) return out;
  }
  switch (opcode) {
    case 0x1001:  // Read Local Version Information
      out.push_back(kHciVersion20);
      PutLe16(&out, profile.buildId);
      out.push_back(kHciVersion20);
      PutLe16(&out, kManufacturerCsr);
      PutLe16(&out, profile.buildId);
      return out;
    case 0x1002:  // Read Local Supported Commands
      out.resize(1 + kSupportedCommandsBytes, 0);
      return out;
    case 0x1003:  // Read Local Supported Features
      out.insert(out.end(), kFeatures.begin(), kFeatures.end());
      return out;
    case 0x1004:  // Read Local Extended Features: page 0 is the features above, and there is no other
      if (parameters.size() != 1) return std::nullopt;
      out.push_back(parameters[0]);
      out.push_back(0);
      if (parameters[0] == 0) {
        out.insert(out.end(), kFeatures.begin(), kFeatures.end());
      } else {
        out.resize(out.size() + kFeatures.size(), 0);
      }
      return out;
    case 0x1005:  // Read Buffer Size: ACL data length, SCO data length, ACL and SCO packet counts
      PutLe16(&out, 310);
      out.push_back(64);
      PutLe16(&out, 8);
      PutLe16(&out, 8);
      return out;
    case 0x1009:  // Read BD_ADDR
      out.insert(out.end(), profile.address.begin(), profile.address.end());
      return out;
    case 0x0C14:  // Read Local Name: zero-padded to its full length
      out.insert(out.end(), kLocalName, kLocalName + std::strlen(kLocalName));
      out.resize(1 + kLocalNameBytes, 0);
      return out;
    case 0x0C23:  // Read Class of Device: none in particular
      out.insert(out.end(), {0x00, 0x00, 0x00});
      return out;
    case 0x0C25:  // Read Voice Setting: CVSD, 16-bit linear PCM input
      PutLe16(&out, 0x0060);
      return out;
    case 0x0C38:  // Read Number of Supported IAC
      out.push_back(1);
      return out;
    case 0x0C39:  // Read Current IAC LAP: the general inquiry access code, 0x9E8B33
      out.insert(out.end(), {0x01, 0x33, 0x8B, 0x9E});
      return out;
    default:
      return std::nullopt;
  }
}

std::vector<std::vector<std::uint8_t>> DecoyEvents(std::span<const std::uint8_t> response) {
  std::vector<std::uint8_t> refusal(response.begin(),
                                    response.begin() + std::min<std::ptrdiff_t>(16, std::ssize(response)));
  refusal.resize(16, 0);
  refusal[8] = 8;
  refusal[9] = 0;
  auto event = [&](std::uint8_t descriptor, const std::vector<std::uint8_t>& message) {
    std::vector<std::uint8_t> packet{kH4Event, kEventVendor, static_cast<std::uint8_t>(1 + message.size()), descriptor};
    packet.insert(packet.end(), message.begin(), message.end());
    return packet;
  };
  std::vector<std::uint8_t> otherSequence = refusal;
  otherSequence[4] = static_cast<std::uint8_t>(otherSequence[4] + 1);
  std::vector<std::uint8_t> tooLong = event(kChannelBccmd | kDescriptorFirst | kDescriptorLast, refusal);
  tooLong.insert(tooLong.end(), {0xEE, 0xEE, 0xEE, 0xEE});
  std::vector<std::uint8_t> tooShort = event(kChannelBccmd | kDescriptorFirst | kDescriptorLast, refusal);
  tooShort[2] = static_cast<std::uint8_t>(tooShort[2] + 4);
  return {event((kChannelBccmd + 1) | kDescriptorFirst | kDescriptorLast, refusal),
          event(kChannelBccmd | kDescriptorLast, refusal),
          event(kChannelBccmd | kDescriptorFirst | kDescriptorLast, otherSequence), std::move(tooLong),
          std::move(tooShort)};
}

EmulatedController::EmulatedController(ControllerProfile profile, sim::PsStore store, Log log, RequestSink requests)
    : profile_(profile),
      module_(std::move(store), profile.buildId),
      log_(std::move(log)),
      requests_(std::move(requests)) {}

void EmulatedController::Note(const std::string& line) const {
  if (log_) log_(line);
}

void EmulatedController::FromHost(std::span<const std::uint8_t> packet, std::vector<std::vector<std::uint8_t>>* out) {
  if (packet.empty()) {
    ++counts_.refusedPackets;
    return;
  }
  switch (packet[0]) {
    case kH4Command: {
      // The header says how long the command is; a packet that is not exactly that long, or
      // longer than any command, was cut or joined on the way and is not acted on.
      if (packet.size() < 4 || packet.size() > kMostCommandPacket || packet.size() != std::size_t{4} + packet[3]) {
        ++counts_.refusedPackets;
        Note("packet of " + std::to_string(packet.size()) + " bytes that is not one whole command: refused");
        return;
      }
      const auto opcode = static_cast<std::uint16_t>(packet[1] | packet[2] << 8);
      Command(opcode, packet.subspan(4), out);
      return;
    }
    case kH4Acl:
    case kH4Sco:
      ++counts_.dataPackets;
      return;
    default:
      ++counts_.refusedPackets;
      Note("packet of type " + std::to_string(packet[0]) + ": not for a controller, refused");
      return;
  }
}

void EmulatedController::Command(std::uint16_t opcode, std::span<const std::uint8_t> parameters,
                                 std::vector<std::vector<std::uint8_t>>* out) {
  if (opcode == kOpcodeBccmd) {
    if (profile_.bccmdCommandEvent == ControllerProfile::CommandEvent::kComplete) {
      out->push_back(CommandComplete(opcode, std::vector<std::uint8_t>{kStatusSuccess}));
    } else if (profile_.bccmdCommandEvent == ControllerProfile::CommandEvent::kStatus) {
      out->push_back({kH4Event, kEventCommandStatus, 4, kStatusSuccess, 1, static_cast<std::uint8_t>(opcode & 0xFF),
                      static_cast<std::uint8_t>(opcode >> 8)});
    }
    Bccmd(parameters, out);
    return;
  }
  std::optional<std::vector<std::uint8_t>> returned = BringUpReturnParameters(opcode, parameters, profile_);
  if (returned) {
    ++counts_.commands;
    Note("command " + Hex4(opcode) + ": complete");
  } else {
    ++counts_.unknownCommands;
    returned = std::vector<std::uint8_t>{kStatusUnknownCommand};
    Note("command " + Hex4(opcode) + ": unknown, status 0x01");
  }
  out->push_back(CommandComplete(opcode, *returned));
}

void EmulatedController::Bccmd(std::span<const std::uint8_t> parameters, std::vector<std::vector<std::uint8_t>>* out) {
  ++counts_.bccmdFragments;
  switch (joiner_.Take(parameters)) {
    case FragmentJoiner::Outcome::kPartial:
      return;
    case FragmentJoiner::Outcome::kWhole:
      break;
    case FragmentJoiner::Outcome::kEmpty:
    case FragmentJoiner::Outcome::kOtherChannel:
    case FragmentJoiner::Outcome::kOutOfOrder:
    case FragmentJoiner::Outcome::kTooLong:
      ++counts_.leftOutFragments;
      Note("0xfc00 fragment left out (descriptor " + std::to_string(parameters.empty() ? -1 : parameters[0]) + ")");
      return;
  }
  const std::span<const std::uint8_t> request = joiner_.Message();
  if (requests_) requests_(request);
  const std::string what = "BCCMD type " + WordText(request, 0) + " seq " + WordText(request, 4) + " varid " +
                           WordText(request, 6) + " key " + WordText(request, 10) + ", " +
                           std::to_string(request.size()) + " bytes in " + std::to_string(joiner_.Fragments()) +
                           " fragment(s)";
  if (profile_.silent) {
    Note(what + ": not answered (silent)");
    return;
  }
  const std::optional<std::vector<std::uint8_t>> response = module_.Answer(request);
  if (!response) {
    Note(what + ": not answered");
    return;
  }
  ++counts_.bccmdAnswers;
  const auto fragments = FragmentMessage(*response, kChannelBccmd);
  Note(what + ": answered, status " + WordText(*response, 8) + ", in " + std::to_string(fragments.size()) +
       " event(s)" + (profile_.decoyEvents ? " among decoys" : ""));
  const auto decoys = profile_.decoyEvents ? DecoyEvents(*response) : std::vector<std::vector<std::uint8_t>>{};
  out->insert(out->end(), decoys.begin(), decoys.end());
  for (std::size_t i = 0; i < fragments.size(); ++i) {
    if (i > 0 && !decoys.empty()) out->push_back(decoys.front());
    std::vector<std::uint8_t> event{kH4Event, kEventVendor, static_cast<std::uint8_t>(fragments[i].size())};
    event.insert(event.end(), fragments[i].begin(), fragments[i].end());
    out->push_back(std::move(event));
  }
}

}  // namespace quillon::vhci
