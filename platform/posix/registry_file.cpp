#include "platform/posix/registry_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/text.h"

namespace quillon::platform::posix {
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

// A key handle: the key's path and the rights it was opened with. Every call reads the file
// afresh, so that changes by other programs are seen; a key deleted meanwhile fails.
class FileKey final : public RegistryKey {
 public:
  FileKey(RegistryFile& file, std::wstring path, RegistryAccess access)
      : file_(file), path_(std::move(path)), access_(access) {}

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

  // Every change is on disk when its call returns.
  ErrorCode Flush() override {
    return Read([](RegistryNode*) { return kSuccess; });
  }

 private:
  template <typename Body>
  ErrorCode Read(Body body) {
    return file_.Transact(false, [&](RegistryNode* tree, bool*) {
      RegistryNode* key = Find(tree, path_);
      return key == nullptr ? kErrorKeyDeleted : body(key);
    });
  }

  template <typename Body>
  ErrorCode Write(Body body) {
    if (access_ != RegistryAccess::kAll) return kErrorAccessDenied;
    return file_.Transact(true, [&](RegistryNode* tree, bool* modified) {
      RegistryNode* key = Find(tree, path_);
      return key == nullptr ? kErrorKeyDeleted : body(key, modified);
    });
  }

  RegistryFile& file_;
  std::wstring path_;
  RegistryAccess access_;
};

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

ErrorCode RegistryFile::Transact(bool forWriting, const std::function<ErrorCode(RegistryNode*, bool*)>& change) {
  int lockFd = -1;
  if (const ErrorCode locked = Lock(forWriting, &lockFd); locked != kSuccess) return locked;
  Descriptor lock(lockFd);
  RegistryNode tree;
  if (const ErrorCode loaded = Load(&tree); loaded != kSuccess) return loaded;
  bool modified = false;
  const ErrorCode result = change(&tree, &modified);
  if (result != kSuccess || !forWriting || !modified) return result;
  return Store(tree);
}

ErrorCode RegistryFile::Lock(bool exclusive, int* lockFd) {
  if (const ErrorCode rootError = root_.Ensure(); rootError != kSuccess) {
    NoteProblem("the device root " + root_.Path() + " does not exist");
    return rootError;
  }
  const int fd = open((root_.Path() + "/registry.lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
  if (fd < 0) return ErrorFromErrno(errno);
  while (flock(fd, exclusive ? LOCK_EX : LOCK_SH) != 0) {
    if (errno != EINTR) {
      const int error = errno;
      close(fd);
      return ErrorFromErrno(error);
    }
  }
  *lockFd = fd;
  return kSuccess;
}

ErrorCode RegistryFile::Load(RegistryNode* tree) {
  const std::string path = FilePath();
  Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) {
    if (errno == ENOENT) return kSuccess;  // a device whose registry is still empty
    return ErrorFromErrno(errno);
  }
  std::string text;
  char block[65536];
  for (;;) {
    const ssize_t count = read(file.get(), block, sizeof block);
    if (count < 0) {
      if (errno == EINTR) continue;
      return ErrorFromErrno(errno);
    }
    if (count == 0) break;
    text.append(block, static_cast<std::size_t>(count));
  }
  RegistryParseError error;
  if (!ParseRegistry(text, tree, &error)) {
    NoteProblem(path + " line " + std::to_string(error.line) + ": " + error.reason);
    return kErrorBadDatabase;
  }
  return kSuccess;
}

ErrorCode RegistryFile::Store(const RegistryNode& tree) {
  const std::string path = FilePath();
  const std::string temporary = path + ".new";  // only the lock holder writes it
  const std::string text = SerializeRegistry(tree);
  Descriptor file(open(temporary.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644));
  if (file.get() < 0) return ErrorFromErrno(errno);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t count = write(file.get(), text.data() + done, text.size() - done);
    if (count < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      unlink(temporary.c_str());
      return ErrorFromErrno(error);
    }
    done += static_cast<std::size_t>(count);
  }
  if (fsync(file.get()) != 0 || rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    unlink(temporary.c_str());
    return ErrorFromErrno(error);
  }
  return kSuccess;
}

void RegistryFile::NoteProblem(std::string problem) {
  std::lock_guard<std::mutex> hold(problemLock_);
  if (problem == problem_ && problemReported_) return;
  problem_ = std::move(problem);
  // Said once per problem: programs that only see result codes still tell the user what to mend.
  std::fprintf(stderr, "registry: %s\n", problem_.c_str());
  problemReported_ = true;
}

std::string RegistryFile::Problem() const {
  std::lock_guard<std::mutex> hold(problemLock_);
  return problem_;
}

ErrorCode RegistryFile::OpenKey(std::wstring_view path, RegistryAccess access, std::unique_ptr<RegistryKey>* key) {
  const ErrorCode result = Transact(false, [&](RegistryNode* tree, bool*) {
    return Find(tree, path) == nullptr ? kErrorFileNotFound : kSuccess;
  });
  if (result == kSuccess) *key = std::make_unique<FileKey>(*this, std::wstring(path), access);
  return result;
}

ErrorCode RegistryFile::CreateKey(std::wstring_view path, std::unique_ptr<RegistryKey>* key) {
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
  if (result == kSuccess) *key = std::make_unique<FileKey>(*this, std::wstring(path), RegistryAccess::kAll);
  return result;
}

ErrorCode RegistryFile::DeleteKey(std::wstring_view path) {
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

ErrorCode RegistryFile::DeleteTree(std::wstring_view path) {
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

}  // namespace quillon::platform::posix
