#include "tools/module_simulator/ps_store.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/text.h"

namespace quillon::sim {
namespace {

struct RateValue {
  std::uint16_t value;
  std::uint32_t rate;
};
constexpr RateValue kRates[] = {{157, 38400},   {236, 57600},   {472, 115200},  {944, 230400},
                                {1887, 460800}, {3775, 921600}, {5662, 1382400}};
constexpr std::uint16_t kBaudKeys[] = {0x0191, 0x01be, 0x0204, 0x0207};

}  // namespace

std::optional<std::uint32_t> BaudRateOfPsValue(std::uint16_t value) {
  for (const RateValue& entry : kRates) {
    if (entry.value == value) return entry.rate;
  }
  return std::nullopt;
}

const std::vector<std::uint16_t>* PsStore::Get(std::uint16_t key) const {
  auto found = keys_.find(key);
  return found == keys_.end() ? nullptr : &found->second;
}

std::optional<std::uint32_t> PsStore::UartBaudRate() const {
  for (std::uint16_t key : kBaudKeys) {
    const auto* values = Get(key);
    if (values != nullptr && !values->empty()) return BaudRateOfPsValue(values->front());
  }
  return std::nullopt;
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
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    std::size_t i = line.find_first_not_of(" \t\r");
    if (i == std::string::npos || (line[i] != '&' && line[i] != '?')) continue;
    auto hex = [&](std::uint32_t* value) {
      std::size_t start = i;
      *value = 0;
      while (i < line.size() && platform::HexDigitValue(line[i]) >= 0) {
        *value = (*value << 4) | static_cast<std::uint32_t>(platform::HexDigitValue(line[i++]));
      }
      return i > start;
    };
    ++i;
    std::uint32_t key = 0;
    if (!hex(&key) || key > 0xFFFF) {
      *error = "line " + std::to_string(number) + ": no key number";
      return false;
    }
    i = line.find_first_not_of(" \t", i);
    if (i == std::string::npos || line[i] != '=') continue;  // not a key line, such as "&0002-"
    ++i;
    std::vector<std::uint16_t> values;
    for (;;) {
      i = line.find_first_not_of(" \t\r", i);
      if (i == std::string::npos) break;
      std::uint32_t value = 0;
      if (!hex(&value)) break;  // a trailing comment
      values.push_back(static_cast<std::uint16_t>(value));
    }
    keys_[static_cast<std::uint16_t>(key)] = std::move(values);
  }
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
