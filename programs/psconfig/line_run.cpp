#include "programs/psconfig/line_run.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "programs/psconfig/port_outcome.h"

namespace quillon::psconfig {
namespace {

// The link's diagnostic lines of one port, whole lines only, each with the port's name in
// front, so that the ports' lines do not mix on standard output.
class PortConsole final : public Console {
 public:
  PortConsole(std::string port, std::mutex& output, bool& printed)
      : port_(std::move(port)), output_(output), printed_(printed) {}
  void Write(std::string_view text) override {
    pending_.append(text);
    for (std::size_t end; (end = pending_.find('\n')) != std::string::npos; pending_.erase(0, end + 1)) {
      const std::lock_guard<std::mutex> hold(output_);
      std::fprintf(stdout, "[%s] %.*s\n", port_.c_str(), static_cast<int>(end), pending_.c_str());
      std::fflush(stdout);
      printed_ = true;  // the board is no longer the last lines of a shared terminal
    }
  }

 private:
  std::string port_;
  std::mutex& output_;
  bool& printed_;  // under output_
  std::string pending_;
};

std::size_t Widest(const std::vector<std::string>& texts, std::size_t least) {
  std::size_t widest = least;
  for (const std::string& text : texts) widest = std::max(widest, text.size());
  return widest;
}

}  // namespace

RecordEntry EntryOf(PortWork& work, bool verify) {
  const PortOutcome outcome = OutcomeOf(work, verify);
  RecordEntry entry;
  entry.port = work.Port();
  entry.buildId = work.Engine().BuildId();
  if (work.Address() && work.Fate() != AddressFate::kUnused) entry.address = work.Address();
  entry.result = outcome.text;
  entry.status = work.Watch().stopped_ ? 130 : work.Result();
  entry.keysWritten = work.Watch().keysWritten_;
  if (verify) entry.verified = work.Result() == kPsConfigDone && !work.Watch().stopped_;
  return entry;
}

int RunLine(const LineRun& line) {
  std::mutex output;
  bool linesSinceBoard = false;  // under `output`
  std::vector<std::unique_ptr<PortConsole>> consoles;
  std::vector<std::unique_ptr<PortWork>> works;
  const Progress::Display display = line.terminal ? Progress::Display::kBoard : Progress::Display::kEventLines;
  for (const std::string& port : line.ports) {
    consoles.push_back(std::make_unique<PortConsole>(port, output, linesSinceBoard));
    works.push_back(std::make_unique<PortWork>(line.setup, port, display, *consoles.back()));
  }
  std::vector<std::string> recordProblems(works.size());
  std::vector<std::thread> threads;
  std::atomic<std::size_t> running{works.size()};
  for (std::size_t i = 0; i < works.size(); ++i) {
    try {
      threads.emplace_back([&, i] {
        works[i]->Run();
        // Each module's line is on disk as soon as its run ends: a crash later loses none.
        if (line.record != nullptr) recordProblems[i] = line.record->Add(EntryOf(*works[i], line.verify));
        --running;
      });
    } catch (const std::system_error&) {
      // No thread for this port: it took nothing and sent nothing; the others go on.
      works[i]->NotStarted();
      --running;
    }
  }

  const std::size_t portWidth = Widest(line.ports, 4);
  auto drawBoard = [&](bool first) {
    if (!line.terminal) return;
    const std::lock_guard<std::mutex> hold(output);
    // Drawn again in place, unless other lines came below it: then a new board follows them.
    if (!first && !linesSinceBoard) std::fprintf(stderr, "\033[%zuA", works.size());
    linesSinceBoard = false;
    for (auto& work : works) {
      std::fprintf(stderr, "\r\033[K  %-*s %s\n", static_cast<int>(portWidth), work->Port().c_str(),
                   work->Watch().Line().c_str());
    }
    std::fflush(stderr);
  };
  drawBoard(true);
  bool stopSet = false;
  for (int pass = 0; running.load() != 0; ++pass) {
    if (!stopSet && line.stopAsked()) {
      line.setup.stop->Set();
      stopSet = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (pass % 5 == 4) drawBoard(false);
  }
  for (std::thread& thread : threads) {
    if (thread.joinable()) thread.join();
  }
  drawBoard(false);

  // What the file's reading said, once: every port read the same file.
  for (const std::string& note : works.front()->Watch().fileNotes_)
    std::fprintf(stderr, "psconfig: %s\n", note.c_str());

  std::vector<PortOutcome> outcomes;
  std::vector<std::string> results;
  for (auto& work : works) {
    outcomes.push_back(OutcomeOf(*work, line.verify));
    results.push_back(outcomes.back().text);
  }
  const int resultWidth = static_cast<int>(Widest(results, 6));
  std::fprintf(stderr, "\n  %-*s %-*s %5s %8s  %s\n", static_cast<int>(portWidth), "port", resultWidth, "result",
               "keys", "time", "address");
  std::size_t failed = 0;
  for (std::size_t i = 0; i < works.size(); ++i) {
    PortWork& work = *works[i];
    const bool given = work.Address() && work.Fate() != AddressFate::kUnused;
    std::fprintf(stderr, "  %-*s %-*s %5u %7.1fs  %s\n", static_cast<int>(portWidth), work.Port().c_str(), resultWidth,
                 results[i].c_str(), work.Watch().keysWritten_, work.SecondsTaken(),
                 given ? work.Address()->Text().c_str() : "-");
    if (!outcomes[i].succeeded || !recordProblems[i].empty()) ++failed;
  }
  std::fprintf(stderr, "\n");
  for (std::size_t i = 0; i < works.size(); ++i) {
    PortWork& work = *works[i];
    if (!work.JournalProblem().empty()) {
      std::fprintf(stderr, "psconfig: on %s %s\n", work.Port().c_str(), work.JournalProblem().c_str());
    }
    if (work.Address() && work.Fate() == AddressFate::kUnanswered) {
      std::fprintf(stderr,
                   "psconfig: on %s %s was sent without an answer: the module may hold it; it is not given again\n",
                   work.Port().c_str(), work.Address()->Text().c_str());
    }
    if (!recordProblems[i].empty()) {
      std::fprintf(stderr, "psconfig: on %s the record %s\n", work.Port().c_str(), recordProblems[i].c_str());
    }
  }
  const bool stopped = std::ranges::any_of(works, [](auto& work) { return work->Watch().stopped_.load(); });
  std::fprintf(stderr, "psconfig: %zu of %zu modules programmed%s\n", works.size() - failed, works.size(),
               failed == 0 ? "" : ("; " + std::to_string(failed) + " failed").c_str());
  if (stopped) return 130;
  return failed == 0 ? 0 : kExitPortsFailedBase + static_cast<int>(failed);
}

}  // namespace quillon::psconfig
