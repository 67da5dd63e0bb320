// The registry as a tree of keys and values, and a Registry implemented on such a tree.
//
// TreeRegistry does the work of every registry call on a tree that its subclass lends it for
// the length of one call (Transact): the registry file loads and stores it, the tests' in-memory
// registry keeps it in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace quillon::platform {

struct RegistryValue {
  std::wstring name;  // empty: the key's default value
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

struct RegistryNode {
  std::wstring name;
  std::vector<RegistryValue> values;                    // sorted without regard to case
  std::vector<std::unique_ptr<RegistryNode>> children;  // sorted without regard to case

  RegistryNode* FindChild(std::wstring_view childName) const;
  RegistryNode* AddChild(std::wstring_view childName);  // returns the existing one if any
  bool RemoveChild(std::wstring_view childName);
  RegistryValue* FindValue(std::wstring_view valueName);
  void SetValue(std::wstring_view valueName, std::uint32_t type, std::vector<std::uint8_t> data);
  bool RemoveValue(std::wstring_view valueName);
};

// Splits "A\\B\\C" into its names; empty names (doubled or outer backslashes) are dropped.
std::vector<std::wstring> SplitKeyPath(std::wstring_view path);

// True when a key or value name can be stored: no control characters, and for keys no backslash.
bool IsStorableName(std::wstring_view name, bool isKey);

class TreeRegistry : public Registry {
 public:
  using Change = std::function<ErrorCode(RegistryNode* root, bool* modified)>;

  ErrorCode OpenKey(std::wstring_view path, RegistryAccess access, std::unique_ptr<RegistryKey>* key) override;
  ErrorCode CreateKey(std::wstring_view path, std::unique_ptr<RegistryKey>* key) override;
  ErrorCode DeleteKey(std::wstring_view path) override;
  ErrorCode DeleteTree(std::wstring_view path) override;

  // Runs `change` on the whole tree (the local-machine root) as one step that no other call
  // interleaves with; keeps the tree when `forWriting`, the change says it modified the tree and
  // it returned kSuccess.
  virtual ErrorCode Transact(bool forWriting, const Change& change) = 0;
  // The key at `path` was flushed. A registry may keep a key's changes through a restart only
  // once that key is flushed; the registry file has every change on disk when its call returns,
  // and does nothing here.
  virtual void Flushed(std::wstring_view /*path*/) {}
};

}  // namespace quillon::platform
