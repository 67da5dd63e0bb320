#include "platform/posix/serial_posix.h"

#include "platform/text.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/posix/deadline.h"
#include "platform/posix/descriptor.h"
#include "platform/posix/pollable_event.h"
#include "platform/posix/serial_termios.h"

namespace quillon::platform::posix {
namespace {

ErrorCode LastErrno() { return ErrorFromErrno(errno); }

// Milliseconds from now until `deadline` on the monotonic clock; 0 once it has passed.
int MillisecondsUntil(const timespec& deadline) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const long long left = (deadline.tv_sec - now.tv_sec) * 1000LL + (deadline.tv_nsec - now.tv_nsec) / 1000000LL;
  return left <= 0 ? 0 : static_cast<int>(left);
}

class PosixSerialDevice final : public SerialDevice {
 public:
  explicit PosixSerialDevice(int fd) : fd_(fd) {}

  ErrorCode SetLineState(const LineSettings& settings) override {
    TermiosSettings wanted;
    if (const ErrorCode built = BuildTermios(settings, &wanted); built != kSuccess) return built;
    termios2 state{};
    if (ioctl(fd_.get(), TCGETS2, &state) != 0) return LastErrno();
    state.c_iflag = wanted.inputFlags;
    state.c_oflag = wanted.outputFlags;
    state.c_cflag = wanted.controlFlags;
    state.c_lflag = wanted.localFlags;
    state.c_ispeed = wanted.speed;
    state.c_ospeed = wanted.speed;
    state.c_cc[VMIN] = 0;
    state.c_cc[VTIME] = 0;
    if (ioctl(fd_.get(), TCSETS2, &state) != 0) return LastErrno();
    // Some drivers take any rate and quietly use the nearest they can make: a rate more than
    // 2 % away would garble every byte, so it counts as refused.
    termios2 applied{};
    if (ioctl(fd_.get(), TCGETS2, &applied) != 0) return LastErrno();
    const long long difference = static_cast<long long>(applied.c_ospeed) - wanted.speed;
    if (std::llabs(difference) * 50 > wanted.speed) return kErrorInvalidParameter;
    return kSuccess;
  }

  // Only reads that return at once are needed, and only they are offered. Writes wait as long
  // as the write time-outs say, as on Windows: multiplier per byte plus constant, both 0 for
  // writes that wait until every byte has been taken.
  ErrorCode SetTimeouts(const Timeouts& timeouts) override {
    if (!ReadsReturnAtOnce(timeouts)) return kErrorInvalidParameter;
    writeTimeouts_ = timeouts;
    return kSuccess;
  }

  // The kernel's queues have sizes of their own; any request is met.
  ErrorCode SetupQueues(std::uint32_t inputBytes, std::uint32_t outputBytes) override {
    return inputBytes > 0 && outputBytes > 0 ? kSuccess : kErrorInvalidParameter;
  }

  ErrorCode Escape(ModemLine line) override {
    const int bits = (line == ModemLine::kClearDtr || line == ModemLine::kSetDtr) ? TIOCM_DTR : TIOCM_RTS;
    const bool set = line == ModemLine::kSetDtr || line == ModemLine::kSetRts;
    return ioctl(fd_.get(), set ? TIOCMBIS : TIOCMBIC, &bits) == 0 ? kSuccess : LastErrno();
  }

  ErrorCode Purge() override { return ioctl(fd_.get(), TCFLSH, TCIOFLUSH) == 0 ? kSuccess : LastErrno(); }

  ErrorCode Read(std::span<std::uint8_t> buffer, std::uint32_t* got) override {
    *got = 0;
    ssize_t count;
    do {
      count = read(fd_.get(), buffer.data(), buffer.size());
    } while (count < 0 && errno == EINTR);
    if (count < 0) return errno == EAGAIN ? kSuccess : LastErrno();
    *got = static_cast<std::uint32_t>(count);
    return kSuccess;
  }

  // Returns when every byte has been taken, or kErrorTimeout with *written short once the write
  // time-out has passed (a line whose other end takes nothing never drains).
  ErrorCode Write(std::span<const std::uint8_t> bytes, std::uint32_t* written) override {
    *written = 0;
    const std::uint64_t limitMs = std::uint64_t{writeTimeouts_.writeTotalMultiplier} * bytes.size() +
                                  writeTimeouts_.writeTotalConstant;
    const bool timed = limitMs != 0;
    const timespec deadline = DeadlineAfter(CLOCK_MONOTONIC,
                                            static_cast<std::uint32_t>(std::min<std::uint64_t>(limitMs, 0x7FFFFFFF)));
    while (*written < bytes.size()) {
      const ssize_t count = write(fd_.get(), bytes.data() + *written, bytes.size() - *written);
      if (count >= 0) {
        *written += static_cast<std::uint32_t>(count);
        continue;
      }
      if (errno == EINTR) continue;
      if (errno != EAGAIN) return LastErrno();
      const int waitMs = timed ? MillisecondsUntil(deadline) : -1;
      if (waitMs == 0) return kErrorTimeout;
      pollfd waiting{fd_.get(), POLLOUT, 0};
      if (poll(&waiting, 1, waitMs) < 0 && errno != EINTR) return LastErrno();
    }
    return kSuccess;
  }

  // poll() on the port and the stop event's descriptor together. A stop event without one is
  // tested after a wait on the port alone, which is still at most timeoutMs late. A line that
  // has hung up (the other end of a pseudo-terminal closed) polls ready for ever, though a read
  // brings nothing: then only the stop event is waited on, so that a pass never spins; the
  // link's read of every pass still takes whatever the line holds.
  InputWait WaitForInput(Event* stop, std::uint32_t timeoutMs) override {
    const auto* pollable = dynamic_cast<const PollableEvent*>(stop);
    const int stopFd = pollable != nullptr ? pollable->ReadinessDescriptor() : -1;
    pollfd waiting[2] = {{fd_.get(), POLLIN, 0}, {stopFd, POLLIN, 0}};
    const int timeout = static_cast<int>(std::min<std::uint32_t>(timeoutMs, 0x7FFFFFFF));
    int ready = poll(waiting, stopFd >= 0 ? 2 : 1, timeout);
    if (ready > 0 && (waiting[0].revents & (POLLHUP | POLLERR)) != 0) {
      ready = stopFd >= 0 ? poll(&waiting[1], 1, timeout) : (poll(nullptr, 0, timeout), 0);
      waiting[0].revents = 0;
    }
    if (ready < 0 && errno != EINTR) return InputWait::kUnsupported;
    if ((stopFd >= 0 && (waiting[1].revents & POLLIN) != 0) || (stop != nullptr && stopFd < 0 && stop->Wait(0))) {
      return InputWait::kStopped;
    }
    if ((waiting[0].revents & POLLIN) != 0) return InputWait::kInput;
    return InputWait::kTimedOut;
  }

 private:
  Descriptor fd_;
  Timeouts writeTimeouts_{};
};

}  // namespace

std::wstring PosixSerialDevices::FileOf(std::wstring_view name) {
  const std::string path = root_.PortPath(name);
  return path.empty() ? std::wstring(name) : HostNameToWide(path);
}

std::unique_ptr<SerialDevice> PosixSerialDevices::Open(std::wstring_view name, ErrorCode* error) {
  const std::string path = root_.PortPath(name);
  if (path.empty()) {
    *error = kErrorFileNotFound;
    return nullptr;
  }
  Descriptor fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) {
    *error = LastErrno();
    return nullptr;
  }
  if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    *error = kErrorAccessDenied;  // another program has the port
    return nullptr;
  }
  (void)ioctl(fd.get(), TIOCEXCL);  // refused by files that are no terminal; the lock above still holds
  *error = kSuccess;
  return std::make_unique<PosixSerialDevice>(fd.release());
}

}  // namespace quillon::platform::posix
