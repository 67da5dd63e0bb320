#include "platform/posix/shared_block.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/posix/descriptor.h"
#include "platform/posix/device_root.h"
#include "platform/text.h"

namespace quillon::platform::posix {
namespace {

constexpr const char* kShmFolder = "/dev/shm/";

// Takes the device's creation lock. The owner of the device's last block removes the lock file
// with the block; whoever was waiting on the removed file takes the one that is there now.
int TakeCreationLock(const std::string& lockPath, ErrorCode* error) {
  for (;;) {
    Descriptor lock(open(lockPath.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600));
    if (lock.get() < 0 || flock(lock.get(), LOCK_EX) != 0) {
      *error = ErrorFromErrno(errno);
      return -1;
    }
    struct stat held {};
    struct stat named {};
    if (fstat(lock.get(), &held) == 0 && stat(lockPath.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
      return lock.release();
    }
  }
}

// True when no file of the device's blocks is left in the folder (its lock file aside).
bool NoBlockLeft(const std::string& prefix) {
  const std::string blockStart = prefix + ".";
  const std::string lockName = prefix + ".lock";
  DIR* folder = opendir(kShmFolder);
  if (folder == nullptr) return false;
  bool none = true;
  while (const dirent* entry = readdir(folder)) {
    const std::string name = entry->d_name;
    if (name.starts_with(blockStart) && name != lockName) {
      none = false;
      break;
    }
  }
  closedir(folder);
  return none;
}

}  // namespace

std::string ObjectFileName(const std::wstring& name) {
  std::string file = WideToUtf8(name);
  for (char& c : file) {
    if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20) c = '_';
  }
  return file;
}

std::unique_ptr<SharedBlock> SharedBlock::Open(const std::string& prefix, const std::string& name, std::size_t size,
                                               const std::function<void(void*)>& initialise, ErrorCode* error) {
  *error = kSuccess;
  const std::string base = std::string(kShmFolder) + prefix;
  Descriptor creationLock(TakeCreationLock(base + ".lock", error));
  if (creationLock.get() < 0) return nullptr;
  const std::string path = base + "." + name;
  Descriptor file(open(path.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600));
  if (file.get() < 0) {
    *error = ErrorFromErrno(errno);
    return nullptr;
  }
  const bool unused = flock(file.get(), LOCK_EX | LOCK_NB) == 0;
  if (unused) {
    // Nobody holds it: whatever the file contains is left over from processes that ended.
    if (ftruncate(file.get(), 0) != 0 || ftruncate(file.get(), static_cast<off_t>(size)) != 0) {
      *error = ErrorFromErrno(errno);
      return nullptr;
    }
  }
  struct stat info {};
  if (fstat(file.get(), &info) != 0) {
    *error = ErrorFromErrno(errno);
    return nullptr;
  }
  const auto mappedSize = static_cast<std::size_t>(info.st_size);
  if (mappedSize < size) {
    *error = kErrorInvalidParameter;
    return nullptr;
  }
  void* data = mmap(nullptr, mappedSize, PROT_READ | PROT_WRITE, MAP_SHARED, file.get(), 0);
  if (data == MAP_FAILED) {
    *error = ErrorFromErrno(errno);
    return nullptr;
  }
  if (unused && initialise) initialise(data);
  // Downgrade (or take) the shared lock that marks the block as in use. The creation lock keeps
  // other creators out while a downgrade briefly drops the lock.
  if (flock(file.get(), LOCK_SH) != 0) {
    *error = ErrorFromErrno(errno);
    munmap(data, mappedSize);
    return nullptr;
  }
  return std::unique_ptr<SharedBlock>(new SharedBlock(prefix, base, path, file.release(), data, mappedSize, !unused));
}

SharedBlock::~SharedBlock() {
  munmap(data_, size_);
  ErrorCode error = kSuccess;
  Descriptor creationLock(TakeCreationLock(base_ + ".lock", &error));
  if (creationLock.get() >= 0 && flock(fd_, LOCK_EX | LOCK_NB) == 0) {
    unlink(path_.c_str());  // nobody else holds it: the object ends here
    // The device's last object takes the lock file with it, as a Windows object leaves nothing.
    if (NoBlockLeft(prefix_)) unlink((base_ + ".lock").c_str());
  }
  close(fd_);
}

}  // namespace quillon::platform::posix
