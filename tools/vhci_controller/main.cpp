// vhci-controller: an emulated BlueCore behind the Linux kernel's /dev/vhci, so that psconfig's
// HCI transport can be tried against a real kernel without a module. Also brings an HCI device up
// or down, which the kernel tests need and which a minimal system has no other tool for.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/descriptor.h"
#include "platform/program_version.h"
#include "tools/vhci_controller/hci_controller.h"

namespace {

using quillon::platform::posix::Descriptor;

// The kernel's HCI socket and its device ioctls, as the kernel's user interface defines them.
constexpr int kBtProtoHci = 1;
constexpr unsigned long kHciDevUp = _IOW('H', 201, int);
constexpr unsigned long kHciDevDown = _IOW('H', 202, int);

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitNoDevice = 2;
constexpr int kExitUsage = 64;

void Usage(std::FILE* out) {
  std::fprintf(out,
               "usage: vhci-controller [options]\n"
               "       vhci-controller --device-up hciN | --device-down hciN\n"
               "\n"
               "Registers an emulated BlueCore with the kernel through /dev/vhci and answers it: the kernel's\n"
               "bring-up commands, and BCCMD in HCI command 0xFC00 (build identifier, PS key reads and writes,\n"
               "warm reset) with vendor events only. Prints the device's name (hciN) on standard error, one\n"
               "line per command, and a summary at the end. Ends on SIGTERM or Ctrl-C.\n"
               "\n"
               "  --store FILE.psr    the PS keys the module holds at the start\n"
               "  --save FILE.psr     write the PS store to this file at the end\n"
               "  --requests FILE     write every BCCMD request to this file as it comes, in hexadecimal,\n"
               "                      one line each\n"
               "  --build-id N        the build identifier the module reports (default 7595)\n"
               "  --complete-fc00     also answer each 0xFC00 command with Command Complete (status 0)\n"
               "                      before the vendor events, as some modules do\n"
               "  --status-fc00       the same with Command Status\n"
               "  --decoy-events      send before each answer events that a host must leave out: another\n"
               "                      channel, a last fragment alone, another sequence number, one longer\n"
               "                      and one shorter than its declared length (each with the error status\n"
               "                      8); and one of another channel between an answer's fragments\n"
               "  --silent            take BCCMD requests and answer none of them, like a module that hangs\n"
               "  --quiet             only the device's name and the summary\n"
               "  --device-up hciN    bring the device up (HCIDEVUP; root or CAP_NET_ADMIN) and end\n"
               "  --device-down hciN  bring the device down (HCIDEVDOWN) and end\n"
               "  --version           print the version and end; --help, -h print these lines\n");
}

bool ParseNumber(const std::string& text, unsigned long most, unsigned long* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  *value = std::strtoul(text.c_str(), &end, 0);
  return errno == 0 && *end == '\0' && text[0] != '-' && *value <= most;
}

// "hci3" -> 3
bool ParseDeviceName(const std::string& name, int* index) {
  unsigned long value = 0;
  if (name.rfind("hci", 0) != 0 || name.size() == 3 || !ParseNumber(name.substr(3), 0xFFFF, &value)) return false;
  *index = static_cast<int>(value);
  return true;
}

int SwitchDevice(const std::string& name, bool up) {
  int index = 0;
  if (!ParseDeviceName(name, &index)) {
    std::fprintf(stderr, "vhci-controller: \"%s\" is not a device name such as hci0\n", name.c_str());
    return kExitUsage;
  }
  const Descriptor hci(socket(AF_BLUETOOTH, SOCK_RAW | SOCK_CLOEXEC, kBtProtoHci));
  if (hci.get() < 0) {
    std::fprintf(stderr, "vhci-controller: no HCI socket: %s\n", std::strerror(errno));
    return kExitNoDevice;
  }
  if (ioctl(hci.get(), up ? kHciDevUp : kHciDevDown, index) < 0 && !(up && errno == EALREADY)) {
    std::fprintf(stderr, "vhci-controller: %s cannot be brought %s: %s\n", name.c_str(), up ? "up" : "down",
                 std::strerror(errno));
    return errno == ENODEV ? kExitNoDevice : kExitFailed;
  }
  return kExitDone;
}

bool Save(const quillon::sim::PsStore& store, const std::string& path) {
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << store.ToPsr();
    out.flush();
    if (!out) return false;
  }
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

struct Options {
  std::string store;
  std::string save;
  std::string requests;
  quillon::vhci::ControllerProfile profile;
  bool quiet = false;
};

int Run(const Options& options) {
  quillon::sim::PsStore store;
  if (!options.store.empty()) {
    if (const std::string problem = store.Load(options.store); !problem.empty()) {
      std::fprintf(stderr, "vhci-controller: %s: %s\n", options.store.c_str(), problem.c_str());
      return kExitFailed;
    }
  }
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> requests(options.requests.empty()
                                                                     ? nullptr
                                                                     : std::fopen(options.requests.c_str(), "w"),
                                                                 &std::fclose);
  if (!options.requests.empty() && !requests) {
    std::fprintf(stderr, "vhci-controller: %s cannot be written: %s\n", options.requests.c_str(), std::strerror(errno));
    return kExitFailed;
  }
  // Signals come as reads on a descriptor, so that the loop below is the only place that acts.
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGINT);
  sigprocmask(SIG_BLOCK, &stops, nullptr);
  const Descriptor signals(signalfd(-1, &stops, SFD_CLOEXEC));
  const Descriptor vhci(open("/dev/vhci", O_RDWR | O_CLOEXEC));
  if (vhci.get() < 0 || signals.get() < 0) {
    std::fprintf(stderr, "vhci-controller: /dev/vhci cannot be opened: %s\n", std::strerror(errno));
    return kExitNoDevice;
  }
  using quillon::vhci::kVhciCreatePrimary;
  if (write(vhci.get(), kVhciCreatePrimary.data(), kVhciCreatePrimary.size()) != ssize_t{kVhciCreatePrimary.size()}) {
    std::fprintf(stderr, "vhci-controller: the kernel registered no device: %s\n", std::strerror(errno));
    return kExitNoDevice;
  }

  quillon::vhci::EmulatedController controller(
      options.profile, std::move(store),
      [&](const std::string& line) {
        if (!options.quiet) std::fprintf(stderr, "vhci-controller: %s\n", line.c_str());
      },
      [&](std::span<const std::uint8_t> request) {
        if (!requests) return;
        for (const std::uint8_t byte : request) std::fprintf(requests.get(), "%02x", byte);
        std::fputc('\n', requests.get());
        std::fflush(requests.get());
      });
  // Larger than any packet the kernel hands a controller; a command cut short by it would be
  // refused as one that is not whole.
  std::vector<std::uint8_t> buffer(4096);
  std::vector<std::vector<std::uint8_t>> answers;
  std::uint32_t unsent = 0;
  for (;;) {
    pollfd waits[] = {{vhci.get(), POLLIN, 0}, {signals.get(), POLLIN, 0}};
    if (poll(waits, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (waits[1].revents != 0) break;
    if ((waits[0].revents & POLLIN) == 0) break;  // the device went away
    const ssize_t got = read(vhci.get(), buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    const std::span<const std::uint8_t> packet(buffer.data(), static_cast<std::size_t>(got));
    // The kernel starts bringing the device up as it registers it: the answer to the creation
    // may come after the first commands.
    if (const auto index = quillon::vhci::VhciCreatedIndex(packet)) {
      std::fprintf(stderr, "vhci-controller: hci%u registered\n", *index);
      continue;
    }
    answers.clear();
    controller.FromHost(packet, &answers);
    for (const auto& answer : answers) {
      if (write(vhci.get(), answer.data(), answer.size()) != static_cast<ssize_t>(answer.size())) ++unsent;
    }
  }

  const auto& counts = controller.Counts();
  std::fprintf(stderr,
               "vhci-controller: %u commands complete, %u unknown, %u BCCMD answers, %u warm resets, "
               "%u packets refused, %u fragments left out, %u messages abandoned, %u answers not sent\n",
               counts.commands, counts.unknownCommands, counts.bccmdAnswers, controller.WarmResets(),
               counts.refusedPackets, counts.leftOutFragments, controller.AbandonedMessages(), unsent);
  if (!options.save.empty() && !Save(controller.Store(), options.save)) {
    std::fprintf(stderr, "vhci-controller: the store cannot be saved to %s\n", options.save.c_str());
    return kExitFailed;
  }
  return kExitDone;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  Options options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const bool hasValue = i + 1 < arguments.size();
    if (argument == "--help" || argument == "-h") {
      Usage(stdout);
      return kExitDone;
    }
    if (argument == "--version") {
      std::fputs(quillon::platform::VersionLine("vhci-controller").c_str(), stdout);
      return kExitDone;
    }
    if ((argument == "--device-up" || argument == "--device-down") && hasValue) {
      return SwitchDevice(arguments[i + 1], argument == "--device-up");
    }
    unsigned long number = 0;
    if (argument == "--store" && hasValue) {
      options.store = arguments[++i];
    } else if (argument == "--save" && hasValue) {
      options.save = arguments[++i];
    } else if (argument == "--requests" && hasValue) {
      options.requests = arguments[++i];
    } else if (argument == "--build-id" && hasValue && ParseNumber(arguments[i + 1], 0xFFFF, &number)) {
      options.profile.buildId = static_cast<std::uint16_t>(number);
      ++i;
    } else if (argument == "--complete-fc00") {
      options.profile.bccmdCommandEvent = quillon::vhci::ControllerProfile::CommandEvent::kComplete;
    } else if (argument == "--status-fc00") {
      options.profile.bccmdCommandEvent = quillon::vhci::ControllerProfile::CommandEvent::kStatus;
    } else if (argument == "--decoy-events") {
      options.profile.decoyEvents = true;
    } else if (argument == "--silent") {
      options.profile.silent = true;
    } else if (argument == "--quiet") {
      options.quiet = true;
    } else {
      std::fprintf(stderr, "vhci-controller: \"%s\": unknown option or missing value\n\n", argument.c_str());
      Usage(stderr);
      return kExitUsage;
    }
  }
  return Run(options);
}
