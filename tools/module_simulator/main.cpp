// modsim: a simulated BlueCore module on a pseudo-terminal, for trying Quillon without hardware.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/device_root.h"
#include "platform/program_version.h"
#include "tools/module_simulator/pty_simulator.h"
#include "tools/module_simulator/simulator_arguments.h"
#include "tools/module_simulator/store_file.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;
void RequestStop(int) { stopRequested = 1; }

void Usage(std::FILE* out) {
  std::fprintf(out,
               "usage: modsim [options]\n"
               "\n"
               "Runs a simulated BlueCore module behind a pseudo-terminal and prints the terminal's path.\n"
               "The module speaks BCSP, answers BCCMD requests and keeps the PS keys it is given.\n"
               "\n"
               "  --link N               also make COMN: of the emulated device point at the terminal (1..255)\n"
               "  --modules N            run N modules (1..32), each on a terminal of its own, linked as\n"
               "                         COMN: and up; each has a store of its own (FILE-1.psr, FILE-2.psr,\n"
               "                         ... with --store and --save) and the seed plus its number\n"
               "  --store FILE.psr       the module's flash: its PS keys at the start (a missing file is an\n"
               "                         empty store, and is made); every key the module accepts is in it\n"
               "                         before the answer leaves, so a kill at any moment loses nothing\n"
               "                         acknowledged; a key it cannot write is refused (status 8). A file\n"
               "                         that cannot be read whole is refused, and modsim does not start\n"
               "  --save FILE.psr        also write the PS store to this file at the end\n"
               "  --baud RATE            the module's own default rate: its rate when the store names none\n"
               "                         (default 115200). A store that names a rate wins, as on a module\n"
               "  --boot-ms N            after power-up and each warm reset the module hears nothing and says\n"
               "                         nothing for N ms (default 30), then talks at the store's rate\n"
               "  --pace                 bytes take 11 bit times each, as on a real line\n"
               "  --h4                   speak H4 (BCCMD in HCI command 0xFC00 and vendor events) instead\n"
               "                         of BCSP, as a module set to the H4 host interface\n"
               "  --log FILE             write the log of frames and requests here (- for stderr)\n"
               "  --seed N               seed of the faults below and of the noise (default 1)\n"
               "  --loss-in P, --loss-out P        byte loss to / from the module (0..1)\n"
               "  --corrupt-in P, --corrupt-out P  one flipped bit per byte, with that probability\n"
               "  --answer-delay MS      wait before each answer\n"
               "  --no-build-id          never answer the build-identifier request\n"
               "  --wrong-varid          answer with another variable identifier\n"
               "  --error-status N       answer with this status word (0..65535) and refuse what it asks\n"
               "  --keep-old-value KEY   answer the writes of one key (hex) but keep its old value\n"
               "  --refuse-write KEY     refuse the writes of one key (status 8)\n"
               "  --refuse-read KEY      refuse the reads of one key (status 8)\n"
               "  --drop-read-answer KEY never answer a read of one key\n"
               "  --read-answer-other-key KEY  answer a read of one key naming the next key\n"
               "  --command-status-after N   send an HCI Command Status event after the Nth key\n"
               "  --restart-after N      restart without answering at the Nth request\n"
               "  --version              print the version and end; --help, -h print these lines\n"
               "\n"
               "The module's UART rate is the first of the keys &0191, &01be, &0204, &0207 that its store\n"
               "holds, when its value is one of the table's rates; else its default. Bytes at another rate\n"
               "than the receiver's arrive as noise (drawn from the seed), in both directions.\n"
               "\n"
               "Ends on Ctrl-C. Example: modsim --link 4 --store /tmp/store.psr\n");
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  quillon::sim::SimulatorCommand command;
  if (const std::string problem = quillon::sim::ReadSimulatorArguments(arguments, &command); !problem.empty()) {
    std::fprintf(stderr, "modsim: %s\n\n", problem.c_str());
    Usage(stderr);
    return 64;
  }
  if (command.version) {
    std::fputs(quillon::platform::VersionLine("modsim").c_str(), stdout);
    return 0;
  }
  if (command.help) {
    Usage(stdout);
    return 0;
  }
  const int count = command.modules;
  // One module's files: FILE itself for a single module, FILE-<n>.psr for the n-th of several.
  auto fileOf = [count](const std::string& file, int number) {
    if (file.empty() || count == 1) return file;
    const std::size_t dot = file.rfind('.');
    const bool extension = dot != std::string::npos && file.find('/', dot) == std::string::npos;
    return (extension ? file.substr(0, dot) : file) + "-" + std::to_string(number) +
           (extension ? file.substr(dot) : "");
  };

  std::FILE* log = nullptr;
  if (command.logFile == "-") {
    log = stderr;
  } else if (!command.logFile.empty() && (log = std::fopen(command.logFile.c_str(), "w")) == nullptr) {
    std::fprintf(stderr, "modsim: cannot write the log %s\n", command.logFile.c_str());
    return 1;
  }
  std::mutex logLock;
  std::string deviceRoot;
  if (command.link >= 0) {
    const auto root = quillon::platform::posix::DeviceRoot::FromEnvironment();
    if (root.Ensure() != quillon::platform::kSuccess) {
      std::fprintf(stderr, "modsim: the device root %s does not exist; create it or set QUILLON_DEVICE_ROOT\n",
                   root.Path().c_str());
      return 1;
    }
    deviceRoot = root.Path();
  }

  struct Module {
    explicit Module(const std::string& storeFile) : flash(storeFile) {}
    quillon::sim::StoreFile flash;
    std::unique_ptr<quillon::sim::PtySimulator> simulator;
  };
  std::vector<std::unique_ptr<Module>> modules;
  for (int number = 1; number <= count; ++number) {
    const std::string storeFile = fileOf(command.storeFile, number);
    auto module = std::make_unique<Module>(storeFile);
    // A store that cannot be read whole is not started from: a module that came up empty would
    // take a damaged flash for a new one and lose its keys for good.
    quillon::sim::PsStore store;
    if (!storeFile.empty()) {
      if (const std::string problem = module->flash.Open(&store); !problem.empty()) {
        std::fprintf(stderr, "modsim: the store cannot be used: %s\n", problem.c_str());
        return 1;
      }
    }
    quillon::sim::SimulatorOptions options = command.options;
    options.seed += static_cast<std::uint64_t>(number - 1);
    module->simulator = std::make_unique<quillon::sim::PtySimulator>(options, std::move(store),
                                                                     storeFile.empty() ? nullptr : &module->flash);
    quillon::sim::PtySimulator& simulator = *module->simulator;
    if (!simulator.Opened()) {
      std::fprintf(stderr, "modsim: cannot open a pseudo-terminal\n");
      return 1;
    }
    if (log != nullptr) {
      const std::string prefix = count == 1 ? "" : "module " + std::to_string(number) + ": ";
      simulator.Module().SetLogSink([log, prefix, &logLock](const std::string& line) {
        const std::lock_guard<std::mutex> hold(logLock);
        std::fprintf(log, "%s%s\n", prefix.c_str(), line.c_str());
        std::fflush(log);
      });
    }
    const std::string which = count == 1 ? "" : " " + std::to_string(number);
    std::printf("modsim:%s port %s\n", which.c_str(), simulator.PortPath().c_str());
    std::printf("modsim:%s UART at %u baud after a boot of %u ms\n", which.c_str(), simulator.Module().BaudRate(),
                options.bootMs);
    if (command.link >= 0) {
      const int link = command.link + number - 1;
      const std::string problem = simulator.LinkAs(deviceRoot, link);
      if (!problem.empty()) {
        std::fprintf(stderr, "modsim: %s\n", problem.c_str());
        return 1;
      }
      std::printf("modsim:%s linked as COM%d: (%s/dosdevices/com%d)\n", which.c_str(), link, deviceRoot.c_str(), link);
    }
    modules.push_back(std::move(module));
  }
  std::fflush(stdout);

  std::signal(SIGINT, RequestStop);
  std::signal(SIGTERM, RequestStop);
  for (auto& module : modules) module->simulator->Start();
  while (!stopRequested) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  for (auto& module : modules) module->simulator->Stop();

  int status = 0;
  for (int number = 1; number <= count; ++number) {
    quillon::sim::PtySimulator& simulator = *modules[static_cast<std::size_t>(number - 1)]->simulator;
    const std::string which = count == 1 ? "" : " " + std::to_string(number);
    std::printf("modsim:%s %zu requests, %u restarts, %zu keys stored\n", which.c_str(),
                simulator.Module().Requests().size(), simulator.Module().Restarts(),
                simulator.Module().Store().Keys().size());
    const std::string saveFile = fileOf(command.saveFile, number);
    if (!saveFile.empty()) {
      std::ofstream out(saveFile, std::ios::binary);
      out << simulator.Module().Store().ToPsr();
      if (!out) {
        std::fprintf(stderr, "modsim: cannot write %s\n", saveFile.c_str());
        status = 1;
      }
    }
  }
  if (log != nullptr && log != stderr) std::fclose(log);
  return status;
}
