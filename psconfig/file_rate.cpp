#include "psconfig/file_rate.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace quillon {
namespace {

std::size_t IndexOf(std::uint16_t key) {
  return static_cast<std::size_t>(std::find(kUartRateKeys.begin(), kUartRateKeys.end(), key) - kUartRateKeys.begin());
}

}  // namespace

void UartRateKeyLines::Take(const PsrLine& line, std::span<const std::uint16_t> values) {
  const std::size_t at = IndexOf(line.key);
  if (line.isKey && line.valueCount != 0 && at < written_.size()) written_[at] = values[0];
}

AppliedUartRate UartRateKeyLines::Applied() const {
  return ApplyUartRateKeys([&](std::uint16_t key) { return written_[IndexOf(key)]; });
}

AppliedUartRate UartRateOfPsrFile(platform::Files& files, std::wstring_view path) {
  platform::ErrorCode error = platform::kSuccess;
  std::unique_ptr<platform::File> file = files.Open(path, platform::FileMode::kReadExisting, &error);
  if (!file) return {};
  std::vector<char> line(PsrReader::kLineCapacity + 1);
  std::vector<std::uint16_t> values(PsrReader::kValueCapacity);
  UartRateKeyLines keys;
  while (PsrReader::ReadLine(*file, line.data(), PsrReader::kLineCapacity)) {
    keys.Take(PsrReader::ParseLine(std::string_view(line.data(), std::strlen(line.data())), values), values);
  }
  return keys.Applied();
}

}  // namespace quillon
