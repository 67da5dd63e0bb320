// A program of the project run as a child process, with its output (standard output and
// error together) read line by line.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace quillon::testing {

class ChildProcess {
 public:
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
               const std::vector<std::string>& extraEnvironment) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    std::vector<std::string> argumentTexts = {program};
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    argv.reserve(argumentTexts.size() + 1);
    for (auto& text : argumentTexts) argv.push_back(text.data());
    argv.push_back(nullptr);
    std::vector<std::string> environmentTexts;
    for (char** entry = environ; *entry != nullptr; ++entry) environmentTexts.emplace_back(*entry);
    environmentTexts.insert(environmentTexts.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<char*> envp;
    envp.reserve(environmentTexts.size() + 1);
    for (auto& text : environmentTexts) envp.push_back(text.data());
    envp.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    output_ = pipeFds[0];
  }

  ~ChildProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (output_ >= 0) close(output_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  void Signal(int signal) {
    if (pid_ > 0) kill(pid_, signal);
  }

  // The next line of output, waiting at most timeoutMs; false at the end or on time-out.
  bool ReadLine(std::string* line, int timeoutMs = 10000) {
    for (;;) {
      const std::size_t end = pending_.find('\n');
      if (end != std::string::npos) {
        *line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return true;
      }
      pollfd ready{output_, POLLIN, 0};
      if (poll(&ready, 1, timeoutMs) <= 0) return false;
      char buffer[4096];
      const ssize_t got = read(output_, buffer, sizeof buffer);
      if (got <= 0) return false;
      pending_.append(buffer, static_cast<std::size_t>(got));
    }
  }

  // Waits for the line that contains `text`; the lines before it are kept in *skipped.
  bool WaitFor(const std::string& text, std::vector<std::string>* skipped = nullptr, int timeoutMs = 10000) {
    std::string line;
    while (ReadLine(&line, timeoutMs)) {
      if (line.find(text) != std::string::npos) return true;
      if (skipped != nullptr) skipped->push_back(line);
    }
    return false;
  }

  // The exit status, waiting at most timeoutMs; -1 when it did not end in time.
  int Wait(int timeoutMs = 10000) {
    for (int waited = 0; waited <= timeoutMs; waited += 5) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      const timespec pause{0, 5000000};
      nanosleep(&pause, nullptr);
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  std::string pending_;
};

}  // namespace quillon::testing
