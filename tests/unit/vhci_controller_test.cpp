// The emulated controller behind /dev/vhci, as bytes: the kernel's bring-up, BCCMD in 0xFC00 with
// its fragments both ways, and packets that are not whole commands. Requests are made by
// psconfig's own encoder, so that they are the bytes a run sends.
#include "tools/vhci_controller/hci_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

#include "psconfig/bccmd.h"

namespace quillon::vhci {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Packets = std::vector<Bytes>;

Bytes CommandPacket(std::uint16_t opcode, const Bytes& parameters) {
  Bytes packet{kH4Command, static_cast<std::uint8_t>(opcode & 0xFF), static_cast<std::uint8_t>(opcode >> 8),
               static_cast<std::uint8_t>(parameters.size())};
  packet.insert(packet.end(), parameters.begin(), parameters.end());
  return packet;
}

// A request as psconfig encodes it; a key request carries its values, the other two the length 9.
Bytes Request(std::uint16_t type, std::uint16_t varId, std::uint16_t key, const std::vector<std::uint16_t>& values,
              std::uint16_t sequence = 7) {
  PsKeyItem item;
  item.type = type;
  item.varId = varId;
  item.sequence = sequence;
  item.psKey = key;
  item.valueCount = static_cast<std::uint16_t>(values.size());
  item.length = static_cast<std::uint16_t>(varId == kVarIdPsKey ? kBccmdHeaderWords + values.size() : 9);
  std::copy(values.begin(), values.end(), item.values.begin());
  Bytes out(2 * (kBccmdHeaderWords + values.size()));
  EXPECT_EQ(EncodeBccmdRequest(item, out), out.size());
  return out;
}

Bytes WithDescriptor(std::uint8_t descriptor, const Bytes& bytes, std::size_t from = 0, std::size_t count = SIZE_MAX) {
  Bytes parameters{descriptor};
  const std::size_t end = std::min(bytes.size(), count == SIZE_MAX ? bytes.size() : from + count);
  parameters.insert(parameters.end(), bytes.begin() + static_cast<std::ptrdiff_t>(from),
                    bytes.begin() + static_cast<std::ptrdiff_t>(end));
  return parameters;
}

// The BCCMD bytes of vendor events, joined, or empty when any packet is not a vendor event of
// the BCCMD channel with its descriptors in order.
Bytes JoinVendorEvents(const Packets& packets) {
  Bytes message;
  for (std::size_t i = 0; i < packets.size(); ++i) {
    const Bytes& p = packets[i];
    if (p.size() < 4 || p[0] != kH4Event || p[1] != kEventVendor || p[2] != p.size() - 3) return {};
    const std::uint8_t expected = static_cast<std::uint8_t>(kChannelBccmd | (i == 0 ? kDescriptorFirst : 0) |
                                                            (i + 1 == packets.size() ? kDescriptorLast : 0));
    if (p[3] != expected) return {};
    message.insert(message.end(), p.begin() + 4, p.end());
  }
  return message;
}

std::uint16_t WordAt(const Bytes& bytes, std::size_t offset) {
  return offset + 1 < bytes.size() ? static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8) : 0xFFFF;
}

class VhciController : public ::testing::Test {
 protected:
  Packets Send(const Bytes& packet) {
    Packets out;
    controller_.FromHost(packet, &out);
    return out;
  }
  Packets Bccmd(const Bytes& parameters) { return Send(CommandPacket(kOpcodeBccmd, parameters)); }

  std::vector<std::size_t> joined_;  // the size of each whole request, as the controller reports it
  EmulatedController controller_{ControllerProfile{},
                                 sim::PsStore{},
                                 {},
                                 [this](std::span<const std::uint8_t> request) { joined_.push_back(request.size()); }};
};

// Command Complete for `opcode` with `returned` bytes of return parameters, up to its status.
Bytes CompleteHeader(std::uint16_t opcode, std::size_t returned, std::uint8_t status) {
  return {kH4Event,
          kEventCommandComplete,
          static_cast<std::uint8_t>(3 + returned),
          1,
          static_cast<std::uint8_t>(opcode & 0xFF),
          static_cast<std::uint8_t>(opcode >> 8),
          status};
}

TEST(VhciCreation, TheDevicesIndexComesFromTheAnswerToTheCreation) {
  EXPECT_EQ(VhciCreatedIndex(Bytes{0xFF, 0x00, 0x03, 0x01}), 0x0103);
  for (const Bytes& other : {Bytes{0xFF, 0x00, 0x00}, Bytes{0x04, 0x00, 0x00, 0x00}, Bytes{0xFF, 0x80, 0x00, 0x00},
                             Bytes{0xFF, 0x00, 0x00, 0x00, 0x00}}) {
    EXPECT_FALSE(VhciCreatedIndex(other)) << other.size() << " bytes, type " << int{other[0]};
  }
}

TEST_F(VhciController, TheKernelsBringUpCommandsCompleteAndOthersAreUnknown) {
  struct Case {
    std::uint16_t opcode;
    std::size_t parameters;  // zero bytes: Set Event Filter clears, extended features page 0
    std::size_t returned;    // return parameters, the status included
    std::uint8_t status;
  };
  const Case cases[] = {{0x0C03, 0, 1, 0},
                        {0x1003, 0, 9, 0},
                        {0x1001, 0, 9, 0},
                        {0x1009, 0, 7, 0},
                        {0x1002, 0, 65, 0},
                        {0x1005, 0, 8, 0},
                        {0x0C23, 0, 4, 0},
                        {0x0C14, 0, 249, 0},
                        {0x0C25, 0, 3, 0},
                        {0x0C38, 0, 2, 0},
                        {0x0C39, 0, 5, 0},
                        {0x0C05, 1, 1, 0},
                        {0x0C16, 2, 1, 0},
                        {0x0C01, 8, 1, 0},
                        {0x1004, 1, 11, 0},
                        {0x0C6D, 2, 1, kStatusUnknownCommand},
                        {0x2001, 8, 1, kStatusUnknownCommand},
                        {0xFC01, 0, 1, kStatusUnknownCommand}};
  for (const Case& c : cases) {
    const Packets out = Send(CommandPacket(c.opcode, Bytes(c.parameters, 0)));
    ASSERT_EQ(out.size(), 1u) << std::hex << c.opcode;
    ASSERT_EQ(out[0].size(), 6 + c.returned) << std::hex << c.opcode;
    EXPECT_EQ(Bytes(out[0].begin(), out[0].begin() + 7), CompleteHeader(c.opcode, c.returned, c.status))
        << std::hex << c.opcode;
  }
  EXPECT_EQ(controller_.Counts().commands, 15u);
  EXPECT_EQ(controller_.Counts().unknownCommands, 3u);
  // The kernel switches a controller without an address off again at once.
  const Packets address = Send(CommandPacket(0x1009, {}));
  EXPECT_EQ(Bytes(address[0].begin() + 7, address[0].end()), Bytes({0xA5, 0xA5, 0x00, 0x5B, 0x02, 0x00}));
}

TEST_F(VhciController, PacketsThatAreNotOneWholeCommandAreRefused) {
  Bytes longest = CommandPacket(0x0C6D, Bytes(kMostParameters, 0));
  ASSERT_EQ(longest.size(), kMostCommandPacket);
  EXPECT_EQ(Send(longest).size(), 1u) << "255 parameter bytes are a whole command";
  longest.push_back(0);
  Bytes cut = CommandPacket(0x0C03, {0x01, 0x02});
  cut.pop_back();
  const Bytes refused[] = {{}, {kH4Command, 0x03, 0x0C}, cut, longest, {kH4Event, 0x0E, 0x00}, {kH4Vendor, 0x00}};
  for (const Bytes& packet : refused) EXPECT_TRUE(Send(packet).empty()) << packet.size() << " bytes";
  EXPECT_TRUE(Send({kH4Acl, 0x01, 0x20, 0x00, 0x00}).empty()) << "data is dropped, not refused";
  EXPECT_EQ(controller_.Counts().refusedPackets, std::size(refused));
  EXPECT_EQ(controller_.Counts().dataPackets, 1u);
}

TEST_F(VhciController, BccmdIsAnsweredWithVendorEventsOnly) {
  struct Case {
    Bytes request;
    bool answered;
    std::uint16_t status;
    std::vector<std::uint16_t> values;  // what the answer carries after its header
  };
  const Case cases[] = {
      {Request(kBccmdGetRequest, kVarIdBuildId, 0, {}, 1), true, 0, {}},
      {Request(kBccmdSetRequest, kVarIdPsKey, 0x01BE, {0x0EBF}, 2), true, 0, {0x0EBF}},
      {Request(kBccmdGetRequest, kVarIdPsKey, 0x01BE, {0}, 3), true, 0, {0x0EBF}},
      {Request(kBccmdGetRequest, kVarIdPsKey, 0x01BE, {0, 0}, 4), true, 2, {0, 0}},  // another length
      {Request(kBccmdGetRequest, kVarIdPsKey, 0x0001, {0}, 5), true, 3, {0}},        // not held
      {Request(kBccmdGetRequest, 0x1234, 0, {}, 6), true, 1, {}},                    // no such variable
      {Request(kBccmdSetRequest, kVarIdWarmReset, 0, {}, 7), false, 0, {}},
  };
  for (const Case& c : cases) {
    const Packets out = Bccmd(WithDescriptor(0xC2, c.request));
    const std::uint16_t sequence = WordAt(c.request, 4);
    if (!c.answered) {
      EXPECT_TRUE(out.empty()) << "seq " << sequence;
      continue;
    }
    ASSERT_EQ(out.size(), 1u) << "seq " << sequence;
    const Bytes response = JoinVendorEvents(out);
    ASSERT_EQ(response.size(), 16 + 2 * c.values.size()) << "seq " << sequence;
    EXPECT_EQ(WordAt(response, 0), kBccmdGetResponse);
    EXPECT_EQ(WordAt(response, 4), sequence);
    EXPECT_EQ(WordAt(response, 6), WordAt(c.request, 6));
    EXPECT_EQ(WordAt(response, 8), c.status) << "seq " << sequence;
    for (std::size_t i = 0; i < c.values.size(); ++i) EXPECT_EQ(WordAt(response, 16 + 2 * i), c.values[i]);
  }
  EXPECT_EQ(WordAt(JoinVendorEvents(Bccmd(WithDescriptor(0xC2, cases[0].request))), 10), ControllerProfile{}.buildId);
  EXPECT_EQ(controller_.WarmResets(), 1u);
  EXPECT_EQ(controller_.Counts().commands + controller_.Counts().unknownCommands, 0u) << "no Command Complete";
}

// The other habits of modules, on a build-identifier request (sequence 5) and a key of 188
// values: what comes back and in which order.
TEST(VhciControllerProfile, CompletingSilentAndDecoyingModules) {
  const Bytes buildId = WithDescriptor(0xC2, Request(kBccmdGetRequest, kVarIdBuildId, 0, {}, 5));
  Packets out;
  using CommandEvent = ControllerProfile::CommandEvent;
  EmulatedController completing(ControllerProfile{.bccmdCommandEvent = CommandEvent::kComplete}, sim::PsStore{});
  EmulatedController statusing(ControllerProfile{.bccmdCommandEvent = CommandEvent::kStatus}, sim::PsStore{});
  completing.FromHost(CommandPacket(kOpcodeBccmd, buildId), &out);
  statusing.FromHost(CommandPacket(kOpcodeBccmd, buildId), &out);
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0], CompleteHeader(kOpcodeBccmd, 1, kStatusSuccess));
  EXPECT_EQ(out[2], Bytes({kH4Event, kEventCommandStatus, 4, kStatusSuccess, 1, 0x00, 0xFC}));
  EXPECT_EQ(JoinVendorEvents({out[1]}).size(), 16u);
  EXPECT_EQ(JoinVendorEvents({out[3]}).size(), 16u);

  out.clear();
  EmulatedController silent(ControllerProfile{.silent = true}, sim::PsStore{});
  silent.FromHost(CommandPacket(kOpcodeBccmd, buildId), &out);
  EXPECT_TRUE(out.empty());

  EmulatedController decoying(ControllerProfile{.decoyEvents = true}, sim::PsStore{});
  decoying.FromHost(CommandPacket(kOpcodeBccmd, buildId), &out);
  ASSERT_EQ(out.size(), 6u);
  EXPECT_EQ(WordAt(JoinVendorEvents({out[5]}), 8), 0) << "the answer comes last";
  // Each decoy, read as a host must not read it, would be a refusal of this very request:
  // another channel, a last fragment alone, another sequence number, longer and shorter than
  // declared.
  const std::uint8_t descriptors[] = {0xC3, 0x82, 0xC2, 0xC2, 0xC2};
  const int beyondDeclared[] = {0, 0, 0, 4, -4};
  for (std::size_t i = 0; i < 5; ++i) {
    ASSERT_GE(out[i].size(), 4u + 16u);
    EXPECT_EQ(out[i][3], descriptors[i]) << i;
    EXPECT_EQ(WordAt(out[i], 4 + 8), 8) << i;
    EXPECT_EQ(WordAt(out[i], 4 + 4), i == 2 ? 6 : 5) << i;
    EXPECT_EQ(static_cast<int>(out[i].size()) - 3 - out[i][2], beyondDeclared[i]) << i;
  }
  const Bytes set = Request(kBccmdSetRequest, kVarIdPsKey, 0x0108, std::vector<std::uint16_t>(188, 0x1234), 2);
  out.clear();
  decoying.FromHost(CommandPacket(kOpcodeBccmd, WithDescriptor(0x42, set, 0, kMostFragment)), &out);
  decoying.FromHost(CommandPacket(kOpcodeBccmd, WithDescriptor(0x82, set, kMostFragment)), &out);
  ASSERT_EQ(out.size(), 8u);
  EXPECT_EQ(out[6][3], 0xC3) << "another channel between the fragments";
  EXPECT_EQ(JoinVendorEvents({out[5], out[7]}).size(), set.size());
}

TEST_F(VhciController, AKeyOf188ValuesGoesInTwoFragmentsEachWay) {
  std::vector<std::uint16_t> values(PsKeyItem::kMaxValues);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<std::uint16_t>(0x0101 * i);
  const Bytes set = Request(kBccmdSetRequest, kVarIdPsKey, 0x0108, values, 2);
  ASSERT_EQ(set.size(), 392u);
  EXPECT_TRUE(Bccmd(WithDescriptor(0x42, set, 0, kMostFragment)).empty());
  EXPECT_EQ(JoinVendorEvents(Bccmd(WithDescriptor(0x82, set, kMostFragment))).size(), set.size());
  ASSERT_NE(controller_.Store().Get(0x0108), nullptr);
  EXPECT_EQ(*controller_.Store().Get(0x0108), values);

  const Bytes get = Request(kBccmdGetRequest, kVarIdPsKey, 0x0108, std::vector<std::uint16_t>(values.size()), 3);
  EXPECT_TRUE(Bccmd(WithDescriptor(0x42, get, 0, kMostFragment)).empty());
  const Packets out = Bccmd(WithDescriptor(0x82, get, kMostFragment));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].size(), 3 + kMostParameters);
  const Bytes response = JoinVendorEvents(out);
  ASSERT_EQ(response.size(), get.size());
  for (std::size_t i = 0; i < values.size(); ++i) ASSERT_EQ(WordAt(response, 16 + 2 * i), values[i]) << i;
  EXPECT_EQ(joined_, std::vector<std::size_t>({392, 392}));
}

TEST_F(VhciController, FragmentsLeftOutAreNeverAnswered) {
  const Bytes request = Request(kBccmdGetRequest, kVarIdBuildId, 0, {}, 1);
  const Bytes leftOut[] = {{},
                           WithDescriptor(0xC3, request),
                           WithDescriptor(0x02, request),
                           WithDescriptor(0x82, request)};
  for (const Bytes& parameters : leftOut) EXPECT_TRUE(Bccmd(parameters).empty());
  EXPECT_EQ(controller_.Counts().leftOutFragments, std::size(leftOut));
  EXPECT_EQ(controller_.Counts().bccmdAnswers, 0u);
  EXPECT_TRUE(joined_.empty());
}

TEST(FragmentJoiner, JoinsInOrderAndLeavesTheRestOut) {
  using Outcome = FragmentJoiner::Outcome;
  // Outcomes by letter: partial, whole, empty, other channel, out of order, too long.
  const std::map<char, Outcome> outcome = {{'P', Outcome::kPartial},    {'W', Outcome::kWhole},
                                           {'E', Outcome::kEmpty},      {'C', Outcome::kOtherChannel},
                                           {'O', Outcome::kOutOfOrder}, {'T', Outcome::kTooLong}};
  struct Fragment {
    int descriptor;  // -1 for none at all
    std::size_t bytes;
  };
  struct Case {
    const char* name;
    std::vector<Fragment> fragments;
    const char* outcomes;
    std::size_t joined;        // bytes of the last whole message
    std::uint32_t joinedFrom;  // its fragments
    std::uint32_t abandoned;
  };
  const Case cases[] = {
      {"whole", {{0xC2, 2}}, "W", 2, 1, 0},
      {"no descriptor", {{-1, 0}}, "E", 0, 0, 0},
      {"middle first", {{0x02, 1}}, "O", 0, 0, 0},
      {"last first", {{0x82, 1}}, "O", 0, 0, 0},
      {"other channel", {{0xC3, 1}}, "C", 0, 0, 0},
      {"other channel between", {{0x42, 1}, {0x03, 9}, {0x82, 2}}, "PCW", 3, 2, 0},
      {"first again", {{0x42, 1}, {0x42, 2}, {0x82, 3}}, "PPW", 5, 2, 1},
      {"four full fragments", {{0x42, 254}, {0x02, 254}, {0x02, 254}, {0x82, 254}}, "PPPW", kMostMessage, 4, 0},
      {"one byte too many",
       {{0x42, 254}, {0x02, 254}, {0x02, 254}, {0x02, 254}, {0x82, 1}, {0x82, 1}},
       "PPPPTO",
       0,
       0,
       0},
  };
  for (const Case& c : cases) {
    FragmentJoiner joiner(kChannelBccmd);
    std::vector<Outcome> outcomes;
    std::vector<Outcome> expected;
    std::size_t joined = 0;
    std::uint32_t fragments = 0;
    for (const Fragment& fragment : c.fragments) {
      Bytes parameters(fragment.bytes, 0x5A);
      if (fragment.descriptor >= 0)
        parameters.insert(parameters.begin(), static_cast<std::uint8_t>(fragment.descriptor));
      outcomes.push_back(joiner.Take(parameters));
      if (outcomes.back() == Outcome::kWhole) {
        joined = joiner.Message().size();
        fragments = joiner.Fragments();
      }
    }
    for (const char* letter = c.outcomes; *letter != '\0'; ++letter) expected.push_back(outcome.at(*letter));
    EXPECT_EQ(outcomes, expected) << c.name;
    EXPECT_EQ(joined, c.joined) << c.name;
    EXPECT_EQ(joiner.Abandoned(), c.abandoned) << c.name;
    EXPECT_EQ(fragments, c.joinedFrom) << c.name;
  }
}

TEST(FragmentMessage, CutsAt254BytesWithTheDescriptorsInOrder) {
  struct Case {
    std::size_t bytes;
    std::vector<std::size_t> sizes;  // parameters of each event, the descriptor included
    std::vector<std::uint8_t> descriptors;
  };
  const Case cases[] = {
      {0, {1}, {0xC2}},
      {254, {255}, {0xC2}},
      {255, {255, 2}, {0x42, 0x82}},
      {392, {255, 139}, {0x42, 0x82}},
      {600, {255, 255, 93}, {0x42, 0x02, 0x82}},
  };
  for (const Case& c : cases) {
    const auto events = FragmentMessage(Bytes(c.bytes, 0x11), kChannelBccmd);
    std::vector<std::size_t> sizes;
    std::vector<std::uint8_t> descriptors;
    for (const Bytes& event : events) {
      sizes.push_back(event.size());
      descriptors.push_back(event[0]);
    }
    EXPECT_EQ(sizes, c.sizes) << c.bytes;
    EXPECT_EQ(descriptors, c.descriptors) << c.bytes;
  }
}

}  // namespace
}  // namespace quillon::vhci
