// The psconfig command run as a user runs it, against the module simulator on a pseudo-terminal.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_device.h"
#include "tools/module_simulator/pty_simulator.h"

namespace quillon {
namespace {

class PsconfigCommand : public ::testing::Test {
 protected:
  std::string File(const std::string& name, const std::string& content) {
    std::string path = device.Path() + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  // Runs psconfig to its end; the lines it printed (both outputs) and its exit status.
  int Run(const std::vector<std::string>& arguments, std::vector<std::string>* lines) {
    testing::ChildProcess command(QUILLON_PSCONFIG, arguments, {device.Environment()});
    std::string line;
    while (command.ReadLine(&line, 20000)) lines->push_back(line);
    return command.Wait(20000);
  }
  static bool Contains(const std::vector<std::string>& lines, const std::string& text) {
    for (const auto& line : lines) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }

  testing::TempDevice device;
};

TEST_F(PsconfigCommand, ProgramsAFileIntoTheModule) {
  sim::PtySimulator module(sim::SimulatorOptions{});
  ASSERT_EQ(module.LinkAs(device.Path(), 4), "");
  module.Start();
  const std::string psr = File("keys.psr", "// three keys\n&0001 = 0005\n&01fe = 6590\n&0108 = \"ab\"\n");
  std::vector<std::string> lines;
  EXPECT_EQ(Run({"COM4:", psr}, &lines), 0);
  module.Stop();
  EXPECT_TRUE(Contains(lines, "psconfig: done: 3 keys written to COM4:, module reset"))
      << ::testing::PrintToString(lines);
  EXPECT_TRUE(Contains(lines, "Hello Link Uninitialized"));  // the link's own lines on standard output
  const auto& store = module.Module().Store();
  ASSERT_NE(store.Get(0x0108), nullptr);
  EXPECT_EQ(*store.Get(0x0108), (std::vector<std::uint16_t>{'a', 'b', '"'}));
  EXPECT_EQ(module.Module().Requests().size(), 5u);
}

TEST_F(PsconfigCommand, TheAllSentEventEndsTheRunWithoutTheWarmReset) {
  sim::SimulatorOptions options;
  options.commandStatusAfterKeys = 3;
  sim::PtySimulator module(options);
  ASSERT_EQ(module.LinkAs(device.Path(), 4), "");
  module.Start();
  std::vector<std::string> lines;
  EXPECT_EQ(Run({"--trace", "COM4:", File("k.psr", "&0001 = 1\n&0002 = 2\n&0003 = 3\n")}, &lines), 0);
  module.Stop();
  EXPECT_TRUE(Contains(lines, "trace : ...All the commands are sent"));
  EXPECT_TRUE(
      Contains(lines, "psconfig: done: 3 keys written to COM4:, the module said all commands were in, no reset sent"));
  const auto requests = module.Module().Requests();
  ASSERT_EQ(requests.size(), 4u);  // the build identifier and three keys, no warm reset
  EXPECT_EQ(requests.back().psKey, 3);
}

TEST_F(PsconfigCommand, TraceLinesOnRequest) {
  sim::PtySimulator module(sim::SimulatorOptions{});
  ASSERT_EQ(module.LinkAs(device.Path(), 4), "");
  module.Start();
  std::vector<std::string> lines;
  EXPECT_EQ(Run({"--trace", "--baud", "115200", "COM4:", File("k.psr", "&0001 = 1\n")}, &lines), 0);
  EXPECT_TRUE(Contains(lines, "trace : COMMAND COMPLETE"));
  EXPECT_TRUE(Contains(lines, "trace : BCCMD COMMAND SENT:"));
}

std::string TooManyValues(const char* key) {
  std::string line = std::string("&") + key + " =";
  for (int i = 0; i < 189; ++i) line += " 1";
  return line + "\n";
}

TEST_F(PsconfigCommand, FailuresSayWhatFailedAndWhy) {
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string says;
  };
  const std::string comments = File("comments.psr", "// nothing\n");
  const std::string keys = File("keys.psr", "&0001 = 1\n");
  const std::string fifo = device.Path() + "/fifo.psr";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::create_directories(device.Path() + "/folder.psr");
  const Case cases[] = {
      {{"COM4:", device.Path() + "/missing.psr"}, 3, "cannot read " + device.Path() + "/missing.psr: not found"},
      {{"COM4:", device.Path() + "/folder.psr"}, 3, "folder.psr: it is a folder"},
      {{"COM4:", fifo}, 3, "fifo.psr: not a regular file"},
      {{"COM4:", "/dev/zero"}, 3, "/dev/zero: not a regular file"},
      {{"COM4:", comments}, 4, "holds no key lines"},
      {{"COM4:", File("long.psr", "// one key\n" + TooManyValues("0009"))}, 1, "key &0009 on line 2 left out"},
      {{"COM9:", keys}, 2, "cannot open or set up the port COM9: at 115200 baud: not found"},
      {{keys, keys}, 2, "at 115200 baud: not a serial port"},
      {{"--baud", "fast", "COM4:", keys}, 64, "not a baud rate: fast"},
      {{"--baud", "-1", "COM4:", keys}, 64, "not a baud rate: -1"},
      {{"--bogus", "COM4:", keys}, 64, "unknown or incomplete option --bogus"},
      {{"-v", "COM4:", keys}, 64, "unknown or incomplete option -v"},
      {{"COM4:"}, 64, "usage:"},
      {{"COM4:", keys, keys}, 64, "one port and one file"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> lines;
    EXPECT_EQ(Run(c.arguments, &lines), c.status) << c.says;
    EXPECT_TRUE(Contains(lines, c.says)) << c.says << ": " << ::testing::PrintToString(lines);
  }
  std::vector<std::string> help;
  EXPECT_EQ(Run({"--help"}, &help), 0);
  EXPECT_TRUE(Contains(help, "Example: psconfig"));
}

TEST_F(PsconfigCommand, AFileNameThatIsNotUtf8IsOpened) {
  const std::string name = File("k\xff\xfe.psr", "// nothing\n");
  std::vector<std::string> lines;
  EXPECT_EQ(Run({"COM4:", name}, &lines), 4) << ::testing::PrintToString(lines);
  EXPECT_TRUE(Contains(lines, "holds no key lines"));
}

TEST_F(PsconfigCommand, AKeyLeftOutOrRefusedIsNoSuccess) {
  struct Case {
    std::uint16_t answerStatus;
    std::string psr;
    std::vector<const char*> says;
  };
  const Case cases[] = {
      {0,
       "&0001 = 1\n" + TooManyValues("0002") + "&0003 = 3\n",
       {"key &0002 on line 2 left out: more than 188 values", "not all keys written: 1 key line of",
        "the others were written and the module reset"}},
      {3, "&0001 = 1\n", {"the module refused 3 of 3 requests"}},
  };
  for (const Case& c : cases) {
    sim::SimulatorOptions options;
    options.answerStatus = c.answerStatus;
    sim::PtySimulator module(options);
    ASSERT_EQ(module.LinkAs(device.Path(), 4), "");
    module.Start();
    std::vector<std::string> lines;
    EXPECT_EQ(Run({"COM4:", File("k.psr", c.psr)}, &lines), 1);
    module.Stop();
    for (const char* text : c.says)
      EXPECT_TRUE(Contains(lines, text)) << text << ": " << ::testing::PrintToString(lines);
    EXPECT_FALSE(Contains(lines, "psconfig: done"));
  }
}

TEST_F(PsconfigCommand, AClosedOutputPipeDoesNotStopProgramming) {
  sim::PtySimulator module(sim::SimulatorOptions{});
  ASSERT_EQ(module.LinkAs(device.Path(), 4), "");
  module.Start();
  // Standard output into a pipe whose reader leaves after one line; standard error to the test.
  testing::ChildProcess command("/bin/bash",
                                {"-c", "exec 3>&2; \"$0\" \"$@\" 2>&3 | head -n 1 >/dev/null; exit ${PIPESTATUS[0]}",
                                 QUILLON_PSCONFIG, "COM4:", File("k.psr", "&0001 = 1\n&0002 = 2\n&0003 = 3\n")},
                                {device.Environment()});
  std::vector<std::string> lines;
  std::string line;
  while (command.ReadLine(&line, 20000)) lines.push_back(line);
  EXPECT_EQ(command.Wait(20000), 0);
  module.Stop();
  EXPECT_TRUE(Contains(lines, "psconfig: done: 3 keys written to COM4:, module reset"))
      << ::testing::PrintToString(lines);
  EXPECT_EQ(module.Module().Store().Keys().size(), 3u);
}

TEST_F(PsconfigCommand, CtrlCStopsARunThatWaitsForTheModule) {
  sim::SimulatorOptions silent;
  silent.neverAnswerBuildId = true;
  sim::PtySimulator module(silent);
  ASSERT_EQ(module.LinkAs(device.Path(), 4), "");
  module.Start();
  testing::ChildProcess command(QUILLON_PSCONFIG, {"COM4:", File("k.psr", "&0001 = 1\n")}, {device.Environment()});
  ASSERT_TRUE(command.WaitFor("Send 0 Ack 0"));  // the build-identifier request went out
  command.Signal(SIGINT);
  std::vector<std::string> lines;
  EXPECT_TRUE(command.WaitFor("stopped by the user after 1 of 3 requests", &lines));
  EXPECT_EQ(command.Wait(), 130);
}

TEST_F(PsconfigCommand, CtrlCBeforeTheLinkIsUpSaysThatNothingWasSent) {
  sim::SimulatorOptions deaf;
  deaf.toModule.byteLoss = 1.0;
  sim::PtySimulator module(deaf);
  ASSERT_EQ(module.LinkAs(device.Path(), 4), "");
  module.Start();
  testing::ChildProcess command(QUILLON_PSCONFIG, {"COM4:", File("k.psr", "&0001 = 1\n")}, {device.Environment()});
  ASSERT_TRUE(command.WaitFor("Hello Link Uninitialized"));
  command.Signal(SIGTERM);
  std::vector<std::string> lines;
  EXPECT_TRUE(command.WaitFor("stopped by the user before anything was sent", &lines))
      << ::testing::PrintToString(lines);
  EXPECT_EQ(command.Wait(), 130);
}

}  // namespace
}  // namespace quillon
