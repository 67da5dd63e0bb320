// quillon-device as a program: init, then the device's life with a stand-in for the setup
// program that walks the three runs and two restarts.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_device.h"

namespace quillon::device {
namespace {

class DeviceBoot : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<std::string> lines;
    ASSERT_EQ(Run({"init", "--program", QUILLON_STANDIN}, {}, &lines), 0);
  }

  int Run(std::vector<std::string> arguments, const std::vector<std::string>& environment,
          std::vector<std::string>* lines) {
    arguments.insert(arguments.begin(), {"--root", root_});
    testing::ChildProcess device(QUILLON_DEVICE, arguments, environment);
    std::string line;
    while (device.ReadLine(&line, 20000)) lines->push_back(line);
    return device.Wait(20000);
  }

  std::vector<std::string> RunDevice(const std::vector<std::string>& environment, int maxBoots = 5, int status = 0) {
    std::vector<std::string> lines;
    EXPECT_EQ(Run({"run", "--stack-wait", "1500", "--max-boots", std::to_string(maxBoots)}, environment, &lines),
              status);
    return lines;
  }

  // A start-up shortcut that starts a shell script of the program folder.
  void PutScript(const std::string& name, const std::string& script) {
    const std::string path = root_ + "/Program Files/Quillon/" + name + ".sh";
    ASSERT_TRUE(std::ofstream(path) << "#!/bin/sh\n" << script << "\n");
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    const std::string rest = "\"" + path + "\" /state:1 /port:COM4: /psr:a.psr /baudrate:115200 /TransportReg:";
    ASSERT_TRUE(std::ofstream(root_ + "/Windows/StartUp/" + name + ".lnk", std::ios::binary)
                << std::to_string(rest.size() - 2) << "#" << rest << '\0');
  }

  // Each expected text is found in a line after the line of the text before it.
  static void ExpectInOrder(const std::vector<std::string>& lines, const std::vector<std::string>& expected) {
    std::size_t at = 0;
    for (const std::string& text : expected) {
      while (at < lines.size() && lines[at].find(text) == std::string::npos) ++at;
      ASSERT_LT(at, lines.size()) << "missing, or out of order: \"" << text << "\"\n"
                                  << ::testing::PrintToString(lines);
      ++at;
    }
  }
  static bool Has(const std::vector<std::string>& lines, const std::string& text) {
    return std::ranges::any_of(lines, [&](const std::string& line) { return line.find(text) != std::string::npos; });
  }

  testing::TempDevice device_;
  std::string root_ = device_.Path() + "/device";
};

TEST_F(DeviceBoot, ThreeRunsAcrossTwoRestarts) {
  const std::vector<std::string> lines = RunDevice({});
  ExpectInOrder(lines, {"boot 1",
                        "stack up on COM4: at 115200",
                        "start quillon (first start)",
                        "standin: run 1",
                        "program quillon ended (exit 0)",
                        "restart requested",
                        "boot 2",
                        "names XXXCOM4:, switched off: port left free",
                        "stack not started",
                        "startup: Quillon.lnk: \"" + root_ +
                            "/Program Files/Quillon/quillon\" /state:1 /port:COM4: "
                            "/psr:demo.psr /baudrate:115200 "
                            "/TransportReg:Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1",
                        "start Quillon.lnk (state 1)",
                        "standin: run 2",
                        "standin: port COM4: free",
                        "program Quillon.lnk ended (exit 0)",
                        "restart requested",
                        "boot 3",
                        "stack up on COM4: at 115200",
                        "start Quillon.lnk (state 2)",
                        "standin: run 3",
                        "program Quillon.lnk ended (exit 0)",
                        "no restart asked; run ends"});
  EXPECT_FALSE(Has(lines, "boot 4"));
  EXPECT_FALSE(Has(lines, "HCI cache")) << "the registry agrees with the running stack";
  EXPECT_FALSE(std::filesystem::exists(root_ + "/Windows/StartUp/Quillon.lnk"));
}

TEST_F(DeviceBoot, ASetupThatLeavesTheStackOnThePortFailsVisibly) {
  const std::vector<std::string> lines = RunDevice({"STANDIN_KEEP_STACK=1"});
  ExpectInOrder(lines, {"boot 2", "stack up on COM4: at 115200", "start Quillon.lnk (state 1)",
                        "standin: port COM4: busy (error 5)"});
}

TEST_F(DeviceBoot, AWrongBaudRateIsCaughtAtTheNextBoot) {
  const std::vector<std::string> lines = RunDevice({"STANDIN_NEW_BAUD=921600"});
  ExpectInOrder(lines, {"boot 3", "names COM4: at 921600", "stack cannot reach the module at 921600",
                        "start Quillon.lnk (state 2)"});
}

// A key programmed while the device runs, without a warm reset, is the module's from the next
// boot on: a device restart cuts the module's power too, and it comes up at its store's rate.
TEST_F(DeviceBoot, ARestartPowerCyclesTheModule) {
  // The module says that all commands are in after the first key: psconfig then sends no reset.
  const std::string modsim = device_.Path() + "/modsim";
  ASSERT_TRUE(std::ofstream(modsim) << "#!/bin/sh\nexec '" QUILLON_MODSIM "' --command-status-after 1 \"$@\"\n");
  std::filesystem::permissions(modsim, std::filesystem::perms::owner_all);
  const std::string psr = device_.Path() + "/fast.psr";
  ASSERT_TRUE(std::ofstream(psr) << "&01be = 0ebf\n");  // 921600
  std::vector<std::string> lines;
  EXPECT_EQ(Run({"run", "--modsim", modsim, "--stack-wait", "1500", "--max-boots", "5"},
                {"STANDIN_NEW_BAUD=921600", "STANDIN_RUN_2='" QUILLON_PSCONFIG "' COM4: '" + psr + "'"}, &lines),
            0);
  ExpectInOrder(lines, {"module: simulator on COM4: at 115200", "boot 1", "boot 2", "standin: run 2",
                        "the module said all commands were in, no reset sent", "boot 3",
                        "module: simulator on COM4: at 921600", "stack up on COM4: at 921600",
                        "start Quillon.lnk (state 2)", "no restart asked; run ends"});
}

TEST_F(DeviceBoot, ADamagedModuleStoreFailsTheRun) {
  ASSERT_TRUE(std::ofstream(root_ + "/module-store.psr") << "&0001 = 0001\n&0002 = 10000\n");
  std::vector<std::string> lines;
  EXPECT_EQ(Run({"run"}, {}, &lines), 1);
  ExpectInOrder(lines, {"module: the simulator ended (status 1): modsim: the store cannot be used: " + root_ +
                        "/module-store.psr: line 2: value 10000 out of range"});
  EXPECT_FALSE(Has(lines, "boot 1"));
}

TEST_F(DeviceBoot, ADamagedShortcutIsRefusedAndTheProgramStartsByHand) {
  ASSERT_TRUE(std::ofstream(root_ + "/Windows/StartUp/Other.lnk") << "12#\"/bin/true\" /state:1");  // no zero byte
  const std::vector<std::string> lines = RunDevice({});
  ExpectInOrder(lines, {"boot 1", "startup: Other.lnk refused: no terminating zero byte", "start quillon (first start)",
                        "standin: run 1"});
  EXPECT_FALSE(Has(lines, "start Other.lnk"));
}

TEST_F(DeviceBoot, ARestartCutsShortTheProgramsThatStillRun) {
  PutScript("Asker", "echo asker >> \"$QUILLON_DEVICE_ROOT/restart-requests\"");
  // The lingering program has a child of its own, which a restart ends too.
  PutScript("Linger", "sleep 30 & echo $! > \"$QUILLON_DEVICE_ROOT/linger.pid\"; wait");
  const std::vector<std::string> lines = RunDevice({}, 2, 1);
  int sleeper = 0;
  ASSERT_TRUE(std::ifstream(root_ + "/linger.pid") >> sleeper);
  bool gone = false;
  for (int tries = 0; tries < 200 && !gone; ++tries) {
    gone = kill(sleeper, 0) != 0;
    if (!gone) usleep(10000);
  }
  EXPECT_TRUE(gone) << "the program's own child " << sleeper << " still runs";
  ExpectInOrder(lines,
                {"boot 1", "start Asker.lnk", "start Linger.lnk", "program Asker.lnk ended (exit 0)",
                 "restart requested", "stopping Linger.lnk for the restart", "program Linger.lnk ended (exit 143)",
                 "boot 2", "restart requested", "the device restarted 2 times; run ends"});
}

TEST_F(DeviceBoot, CtrlCStopsTheProgramsAndTheModule) {
  PutScript("Linger", "exec sleep 30");
  testing::ChildProcess device(QUILLON_DEVICE, {"--root", root_, "run"}, {});
  ASSERT_TRUE(device.WaitFor("start Linger.lnk"));
  device.Signal(SIGINT);
  std::vector<std::string> lines;
  std::string line;
  while (device.ReadLine(&line, 20000)) lines.push_back(line);
  EXPECT_EQ(device.Wait(), 130);
  ExpectInOrder(lines, {"stopping Linger.lnk the device is switched off", "program Linger.lnk ended (exit 143)",
                        "switched off"});
  EXPECT_TRUE(std::filesystem::exists(root_ + "/module-store.psr")) << "the simulator ended by itself and saved";
}

TEST_F(DeviceBoot, ShowsAShortcutOrWhyItIsRefused) {
  PutScript("Shown", "true");
  std::vector<std::string> lines;
  EXPECT_EQ(Run({"shortcut", root_ + "/Windows/StartUp/Shown.lnk"}, {}, &lines), 0);
  ExpectInOrder(lines, {"program   " + root_ + "/Program Files/Quillon/Shown.sh", "state     1",
                        "port      COM4:", "baudrate  115200"});
  std::filesystem::resize_file(root_ + "/Windows/StartUp/Shown.lnk", 20);
  lines.clear();
  EXPECT_EQ(Run({"shortcut", root_ + "/Windows/StartUp/Shown.lnk"}, {}, &lines), 1);
  ExpectInOrder(lines, {"refused: no terminating zero byte"});
}

TEST_F(DeviceBoot, KeepsALinkToARealPortUnlessToldToUseIt) {
  std::filesystem::create_symlink("/dev/null", root_ + "/dosdevices/com4");
  std::vector<std::string> lines;
  EXPECT_EQ(Run({"run"}, {}, &lines), 1);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "run: COM4: is linked to /dev/null; give --existing-link to use it");
  EXPECT_EQ(std::filesystem::read_symlink(root_ + "/dosdevices/com4"), "/dev/null");
}

}  // namespace
}  // namespace quillon::device
