#include "platform/registry_tree.h"

#include <algorithm>

#include "platform/text.h"

namespace quillon::platform {
namespace {

std::wstring_view NameOf(const std::unique_ptr<RegistryNode>& node) { return node->name; }
std::wstring_view NameOf(const RegistryValue& value) { return value.name; }

template <typename Items>
auto LowerBound(Items& items, std::wstring_view name) {
  return std::lower_bound(items.begin(), items.end(), name, [](const auto& item, std::wstring_view key) {
    return CompareIgnoringCase(NameOf(item), key) < 0;
  });
}

}  // namespace

RegistryNode* RegistryNode::FindChild(std::wstring_view childName) const {
  auto& items = const_cast<std::vector<std::unique_ptr<RegistryNode>>&>(children);
  auto found = LowerBound(items, childName);
  return found != items.end() && EqualsIgnoringCase((*found)->name, childName) ? found->get() : nullptr;
}

RegistryNode* RegistryNode::AddChild(std::wstring_view childName) {
  auto found = LowerBound(children, childName);
  if (found != children.end() && EqualsIgnoringCase((*found)->name, childName)) return found->get();
  auto node = std::make_unique<RegistryNode>();
  node->name = std::wstring(childName);
  return children.insert(found, std::move(node))->get();
}

bool RegistryNode::RemoveChild(std::wstring_view childName) {
  auto found = LowerBound(children, childName);
  if (found == children.end() || !EqualsIgnoringCase((*found)->name, childName)) return false;
  children.erase(found);
  return true;
}

RegistryValue* RegistryNode::FindValue(std::wstring_view valueName) {
  auto found = LowerBound(values, valueName);
  return found != values.end() && EqualsIgnoringCase(found->name, valueName) ? &*found : nullptr;
}

void RegistryNode::SetValue(std::wstring_view valueName, std::uint32_t type, std::vector<std::uint8_t> data) {
  auto found = LowerBound(values, valueName);
  if (found != values.end() && EqualsIgnoringCase(found->name, valueName)) {
    found->type = type;
    found->data = std::move(data);
    return;
  }
  values.insert(found, RegistryValue{std::wstring(valueName), type, std::move(data)});
}

bool RegistryNode::RemoveValue(std::wstring_view valueName) {
  auto found = LowerBound(values, valueName);
  if (found == values.end() || !EqualsIgnoringCase(found->name, valueName)) return false;
  values.erase(found);
  return true;
}

std::vector<std::wstring> SplitKeyPath(std::wstring_view path) {
  std::vector<std::wstring> names;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(L'\\', start);
    if (end == std::wstring_view::npos) end = path.size();
    if (end > start) names.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

bool IsStorableName(std::wstring_view name, bool isKey) {
  return std::none_of(name.begin(), name.end(),
                      [isKey](wchar_t c) { return c < 0x20 || c == 0x7F || (isKey && c == L'\\'); });
}

namespace {

RegistryNode* Find(RegistryNode* root, std::wstring_view path) {
  RegistryNode* node = root;
  for (const std::wstring& name : SplitKeyPath(path)) {
    node = node->FindChild(name);
    if (node == nullptr) return nullptr;
  }
  return node;
}

ErrorCode CopyName(std::wstring_view name, std::span<wchar_t> buffer, std::size_t* length) {
  *length = name.size();
  if (name.size() + 1 > buffer.size()) return kErrorMoreData;
  std::copy(name.begin(), name.end(), buffer.begin());
  buffer[name.size()] = L'\0';
  return kSuccess;
}

ErrorCode CopyData(const std::vector<std::uint8_t>& data, std::span<std::uint8_t> buffer, std::size_t* length) {
  *length = data.size();
  if (data.size() > buffer.size()) return kErrorMoreData;
  std::copy(data.begin(), data.end(), buffer.begin());
  return kSuccess;
}

// A key handle: the key's path and the rights it was opened with. Every call looks the key up
// afresh, so that changes made through other handles (or programs) are seen; a key deleted
// meanwhile fails with kErrorKeyDeleted.
class TreeKey final : public RegistryKey {
 public:
  TreeKey(TreeRegistry& registry, std::wstring path, RegistryAccess access)
      : registry_(registry), path_(std::move(path)), access_(access) {}

  ErrorCode EnumKey(std::uint32_t index, std::span<wchar_t> name, std::size_t* length) override {
    return Read([&](RegistryNode* key) {
      if (index >= key->children.size()) return kErrorNoMoreItems;
      return CopyName(key->children[index]->name, name, length);
    });
  }

  ErrorCode EnumValue(std::uint32_t index, std::span<wchar_t> name, std::size_t* nameLength, std::uint32_t* type,
                      std::span<std::uint8_t> data, std::size_t* dataLength) override {
    return Read([&](RegistryNode* key) {
      if (index >= key->values.size()) return kErrorNoMoreItems;
      const RegistryValue& value = key->values[index];
      *type = value.type;
      const ErrorCode nameResult = CopyName(value.name, name, nameLength);
      const ErrorCode dataResult = CopyData(value.data, data, dataLength);
      return nameResult != kSuccess ? nameResult : dataResult;
    });
  }

  ErrorCode QueryValue(std::wstring_view name, std::uint32_t* type, std::span<std::uint8_t> data,
                       std::size_t* dataLength) override {
    return Read([&](RegistryNode* key) {
      const RegistryValue* value = key->FindValue(name);
      if (value == nullptr) return kErrorFileNotFound;
      *type = value->type;
      return CopyData(value->data, data, dataLength);
    });
  }

  ErrorCode SetValue(std::wstring_view name, std::uint32_t type, std::span<const std::uint8_t> data) override {
    if (!IsStorableName(name, false)) return kErrorInvalidParameter;
    return Write([&](RegistryNode* key, bool* modified) {
      key->SetValue(name, type, std::vector<std::uint8_t>(data.begin(), data.end()));
      *modified = true;
      return kSuccess;
    });
  }

  ErrorCode DeleteValue(std::wstring_view name) override {
    return Write([&](RegistryNode* key, bool* modified) {
      *modified = key->RemoveValue(name);
      return *modified ? kSuccess : kErrorFileNotFound;
    });
  }

  ErrorCode Flush() override {
    const ErrorCode result = Read([](RegistryNode*) { return kSuccess; });
    if (result == kSuccess) registry_.Flushed(path_);
    return result;
  }

 private:
  template <typename Body>
  ErrorCode Read(Body body) {
    return registry_.Transact(false, [&](RegistryNode* tree, bool*) {
      RegistryNode* key = Find(tree, path_);
      return key == nullptr ? kErrorKeyDeleted : body(key);
    });
  }

  template <typename Body>
  ErrorCode Write(Body body) {
    if (access_ != RegistryAccess::kAll) return kErrorAccessDenied;
    return registry_.Transact(true, [&](RegistryNode* tree, bool* modified) {
      RegistryNode* key = Find(tree, path_);
      return key == nullptr ? kErrorKeyDeleted : body(key, modified);
    });
  }

  TreeRegistry& registry_;
  std::wstring path_;
  RegistryAccess access_;
};

}  // namespace

ErrorCode TreeRegistry::OpenKey(std::wstring_view path, RegistryAccess access, std::unique_ptr<RegistryKey>* key) {
  const ErrorCode result = Transact(false, [&](RegistryNode* tree, bool*) {
    return Find(tree, path) == nullptr ? kErrorFileNotFound : kSuccess;
  });
  if (result == kSuccess) *key = std::make_unique<TreeKey>(*this, std::wstring(path), access);
  return result;
}

ErrorCode TreeRegistry::CreateKey(std::wstring_view path, std::unique_ptr<RegistryKey>* key) {
  const std::vector<std::wstring> names = SplitKeyPath(path);
  for (const std::wstring& name : names) {
    if (!IsStorableName(name, true)) return kErrorInvalidParameter;
  }
  const ErrorCode result = Transact(true, [&](RegistryNode* tree, bool* modified) {
    RegistryNode* node = tree;
    for (const std::wstring& name : names) {
      RegistryNode* child = node->FindChild(name);
      if (child == nullptr) {
        child = node->AddChild(name);
        *modified = true;
      }
      node = child;
    }
    return kSuccess;
  });
  if (result == kSuccess) *key = std::make_unique<TreeKey>(*this, std::wstring(path), RegistryAccess::kAll);
  return result;
}

ErrorCode TreeRegistry::DeleteKey(std::wstring_view path) {
  return Transact(true, [&](RegistryNode* tree, bool* modified) {
    std::vector<std::wstring> names = SplitKeyPath(path);
    if (names.empty()) return kErrorAccessDenied;  // the root itself
    RegistryNode* key = Find(tree, path);
    if (key == nullptr) return kErrorFileNotFound;
    if (!key->children.empty()) return kErrorAccessDenied;
    const std::wstring last = names.back();
    names.pop_back();
    RegistryNode* parent = tree;
    for (const std::wstring& name : names) parent = parent->FindChild(name);
    *modified = parent->RemoveChild(last);
    return kSuccess;
  });
}

ErrorCode TreeRegistry::DeleteTree(std::wstring_view path) {
  return Transact(true, [&](RegistryNode* tree, bool* modified) {
    std::vector<std::wstring> names = SplitKeyPath(path);
    if (names.empty()) return kErrorAccessDenied;
    if (Find(tree, path) == nullptr) return kErrorFileNotFound;
    const std::wstring last = names.back();
    names.pop_back();
    RegistryNode* parent = tree;
    for (const std::wstring& name : names) parent = parent->FindChild(name);
    *modified = parent->RemoveChild(last);
    return kSuccess;
  });
}

}  // namespace quillon::platform
