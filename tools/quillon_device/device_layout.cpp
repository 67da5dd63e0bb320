#include "tools/quillon_device/device_layout.h"

#include <array>
#include <memory>

namespace quillon::device {

std::vector<LayoutValue> FreshDeviceRegistry(unsigned portNumber) {
  const std::wstring port = L"COM" + std::to_wstring(portNumber) + L":";
  auto text = [](const wchar_t* key, const wchar_t* name, std::wstring_view value) {
    return LayoutValue{key, name, platform::kRegSz, StringValueData(value)};
  };
  auto dword = [](const wchar_t* key, const wchar_t* name, std::uint32_t value) {
    return LayoutValue{key, name, platform::kRegDword, DwordValueData(value)};
  };
  return {
      text(kBuiltInTransportKey, L"dll", L"bthuart.dll"),
      text(kBuiltInTransportKey, L"Name", port),
      dword(kBuiltInTransportKey, L"baud", kFreshDeviceBaud),
      dword(kBuiltInTransportKey, L"flags", 0),
      text(L"Software\\Microsoft\\Bluetooth\\Hci", L"Name", port),
      dword(L"Software\\Microsoft\\Bluetooth\\Hci", L"baud", kFreshDeviceBaud),
      dword(kBackupBaudKey, L"baud", kFreshDeviceBaud),
      text(L"Drivers\\Active\\01", L"Name", L"BKL1:"),
      text(L"Drivers\\Active\\01", L"Key", L"Drivers\\BuiltIn\\Backlight"),
      dword(L"Drivers\\Active\\01", L"Hnd", 0x00061a00),
      text(L"Drivers\\Active\\02", L"Name", port),
      text(L"Drivers\\Active\\02", L"Key", kModuleSerialDriverKey),
      dword(L"Drivers\\Active\\02", L"Hnd", 0x00062b00),
      text(L"Drivers\\Active\\03", L"Name", L"DSK1:"),
      text(L"Drivers\\Active\\03", L"Key", L"Drivers\\BuiltIn\\Storage"),
      dword(L"Drivers\\Active\\03", L"Hnd", 0x00063c00),
      text(kModuleSerialDriverKey, L"Prefix", L"COM"),
      dword(kModuleSerialDriverKey, L"Index", portNumber),
      text(kModuleSerialDriverKey, L"Dll", L"serial.dll"),
  };
}

platform::ErrorCode WriteRegistryValues(platform::Registry& registry, const std::vector<LayoutValue>& values) {
  for (const LayoutValue& value : values) {
    std::unique_ptr<platform::RegistryKey> key;
    if (const platform::ErrorCode created = registry.CreateKey(value.key, &key); created != platform::kSuccess) {
      return created;
    }
    if (const platform::ErrorCode set = key->SetValue(value.name, value.type, value.data); set != platform::kSuccess) {
      return set;
    }
  }
  return platform::kSuccess;
}

unsigned ModulePortNumber(platform::Registry& registry) {
  std::unique_ptr<platform::RegistryKey> key;
  if (registry.OpenKey(kModuleSerialDriverKey, platform::RegistryAccess::kRead, &key) != platform::kSuccess) return 0;
  std::array<std::uint8_t, 4> data{};
  std::uint32_t type = 0;
  std::size_t length = 0;
  if (key->QueryValue(L"Index", &type, data, &length) != platform::kSuccess || type != platform::kRegDword) return 0;
  return DwordOfValueData(std::span(data.data(), length)).value_or(0);
}

}  // namespace quillon::device
