// psconfig on a line of simulated modules: several ports at once, an address of its own for each
// module from a block, the journal that keeps it so through other runs and kills, the record.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "psconfig/address_key.h"
#include "psconfig/bccmd.h"
#include "psconfig/bluetooth_address.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_device.h"
#include "tools/module_simulator/pty_simulator.h"

namespace quillon {
namespace {

constexpr const char* kBlock = "00:02:5B:00:A5:A5:00:02:5B:00:A5:FF";

class PsconfigLine : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(Path("keys.psr")) << "&0001 = 1 2 3 4\n&0002 = 0005\n&0003 = 0006 0007\n";
    std::ofstream(Path("address.psr")) << "&0001 = 1 2 3 4\n";
  }
  std::string Path(const std::string& name) const { return device.Path() + "/" + name; }
  // Modules linked as COM<first>: and up; `silent` ones are linked but never started.
  void Modules(int count, int first = 1, const std::set<int>& silent = {},
               const std::map<int, sim::SimulatorOptions>& special = {}) {
    for (int n = first; n < first + count; ++n) {
      const auto found = special.find(n);
      modules[n] = std::make_unique<sim::PtySimulator>(found == special.end() ? sim::SimulatorOptions{}
                                                                              : found->second);
      ASSERT_EQ(modules[n]->LinkAs(device.Path(), n), "");
      if (!silent.contains(n)) modules[n]->Start();
    }
  }
  std::vector<std::string> Arguments(const std::vector<std::string>& ports, const char* file = "keys.psr") const {
    std::vector<std::string> arguments{"--verify", "--address-block",   kBlock, "--journal", Path("journal"),
                                       "--record", Path("record.jsonl")};
    arguments.insert(arguments.end(), ports.begin(), ports.end());
    arguments.push_back(Path(file));
    return arguments;
  }
  int Run(const std::vector<std::string>& arguments, std::vector<std::string>* lines,
          const std::vector<std::string>& environment = {}) {
    std::vector<std::string> withRoot = environment;
    withRoot.push_back(device.Environment());
    testing::ChildProcess command(QUILLON_PSCONFIG, arguments, withRoot);
    std::string line;
    while (command.ReadLine(&line, 20000)) lines->push_back(line);
    return command.Wait(20000);
  }
  // The address a module holds in key &0001, as text; empty when it holds none.
  std::string HeldAddress(int n) {
    modules[n]->Stop();
    const auto* values = modules[n]->Module().Store().Get(kAddressKey);
    if (values == nullptr || values->size() != 4) return {};
    const auto& v = *values;
    return BluetoothAddress{std::uint64_t{v[3]} << 32 | std::uint64_t{v[2]} << 24 | std::uint64_t{v[0]} << 16 | v[1]}
        .Text();
  }
  std::vector<std::string> FileLines(const std::string& name) const {
    std::ifstream in(Path(name));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // The journal's lines of one kind, as "ADDRESS PORT".
  std::vector<std::string> Journal(const std::string& fate) const {
    std::vector<std::string> found;
    for (const std::string& line : FileLines("journal")) {
      std::istringstream fields(line);
      std::string kind, address, time, port;
      fields >> kind >> address >> time >> port;
      if (kind == fate) found.push_back(address + " " + port);
    }
    return found;
  }
  static bool Contains(const std::vector<std::string>& lines, const std::string& text) {
    return std::ranges::any_of(lines, [&](const std::string& line) { return line.find(text) != std::string::npos; });
  }

  testing::TempDevice device;
  std::map<int, std::unique_ptr<sim::PtySimulator>> modules;
};

// Eight modules, one refusing a key and one silent: the six others are programmed and verified,
// each with an address of its own in journal order; the silent one's address was never sent and
// goes back to the block; the table, the record and the exit status say which two failed.
TEST_F(PsconfigLine, EightModulesTwoFailingTheOthersProgrammedEachWithItsOwnAddress) {
  sim::SimulatorOptions refusing;
  refusing.refuseWriteOf = 0x0002;
  Modules(8, 1, {6}, {{3, refusing}});
  std::vector<std::string> ports;
  for (int n = 1; n <= 8; ++n) ports.push_back("COM" + std::to_string(n) + ":");
  std::vector<std::string> lines;
  EXPECT_EQ(Run(Arguments(ports), &lines), 82) << ::testing::PrintToString(lines);
  EXPECT_TRUE(Contains(lines, "psconfig: 6 of 8 modules programmed; 2 failed"));

  const std::vector<std::string> taken = Journal("taken");
  const std::vector<std::string> written = Journal("written");
  ASSERT_EQ(taken.size(), 8u);
  EXPECT_EQ(Journal("unused").size(), 1u);
  std::set<std::string> given;
  for (std::size_t i = 0; i < taken.size(); ++i) {
    const std::string address = taken[i].substr(0, 17);
    const std::string port = taken[i].substr(18);
    const int n = port[3] - '0';
    // Taken in the block's order, each once.
    EXPECT_EQ(*BluetoothAddress::Parse(address),
              BluetoothAddress{BluetoothAddress::Parse("00:02:5B:00:A5:A5")->value + i});
    if (n == 6) {
      EXPECT_EQ(HeldAddress(n), "");
      EXPECT_TRUE(Contains(lines, "  COM6: no answer")) << ::testing::PrintToString(lines);
      continue;
    }
    EXPECT_EQ(HeldAddress(n), address) << port;
    EXPECT_TRUE(given.insert(address).second) << address;
    EXPECT_TRUE(std::ranges::find(written, taken[i]) != written.end()) << taken[i];
    if (n != 3) {
      EXPECT_TRUE(Contains(lines, "  " + port + " done, verified")) << port;
    }
  }
  EXPECT_TRUE(Contains(lines, "  COM3: refused 1 of ")) << ::testing::PrintToString(lines);

  const std::vector<std::string> record = FileLines("record.jsonl");
  ASSERT_EQ(record.size(), 8u);
  int verified = 0;
  for (const std::string& line : record) {
    EXPECT_EQ(line.front(), '{');
    EXPECT_EQ(line.back(), '}');
    if (line.find("\"verified\":true") == std::string::npos) continue;
    ++verified;
    EXPECT_NE(line.find("\"build\":\"0x1f27\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"keys_written\":3"), std::string::npos) << line;
  }
  EXPECT_EQ(verified, 6);
  EXPECT_TRUE(
      Contains(record, "\"port\":\"COM6:\",\"build\":null,\"address\":null,\"result\":\"no answer\",\"status\":7"));
}

// Two processes on one journal at once, three modules each: six addresses, none twice.
TEST_F(PsconfigLine, TwoProcessesOnOneJournalNeverGiveAnAddressTwice) {
  Modules(6);
  std::vector<std::string> first, second;
  std::thread other([&] { EXPECT_EQ(Run(Arguments({"COM1:", "COM2:", "COM3:"}), &first), 0); });
  EXPECT_EQ(Run(Arguments({"COM4:", "COM5:", "COM6:"}), &second), 0);
  other.join();
  std::set<std::string> held;
  for (int n = 1; n <= 6; ++n) held.insert(HeldAddress(n));
  EXPECT_EQ(held.size(), 6u);
  EXPECT_FALSE(held.contains(""));
  EXPECT_EQ(Journal("taken").size(), 6u);
  EXPECT_EQ(Journal("written").size(), 6u);
}

// A run killed at each step of its address's life: afterwards no address is given twice, and one
// whose outcome did not reach the journal is named by the next run and not given again.
TEST_F(PsconfigLine, AKillAtAnyStepOfAnAddressNeverGivesItTwice) {
  enum class Kill { kTaken, kSent, kAnswered, kRecorded };
  const struct {
    Kill kill;
    bool settled;  // the journal holds the outcome; false: it may
  } steps[] = {{Kill::kTaken, false}, {Kill::kSent, false}, {Kill::kAnswered, false}, {Kill::kRecorded, true}};
  int port = 1;
  std::set<std::string> given;
  for (const auto& step : steps) {
    SCOPED_TRACE(static_cast<int>(step.kill));
    // Sent: the address's answer is held back long enough to kill the run while it waits (the
    // file holds nothing else, so only the build identifier's answer waits before it).
    sim::SimulatorOptions slow;
    slow.answerDelayMs = step.kill == Kill::kSent ? 2000 : 0;
    Modules(1, port, {}, {{port, slow}});
    const std::string name = "COM" + std::to_string(port) + ":";
    std::vector<std::string> environment;
    if (step.kill == Kill::kTaken || step.kill == Kill::kRecorded) {
      // The process stops itself right after the journal's first (taken) or second (outcome) write.
      environment = {"QUILLON_POWER_CUT_COUNTER=" + Path("changes" + std::to_string(port)),
                     "QUILLON_POWER_CUT_AT=" + std::string(step.kill == Kill::kTaken ? "1" : "2")};
    }
    environment.push_back(device.Environment());
    {
      testing::ChildProcess command(QUILLON_PSCONFIG, Arguments({name}, "address.psr"), environment);
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      auto sentAddress = [&] {
        const auto requests = modules[port]->Module().Requests();
        return std::ranges::any_of(requests, [](const sim::BccmdRequest& r) {
          return r.varId == kVarIdPsKey && r.psKey == kAddressKey && r.type == kBccmdSetRequest;
        });
      };
      auto stopped = [&] {
        std::ifstream cut(Path("changes" + std::to_string(port)) + ".cut");
        return cut.good();
      };
      while (std::chrono::steady_clock::now() < until &&
             !((step.kill == Kill::kSent || step.kill == Kill::kAnswered) ? sentAddress() : stopped())) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      if (std::chrono::steady_clock::now() >= until) {
        std::vector<std::string> said;
        for (std::string text; command.ReadLine(&text, 100);) said.push_back(text);
        FAIL() << "the step was never reached: " << ::testing::PrintToString(said);
      }
      command.Signal(SIGKILL);
      EXPECT_EQ(command.Wait(), 128 + SIGKILL);
    }
    const std::vector<std::string> taken = Journal("taken");
    ASSERT_FALSE(taken.empty());
    const std::string inFlight = taken.back().substr(0, 17);
    EXPECT_TRUE(given.insert(inFlight).second) << inFlight;
    const std::vector<std::string> written = Journal("written");
    const bool settled = std::ranges::find(written, taken.back()) != written.end();
    EXPECT_TRUE(settled || !step.settled);

    // The next run names the address in flight (unless its outcome is on disk) and gives another.
    ++port;
    Modules(1, port);
    std::vector<std::string> lines;
    EXPECT_EQ(Run(Arguments({"COM" + std::to_string(port) + ":"}), &lines), 0) << ::testing::PrintToString(lines);
    EXPECT_EQ(Contains(lines, inFlight + " was given to " + name), !settled) << ::testing::PrintToString(lines);
    const std::string next = HeldAddress(port);
    EXPECT_TRUE(given.insert(next).second) << next;
    ++port;
  }
}

// A journal that cannot be trusted or written stops the run before any module is touched.
TEST_F(PsconfigLine, ABadJournalStopsTheRunBeforeAnyKey) {
  Modules(1);
  std::filesystem::create_directories(Path("folder"));
  std::ofstream(Path("damaged")) << "taken 00:02:5B:00:A5:A5 t COM1: ~00000000\n";
  const struct {
    std::string journal;
    std::string says;
  } cases[] = {
      {Path("damaged"), "the journal " + Path("damaged") + " cannot be used: line 1: damaged"},
      {Path("folder"), "cannot open the journal " + Path("folder") + ": it is a folder"},
      {"/dev/null", "cannot open the journal /dev/null: not a regular file"},
      {Path("missing/journal"), "cannot open the journal " + Path("missing/journal") + ": not found"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> lines;
    EXPECT_EQ(Run({"--address-block", kBlock, "--journal", c.journal, "COM1:", Path("keys.psr")}, &lines), 9);
    EXPECT_TRUE(Contains(lines, c.says)) << ::testing::PrintToString(lines);
  }
  EXPECT_EQ(HeldAddress(1), "");
  EXPECT_TRUE(modules[1]->Module().Requests().empty());
}

}  // namespace
}  // namespace quillon
