// The Linux back end's roles, owned by the program that builds them.
#include "platform/native_platform.h"
#include "platform/posix/clock_posix.h"
#include "platform/posix/device_root.h"
#include "platform/posix/files_posix.h"
#include "platform/posix/hci_socket_port.h"
#include "platform/posix/kernel_objects_posix.h"
#include "platform/posix/messages_posix.h"
#include "platform/posix/registry_file.h"
#include "platform/posix/serial_posix.h"
#include "platform/posix/system_posix.h"

namespace quillon::platform {

struct NativePlatform::BackEnd {
  posix::DeviceRoot root = posix::DeviceRoot::FromEnvironment();
  posix::PosixClock clock;
  posix::PosixKernelObjects kernel{root.ObjectPrefix()};
  posix::PosixFiles files{root};
  posix::RegistryFile registry{root};
  posix::PosixSerialDevices serial{root};
  posix::PosixSystem system{root};
  posix::PosixWindowMessages messages{root.ObjectPrefix()};
  posix::PosixHciSockets hci{roles};
  Platform roles{&clock, &kernel, &files, &files, &registry, &serial, &system, &messages, &hci};
};

NativePlatform::NativePlatform() : backEnd_(std::make_unique<BackEnd>()) {}

NativePlatform::~NativePlatform() = default;

const Platform& NativePlatform::Roles() const { return backEnd_->roles; }

}  // namespace quillon::platform
