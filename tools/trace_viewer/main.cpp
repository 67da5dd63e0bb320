// tracev: shows the diagnostic trace of the programs on this device as they write it.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "platform/native_platform.h"
#include "platform/program_version.h"
#include "platform/text.h"
#include "tools/trace_viewer/trace_reader.h"
#include "trace/trace_layout.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) { stopRequested = 1; }

const char* KindName(std::uint32_t kind) {
  switch (kind) {
    case 2:
      return "info";
    case 4:
      return "important";
    case 6:
      return "thread";
    case 7:
      return "thread-end";
    default:
      return "other";
  }
}

void Usage(std::FILE* out) {
  std::fprintf(out,
               "usage: tracev [--names] [--count N] [--idle-exit MS] [--no-notify]\n"
               "\n"
               "Shows the trace that Quillon and the other programs of the device write, one line per\n"
               "message: tick (ms), thread, kind, text. While tracev runs the programs write into the\n"
               "trace; without a viewer they write nothing but thread names.\n"
               "\n"
               "  --names          show thread names (registered ones and those seen) instead of ids\n"
               "  --count N        exit after N messages\n"
               "  --idle-exit MS   exit when no message came for MS milliseconds\n"
               "  --no-notify      do not ask writers to notify; look for messages every 50 ms\n"
               "  --version        print the version and end; --help, -h print these lines\n"
               "\n"
               "The device is the one of QUILLON_DEVICE_ROOT (see the README). Ctrl-C ends tracev.\n"
               "Example: tracev --names\n");
}

}  // namespace

int main(int argc, char** argv) {
  using quillon::platform::kSuccess;
  bool showNames = false;
  bool notify = true;
  long countLimit = -1;
  long idleExitMs = -1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto number = [&](long* out) {
      if (i + 1 >= argc) return false;
      char* end = nullptr;
      *out = std::strtol(argv[++i], &end, 10);
      return *end == 0 && *out >= 0;
    };
    if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return 0;
    } else if (arg == "--version") {
      std::fputs(quillon::platform::VersionLine("tracev").c_str(), stdout);
      return 0;
    } else if (arg == "--names") {
      showNames = true;
    } else if (arg == "--no-notify") {
      notify = false;
    } else if ((arg == "--count" && number(&countLimit)) || (arg == "--idle-exit" && number(&idleExitMs))) {
    } else {
      std::fprintf(stderr, "tracev: unknown or incomplete option \"%s\"\n\n", arg.c_str());
      Usage(stderr);
      return 2;
    }
  }
  std::signal(SIGINT, RequestStop);
  std::signal(SIGTERM, RequestStop);

  const quillon::platform::NativePlatform native;
  const quillon::platform::Platform& platform = native.Roles();
  quillon::platform::ErrorCode error = kSuccess;
  auto queue = notify ? platform.messages->CreateQueue(&error) : nullptr;
  if (notify && !queue) {
    std::fprintf(stderr, "tracev: cannot create the notification queue (error %u); try --no-notify\n", error);
    return 1;
  }
  std::map<std::uint32_t, std::wstring> names;
  if (showNames) {
    for (auto& [thread, name] : quillon::tools::RegisteredThreadNames(*platform.registry)) {
      std::printf("thread %08x is %s\n", thread, quillon::platform::WideToUtf8(name).c_str());
      names[thread] = name;
    }
  }
  quillon::tools::TraceReader reader(platform);
  error = reader.Attach(queue ? queue->WindowId() : 0, notify);
  if (error != kSuccess) {
    std::fprintf(stderr, "tracev: cannot attach to the trace (error %u)\n", error);
    return 1;
  }
  std::fflush(stdout);
  std::fprintf(stderr, "tracev: ready\n");
  std::fflush(stderr);

  long shown = 0;
  std::uint32_t idleSince = platform.clock->TickCount();
  while (!stopRequested && (countLimit < 0 || shown < countLimit)) {
    quillon::platform::WindowMessage message;
    if (queue) {
      (void)queue->Wait(200, &message);
    } else {
      platform.clock->Sleep(50);
    }
    const std::size_t read = reader.ReadAvailable([&](const quillon::tools::TraceEntry& entry) {
      if (entry.kind == 6) names[entry.threadId] = entry.text;
      std::string thread;
      if (auto found = names.find(entry.threadId); showNames && found != names.end()) {
        thread = quillon::platform::WideToUtf8(found->second);
      } else {
        char id[16];
        std::snprintf(id, sizeof id, "%08x", entry.threadId);
        thread = id;
      }
      std::printf("%10u %-14s %-10s %s\n", entry.tick, thread.c_str(), KindName(entry.kind),
                  quillon::platform::WideToUtf8(entry.text).c_str());
      ++shown;
    });
    if (reader.TakeResynchronised()) {
      std::printf("%10s %-14s %-10s the ring was damaged: messages up to the writers' position skipped\n", "-", "-",
                  "lost");
    }
    if (const auto lost = reader.TakeLost(); lost.count != 0) {
      std::printf("%10u %-14s %-10s %u messages lost for lack of room\n", lost.firstTick, "-", "lost", lost.count);
    }
    std::fflush(stdout);
    const std::uint32_t now = platform.clock->TickCount();
    if (read > 0) idleSince = now;
    if (idleExitMs >= 0 && now - idleSince >= static_cast<std::uint32_t>(idleExitMs)) break;
  }
  reader.Detach();
  return 0;
}
