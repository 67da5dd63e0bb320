// quillon-device as a program: init, then the device's life with a stand-in for the setup
// program that walks the three runs and two restarts.
#include <gtest/gtest.h>

#include <filesystem>
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

  int Run(std::vector<std::string> arguments, std::vector<std::string> environment, std::vector<std::string>* lines) {
    arguments.insert(arguments.begin(), {"--root", root_});
    testing::ChildProcess device(QUILLON_DEVICE, arguments, environment);
    std::string line;
    while (device.ReadLine(&line, 20000)) lines->push_back(line);
    return device.Wait(20000);
  }

  std::vector<std::string> RunDevice(std::vector<std::string> environment) {
    std::vector<std::string> lines;
    EXPECT_EQ(Run({"run", "--stack-wait", "1500", "--max-boots", "5"}, std::move(environment), &lines), 0);
    return lines;
  }

  // Each expected text is found in a line after the line of the text before it.
  static void ExpectInOrder(const std::vector<std::string>& lines, const std::vector<std::string>& expected) {
    std::size_t at = 0;
    for (const std::string& text : expected) {
      while (at < lines.size() && lines[at].find(text) == std::string::npos) ++at;
      ASSERT_LT(at, lines.size()) << "missing, or out of order: \"" << text << "\"\n" << Joined(lines);
      ++at;
    }
  }
  static std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
  }
  static bool Has(const std::vector<std::string>& lines, const std::string& text) {
    for (const std::string& line : lines) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }

  testing::TempDevice device_;
  std::string root_ = device_.Path() + "/device";
};

TEST_F(DeviceBoot, ThreeRunsAcrossTwoRestarts) {
  const std::vector<std::string> lines = RunDevice({});
  ExpectInOrder(lines, {"boot 1", "stack up on COM4: at 115200", "start quillon", "standin: run 1",
                        "program quillon ended (exit 0)", "restart requested",
                        "boot 2", "names XXXCOM4:, switched off: port left free", "stack not started",
                        "startup: Quillon.lnk: \"" + root_ + "/Program Files/Quillon/quillon\" /state:1 /port:COM4: "
                        "/psr:demo.psr /baudrate:115200 /TransportReg:Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1",
                        "start Quillon.lnk (state 1)", "standin: run 2", "standin: port COM4: free",
                        "program Quillon.lnk ended (exit 0)", "restart requested",
                        "boot 3", "stack up on COM4: at 115200", "start Quillon.lnk (state 2)", "standin: run 3",
                        "program Quillon.lnk ended (exit 0)", "no restart asked; run ends"});
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

TEST_F(DeviceBoot, ADamagedShortcutIsRefusedAndNotStarted) {
  const std::string shortcut = root_ + "/Windows/StartUp/Other.lnk";
  {
    std::FILE* file = std::fopen(shortcut.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("12#\"/bin/true\" /state:1", file);  // no zero byte
    std::fclose(file);
  }
  const std::vector<std::string> lines = RunDevice({});
  ExpectInOrder(lines, {"boot 1", "startup: Other.lnk refused: no terminating zero byte",
                        "nothing to start; the device stays idle; run ends"});
  EXPECT_FALSE(Has(lines, "start quillon")) << "a device with shortcuts is no first start";
}

TEST_F(DeviceBoot, InitRefusesAnExistingRoot) {
  std::vector<std::string> lines;
  EXPECT_EQ(Run({"init"}, {}, &lines), 1);
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("exists already; --force makes it anew"), std::string::npos) << lines.back();
}

}  // namespace
}  // namespace quillon::device
