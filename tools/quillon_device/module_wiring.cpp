#include "tools/quillon_device/module_wiring.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tools/module_simulator/ps_store.h"

namespace quillon::device {
namespace fs = std::filesystem;
namespace {

constexpr int kLinkWaitMs = 5000;

std::string ReadWhole(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace

std::unique_ptr<ModuleSimulatorChild> ModuleSimulatorChild::Start(const ModuleWiring& wiring,
                                                                  const ReportLine& report) {
  const std::string port = std::to_string(wiring.portNumber);
  ChildProgram::Launch launch;
  launch.path = wiring.modsim;
  launch.arguments = {"--link", port, "--save", wiring.storeFile, "--log", wiring.root + "/module.log"};
  // A module powers up at the rate its store names, as it does after a warm reset.
  std::error_code error;
  if (fs::exists(wiring.storeFile, error)) {
    sim::PsStore store;
    std::string problem;
    if (!store.FromPsr(ReadWhole(wiring.storeFile), &problem)) {
      report("module: the store " + wiring.storeFile + " cannot be read: " + problem);
      return nullptr;
    }
    launch.arguments.insert(launch.arguments.end(), {"--store", wiring.storeFile});
    if (const auto rate = store.UartBaudRate()) {
      launch.arguments.insert(launch.arguments.end(), {"--baud", std::to_string(*rate)});
    }
  }
  launch.environment = {"QUILLON_DEVICE_ROOT=" + wiring.root};
  const fs::path output = fs::path(wiring.root) / "module.out";
  fs::remove(output, error);
  launch.outputFile = output.string();

  std::string problem;
  auto child = ChildProgram::Start(launch, &problem);
  if (child == nullptr) {
    report("module: cannot start " + wiring.modsim + ": " + problem);
    return nullptr;
  }
  const std::string linked = "linked as COM" + port + ":";
  for (int waited = 0; waited < kLinkWaitMs; waited += 10) {
    const std::string said = ReadWhole(output);
    if (said.find(linked) != std::string::npos) {
      std::string rate = "115200";
      for (std::size_t i = 0; i + 1 < launch.arguments.size(); ++i) {
        if (launch.arguments[i] == "--baud") rate = launch.arguments[i + 1];
      }
      report("module: simulator on COM" + port + ": at " + rate + ", store " + wiring.storeFile);
      return std::unique_ptr<ModuleSimulatorChild>(new ModuleSimulatorChild(std::move(child), report));
    }
    int status = 0;
    if (child->Ended(&status)) {
      report("module: the simulator ended (status " + std::to_string(status) + "): " + ReadWhole(output));
      return nullptr;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  report("module: the simulator did not link COM" + port + ": in time: " + ReadWhole(output));
  return nullptr;
}

ModuleSimulatorChild::~ModuleSimulatorChild() {
  const int status = child_->Stop(true, 5000);
  if (status != 0) report_("module: the simulator ended with status " + std::to_string(status));
}

}  // namespace quillon::device
