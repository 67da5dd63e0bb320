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

  // A restart or a power cut keeps of each key what its last flush kept: its values, and which
  // of its subkeys were deleted. A key created or changed since its last flush is lost. Kinder
  // registries keep every change at any flush; a setup that holds here holds there.
  void Flushed(std::wstring_view path) override {
    std::lock_guard<std::mutex> hold(lock_);
    const platform::RegistryNode* live = &root_;
    platform::RegistryNode* kept = &durable_;
    for (const std::wstring& name : platform::SplitKeyPath(path)) {
      live = live->FindChild(name);
      if (live == nullptr) return;
      kept = kept->AddChild(name);
    }
    kept->values = live->values;
    std::erase_if(kept->children, [&](const auto& child) { return live->FindChild(child->name) == nullptr; });
  }
  // The whole registry as it is now outlives restarts (what the handheld held before a test).
  void FlushAll() {
    std::lock_guard<std::mutex> hold(lock_);
    durable_ = Copy(root_);
  }
  void LoseUnflushedChanges() {
    std::lock_guard<std::mutex> hold(lock_);
    root_ = Copy(durable_);
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
  platform::RegistryNode durable_;
};

}  // namespace quillon::testing
