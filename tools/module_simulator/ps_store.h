// The simulated module's Persistent Store: key number to values, kept as PSR text.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "psconfig/uart_rate.h"

namespace quillon::sim {

class PsStore {
 public:
  void Set(std::uint16_t key, std::vector<std::uint16_t> values) { keys_[key] = std::move(values); }
  const std::vector<std::uint16_t>* Get(std::uint16_t key) const;
  const std::map<std::uint16_t, std::vector<std::uint16_t>>& Keys() const { return keys_; }
  void Clear() { keys_.clear(); }

  // What the store's rate keys make of the module's UART, by the one table both ends share.
  AppliedUartRate UartRate() const;
  // The rate the module talks at after a power-up or warm reset with this store.
  std::uint32_t UartBaudRate() const { return UartRate().Effective(); }

  // PSR text: one "&kkkk = vvvv vvvv ..." line per key, in key order.
  std::string ToPsr() const;
  // Reads "&kkkk = vvvv ..." lines ("?" for "&" too; "//" comments and other lines are skipped).
  // A line that starts like a key but cannot be read whole (no key number, a value of more than
  // 16 bits, text after the values that is not a comment) is refused: false, with *error naming
  // the line and what is wrong, and the store as it was.
  bool FromPsr(const std::string& text, std::string* error);
  // FromPsr over a regular file. Returns an empty text, or what is wrong ("not found", "it is a
  // folder", "line 3: ...").
  std::string Load(const std::string& path);

 private:
  std::map<std::uint16_t, std::vector<std::uint16_t>> keys_;
};

}  // namespace quillon::sim
