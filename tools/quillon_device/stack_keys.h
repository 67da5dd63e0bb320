// What the emulated Bluetooth stack finds in its registry keys at boot.
//
// The stack looks through "Software\Microsoft\Bluetooth\Transports" depth-first (a key's values
// before its subkeys, in enumeration order) for keys with a string value "Name". A name that
// starts with the marker "XXX" is a transport switched off: its port stays free. The first
// transport with an unmarked name is the one the stack starts, at its 32-bit "baud" (115200
// when the value is missing). A "baud" of another type or size, or of 0, stops the stack: a real
// driver would not know its rate either.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace quillon::device {

inline constexpr wchar_t kTransportsKey[] = L"Software\\Microsoft\\Bluetooth\\Transports";
inline constexpr wchar_t kHciCacheKey[] = L"Software\\Microsoft\\Bluetooth\\Hci";
inline constexpr wchar_t kPortMarker[] = L"XXX";
inline constexpr std::uint32_t kStackDefaultBaud = 115200;
// Transport trees deeper than this are not looked into (names of 260 characters each would
// otherwise make paths without end).
inline constexpr int kTransportTreeDepth = 8;

struct StackPlan {
  bool start = false;              // a transport names an unmarked port
  std::wstring transportKey;       // full path of that transport key
  std::wstring port;               // its "Name"
  std::uint32_t baudRate = 0;      // its "baud"
  std::vector<std::string> notes;  // what was found, one line each, for the boot's report
  std::string refusal;             // why the stack does not start although a transport was found
};

StackPlan ReadStackKeys(platform::Registry& registry);

}  // namespace quillon::device
