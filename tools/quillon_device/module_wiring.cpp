#include "tools/quillon_device/module_wiring.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace quillon::device {
namespace fs = std::filesystem;
namespace {

constexpr int kLinkWaitMs = 5000;
constexpr char kRateSaid[] = "modsim: UART at ";

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
  // The simulator reads the store itself: it powers up at the rate the store names, and refuses
  // a store it cannot read whole (said in its output, which is reported).
  launch.arguments = {"--link",    port,
                      "--store",   wiring.storeFile,
                      "--boot-ms", std::to_string(wiring.bootMs),
                      "--log",     wiring.root + "/module.log"};
  launch.environment = {"QUILLON_DEVICE_ROOT=" + wiring.root};
  std::error_code error;
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
      // The rate as the simulator says it comes up: "modsim: UART at 921600 baud ...".
      std::string rate = "?";
      const std::size_t at = said.find(kRateSaid);
      if (at != std::string::npos) {
        const std::size_t from = at + std::char_traits<char>::length(kRateSaid);
        rate = said.substr(from, said.find(' ', from) - from);
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

void ModuleSimulatorChild::PowerCut() {
  (void)child_->Kill();
  cut_ = true;
}

ModuleSimulatorChild::~ModuleSimulatorChild() {
  if (cut_) return;
  const int status = child_->Stop(true, 5000);
  if (status != 0) report_("module: the simulator ended with status " + std::to_string(status));
}

}  // namespace quillon::device
