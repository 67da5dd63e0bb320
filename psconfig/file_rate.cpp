#include "psconfig/file_rate.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "psconfig/psr_reader.h"

namespace quillon {

AppliedUartRate UartRateOfPsrFile(platform::Files& files, std::wstring_view path) {
  platform::ErrorCode error = platform::kSuccess;
  std::unique_ptr<platform::File> file = files.Open(path, platform::FileMode::kReadExisting, &error);
  if (!file) return {};
  std::vector<char> line(PsrReader::kLineCapacity + 1);
  std::vector<std::uint16_t> values(PsrReader::kValueCapacity);
  std::array<std::optional<std::uint16_t>, kUartRateKeys.size()> written{};
  while (PsrReader::ReadLine(*file, line.data(), PsrReader::kLineCapacity)) {
    const PsrLine parsed = PsrReader::ParseLine(std::string_view(line.data(), std::strlen(line.data())), values);
    const auto key = std::find(kUartRateKeys.begin(), kUartRateKeys.end(), parsed.key);
    if (!parsed.isKey || parsed.valueCount == 0 || key == kUartRateKeys.end()) continue;
    written[static_cast<std::size_t>(key - kUartRateKeys.begin())] = values[0];
  }
  return ApplyUartRateKeys([&](std::uint16_t key) {
    const auto at = std::find(kUartRateKeys.begin(), kUartRateKeys.end(), key);
    return written[static_cast<std::size_t>(at - kUartRateKeys.begin())];
  });
}

}  // namespace quillon
