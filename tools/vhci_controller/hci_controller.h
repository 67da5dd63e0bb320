// An emulated BlueCore as the Linux kernel sees it through /dev/vhci: every packet the kernel
// hands over goes in as bytes (its H4 packet-type byte first), and the packets the controller
// sends back come out as bytes. The kernel's bring-up commands get Command Complete with status 0
// and a BR/EDR controller's parameters; any other command gets "unknown HCI command" (0x01),
// except 0xFC00, which carries BCCMD and is answered with vendor events only, as a BlueCore does.
// Not thread-safe; no device is touched here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tools/module_simulator/ps_store.h"
#include "tools/vhci_controller/bccmd_channel.h"

namespace quillon::vhci {

// The first byte of each packet on /dev/vhci.
inline constexpr std::uint8_t kH4Command = 0x01;
inline constexpr std::uint8_t kH4Acl = 0x02;
inline constexpr std::uint8_t kH4Sco = 0x03;
inline constexpr std::uint8_t kH4Event = 0x04;
inline constexpr std::uint8_t kH4Vendor = 0xFF;  // /dev/vhci's own: the creation of the device

inline constexpr std::uint8_t kEventCommandComplete = 0x0E;
inline constexpr std::uint8_t kEventCommandStatus = 0x0F;
inline constexpr std::uint8_t kEventVendor = 0xFF;
inline constexpr std::uint16_t kOpcodeBccmd = 0xFC00;
inline constexpr std::uint8_t kStatusSuccess = 0x00;
inline constexpr std::uint8_t kStatusUnknownCommand = 0x01;

// The longest command: type byte, opcode, length, 255 parameter bytes.
inline constexpr std::size_t kMostCommandPacket = 1 + 3 + kMostParameters;

// What /dev/vhci must be sent first so that it registers a controller of the primary type (no
// raw-device or external-configuration bits: the kernel brings it up as it does a real one).
inline constexpr std::array<std::uint8_t, 2> kVhciCreatePrimary = {kH4Vendor, 0x00};
// The index of the device (hci<index>) from /dev/vhci's answer to the creation, or nothing when
// `packet` is not that answer.
std::optional<std::uint16_t> VhciCreatedIndex(std::span<const std::uint8_t> packet);

// What the controller says about itself during bring-up, and how it answers BCCMD.
struct ControllerProfile {
  std::array<std::uint8_t, 6> address = {0xA5, 0xA5, 0x00, 0x5B, 0x02, 0x00};  // 00:02:5B:00:A5:A5, as HCI orders it
  std::uint16_t buildId = 0x1DAB;  // the BCCMD build identifier, also the HCI and LMP subversion
  // Some modules also answer each 0xFC00 command with Command Complete or Command Status (status
  // 0) before their vendor events; a host must take that in its stride.
  enum class CommandEvent { kNone, kComplete, kStatus };
  CommandEvent bccmdCommandEvent = CommandEvent::kNone;
  // Events a host must leave out come before each answer (DecoyEvents), and one of another
  // channel between an answer's fragments.
  bool decoyEvents = false;
  // Takes BCCMD requests and answers none of them, like a module that hangs.
  bool silent = false;
};

// Vendor events that look like the answer `response` but that a host must never take for it:
// one of another channel, a last fragment with no first, one for another sequence number, one
// longer and one shorter than its declared length. Each carries the response's header with the error status
// 8, so that a host that took one reports a refusal.
std::vector<std::vector<std::uint8_t>> DecoyEvents(std::span<const std::uint8_t> response);

// The return parameters (status first) of a bring-up command, or nothing for a command the
// controller does not know. `parameters` are the command's own (Read Local Extended Features
// names the page it wants).
std::optional<std::vector<std::uint8_t>> BringUpReturnParameters(std::uint16_t opcode,
                                                                 std::span<const std::uint8_t> parameters,
                                                                 const ControllerProfile& profile);

struct ControllerCounts {
  std::uint32_t commands = 0;         // answered with Command Complete, status 0
  std::uint32_t unknownCommands = 0;  // answered with status 0x01
  std::uint32_t bccmdFragments = 0;   // 0xFC00 commands taken
  std::uint32_t bccmdAnswers = 0;     // messages answered (each in one or more vendor events)
  std::uint32_t refusedPackets =
      0;                          // shorter or longer than their header says, too long, of a type not for a controller
  std::uint32_t dataPackets = 0;  // ACL and SCO data, dropped: nothing is ever connected
  std::uint32_t leftOutFragments = 0;  // another channel, out of order, too long, or no descriptor
};

class EmulatedController {
 public:
  using Log = std::function<void(const std::string&)>;
  using RequestSink = std::function<void(std::span<const std::uint8_t>)>;
  // `log` (may be empty) gets one line per command and per BCCMD message; `requests` (may be
  // empty) every whole BCCMD message as it was joined, before it is acted on.
  EmulatedController(ControllerProfile profile, sim::PsStore store, Log log = {}, RequestSink requests = {});

  // One packet as /dev/vhci hands it over. The packets to send back, each with its type byte, are
  // appended to `out`.
  void FromHost(std::span<const std::uint8_t> packet, std::vector<std::vector<std::uint8_t>>* out);

  const sim::PsStore& Store() const { return module_.Store(); }
  std::uint32_t WarmResets() const { return module_.WarmResets(); }
  std::uint32_t AbandonedMessages() const { return joiner_.Abandoned(); }
  const ControllerCounts& Counts() const { return counts_; }

 private:
  void Command(std::uint16_t opcode, std::span<const std::uint8_t> parameters,
               std::vector<std::vector<std::uint8_t>>* out);
  void Bccmd(std::span<const std::uint8_t> parameters, std::vector<std::vector<std::uint8_t>>* out);
  void Note(const std::string& line) const;

  ControllerProfile profile_;
  BccmdModule module_;
  FragmentJoiner joiner_{kChannelBccmd};
  ControllerCounts counts_;
  Log log_;
  RequestSink requests_;
};

}  // namespace quillon::vhci
