#include "tools/module_simulator/module_simulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bcsp/bcsp_codec.h"
#include "tools/module_simulator/simulator_arguments.h"

namespace quillon::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Talks to a simulator as a well-behaved host would, with its own time.
class Host {
 public:
  explicit Host(ModuleSimulator& module, std::uint32_t baud = 115200) : module_(module), baud_(baud) {}

  void Send(const Bytes& wire) { module_.FromHost(wire, baud_, now_); }
  void SendLink(LinkMessage message) { Send(BcspWireFrame(kLinkHeader, kLinkMessages[message])); }
  // A request and the time for its answer.
  void Ask(const Bytes& payload) {
    SendReliable(payload);
    Wait(2);
  }
  void SendReliable(const Bytes& payload) {
    Send(BcspWireFrame(BcspEncodeHeader(txSeq_, rxExpected_, true, true, 2, static_cast<std::uint16_t>(payload.size())),
                       payload));
    txSeq_ = (txSeq_ + 1) & 7;
  }
  // Lets `ms` pass and decodes what came: link messages and payloads by channel.
  void Wait(std::uint32_t ms) {
    for (std::uint32_t i = 0; i < ms; ++i) {
      now_ += 1000;
      std::uint8_t buffer[512];
      const std::size_t got = module_.ToHost(buffer, baud_, now_);
      for (std::size_t k = 0; k < got; ++k) Take(buffer[k]);
    }
  }
  // After the module's boot time, which swallows whatever comes before.
  void BringUp() {
    Wait(SimulatorOptions{}.bootMs + 1);
    SendLink(kLinkSyncResp);
    Wait(1);
    SendLink(kLinkConfResp);
    Wait(1);
  }

  std::vector<LinkMessage> links;
  std::vector<std::pair<std::uint8_t, Bytes>> packets;
  std::uint64_t now_ = 0;

 private:
  void Take(std::uint8_t byte) {
    const BcspDeframed step = deframer_.Push(byte, header_, body_);
    if (!step.frame) return;
    ASSERT_TRUE(BcspHeaderValid(header_));
    const std::span<const std::uint8_t> body(body_.data(), step.stored);
    ASSERT_EQ(BcspCheckBody(header_, body).verdict, FrameVerdict::kGood);
    const BcspHeader decoded = BcspDecodeHeader(header_);
    const Bytes payload(body.begin(), body.begin() + decoded.length);
    if (decoded.channel == kChannelLink) {
      links.push_back(BcspMatchLinkMessage(payload));
    } else if (decoded.reliable && decoded.seq == rxExpected_) {
      rxExpected_ = (rxExpected_ + 1) & 7;
      packets.emplace_back(decoded.channel, payload);
      Send(BcspWireFrame(BcspEncodeHeader(0, rxExpected_, true, false, 0, 0), {}));
    } else if (!decoded.reliable && !payload.empty()) {
      packets.emplace_back(decoded.channel, payload);
    }
  }

  ModuleSimulator& module_;
  std::uint32_t baud_;
  std::uint8_t txSeq_ = 0;
  std::uint8_t rxExpected_ = 0;
  BcspDeframer deframer_;
  BcspHeaderBytes header_{};
  std::array<std::uint8_t, 4200> body_{};
};

Bytes KeyRequest(std::uint16_t sequence, std::uint16_t key, const std::vector<std::uint16_t>& values) {
  std::vector<std::uint16_t> words = {2,   static_cast<std::uint16_t>(8 + values.size()), sequence, 0x7003, 0,
                                      key, static_cast<std::uint16_t>(values.size()),     0};
  words.insert(words.end(), values.begin(), values.end());
  Bytes bytes;
  for (std::uint16_t word : words) {
    bytes.push_back(static_cast<std::uint8_t>(word & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(word >> 8));
  }
  return bytes;
}

const Bytes kBuildIdRequest = {0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x19, 0x28,
                               0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
const Bytes kWarmReset = {0x02, 0x00, 0x09, 0x00, 0x00, 0x00, 0x02, 0x40,
                          0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

TEST(ModuleSimulator, StartsLinkEstablishmentAndAnswersIt) {
  ModuleSimulator module(SimulatorOptions{});
  Host host(module);
  host.Wait(600);
  EXPECT_GE(host.links.size(), 3u);  // SYNC every 250 ms
  for (LinkMessage message : host.links) EXPECT_EQ(message, kLinkSync);
  host.links.clear();
  host.SendLink(kLinkSync);
  host.SendLink(kLinkConf);  // ignored before SYNC RESP has come
  host.Wait(1);
  // Answered at once, and its own SYNC follows without waiting for the next round.
  EXPECT_EQ(host.links, (std::vector<LinkMessage>{kLinkSyncResp, kLinkSync}));
  host.SendLink(kLinkSyncResp);
  host.Wait(1);
  host.SendLink(kLinkConf);
  host.Wait(1);
  EXPECT_EQ(host.links, (std::vector<LinkMessage>{kLinkSyncResp, kLinkSync, kLinkConf, kLinkConfResp}));
  EXPECT_FALSE(module.LinkActive());
  host.SendLink(kLinkConfResp);
  host.Wait(300);
  EXPECT_TRUE(module.LinkActive());
  EXPECT_EQ(host.links.size(), 4u);  // nothing more once active
}

TEST(ModuleSimulator, AnswersRequestsAndKeepsKeys) {
  SimulatorOptions options;
  options.buildId = 0x1234;
  ModuleSimulator module(options);
  Host host(module);
  host.BringUp();
  host.Ask(kBuildIdRequest);
  host.Ask(KeyRequest(2, 0x0001, {0x0005}));
  ASSERT_EQ(host.packets.size(), 2u);
  Bytes build = kBuildIdRequest;
  build[0] = 1;
  build[10] = 0x34;
  build[11] = 0x12;
  EXPECT_EQ(host.packets[0], std::make_pair(std::uint8_t{2}, build));
  Bytes key = KeyRequest(2, 0x0001, {0x0005});
  key[0] = 1;
  EXPECT_EQ(host.packets[1].second, key);
  ASSERT_NE(module.Store().Get(0x0001), nullptr);
  EXPECT_EQ(*module.Store().Get(0x0001), std::vector<std::uint16_t>{5});
  ASSERT_EQ(module.Requests().size(), 2u);
  EXPECT_EQ(module.Requests()[1].sequence, 2);
}

TEST(ModuleSimulator, AWarmResetRestartsAtTheStoredBaudRate) {
  ModuleSimulator module(SimulatorOptions{});
  Host host(module);
  host.BringUp();
  host.SendReliable(KeyRequest(2, 0x01be, {0x0EBF}));  // 921600
  host.Wait(2);
  host.SendReliable(kWarmReset);
  host.Wait(5);
  EXPECT_EQ(host.packets.size(), 1u);  // the reset is not answered
  EXPECT_EQ(module.BaudRate(), 115200u);
  host.links.clear();
  host.Wait(300);
  EXPECT_EQ(module.Restarts(), 1u);
  EXPECT_EQ(module.BaudRate(), 921600u);
  EXPECT_TRUE(host.links.empty());  // its SYNC goes out at the new rate
  Host fast(module, 921600);
  fast.now_ = host.now_;
  fast.Wait(300);
  EXPECT_FALSE(fast.links.empty());
}

// Faults asked for by option, and requests refused: the answer's variable and status; nothing
// refused is stored or acted on (a refused warm reset restarts nothing).
TEST(ModuleSimulator, FaultsOnRequestAndRefusals) {
  struct Case {
    const char* name = nullptr;
    SimulatorOptions options;
    Bytes request;
    bool thenWarmReset = false;
    std::size_t answers = 0;
    std::uint16_t varId = 0;
    std::uint16_t status = 0;
  };
  SimulatorOptions silent, other, error;
  silent.neverAnswerBuildId = true;
  other.answerWithOtherVarId = true;
  error.answerStatus = 3;
  const Bytes key = KeyRequest(2, 0x0001, {0x0005});
  Bytes badLength = key;
  badLength[12] = 2;
  const Case cases[] = {
      {"FaultsOnRequest: never answers the build identifier", silent, kBuildIdRequest, false, 0, 0, 0},
      {"FaultsOnRequest: another variable", other, kBuildIdRequest, false, 1, 0x281A, 0},
      {"FaultsOnRequest: error status", error, kBuildIdRequest, false, 1, 0x2819, 3},
      {"NothingRefusedIsStoredOrActedOn: an injected error status", error, key, true, 2, 0x7003, 3},
      {"NothingRefusedIsStoredOrActedOn: a value-length word that does not match",
       {},
       badLength,
       true,
       1,
       0x7003,
       kStatusBadRequest},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ModuleSimulator module(c.options);
    Host host(module);
    host.BringUp();
    host.SendReliable(c.request);
    if (c.thenWarmReset) host.SendReliable(kWarmReset);
    host.Wait(50);
    EXPECT_TRUE(module.Store().Keys().empty());
    EXPECT_EQ(module.Restarts(), c.thenWarmReset && c.options.answerStatus == 0 ? 1u : 0u);
    ASSERT_EQ(host.packets.size(), c.answers);
    if (c.answers == 0) continue;
    const Bytes& answer = host.packets[0].second;
    EXPECT_EQ(answer[6] | answer[7] << 8, c.varId);
    EXPECT_EQ(answer[8] | answer[9] << 8, c.status);
  }
}

TEST(ModuleSimulator, CommandStatusEventAfterTheNthKey) {
  SimulatorOptions options;
  options.commandStatusAfterKeys = 2;
  ModuleSimulator module(options);
  Host host(module);
  host.BringUp();
  host.Ask(KeyRequest(2, 1, {1}));
  host.Ask(KeyRequest(3, 2, {2}));
  ASSERT_EQ(host.packets.size(), 3u);
  EXPECT_EQ(host.packets[1].first, kChannelHci);
  EXPECT_EQ(host.packets[1].second[0], 0x0F);
}

TEST(ModuleSimulator, FaultsAreReproducibleFromTheSeed) {
  auto run = [](std::uint64_t seed) {
    SimulatorOptions options;
    options.seed = seed;
    options.fromModule = {0.2, 0.2};
    ModuleSimulator module(options);
    Bytes received;
    for (std::uint64_t ms = 1; ms <= 2000; ++ms) {
      std::uint8_t buffer[64];
      const std::size_t got = module.ToHost(buffer, 115200, ms * 1000);
      received.insert(received.end(), buffer, buffer + got);
    }
    return received;
  };
  EXPECT_EQ(run(5), run(5));
  EXPECT_NE(run(5), run(6));
}

TEST(ModuleSimulator, PacedBytesTakeElevenBitTimes) {
  SimulatorOptions options;
  options.paceLine = true;
  options.baudRate = 11000;  // one byte a millisecond
  options.bootMs = 0;        // talks from the first moment
  ModuleSimulator module(options);
  std::uint8_t buffer[64];
  EXPECT_EQ(module.ToHost(buffer, 11000, 0), 0u);
  std::size_t total = 0;
  for (std::uint64_t ms = 1; ms <= 5; ++ms) total += module.ToHost(buffer, 11000, ms * 1000);
  EXPECT_EQ(total, 5u);  // the first SYNC frame, byte by byte
}

// The module acts on each byte when the line delivers it, however late it is run: an answer
// starts on the line the moment its request is whole, carrying the request's acknowledgement.
TEST(ModuleSimulator, AnAnswerLeavesWhenItsRequestIsWholeHoweverLateTheModuleRuns) {
  SimulatorOptions options;
  options.paceLine = true;
  options.baudRate = 11000;  // one byte a millisecond
  options.bootMs = 0;        // talks from the first moment
  ModuleSimulator module(options);
  Host host(module, 11000);
  host.Wait(20);
  host.SendLink(kLinkSyncResp);
  host.Wait(40);
  host.SendLink(kLinkConfResp);
  host.Wait(40);
  ASSERT_TRUE(module.LinkActive());
  const std::uint64_t sent = host.now_;
  const Bytes request = BcspWireFrame(BcspEncodeHeader(0, 0, true, true, 2, 16), kBuildIdRequest);
  module.FromHost(request, 11000, sent);
  Bytes answer = kBuildIdRequest;
  answer[0] = 1;
  answer[10] = 0x27;
  answer[11] = 0x1F;
  const Bytes expected = BcspWireFrame(BcspEncodeHeader(0, 1, true, true, 2, 16), answer);
  // First run again when the answer's last byte is due: all of it is there, and nothing more.
  std::uint8_t buffer[256];
  const std::uint64_t due = sent + (request.size() + expected.size()) * 1000;
  ASSERT_EQ(module.ToHost(buffer, 11000, due - 1), expected.size() - 1);
  ASSERT_EQ(module.ToHost(std::span(buffer).subspan(expected.size() - 1), 11000, due), 1u);
  EXPECT_EQ(Bytes(buffer, buffer + expected.size()), expected);
  EXPECT_EQ(module.NextEventUs(), std::nullopt);
}

// What a host at another rate than the module's reads: bytes, not silence, the same for the same
// seed, and never a frame; and the frames it sends reach the module as noise that it drops.
TEST(ModuleSimulator, AWrongRateGivesNoiseNotSilenceAndNoFrame) {
  auto listen = [](std::uint64_t seed, std::uint32_t hostBaud) {
    SimulatorOptions options;
    options.seed = seed;
    ModuleSimulator module(options);
    Bytes received;
    for (std::uint64_t ms = 1; ms <= 2000; ++ms) {
      std::uint8_t buffer[8];  // smaller than the noise of one byte may be
      for (std::size_t got = sizeof buffer; got == sizeof buffer;) {
        got = module.ToHost(buffer, hostBaud, ms * 1000);
        received.insert(received.end(), buffer, buffer + got);
      }
    }
    return received;
  };
  for (std::uint32_t hostBaud : {38400u, 921600u}) {
    SCOPED_TRACE(hostBaud);
    const Bytes noise = listen(5, hostBaud);
    EXPECT_FALSE(noise.empty());
    EXPECT_EQ(noise, listen(5, hostBaud));
    EXPECT_NE(noise, listen(6, hostBaud));
    BcspDeframer deframer;
    BcspHeaderBytes header{};
    std::array<std::uint8_t, 4200> body{};
    for (std::uint8_t byte : noise) {
      const BcspDeframed step = deframer.Push(byte, header, body);
      EXPECT_FALSE(step.frame && BcspHeaderValid(header) &&
                   BcspCheckBody(header, std::span(body.data(), step.stored)).verdict == FrameVerdict::kGood);
    }
  }

  ModuleSimulator module(SimulatorOptions{});
  Host host(module, 1382400);
  for (int i = 0; i < 200; ++i) {
    host.SendLink(i % 2 == 0 ? kLinkSyncResp : kLinkConfResp);
    host.Wait(2);
  }
  EXPECT_FALSE(module.LinkActive());
  const auto log = module.LogLines();
  EXPECT_TRUE(std::ranges::any_of(log, [](const std::string& line) {
    return line.find("dropped") != std::string::npos;
  })) << "the noise reached the module's link and was dropped there";
}

// Noise as a UART frames it: about as many bytes as the ratio of the rates, per byte sent, some
// bytes framing none and some several, the delimiter among them.
TEST(ModuleSimulator, NoiseFollowsTheRatioOfTheRates) {
  struct Case {
    std::uint32_t sender, receiver;
  };
  for (const Case c : {Case{921600, 115200}, Case{115200, 115200 + 1}, Case{115200, 921600}}) {
    std::mt19937_64 random(7);
    std::size_t total = 0, none = 0, several = 0, delimiters = 0;
    constexpr int kBytes = 20000;
    for (int i = 0; i < kBytes; ++i) {
      std::size_t framed = 0;
      Garble(c.sender, c.receiver, random, [&](std::uint8_t byte) {
        ++framed;
        delimiters += byte == kSlipDelimiter ? 1 : 0;
      });
      total += framed;
      none += framed == 0 ? 1 : 0;
      several += framed > 1 ? 1 : 0;
    }
    const double expected = kBytes * static_cast<double>(c.receiver) / c.sender;
    EXPECT_NEAR(static_cast<double>(total), expected, expected * 0.1) << c.sender << " -> " << c.receiver;
    EXPECT_GT(none, 0u);
    EXPECT_GT(delimiters, 0u);
    if (c.receiver >= c.sender) {
      EXPECT_GT(several, 0u);
    }
  }
  std::mt19937_64 random(7);
  int framed = 0;
  Garble(115200, 0, random, [&](std::uint8_t) { ++framed; });
  Garble(0, 115200, random, [&](std::uint8_t) { ++framed; });
  EXPECT_EQ(framed, 0) << "a line nobody drives";
}

// For its boot time after power-up and after a warm reset the module neither hears nor speaks:
// a host's SYNC then gets no answer; one sent after it does.
TEST(ModuleSimulator, NothingIsAnsweredDuringTheBootTime) {
  for (const bool warmReset : {false, true}) {
    SCOPED_TRACE(warmReset ? "after a warm reset" : "after power-up");
    SimulatorOptions options;
    ModuleSimulator module(options);
    Host host(module);
    std::uint64_t deafFromUs = 0;
    if (warmReset) {
      host.BringUp();
      host.SendReliable(kWarmReset);
      host.Wait(options.restartMs + 1);
      ASSERT_EQ(module.Restarts(), 1u);
      deafFromUs = host.now_ - 1000;
    }
    host.links.clear();
    while (host.now_ + 1000 < deafFromUs + std::uint64_t{options.bootMs} * 1000) {
      host.SendLink(kLinkSync);
      host.Wait(1);
    }
    EXPECT_TRUE(host.links.empty()) << "said something while booting";
    host.Wait(2);
    EXPECT_EQ(host.links, std::vector<LinkMessage>{kLinkSync}) << "its own SYNC once up, no answer to the host's";
    host.SendLink(kLinkSync);
    host.Wait(1);
    EXPECT_EQ(host.links.size(), 3u);
    EXPECT_EQ(host.links[1], kLinkSyncResp);
  }
}

// A key its flash cannot keep is not kept, and answered with an error status; the flash sees each
// key with the store as it is to be.
TEST(ModuleSimulator, AKeyTheFlashCannotKeepIsRefused) {
  struct RefusingFlash final : StoreFlash {
    std::string Write(const PsStore& store, std::uint16_t key) override {
      written.push_back(key);
      if (key == 2) return "the disk is full";
      EXPECT_NE(store.Get(key), nullptr);
      return {};
    }
    std::vector<std::uint16_t> written;
  } flash;
  ModuleSimulator module(SimulatorOptions{}, PsStore{}, &flash);
  Host host(module);
  host.BringUp();
  host.Ask(KeyRequest(2, 0x0001, {0x0005}));
  host.Ask(KeyRequest(3, 0x0002, {0x0006}));
  ASSERT_EQ(host.packets.size(), 2u);
  EXPECT_EQ(host.packets[0].second[8], kStatusOk);
  EXPECT_EQ(host.packets[1].second[8], kStatusError);
  EXPECT_EQ(flash.written, (std::vector<std::uint16_t>{1, 2}));
  EXPECT_NE(module.Store().Get(0x0001), nullptr);
  EXPECT_EQ(module.Store().Get(0x0002), nullptr);
  EXPECT_EQ(module.Requests()[1].status, kStatusError);
}

TEST(PsStore, PsrRoundTripAndDamagedLines) {
  PsStore store;
  std::string error;
  ASSERT_TRUE(store.FromPsr("// comment &0001 = 1\n&01be = 0EBF\n?0002=0001 abcd // note\n&0003-\n&0004 =\n", &error));
  EXPECT_EQ(store.Keys().size(), 3u);
  EXPECT_EQ(*store.Get(0x0002), (std::vector<std::uint16_t>{0x0001, 0xABCD}));
  EXPECT_TRUE(store.Get(0x0004)->empty());
  PsStore copy;
  ASSERT_TRUE(copy.FromPsr(store.ToPsr(), &error));
  EXPECT_EQ(copy.Keys(), store.Keys());
  const struct {
    const char* text;
    const char* error;
  } damaged[] = {
      {"&0001 = 1\n&zz = 1\n", "line 2: no key number"},
      {"&0001 = 1 10000\n", "line 1: value 10000 out of range"},
      {"&10000 = 1\n", "line 1: key number 10000 out of range"},
      {"\n&0001 = 1 zz\n", "line 2: \"zz\" is not a value"},
  };
  for (const auto& d : damaged) {
    EXPECT_FALSE(copy.FromPsr(d.text, &error)) << d.text;
    EXPECT_EQ(error, d.error);
    EXPECT_EQ(copy.Keys(), store.Keys()) << "a refused file leaves the store as it was";
  }
}

// The rate a module comes up at from its store, by the keys' precedence; --baud is its own
// default, for a store that names no rate.
TEST(ModuleSimulator, PowersUpAtTheRateItsStoreNames) {
  struct Case {
    std::string psr;
    std::uint32_t ownDefault = 115200;
    std::uint32_t rate = 0;
  };
  std::vector<Case> cases = {
      {"&0191 = 01d8\n&01be = 0ebf\n", 115200, 115200},  // &0191 comes first
      {"&0204 = 075f\n&0207 = 009d\n", 115200, 460800},
      {"&0207 = 00ec\n", 115200, 57600},
      {"&0191 = 1234\n&01be = 0ebf\n", 115200, 115200},  // the deciding value is outside the table
      {"&0191 =\n&01be = 03b0\n", 115200, 230400},       // a key without values decides nothing
      {"", 921600, 921600},
      {"&01be = 009d\n", 921600, 38400},
  };
  for (const UartRateValue& entry : kUartRates) {
    char line[32];
    std::snprintf(line, sizeof line, "&01be = %04x\n", entry.value);
    cases.push_back({line, 115200, entry.rate});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.psr);
    PsStore store;
    std::string error;
    ASSERT_TRUE(store.FromPsr(c.psr, &error));
    SimulatorOptions options;
    options.baudRate = c.ownDefault;
    ModuleSimulator module(options, store);
    EXPECT_EQ(module.BaudRate(), c.rate);
    Host host(module, c.rate);
    host.Wait(options.bootMs + 5);
    EXPECT_EQ(host.links, std::vector<LinkMessage>{kLinkSync}) << "its first SYNC, at that rate";
  }
}

TEST(ModuleSimulator, ExaminesWhatAModuleMustReadToAct) {
  struct Case {
    const char* what;
    Bytes request;
    std::uint16_t status;
  };
  auto with = [](Bytes bytes, std::size_t at, std::uint8_t value) {
    bytes[at] = value;
    return bytes;
  };
  const Bytes key = KeyRequest(2, 0x0001, {0x0005, 0x0006});
  Bytes missing = key;
  missing.resize(18);  // one value of the two announced
  const Case cases[] = {
      {"a key set", key, kStatusOk},
      {"a key get", with(key, 0, 0), kStatusOk},
      {"a response as a request", with(key, 0, 1), kStatusBadRequest},
      {"an unknown type", with(key, 0, 7), kStatusBadRequest},
      {"a length word that does not match", with(key, 2, 11), kStatusBadRequest},
      {"a value-length word that does not match", with(key, 12, 1), kStatusBadRequest},
      {"values missing", with(missing, 2, 9), kStatusBadRequest},
      {"an odd byte",
       [&] {
         Bytes b = key;
         b.push_back(0);
         return b;
       }(),
       kStatusBadRequest},
      {"the build identifier, 9 in 16 bytes", kBuildIdRequest, kStatusOk},
      {"the build identifier set", with(kBuildIdRequest, 0, 2), kStatusBadRequest},
      {"the warm reset, 9 in 16 bytes", kWarmReset, kStatusOk},
      {"the warm reset as a get", with(kWarmReset, 0, 0), kStatusBadRequest},
      {"the warm reset saying 12 words", with(kWarmReset, 2, 12), kStatusBadRequest},
      {"an unknown variable", with(kWarmReset, 7, 0x41), kStatusNoSuchVariable},
      {"a header cut short", Bytes(kWarmReset.begin(), kWarmReset.begin() + 14), kStatusBadRequest},
  };
  for (const Case& c : cases) EXPECT_EQ(ExamineBccmdRequest(c.request), c.status) << c.what;
}

TEST(SimulatorArguments, NumbersAreTakenOnlyWholeAndInRange) {
  struct Case {
    std::vector<std::string> arguments;
    bool accepted;
  };
  const Case cases[] = {
      {{"--link", "4", "--error-status", "65535", "--loss-in", "0.5", "--seed", "18446744073709551615"}, true},
      {{"--link", "1e12"}, false},
      {{"--link", "0"}, false},
      {{"--link", "256"}, false},
      {{"--error-status", "70000"}, false},
      {{"--error-status", "-1"}, false},
      {{"--answer-delay", "1.5"}, false},
      {{"--loss-out", "2"}, false},
      {{"--loss-out", "nan"}, false},
      {{"--baud", "0"}, false},
      {{"--seed", "18446744073709551616"}, false},
      {{"--restart-after"}, false},
      {{"--bogus"}, false},
  };
  for (const Case& c : cases) {
    SimulatorCommand command;
    const std::string problem = ReadSimulatorArguments(c.arguments, &command);
    EXPECT_EQ(problem.empty(), c.accepted) << c.arguments[0] << " " << problem;
    if (!c.accepted) {
      EXPECT_NE(problem.find(c.arguments[0]), std::string::npos) << problem;
    }
  }
  SimulatorCommand command;
  ASSERT_EQ(ReadSimulatorArguments(cases[0].arguments, &command), "");
  EXPECT_EQ(command.link, 4);
  EXPECT_EQ(command.options.answerStatus, 0xFFFF);
}

TEST(PsStore, LoadingTakesOnlyARegularFile) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                       ("modsim-store-" + std::to_string(std::random_device{}()));
  std::filesystem::create_directories(folder / "sub");
  std::ofstream(folder / "keys.psr") << "&0001 = 0005\n";
  PsStore store;
  EXPECT_EQ(store.Load((folder / "sub").string()), "it is a folder");
  EXPECT_EQ(store.Load((folder / "none.psr").string()), "not found");
  if (std::filesystem::exists("/dev/null")) {
    EXPECT_EQ(store.Load("/dev/null"), "not a regular file");
  }
  EXPECT_EQ(store.Load((folder / "keys.psr").string()), "");
  EXPECT_EQ(store.Keys().size(), 1u);
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace quillon::sim
