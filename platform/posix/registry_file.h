// The emulated device's registry: one text file, "<root>/registry.reg".
//
// Every change reads the file, applies the change and replaces the file atomically (a new file
// renamed over the old one), all under an exclusive lock on "<root>/registry.lock", so that two
// programs can use the registry at once without losing a value and a crash never leaves half a
// file. A missing file is an empty registry. A damaged file is never replaced: every call then
// fails with kErrorBadDatabase, and Problem() says where the file is damaged.
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "platform/posix/device_root.h"
#include "platform/posix/registry_text.h"
#include "platform/registry.h"

namespace quillon::platform::posix {

class RegistryFile final : public Registry {
 public:
  explicit RegistryFile(const DeviceRoot& root) : root_(root) {}
  ErrorCode OpenKey(std::wstring_view path, RegistryAccess access, std::unique_ptr<RegistryKey>* key) override;
  ErrorCode CreateKey(std::wstring_view path, std::unique_ptr<RegistryKey>* key) override;
  ErrorCode DeleteKey(std::wstring_view path) override;
  ErrorCode DeleteTree(std::wstring_view path) override;

  // The last damage found, such as "/root/registry.reg line 7: bad dword data"; empty if none.
  std::string Problem() const;
  std::string FilePath() const { return root_.Path() + "/registry.reg"; }

  // Runs `change` on the registry under the lock; writes the file when it returns true and the
  // result is kSuccess. With `forWriting` false the lock is shared and nothing is written.
  // `change` sets its bool when it changed the tree.
  ErrorCode Transact(bool forWriting, const std::function<ErrorCode(RegistryNode*, bool*)>& change);

 private:
  ErrorCode Lock(bool exclusive, int* lockFd);
  ErrorCode Load(RegistryNode* tree);
  ErrorCode Store(const RegistryNode& tree);
  void NoteProblem(std::string problem);

  const DeviceRoot& root_;
  mutable std::mutex problemLock_;
  std::string problem_;
  bool problemReported_ = false;
};

}  // namespace quillon::platform::posix
