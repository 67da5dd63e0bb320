// The module's UART rate as its PS store sets it: the four keys that can carry a rate, which of
// them a module applies, the key values that stand for each rate, and the order in which a host
// looks for a module whose rate it does not know.
//
// One table for both ends: the setup predicts from it the rate a PSR file leaves the module at,
// and the module simulator applies it at power-up and after a warm reset. Pure and constexpr.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

namespace quillon {

// In precedence order: the module applies the first of these keys that its store holds (a key
// written twice holds its last value). Which line of a file came last does not matter.
inline constexpr std::array<std::uint16_t, 4> kUartRateKeys = {0x0191, 0x01be, 0x0204, 0x0207};

struct UartRateValue {
  std::uint16_t value;  // the key's first word: the rate × 4096 / 1000000, rounded
  std::uint32_t rate;
};
inline constexpr std::array<UartRateValue, 7> kUartRates = {{
    {0x009D, 38400},
    {0x00EC, 57600},
    {0x01D8, 115200},
    {0x03B0, 230400},
    {0x075F, 460800},
    {0x0EBF, 921600},
    {0x161E, 1382400},
}};

// The rate of a module whose store sets none (or sets a value outside the table).
inline constexpr std::uint32_t kDefaultUartRate = 115200;

// The rate a key value stands for; 0 for a value outside the table.
constexpr std::uint32_t UartRateOfValue(std::uint32_t value) {
  for (const UartRateValue& entry : kUartRates) {
    if (entry.value == value) return entry.rate;
  }
  return 0;
}

// True for a rate of the table.
constexpr bool IsTableRate(std::uint32_t rate) {
  for (const UartRateValue& entry : kUartRates) {
    if (entry.rate == rate) return true;
  }
  return false;
}

// What a store makes of its rate keys.
struct AppliedUartRate {
  std::uint16_t key = 0;    // the key that decides; 0 when the store holds none of them
  std::uint16_t value = 0;  // its first word
  std::uint32_t rate = 0;   // the rate it stands for; 0 when the value is outside the table
  // The rate the module talks at: the key's, or the default.
  std::uint32_t Effective() const { return rate != 0 ? rate : kDefaultUartRate; }
};

// `firstValueOf(key)` gives the first word the store holds for a key (std::nullopt when it
// holds none, or holds the key without values).
template <typename FirstValueOf>
constexpr AppliedUartRate ApplyUartRateKeys(const FirstValueOf& firstValueOf) {
  for (std::uint16_t key : kUartRateKeys) {
    const std::optional<std::uint16_t> value = firstValueOf(key);
    if (!value) continue;
    return AppliedUartRate{key, *value, UartRateOfValue(*value)};
  }
  return {};
}

// Where to look for a module: `first` (a rate of 0 is skipped), then the default rate, then the
// rest of the table from the fastest down; no rate twice.
inline std::vector<std::uint32_t> UartRateSearchOrder(std::initializer_list<std::uint32_t> first) {
  std::vector<std::uint32_t> order;
  auto add = [&](std::uint32_t rate) {
    if (rate == 0) return;
    for (std::uint32_t known : order) {
      if (known == rate) return;
    }
    order.push_back(rate);
  };
  for (std::uint32_t rate : first) add(rate);
  add(kDefaultUartRate);
  for (auto entry = kUartRates.rbegin(); entry != kUartRates.rend(); ++entry) add(entry->rate);
  return order;
}

}  // namespace quillon
