#include "tools/module_simulator/ps_store.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "platform/text.h"

namespace quillon::sim {

const std::vector<std::uint16_t>* PsStore::Get(std::uint16_t key) const {
  auto found = keys_.find(key);
  return found == keys_.end() ? nullptr : &found->second;
}

AppliedUartRate PsStore::UartRate() const {
  return ApplyUartRateKeys([this](std::uint16_t key) -> std::optional<std::uint16_t> {
    const auto* values = Get(key);
    if (values == nullptr || values->empty()) return std::nullopt;
    return values->front();
  });
}

std::string PsStore::ToPsr() const {
  std::string text = "// PS store of the simulated module\n";
  for (const auto& [key, values] : keys_) {
    char word[8];
    std::snprintf(word, sizeof word, "&%04x", key);
    text += word;
    text += " =";
    for (std::uint16_t value : values) {
      std::snprintf(word, sizeof word, " %04x", value);
      text += word;
    }
    text += "\n";
  }
  return text;
}

bool PsStore::FromPsr(const std::string& text, std::string* error) {
  // Read into a copy: a store refused halfway must not keep the half it read.
  std::map<std::uint16_t, std::vector<std::uint16_t>> keys = keys_;
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  auto refuse = [&](const std::string& what) {
    *error = "line " + std::to_string(number) + ": " + what;
    return false;
  };
  while (std::getline(lines, line)) {
    ++number;
    std::size_t i = line.find_first_not_of(" \t\r");
    if (i == std::string::npos || (line[i] != '&' && line[i] != '?')) continue;
    // Digits past eight cannot make a 16-bit number; counting stops there so nothing overflows.
    auto hex = [&](std::uint32_t* value, std::size_t* digits) {
      *value = 0;
      *digits = 0;
      while (i < line.size() && platform::HexDigitValue(line[i]) >= 0) {
        if (++*digits <= 8) *value = (*value << 4) | static_cast<std::uint32_t>(platform::HexDigitValue(line[i]));
        ++i;
      }
      return *digits > 0;
    };
    ++i;
    std::uint32_t key = 0;
    std::size_t digits = 0;
    if (!hex(&key, &digits)) return refuse("no key number");
    if (digits > 4 || key > 0xFFFF) return refuse("key number " + line.substr(i - digits, digits) + " out of range");
    i = line.find_first_not_of(" \t", i);
    if (i == std::string::npos || line[i] != '=') continue;  // not a key line, such as "&0002-"
    ++i;
    std::vector<std::uint16_t> values;
    for (;;) {
      i = line.find_first_not_of(" \t\r", i);
      if (i == std::string::npos || line.compare(i, 2, "//") == 0) break;
      std::uint32_t value = 0;
      if (!hex(&value, &digits)) return refuse("\"" + line.substr(i) + "\" is not a value");
      if (digits > 4 || value > 0xFFFF) return refuse("value " + line.substr(i - digits, digits) + " out of range");
      values.push_back(static_cast<std::uint16_t>(value));
    }
    keys[static_cast<std::uint16_t>(key)] = std::move(values);
  }
  keys_ = std::move(keys);
  return true;
}

std::string PsStore::Load(const std::string& path) {
  std::error_code failure;
  const auto status = std::filesystem::status(path, failure);
  if (!std::filesystem::exists(status)) return "not found";
  if (std::filesystem::is_directory(status)) return "it is a folder";
  if (!std::filesystem::is_regular_file(status)) return "not a regular file";
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  if (!in) return "cannot be read";
  std::string error;
  if (!FromPsr(content.str(), &error)) return error;
  return {};
}

}  // namespace quillon::sim
