// A stand-in for the setup program in the device emulator's tests. It walks the three runs of a
// setup as the program does them with the registry, the resume shortcut and restarts, and does
// nothing else (no dialog, no programming). The environment chooses faulty variants:
//   STANDIN_KEEP_STACK=1  run 1 leaves the stack's port name unmarked
//   STANDIN_NEW_BAUD=N    run 2 writes N as the built-in transport's "baud"
//   STANDIN_RUN_2=CMD     run 2 runs this shell command once the port is free (programs the module)
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/posix/device_root.h"
#include "platform/posix/files_posix.h"
#include "platform/posix/registry_file.h"
#include "platform/posix/serial_posix.h"
#include "platform/posix/system_posix.h"
#include "platform/text.h"

namespace {

using namespace quillon::platform;

constexpr wchar_t kTransport[] = L"Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1";
constexpr wchar_t kHci[] = L"Software\\Microsoft\\Bluetooth\\Hci";
constexpr wchar_t kShortcut[] = L"\\Windows\\StartUp\\Quillon.lnk";
constexpr char kPort[] = "COM4:";

// Names are written without their terminating zero, as the setup writes them.
void SetName(Registry& registry, const wchar_t* path, const std::wstring& name) {
  std::unique_ptr<RegistryKey> key;
  if (registry.OpenKey(path, RegistryAccess::kAll, &key) != kSuccess) return;
  const std::string data = WideToUtf16le(name);
  (void)key->SetValue(L"Name", kRegSz, std::span(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()));
}

bool WriteShortcut(Files& files, System& system, int state) {
  const std::string rest = "\"" + WideToUtf8(system.OwnPath()) + "\" /state:" + std::to_string(state) +
                           " /port:" + kPort +
                           " /psr:demo.psr /baudrate:115200 /TransportReg:" + WideToUtf8(kTransport);
  // The count leaves out the quotes; the text ends with its zero byte, and must fit 260 bytes.
  const std::string text = std::to_string(rest.size() - 2) + "#" + rest;
  if (text.size() + 1 > 260) return false;
  ErrorCode error = kSuccess;
  auto file = files.Open(kShortcut, FileMode::kWriteTruncate, &error);
  return file != nullptr &&
         file->Write(std::span(reinterpret_cast<const std::uint8_t*>(text.c_str()), text.size() + 1)) == kSuccess;
}

}  // namespace

int main(int argc, char** argv) {
  std::string commandLine;
  for (int i = 1; i < argc; ++i) commandLine += (i > 1 ? " " : "") + std::string(argv[i]);
  const std::size_t stateAt = commandLine.find("/state:");
  const int state = stateAt == std::string::npos ? 0 : std::atoi(commandLine.c_str() + stateAt + 7);

  const auto root = posix::DeviceRoot::FromEnvironment();
  posix::RegistryFile registry(root);
  posix::PosixFiles files(root);
  posix::PosixSerialDevices serial(root);
  posix::PosixSystem system(root);
  const std::wstring port = Utf8ToWide(kPort);
  std::printf("standin: run %d\n", state + 1);

  if (state == 0) {
    if (std::getenv("STANDIN_KEEP_STACK") == nullptr) {
      SetName(registry, kTransport, L"XXX" + port);
      SetName(registry, kHci, L"XXX" + port);
    }
  } else {
    (void)files.Delete(kShortcut);
  }
  if (state == 1) {
    ErrorCode error = kSuccess;
    if (serial.Open(port, &error) != nullptr) {
      std::printf("standin: port %s free\n", kPort);
    } else {
      std::printf("standin: port %s busy (error %u)\n", kPort, static_cast<unsigned>(error));
    }
    if (const char* command = std::getenv("STANDIN_RUN_2")) {
      std::fflush(stdout);
      std::printf("standin: ran the command, status %d\n", std::system(command));
    }
    if (const char* baud = std::getenv("STANDIN_NEW_BAUD")) {
      std::unique_ptr<RegistryKey> key;
      const std::uint32_t value = static_cast<std::uint32_t>(std::strtoul(baud, nullptr, 10));
      const std::uint8_t data[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                    static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
      if (registry.OpenKey(kTransport, RegistryAccess::kAll, &key) == kSuccess)
        (void)key->SetValue(L"baud", kRegDword, data);
    }
    SetName(registry, kTransport, port);
    SetName(registry, kHci, port);
  }
  if (state == 2) return 0;
  if (!WriteShortcut(files, system, state + 1)) {
    std::printf("standin: cannot write the shortcut\n");
    return 1;
  }
  std::fflush(stdout);
  return static_cast<int>(system.RequestRestart());
}
