#include "platform/posix/serial_posix.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/posix/serial_termios.h"

namespace quillon::platform::posix {
namespace {

ErrorCode LastErrno() { return ErrorFromErrno(errno); }

class PosixSerialDevice final : public SerialDevice {
 public:
  explicit PosixSerialDevice(int fd) : fd_(fd) {}
  ~PosixSerialDevice() override { close(fd_); }
  PosixSerialDevice(const PosixSerialDevice&) = delete;
  PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

  ErrorCode SetLineState(const LineSettings& settings) override {
    TermiosSettings wanted;
    if (const ErrorCode built = BuildTermios(settings, &wanted); built != kSuccess) return built;
    termios2 state{};
    if (ioctl(fd_, TCGETS2, &state) != 0) return LastErrno();
    state.c_iflag = wanted.inputFlags;
    state.c_oflag = wanted.outputFlags;
    state.c_cflag = wanted.controlFlags;
    state.c_lflag = wanted.localFlags;
    state.c_ispeed = wanted.speed;
    state.c_ospeed = wanted.speed;
    state.c_cc[VMIN] = 0;
    state.c_cc[VTIME] = 0;
    if (ioctl(fd_, TCSETS2, &state) != 0) return LastErrno();
    // Some drivers take any rate and quietly use the nearest they can make: a rate more than
    // 2 % away would garble every byte, so it counts as refused.
    termios2 applied{};
    if (ioctl(fd_, TCGETS2, &applied) != 0) return LastErrno();
    const long long difference = static_cast<long long>(applied.c_ospeed) - wanted.speed;
    if (std::llabs(difference) * 50 > wanted.speed) return kErrorInvalidParameter;
    return kSuccess;
  }

  // Only reads that return at once are needed, and only they are offered.
  ErrorCode SetTimeouts(const Timeouts& timeouts) override {
    const bool atOnce = timeouts.readInterval == kReadReturnsAtOnce.readInterval &&
                        timeouts.readTotalMultiplier == 0 && timeouts.readTotalConstant == 0;
    const bool untimedWrites = timeouts.writeTotalMultiplier == 0 && timeouts.writeTotalConstant == 0;
    return atOnce && untimedWrites ? kSuccess : kErrorInvalidParameter;
  }

  // The kernel's queues have sizes of their own; any request is met.
  ErrorCode SetupQueues(std::uint32_t inputBytes, std::uint32_t outputBytes) override {
    return inputBytes > 0 && outputBytes > 0 ? kSuccess : kErrorInvalidParameter;
  }

  ErrorCode Escape(ModemLine line) override {
    const int bits = (line == ModemLine::kClearDtr || line == ModemLine::kSetDtr) ? TIOCM_DTR : TIOCM_RTS;
    const bool set = line == ModemLine::kSetDtr || line == ModemLine::kSetRts;
    return ioctl(fd_, set ? TIOCMBIS : TIOCMBIC, &bits) == 0 ? kSuccess : LastErrno();
  }

  ErrorCode Purge() override { return ioctl(fd_, TCFLSH, TCIOFLUSH) == 0 ? kSuccess : LastErrno(); }

  ErrorCode Read(std::span<std::uint8_t> buffer, std::uint32_t* got) override {
    *got = 0;
    ssize_t count;
    do {
      count = read(fd_, buffer.data(), buffer.size());
    } while (count < 0 && errno == EINTR);
    if (count < 0) return errno == EAGAIN ? kSuccess : LastErrno();
    *got = static_cast<std::uint32_t>(count);
    return kSuccess;
  }

  // Writes are not timed: the call returns when every byte has been taken.
  ErrorCode Write(std::span<const std::uint8_t> bytes, std::uint32_t* written) override {
    *written = 0;
    while (*written < bytes.size()) {
      const ssize_t count = write(fd_, bytes.data() + *written, bytes.size() - *written);
      if (count >= 0) {
        *written += static_cast<std::uint32_t>(count);
        continue;
      }
      if (errno == EINTR) continue;
      if (errno != EAGAIN) return LastErrno();
      pollfd waiting{fd_, POLLOUT, 0};
      if (poll(&waiting, 1, -1) < 0 && errno != EINTR) return LastErrno();
    }
    return kSuccess;
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<SerialDevice> PosixSerialDevices::Open(std::wstring_view name, ErrorCode* error) {
  const std::string path = root_.PortPath(name);
  if (path.empty()) {
    *error = kErrorFileNotFound;
    return nullptr;
  }
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = LastErrno();
    return nullptr;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    *error = kErrorAccessDenied;  // another program has the port
    return nullptr;
  }
  (void)ioctl(fd, TIOCEXCL);  // refused by files that are no terminal; the lock above still holds
  *error = kSuccess;
  return std::make_unique<PosixSerialDevice>(fd);
}

}  // namespace quillon::platform::posix
