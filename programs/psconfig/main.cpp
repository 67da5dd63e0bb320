// psconfig: programs the PS keys of a PSR file into the BlueCore module on a serial port.
#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/native_platform.h"
#include "platform/program_version.h"
#include "platform/text.h"
#include "psconfig/file_rate.h"
#include "psconfig/psconfig.h"
#include "psconfig/psr_writer.h"
#include "trace/trace.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;
void RequestStop(int) { stopRequested = 1; }

void Usage(std::FILE* out) {
  std::fprintf(out,
               "usage: psconfig [--baud RATE] [--trace] [--verify] [--backup FILE] [--] PORT PSRFILE\n"
               "       psconfig [--baud RATE] [--trace] read [--] PORT PSRFILE|KEY[:WORDS]...\n"
               "\n"
               "Programs the PS keys of PSRFILE into the BlueCore module on PORT over BCSP: the\n"
               "module's build identifier is asked for, each key is written, then the module is\n"
               "reset. PORT is a device port such as COM4: (see the README) or a path such as\n"
               "/dev/ttyUSB0.\n"
               "\n"
               "  --baud RATE   the rate the module talks at now (default 115200); when the link\n"
               "                does not come up within 1.5 s the run fails and says so\n"
               "  --baud auto   look for the module: at the rate the file sets, then at 115200,\n"
               "                then at every other rate of the baud table, 1.5 s each\n"
               "  --trace       also print the program's trace lines (on standard error)\n"
               "  --verify      after the last key, read every key back; differences are named\n"
               "  --backup FILE before writing, save the module's values of the file's keys to\n"
               "                FILE (a PSR file); nothing is written when that fails\n"
               "  read          only read: print the named keys (or a PSR file's keys) as a PSR\n"
               "                file; KEY is hexadecimal, WORDS the length asked for (default 1)\n"
               "  --            ends the options (for a name that starts with -)\n"
               "  --version     print the version and end; --help, -h print these lines\n"
               "\n"
               "While it runs, progress is shown on standard error when that is a terminal; one\n"
               "summary line ends the run. The link's own diagnostic lines go to standard output,\n"
               "which may close early without ending the run. PSRFILE must be a regular file.\n"
               "Ctrl-C stops the run.\n"
               "\n"
               "Exit status: 0 done; 1 a key was not written (refused by the module, or its line\n"
               "left out for having more than 188 values) or the file holds too many keys; 2 the\n"
               "port cannot be opened or set up; 3 the file cannot be read; 4 the file holds no\n"
               "key lines; 5 a key read back differs from what was written, or its read was\n"
               "refused or not answered; 6 a read failed or the backup was not saved (with\n"
               "--backup: nothing was written); 7 the module did not answer (at any rate tried,\n"
               "or it stopped answering); 64 wrong usage; 71 the system refused a resource; 130 stopped.\n"
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
    case p::kErrorPathNotFound:
      return "not found";
    case p::kErrorDirectory:
      return "it is a folder";
    case p::kErrorBadFileType:
      return "not a regular file (a pipe or a device is never read)";
    case p::kErrorAccessDenied:
      return "permission denied, or another program has it open";
    case p::kErrorSharingViolation:
      return "busy: another program has it open";
    case p::kErrorInvalidData:
      return "it changed while it was read";
    case p::kErrorNotSupported:
    case p::kErrorInvalidParameter:
      return "not a serial port, or it refuses the settings";
    default:
      return nullptr;
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
    for (std::size_t i = 0; i < report.SkippedListed(); ++i) {
      std::fprintf(stderr, "psconfig: line %u sets no key, not done: %s\n", report.skipped[i].line,
                   report.skipped[i].text.data());
    }
    if (report.linesSkipped > report.SkippedListed()) {
      std::fprintf(stderr, "psconfig: and %zu more lines that set no key, not done\n",
                   report.linesSkipped - report.SkippedListed());
    }
    if (keys != 0) Show("waiting for the module");
  }
  void FileFailed(quillon::platform::ErrorCode error) override { fileError_ = error; }
  void PortFailed(std::int32_t, quillon::platform::ErrorCode error) override { portError_ = error; }
  void LookingAt(std::uint32_t rate) override {
    std::lock_guard<std::mutex> hold(lock_);
    char what[48];
    std::snprintf(what, sizeof what, "looking at %u baud", rate);
    Show(what);
  }
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
      std::snprintf(what, sizeof what, "%s",
                    item.varId == quillon::kVarIdWarmReset ? "warm reset" : "build identifier");
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

// Values as "0005 0a00", at most `most` of them (then "...").
std::string Words(const std::vector<std::uint16_t>& values, std::size_t most = 12) {
  std::string text;
  char word[8];
  for (std::size_t i = 0; i < values.size() && i < most; ++i) {
    std::snprintf(word, sizeof word, "%s%04x", i == 0 ? "" : " ", values[i]);
    text += word;
  }
  if (values.size() > most) text += " ...";
  return text.empty() ? "(none)" : text;
}

// One line per key whose read-back does not show what was written. Returns their number.
std::uint32_t ReportVerification(std::span<const quillon::KeyRead> reads) {
  std::uint32_t failed = 0;
  for (const quillon::KeyRead& read : reads) {
    if (read.phase != quillon::ReadPhase::kAfterWriting || read.Verified()) continue;
    ++failed;
    std::fprintf(stderr, "psconfig: verify: key &%04x (line %u): sent %s, ", read.key, read.line,
                 Words(read.sent).c_str());
    switch (read.outcome) {
      case quillon::ReadOutcome::kRead:
        std::fprintf(stderr, "read %s\n", Words(read.values).c_str());
        break;
      case quillon::ReadOutcome::kRefused:
        std::fprintf(stderr, "read refused (status %u)\n", read.status);
        break;
      case quillon::ReadOutcome::kOtherKey:
        std::fprintf(stderr, "the module answered for key &%04x\n", read.answeredKey);
        break;
      case quillon::ReadOutcome::kNoAnswer:
        std::fprintf(stderr, "no answer to the read\n");
        break;
    }
  }
  return failed;
}

// The keys of `read PORT KEY...` as a PSR file of zeros, one line per key of the length to ask
// for. Empty with *bad naming the argument that is no key.
std::string KeysAsPsr(const std::vector<std::string>& keys, std::string* bad) {
  std::string text;
  for (const std::string& argument : keys) {
    std::size_t at = !argument.empty() && argument[0] == '&' ? 1 : 0;
    unsigned long key = 0, words = 1;
    char* end = nullptr;
    const char* start = argument.c_str() + at;
    key = std::strtoul(start, &end, 16);
    bool good = end != start && end - start <= 4 && std::isxdigit(static_cast<unsigned char>(*start));
    if (good && *end == ':') {
      const char* count = end + 1;
      words = std::strtoul(count, &end, 10);
      good = std::isdigit(static_cast<unsigned char>(*count)) && words >= 1 && words <= quillon::PsKeyItem::kMaxValues;
    }
    if (!good || *end != '\0') {
      *bad = argument;
      return {};
    }
    char line[16];
    std::snprintf(line, sizeof line, "&%04lx =", key);
    text += line;
    for (unsigned long i = 0; i < words; ++i) text += " 0000";
    text += '\n';
  }
  return text;
}

class ToStandardError final : public quillon::Console {
 public:
  void Write(std::string_view text) override { std::fwrite(text.data(), 1, text.size(), stderr); }
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
  bool autoBaud = false;
  bool echo = false;
  bool optionsEnded = false;
  bool verify = false, readOnly = false;
  std::string port, file, backup;
  std::vector<std::string> keysToRead;
  auto usageError = [](const char* what, const char* argument) {
    std::fprintf(stderr, "psconfig: %s%s%s\n\n", what, argument == nullptr ? "" : " ",
                 argument == nullptr ? "" : argument);
    Usage(stderr);
    return kExitUsage;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool isOption = !optionsEnded && arg.size() > 1 && arg[0] == '-';
    if (isOption && (arg == "--help" || arg == "-h")) {
      Usage(stdout);
      return 0;
    } else if (isOption && arg == "--version") {
      std::fputs(quillon::platform::VersionLine("psconfig").c_str(), stdout);
      return 0;
    } else if (isOption && arg == "--") {
      optionsEnded = true;
    } else if (isOption && arg == "--trace") {
      echo = true;
    } else if (isOption && arg == "--verify") {
      verify = true;
    } else if (isOption && arg == "--backup" && i + 1 < argc && argv[i + 1][0] != 0) {
      backup = argv[++i];
    } else if (!optionsEnded && !readOnly && port.empty() && arg == "read") {
      readOnly = true;
    } else if (isOption && arg == "--baud" && i + 1 < argc && std::strcmp(argv[i + 1], "auto") == 0) {
      autoBaud = true;
      ++i;
    } else if (isOption && arg == "--baud" && i + 1 < argc) {
      autoBaud = false;
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
    } else if (readOnly) {
      keysToRead.push_back(arg);
    } else if (file.empty()) {
      file = arg;
    } else {
      return usageError("one port and one file, please", nullptr);
    }
  }
  if (readOnly) {
    if (verify || !backup.empty()) return usageError("read takes neither --verify nor --backup", nullptr);
    if (port.empty() || keysToRead.empty()) return usageError("a port and a file or keys to read, please", nullptr);
  } else if (port.empty() || file.empty()) {
    return usageError("a port and a file, please", nullptr);
  }

  // The program's objects, wired as one: port -> link -> run, all on the back end's roles.
  const quillon::platform::NativePlatform native;
  const quillon::platform::Platform& platform = native.Roles();
  // Standard output may be a pipe that closes early: programming goes on, and the summary goes
  // to standard error.
  platform.system->KeepRunningWhenOutputCloses();
  quillon::Trace trace(platform);
  const quillon::platform::ProcessWide<quillon::Trace>::Scoped asProcessTrace(trace);
  trace.Initialise();
  // With `read`, standard output carries the keys as a PSR file: the link's lines go to standard error.
  quillon::StandardOutput standardOutput;
  ToStandardError standardError;
  quillon::Console& console = readOnly ? static_cast<quillon::Console&>(standardError) : standardOutput;
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

  // `read PORT KEY...`: the keys go through a PSR file of their own, removed at the end.
  std::wstring keysFile;
  struct RemoveAtEnd {
    quillon::platform::Files& files;
    const std::wstring& path;
    ~RemoveAtEnd() {
      if (!path.empty()) files.Delete(path);
    }
  } removeKeysFile{*platform.files, keysFile};
  if (readOnly) {
    const bool oneFile = keysToRead.size() == 1 && std::filesystem::is_regular_file(keysToRead[0]);
    if (oneFile) {
      file = keysToRead[0];
    } else {
      std::string bad;
      const std::string text = KeysAsPsr(keysToRead, &bad);
      if (text.empty()) return usageError("not a PSR file nor a key such as 01be or 01be:2:", bad.c_str());
      std::error_code ignored;
      std::random_device random;
      const std::filesystem::path path = std::filesystem::temp_directory_path(ignored) /
                                         ("psconfig-read-" + std::to_string(random()) + ".psr");
      file = path.string();
      const quillon::platform::ErrorCode saved = quillon::platform::SaveWhole(*platform.files,
                                                                              quillon::platform::HostNameToWide(file),
                                                                              text);
      if (saved != quillon::platform::kSuccess) {
        std::fprintf(stderr, "psconfig: cannot write the list of keys to %s (error %u)\n", file.c_str(), saved);
        return kExitSystem;
      }
      keysFile = quillon::platform::HostNameToWide(file);
    }
  }
  quillon::BackupGate backupGate(*platform.files, quillon::platform::HostNameToWide(backup));
  quillon::RunOptions options;
  options.readBackAfterWriting = verify;
  options.writeKeys = !readOnly;
  options.readBeforeWriting = readOnly || !backup.empty();
  if (!backup.empty()) options.gate = &backupGate;

  // --baud auto: the rate the file sets first (a module that was given the file before talks
  // at it), then the others.
  std::vector<std::uint32_t> search;
  if (autoBaud) {
    const quillon::AppliedUartRate fileRate = readOnly
                                                  ? quillon::AppliedUartRate{}
                                                  : quillon::UartRateOfPsrFile(*platform.files,
                                                                               quillon::platform::HostNameToWide(file));
    if (fileRate.key != 0 && fileRate.rate == 0) {
      std::fprintf(stderr,
                   "psconfig: key &%04x sets the value %04x, which is no rate of the baud table: not looked at\n",
                   fileRate.key, fileRate.value);
    }
    search = quillon::UartRateSearchOrder({fileRate.rate});
    baud = search.front();
    options.searchRates = std::span<const std::uint32_t>(search).subspan(1);
  }

  Progress progress(platform.system->ErrorOutputIsTerminal());
  std::atomic<int> result{-1};
  std::thread run([&] {
    result = engine.Run(quillon::platform::HostNameToWide(port), baud, quillon::platform::HostNameToWide(file),
                        stop.get(), &progress, options);
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
  if (autoBaud && engine.LinkRate() != 0) {
    std::fprintf(stderr, "psconfig: the module answered at %u baud\n", engine.LinkRate());
  }
  if (progress.stopped_) {
    if (progress.sent_ == 0) {
      std::fprintf(stderr, "psconfig: stopped by the user before anything was sent (%.1f s); the module is unchanged\n",
                   seconds);
    } else {
      std::fprintf(stderr,
                   "psconfig: stopped by the user after %u of %u requests (%.1f s); the module may hold some of the "
                   "keys\n",
                   progress.sent_, progress.total_, seconds);
    }
    return kExitStopped;
  }
  if (readOnly && (result == quillon::kPsConfigDone || result == quillon::kPsConfigReadFailed)) {
    const std::string text = quillon::FormatReadsAsPsr(engine.Reads(), "");
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    std::uint32_t unread = 0;
    for (const quillon::KeyRead& read : engine.Reads()) unread += read.outcome == quillon::ReadOutcome::kRead ? 0 : 1;
    if (unread == 0) {
      std::fprintf(stderr, "psconfig: read %zu keys from %s (%.1f s)\n", engine.Reads().size(), port.c_str(), seconds);
      return 0;
    }
    std::fprintf(stderr, "psconfig: %u of %zu keys could not be read (see the comments in the output) (%.1f s)\n",
                 unread, engine.Reads().size(), seconds);
    return quillon::kPsConfigReadFailed;
  }
  // Said only of a file that was written: a module that never answered left none.
  if (!backup.empty() && backupGate.Saved()) {
    std::fprintf(stderr, "psconfig: backup of %u keys saved to %s%s\n", backupGate.KeysSaved(), backup.c_str(),
                 backupGate.KeysNotHeld() == 0 ? "" : "; keys that could not be read are comments in it");
  }
  switch (result.load()) {
    case quillon::kPsConfigReadFailed:
      std::fprintf(stderr, "psconfig: no key written: %s (%.1f s)\n",
                   backupGate.Failure().empty() ? "the reads before writing failed" : backupGate.Failure().c_str(),
                   seconds);
      return quillon::kPsConfigReadFailed;
    case quillon::kPsConfigVerifyFailed: {
      const std::uint32_t failed = ReportVerification(engine.Reads());
      std::fprintf(stderr, "psconfig: verification failed: %u of %u keys do not read back as written; %s (%.1f s)\n",
                   failed, progress.keys_, progress.resetSent_ ? "module reset" : "no reset sent", seconds);
      return quillon::kPsConfigVerifyFailed;
    }
    case quillon::kPsConfigDone:
      std::fprintf(stderr, "psconfig: done: %u keys written%s to %s, %s (%.1f s)\n", progress.keys_,
                   verify ? " and verified" : "", port.c_str(),
                   progress.resetSent_ ? "module reset" : "the module said all commands were in, no reset sent",
                   seconds);
      return 0;
    case quillon::kPsConfigNotCompleted:
      if (verify) ReportVerification(engine.Reads());
      if (progress.refused_ != 0) {
        std::fprintf(stderr,
                     "psconfig: programming not terminated correctly: the module refused %u of %u requests (%.1f s)\n",
                     progress.refused_, progress.total_, seconds);
      }
      if (progress.leftOut_ != 0) {
        std::fprintf(stderr, "psconfig: not all keys written: %u key line%s of %s left out (see above)%s\n",
                     progress.leftOut_, progress.leftOut_ == 1 ? "" : "s", file.c_str(),
                     progress.keys_ == 0   ? "; nothing was sent"
                     : progress.resetSent_ ? "; the others were written and the module reset"
                                           : "");
      }
      if (progress.refused_ == 0 && progress.leftOut_ == 0) {
        std::fprintf(stderr, "psconfig: %s cannot be programmed: it holds more keys than a run can carry\n",
                     file.c_str());
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
    case quillon::kPsConfigNoAnswer: {
      if (engine.LinkRate() != 0) {
        std::fprintf(stderr,
                     "psconfig: the module at %u baud stopped answering (nothing in %u s) after %u of %u requests; the "
                     "module may hold some of the keys (%.1f s)\n",
                     engine.LinkRate(), quillon::PSConfig::kAnswerMs / 1000, progress.sent_, progress.total_, seconds);
        return quillon::kPsConfigNoAnswer;
      }
      std::string tried;
      for (std::uint32_t rate : engine.RatesTried()) tried += (tried.empty() ? "" : ", ") + std::to_string(rate);
      std::fprintf(stderr, "psconfig: no answer from the module on %s at %s baud (%.1f s each); nothing was written\n",
                   port.c_str(), tried.c_str(), quillon::PSConfig::kLinkUpMs / 1000.0);
      std::fprintf(stderr, "%s\n",
                   autoBaud ? "psconfig: is the module powered, wired to this port and speaking BCSP?"
                            : "psconfig: if the module talks at another rate, try --baud auto to look for it");
      return quillon::kPsConfigNoAnswer;
    }
    default:
      std::fprintf(stderr, "psconfig: %s holds no key lines (such as \"&01be = 0ebf\")\n", file.c_str());
      return quillon::kPsConfigNoKeys;
  }
}
