// The Windows back end's roles, owned by the program that builds them.
#include <cstdlib>

#include "platform/native_platform.h"
#include "platform/win32/clock_win32.h"
#include "platform/win32/files_win32.h"
#include "platform/win32/kernel_objects_win32.h"
#include "platform/win32/messages_win32.h"
#include "platform/win32/registry_win32.h"
#include "platform/win32/serial_win32.h"
#include "platform/win32/system_win32.h"
#include "platform/win32/win32_names.h"

namespace quillon::platform {
namespace {

std::wstring DeviceRoot() {
  wchar_t value[MAX_PATH + 1] = {};
  const DWORD length = GetEnvironmentVariableW(L"QUILLON_DEVICE_ROOT", value, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::wstring(value, length) : std::wstring();
}

std::wstring RecordFolder(const std::wstring& deviceRoot) {
  if (!deviceRoot.empty()) return deviceRoot;
  wchar_t temporary[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH, temporary);
  std::wstring folder(temporary, length);
  while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  return folder;
}

}  // namespace

struct NativePlatform::BackEnd {
  std::wstring deviceRoot = DeviceRoot();
  win32::Win32Clock clock;
  win32::Win32KernelObjects kernel;
  win32::Win32Files files{deviceRoot};
  win32::Win32Registry registry;
  win32::Win32SerialDevices serial;
  win32::Win32System system{RecordFolder(deviceRoot)};
  win32::Win32WindowMessages messages;
  Platform roles{&clock, &kernel, &files, &files, &registry, &serial, &system, &messages};
};

NativePlatform::NativePlatform() : backEnd_(std::make_unique<BackEnd>()) {}

NativePlatform::~NativePlatform() = default;

const Platform& NativePlatform::Roles() const { return backEnd_->roles; }

}  // namespace quillon::platform
