// quillon: the PS key setup program. Builds the platform's roles, the trace, the programming
// engine (serial port, link, PSConfig run), the setup and the dialog, and runs the dialog.
//
//   quillon [/state:N] [/port:NAME] [/psr:FILE] [/baudrate:N] [/TransportReg:KEY]
//
// The options carry a setup from one run to the next (the resume shortcut writes them). The link
// engine's diagnostic lines go to the file that QUILLON_CONSOLE_LOG names, else nowhere: the
// dialog owns the screen.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "bcsp/bcsp_link.h"
#include "bcsp/console.h"
#include "bcsp/serial_port.h"
#include "platform/native_platform.h"
#include "platform/platform.h"
#include "platform/program_version.h"
#include "platform/text.h"
#include "platform/window_program_roles.h"
#include "psconfig/ps_key_list.h"
#include "psconfig/psconfig.h"
#include "trace/trace.h"
#include "ui/deferred_restart.h"
#include "ui/programming_progress.h"
#include "ui/quillon_app.h"
#include "ui/quillon_dialog.h"
#include "ui/quillon_resource_table.h"

namespace {

// A working thread that was asked to stop and has not ended within this time when the window has
// gone is not waited for any longer.
constexpr std::uint32_t kFinalWaitMs = 10000;

class LogFileConsole final : public quillon::Console {
 public:
  explicit LogFileConsole(const char* path) : file_(path != nullptr ? std::fopen(path, "a") : nullptr) {}
  ~LogFileConsole() override {
    if (file_ != nullptr) std::fclose(file_);
  }
  LogFileConsole(const LogFileConsole&) = delete;
  LogFileConsole& operator=(const LogFileConsole&) = delete;
  void Write(std::string_view text) override {
    if (file_ == nullptr) return;
    std::fwrite(text.data(), 1, text.size(), file_);
    if (!text.empty() && text.back() == '\n') std::fflush(file_);
  }

 private:
  std::FILE* file_;
};

std::wstring CommandLine(int argc, char** argv) {
  std::wstring line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += L' ';
    line += quillon::platform::Utf8ToWide(argv[i]);
  }
  return line;
}

constexpr char kUsage[] =
    "usage: quillon [/state:N] [/port:NAME] [/psr:FILE] [/baudrate:N] [/TransportReg:KEY]\n"
    "  /state:N           the run to go on with (1 or 2), as the resume shortcut starts it\n"
    "  /port:NAME         the module's COM port\n"
    "  /psr:FILE          the PSR file to program\n"
    "  /baudrate:N        the baud rate the module talks at\n"
    "  /TransportReg:KEY  the registry key of the Bluetooth transport\n"
    "Without options the setup dialog opens; --help, -h and /? print these lines, --version the version.\n";

bool AsksForHelp(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument(argv[i]);
    if (argument == "--help" || argument == "-h" || argument == "/?" || argument == "/help") return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quillon;
  // Asked for its options, the program says them instead of opening the dialog and acting on
  // the module.
  if (argc == 2 && std::string_view(argv[1]) == "--version") {
    std::fputs(platform::VersionLine("quillon").c_str(), stdout);
    return 0;
  }
  if (AsksForHelp(argc, argv)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const platform::NativePlatform native;
  const platform::Platform& roles = native.Roles();
  Trace trace(roles);
  const platform::ProcessWide<Trace>::Scoped asProcessTrace(trace);
  trace.Initialise();

  std::string problem;
  const auto window = platform::CreateWindowProgramRoles(ui::QuillonResources(), &problem);
  if (window == nullptr) {
    std::fprintf(stderr, "quillon: %s\n", problem.c_str());
    trace.Shutdown();
    return 2;
  }

  LogFileConsole console(std::getenv("QUILLON_CONSOLE_LOG"));
  SerialPort port(roles);
  BcspLink link(port, *roles.clock, console);
  PsKeyList keys;
  PSConfig engine(roles, keys, link, port, console);

  ui::DeferredRestart system(*roles.system);
  ui::QuillonDialog* dialog = nullptr;
  ui::ProgrammingProgress* progress = nullptr;
  ProgrammingRun programming = [&](std::wstring_view portName, std::span<const std::uint32_t> rates,
                                   std::wstring_view psrPath, platform::Event* stop) {
    progress->Begin();
    RunOptions options;
    if (!rates.empty()) options.searchRates = rates.subspan(1);
    const int result = engine.Run(portName, rates.empty() ? 0 : rates.front(), psrPath, stop, progress, options);
    ProgrammingOutcome outcome;
    outcome.result = result == 0 && progress->StoppedBeforeTheWarmReset() ? kProgrammingStoppedEarly : result;
    outcome.moduleRate = engine.LinkRate();
    outcome.requestsSent = progress->RequestsSent();
    outcome.requests = progress->Requests();
    return outcome;
  };
  ModuleProbe probe = [&](std::wstring_view portName, std::span<const std::uint32_t> rates, bool warmReset,
                          platform::Event* stop) -> std::uint32_t {
    const int result = engine.Probe(portName, rates, stop, warmReset);
    return result == kPsConfigDone || result == kPsConfigNotCompleted ? engine.LinkRate() : 0;
  };
  const SetupRoles setupRoles{*roles.registry, *roles.files, system};
  ui::QuillonDialog quillonDialog(ui::DialogRoles{*roles.kernel, *roles.folders, system}, setupRoles, programming,
                                  probe);
  ui::ProgrammingProgress quillonProgress(quillonDialog.Record());
  dialog = &quillonDialog;
  progress = &quillonProgress;
  system.OnRequest([dialog] { dialog->RequestClose(); });

  ui::QuillonApp app(window->dialogs(), quillonDialog);
  app.InitInstance(CommandLine(argc, argv));

  if (!quillonDialog.WaitForWorkingThreadEnd(kFinalWaitMs)) {
    // Tearing the objects down under a running thread would be worse than leaving at once.
    std::fprintf(stderr, "quillon: the working thread has not ended; leaving without it\n");
    std::_Exit(3);
  }
  trace.Shutdown();
  if (system.Requested()) return system.RestartNow() == platform::kSuccess ? 0 : 1;
  return 0;
}
