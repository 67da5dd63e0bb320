#include "platform/posix/registry_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/posix/descriptor.h"
#include "platform/posix/power_cut.h"
#include "platform/text.h"

namespace quillon::platform::posix {
ErrorCode RegistryFile::Transact(bool forWriting, const Change& change) {
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
  // The rename itself is on disk only once the folder is.
  if (const Descriptor folder(
          open(std::filesystem::path(path).parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      folder.get() >= 0) {
    (void)fsync(folder.get());
  }
  NotePersistentChange("registry written");
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

}  // namespace quillon::platform::posix
