// The registry in memory, with "fail on the Nth call".
#pragma once

#include <atomic>
#include <mutex>

#include "platform/registry_tree.h"
#include "tests/fakes/fail_switch.h"

namespace quillon::testing {

class MemoryRegistry final : public platform::TreeRegistry {
 public:
  platform::ErrorCode Transact(bool forWriting, const Change& change) override {
    std::lock_guard<std::mutex> hold(lock_);
    if (failures.ShouldFail() || failEvery) return failure;
    if (!forWriting) {
      bool ignored = false;
      return change(&root_, &ignored);
    }
    // A failed change leaves the tree as it was, as the file back end does.
    platform::RegistryNode copy = Copy(root_);
    bool modified = false;
    const platform::ErrorCode result = change(&copy, &modified);
    if (result == platform::kSuccess && modified) root_ = std::move(copy);
    return result;
  }

  FailSwitch failures;
  platform::ErrorCode failure = platform::kErrorAccessDenied;  // what a failing call gives
  std::atomic<bool> failEvery{false};                          // as a registry another program holds

 private:
  static platform::RegistryNode Copy(const platform::RegistryNode& node) {
    platform::RegistryNode copy;
    copy.name = node.name;
    copy.values = node.values;
    for (const auto& child : node.children)
      copy.children.push_back(std::make_unique<platform::RegistryNode>(Copy(*child)));
    return copy;
  }
  std::mutex lock_;
  platform::RegistryNode root_;
};

}  // namespace quillon::testing
