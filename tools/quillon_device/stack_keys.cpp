#include "tools/quillon_device/stack_keys.h"

#include <array>
#include <cstdio>
#include <memory>

#include "platform/text.h"
#include "tools/quillon_device/registry_values.h"

namespace quillon::device {
namespace {

constexpr std::size_t kNameChars = 260;
constexpr std::size_t kDataBytes = 260;

class TransportSearch {
 public:
  TransportSearch(platform::Registry& registry, StackPlan* plan) : registry_(registry), plan_(plan) {}

  // Returns true when the search is over (a transport was chosen or refused).
  bool Search(const std::wstring& path, int depth) {
    std::unique_ptr<platform::RegistryKey> key;
    if (registry_.OpenKey(path, platform::RegistryAccess::kRead, &key) != platform::kSuccess) return false;
    if (Examine(path, *key)) return true;
    if (depth >= kTransportTreeDepth) {
      Note("transport tree below " + platform::WideToUtf8(path) + " is too deep; not looked into");
      return false;
    }
    std::array<wchar_t, kNameChars> name{};
    for (std::uint32_t index = 0;; ++index) {
      std::size_t length = 0;
      if (key->EnumKey(index, name, &length) != platform::kSuccess) break;
      if (Search(path + L"\\" + std::wstring(name.data(), length), depth + 1)) return true;
    }
    return false;
  }

 private:
  void Note(std::string line) { plan_->notes.push_back(std::move(line)); }

  bool Examine(const std::wstring& path, platform::RegistryKey& key) {
    std::array<std::uint8_t, kDataBytes> data{};
    std::uint32_t type = 0;
    std::size_t length = 0;
    const platform::ErrorCode read = key.QueryValue(L"Name", &type, data, &length);
    if (read == platform::kErrorFileNotFound) return false;
    const std::string where = platform::WideToUtf8(path);
    if (read != platform::kSuccess) {
      Note("transport " + where + ": \"Name\" cannot be read (error " + std::to_string(read) + "); skipped");
      return false;
    }
    if (type != platform::kRegSz) {
      Note("transport " + where + ": \"Name\" is of type " + std::to_string(type) + ", not a string; skipped");
      return false;
    }
    const std::wstring port = TextOfValueData(std::span(data.data(), length));
    if (port.empty()) {
      Note("transport " + where + ": \"Name\" is empty; skipped");
      return false;
    }
    if (port.starts_with(kPortMarker)) {
      Note("transport " + where + " names " + platform::WideToUtf8(port) + ", switched off: port left free");
      return false;
    }
    plan_->transportKey = path;
    plan_->port = port;
    return ReadBaud(where, key);
  }

  bool ReadBaud(const std::string& where, platform::RegistryKey& key) {
    std::array<std::uint8_t, kDataBytes> data{};
    std::uint32_t type = 0;
    std::size_t length = 0;
    const platform::ErrorCode read = key.QueryValue(L"baud", &type, data, &length);
    const std::string named = "transport " + where + " names " + platform::WideToUtf8(plan_->port);
    if (read == platform::kErrorFileNotFound) {
      Note(named + ", no \"baud\": " + std::to_string(kStackDefaultBaud) + " assumed");
      plan_->baudRate = kStackDefaultBaud;
      plan_->start = true;
      return true;
    }
    const auto number = read == platform::kSuccess && type == platform::kRegDword
                            ? DwordOfValueData(std::span(data.data(), length))
                            : std::nullopt;
    if (!number) {
      char line[160];
      std::snprintf(line, sizeof line, "\"baud\" is of type %u and %zu bytes long, not a 32-bit number",
                    static_cast<unsigned>(type), read == platform::kSuccess ? length : std::size_t{0});
      Note(named);
      plan_->refusal = std::string("transport ") + where + ": " + line;
      return true;
    }
    const std::uint32_t baud = *number;
    Note(named + " at " + std::to_string(baud));
    if (baud == 0) {
      plan_->refusal = "transport " + where + ": \"baud\" is 0";
      return true;
    }
    plan_->baudRate = baud;
    plan_->start = true;
    return true;
  }

  platform::Registry& registry_;
  StackPlan* plan_;
};

}  // namespace

StackPlan ReadStackKeys(platform::Registry& registry) {
  StackPlan plan;
  std::unique_ptr<platform::RegistryKey> transports;
  if (registry.OpenKey(kTransportsKey, platform::RegistryAccess::kRead, &transports) != platform::kSuccess) {
    plan.notes.push_back("no key " + platform::WideToUtf8(kTransportsKey) + ": no transport to start");
    return plan;
  }
  transports.reset();
  TransportSearch search(registry, &plan);
  if (!search.Search(kTransportsKey, 0)) plan.notes.push_back("no transport names an unmarked port");
  return plan;
}

}  // namespace quillon::device
