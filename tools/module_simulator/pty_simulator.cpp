#include "tools/module_simulator/pty_simulator.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace quillon::sim {
namespace {

std::uint64_t NowUs() {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

}  // namespace

PtySimulator::PtySimulator(SimulatorOptions options, PsStore store, StoreFlash* flash)
    : module_(options, std::move(store), flash) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master_ < 0) return;
  if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
    close(master_);
    master_ = -1;
    return;
  }
  portPath_ = ptsname(master_);
  SetLineRaw();
}

// On the master, the terminal's settings are those of the side the host opens. Raw from the
// start: a terminal in its default mode would echo the module's own bytes.
void PtySimulator::SetLineRaw() {
  termios2 state{};
  if (ioctl(master_, TCGETS2, &state) != 0) return;
  state.c_iflag = 0;
  state.c_oflag = 0;
  state.c_lflag = 0;
  state.c_cflag = BOTHER | CS8 | CREAD | CLOCAL;
  state.c_ispeed = state.c_ospeed = module_.BaudRate();
  state.c_cc[VMIN] = 0;
  state.c_cc[VTIME] = 0;
  (void)ioctl(master_, TCSETS2, &state);
}

PtySimulator::~PtySimulator() {
  Stop();
  if (!linkPath_.empty()) std::filesystem::remove(linkPath_);
  if (master_ >= 0) close(master_);
}

std::string PtySimulator::LinkAs(const std::string& deviceRoot, int number) {
  std::error_code error;
  std::filesystem::create_directories(deviceRoot + "/dosdevices", error);
  const std::string link = deviceRoot + "/dosdevices/com" + std::to_string(number);
  std::filesystem::remove(link, error);
  std::filesystem::create_symlink(portPath_, link, error);
  if (error) return "cannot link " + link + ": " + error.message();
  linkPath_ = link;
  return {};
}

// Wine's serial layer sets "ignore breaks" and "check parity" on every line setting, and cannot set
// a pseudo-terminal again once they are on: a host that closed the port and opens it again (the
// setup asking the module for its rate after programming) would be refused. Neither matters on a
// pseudo-terminal, which carries no breaks and no parity, so they go as soon as they are seen,
// while the host that set them still holds the port: waiting until it has let the port go lost
// the race against a host that opens it again at once.
std::uint32_t PtySimulator::HostBaudForgettingBreakAndParityChecks() {
  termios2 state{};
  if (ioctl(master_, TCGETS2, &state) != 0) return module_.BaudRate();
  constexpr auto kChecks = static_cast<tcflag_t>(IGNBRK | INPCK);
  if ((state.c_iflag & kChecks) != 0) {
    state.c_iflag &= ~kChecks;
    (void)ioctl(master_, TCSETS2, &state);
  }
  return state.c_ospeed;
}

void PtySimulator::Start() {
  if (master_ < 0 || thread_.joinable()) return;
  stop_ = false;
  thread_ = std::thread([this] { Run(); });
}

void PtySimulator::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void PtySimulator::Run() {
  // The line's times are kept to a few microseconds only if the kernel wakes this thread when
  // asked, not up to its default slack of 50 µs later.
  (void)prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  std::vector<std::uint8_t> buffer(4096);
  while (!stop_) {
    pollfd ready{master_, POLLIN, 0};
    // The module is run when the host writes and whenever something on the line falls due; an
    // idle line is looked at every millisecond for the link's own timers.
    std::uint64_t waitUs = 1000;
    if (const auto next = module_.NextEventUs()) {
      const std::uint64_t now = NowUs();
      waitUs = std::min<std::uint64_t>(waitUs, *next > now ? *next - now : 0);
    }
    const timespec wait{0, static_cast<long>(waitUs * 1000)};
    const int events = ppoll(&ready, 1, &wait, nullptr);
    const std::uint32_t hostBaud = HostBaudForgettingBreakAndParityChecks();
    if (events > 0 && (ready.revents & POLLIN) != 0) {
      const ssize_t got = read(master_, buffer.data(), buffer.size());
      if (got > 0) module_.FromHost(std::span(buffer.data(), static_cast<std::size_t>(got)), hostBaud, NowUs());
    } else if (events > 0 && (ready.revents & POLLHUP) != 0) {
      // Nobody has the port open: the line is idle.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const std::size_t count = module_.ToHost(buffer, hostBaud, NowUs());
    // What the terminal cannot take now is lost, as on a line that nobody reads.
    if (count > 0) (void)!write(master_, buffer.data(), count);
  }
}

}  // namespace quillon::sim
