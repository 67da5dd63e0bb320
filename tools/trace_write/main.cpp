// tracew: writes messages to the device's trace, as the system's programs do.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/native_platform.h"
#include "platform/program_version.h"
#include "platform/text.h"
#include "trace/trace.h"
#include "trace/trace_scope.h"

namespace {

void Usage(std::FILE* out) {
  std::fprintf(out,
               "usage: tracew [--important] [--thread NAME] [--repeat N] [--pause MS] TEXT...\n"
               "\n"
               "Writes each TEXT as one trace message (kind info, or important), N times over,\n"
               "waiting MS milliseconds between rounds. With --thread the messages come from a\n"
               "thread scope of that name: its name is registered, and its start and end are traced.\n"
               "--version prints the version, --help and -h these lines.\n"
               "Example: tracew --thread Probe \"hello\" \"world\"\n");
}

}  // namespace

int main(int argc, char** argv) {
  quillon::TraceKind kind = quillon::KindInfo;
  std::wstring threadName;
  long repeat = 1;
  long pauseMs = 0;
  int first = 1;
  for (; first < argc && argv[first][0] == '-'; ++first) {
    const std::string arg = argv[first];
    auto number = [&](long* out) {
      if (first + 1 >= argc) return false;
      char* end = nullptr;
      *out = std::strtol(argv[++first], &end, 10);
      return *end == 0 && *out >= 0;
    };
    if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return 0;
    } else if (arg == "--version") {
      std::fputs(quillon::platform::VersionLine("tracew").c_str(), stdout);
      return 0;
    } else if (arg == "--important") {
      kind = quillon::KindImportant;
    } else if (arg == "--thread" && first + 1 < argc) {
      threadName = quillon::platform::Utf8ToWide(argv[++first]);
    } else if ((arg == "--repeat" && number(&repeat)) || (arg == "--pause" && number(&pauseMs))) {
    } else {
      std::fprintf(stderr, "tracew: unknown or incomplete option \"%s\"\n\n", arg.c_str());
      Usage(stderr);
      return 2;
    }
  }
  if (first >= argc) {
    Usage(stderr);
    return 2;
  }
  const quillon::platform::NativePlatform native;
  const quillon::platform::Platform& platform = native.Roles();
  quillon::Trace trace(platform);
  const quillon::platform::ProcessWide<quillon::Trace>::Scoped asProcessTrace(trace);  // for the thread scope
  trace.Initialise();
  {
    std::unique_ptr<quillon::ThreadTraceScope> scope;
    if (!threadName.empty()) scope = std::make_unique<quillon::ThreadTraceScope>(L"tracew", threadName.c_str());
    for (long round = 0; round < repeat; ++round) {
      for (int i = first; i < argc; ++i) {
        trace.Printf(kind, quillon::kTraceCategory, L"%s", quillon::platform::Utf8ToWide(argv[i]));
      }
      if (pauseMs > 0) platform.clock->Sleep(static_cast<std::uint32_t>(pauseMs));
    }
  }
  trace.Shutdown();
  return 0;
}
