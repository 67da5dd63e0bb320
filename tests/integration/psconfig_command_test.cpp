// The psconfig command run as a user runs it, against the module simulator on a pseudo-terminal.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "psconfig/bccmd.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_device.h"
#include "tests/unit/simulated_run.h"
#include "tools/module_simulator/ps_store.h"
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
  // A module simulator linked as COM4: and running, in place of the one before.
  sim::PtySimulator& Module(const sim::SimulatorOptions& options = {}) {
    module.reset();
    module = std::make_unique<sim::PtySimulator>(options);
    EXPECT_EQ(module->LinkAs(device.Path(), 4), "");
    module->Start();
    return *module;
  }
  // Runs `program` to its end; the lines it printed (both outputs) and its exit status.
  int Run(const std::vector<std::string>& arguments, std::vector<std::string>* lines,
          const char* program = QUILLON_PSCONFIG) {
    testing::ChildProcess command(program, arguments, {device.Environment()});
    std::string line;
    while (command.ReadLine(&line, 20000)) lines->push_back(line);
    return command.Wait(20000);
  }
  static bool Contains(const std::vector<std::string>& lines, const std::string& text) {
    return std::ranges::any_of(lines, [&](const std::string& line) { return line.find(text) != std::string::npos; });
  }

  testing::TempDevice device;
  std::unique_ptr<sim::PtySimulator> module;
};

// Also the trace lines on request (formerly TraceLinesOnRequest).
TEST_F(PsconfigCommand, TheAllSentEventEndsTheRunWithoutTheWarmReset) {
  sim::SimulatorOptions options;
  options.commandStatusAfterKeys = 3;
  Module(options);
  std::vector<std::string> lines;
  const std::string psr = File("k.psr", "&0001 = 1\n&0002 = 2\n&0003 = 3\n");
  EXPECT_EQ(Run({"--trace", "--baud", "115200", "COM4:", psr}, &lines), 0);
  module->Stop();
  for (const char* text :
       {"trace : BCCMD COMMAND SENT:", "trace : COMMAND COMPLETE", "trace : ...All the commands are sent",
        "psconfig: done: 3 keys written to COM4:, the module said all commands were in, no reset sent"})
    EXPECT_TRUE(Contains(lines, text)) << text;
}

// Many keys through the real serial port, on a clean line, across a restart of the module and
// through noise: each key reaches the module once and in order, save the one in flight at a
// restart. The rows name the tests they took in; the first also took in ProgramsAFileIntoTheModule
// (the requests a file makes and the values of a string are the run's and the reader's tests').
TEST_F(PsconfigCommand, EveryKeyArrivesInOrderThroughTheRealSerialPort) {
  struct Case {
    const char* name = nullptr;
    int keys = 0;
    const char* counted = nullptr;  // the keys as the done line counts them
    void (*fault)(sim::SimulatorOptions*) = nullptr;
    bool eachRequestOnce = false;  // link establishment sends no request again
  };
  const Case cases[] = {
      {"AThousandRequestsThroughTheRealSerialPort", 1000, "1000 keys", [](sim::SimulatorOptions*) {}},
      {"OneKeyIsCountedAsOne", 1, "1 key", [](sim::SimulatorOptions*) {}},
      {"EachRequestOnceOnALineWithTheModulesTiming", 10, "10 keys",
       [](sim::SimulatorOptions* o) { o->paceLine = true; }, true},
      {"TheLinkComesBackAfterTheModuleRestarts", 200, "200 keys",
       [](sim::SimulatorOptions* o) { o->restartAfterRequests = 100; }},
      {"NoiseThroughTheRealSerialPort", 100, "100 keys",
       [](sim::SimulatorOptions* o) {
         o->seed = 11;
         o->toModule = o->fromModule = {0.02, 0.02};
         o->resendMs = 30;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimulatorOptions options;
    c.fault(&options);
    Module(options);
    std::vector<std::string> lines;
    EXPECT_EQ(Run({"COM4:", File("many.psr", testing::Keys(c.keys))}, &lines), 0);
    module->Stop();
    const std::string done = std::string("psconfig: done: ") + c.counted + " written to COM4:, module reset";
    EXPECT_TRUE(Contains(lines, done)) << ::testing::PrintToString(lines);
    EXPECT_TRUE(Contains(lines, "Hello Link Uninitialized"));  // the link's own lines on standard output
    std::vector<std::uint16_t> keys;
    std::uint32_t repeats = 0;
    for (const auto& request : module->Module().Requests()) {
      if (request.varId != kVarIdPsKey) continue;
      if (!keys.empty() && keys.back() == request.psKey) {
        ++repeats;
      } else {
        keys.push_back(request.psKey);
      }
    }
    ASSERT_EQ(keys.size(), static_cast<std::size_t>(c.keys));
    for (std::size_t i = 0; i < keys.size(); ++i) ASSERT_EQ(keys[i], i + 1);
    EXPECT_LE(repeats, module->Module().Restarts());
    if (c.eachRequestOnce) {
      // A late answer on a busy machine may earn one re-send; link establishment that repeats
      // itself sent the first request three or four times.
      const auto log = module->Module().LogLines();
      EXPECT_LE(std::ranges::count_if(log,
                                      [](const std::string& line) {
                                        return line.find("out of sequence") != std::string::npos;
                                      }),
                1);
    }
    EXPECT_EQ(module->Module().Store().Keys().size(), static_cast<std::size_t>(c.keys));
  }
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
      // A file name that is not UTF-8 is opened (formerly AFileNameThatIsNotUtf8IsOpened).
      {{"COM4:", File("k\xff\xfe.psr", "// nothing\n")}, 4, "holds no key lines"},
      {{"COM4:", File("long.psr", "// one key\n" + TooManyValues("0009"))}, 1, "key &0009 on line 2 left out"},
      {{"COM9:", keys}, 2, "cannot open or set up the port COM9: at 115200 baud: not found"},
      {{comments, keys}, 2, "at 115200 baud: not a serial port"},
      {{"--baud", "fast", "COM4:", keys}, 64, "not a baud rate: fast"},
      {{"--bogus", "COM4:", keys}, 64, "unknown or incomplete option --bogus"},
      {{"-v", "COM4:", keys}, 64, "unknown or incomplete option -v"},
      {{"COM4:"}, 64, "usage:"},
      {{"COM4:", keys, keys}, 64, "is named as a port too"},
      {{"COM4:", "com4", keys}, 64, "the port com4 is named twice (as COM4:)"},
      {{"COM4:", device.Path() + "/dosdevices/com4", keys}, 64, "is named twice (as COM4:)"},
      {{"--address-block", "00:02:5B:00:A5:A5:00:02:5B:00:A5:FF", "--journal", "new", "--record", "./new",
        "COM4:", keys},
       64,
       "--record and --journal name the same file: ./new"},
      {{"--address-block", "00:02:5B:00:A5:FF:00:02:5B:00:A5:A5", "--journal", "j", "COM4:", keys},
       64,
       "its first address, 00:02:5B:00:A5:FF, is after its last"},
      {{"--address-block", "00:02:5B:00:A5", "--journal", "j", "COM4:", keys}, 64, "FIRST:LAST"},
      {{"--address-block", "00:02:5B:00:A5:A5:00:02:5B:00:A5:FF", "COM4:", keys}, 64, "go together"},
      {{"--help"}, 0, "Example: psconfig"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    std::vector<std::string> lines;
    EXPECT_EQ(Run(c.arguments, &lines), c.status) << c.says;
    EXPECT_TRUE(Contains(lines, c.says)) << c.says << ": " << ::testing::PrintToString(lines);
  }
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
    Module(options);
    std::vector<std::string> lines;
    EXPECT_EQ(Run({"COM4:", File("k.psr", c.psr)}, &lines), 1);
    module->Stop();
    for (const char* text : c.says)
      EXPECT_TRUE(Contains(lines, text)) << text << ": " << ::testing::PrintToString(lines);
    EXPECT_FALSE(Contains(lines, "psconfig: done"));
  }
}

TEST_F(PsconfigCommand, AClosedOutputPipeDoesNotStopProgramming) {
  Module();
  // Standard output into a pipe whose reader leaves after one line; standard error to the test.
  std::vector<std::string> lines;
  EXPECT_EQ(Run({"-c", "exec 3>&2; \"$0\" \"$@\" 2>&3 | head -n 1 >/dev/null; exit ${PIPESTATUS[0]}", QUILLON_PSCONFIG,
                 "COM4:", File("k.psr", "&0001 = 1\n&0002 = 2\n&0003 = 3\n")},
                &lines, "/bin/bash"),
            0);
  module->Stop();
  EXPECT_TRUE(Contains(lines, "psconfig: done: 3 keys written to COM4:, module reset"))
      << ::testing::PrintToString(lines);
  EXPECT_EQ(module->Module().Store().Keys().size(), 3u);
}

// A module at another rate than asked: a plain rate fails and points at --baud auto; auto finds
// the module where the file put it, or says that it answered nowhere.
TEST_F(PsconfigCommand, TheModulesRateIsFoundNotAssumed) {
  struct Case {
    std::uint32_t moduleRate;
    std::vector<std::string> options;
    int status;
    const char* says;
    std::string rateValue = "0ebf";  // the file's &01be
  } const cases[] = {
      {115200,
       {"--baud", "auto"},
       0,
       "key &01be sets the value 0100, which is no rate of the baud table: not looked at",
       "0100"},
      {921600,
       {"--baud", "115200", "--backup", "before.psr"},
       7,
       "if the module talks at another rate, try --baud auto to look for it"},
      {921600, {"--baud", "auto"}, 0, "psconfig: the module answered at 921600 baud"},
      {230400, {"--baud", "auto"}, 0, "psconfig: the module answered at 230400 baud"},
      {9600,
       {"--baud", "auto"},
       7,
       "no answer from the module on COM4: at 921600, 115200, 1382400, 460800, 230400, 57600, 38400 baud"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    sim::SimulatorOptions options;
    options.baudRate = c.moduleRate;
    Module(options);
    std::vector<std::string> arguments = c.options;
    arguments.insert(arguments.end(), {"COM4:", File("k.psr", "&0001 = 1\n&01be = " + c.rateValue + "\n&0005-\n")});
    std::vector<std::string> lines;
    EXPECT_EQ(Run(arguments, &lines), c.status);
    EXPECT_TRUE(Contains(lines, c.says)) << ::testing::PrintToString(lines);
    // A line that sets no key is named, and changes no exit status; no backup is claimed unmade.
    EXPECT_TRUE(Contains(lines, "psconfig: line 3 sets no key, not done: &0005-")) << ::testing::PrintToString(lines);
    EXPECT_FALSE(Contains(lines, "backup of")) << ::testing::PrintToString(lines);
    module->Stop();
    EXPECT_EQ(module->Module().Store().Keys().size(), c.status == 0 ? 2u : 0u);
  }
}

// A stop by the user says how far the run came: the rows name the old tests.
TEST_F(PsconfigCommand, CtrlCStopsARunAndSaysHowFarItCame) {
  struct Case {
    const char* name;
    void (*fault)(sim::SimulatorOptions*);
    const char* waitFor;
    int signal;
    const char* says;
  };
  const Case cases[] = {
      {"CtrlCStopsARunThatWaitsForTheModule", [](sim::SimulatorOptions* o) { o->neverAnswerBuildId = true; },
       "Send 0 Ack 0" /* the build-identifier request went out */, SIGINT, "stopped by the user after 1 of 3 requests"},
      {"CtrlCBeforeTheLinkIsUpSaysThatNothingWasSent", [](sim::SimulatorOptions* o) { o->toModule.byteLoss = 1.0; },
       "Hello Link Uninitialized", SIGTERM, "stopped by the user before anything was sent"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimulatorOptions options;
    c.fault(&options);
    Module(options);
    testing::ChildProcess command(QUILLON_PSCONFIG, {"COM4:", File("k.psr", "&0001 = 1\n")}, {device.Environment()});
    ASSERT_TRUE(command.WaitFor(c.waitFor));
    command.Signal(c.signal);
    std::vector<std::string> lines;
    EXPECT_TRUE(command.WaitFor(c.says, &lines)) << ::testing::PrintToString(lines);
    EXPECT_EQ(command.Wait(), 130);
  }
}

// H4 carries the BCSP run's messages byte for byte, a key of 188 values in two fragments each
// way, through a module that also sends a Command Status event; a module that never answers is
// asked three times and named.
TEST_F(PsconfigCommand, H4CarriesTheSameMessagesAsBcsp) {
  std::string longKey = "&0010 =";
  for (int i = 0; i < 188; ++i) longKey += " " + std::to_string(1000 + i);
  const std::string psr = File("h4.psr", "&0002 = 1234\n" + longKey + "\n&0003 = 5\n");
  std::vector<std::vector<std::uint8_t>> sent[2];
  for (const bool h4 : {false, true}) {
    SCOPED_TRACE(h4);
    sim::SimulatorOptions options;
    options.h4 = h4;
    options.commandStatusAfterKeys = 1;
    Module(options);
    std::vector<std::string> lines;
    std::vector<std::string> arguments{"--verify", "COM4:", psr};
    if (h4) arguments.insert(arguments.begin(), {"--transport", "h4"});
    EXPECT_EQ(Run(arguments, &lines), 0) << ::testing::PrintToString(lines);
    module->Stop();
    for (const sim::BccmdRequest& request : module->Module().Requests()) sent[h4 ? 1 : 0].push_back(request.bytes);
    ASSERT_NE(module->Module().Store().Get(0x0010), nullptr);
    EXPECT_EQ(module->Module().Store().Get(0x0010)->size(), 188u);
  }
  EXPECT_EQ(sent[0].size(), 8u);  // build identifier, three writes, three reads, warm reset
  EXPECT_EQ(sent[0], sent[1]);
  const bool fragmented = std::ranges::any_of(module->Module().LogLines(), [](const std::string& line) {
    return line.find("BCCMD message of 392 bytes") != std::string::npos;
  });
  EXPECT_TRUE(fragmented);

  // Bytes lost on the way back (one in a hundred): a sending again starts the reader afresh, so a
  // packet cut short does not swallow the answers after it.
  sim::SimulatorOptions lossy;
  lossy.h4 = true;
  lossy.seed = 3;
  lossy.fromModule.byteLoss = 0.01;
  const std::string shortKeys = File("short.psr", "&0002 = 1234\n&0003 = 5\n");
  std::size_t heard = 0;
  for (int run = 0; run < 3; ++run) {
    Module(lossy);
    std::vector<std::string> lines;
    EXPECT_EQ(Run({"--transport", "h4", "--verify", "COM4:", shortKeys}, &lines), 0) << ::testing::PrintToString(lines);
    module->Stop();
    heard += module->Module().Requests().size();
    ++lossy.seed;
  }
  EXPECT_GT(heard, 18u);  // some requests were sent again

  sim::SimulatorOptions silent;
  silent.h4 = true;
  silent.neverAnswerBuildId = true;
  silent.bootMs = 0;  // so that the first sending is heard too
  Module(silent);
  std::vector<std::string> lines;
  EXPECT_EQ(Run({"--transport", "h4", "COM4:", psr}, &lines), 7);
  EXPECT_TRUE(Contains(lines, "did not answer request 1 of 5 (sent 3 times, 1.0 s each); nothing was written"))
      << ::testing::PrintToString(lines);
  module->Stop();
  EXPECT_EQ(module->Module().Requests().size(), 3u);
}

// modsim as a program, its store a file: its flash.
class ModuleProgram : public PsconfigCommand {};

// A power cut right after the host's run: every key the module acknowledged is in its store, each
// noted as a persistent change when it reached the disk.
TEST_F(ModuleProgram, AKillRightAfterAHostProgrammedKeysLosesNone) {
  const std::string store = device.Path() + "/store.psr";
  const std::string counter = device.Path() + "/changes";
  testing::ChildProcess modsim(QUILLON_MODSIM, {"--link", "4", "--store", store},
                               {device.Environment(), "QUILLON_POWER_CUT_COUNTER=" + counter,
                                "QUILLON_POWER_CUT_AT=0"});
  ASSERT_TRUE(modsim.WaitFor("linked as COM4:"));
  constexpr int kKeys = 40;
  std::vector<std::string> lines;
  EXPECT_EQ(Run({"COM4:", File("many.psr", testing::Keys(kKeys))}, &lines), 0) << ::testing::PrintToString(lines);
  modsim.Signal(SIGKILL);
  EXPECT_EQ(modsim.Wait(), 128 + SIGKILL);

  sim::PsStore kept;
  ASSERT_EQ(kept.Load(store), "");
  ASSERT_EQ(kept.Keys().size(), static_cast<std::size_t>(kKeys));
  std::ifstream log(counter + ".log");
  std::string noted((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  for (std::uint16_t key = 1; key <= kKeys; ++key) {
    ASSERT_NE(kept.Get(key), nullptr) << key;
    EXPECT_EQ(*kept.Get(key), (std::vector<std::uint16_t>{key, static_cast<std::uint16_t>(0xFFFF - key)}));
    char what[40];
    std::snprintf(what, sizeof what, "module store: key 0x%04x\n", key);
    EXPECT_NE(noted.find(what), std::string::npos) << what;
  }
}

// A store that cannot be read whole is refused, with its name, the line and what; the file is
// left as it was.
TEST_F(ModuleProgram, ADamagedStoreIsRefused) {
  std::filesystem::create_directories(device.Path() + "/folder.psr");
  const struct {
    std::string file;
    std::string says;
  } cases[] = {
      {File("word.psr", "// keys\n&0001 = 0001\n&0002 = 0001 zz\n"), "word.psr: line 3: \"zz\" is not a value"},
      {File("range.psr", "&0001 = 12345\n"), "range.psr: line 1: value 12345 out of range"},
      {File("key.psr", "&0001 = 1\n&=\n"), "key.psr: line 2: no key number"},
      {device.Path() + "/folder.psr", "folder.psr: it is a folder"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const auto before = std::filesystem::is_regular_file(c.file) ? std::filesystem::file_size(c.file) : 0;
    std::vector<std::string> lines;
    EXPECT_EQ(Run({"--store", c.file}, &lines, QUILLON_MODSIM), 1);
    EXPECT_TRUE(Contains(lines, "modsim: the store cannot be used: " + device.Path() + "/" + c.says))
        << ::testing::PrintToString(lines);
    EXPECT_FALSE(Contains(lines, "modsim: port"));
    if (before != 0) {
      EXPECT_EQ(std::filesystem::file_size(c.file), before);
    }
  }
}

}  // namespace
}  // namespace quillon
