#include "tools/quillon_device/bluetooth_stack.h"

#include <array>
#include <span>

#include "platform/text.h"
#include "tools/quillon_device/link_establishment.h"
#include "tools/quillon_device/registry_values.h"
#include "tools/quillon_device/stack_keys.h"

namespace quillon::device {
namespace {

std::string Utf8(std::wstring_view text) { return platform::WideToUtf8(text); }

bool BringLinkUp(platform::SerialDevice& port, platform::Clock& clock, std::uint32_t waitMs) {
  LinkEstablishment link;
  const std::uint32_t start = clock.TickCount();
  std::array<std::uint8_t, 256> buffer{};
  for (;;) {
    const std::uint32_t now = clock.TickCount();
    const std::vector<std::uint8_t> out = link.Poll(now);
    std::uint32_t written = 0;
    if (!out.empty() && port.Write(out, &written) != platform::kSuccess) return false;
    std::uint32_t got = 0;
    if (port.Read(buffer, &got) != platform::kSuccess) return false;
    link.OnBytes(std::span(buffer.data(), got));
    if (link.Up()) {
      // The module's CONF RESP may wait for an answer to its own CONF.
      const std::vector<std::uint8_t> last = link.Poll(clock.TickCount());
      if (!last.empty()) (void)port.Write(last, &written);
      return true;
    }
    if (now - start >= waitMs) return false;
    if (got == 0) clock.Sleep(5);
  }
}

void NoteInHciCache(platform::Registry& registry, const StackPlan& plan, const ReportLine& report) {
  std::unique_ptr<platform::RegistryKey> cache;
  if (registry.CreateKey(kHciCacheKey, &cache) != platform::kSuccess) {
    report("stack: cannot write its HCI cache key");
    return;
  }
  // Only what differs is written, so that a registry the stack agrees with stays untouched.
  std::array<std::uint8_t, 260> data{};
  std::uint32_t type = 0;
  std::size_t length = 0;
  const bool sameName = cache->QueryValue(L"Name", &type, data, &length) == platform::kSuccess &&
                        type == platform::kRegSz &&
                        platform::EqualsIgnoringCase(TextOfValueData(std::span(data.data(), length)), plan.port);
  if (!sameName) {
    (void)cache->SetValue(L"Name", platform::kRegSz, StringValueData(plan.port));
    report("stack: HCI cache now names " + Utf8(plan.port));
  }
  const bool sameBaud = cache->QueryValue(L"baud", &type, data, &length) == platform::kSuccess &&
                        type == platform::kRegDword &&
                        DwordOfValueData(std::span(data.data(), length)) == plan.baudRate;
  if (!sameBaud) {
    (void)cache->SetValue(L"baud", platform::kRegDword, DwordValueData(plan.baudRate));
    report("stack: HCI cache baud now " + std::to_string(plan.baudRate));
  }
  (void)cache->Flush();
}

}  // namespace

std::unique_ptr<BluetoothStack> BluetoothStack::Boot(StackRoles roles, std::uint32_t waitMs, const ReportLine& report) {
  auto stack = std::unique_ptr<BluetoothStack>(new BluetoothStack());
  const StackPlan plan = ReadStackKeys(roles.registry);
  for (const std::string& note : plan.notes) report("stack: " + note);
  if (!plan.refusal.empty()) {
    report("stack not started: " + plan.refusal);
    return stack;
  }
  if (!plan.start) {
    report("stack not started: no port to open");
    return stack;
  }
  const std::string port = Utf8(plan.port);
  platform::ErrorCode error = platform::kSuccess;
  std::unique_ptr<platform::SerialDevice> device = roles.serial.Open(plan.port, &error);
  if (device == nullptr) {
    report("stack cannot open " + port + " (error " + std::to_string(error) + ")");
    return stack;
  }
  platform::LineSettings line;
  line.baudRate = plan.baudRate;
  line.dataBits = 8;
  line.parity = platform::Parity::kEven;
  line.stopBits = platform::StopBits::kOne;
  if (const platform::ErrorCode set = device->SetLineState(line); set != platform::kSuccess) {
    report("stack cannot set " + port + " to " + std::to_string(plan.baudRate) + " (error " + std::to_string(set) +
           ")");
    return stack;
  }
  (void)device->SetTimeouts(platform::kReadReturnsAtOnce);
  (void)device->Purge();
  if (!BringLinkUp(*device, roles.clock, waitMs)) {
    report("stack cannot reach the module at " + std::to_string(plan.baudRate));
    return stack;
  }
  report("stack up on " + port + " at " + std::to_string(plan.baudRate));
  NoteInHciCache(roles.registry, plan, report);
  stack->port_ = std::move(device);
  return stack;
}

}  // namespace quillon::device
