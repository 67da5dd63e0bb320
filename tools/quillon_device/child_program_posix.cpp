// The one file of the device emulator that speaks to the operating system's process calls.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/quillon_device/child_program.h"

extern char** environ;

namespace quillon::device {
namespace {

class SpawnActions {
 public:
  SpawnActions() { posix_spawn_file_actions_init(&actions_); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  posix_spawn_file_actions_t* Get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_{};
};

class SpawnAttributes {
 public:
  SpawnAttributes() { posix_spawnattr_init(&attributes_); }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  posix_spawnattr_t* Get() { return &attributes_; }

 private:
  posix_spawnattr_t attributes_{};
};

int StatusOf(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw); }

}  // namespace

std::unique_ptr<ChildProgram> ChildProgram::Start(const Launch& launch, std::string* error) {
  SpawnActions actions;
  if (!launch.outputFile.empty()) {
    posix_spawn_file_actions_addopen(actions.Get(), 1, launch.outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(actions.Get(), 1, 2);
  }
  if (!launch.workingFolder.empty()) posix_spawn_file_actions_addchdir_np(actions.Get(), launch.workingFolder.c_str());
  // A process group of its own: Ctrl-C at the terminal reaches the device emulator, which then
  // ends its programs itself, in order.
  SpawnAttributes attributes;
  // Signals the emulator ignores are the programs' own again.
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(attributes.Get(), &defaults);
  posix_spawnattr_setflags(attributes.Get(), POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
  posix_spawnattr_setpgroup(attributes.Get(), 0);

  std::vector<std::string> argumentTexts = {launch.path};
  argumentTexts.insert(argumentTexts.end(), launch.arguments.begin(), launch.arguments.end());
  std::vector<char*> argv;
  argv.reserve(argumentTexts.size() + 1);
  for (auto& text : argumentTexts) argv.push_back(text.data());
  argv.push_back(nullptr);
  std::vector<std::string> environmentTexts;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    bool replaced = false;
    for (const std::string& extra : launch.environment) {
      const std::size_t equals = extra.find('=');
      if (text.compare(0, equals + 1, extra, 0, equals + 1) == 0) replaced = true;
    }
    if (!replaced) environmentTexts.push_back(text);
  }
  environmentTexts.insert(environmentTexts.end(), launch.environment.begin(), launch.environment.end());
  std::vector<char*> envp;
  envp.reserve(environmentTexts.size() + 1);
  for (auto& text : environmentTexts) envp.push_back(text.data());
  envp.push_back(nullptr);

  pid_t pid = -1;
  const int failed = posix_spawn(&pid, launch.path.c_str(), actions.Get(), attributes.Get(), argv.data(), envp.data());
  if (failed != 0) {
    *error = std::strerror(failed);
    return nullptr;
  }
  return std::unique_ptr<ChildProgram>(new ChildProgram(pid));
}

ChildProgram::~ChildProgram() {
  if (!ended_) (void)Stop(false, 2000);
}

bool ChildProgram::Ended(int* status) {
  if (!ended_) {
    int raw = 0;
    const pid_t done = waitpid(pid_, &raw, WNOHANG);
    if (done == pid_) {
      ended_ = true;
      status_ = StatusOf(raw);
    } else if (done < 0 && errno == ECHILD) {
      ended_ = true;
      status_ = 255;
    }
  }
  if (ended_) *status = status_;
  return ended_;
}

int ChildProgram::Stop(bool interrupt, int graceMs) {
  int status = 0;
  if (Ended(&status)) return status;
  // The whole group: a program's own children end with it, as on a restart. No grace: no asking.
  if (graceMs >= 0) kill(-pid_, interrupt ? SIGINT : SIGTERM);
  for (int waited = 0; waited < graceMs; waited += 10) {
    if (Ended(&status)) return status;
    const timespec pause{0, 10'000'000};
    nanosleep(&pause, nullptr);
  }
  kill(-pid_, SIGKILL);
  int raw = 0;
  if (waitpid(pid_, &raw, 0) == pid_) status_ = StatusOf(raw);
  ended_ = true;
  return status_;
}

}  // namespace quillon::device
