// The registry of a fresh handheld as `quillon-device init` writes it: the Bluetooth stack's
// built-in transport, its HCI cache key, "Software\Microsoft\HCI", the active drivers with the
// serial driver of the module's port, and that driver's own key.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "tools/quillon_device/registry_values.h"

namespace quillon::device {

inline constexpr wchar_t kBuiltInTransportKey[] = L"Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1";
inline constexpr wchar_t kBackupBaudKey[] = L"Software\\Microsoft\\HCI";
inline constexpr wchar_t kActiveDriversKey[] = L"Drivers\\Active";
// The serial driver the module is wired to: its "Index" is the number of the module's COM port.
inline constexpr wchar_t kModuleSerialDriverKey[] = L"Drivers\\BuiltIn\\Serial";
inline constexpr std::uint32_t kFreshDeviceBaud = 115200;

struct LayoutValue {
  std::wstring key;
  std::wstring name;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

// Every value of a fresh device whose module is on COM<portNumber>:.
std::vector<LayoutValue> FreshDeviceRegistry(unsigned portNumber);

// Writes the values (creating their keys). kSuccess, or the first error.
platform::ErrorCode WriteRegistryValues(platform::Registry& registry, const std::vector<LayoutValue>& values);

// The number of the module's COM port, from the serial driver's "Index"; 0 when it is missing.
unsigned ModulePortNumber(platform::Registry& registry);

}  // namespace quillon::device
