// The baud-rate viewer's dialog: "Get Baud Rate" shows the built-in Bluetooth transport's
// configured baud rate, read afresh from the registry on every press; "Quit" ends the program.
#pragma once

#include "platform/dialog_host.h"
#include "platform/registry.h"

namespace quillon::viewer {

inline constexpr wchar_t kBuiltInTransportKey[] = L"Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1";
inline constexpr wchar_t kBaudValue[] = L"baud";
inline constexpr wchar_t kNoBluetooth[] = L"No Bluetooth detected";
inline constexpr wchar_t kInvalidBaudRate[] = L"Invalid baud rate value";
inline constexpr wchar_t kRegistryBusy[] = L"Registry busy, try again";

// Reads "baud" and shows it in the field: the number as an unsigned decimal; "No Bluetooth
// detected" when the transport's key cannot be opened; "Invalid baud rate value" when "baud" is
// not a 4-byte number. A key without a "baud" value leaves the field as it is.
void ShowBaudRate(platform::DialogWindow& dialog, platform::Registry& registry);

class CorvinDialog final : public platform::DialogProcedure {
 public:
  explicit CorvinDialog(platform::Registry& registry) : registry_(registry) {}
  bool OnCommand(platform::DialogWindow& window, int id) override;

 private:
  platform::Registry& registry_;
};

}  // namespace quillon::viewer
