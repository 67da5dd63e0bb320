#include "platform/posix/power_cut.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/posix/descriptor.h"

namespace quillon::platform::posix {
namespace {

void Append(const std::string& path, const std::string& line) {
  const Descriptor file(open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (file.get() < 0) return;
  (void)!write(file.get(), line.data(), line.size());
  (void)fsync(file.get());
}

}  // namespace

void NotePersistentChange(std::string_view what) {
  const char* counterPath = std::getenv("QUILLON_POWER_CUT_COUNTER");
  const char* cutAt = std::getenv("QUILLON_POWER_CUT_AT");
  if (counterPath == nullptr || cutAt == nullptr || *counterPath == '\0') return;
  const long target = std::strtol(cutAt, nullptr, 10);
  const Descriptor counter(open(counterPath, O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (counter.get() < 0 || flock(counter.get(), LOCK_EX) != 0) return;
  char text[32] = {};
  const ssize_t got = pread(counter.get(), text, sizeof text - 1, 0);
  const long count = (got > 0 ? std::strtol(text, nullptr, 10) : 0) + 1;
  const int length = std::snprintf(text, sizeof text, "%ld\n", count);
  (void)ftruncate(counter.get(), 0);
  (void)!pwrite(counter.get(), text, static_cast<std::size_t>(length), 0);
  const std::string line = std::to_string(count) + " " + std::to_string(getpid()) + " " + std::string(what) + "\n";
  Append(std::string(counterPath) + ".log", line);
  if (count == target) {
    Append(std::string(counterPath) + ".cut", line);
    // Frozen right after the change, and still holding the count's lock: a change that another
    // process (or thread) of the device makes meanwhile waits here to be counted, so that nothing
    // moves on past it before the test's kill, which is the power cut. raise() aims the stop at
    // this thread, which then stops on its way out of the call: kill(getpid()) may hand it to
    // another thread, and until that one is scheduled this one would go on with its work.
    (void)std::raise(SIGSTOP);
  }
  (void)flock(counter.get(), LOCK_UN);
}

}  // namespace quillon::platform::posix
