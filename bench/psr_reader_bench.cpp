// The PSR reader on large files, through the platform's buffered file. Reported per run:
//   MB_per_s        bytes parsed (every pass over the file) per second, in 10^6 bytes
//   syscalls_per_KB read system calls (from /proc/self/io) per 1024 bytes parsed
//   keys            what the reader found
// 100,000 key lines are more than a run can carry: the reader makes its counting pass and
// refuses the file. 65,533 is the most a run carries: both passes, the list filled.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "platform/posix/files_posix.h"
#include "platform/text.h"
#include "psconfig/psconfig.h"
#include "tests/support/temp_device.h"

namespace quillon {
namespace {

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// Read system calls of this process so far.
long long ReadCalls() {
  std::ifstream io("/proc/self/io");
  std::string name;
  long long value = 0;
  while (io >> name >> value) {
    if (name == "syscr:") return value;
  }
  return -1;
}

// Key lines as a PSR file: a comment line every 100 keys, and keys of 1 to 8 values.
std::size_t WriteKeys(const std::string& path, int keys) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  for (int key = 0; key < keys; ++key) {
    if (key % 100 == 0) std::fprintf(file, "// block %d\n", key / 100);
    std::fprintf(file, "&%04x =", key % 0xFFFF + 1);
    for (int value = 0; value <= key % 8; ++value) std::fprintf(file, " %04x", (key * 7 + value) & 0xFFFF);
    std::fprintf(file, "\n");
  }
  const long size = std::ftell(file);
  std::fclose(file);
  return static_cast<std::size_t>(size);
}

void ReadPsr(benchmark::State& state) {
  const int keys = static_cast<int>(state.range(0));
  testing::TempDevice device;
  platform::posix::PosixFiles files{device.Root()};
  const std::string path = device.Path() + "/large.psr";
  const std::size_t size = WriteKeys(path, keys);
  double seconds = 0;
  double bytes = 0;
  long long calls = 0;
  std::uint32_t found = 0;
  for (auto _ : state) {
    PsKeyList list;
    platform::ErrorCode error = platform::kSuccess;
    const long long callsBefore = ReadCalls();
    const double start = Now();
    auto file = files.Open(platform::Utf8ToWide(path), platform::FileMode::kReadExisting, &error);
    if (!file) {
      state.SkipWithError("cannot open the file");
      return;
    }
    const PsrLoadResult loaded = PsrReader::Load(*file, list, nullptr);
    const double took = Now() - start;
    calls += ReadCalls() - callsBefore;
    state.SetIterationTime(took);
    seconds += took;
    bytes += static_cast<double>(size) * (loaded.outcome == PsrLoad::kLoaded ? 2 : 1);
    found = loaded.keys;
  }
  state.counters["MB_per_s"] = bytes / seconds / 1e6;
  state.counters["syscalls_per_KB"] = static_cast<double>(calls) / (bytes / 1024.0);
  state.counters["keys"] = found;
  state.counters["file_MB"] = static_cast<double>(size) / 1e6;
}
BENCHMARK(ReadPsr)
    ->ArgName("keys")
    ->Arg(100000)
    ->Arg(static_cast<int>(PsKeyList::kMaxKeys))
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quillon

BENCHMARK_MAIN();
