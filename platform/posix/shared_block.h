// A named block of shared memory in /dev/shm that lives like a Windows named object.
//
// Windows frees a named object when its last handle closes; files in /dev/shm stay. To give the
// same lifetime, every process that has a block open holds a shared lock on its file; the last
// one to close it removes the file. Whoever opens a block whose file nobody locks (left by a
// process that died) treats it as new: it is emptied and initialised again, and reported as not
// existing before. A lock file per device ("<prefix>.lock", empty) serialises creation and
// removal, so that two creators never both think they are first; it goes with the device's last
// block.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "platform/errors.h"

namespace quillon::platform::posix {

class SharedBlock {
 public:
  // Opens or creates "<prefix>.<name>" of at least `size` bytes. `initialise` runs on a new
  // (zero-filled) block before any other process can see it.
  static std::unique_ptr<SharedBlock> Open(const std::string& prefix, const std::string& name, std::size_t size,
                                           const std::function<void(void*)>& initialise, ErrorCode* error);
  ~SharedBlock();
  SharedBlock(const SharedBlock&) = delete;
  SharedBlock& operator=(const SharedBlock&) = delete;

  void* Data() const { return data_; }
  std::size_t Size() const { return size_; }
  bool AlreadyExisted() const { return existed_; }

 private:
  SharedBlock(std::string prefix, std::string base, std::string path, int fd, void* data, std::size_t size,
              bool existed)
      : prefix_(std::move(prefix)),
        base_(std::move(base)),
        path_(std::move(path)),
        fd_(fd),
        data_(data),
        size_(size),
        existed_(existed) {}
  std::string prefix_;
  std::string base_;
  std::string path_;
  int fd_;
  void* data_;
  std::size_t size_;
  bool existed_;
};

// Object names become file names: path separators and control characters are replaced.
std::string ObjectFileName(const std::wstring& name);

}  // namespace quillon::platform::posix
