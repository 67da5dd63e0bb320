#include "tools/module_simulator/in_process_serial.h"

namespace quillon::sim {

class InProcessDevice final : public platform::SerialDevice {
 public:
  explicit InProcessDevice(InProcessSerialDevices& owner) : owner_(owner) { owner_.inUse_ = true; }
  ~InProcessDevice() override { owner_.inUse_ = false; }
  InProcessDevice(const InProcessDevice&) = delete;
  InProcessDevice& operator=(const InProcessDevice&) = delete;

  platform::ErrorCode SetLineState(const platform::LineSettings& settings) override {
    if (settings.baudRate == 0 || settings.dataBits != 8) return platform::kErrorInvalidParameter;
    baud_ = settings.baudRate;
    return platform::kSuccess;
  }
  platform::ErrorCode SetTimeouts(const platform::Timeouts&) override { return platform::kSuccess; }
  platform::ErrorCode SetupQueues(std::uint32_t, std::uint32_t) override { return platform::kSuccess; }
  platform::ErrorCode Escape(platform::ModemLine) override { return platform::kSuccess; }
  platform::ErrorCode Purge() override {
    std::uint8_t discard[256];
    while (owner_.module_.ToHost(discard, baud_, Now()) == sizeof discard) {
    }
    return platform::kSuccess;
  }
  platform::ErrorCode Read(std::span<std::uint8_t> buffer, std::uint32_t* got) override {
    *got = static_cast<std::uint32_t>(owner_.module_.ToHost(buffer, baud_, Now()));
    return platform::kSuccess;
  }
  platform::ErrorCode Write(std::span<const std::uint8_t> bytes, std::uint32_t* written) override {
    owner_.module_.FromHost(bytes, baud_, Now());
    *written = static_cast<std::uint32_t>(bytes.size());
    return platform::kSuccess;
  }

 private:
  std::uint64_t Now() const { return std::uint64_t{owner_.clock_.TickCount()} * 1000; }
  InProcessSerialDevices& owner_;
  std::uint32_t baud_ = 0;
};

std::unique_ptr<platform::SerialDevice> InProcessSerialDevices::Open(std::wstring_view, platform::ErrorCode* error) {
  if (inUse_) {
    *error = platform::kErrorAccessDenied;
    return nullptr;
  }
  *error = platform::kSuccess;
  return std::make_unique<InProcessDevice>(*this);
}

}  // namespace quillon::sim
