#include "tests/fakes/scripted_serial.h"

#include <algorithm>

namespace quillon::testing {
namespace {

class ScriptedDevice final : public platform::SerialDevice {
 public:
  explicit ScriptedDevice(SerialScript& script) : script_(script) { ++script_.openDevices; }
  ~ScriptedDevice() override {
    script_.calls.push_back("close");
    --script_.openDevices;
  }
  ScriptedDevice(const ScriptedDevice&) = delete;
  ScriptedDevice& operator=(const ScriptedDevice&) = delete;

  platform::ErrorCode SetLineState(const platform::LineSettings& settings) override {
    script_.line = settings;
    return Step("line");
  }
  platform::ErrorCode SetTimeouts(const platform::Timeouts& timeouts) override {
    script_.timeouts = timeouts;
    return Step("timeouts");
  }
  platform::ErrorCode SetupQueues(std::uint32_t inputBytes, std::uint32_t outputBytes) override {
    return Step("queues " + std::to_string(inputBytes) + "/" + std::to_string(outputBytes), "queues");
  }
  platform::ErrorCode Escape(platform::ModemLine line) override {
    static constexpr const char* kNames[] = {"clear DTR", "clear RTS", "set DTR", "set RTS"};
    return Step(kNames[static_cast<int>(line)], "escape");
  }
  platform::ErrorCode Purge() override { return Step("purge"); }
  platform::ErrorCode Read(std::span<std::uint8_t> buffer, std::uint32_t* got) override {
    script_.calls.push_back("read " + std::to_string(buffer.size()));
    if (++script_.readCalls == script_.stopAtRead && script_.stop != nullptr) script_.stop->Set();
    *got = 0;
    if (script_.reads.empty()) return platform::kSuccess;
    std::vector<std::uint8_t>& chunk = script_.reads.front();
    const std::size_t count = std::min(chunk.size(), buffer.size());
    std::copy_n(chunk.begin(), count, buffer.begin());
    chunk.erase(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(count));
    if (chunk.empty()) script_.reads.pop_front();
    *got = static_cast<std::uint32_t>(count);
    if (count != 0) script_.deliveries.push_back(script_.calls.size() - 1);
    return platform::kSuccess;
  }
  platform::ErrorCode Write(std::span<const std::uint8_t> bytes, std::uint32_t* written) override {
    script_.calls.push_back("write " + std::to_string(bytes.size()));
    const std::size_t start = script_.offered;
    script_.offered += bytes.size();
    std::size_t taken = bytes.size();
    if (start < script_.refuseTo && script_.offered > script_.refuseFrom) {
      taken = script_.refuseFrom > start ? script_.refuseFrom - start : 0;
    }
    script_.written.insert(script_.written.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(taken));
    if (script_.written.size() > script_.writeBackstop && script_.stop != nullptr) script_.stop->Set();
    *written = static_cast<std::uint32_t>(taken);
    if (taken == bytes.size()) return platform::kSuccess;
    return taken != 0 ? platform::kErrorTimeout : platform::kErrorGenFailure;
  }
  platform::InputWait WaitForInput(platform::Event* stop, std::uint32_t timeoutMs) override {
    if (!script_.canWait) return platform::InputWait::kUnsupported;
    script_.calls.push_back("wait " + std::to_string(timeoutMs));
    const int wait = ++script_.waits;
    if (script_.clock != nullptr) script_.clock->Set(script_.clock->TickCount() + 1);
    if (auto found = script_.arrivals.find(wait); found != script_.arrivals.end()) {
      script_.reads.push_back(found->second);
    }
    if (wait == script_.stopAtWait && stop != nullptr) stop->Set();
    if (stop != nullptr && stop->Wait(0)) return platform::InputWait::kStopped;
    if (!script_.reads.empty()) return platform::InputWait::kInput;
    return platform::InputWait::kTimedOut;
  }

 private:
  platform::ErrorCode Step(const std::string& call, const std::string& kind = {}) {
    script_.calls.push_back(call);
    auto found = script_.stepErrors.find(kind.empty() ? call : kind);
    return found == script_.stepErrors.end() ? platform::kSuccess : found->second;
  }
  SerialScript& script_;
};

}  // namespace

std::unique_ptr<platform::SerialDevice> ScriptedSerialDevices::Open(std::wstring_view name,
                                                                    platform::ErrorCode* error) {
  script_.calls.push_back("open");
  script_.openedName = std::wstring(name);
  *error = script_.openError;
  if (script_.openError != platform::kSuccess) return nullptr;
  return std::make_unique<ScriptedDevice>(script_);
}

}  // namespace quillon::testing
