// Several ports at once: a programming run per port, each on its own thread with its own link,
// port and result, a line per port while they run, and a table at the end.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "programs/psconfig/line_record.h"
#include "programs/psconfig/port_work.h"

namespace quillon::psconfig {

// Exit status of a line: 0 when every module is done, else this plus the number of ports that
// failed (the table says which and why).
inline constexpr int kExitPortsFailedBase = 80;

struct LineRun {
  explicit LineRun(const LineSetup& shared) : setup(shared) {}
  const LineSetup& setup;
  std::vector<std::string> ports;
  bool verify = false;
  bool terminal = false;            // standard error is a terminal: the lines are redrawn in place
  LineRecord* record = nullptr;     // with --record
  std::function<bool()> stopAsked;  // polled; true sets the stop event of every run
};

// Returns the exit status.
int RunLine(const LineRun& line);

// What a run of one port adds to the record.
RecordEntry EntryOf(PortWork& work, bool verify);

}  // namespace quillon::psconfig
