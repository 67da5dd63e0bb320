// quillon-device: the handheld on which Quillon runs, emulated on Linux.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/posix/clock_posix.h"
#include "platform/posix/device_root.h"
#include "platform/posix/files_posix.h"
#include "platform/posix/registry_file.h"
#include "platform/posix/serial_posix.h"
#include "platform/posix/system_posix.h"
#include "platform/program_version.h"
#include "platform/text.h"
#include "tools/quillon_device/boot_loop.h"
#include "tools/quillon_device/device_init.h"
#include "tools/quillon_device/device_layout.h"
#include "tools/quillon_device/module_wiring.h"
#include "tools/quillon_device/shortcut_reader.h"

namespace {

namespace fs = std::filesystem;
using quillon::device::ReportLine;

// Set by Ctrl-C or a shutdown of the terminal; the boot loop then stops the device's programs
// and the module simulator before the emulator ends.
volatile std::sig_atomic_t switchOffRequested = 0;
void RequestSwitchOff(int) { switchOffRequested = 1; }

void Usage(std::FILE* out) {
  std::fprintf(out,
               "usage: quillon-device [--root DIR] init [--port COMn:] [--program FILE] [--samples DIR]\n"
               "                                        [--link DEVICE] [--force]\n"
               "       quillon-device [--root DIR] run [--existing-link] [--port COMn:] [--modsim FILE]\n"
               "                                       [--store FILE] [--stack-wait MS] [--max-boots N]\n"
               "       quillon-device shortcut FILE\n"
               "\n"
               "Emulates the handheld on which Quillon runs: its registry, its start-up folder, its\n"
               "Bluetooth stack and the module on its serial port.\n"
               "\n"
               "  --root DIR        the device root (default: QUILLON_DEVICE_ROOT, else\n"
               "                    ~/.local/share/quillon/device)\n"
               "  --version         print the version and end; --help, -h print these lines\n"
               "\n"
               "init: creates the device root: the registry with the Bluetooth stack's built-in\n"
               "transport on the module's port at 115200, \\Windows\\StartUp, and \\Program Files\\Quillon\n"
               "with the program and sample PSR files.\n"
               "  --port COMn:      the port the module is wired to (default COM4:)\n"
               "  --program FILE    installed as \\Program Files\\Quillon\\quillon (default: quillon\n"
               "                    beside quillon-device, when there is one)\n"
               "  --samples DIR     its *.psr files go beside the program (default: the installed samples,\n"
               "                    ../share/quillon/samples from quillon-device, else the project's)\n"
               "  --link DEVICE     COMn: is this device (such as /dev/ttyUSB0), for run --existing-link\n"
               "  --force           make an existing root anew\n"
               "\n"
               "run: boots the device, and boots it again each time a program asks for a restart.\n"
               "At every boot the stack starts (\"stack up on COM4: at 115200\", or why not), then the\n"
               "shortcuts of \\Windows\\StartUp with their command lines (on the first boot, when no\n"
               "shortcut starts: the program itself). Ends when the programs end without asking for a\n"
               "restart. Every boot after the first cuts the module's power: the simulator is killed and\n"
               "started anew from its store, at the rate the store names (not with --existing-link).\n"
               "  --existing-link   use COMn: as it is linked; start no module simulator\n"
               "  --port COMn:      the module's port (default: the one init wired)\n"
               "  --modsim FILE     the module simulator (default: modsim beside quillon-device)\n"
               "  --store FILE      the module's PS store, its flash: every key it accepts is in it at once\n"
               "                    (default <root>/module-store.psr)\n"
               "  --stack-wait MS   how long the stack tries to reach the module (default 2000)\n"
               "  --max-boots N     stop a device that keeps restarting after N boots (default 20)\n"
               "\n"
               "shortcut: reads a start-up shortcut and shows what it starts, or why it is refused.\n"
               "\n"
               "Exit status: 0 done; 1 the command failed (or run stopped a device that kept restarting);\n"
               "2 bad arguments; 130 run was stopped by Ctrl-C.\n");
}

void Print(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// "COM4:", "COM4" or "4"; 0 when it is none of them.
unsigned ParsePort(std::string text) {
  if (text.size() > 3 && (text.compare(0, 3, "COM") == 0 || text.compare(0, 3, "com") == 0)) text.erase(0, 3);
  if (!text.empty() && text.back() == ':') text.pop_back();
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos) return 0;
  const unsigned number = static_cast<unsigned>(std::stoul(text));
  return number >= 1 && number <= 255 ? number : 0;
}

bool ParseNumber(const std::string& text, unsigned long limit, unsigned long* value) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  *value = std::stoul(text);
  return *value >= 1 && *value <= limit;
}

std::string Beside(const std::string& name) {
  quillon::platform::posix::DeviceRoot none("/");
  quillon::platform::posix::PosixSystem system(none);
  const fs::path own = quillon::platform::WideToUtf8(system.OwnPath());
  return (own.parent_path() / name).string();
}

int ReadShortcutCommand(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "quillon-device: cannot read %s\n", file.c_str());
    return 1;
  }
  std::vector<std::uint8_t> bytes;
  for (std::istreambuf_iterator<char> it(in), end; it != end && bytes.size() <= quillon::device::kShortcutMaxBytes;
       ++it) {
    bytes.push_back(static_cast<std::uint8_t>(*it));
  }
  quillon::device::Shortcut shortcut;
  std::string problem;
  if (!quillon::device::ReadShortcut(bytes, &shortcut, &problem)) {
    std::printf("%s: refused: %s\n", file.c_str(), problem.c_str());
    return 1;
  }
  std::printf("program   %s\ncommand   %s\nstate     %d\nport      %s\npsr       %s\nbaudrate  %d\ntransport %s\n",
              shortcut.programPath.c_str(), shortcut.commandLine.c_str(), shortcut.state, shortcut.port.c_str(),
              shortcut.psrFile.c_str(), shortcut.baudRate, shortcut.transportKey.c_str());
  return 0;
}

int RunCommand(const std::string& rootPath, bool existingLink, unsigned port, std::string modsim, std::string store,
               std::uint32_t stackWaitMs, int maxBoots) {
  using namespace quillon::platform;
  posix::DeviceRoot root(fs::absolute(rootPath).string());
  if (root.Ensure() != kSuccess) {
    Print("run: no device root " + root.Path() + "; make one with quillon-device init");
    return 1;
  }
  posix::PosixClock clock;
  posix::PosixFiles files(root);
  posix::RegistryFile registry(root);
  posix::PosixSerialDevices serial(root);
  if (!fs::exists(registry.FilePath())) {
    Print("run: " + root.Path() + " holds no device; make one with quillon-device init");
    return 1;
  }
  if (port == 0) port = quillon::device::ModulePortNumber(registry);
  if (!registry.Problem().empty()) {
    Print("registry: " + registry.Problem());
    return 1;
  }
  std::unique_ptr<quillon::device::ModuleSimulatorChild> module;
  quillon::device::ModuleWiring wiring;
  if (!existingLink) {
    if (port == 0) {
      Print("run: the registry names no module port (Drivers\\BuiltIn\\Serial \"Index\"); give --port");
      return 1;
    }
    // The simulator replaces the link and removes it when it ends: a link to a real port, which
    // the user made, is not the simulator's to take.
    const fs::path link = root.Path() + "/dosdevices/com" + std::to_string(port);
    std::error_code error;
    if (fs::is_symlink(link, error)) {
      const std::string target = fs::read_symlink(link, error).string();
      if (!target.starts_with("/dev/pts/")) {
        Print("run: COM" + std::to_string(port) + ": is linked to " + target + "; give --existing-link to use it");
        return 1;
      }
    }
    if (modsim.empty()) modsim = Beside("modsim");
    if (store.empty()) store = root.Path() + "/module-store.psr";
    wiring = {modsim, root.Path(), port, store};
    module = quillon::device::ModuleSimulatorChild::Start(wiring, Print);
    if (module == nullptr) return 1;
    // The stack starts as the module powers up: its wait allows for the module's boot.
    stackWaitMs += wiring.bootMs;
  }
  std::signal(SIGINT, RequestSwitchOff);
  std::signal(SIGTERM, RequestSwitchOff);
  std::signal(SIGHUP, RequestSwitchOff);
  // A reader of the report that goes away must not end the device without its clean-up.
  std::signal(SIGPIPE, SIG_IGN);
  const quillon::device::DeviceRoles roles{root, registry, serial, clock, files, files};
  // A device restart cuts the module's power too: a module that took a new rate without a warm
  // reset talks at it from then on. A real port's module (--existing-link) is not ours to cut.
  auto powerCycle = [&]() {
    if (module == nullptr) return true;
    module->PowerCut();
    module.reset();
    module = quillon::device::ModuleSimulatorChild::Start(wiring, Print);
    return module != nullptr;
  };
  const int result = quillon::device::RunDevice(roles,
                                                {stackWaitMs, maxBoots, [] { return switchOffRequested != 0; },
                                                 powerCycle},
                                                Print);
  if (!registry.Problem().empty()) Print("registry: " + registry.Problem());
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string rootPath;
  std::size_t at = 0;
  auto fail = [](const std::string& what) {
    std::fprintf(stderr, "quillon-device: %s\n\n", what.c_str());
    Usage(stderr);
    return 2;
  };
  if (args.size() >= 1 && (args[0] == "--help" || args[0] == "-h")) {
    Usage(stdout);
    return 0;
  }
  if (args.size() == 1 && args[0] == "--version") {
    std::fputs(quillon::platform::VersionLine("quillon-device").c_str(), stdout);
    return 0;
  }
  if (args.size() >= 2 && args[0] == "--root") {
    rootPath = args[1];
    at = 2;
  }
  if (at >= args.size()) return fail("no command");
  const std::string command = args[at++];
  if (rootPath.empty()) rootPath = quillon::platform::posix::DeviceRoot::FromEnvironment().Path();

  quillon::device::InitOptions init;
  init.root = rootPath;
  bool existingLink = false;
  bool programGiven = false, samplesGiven = false;
  unsigned port = 0;
  std::string modsim, store;
  unsigned long stackWait = quillon::device::BluetoothStack::kDefaultWaitMs, maxBoots = 20;
  std::string shortcutFile;
  for (; at < args.size(); ++at) {
    const std::string& arg = args[at];
    const bool hasValue = at + 1 < args.size();
    const std::string value = hasValue ? args[at + 1] : std::string();
    if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return 0;
    }
    if (command == "shortcut" && shortcutFile.empty() && !arg.starts_with("--")) {
      shortcutFile = arg;
    } else if (command == "init" && arg == "--force") {
      init.force = true;
    } else if (command == "run" && arg == "--existing-link") {
      existingLink = true;
    } else if (!hasValue) {
      return fail("unknown or incomplete option \"" + arg + "\"");
    } else if ((command == "init" || command == "run") && arg == "--port") {
      if ((port = ParsePort(value)) == 0) return fail("--port wants COM1: to COM255:, not \"" + value + "\"");
      ++at;
    } else if (command == "init" && arg == "--program") {
      init.program = value;
      programGiven = true;
      ++at;
    } else if (command == "init" && arg == "--samples") {
      init.samples = value;
      samplesGiven = true;
      ++at;
    } else if (command == "init" && arg == "--link") {
      init.linkTarget = value;
      ++at;
    } else if (command == "run" && arg == "--modsim") {
      modsim = value;
      ++at;
    } else if (command == "run" && arg == "--store") {
      store = fs::absolute(value).string();
      ++at;
    } else if (command == "run" && arg == "--stack-wait") {
      if (!ParseNumber(value, 600000, &stackWait))
        return fail("--stack-wait wants milliseconds, not \"" + value + "\"");
      ++at;
    } else if (command == "run" && arg == "--max-boots") {
      if (!ParseNumber(value, 100000, &maxBoots)) return fail("--max-boots wants a count, not \"" + value + "\"");
      ++at;
    } else {
      return fail("unknown option \"" + arg + "\" for " + command);
    }
  }

  if (command == "shortcut") {
    if (shortcutFile.empty()) return fail("shortcut wants a file");
    return ReadShortcutCommand(shortcutFile);
  }
  if (command == "init") {
    init.portNumber = port == 0 ? 4 : port;
    if (!programGiven) {
      const std::string beside = Beside("quillon");
      std::error_code error;
      if (fs::is_regular_file(beside, error)) init.program = beside;
    }
    if (!samplesGiven) {
      // Installed, the samples lie in share/quillon beside bin; in a build folder, in the project.
      const fs::path installed = fs::path(Beside("")).parent_path().parent_path() / "share/quillon/samples";
      std::error_code error;
      init.samples = fs::is_directory(installed, error) ? installed.string() : std::string(QUILLON_SAMPLES_DIR);
    }
    return quillon::device::InitDevice(init, Print) ? 0 : 1;
  }
  if (command == "run") {
    return RunCommand(rootPath, existingLink, port, modsim, store, static_cast<std::uint32_t>(stackWait),
                      static_cast<int>(maxBoots));
  }
  return fail("unknown command \"" + command + "\"");
}
