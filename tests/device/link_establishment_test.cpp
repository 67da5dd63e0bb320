#include "tools/quillon_device/link_establishment.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "bcsp/bcsp_codec.h"
#include "tools/module_simulator/module_simulator.h"

namespace quillon::device {
namespace {

// Drives the stack's link against the simulated module for `ms` milliseconds of simulated time,
// the host's port set to `hostBaud`. Returns the millisecond at which the link came up, or -1.
int UpAfterMs(std::uint32_t moduleBaud, std::uint32_t hostBaud, int ms) {
  sim::SimulatorOptions options;
  options.baudRate = moduleBaud;
  sim::ModuleSimulator module(options);
  LinkEstablishment link;
  std::array<std::uint8_t, 512> buffer{};
  for (int now = 0; now <= ms; ++now) {
    const std::uint64_t nowUs = static_cast<std::uint64_t>(now) * 1000;
    const std::vector<std::uint8_t> out = link.Poll(static_cast<std::uint32_t>(now));
    module.FromHost(out, hostBaud, nowUs);
    const std::size_t got = module.ToHost(buffer, hostBaud, nowUs);
    link.OnBytes(std::span(buffer.data(), got));
    if (link.Up()) return now;
  }
  return -1;
}

// Formerly ComesUpWithAModuleAtTheSameRate and NeverComesUpAtAnotherRate.
TEST(LinkEstablishment, ComesUpOnlyWithAModuleAtTheSameRate) {
  EXPECT_GE(UpAfterMs(115200, 115200, 2000), 0);
  EXPECT_GE(UpAfterMs(921600, 921600, 2000), 0);
  EXPECT_EQ(UpAfterMs(921600, 115200, 3000), -1);
  EXPECT_EQ(UpAfterMs(115200, 921600, 3000), -1);
}

std::vector<std::uint8_t> LinkFrame(LinkMessage message) { return BcspWireFrame(kLinkHeader, kLinkMessages[message]); }

TEST(LinkEstablishment, AnswersSyncAndConfAndTakesOnlyGoodFrames) {
  LinkEstablishment link;
  std::vector<std::uint8_t> sent = link.Poll(0);
  EXPECT_EQ(sent, LinkFrame(kLinkSync));
  link.OnBytes(LinkFrame(kLinkConf));  // not answered before the module's SYNC RESP
  EXPECT_TRUE(link.Poll(100).empty()) << "SYNC again only after its interval";
  EXPECT_EQ(link.Poll(LinkEstablishment::kRepeatMs), LinkFrame(kLinkSync));

  // A SYNC RESP with a damaged CRC does not count.
  std::vector<std::uint8_t> damaged = LinkFrame(kLinkSyncResp);
  damaged[damaged.size() - 2] ^= 0x01;
  link.OnBytes(damaged);
  EXPECT_EQ(link.Poll(2 * LinkEstablishment::kRepeatMs), LinkFrame(kLinkSync));

  link.OnBytes(LinkFrame(kLinkConfResp));
  EXPECT_FALSE(link.Up()) << "CONF RESP counts only after SYNC RESP";
  link.OnBytes(LinkFrame(kLinkSync));
  link.OnBytes(LinkFrame(kLinkSyncResp));
  std::vector<std::uint8_t> expected = LinkFrame(kLinkSyncResp);
  const auto conf = LinkFrame(kLinkConf);
  expected.insert(expected.end(), conf.begin(), conf.end());
  EXPECT_EQ(link.Poll(2 * LinkEstablishment::kRepeatMs + 1), expected) << "the answer, then CONF at once";
  EXPECT_FALSE(link.Up());

  link.OnBytes(LinkFrame(kLinkConf));
  link.OnBytes(LinkFrame(kLinkConfResp));
  EXPECT_TRUE(link.Up());
  EXPECT_EQ(link.Poll(10000), LinkFrame(kLinkConfResp)) << "the module's CONF is answered, nothing more is sent";
}

}  // namespace
}  // namespace quillon::device
