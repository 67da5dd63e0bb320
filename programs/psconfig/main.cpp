// psconfig: programs the PS keys of a PSR file into the BlueCore modules on serial ports.
#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/native_platform.h"
#include "platform/program_version.h"
#include "platform/save_whole.h"
#include "platform/text.h"
#include "programs/psconfig/command_line.h"
#include "programs/psconfig/line_record.h"
#include "programs/psconfig/line_run.h"
#include "programs/psconfig/port_outcome.h"
#include "programs/psconfig/port_work.h"
#include "programs/psconfig/run_progress.h"
#include "psconfig/address_journal.h"
#include "psconfig/file_rate.h"
#include "psconfig/message_run.h"
#include "psconfig/psconfig.h"
#include "psconfig/psr_writer.h"
#include "trace/trace.h"

namespace {

using quillon::psconfig::Command;
using quillon::psconfig::kExitBlockUsedUp;
using quillon::psconfig::kExitJournalFailed;
using quillon::psconfig::LineSetup;
using quillon::psconfig::PortWork;
using quillon::psconfig::Progress;
using quillon::psconfig::Reason;

volatile std::sig_atomic_t stopRequested = 0;
void RequestStop(int) { stopRequested = 1; }

void Usage(std::FILE* out) {
  std::fprintf(out,
               "usage: psconfig [--baud RATE] [--trace] [--verify] [--backup FILE] [--] PORT PSRFILE\n"
               "       psconfig [options] [--address-block FIRST:LAST --journal FILE] [--record FILE]\n"
               "                [--] PORT... PSRFILE\n"
               "       psconfig [--baud RATE] [--trace] read [--] PORT PSRFILE|KEY[:WORDS]...\n"
               "\n"
               "Programs the PS keys of PSRFILE into the BlueCore module on PORT over BCSP: the\n"
               "module's build identifier is asked for, each key is written, then the module is\n"
               "reset. PORT is a device port such as COM4: (see the README) or a path such as\n"
               "/dev/ttyUSB0. With several ports (at most 32), every module is programmed at once,\n"
               "each on its own link; a line per port shows where it is, and a table ends the run.\n"
               "\n"
               "  --baud RATE   the rate the module talks at now (default 115200); when the link\n"
               "                does not come up within 1.5 s the run fails and says so\n"
               "  --baud auto   look for the module: at the rate the file sets, then at 115200,\n"
               "                then at every other rate of the baud table, 1.5 s each\n"
               "  --transport bcsp|h4|hci  how the module is reached (default bcsp): h4 is HCI on a\n"
               "                UART (RTS/CTS flow control; --no-flow-control turns it off), hci the\n"
               "                Linux kernel's HCI socket, PORT then a device such as hci0 (root or\n"
               "                CAP_NET_RAW needed); both carry the same BCCMD messages as bcsp\n"
               "  --trace       also print the program's trace lines (on standard error)\n"
               "  --verify      after the last key, read every key back; differences are named\n"
               "  --backup FILE before writing, save the module's values of the file's keys to\n"
               "                FILE (a PSR file); nothing is written when that fails (one port)\n"
               "  --address-block FIRST:LAST  give each module an address of its own from this\n"
               "                block (such as 00:02:5B:00:A5:A5:00:02:5B:00:A5:FF), written as\n"
               "                key &0001 after the file's keys, in place of the file's own &0001;\n"
               "                the inquiry access codes (LAP 9E8B00 to 9E8B3F) are skipped\n"
               "  --journal FILE  where the addresses given out are kept (needed with the block):\n"
               "                an address is on disk there before it is sent, and is never given\n"
               "                twice, also by psconfig runs at the same time on the same journal.\n"
               "                An address sent without an answer, or given by a run that was cut\n"
               "                off, is named at the start of each run and never given again\n"
               "  --record FILE append one JSON line per module: time, port, build identifier,\n"
               "                address, result, exit status, keys written, verified\n"
               "  read          only read: print the named keys (or a PSR file's keys) as a PSR\n"
               "                file; KEY is hexadecimal, WORDS the length asked for (default 1)\n"
               "  --            ends the options (for a name that starts with -)\n"
               "  --version     print the version and end; --help, -h print these lines\n"
               "\n"
               "While it runs, progress is shown on standard error when that is a terminal (with\n"
               "several ports, otherwise a line per port and event); one summary line ends the\n"
               "run. The link's own diagnostic lines go to standard output, which may close early\n"
               "without ending the run. PSRFILE must be a regular file. Ctrl-C stops every run.\n"
               "\n"
               "Exit status: 0 done; 1 a key was not written (refused by the module, or its line\n"
               "left out for having more than 188 values) or the file holds too many keys; 2 the\n"
               "port cannot be opened or set up; 3 the file cannot be read; 4 the file holds no\n"
               "key lines; 5 a key read back differs from what was written, or its read was\n"
               "refused or not answered; 6 a read failed or the backup was not saved (with\n"
               "--backup: nothing was written); 7 the module did not answer (at any rate tried,\n"
               "or it stopped answering); 8 the address block is used up; 9 the journal cannot\n"
               "be used (damaged, unreadable or not writable: nothing was written), or an outcome\n"
               "or a record line could not be written; with several\n"
               "ports, 81 to 112: that many ports failed (the table says which and why);\n"
               "64 wrong usage; 71 the system refused a resource; 130 stopped.\n"
               "\n"
               "Example: psconfig --baud 115200 COM4: keys.psr\n"
               "A line:  psconfig --verify --address-block 00:02:5B:00:A5:A5:00:02:5B:00:A5:FF \\\n"
               "            --journal line.journal --record line.jsonl COM4: COM5: COM6: keys.psr\n");
}

// Exit codes of sysexits.h for what the run's own results do not cover.
constexpr int kExitUsage = 64;
constexpr int kExitSystem = 71;
constexpr int kExitStopped = 130;

// The ending of a counted noun: "1 key", "2 keys".
const char* PluralEnding(std::uint64_t count) { return count == 1 ? "" : "s"; }

void SayWhy(quillon::platform::ErrorCode error) {
  if (const char* reason = Reason(error)) {
    std::fprintf(stderr, ": %s\n", reason);
  } else {
    std::fprintf(stderr, " (error %u)\n", error);
  }
}

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

// What the journal says of one port's address, after its run.
void ReportAddress(PortWork& work) {
  if (!work.Address()) return;
  const std::string address = work.Address()->Text();
  switch (work.Fate()) {
    case quillon::AddressFate::kWritten:
      std::fprintf(stderr, "psconfig: address %s given to the module on %s\n", address.c_str(), work.Port().c_str());
      break;
    case quillon::AddressFate::kRefused:
      std::fprintf(stderr, "psconfig: the module on %s refused the address %s; it is not given again\n",
                   work.Port().c_str(), address.c_str());
      break;
    case quillon::AddressFate::kUnanswered:
      std::fprintf(stderr,
                   "psconfig: %s was sent to the module on %s without an answer: the module may hold it; it is not "
                   "given again\n",
                   address.c_str(), work.Port().c_str());
      break;
    case quillon::AddressFate::kUnused:
    case quillon::AddressFate::kTaken:
      break;
  }
  if (!work.JournalProblem().empty()) std::fprintf(stderr, "psconfig: %s\n", work.JournalProblem().c_str());
}

// The summary of a run on one port, and its exit status.
int ReportOnePort(PortWork& work, const Command& command, const LineSetup& setup, quillon::BackupGate& backupGate,
                  const std::string& file) {
  const double seconds = work.SecondsTaken();
  const bool readOnly = command.readOnly, verify = command.verify, autoBaud = command.autoBaud;
  const std::string& port = command.ports.front();
  const std::string& backup = command.backup;
  const std::uint32_t baud = setup.baud;
  Progress& progress = work.Watch();
  quillon::ProgrammingEngine& engine = work.Engine();
  const bool overHci = command.transport != quillon::psconfig::Transport::kBcsp;
  const int result = work.Result();
  ReportAddress(work);
  if (result == kExitBlockUsedUp || result == kExitJournalFailed) {
    std::fprintf(stderr, "psconfig: no address for the module on %s %s; nothing was written (%.1f s)\n", port.c_str(),
                 work.JournalProblem().c_str(), seconds);
    if (result == kExitBlockUsedUp) {
      std::fprintf(stderr,
                   "psconfig: give a new block with --address-block (the journal keeps the old one's history)\n");
    }
    return result;
  }
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
      std::fprintf(stderr, "psconfig: read %zu key%s from %s (%.1f s)\n", engine.Reads().size(),
                   PluralEnding(engine.Reads().size()), port.c_str(), seconds);
      return 0;
    }
    std::fprintf(stderr, "psconfig: %u of %zu keys could not be read (see the comments in the output) (%.1f s)\n",
                 unread, engine.Reads().size(), seconds);
    return quillon::kPsConfigReadFailed;
  }
  // Said only of a file that was written: a module that never answered left none.
  if (!backup.empty() && backupGate.Saved()) {
    std::fprintf(stderr, "psconfig: backup of %u key%s saved to %s%s\n", backupGate.KeysSaved(),
                 PluralEnding(backupGate.KeysSaved()), backup.c_str(),
                 backupGate.KeysNotHeld() == 0 ? "" : "; keys that could not be read are comments in it");
  }
  switch (result) {
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
      std::fprintf(stderr, "psconfig: done: %u key%s written%s to %s, %s (%.1f s)\n", progress.keys_,
                   PluralEnding(progress.keys_), verify ? " and verified" : "", port.c_str(),
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
                     progress.leftOut_, PluralEnding(progress.leftOut_), file.c_str(),
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
      if (command.transport == quillon::psconfig::Transport::kHci) {
        std::fprintf(stderr, "psconfig: cannot use the Bluetooth device %s: %s\n", port.c_str(),
                     quillon::psconfig::HciReason(progress.portError_).c_str());
        return quillon::kPsConfigPortFailed;
      }
      std::fprintf(stderr, "psconfig: cannot open or set up the port %s at %u baud", port.c_str(), baud);
      SayWhy(progress.portError_);
      return quillon::kPsConfigPortFailed;
    case quillon::kPsConfigFileFailed:
      std::fprintf(stderr, "psconfig: cannot read %s", file.c_str());
      SayWhy(progress.fileError_);
      return quillon::kPsConfigFileFailed;
    case quillon::kPsConfigNoAnswer: {
      if (overHci) {
        std::fprintf(stderr,
                     "psconfig: the module on %s did not answer request %u of %u (sent %u times, %.1f s each)%s (%.1f "
                     "s)\n",
                     port.c_str(), progress.sent_, progress.total_, quillon::MessageRun::kTries,
                     quillon::MessageRun::kAnswerMs / 1000.0,
                     engine.LinkRate() != 0 ? "; the module may hold some of the keys" : "; nothing was written",
                     seconds);
        if (engine.LinkRate() == 0) {
          std::fprintf(stderr, "psconfig: is it a BlueCore module that takes BCCMD over HCI%s?\n",
                       command.transport == quillon::psconfig::Transport::kH4 ? ", set to H4, at this rate" : "");
        }
        return quillon::kPsConfigNoAnswer;
      }
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

// Opens and reads the journal. Null, with the exit status in *status, when it cannot be used.
std::unique_ptr<quillon::platform::LogFile> OpenJournal(const quillon::platform::Platform& platform,
                                                        const Command& command,
                                                        std::unique_ptr<quillon::AddressJournal>* journal,
                                                        int* status) {
  quillon::platform::ErrorCode error = quillon::platform::kSuccess;
  auto file = platform.files->OpenLog(quillon::platform::HostNameToWide(command.journal), &error);
  if (!file) {
    std::fprintf(stderr, "psconfig: cannot open the journal %s", command.journal.c_str());
    SayWhy(error);
    std::fprintf(stderr, "psconfig: nothing was written; name a journal in a place that can be written\n");
    *status = kExitJournalFailed;
    return nullptr;
  }
  *journal = std::make_unique<quillon::AddressJournal>(*file, command.block);
  if (const std::string problem = (*journal)->Load(); !problem.empty()) {
    std::fprintf(stderr, "psconfig: the journal %s cannot be used: %s\n", command.journal.c_str(), problem.c_str());
    std::fprintf(stderr,
                 "psconfig: nothing was written; a journal is never guessed at: mend the line named, or look into "
                 "it with a copy kept\n");
    *status = kExitJournalFailed;
    return nullptr;
  }
  for (const std::string& note : (*journal)->Notes()) {
    std::fprintf(stderr, "psconfig: journal %s: %s\n", command.journal.c_str(), note.c_str());
  }
  for (const quillon::UnsettledAddress& unsettled : (*journal)->Unsettled()) {
    std::fprintf(stderr,
                 "psconfig: journal line %u: %s was given to %s at %s and %s: it is not given again; check "
                 "that module\n",
                 unsettled.line, unsettled.address.Text().c_str(), unsettled.port.c_str(), unsettled.time.c_str(),
                 unsettled.sentWithoutAnswer ? "sent without an answer (the module may hold it)"
                                             : "its outcome is unknown (that run was cut off, or is still running)");
  }
  return file;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  // The program's objects, wired as one: port -> link -> run, all on the back end's roles.
  const quillon::platform::NativePlatform native;
  const quillon::platform::Platform& platform = native.Roles();
  Command command;
  const auto portFile = [&platform](const std::string& port) {
    return quillon::platform::WideToHostName(platform.serial->FileOf(quillon::platform::HostNameToWide(port)));
  };
  if (const std::string problem = quillon::psconfig::ReadCommandLine(arguments, &command, portFile); !problem.empty()) {
    std::fprintf(stderr, "psconfig: %s\n\n", problem.c_str());
    Usage(stderr);
    return kExitUsage;
  }
  if (command.help) {
    Usage(stdout);
    return 0;
  }
  if (command.version) {
    std::fputs(quillon::platform::VersionLine("psconfig").c_str(), stdout);
    return 0;
  }
  std::string file = command.file;

  if (command.transport == quillon::psconfig::Transport::kHci && platform.hci == nullptr) {
    std::fprintf(stderr, "psconfig: --transport hci is the Linux kernel's HCI socket: here, bcsp or h4\n\n");
    Usage(stderr);
    return kExitUsage;
  }
  // Standard output may be a pipe that closes early: programming goes on, and the summary goes
  // to standard error.
  platform.system->KeepRunningWhenOutputCloses();
  quillon::Trace trace(platform);
  const quillon::platform::ProcessWide<quillon::Trace>::Scoped asProcessTrace(trace);
  trace.Initialise();
  EchoToStandardError echoer;
  if (command.echo) trace.SetEcho(&echoer);
  struct TraceEnd {
    quillon::Trace& trace;
    ~TraceEnd() {
      trace.SetEcho(nullptr);
      trace.Shutdown();
    }
  } traceEnd{trace};

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
  if (command.readOnly) {
    const std::vector<std::string>& keysToRead = command.keysToRead;
    std::error_code notAFile;
    const bool oneFile = keysToRead.size() == 1 && std::filesystem::is_regular_file(keysToRead[0], notAFile);
    if (oneFile) {
      file = keysToRead[0];
    } else {
      std::string bad;
      const std::string text = KeysAsPsr(keysToRead, &bad);
      if (text.empty()) {
        std::fprintf(stderr, "psconfig: not a PSR file nor a key such as 01be or 01be:2: %s\n\n", bad.c_str());
        Usage(stderr);
        return kExitUsage;
      }
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

  // The journal is read whole before any port is opened: one that cannot be trusted stops the
  // run before a module is touched.
  std::unique_ptr<quillon::AddressJournal> journal;
  std::unique_ptr<quillon::platform::LogFile> journalFile;
  if (command.withAddresses) {
    int status = 0;
    journalFile = OpenJournal(platform, command, &journal, &status);
    if (!journalFile) return status;
  }
  std::unique_ptr<quillon::platform::LogFile> recordFile;
  std::unique_ptr<quillon::psconfig::LineRecord> record;
  if (!command.record.empty()) {
    recordFile = platform.files->OpenLog(quillon::platform::HostNameToWide(command.record), &error);
    if (!recordFile) {
      std::fprintf(stderr, "psconfig: cannot open the record %s", command.record.c_str());
      SayWhy(error);
      std::fprintf(stderr, "psconfig: nothing was written\n");
      return kExitSystem;
    }
    record = std::make_unique<quillon::psconfig::LineRecord>(*recordFile);
  }

  quillon::BackupGate backupGate(*platform.files, quillon::platform::HostNameToWide(command.backup));
  LineSetup setup{platform};
  setup.file = quillon::platform::HostNameToWide(file);
  setup.baud = command.baud;
  setup.stop = stop.get();
  setup.transport = command.transport;
  setup.flowControl = command.flowControl;
  setup.journal = journal.get();
  setup.options.readBackAfterWriting = command.verify;
  setup.options.writeKeys = !command.readOnly;
  setup.options.readBeforeWriting = command.readOnly || !command.backup.empty();
  if (!command.backup.empty()) setup.options.gate = &backupGate;

  // --baud auto: the rate the file sets first (a module that was given the file before talks
  // at it), then the others.
  std::vector<std::uint32_t> search;
  if (command.autoBaud) {
    const quillon::AppliedUartRate fileRate = command.readOnly
                                                  ? quillon::AppliedUartRate{}
                                                  : quillon::UartRateOfPsrFile(*platform.files, setup.file);
    if (fileRate.key != 0 && fileRate.rate == 0) {
      std::fprintf(stderr,
                   "psconfig: key &%04x sets the value %04x, which is no rate of the baud table: not looked at\n",
                   fileRate.key, fileRate.value);
    }
    search = quillon::UartRateSearchOrder({fileRate.rate});
    setup.baud = search.front();
    setup.options.searchRates = std::span<const std::uint32_t>(search).subspan(1);
  }

  const bool terminal = platform.system->ErrorOutputIsTerminal();
  if (command.ports.size() > 1) {
    quillon::psconfig::LineRun line{setup};
    line.ports = command.ports;
    line.verify = command.verify;
    line.terminal = terminal;
    line.record = record.get();
    line.stopAsked = [] { return stopRequested != 0; };
    return quillon::psconfig::RunLine(line);
  }

  // With `read`, standard output carries the keys as a PSR file: the link's lines go to standard error.
  quillon::StandardOutput standardOutput;
  ToStandardError standardError;
  quillon::Console& console = command.readOnly ? static_cast<quillon::Console&>(standardError) : standardOutput;
  PortWork work(setup, command.ports.front(),
                terminal ? Progress::Display::kTerminalLine : Progress::Display::kNotesOnly, console);
  std::atomic<bool> ended{false};
  std::thread run;
  try {
    run = std::thread([&] {
      work.Run();
      ended = true;
    });
  } catch (const std::system_error&) {
    std::fprintf(stderr, "psconfig: the system refused a thread for the run; nothing was sent\n");
    return kExitSystem;
  }
  // The run polls the stop event; this thread turns Ctrl-C into it.
  while (!ended.load()) {
    if (stopRequested) stop->Set();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!stopRequested && !work.Watch().stopped_) work.Watch().Tick();
  }
  run.join();
  work.Watch().Finish();
  std::string recordProblem;
  if (record) recordProblem = record->Add(quillon::psconfig::EntryOf(work, command.verify));
  int status = ReportOnePort(work, command, setup, backupGate, file);
  if (!recordProblem.empty()) {
    std::fprintf(stderr, "psconfig: the record %s %s\n", command.record.c_str(), recordProblem.c_str());
  }
  // What the journal or the record should hold and does not is no success, whatever the module did.
  if (status == 0 && (!recordProblem.empty() || !work.JournalProblem().empty())) status = kExitJournalFailed;
  return status;
}
