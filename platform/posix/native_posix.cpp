// The Linux back end's roles, built once for the process.
#include "platform/platform.h"
#include "platform/posix/clock_posix.h"
#include "platform/posix/device_root.h"
#include "platform/posix/files_posix.h"
#include "platform/posix/kernel_objects_posix.h"
#include "platform/posix/messages_posix.h"
#include "platform/posix/registry_file.h"
#include "platform/posix/serial_posix.h"
#include "platform/posix/system_posix.h"

namespace quillon::platform {
namespace {

struct PosixBackEnd {
  posix::DeviceRoot root = posix::DeviceRoot::FromEnvironment();
  posix::PosixClock clock;
  posix::PosixKernelObjects kernel{root.ObjectPrefix()};
  posix::PosixFiles files{root};
  posix::RegistryFile registry{root};
  posix::PosixSerialDevices serial{root};
  posix::PosixSystem system{root};
  posix::PosixWindowMessages messages{root.ObjectPrefix()};
  Platform roles{&clock, &kernel, &files, &files, &registry, &serial, &system, &messages};
};

}  // namespace

const Platform& Native() {
  static PosixBackEnd backEnd;
  return backEnd.roles;
}

}  // namespace quillon::platform
