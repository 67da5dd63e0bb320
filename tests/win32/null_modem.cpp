// Two pseudo-terminals joined like the two ends of a null-modem cable: what a program writes to
// one, a program reading the other gets. The Windows serial tests link two Wine COM ports to
// them. Prints "null-modem: PATH-A PATH-B" and relays until it is sent SIGTERM or SIGINT.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace {

volatile sig_atomic_t stopping = 0;

void Stop(int) { stopping = 1; }

// A terminal's controller, and its terminal kept open here and raw: when the program under test
// closes its end, the controller does not see a hang-up, and nothing is echoed back.
int OpenEnd(const char** path) {
  const int controller = posix_openpt(O_RDWR | O_NOCTTY);
  if (controller < 0 || grantpt(controller) != 0 || unlockpt(controller) != 0) return -1;
  *path = ptsname(controller);
  if (*path == nullptr) return -1;
  const int terminal = open(*path, O_RDWR | O_NOCTTY);
  termios raw{};
  if (terminal < 0 || tcgetattr(terminal, &raw) != 0) return -1;
  cfmakeraw(&raw);
  if (tcsetattr(terminal, TCSANOW, &raw) != 0) return -1;
  return controller;
}

// Writes all of it; a full terminal queue waits here, which a test's few bytes never fill.
bool WriteAll(int fd, const unsigned char* bytes, ssize_t size) {
  while (size > 0) {
    const ssize_t done = write(fd, bytes, static_cast<size_t>(size));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    bytes += done;
    size -= done;
  }
  return true;
}

}  // namespace

int main() {
  struct sigaction action {};
  action.sa_handler = Stop;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  const char* pathA = nullptr;
  const int a = OpenEnd(&pathA);
  char nameA[128];
  snprintf(nameA, sizeof nameA, "%s", pathA != nullptr ? pathA : "");
  const char* pathB = nullptr;
  const int b = OpenEnd(&pathB);
  if (a < 0 || b < 0) {
    perror("null-modem");
    return 1;
  }
  printf("null-modem: %s %s\n", nameA, pathB);
  fflush(stdout);
  pollfd ends[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
  unsigned char buffer[256];
  while (stopping == 0) {
    if (poll(ends, 2, 200) < 0) {
      if (errno == EINTR) continue;
      return 1;
    }
    for (int from = 0; from < 2; ++from) {
      if ((ends[from].revents & POLLIN) == 0) continue;
      const ssize_t got = read(ends[from].fd, buffer, sizeof buffer);
      if (got > 0 && !WriteAll(ends[1 - from].fd, buffer, got)) return 1;
    }
  }
  return 0;
}
