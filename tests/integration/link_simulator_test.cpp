// The link engine against the module simulator: in this process with a manual clock, and over a
// pseudo-terminal through the real serial port.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <vector>

#include "bcsp/bcsp_link.h"
#include "platform/posix/clock_posix.h"
#include "platform/posix/serial_posix.h"
#include "platform/text.h"
#include "tests/fakes/fake_platform.h"
#include "tests/fakes/recording_console.h"
#include "tests/support/temp_device.h"
#include "tools/module_simulator/in_process_serial.h"
#include "tools/module_simulator/pty_simulator.h"
#include "trace/trace.h"

namespace quillon {
namespace {

// A stream of PS key set requests, one in flight at a time, with every answer taken: what the
// programming run does, without its bookkeeping.
class RequestStream {
 public:
  RequestStream(BcspLink& link, platform::Clock& clock) : link_(link), clock_(clock) {
    receive_.payload = receiveBuffer_.data();
  }

  // Sends `count` requests; false when `pollLimit` polls were not enough.
  bool Run(std::uint16_t count, long pollLimit) {
    link_.Initialise();
    Rearm();
    bool linkUp = false;
    bool resendCurrent = false;
    for (long polls = 0; polls < pollLimit; ++polls) {
      std::uint8_t activity = 0;
      const std::uint8_t pause = link_.Poll(&activity);
      if ((activity & PeerReset) != 0) {
        // The module restarted: whatever was in flight goes again once the link is back.
        linkUp = false;
        resendCurrent = true;
        ++peerResets;
      }
      if ((activity & RxDone) != 0) {
        ++answers;
        Rearm();
      }
      if ((activity & TxDone) != 0) {
        if (!linkUp) {
          linkUp = true;
          if (!resendCurrent) Next();
          resendCurrent = false;
        } else {
          if (sent_ == count) return true;
          Next();
        }
        link_.QueueSend(&send_);
      }
      if (activity == 0 && pause != 0) clock_.Sleep(1);
    }
    return false;
  }

  int answers = 0;
  int peerResets = 0;

 private:
  void Next() {
    ++sent_;
    // A PS key set request for key `sent_` with the value `sent_`.
    const std::uint16_t words[] = {2, 9, static_cast<std::uint16_t>(sent_ + 1), 0x7003, 0, sent_, 1, 0, sent_};
    for (std::size_t i = 0; i < 9; ++i) {
      sendBuffer_[2 * i] = static_cast<std::uint8_t>(words[i] & 0xFF);
      sendBuffer_[2 * i + 1] = static_cast<std::uint8_t>(words[i] >> 8);
    }
    send_ = BcspPacket{2, 1, 1, 18, sendBuffer_.data()};
  }
  void Rearm() {
    receive_.length = 512;
    link_.ArmReceive(&receive_);
  }

  BcspLink& link_;
  platform::Clock& clock_;
  std::uint16_t sent_ = 0;
  std::array<std::uint8_t, 512> sendBuffer_{};
  std::array<std::uint8_t, 512> receiveBuffer_{};
  BcspPacket send_{};
  BcspPacket receive_{};
};

// The keys of the requests the module took, with repeats of the same request side by side folded.
std::vector<std::uint16_t> KeysTaken(const sim::ModuleSimulator& module, int* repeats) {
  std::vector<std::uint16_t> keys;
  *repeats = 0;
  for (const auto& request : module.Requests()) {
    if (!keys.empty() && keys.back() == request.psKey) {
      ++*repeats;
      continue;
    }
    keys.push_back(request.psKey);
  }
  return keys;
}

std::vector<std::uint16_t> OneTo(int count) {
  std::vector<std::uint16_t> keys;
  for (int key = 1; key <= count; ++key) keys.push_back(static_cast<std::uint16_t>(key));
  return keys;
}

// The link on the module simulator in this process, on a manual clock.
struct InProcessLink {
  explicit InProcessLink(const sim::SimulatorOptions& options) {
    module = std::make_unique<sim::ModuleSimulator>(options);
    devices = std::make_unique<sim::InProcessSerialDevices>(*module, fake.clock);
    roles.serial = devices.get();
    port = std::make_unique<SerialPort>(roles);
    EXPECT_EQ(port->InitialiseWindows(L"COM1:", 115200), 0);
    link = std::make_unique<BcspLink>(*port, fake.clock, console);
  }

  testing::FakePlatform fake;
  Trace trace{fake.roles};
  platform::ProcessWide<Trace>::Scoped useTrace{trace};
  platform::Platform roles = fake.roles;
  testing::RecordingConsole console;
  std::unique_ptr<sim::ModuleSimulator> module;
  std::unique_ptr<sim::InProcessSerialDevices> devices;
  std::unique_ptr<SerialPort> port;
  std::unique_ptr<BcspLink> link;
};

TEST(InProcessLink, AThousandRequestsArriveInOrderExactlyOnce) {
  struct Case {
    const char* what;
    double noise;  // byte loss and bit corruption, both ways
    std::uint32_t restartAfterRequests;
    long pollLimit;
    std::uint32_t restarts;
  };
  const Case cases[] = {{"a clean line", 0, 0, 2'000'000, 0},
                        {"noise in both directions", 0.02, 0, 20'000'000, 0},
                        {"the module restarts", 0, 400, 5'000'000, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::SimulatorOptions options;
    options.seed = 7;
    options.toModule = options.fromModule = {c.noise, c.noise};
    options.restartAfterRequests = c.restartAfterRequests;
    InProcessLink run(options);
    RequestStream stream(*run.link, run.fake.clock);
    ASSERT_TRUE(stream.Run(1000, c.pollLimit));
    EXPECT_EQ(run.module->Restarts(), c.restarts);
    EXPECT_EQ(stream.peerResets, static_cast<int>(c.restarts));
    int repeats = 0;
    EXPECT_EQ(KeysTaken(*run.module, &repeats), OneTo(1000));
    EXPECT_LE(repeats, static_cast<int>(c.restarts));  // at most the request in flight at a restart
    EXPECT_EQ(run.module->Requests().size(), 1000u + static_cast<std::size_t>(repeats));
    if (c.noise > 0) {
      EXPECT_NE(run.console.Take().find("########################"), std::string::npos);  // the noise was seen
    } else if (c.restarts == 0) {
      EXPECT_GE(stream.answers, 999);  // the last answer may still be on its way
      EXPECT_EQ(run.module->Store().Keys().size(), 1000u);
    }
  }
}

void RunOverPty(const sim::SimulatorOptions& options, std::uint16_t count) {
  testing::TempDevice device;
  sim::PtySimulator simulator(options);
  ASSERT_TRUE(simulator.Opened());
  ASSERT_EQ(simulator.LinkAs(device.Path(), 6), "");
  simulator.Start();

  testing::FakePlatform fake;
  Trace trace(fake.roles);
  platform::ProcessWide<Trace>::Scoped useTrace(trace);
  platform::posix::PosixSerialDevices serial(device.Root());
  platform::posix::PosixClock clock;
  platform::Platform roles = fake.roles;
  roles.serial = &serial;
  roles.clock = &clock;
  SerialPort port(roles);
  ASSERT_EQ(port.InitialiseWindows(L"COM6:", 115200), 0);
  testing::RecordingConsole console;
  BcspLink link(port, clock, console);
  RequestStream stream(link, clock);
  ASSERT_TRUE(stream.Run(count, 50'000'000));
  port.Close();
  simulator.Stop();
  int repeats = 0;
  EXPECT_EQ(KeysTaken(simulator.Module(), &repeats), OneTo(count));
  EXPECT_LE(repeats, static_cast<int>(simulator.Module().Restarts()));
  EXPECT_EQ(stream.peerResets, static_cast<int>(simulator.Module().Restarts()));
}

TEST(PtyLink, AThousandRequestsThroughTheRealSerialPort) { RunOverPty(sim::SimulatorOptions{}, 1000); }

TEST(PtyLink, TheLinkComesBackAfterTheModuleRestarts) {
  sim::SimulatorOptions options;
  options.restartAfterRequests = 100;
  RunOverPty(options, 200);
}

TEST(PtyLink, NoiseThroughTheRealSerialPort) {
  sim::SimulatorOptions options;
  options.seed = 11;
  options.toModule = {0.02, 0.02};
  options.fromModule = {0.02, 0.02};
  options.resendMs = 30;
  RunOverPty(options, 100);
}

}  // namespace
}  // namespace quillon
