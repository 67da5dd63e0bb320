// psconfig: programs the PS keys of a PSR file into the BlueCore module on a serial port.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/native_platform.h"
#include "platform/text.h"
#include "psconfig/psconfig.h"
#include "trace/trace.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;
void RequestStop(int) { stopRequested = 1; }

void Usage(std::FILE* out) {
  std::fprintf(out,
               "usage: psconfig [--baud RATE] [--trace] [--] PORT PSRFILE\n"
               "\n"
               "Programs the PS keys of PSRFILE into the BlueCore module on PORT over BCSP: the\n"
               "module's build identifier is asked for, each key is written, then the module is\n"
               "reset. PORT is a device port such as COM4: (see the README) or a path such as\n"
               "/dev/ttyUSB0.\n"
               "\n"
               "  --baud RATE   the rate the module talks at now (default 115200)\n"
               "  --trace       also print the program's trace lines (on standard error)\n"
               "  --            ends the options (for a name that starts with -)\n"
               "\n"
               "While it runs, progress is shown on standard error when that is a terminal; one\n"
               "summary line ends the run. The link's own diagnostic lines go to standard output,\n"
               "which may close early without ending the run. PSRFILE must be a regular file.\n"
               "Ctrl-C stops the run.\n"
               "\n"
               "Exit status: 0 done; 1 a key was not written (refused by the module, or its line\n"
               "left out for having more than 188 values) or the file holds too many keys; 2 the\n"
               "port cannot be opened or set up; 3 the file cannot be read; 4 the file holds no\n"
               "key lines; 64 wrong usage; 71 the system refused a resource; 130 stopped.\n"
               "\n"
               "Example: psconfig --baud 115200 COM4: keys.psr\n");
}

// Exit codes of sysexits.h for what the run's own results do not cover.
constexpr int kExitUsage = 64;
constexpr int kExitSystem = 71;
constexpr int kExitStopped = 130;

// Why a file or a port could not be used, in the user's words.
const char* Reason(quillon::platform::ErrorCode error) {
  namespace p = quillon::platform;
  switch (error) {
    case p::kErrorFileNotFound:
    case p::kErrorPathNotFound: return "not found";
    case p::kErrorDirectory: return "it is a folder";
    case p::kErrorBadFileType: return "not a regular file (a pipe or a device is never read)";
    case p::kErrorAccessDenied: return "permission denied, or another program has it open";
    case p::kErrorSharingViolation: return "busy: another program has it open";
    case p::kErrorInvalidData: return "it changed while it was read";
    case p::kErrorNotSupported:
    case p::kErrorInvalidParameter: return "not a serial port, or it refuses the settings";
    default: return nullptr;
  }
}

void SayWhy(quillon::platform::ErrorCode error) {
  if (const char* reason = Reason(error)) {
    std::fprintf(stderr, ": %s\n", reason);
  } else {
    std::fprintf(stderr, " (error %u)\n", error);
  }
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Shows what the run does: a progress line on a terminal, the counts for the summary. The run's
// thread reports, the main thread ticks the clock on the line: both under one lock.
class Progress final : public quillon::RunObserver {
 public:
  explicit Progress(bool terminal) : terminal_(terminal) {}

  void FileRead(std::uint32_t keys, const quillon::PsrReport& report) override {
    std::lock_guard<std::mutex> hold(lock_);
    keys_ = keys;
    leftOut_ = report.keysLeftOut;
    for (std::size_t i = 0; i < report.Listed(); ++i) {
      std::fprintf(stderr, "psconfig: key &%04x on line %u left out: more than 188 values\n", report.leftOut[i].key,
                   report.leftOut[i].line);
    }
    if (report.keysLeftOut > report.Listed()) {
      std::fprintf(stderr, "psconfig: and %zu more key lines left out\n", report.keysLeftOut - report.Listed());
    }
    if (keys != 0) Show("waiting for the module");
  }
  void FileFailed(quillon::platform::ErrorCode error) override { fileError_ = error; }
  void PortFailed(std::int32_t, quillon::platform::ErrorCode error) override { portError_ = error; }
  void LinkEstablished() override {
    std::lock_guard<std::mutex> hold(lock_);
    Show("link up");
  }
  void RequestSent(std::uint32_t index, std::uint32_t count, const quillon::PsKeyItem& item) override {
    std::lock_guard<std::mutex> hold(lock_);
    sent_ = index + 1;
    total_ = count;
    if (item.varId == quillon::kVarIdWarmReset) resetSent_ = true;
    char what[48];
    if (item.varId == quillon::kVarIdPsKey) {
      std::snprintf(what, sizeof what, "key &%04x", item.psKey);
    } else {
      std::snprintf(what, sizeof what, "%s", item.varId == quillon::kVarIdWarmReset ? "warm reset" : "build identifier");
    }
    Show(what);
  }
  void RequestCompleted(std::uint32_t, std::uint16_t status) override {
    std::lock_guard<std::mutex> hold(lock_);
    if (status != 0) ++refused_;
    ++completed_;
  }
  void Stopped() override { stopped_ = true; }

  // Called from the main thread while the run waits for the module, so that the time moves on.
  void Tick() {
    std::lock_guard<std::mutex> hold(lock_);
    if (sent_ == 0) Show(nullptr);
  }
  // After the run's thread has ended.
  void Finish() {
    if (terminal_ && shown_) std::fprintf(stderr, "\r%-78s\r", "");
  }

  std::uint32_t keys_ = 0, sent_ = 0, total_ = 0, refused_ = 0, leftOut_ = 0, completed_ = 0;
  quillon::platform::ErrorCode fileError_ = quillon::platform::kSuccess;
  quillon::platform::ErrorCode portError_ = quillon::platform::kSuccess;
  std::atomic<bool> stopped_{false};
  bool resetSent_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();

 private:
  void Show(const char* what) {
    if (what != nullptr) what_ = what;
    if (!terminal_) return;
    std::fprintf(stderr, "\r  %4u/%-4u requests  %-24s %6.1f s", sent_, total_ == 0 ? keys_ + 2 : total_, what_.c_str(),
                 Seconds(start_));
    std::fflush(stderr);
    shown_ = true;
  }
  std::mutex lock_;
  bool terminal_;
  bool shown_ = false;
  std::string what_;
};

class EchoToStandardError final : public quillon::TraceEcho {
 public:
  void Echo(quillon::TraceKind kind, std::wstring_view text) override {
    std::fprintf(stderr, "trace %s %s\n", kind == quillon::KindImportant ? "!" : ":",
                 quillon::platform::WideToUtf8(text).c_str());
  }
};

}  // namespace

int main(int argc, char** argv) {
  std::uint32_t baud = 115200;
  bool echo = false;
  bool optionsEnded = false;
  std::string port, file;
  auto usageError = [](const char* what, const char* argument) {
    std::fprintf(stderr, "psconfig: %s%s%s\n\n", what, argument == nullptr ? "" : " ", argument == nullptr ? "" : argument);
    Usage(stderr);
    return kExitUsage;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool isOption = !optionsEnded && arg.size() > 1 && arg[0] == '-';
    if (isOption && (arg == "--help" || arg == "-h")) {
      Usage(stdout);
      return 0;
    } else if (isOption && arg == "--") {
      optionsEnded = true;
    } else if (isOption && arg == "--trace") {
      echo = true;
    } else if (isOption && arg == "--baud" && i + 1 < argc) {
      char* end = nullptr;
      const char* text = argv[++i];
      const unsigned long long value = std::strtoull(text, &end, 10);
      if (*text < '0' || *text > '9' || *end != 0 || value == 0 || value > 0xFFFFFFFFull) {
        return usageError("not a baud rate:", text);
      }
      baud = static_cast<std::uint32_t>(value);
    } else if (isOption) {
      return usageError("unknown or incomplete option", argv[i]);
    } else if (port.empty()) {
      port = arg;
    } else if (file.empty()) {
      file = arg;
    } else {
      return usageError("one port and one file, please", nullptr);
    }
  }
  if (port.empty() || file.empty()) return usageError("a port and a file, please", nullptr);

  // The program's objects, wired as one: port -> link -> run, all on the back end's roles.
  const quillon::platform::NativePlatform native;
  const quillon::platform::Platform& platform = native.Roles();
  // Standard output may be a pipe that closes early: programming goes on, and the summary goes
  // to standard error.
  platform.system->KeepRunningWhenOutputCloses();
  quillon::Trace trace(platform);
  const quillon::platform::ProcessWide<quillon::Trace>::Scoped asProcessTrace(trace);
  trace.Initialise();
  quillon::StandardOutput console;
  quillon::SerialPort serialPort(platform);
  quillon::BcspLink link(serialPort, *platform.clock, console);
  quillon::PsKeyList keys;
  quillon::PSConfig engine(platform, keys, link, serialPort, console);
  EchoToStandardError echoer;
  if (echo) trace.SetEcho(&echoer);

  quillon::platform::ErrorCode error = quillon::platform::kSuccess;
  auto stop = platform.kernel->CreateManualResetEvent(L"", false, &error);
  if (!stop) {
    std::fprintf(stderr, "psconfig: cannot create the stop event (error %u); nothing was sent\n", error);
    return kExitSystem;
  }
  std::signal(SIGINT, RequestStop);
  std::signal(SIGTERM, RequestStop);

  Progress progress(platform.system->ErrorOutputIsTerminal());
  std::atomic<int> result{-1};
  std::thread run([&] {
    result = engine.Run(quillon::platform::HostNameToWide(port), baud, quillon::platform::HostNameToWide(file),
                        stop.get(), &progress);
  });
  // The run polls the stop event; this thread turns Ctrl-C into it.
  while (result.load() < 0) {
    if (stopRequested) stop->Set();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!stopRequested && !progress.stopped_) progress.Tick();
  }
  run.join();
  progress.Finish();
  trace.SetEcho(nullptr);
  trace.Shutdown();

  const double seconds = Seconds(progress.start_);
  if (progress.stopped_) {
    if (progress.sent_ == 0) {
      std::fprintf(stderr, "psconfig: stopped by the user before anything was sent (%.1f s); the module is unchanged\n",
                   seconds);
    } else {
      std::fprintf(stderr,
                   "psconfig: stopped by the user after %u of %u requests (%.1f s); the module may hold some of the keys\n",
                   progress.sent_, progress.total_, seconds);
    }
    return kExitStopped;
  }
  switch (result.load()) {
    case quillon::kPsConfigDone:
      std::fprintf(stderr, "psconfig: done: %u keys written to %s, %s (%.1f s)\n", progress.keys_, port.c_str(),
                   progress.resetSent_ ? "module reset" : "the module said all commands were in, no reset sent",
                   seconds);
      return 0;
    case quillon::kPsConfigNotCompleted:
      if (progress.refused_ != 0) {
        std::fprintf(stderr, "psconfig: programming not terminated correctly: the module refused %u of %u requests (%.1f s)\n",
                     progress.refused_, progress.total_, seconds);
      }
      if (progress.leftOut_ != 0) {
        std::fprintf(stderr, "psconfig: not all keys written: %u key line%s of %s left out (see above)%s\n",
                     progress.leftOut_, progress.leftOut_ == 1 ? "" : "s", file.c_str(),
                     progress.keys_ == 0 ? "; nothing was sent"
                     : progress.resetSent_ ? "; the others were written and the module reset" : "");
      }
      if (progress.refused_ == 0 && progress.leftOut_ == 0) {
        std::fprintf(stderr, "psconfig: %s cannot be programmed: it holds more keys than a run can carry\n", file.c_str());
      }
      return quillon::kPsConfigNotCompleted;
    case quillon::kPsConfigPortFailed:
      std::fprintf(stderr, "psconfig: cannot open or set up the port %s at %u baud", port.c_str(), baud);
      SayWhy(progress.portError_);
      return quillon::kPsConfigPortFailed;
    case quillon::kPsConfigFileFailed:
      std::fprintf(stderr, "psconfig: cannot read %s", file.c_str());
      SayWhy(progress.fileError_);
      return quillon::kPsConfigFileFailed;
    default:
      std::fprintf(stderr, "psconfig: %s holds no key lines (such as \"&01be = 0ebf\")\n", file.c_str());
      return quillon::kPsConfigNoKeys;
  }
}
