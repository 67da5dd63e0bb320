#include "platform/posix/serial_termios.h"

#include <asm/termbits.h>

namespace quillon::platform::posix {

ErrorCode BuildTermios(const LineSettings& settings, TermiosSettings* out) {
  if (settings.baudRate == 0 || settings.dataBits < 5 || settings.dataBits > 8 ||
      settings.stopBits == StopBits::kOneAndHalf || settings.dsrFlowControl) {
    return kErrorInvalidParameter;
  }
  TermiosSettings result;
  static constexpr std::uint32_t kSizes[] = {CS5, CS6, CS7, CS8};
  result.controlFlags = BOTHER | CREAD | CLOCAL | kSizes[settings.dataBits - 5];
  switch (settings.parity) {
    case Parity::kNone:
      break;
    case Parity::kEven:
      result.controlFlags |= PARENB;
      break;
    case Parity::kOdd:
      result.controlFlags |= PARENB | PARODD;
      break;
    case Parity::kMark:
      result.controlFlags |= PARENB | PARODD | CMSPAR;
      break;
    case Parity::kSpace:
      result.controlFlags |= PARENB | CMSPAR;
      break;
  }
  if (settings.stopBits == StopBits::kTwo) result.controlFlags |= CSTOPB;
  if (settings.ctsFlowControl || settings.rtsControl) result.controlFlags |= CRTSCTS;
  if (settings.xonXoff) result.inputFlags |= IXON | IXOFF;
  // Without parity checking a byte with a parity error is passed on as it came.
  if (settings.parityCheck) result.inputFlags |= INPCK;
  result.speed = settings.baudRate;
  *out = result;
  return kSuccess;
}

}  // namespace quillon::platform::posix
