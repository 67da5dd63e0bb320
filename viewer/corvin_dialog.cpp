#include "viewer/corvin_dialog.h"

#include <cstdint>
#include <cstring>
#include <memory>

#include "viewer/corvin_resources.h"

namespace quillon::viewer {

void ShowBaudRate(platform::DialogWindow& dialog, platform::Registry& registry) {
  // The viewer only reads: asking for write access would fail where the user may not change the
  // machine's keys, and the viewer would then claim there is no Bluetooth.
  std::unique_ptr<platform::RegistryKey> key;
  // Another program holding the registry says nothing about the stack.
  const platform::ErrorCode opened = registry.OpenKey(kBuiltInTransportKey, platform::RegistryAccess::kRead, &key);
  if (opened != platform::kSuccess) {
    dialog.SetControlText(CORVIN_BAUD_RATE_FIELD, opened == platform::kErrorBusy ? kRegistryBusy : kNoBluetooth);
    return;
  }
  std::uint8_t data[4] = {};
  std::uint32_t type = platform::kRegNone;
  std::size_t length = 0;
  const platform::ErrorCode read = key->QueryValue(kBaudValue, &type, data, &length);
  if (read == platform::kErrorFileNotFound) return;  // no "baud": the field keeps its text
  if (read == platform::kErrorBusy) {
    dialog.SetControlText(CORVIN_BAUD_RATE_FIELD, kRegistryBusy);
    return;
  }
  // A value of another type or size is no baud rate: showing its first bytes as one would be a
  // made-up number.
  if (read != platform::kSuccess || type != platform::kRegDword || length != sizeof data) {
    dialog.SetControlText(CORVIN_BAUD_RATE_FIELD, kInvalidBaudRate);
    return;
  }
  std::uint32_t baud = 0;
  std::memcpy(&baud, data, sizeof baud);  // registry numbers are little-endian, as the host
  dialog.SetControlUnsigned(CORVIN_BAUD_RATE_FIELD, baud);
}

bool CorvinDialog::OnCommand(platform::DialogWindow& window, int id) {
  switch (id) {
    case CORVIN_GET_BAUD_RATE:
      ShowBaudRate(window, registry_);
      return true;
    case CORVIN_QUIT:
      window.Destroy();
      window.PostQuit(0);
      return true;
    default:
      return false;
  }
}

}  // namespace quillon::viewer
