// A program the device starts: a child process with the device's environment, its own
// process group, and an owner that never leaves it running behind.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace quillon::device {

class ChildProgram {
 public:
  struct Launch {
    std::string path;
    std::vector<std::string> arguments;
    std::vector<std::string> environment;  // "NAME=value" added to ours
    std::string workingFolder;             // empty: ours
    std::string outputFile;                // empty: our standard output and error
  };

  // Null and *error (the system's message) when it cannot be started.
  static std::unique_ptr<ChildProgram> Start(const Launch& launch, std::string* error);
  ~ChildProgram();  // stops a program that still runs
  ChildProgram(const ChildProgram&) = delete;
  ChildProgram& operator=(const ChildProgram&) = delete;

  // True once it has ended; *status is its exit code, or 128 + the signal that ended it.
  bool Ended(int* status);
  // Asks it and the programs it started to end (`interrupt`: as Ctrl-C does, else as a shutdown
  // does), waits at most `graceMs` for it, then kills them. Returns its status as Ended does.
  int Stop(bool interrupt, int graceMs);
  // Kills it and its programs at once, as a power cut would. Returns its status as Ended does.
  int Kill() { return Stop(false, -1); }

 private:
  explicit ChildProgram(int pid) : pid_(pid) {}
  int pid_;
  bool ended_ = false;
  int status_ = 0;
};

}  // namespace quillon::device
