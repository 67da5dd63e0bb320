#include "tools/quillon_device/boot_loop.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "platform/text.h"
#include "tools/quillon_device/child_program.h"
#include "tools/quillon_device/shortcut_reader.h"

namespace quillon::device {
namespace fs = std::filesystem;
namespace {

constexpr wchar_t kStartUpPattern[] = L"\\Windows\\StartUp\\*.lnk";
constexpr wchar_t kProgramPath[] = L"\\Program Files\\Quillon\\quillon";
constexpr int kStopGraceMs = 2000;
constexpr int kAskerEndsMs = 500;

struct Started {
  std::string name;
  std::unique_ptr<ChildProgram> child;
  bool ended = false;
};

// Reads at most one byte more than a shortcut may hold, so that an over-long file is seen.
bool ReadShortcutFile(platform::Files& files, const std::wstring& path, std::vector<std::uint8_t>* bytes,
                      std::string* problem) {
  platform::ErrorCode error = platform::kSuccess;
  auto file = files.Open(path, platform::FileMode::kReadExisting, &error);
  if (file == nullptr) {
    *problem = "cannot be opened (error " + std::to_string(error) + ")";
    return false;
  }
  while (bytes->size() <= kShortcutMaxBytes) {
    std::uint8_t byte = 0;
    std::uint32_t got = 0;
    if (const platform::ErrorCode read = file->ReadByte(&byte, &got); read != platform::kSuccess) {
      *problem = "cannot be read (error " + std::to_string(read) + ")";
      return false;
    }
    if (got == 0) break;
    bytes->push_back(byte);
  }
  return true;
}

std::uintmax_t RestartRequests(const platform::posix::DeviceRoot& root) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(root.Path() + "/restart-requests", error);
  return error ? 0 : size;
}

class Boot {
 public:
  Boot(const DeviceRoles& roles, const ReportLine& report) : roles_(roles), report_(report) {}

  // Starts what the boot starts; false when nothing started.
  bool StartPrograms(bool firstBoot) {
    std::vector<std::wstring> names;
    (void)roles_.folders.List(kStartUpPattern, &names);
    for (const std::wstring& name : names) StartShortcut(name);
    // The first boot of a run stands for the user who starts the program by hand, when the
    // start-up folder starts nothing (a refused shortcut, such as an empty one that a failed
    // run left, included).
    if (programs_.empty() && firstBoot) {
      StartProgram("quillon", platform::WideToUtf8(kProgramPath), {}, " (first start)");
    }
    return !programs_.empty();
  }

  enum class End { kRest, kRestart, kSwitchedOff };

  // Waits until every program has ended, or stops them when the device is switched off.
  End WaitForPrograms(std::uintmax_t requestsBefore, const std::function<bool()>& switchedOff) {
    bool restart = false;
    int sinceRestartMs = 0;
    for (;;) {
      bool running = false;
      for (Started& program : programs_) {
        int status = 0;
        if (program.ended) continue;
        if (!program.child->Ended(&status)) {
          running = true;
          continue;
        }
        program.ended = true;
        report_("program " + program.name + " ended (exit " + std::to_string(status) + ")");
      }
      // The request is recorded just before the program that asked ends: it is reported once
      // that program's end has been, so that the lines keep the order of what happened.
      if (!restart && RestartRequests(roles_.root) > requestsBefore) restart = true;
      if (!running) {
        if (!restart) return End::kRest;
        report_("restart requested");
        return End::kRestart;
      }
      if (switchedOff()) {
        StopAll("the device is switched off");
        return End::kSwitchedOff;
      }
      // The program that asked ends at once; the others are what a restart cuts short.
      if (restart && sinceRestartMs >= kAskerEndsMs) {
        report_("restart requested");
        StopAll("for the restart");
        return End::kRestart;
      }
      if (restart) sinceRestartMs += 10;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

 private:
  void StopAll(const std::string& why) {
    for (Started& program : programs_) {
      if (program.ended) continue;
      report_("stopping " + program.name + " " + why);
      const int status = program.child->Stop(false, kStopGraceMs);
      program.ended = true;
      report_("program " + program.name + " ended (exit " + std::to_string(status) + ")");
    }
  }

  void StartShortcut(const std::wstring& name) {
    const std::string shown = platform::WideToUtf8(name);
    std::vector<std::uint8_t> bytes;
    std::string problem;
    Shortcut shortcut;
    if (!ReadShortcutFile(roles_.files, L"\\Windows\\StartUp\\" + name, &bytes, &problem) ||
        !ReadShortcut(bytes, &shortcut, &problem)) {
      report_("startup: " + shown + " refused: " + problem);
      return;
    }
    report_("startup: " + shown + ": \"" + shortcut.programPath + "\" " + shortcut.commandLine);
    StartProgram(shown, shortcut.programPath, {shortcut.commandLine},
                 " (state " + std::to_string(shortcut.state) + ")");
  }

  void StartProgram(const std::string& name, const std::string& path, const std::vector<std::string>& arguments,
                    const std::string& what) {
    // The program path may be a device path ("\Program Files\...") or, as a Linux program
    // writes its own path, a path of the host.
    const std::string host = roles_.root.HostPath(platform::Utf8ToWide(path));
    std::error_code error;
    if (!fs::is_regular_file(host, error)) {
      report_("start " + name + ": no program " + path);
      return;
    }
    ChildProgram::Launch launch;
    launch.path = host;
    launch.arguments = arguments;
    launch.environment = {"QUILLON_DEVICE_ROOT=" + roles_.root.Path()};
    launch.workingFolder = fs::path(host).parent_path().string();
    // Said before the start, so that it comes before anything the program says.
    report_("start " + name + what);
    std::string problem;
    auto child = ChildProgram::Start(launch, &problem);
    if (child == nullptr) {
      report_("program " + name + " cannot be started: " + problem);
      return;
    }
    programs_.push_back(Started{name, std::move(child)});
  }

  const DeviceRoles& roles_;
  const ReportLine& report_;
  std::vector<Started> programs_;
};

}  // namespace

int RunDevice(const DeviceRoles& roles, const BootLoopOptions& options, const ReportLine& report) {
  for (int boot = 1; boot <= options.maxBoots; ++boot) {
    if (options.switchedOff()) {
      report("switched off");
      return kDeviceSwitchedOff;
    }
    report("boot " + std::to_string(boot));
    if (boot > 1 && !options.powerCycleModule()) {
      report("the module did not come back; run ends");
      return 1;
    }
    const auto stack = BluetoothStack::Boot(StackRoles{roles.registry, roles.serial, roles.clock}, options.stackWaitMs,
                                            report);
    Boot programs(roles, report);
    const std::uintmax_t requestsBefore = RestartRequests(roles.root);
    if (!programs.StartPrograms(boot == 1)) {
      report("nothing to start; the device stays idle; run ends");
      return 0;
    }
    switch (programs.WaitForPrograms(requestsBefore, options.switchedOff)) {
      case Boot::End::kRest:
        report("no restart asked; run ends");
        return 0;
      case Boot::End::kSwitchedOff:
        report("switched off");
        return kDeviceSwitchedOff;
      case Boot::End::kRestart:
        break;
    }
  }
  report("the device restarted " + std::to_string(options.maxBoots) + " times; run ends");
  return 1;
}

}  // namespace quillon::device
