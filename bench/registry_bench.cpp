// The emulated device's registry under a large transport tree: one walk over every key and
// value below the transports key, as the start-up's search for a marked port makes it when
// nothing is marked. Reported per walk:
//   calls        registry calls the walk made (open, enumerate, query)
//   us_per_call  microseconds per call
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/posix/registry_file.h"
#include "tests/support/temp_device.h"

namespace quillon {
namespace {

constexpr wchar_t kTransports[] = L"Software\\Microsoft\\Bluetooth\\Transports";

// `transports` transport keys of four values each, every one with a subkey of two values.
void WriteRegistry(const std::string& path, int transports) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  std::fprintf(file, "Windows Registry Editor Version 5.00\n\n");
  std::fprintf(file, "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Bluetooth\\Transports]\n\n");
  for (int i = 0; i < transports; ++i) {
    const char* base = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Bluetooth\\Transports\\Other";
    std::fprintf(file, "[%s\\T%05d]\n\"Name\"=\"COM%d:\"\n\"Dll\"=\"transport.dll\"\n", base, i, i % 90 + 10);
    std::fprintf(file, "\"baud\"=dword:0001c200\n\"Index\"=dword:%08x\n\n", i);
    std::fprintf(file, "[%s\\T%05d\\Settings]\n\"Flow\"=dword:00000000\n\"Parity\"=dword:00000002\n\n", base, i);
  }
  std::fclose(file);
}

// Every key and value below `path`; returns the registry calls made.
long Walk(platform::Registry& registry, const std::wstring& path) {
  std::unique_ptr<platform::RegistryKey> key;
  long calls = 1;
  if (registry.OpenKey(path, platform::RegistryAccess::kRead, &key) != platform::kSuccess) return calls;
  std::array<wchar_t, 261> name{};
  std::array<std::uint8_t, 260> data{};
  for (std::uint32_t index = 0;; ++index) {
    std::size_t nameLength = 0;
    std::size_t dataLength = data.size();
    std::uint32_t type = 0;
    ++calls;
    if (key->EnumValue(index, name, &nameLength, &type, data, &dataLength) != platform::kSuccess) break;
  }
  for (std::uint32_t index = 0;; ++index) {
    std::size_t length = 0;
    ++calls;
    if (key->EnumKey(index, name, &length) != platform::kSuccess) break;
    calls += Walk(registry, path + L"\\" + std::wstring(name.data(), length));
  }
  return calls;
}

void WalkTransports(benchmark::State& state) {
  testing::TempDevice device;
  WriteRegistry(device.Path() + "/registry.reg", static_cast<int>(state.range(0)));
  platform::posix::RegistryFile registry(device.Root());
  long calls = 0;
  double seconds = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    calls = Walk(registry, kTransports);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  const double walks = static_cast<double>(state.iterations());
  state.counters["calls"] = static_cast<double>(calls);
  state.counters["us_per_call"] = seconds / walks / static_cast<double>(calls) * 1e6;
}
BENCHMARK(WalkTransports)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quillon

BENCHMARK_MAIN();
