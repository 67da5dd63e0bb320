// Programming runs against the line-paced module simulator on a pseudo-terminal, for 10, 100 and
// 1,000 keys at 115200 and 921600 baud. Reported per run:
//   seconds      from the port's opening (the first byte) to the warm reset being queued
//   wire_s       bytes this run put on the line (both directions) × 11 bits / baud; repeated
//                link messages and re-sends make it larger
//   perfect_s    what a perfect host needs for the same file: the four link messages once, each
//                request before the warm reset and its response once, with their escapes
//   ratio        seconds / perfect_s (targets: 1.10 for 100 and 1,000 keys, 1.5 for 10)
//   ratio_run    seconds / wire_s
//   cpu_pct      CPU time of the run's thread over the run (the module's thread not counted)
//   exchange_ratio_p50  the median, over the requests, of the time from one request reaching the
//                module to the next, over the perfect host's time for that answer and request
//   sim_cpu_pct  CPU time of the module's thread over the run
//   pty_rtt_us, pty_rtt_p99_us   median and 99th percentile time for one byte to go over a
//                pseudo-terminal and back between two threads, measured just before the run:
//                what the pty and the scheduler cost each request and answer at that moment
// and, for a module that does not answer, the CPU used while the run waits (target: under 2 %;
// during a run at 921600: under 25 %).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "bcsp/bcsp_codec.h"
#include "platform/posix/clock_posix.h"
#include "platform/posix/files_posix.h"
#include "platform/posix/kernel_objects_posix.h"
#include "platform/posix/serial_posix.h"
#include "platform/text.h"
#include "psconfig/psconfig.h"
#include "tests/fakes/recording_console.h"
#include "tests/support/temp_device.h"
#include "tools/module_simulator/pty_simulator.h"
#include "trace/trace.h"

namespace quillon {
namespace {

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// One byte over a raw pseudo-terminal and back, `trips` times, between this thread and an echo
// thread: the median and the 99th percentile round trip in microseconds (0 without a terminal).
std::pair<double, double> PtyRoundTripUs(int trips) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return {0, 0};
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) {
    close(master);
    return {0, 0};
  }
  for (const int fd : {master, slave}) {
    termios raw{};
    tcgetattr(fd, &raw);
    cfmakeraw(&raw);
    tcsetattr(fd, TCSANOW, &raw);
  }
  std::thread echo([&] {
    std::uint8_t byte = 0;
    for (int i = 0; i < trips; ++i) {
      if (read(master, &byte, 1) != 1 || write(master, &byte, 1) != 1) break;
    }
  });
  std::vector<double> times;
  std::uint8_t byte = 0x55;
  for (int i = 0; i < trips; ++i) {
    const double start = Now();
    if (write(slave, &byte, 1) != 1 || read(slave, &byte, 1) != 1) break;
    times.push_back((Now() - start) * 1e6);
  }
  echo.join();
  close(slave);
  close(master);
  if (times.empty()) return {0, 0};
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], times[times.size() * 99 / 100]};
}

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

class Timing final : public RunObserver {
 public:
  explicit Timing(sim::ModuleSimulator& module) : module_(module) {}
  void PortOpened() override {
    start = Now();
    cpuStart = ThreadCpuSeconds();
    processCpuStart = ProcessCpuSeconds();
    bytesStart = module_.BytesOnTheLine();
  }
  void RequestSent(std::uint32_t, std::uint32_t, const PsKeyItem& item) override {
    if (item.varId != kVarIdWarmReset) return;
    end = Now();
    cpuEnd = ThreadCpuSeconds();
    processCpuEnd = ProcessCpuSeconds();
    bytesEnd = module_.BytesOnTheLine();
  }
  double start = 0, end = 0, cpuStart = 0, cpuEnd = 0, processCpuStart = 0, processCpuEnd = 0;
  std::uint64_t bytesStart = 0, bytesEnd = 0;

 private:
  sim::ModuleSimulator& module_;
};

std::size_t FrameBytes(std::uint8_t seq, std::uint8_t ack, std::span<const std::uint8_t> payload) {
  const BcspHeaderBytes header = BcspEncodeHeader(seq, ack, true, true, kChannelBccmd,
                                                  static_cast<std::uint16_t>(payload.size()));
  return BcspWireFrame(header, payload).size();
}

// The bytes a perfect host and module exchange for `psr` up to the warm reset: the four link
// messages once, then each request with the module's answer (the request with the response
// type, as the module answers a set) in sequence, the acknowledgements riding on them.
std::uint64_t PerfectHostBytes(platform::Files& files, const std::string& psr,
                               std::vector<std::uint64_t>* exchanges = nullptr) {
  std::uint64_t bytes = 0;
  for (const auto& message : kLinkMessages) bytes += BcspWireFrame(kLinkHeader, message).size();
  platform::ErrorCode error = platform::kSuccess;
  auto file = files.Open(platform::Utf8ToWide(psr), platform::FileMode::kReadExisting, &error);
  PsKeyList list;
  if (!file || PsrReader::Load(*file, list, nullptr).outcome != PsrLoad::kLoaded) return 0;
  std::array<std::uint8_t, PSConfig::kBufferSize> payload{};
  for (std::uint32_t i = 0; i + 1 < list.count; ++i) {  // the warm reset ends the measured time
    const std::size_t size = EncodeBccmdRequest(list.Item(i), payload);
    const auto seq = static_cast<std::uint8_t>(i % 8);
    std::uint64_t exchange = FrameBytes(seq, seq, std::span(payload.data(), size));
    payload[0] = static_cast<std::uint8_t>(kBccmdGetResponse);
    exchange += FrameBytes(seq, static_cast<std::uint8_t>((i + 1) % 8), std::span(payload.data(), size));
    bytes += exchange;
    if (exchanges != nullptr) exchanges->push_back(exchange);
  }
  return bytes;
}

// The median over the run's requests of the time from one request reaching the module to the
// next, against the perfect host's time for the same answer and request: the steady pace of
// host and simulator, without the stalls that a loaded machine's scheduler adds to some of them.
double MedianExchangeRatio(const std::vector<sim::BccmdRequest>& requests, const std::vector<std::uint64_t>& exchanges,
                           std::uint32_t baud) {
  std::vector<double> ratios;
  for (std::size_t i = 1; i < requests.size() && i < exchanges.size(); ++i) {
    const double perfectUs = static_cast<double>(exchanges[i]) * 11.0 * 1e6 / baud;
    ratios.push_back(static_cast<double>(requests[i].timeUs - requests[i - 1].timeUs) / perfectUs);
  }
  if (ratios.empty()) return 0;
  std::nth_element(ratios.begin(), ratios.begin() + static_cast<std::ptrdiff_t>(ratios.size() / 2), ratios.end());
  return ratios[ratios.size() / 2];
}

// A device with the simulated module on its COM1:, and a programming engine of its own.
struct Bench {
  explicit Bench(const sim::SimulatorOptions& options) : module(options) {
    module.LinkAs(device.Path(), 1);
    module.Start();
  }
  ~Bench() { module.Stop(); }

  testing::TempDevice device;
  platform::posix::PosixClock clock;
  platform::posix::PosixKernelObjects kernel{device.Root().ObjectPrefix()};
  platform::posix::PosixFiles files{device.Root()};
  platform::posix::PosixSerialDevices serial{device.Root()};
  platform::Platform roles{&clock, &kernel, &files, &files, nullptr, &serial, nullptr, nullptr};
  sim::PtySimulator module;
  Trace trace{roles};  // no viewer: the run's trace lines cost what they cost in use
  platform::ProcessWide<Trace>::Scoped useTrace{trace};
  testing::RecordingConsole console;
  SerialPort port{roles};
  BcspLink link{port, clock, console};
  PsKeyList list;
  PSConfig run{roles, list, link, port, console};
};

std::string WriteKeys(const std::string& folder, int keys) {
  std::string path = folder + "/bench.psr";
  std::FILE* file = std::fopen(path.c_str(), "w");
  for (int key = 1; key <= keys; ++key) std::fprintf(file, "&%04x = %04x %04x\n", key, key, key ^ 0x5A5A);
  std::fclose(file);
  return path;
}

void ProgrammingRun(benchmark::State& state) {
  const int keys = static_cast<int>(state.range(0));
  const auto baud = static_cast<std::uint32_t>(state.range(1));
  for (auto _ : state) {
    sim::SimulatorOptions options;
    options.baudRate = baud;
    options.paceLine = true;
    const auto [rttUs, rttTailUs] = PtyRoundTripUs(300);
    Bench bench(options);
    Timing timing(bench.module.Module());
    const std::string psr = WriteKeys(bench.device.Path(), keys);
    const int result = bench.run.Run(L"COM1:", baud, platform::Utf8ToWide(psr), nullptr, &timing);
    if (result != 0 || timing.end == 0) {
      state.SkipWithError("the run did not complete");
      return;
    }
    const double seconds = timing.end - timing.start;
    const double wire = static_cast<double>(timing.bytesEnd - timing.bytesStart) * 11.0 / baud;
    std::vector<std::uint64_t> exchanges;
    const double perfect = static_cast<double>(PerfectHostBytes(bench.files, psr, &exchanges)) * 11.0 / baud;
    bench.module.Stop();  // the module's requests may be read once its thread has ended
    state.SetIterationTime(seconds);
    state.counters["seconds"] = seconds;
    state.counters["wire_s"] = wire;
    state.counters["perfect_s"] = perfect;
    state.counters["ratio"] = seconds / perfect;
    state.counters["ratio_run"] = seconds / wire;
    state.counters["cpu_pct"] = 100.0 * (timing.cpuEnd - timing.cpuStart) / seconds;
    state.counters["sim_cpu_pct"] =
        100.0 * (timing.processCpuEnd - timing.processCpuStart - (timing.cpuEnd - timing.cpuStart)) / seconds;
    state.counters["exchange_ratio_p50"] = MedianExchangeRatio(bench.module.Module().Requests(), exchanges, baud);
    state.counters["pty_rtt_us"] = rttUs;
    state.counters["pty_rtt_p99_us"] = rttTailUs;
  }
}
BENCHMARK(ProgrammingRun)
    ->ArgNames({"keys", "baud"})
    ->ArgsProduct({{10, 100, 1000}, {115200, 921600}})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// A module that never answers: the run waits, polling, until stopped after two seconds.
void WaitingForTheModule(benchmark::State& state) {
  for (auto _ : state) {
    sim::SimulatorOptions options;
    options.neverAnswerBuildId = true;
    Bench bench(options);
    platform::ErrorCode error = platform::kSuccess;
    auto stop = bench.kernel.CreateManualResetEvent(L"", false, &error);
    std::thread stopper([&] {
      std::this_thread::sleep_for(std::chrono::seconds(2));
      stop->Set();
    });
    const std::string psr = WriteKeys(bench.device.Path(), 3);
    const double start = Now();
    const double cpuStart = ThreadCpuSeconds();
    bench.run.Run(L"COM1:", 115200, platform::Utf8ToWide(psr), stop.get(), nullptr);
    const double seconds = Now() - start;
    const double cpu = ThreadCpuSeconds() - cpuStart;
    stopper.join();
    state.SetIterationTime(seconds);
    state.counters["cpu_pct"] = 100.0 * cpu / seconds;
  }
}
BENCHMARK(WaitingForTheModule)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quillon

BENCHMARK_MAIN();
