// Arbitrary bytes on the line into the link engine's receiver: whatever arrives, the engine stays
// inside its buffers and keeps polling. The first byte chooses the receive capacity.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "bcsp/bcsp_link.h"
#include "tests/fakes/fake_platform.h"
#include "tests/fakes/recording_console.h"
#include "trace/trace.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillon;
  if (size == 0) return 0;
  testing::FakePlatform fake;
  Trace trace(fake.roles);
  platform::ProcessWide<Trace>::Scoped useTrace(trace);
  SerialPort port(fake.roles);
  if (port.InitialiseWindows(L"COM1:", 115200) != 0) std::abort();
  testing::RecordingConsole console;
  BcspLink link(port, fake.clock, console);

  // Capacity 0..512 in a buffer of exactly that size, so that the sanitizer sees any overrun.
  const std::size_t capacity = (static_cast<std::size_t>(data[0]) * 2 + 1) % 513;
  std::vector<std::uint8_t> buffer(capacity);
  BcspPacket receive{2, 1, 1, static_cast<std::uint16_t>(capacity), buffer.data()};
  std::array<std::uint8_t, 3> sendPayload = {0xC0, 0xDB, 0x01};
  BcspPacket send{2, 1, 1, 3, sendPayload.data()};

  link.Initialise();
  link.ArmReceive(&receive);
  // Feed in chunks so that frames straddle reads.
  for (std::size_t at = 1; at < size; at += 37) {
    fake.serialScript.reads.emplace_back(data + at, data + std::min(size, at + 37));
  }
  for (int poll = 0; poll < 4000; ++poll) {
    std::uint8_t activity = 0;
    link.Poll(&activity);
    if ((activity & RxDone) != 0) {
      if (receive.length > capacity) std::abort();  // a delivery never claims more than fits
      receive.length = static_cast<std::uint16_t>(capacity);
      link.ArmReceive(&receive);
    }
    if ((activity & TxDone) != 0) link.QueueSend(&send);
    if (fake.serialScript.reads.empty() && poll > 200) break;
  }
  return 0;
}
