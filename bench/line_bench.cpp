// A production line: psconfig programming 1, 2, 4 and 8 simulated modules at once (100 keys,
// each module with an address from a block kept in a journal, and without), at 115200 and 921600
// baud, the line paced as a real UART. Reported per run:
//   seconds         the psconfig process from its start to its end
//   per_module_s    seconds / modules
//   psconfig_cpu_pct   CPU of the psconfig process (all its threads) over the run, per module
//   sim_cpu_pct     CPU of the modules' threads (this process) over the run, per module
//   slowest_port_s  the longest time a port's run took, from the table psconfig prints
// The time for 8 modules over the time for 1 is the line's scaling (target at 115200: at most
// 1.25 on a 2-core machine, the simulators' CPU included).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/temp_device.h"
#include "tools/module_simulator/pty_simulator.h"

extern char** environ;

namespace quillon {
namespace {

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double Seconds(const timeval& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

void Line(benchmark::State& state) {
  const int modules = static_cast<int>(state.range(0));
  const auto baud = static_cast<std::uint32_t>(state.range(1));
  const bool journal = state.range(2) != 0;
  constexpr int kKeys = 100;
  for (auto _ : state) {
    testing::TempDevice device;
    const std::string psr = device.Path() + "/line.psr";
    if (std::FILE* file = std::fopen(psr.c_str(), "w")) {
      for (int key = 2; key < 2 + kKeys; ++key) std::fprintf(file, "&%04x = %04x %04x\n", key, key, key ^ 0x5A5A);
      std::fclose(file);
    }
    std::vector<std::unique_ptr<sim::PtySimulator>> line;
    std::vector<std::string> arguments{"psconfig", "--baud", std::to_string(baud)};
    if (journal) {
      arguments.insert(arguments.end(), {"--address-block", "00:02:5B:00:00:00:00:02:5B:00:FF:FF", "--journal",
                                         device.Path() + "/journal"});
    }
    for (int n = 1; n <= modules; ++n) {
      sim::SimulatorOptions options;
      options.baudRate = baud;
      options.paceLine = true;
      options.seed = static_cast<std::uint64_t>(n);
      line.push_back(std::make_unique<sim::PtySimulator>(options));
      line.back()->LinkAs(device.Path(), n);
      line.back()->Start();
      arguments.push_back("COM" + std::to_string(n) + ":");
    }
    arguments.push_back(psr);
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) environment.emplace_back(*entry);
    environment.push_back(device.Environment());
    std::vector<char*> envp;
    envp.reserve(environment.size() + 1);
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    // The table goes to a file, read for the slowest port.
    const std::string table = device.Path() + "/table";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, table.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);

    const double simCpuStart = ProcessCpuSeconds();
    const double start = Now();
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, QUILLON_PSCONFIG, &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    if (spawned != 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      state.SkipWithError("psconfig did not program every module");
      return;
    }
    const double seconds = Now() - start;
    const double simCpu = ProcessCpuSeconds() - simCpuStart;
    for (auto& module : line) module->Stop();
    double slowest = 0;
    if (std::FILE* file = std::fopen(table.c_str(), "r")) {
      char text[512];
      while (std::fgets(text, sizeof text, file) != nullptr) {
        char port[64];
        double portSeconds = 0;
        if (std::sscanf(text, " %63s done %*u %lfs", port, &portSeconds) == 2 && portSeconds > slowest) {
          slowest = portSeconds;
        }
      }
      std::fclose(file);
    }
    state.SetIterationTime(seconds);
    state.counters["seconds"] = seconds;
    state.counters["per_module_s"] = seconds / modules;
    state.counters["psconfig_cpu_pct"] = 100.0 * (Seconds(usage.ru_utime) + Seconds(usage.ru_stime)) / seconds /
                                         modules;
    state.counters["sim_cpu_pct"] = 100.0 * simCpu / seconds / modules;
    state.counters["slowest_port_s"] = slowest;
  }
}
BENCHMARK(Line)
    ->ArgNames({"modules", "baud", "journal"})
    ->ArgsProduct({{1, 2, 4, 8}, {115200, 921600}, {1, 0}})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quillon

BENCHMARK_MAIN();
