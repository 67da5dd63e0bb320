// The simulated module's flash on disk: a PSR file that holds the whole store after every key the
// module accepts.
#pragma once

#include <cstdint>
#include <string>

#include "platform/posix/device_root.h"
#include "platform/posix/files_posix.h"
#include "tools/module_simulator/module_simulator.h"

namespace quillon::sim {

class StoreFile final : public StoreFlash {
 public:
  explicit StoreFile(std::string path) : path_(std::move(path)) {}

  // The store as it starts from the file: a missing file is an empty store, and the file is made
  // then, so that a store that cannot be written is found before any key is acknowledged. An
  // empty text, or what is wrong with the file (its name, the line and what).
  std::string Open(PsStore* store);

  // The whole store replaces the file in one step (platform::SaveWhole: a temporary file, synced,
  // renamed): a power cut at any moment leaves either the old store or the new one, never a torn
  // file. A journal would write less per key, but it would leave a half-written last line after a
  // cut that a reader must tell from a damaged one; a module's store is a few hundred keys at most,
  // so writing it whole stays cheap.
  std::string Write(const PsStore& store, std::uint16_t key) override;

  const std::string& Path() const { return path_; }

 private:
  std::string Replace(const std::string& text);

  std::string path_;
  // The path is the host's own: the root only serves device paths, which the store never has.
  platform::posix::DeviceRoot root_{"/"};
  platform::posix::PosixFiles files_{root_};
};

}  // namespace quillon::sim
