// Files in memory: path to content, read one byte at a time. A file can be given a second
// content that it shows after its position is set back (a file changed between two passes),
// and reads can be made to fail from the Nth byte on.
#pragma once

#include <map>
#include <string>

#include "platform/files.h"

namespace quillon::testing {

class MemoryFiles final : public platform::Files {
 public:
  struct Entry {
    std::string content;
    std::string afterRewind;  // used once the position was set back, when not empty
    std::size_t failReadAt = std::string::npos;
  };

  void Put(const std::wstring& path, std::string content) {
    entries_[path] = Entry{std::move(content), {}, std::string::npos};
  }
  Entry& At(const std::wstring& path) { return entries_[path]; }
  bool Exists(std::wstring_view path) const { return entries_.find(path) != entries_.end(); }
  int OpenFiles() const { return openFiles_; }

  std::unique_ptr<platform::File> Open(std::wstring_view path, platform::FileMode mode,
                                       platform::ErrorCode* error) override;
  platform::ErrorCode Delete(std::wstring_view path) override {
    return entries_.erase(std::wstring(path)) == 1 ? platform::kSuccess : platform::kErrorFileNotFound;
  }
  platform::ErrorCode Rename(std::wstring_view from, std::wstring_view to) override {
    auto found = entries_.find(from);
    if (found == entries_.end()) return platform::kErrorFileNotFound;
    Entry moved = std::move(found->second);
    entries_.erase(found);
    entries_[std::wstring(to)] = std::move(moved);
    return platform::kSuccess;
  }

 private:
  friend class MemoryFile;
  std::map<std::wstring, Entry, std::less<>> entries_;
  int openFiles_ = 0;
};

class MemoryFile final : public platform::File {
 public:
  MemoryFile(MemoryFiles& owner, MemoryFiles::Entry& entry) : owner_(owner), entry_(entry), content_(&entry.content) {
    ++owner_.openFiles_;
  }
  ~MemoryFile() override { --owner_.openFiles_; }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  platform::ErrorCode ReadByte(std::uint8_t* byte, std::uint32_t* got) override {
    *got = 0;
    if (position_ >= entry_.failReadAt) return platform::kErrorGenFailure;
    if (position_ >= content_->size()) return platform::kSuccess;
    *byte = static_cast<std::uint8_t>((*content_)[position_++]);
    *got = 1;
    return platform::kSuccess;
  }
  platform::ErrorCode SetPosition(std::uint64_t offset) override {
    if (!entry_.afterRewind.empty()) content_ = &entry_.afterRewind;
    position_ = static_cast<std::size_t>(offset);
    return platform::kSuccess;
  }
  platform::ErrorCode Write(std::span<const std::uint8_t> bytes) override {
    entry_.content.append(bytes.begin(), bytes.end());
    return platform::kSuccess;
  }

 private:
  MemoryFiles& owner_;
  MemoryFiles::Entry& entry_;
  const std::string* content_;
  std::size_t position_ = 0;
};

inline std::unique_ptr<platform::File> MemoryFiles::Open(std::wstring_view path, platform::FileMode mode,
                                                         platform::ErrorCode* error) {
  auto found = entries_.find(path);
  if (found == entries_.end()) {
    if (mode == platform::FileMode::kReadExisting) {
      *error = platform::kErrorFileNotFound;
      return nullptr;
    }
    found = entries_.emplace(std::wstring(path), Entry{}).first;
  }
  if (mode == platform::FileMode::kWriteTruncate) found->second.content.clear();
  *error = platform::kSuccess;
  return std::make_unique<MemoryFile>(*this, found->second);
}

}  // namespace quillon::testing
