#include "tools/quillon_device/device_init.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "platform/posix/device_root.h"
#include "platform/posix/registry_file.h"
#include "tools/quillon_device/device_layout.h"

namespace quillon::device {
namespace fs = std::filesystem;
namespace {

bool Empty(const fs::path& folder) {
  std::error_code error;
  return fs::is_empty(folder, error) && !error;
}

// Only what init makes is removed, so that a root given by mistake loses nothing else.
void RemoveWhatInitMakes(const fs::path& root, unsigned portNumber) {
  std::error_code ignored;
  for (const char* file :
       {"registry.reg", "registry.lock", "restart-requests", "module-store.psr", "module.log", "module.out"}) {
    fs::remove(root / file, ignored);
  }
  fs::remove_all(root / kStartUpFolder, ignored);
  fs::remove_all(root / kProgramFolder, ignored);
  fs::remove(root / "dosdevices" / ("com" + std::to_string(portNumber)), ignored);
}

bool CopySamples(const fs::path& samples, const fs::path& target, const ReportLine& report) {
  std::error_code error;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(samples, error)) {
    std::string extension = entry.path().extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    if (entry.is_regular_file() && extension == ".psr") files.push_back(entry.path());
  }
  if (error) {
    report("init: cannot list the samples in " + samples.string() + ": " + error.message());
    return false;
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    if (!fs::copy_file(file, target / file.filename(), fs::copy_options::overwrite_existing, error)) {
      report("init: cannot copy " + file.string() + ": " + error.message());
      return false;
    }
    report("init: sample \\Program Files\\Quillon\\" + file.filename().string());
  }
  return true;
}

}  // namespace

bool InitDevice(const InitOptions& options, const ReportLine& report) {
  const fs::path root = fs::absolute(options.root);
  std::error_code error;
  if (fs::exists(root, error) && !Empty(root)) {
    if (!options.force) {
      report("init: the device root " + root.string() + " exists already; --force makes it anew");
      return false;
    }
    RemoveWhatInitMakes(root, options.portNumber);
    report("init: making " + root.string() + " anew");
  }
  for (const char* folder : {kStartUpFolder, kProgramFolder, "dosdevices"}) {
    if (fs::create_directories(root / folder, error); error) {
      report("init: cannot create " + (root / folder).string() + ": " + error.message());
      return false;
    }
  }

  const platform::posix::DeviceRoot deviceRoot(root.string());
  platform::posix::RegistryFile registry(deviceRoot);
  if (const platform::ErrorCode written = WriteRegistryValues(registry, FreshDeviceRegistry(options.portNumber));
      written != platform::kSuccess) {
    report("init: cannot write the registry " + registry.FilePath() + " (error " + std::to_string(written) + ")");
    return false;
  }
  report("init: registry " + registry.FilePath() + " with the Bluetooth stack on COM" +
         std::to_string(options.portNumber) + ": at " + std::to_string(kFreshDeviceBaud));

  const fs::path programFolder = root / kProgramFolder;
  if (options.program.empty()) {
    report("init: no program installed (give --program FILE)");
  } else if (!fs::copy_file(options.program, programFolder / kProgramName, fs::copy_options::overwrite_existing,
                            error)) {
    report("init: cannot install the program " + options.program + ": " + error.message());
    return false;
  } else {
    report("init: program \\Program Files\\Quillon\\quillon from " + options.program);
  }
  if (!options.samples.empty() && !CopySamples(options.samples, programFolder, report)) return false;

  if (!options.linkTarget.empty()) {
    const fs::path link = root / "dosdevices" / ("com" + std::to_string(options.portNumber));
    fs::create_symlink(options.linkTarget, link, error);
    if (error) {
      report("init: cannot link " + link.string() + ": " + error.message());
      return false;
    }
    report("init: COM" + std::to_string(options.portNumber) + ": is " + options.linkTarget);
  }
  report("init: device root " + root.string() + " ready");
  return true;
}

}  // namespace quillon::device
