// The emulated device's registry: one text file, "<root>/registry.reg".
//
// Every change reads the file, applies the change and replaces the file atomically (a new file
// renamed over the old one), all under an exclusive lock on "<root>/registry.lock", so that two
// programs can use the registry at once without losing a value and a crash never leaves half a
// file. A missing file is an empty registry. A damaged file is never replaced: every call then
// fails with kErrorBadDatabase, and Problem() says where the file is damaged. A lock that another
// program holds for longer than a call takes is waited for a bounded time, then the call fails
// with kErrorBusy.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/posix/device_root.h"
#include "platform/posix/registry_text.h"
#include "platform/registry_tree.h"

namespace quillon::platform::posix {

class RegistryFile final : public TreeRegistry {
 public:
  static constexpr std::uint32_t kLockWaitMs = 2000;
  explicit RegistryFile(const DeviceRoot& root, std::uint32_t lockWaitMs = kLockWaitMs)
      : root_(root), lockWaitMs_(lockWaitMs) {}

  // The last damage found, such as "/root/registry.reg line 7: bad dword data"; empty if none.
  std::string Problem() const;
  std::string FilePath() const { return root_.Path() + "/registry.reg"; }

  // Loads the file under the lock (shared for reading, exclusive for writing) and replaces it
  // when the change modified the tree.
  ErrorCode Transact(bool forWriting, const Change& change) override;

 private:
  ErrorCode Lock(bool exclusive, int* lockFd);
  // Loads cache_ from the file, or keeps it when the file's text is the one it was made from.
  ErrorCode Load();
  ErrorCode Store();  // replaces the file with cache_.tree
  void NoteProblem(std::string problem);

  // The tree of the file's text as last read or written.
  struct Cache {
    RegistryNode tree;
    std::string text;
    bool missing = false;  // no file: an empty registry
    bool valid = false;
  };

  const DeviceRoot& root_;
  const std::uint32_t lockWaitMs_;
  std::atomic<bool> busy_{false};
  std::mutex cacheLock_;
  Cache cache_;
  std::string readBuffer_;
  mutable std::mutex problemLock_;
  std::string problem_;
  bool problemReported_ = false;
};

}  // namespace quillon::platform::posix
