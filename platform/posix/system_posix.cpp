#include "platform/posix/system_posix.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>

#include "platform/text.h"

namespace quillon::platform::posix {

std::wstring PosixSystem::OwnPath() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  return Utf8ToWide(std::string_view(path, static_cast<std::size_t>(length)));
}

ErrorCode PosixSystem::RecordRestartRequest() {
  if (const ErrorCode rootError = root_.Ensure(); rootError != kSuccess) return rootError;
  const std::string file = root_.Path() + "/restart-requests";
  const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return ErrorFromErrno(errno);
  char line[600];
  const int length = std::snprintf(line, sizeof line, "%lld %s\n", static_cast<long long>(std::time(nullptr)),
                                   WideToUtf8(OwnPath()).c_str());
  const bool written = length > 0 && write(fd, line, static_cast<std::size_t>(length)) == length;
  close(fd);
  return written ? kSuccess : kErrorGenFailure;
}

bool PosixSystem::ErrorOutputIsTerminal() { return isatty(2) == 1; }

void PosixSystem::KeepRunningWhenOutputCloses() { (void)signal(SIGPIPE, SIG_IGN); }

ErrorCode PosixSystem::RequestRestart() {
  const ErrorCode recorded = RecordRestartRequest();
  if (recorded != kSuccess) return recorded;
  std::fflush(nullptr);
  _exit(0);
}

}  // namespace quillon::platform::posix
