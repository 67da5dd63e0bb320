#include "platform/posix/hci_socket_port.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/device_root.h"

namespace quillon::platform::posix {
namespace {

// The kernel's HCI socket interface, as its headers define it (the Bluetooth headers are not
// needed for these few numbers).
constexpr int kAfBluetooth = 31;
constexpr int kBtProtoHci = 1;
constexpr int kSolHci = 0;
constexpr int kHciFilter = 2;
constexpr std::uint16_t kHciChannelRaw = 0;
constexpr std::uint8_t kCommandPacket = 0x01;
constexpr std::uint8_t kEventPacket = 0x04;

struct SocketAddress {
  sa_family_t family;
  std::uint16_t device;
  std::uint16_t channel;
};

struct Filter {
  std::uint32_t typeMask;
  std::uint32_t eventMask[2];
  std::uint16_t opcode;
};

ErrorCode FromErrno(int error) {
  switch (error) {
    case ENETDOWN:
      return kErrorNotReady;
    case ENODEV:
      return kErrorDeviceNotConnected;
    case EAFNOSUPPORT:
    case EPROTONOSUPPORT:
      return kErrorServiceDisabled;
    case EPERM:
    case EACCES:
      return kErrorAccessDenied;
    default:
      return ErrorFromErrno(error);
  }
}

}  // namespace

int HciDeviceNumber(std::wstring_view name) {
  if (name.size() < 4 || name.size() > 7 || name.substr(0, 3) != L"hci") return -1;
  int number = 0;
  for (const wchar_t c : name.substr(3)) {
    if (c < L'0' || c > L'9') return -1;
    number = number * 10 + (c - L'0');
  }
  return number > 0xFFFF ? -1 : number;
}

HciSocketPort::~HciSocketPort() {
  if (socket_ >= 0) close(socket_);
}

ErrorCode HciSocketPort::Open(std::wstring_view name, std::uint32_t) {
  if (socket_ >= 0) close(socket_);
  socket_ = -1;
  const int device = HciDeviceNumber(name);
  if (device < 0) return kErrorDeviceNotConnected;
  const int opened = socket(kAfBluetooth, SOCK_RAW | SOCK_CLOEXEC, kBtProtoHci);
  if (opened < 0) return FromErrno(errno);
  SocketAddress address{kAfBluetooth, static_cast<std::uint16_t>(device), kHciChannelRaw};
  // Only events, and of them the vendor event: the kernel tests the code modulo 64, so 0xFF is
  // bit 63, bit 31 of the second word.
  Filter filter{1u << kEventPacket, {0, 1u << 31}, 0};
  if (bind(opened, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      setsockopt(opened, kSolHci, kHciFilter, &filter, sizeof filter) != 0) {
    const ErrorCode error = FromErrno(errno);
    close(opened);
    return error;
  }
  socket_ = opened;
  return kSuccess;
}

ErrorCode HciSocketPort::SendCommand(std::span<const std::uint8_t> command) {
  if (socket_ < 0) return kErrorInvalidHandle;
  std::vector<std::uint8_t> packet{kCommandPacket};
  packet.insert(packet.end(), command.begin(), command.end());
  ssize_t sent;
  do {
    sent = write(socket_, packet.data(), packet.size());
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) return FromErrno(errno);
  return static_cast<std::size_t>(sent) == packet.size() ? kSuccess : kErrorGenFailure;
}

InputWait HciSocketPort::NextEvent(std::vector<std::uint8_t>* event, Event* stop, std::uint32_t timeoutMs) {
  if (socket_ < 0) return InputWait::kUnsupported;
  const std::uint32_t start = platform_.clock->TickCount();
  for (;;) {
    if (stop != nullptr && stop->Wait(0)) return InputWait::kStopped;
    const std::uint32_t waited = platform_.clock->TickCount() - start;
    if (waited >= timeoutMs) return InputWait::kTimedOut;
    // Short waits, so that a stop request is seen within 20 ms.
    pollfd ready{socket_, POLLIN, 0};
    const int polled = poll(&ready, 1, static_cast<int>(std::min<std::uint32_t>(timeoutMs - waited, 20)));
    if (polled <= 0) continue;
    // One read, one packet: a packet longer than the buffer comes cut, and is left out.
    std::uint8_t packet[1 + 2 + 255 + 1];
    const ssize_t got = read(socket_, packet, sizeof packet);
    if (got <= 0) {
      if (got < 0 && errno == EINTR) continue;
      return InputWait::kTimedOut;
    }
    if (packet[0] != kEventPacket || got < 3 || static_cast<std::size_t>(got) == sizeof packet) {
      ++ignored_;
      continue;
    }
    event->assign(packet + 1, packet + got);
    return InputWait::kInput;
  }
}

}  // namespace quillon::platform::posix
