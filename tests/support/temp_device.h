// A device root of its own for one test: a fresh folder, removed with everything the test's
// programs left in it and in /dev/shm.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/posix/device_root.h"

namespace quillon::testing {

class TempDevice {
 public:
  TempDevice() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillon-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
    root_ = std::make_unique<platform::posix::DeviceRoot>(path_);
  }
  ~TempDevice() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ignored)) {
      if (entry.path().filename().string().starts_with(root_->ObjectPrefix() + ".")) {
        std::filesystem::remove(entry.path(), ignored);
      }
    }
  }
  TempDevice(const TempDevice&) = delete;
  TempDevice& operator=(const TempDevice&) = delete;

  const std::string& Path() const { return path_; }
  const platform::posix::DeviceRoot& Root() const { return *root_; }
  // "QUILLON_DEVICE_ROOT=<path>", for the environment of a child program.
  std::string Environment() const { return "QUILLON_DEVICE_ROOT=" + path_; }

 private:
  std::string path_;
  std::unique_ptr<platform::posix::DeviceRoot> root_;
};

}  // namespace quillon::testing
