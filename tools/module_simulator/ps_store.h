// The simulated module's Persistent Store: key number to values, kept as a PSR file on request.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quillon::sim {

class PsStore {
 public:
  void Set(std::uint16_t key, std::vector<std::uint16_t> values) { keys_[key] = std::move(values); }
  const std::vector<std::uint16_t>* Get(std::uint16_t key) const;
  const std::map<std::uint16_t, std::vector<std::uint16_t>>& Keys() const { return keys_; }
  void Clear() { keys_.clear(); }

  // The baud rate the store asks the module's UART for: the first of the keys 0x0191, 0x01be,
  // 0x0204, 0x0207 that is set, when its first value is one of the rates the module knows.
  std::optional<std::uint32_t> UartBaudRate() const;

  // PSR text: one "&kkkk = vvvv vvvv ..." line per key, in key order.
  std::string ToPsr() const;
  // Reads "&kkkk = vvvv ..." lines ("?" for "&" too; "//" comments and other lines are skipped).
  // False with *error naming the first line that starts like a key but cannot be read.
  bool FromPsr(const std::string& text, std::string* error);
  // FromPsr over a regular file. Returns an empty text, or what is wrong ("it is a folder", ...).
  std::string Load(const std::string& path);

 private:
  std::map<std::uint16_t, std::vector<std::uint16_t>> keys_;
};

// The value that stands for a baud rate in the PS store (rate × 4096 / 1000000, rounded), and back.
std::optional<std::uint32_t> BaudRateOfPsValue(std::uint16_t value);

}  // namespace quillon::sim
